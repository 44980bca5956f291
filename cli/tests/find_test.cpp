// find: what it prints for each kind of feature, and how it refuses.
#include "cli.h"
#include "clirun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

class Find : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Cli({ "new", "-o", Path("julia.gsc") }).code, 0);
        ASSERT_EQ(
            Cli({ "set", Path("julia.gsc"), "--formula", "iteration=z = z * z + z0;", "-o", Path("m.gsc") })
                .code,
            0);
    }
    std::string Path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)).toStdString(); }

private:
    QTemporaryDir m_dir;
};

} // namespace

// The JSON line of each kind: a nucleus, a Misiurewicz point (with its preperiod) and a periodic point
// of a formula without z0 in the script's own view; its centre and width frame the point.
TEST_F(Find, PrintsTheFeatureAsOneJsonLine)
{
    struct Row {
        std::vector<std::string> args;
        int period, preperiod;
        double re, im, width;
    };
    const Row rows[] = {
        { { "find", Path("m.gsc"), "--near", "-1.75,0.01", "--width", "0.1", "--json" }, 3, 0,
            -1.7548776662466927, 0, 0.09518 },
        { { "find", Path("m.gsc"), "--near", "0.01,0.99", "--width", "0.1", "--misiurewicz", "--json" }, 2, 1,
            0, 1, 2.236 },
        { { "find", Path("julia.gsc"), "--json" }, 1, 0, -0.5175620435312877, -0.07370557940597351, 2.45 },
        // The changes apply first: the formula and view of the first row, given as changes.
        { { "find", Path("julia.gsc"), "--formula", "iteration=z = z * z + z0;", "--center", "-1.75,0.01",
              "--width", "0.1", "--json" },
            3, 0, -1.7548776662466927, 0, 0.09518 },
    };
    for (const Row& row : rows) {
        const Outcome outcome = Cli(row.args);
        ASSERT_EQ(outcome.code, 0) << row.args[2] << outcome.err;
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(outcome.out)).object();
        EXPECT_EQ(json["period"].toInt(), row.period) << row.args[2];
        EXPECT_EQ(json.contains("preperiod"), row.preperiod > 0) << row.args[2];
        EXPECT_EQ(json["preperiod"].toInt(), row.preperiod) << row.args[2];
        EXPECT_NEAR(json["re"].toString().toDouble(), row.re, 1e-12) << row.args[2];
        EXPECT_NEAR(json["im"].toString().toDouble(), row.im, 1e-12) << row.args[2];
        EXPECT_EQ(json["center"].toString(), json["re"].toString() + "," + json["im"].toString())
            << row.args[2];
        EXPECT_NEAR(json["width"].toString().toDouble(), row.width, 1e-3) << row.args[2];
    }
}

TEST_F(Find, RefusesBadInputAndSaysWhenNothingIsThere)
{
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        { { "find" }, 2, "missing SCRIPT" },
        { { "find", Path("m.gsc"), "--near", "1" }, 2, "'--near' needs RE,IM, not '1'" },
        { { "find", Path("m.gsc"), "--width", "0" }, 2, "'--width' needs a number above 0, not '0'" },
        { { "find", Path("m.gsc"), "--max-period", "1e3" }, 2,
            "'--max-period' needs a whole number from 1 to 1000000" },
        { { "find", Path("none.gsc") }, 1, "none.gsc" },
        { { "find", Path("m.gsc"), "--const", "D=1" }, 2, "no constant named 'D'" },
        { { "find", Path("m.gsc"), "--formula", "iteration=z = z *;" }, 1, "迭代公式错误:缺少数据" },
        { { "find", Path("m.gsc"), "--near", "1,1", "--width", "0.1" }, 1,
            "no feature of period up to 10000 in the view" },
        { { "find", Path("m.gsc"), "--near", "-1.75,0.01", "--width", "0.1", "--max-period", "2" }, 1,
            "no feature of period up to 2 in the view" },
    };
    for (const auto& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, row.code) << row.err;
        EXPECT_NE(outcome.err.find(row.err), std::string::npos) << outcome.err;
        EXPECT_TRUE(outcome.out.empty()) << row.err;
    }
}
