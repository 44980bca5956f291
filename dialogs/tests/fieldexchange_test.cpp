#include "fieldexchange.h"
#include "fakeservices.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(FieldExchange, ReadStopsAtTheFirstBadField)
{
    QDialog dialog;
    CFakeServices services;
    auto* text = new QPlainTextEdit(&dialog);
    auto* count = new QLineEdit(&dialog);
    auto* sine = new QLineEdit(&dialog);
    auto* stretch = new QLineEdit(&dialog);
    auto* box = new QCheckBox(&dialog);
    const struct {
        const char* count;
        const char* sine;
        const char* stretch;
        const char* message; // nullptr: the read succeeds
        int read;            // how many fields took their values
    } rows[] = {
        { "4096", "-1", "100000000", nullptr, 5 },
        { "0", "1", "0", nullptr, 5 },
        { "4097", "0", "1", "Please enter an integer between 0 and 4096.", 1 },
        { "-1", "0", "1", "Please enter an integer between 0 and 4096.", 1 },
        { "x", "0", "1", "Please enter an integer.", 1 },
        { "5", "1.5", "1", "Please enter a number between -1 and 1.", 2 },
        { "5", "abc", "1", "Please enter a number.", 2 },
        { "5", "0", "100000001", "Please enter a number between 0 and 100000000.", 3 },
    };
    for (const auto& row : rows) {
        text->setPlainText(QStringLiteral("z = z * z;"));
        count->setText(QString::fromLatin1(row.count));
        sine->setText(QString::fromLatin1(row.sine));
        stretch->setText(QString::fromLatin1(row.stretch));
        box->setChecked(true);
        QString formula;
        int iterations = -7;
        double sin = -7;
        double factor = -7;
        int reverse = -7;
        services.messages.clear();
        CFieldExchange dx(&dialog, services, CFieldExchange::Direction::Read);
        const bool ok = dx.Text(text, formula) && dx.Integer(count, iterations, 0, 4096)
            && dx.Number(sine, sin, -1, 1) && dx.Number(stretch, factor, 0, 100000000)
            && dx.Check(box, reverse);
        EXPECT_EQ(ok, row.message == nullptr) << row.count << ' ' << row.sine << ' ' << row.stretch;
        EXPECT_EQ(dx.Ok(), ok);
        if (row.message) {
            ASSERT_EQ(services.messages.size(), 1u) << "one message, then nothing more is read";
            EXPECT_EQ(services.Last(), QString::fromLatin1(row.message));
            EXPECT_EQ(services.messages.back().icon, MessageIcon::Exclamation);
        }
        EXPECT_EQ(formula, QStringLiteral("z = z * z;"));
        EXPECT_EQ(iterations != -7, row.read > 1) << row.count;
        EXPECT_EQ(sin != -7, row.read > 2) << row.sine;
        EXPECT_EQ(factor != -7, row.read > 3) << row.stretch;
        EXPECT_EQ(reverse == 1, row.read > 4);
    }
}

} // namespace
