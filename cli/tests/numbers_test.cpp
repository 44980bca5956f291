// render --data and probe: the .npy file's bytes as NumPy reads them, and the probe against them.
#include "cli.h"
#include "clirun.h"

#include "antialias.h"
#include "exactview.h"
#include "fractalscript.h"
#include "view.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// A .npy file's records, read from its bytes as NumPy's format 1.0 lays them out.
struct NpyFile {
    std::string header; // the dict, padding and line feed included
    size_t dataStart { 0 };
    std::vector<std::int64_t> n;
    std::vector<Complex> z;
};

bool ReadNpy(const std::string& path, NpyFile& npy)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 10 || !bytes.startsWith(QByteArray("\x93NUMPY\x01\x00", 8))) {
        return false;
    }
    const size_t length = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
    npy.header = bytes.mid(10, static_cast<qsizetype>(length)).toStdString();
    npy.dataStart = 10 + length;
    for (size_t at = npy.dataStart; at + 24 <= static_cast<size_t>(bytes.size()); at += 24) {
        std::int64_t count = 0;
        double parts[2];
        std::memcpy(&count, bytes.constData() + at, 8); // the test machine is little-endian, as '<' says
        std::memcpy(parts, bytes.constData() + at + 8, 16);
        npy.n.push_back(count);
        npy.z.push_back({ parts[0], parts[1] });
    }
    return (static_cast<size_t>(bytes.size()) - npy.dataStart) % 24 == 0;
}

QJsonObject Probe(const std::vector<std::string>& args)
{
    const Outcome outcome = Cli(args);
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_TRUE(outcome.out.ends_with("}\n")) << outcome.out;
    return QJsonDocument::fromJson(QByteArray::fromStdString(outcome.out)).object();
}

class Numbers : public testing::Test {
protected:
    std::string Path(const char* name) const
    {
        return m_dir.filePath(QString::fromLatin1(name)).toStdString();
    }
    QTemporaryDir m_dir;
};

} // namespace

// The file NumPy reads: its header, shape and dtype; row 0 the top row; every pixel's numbers those of
// the scalar renderer (an independent route) for the same picture. probe at a pixel's centre prints
// the same numbers, to the bit.
TEST_F(Numbers, DataFileAndProbeOfShallowPixels)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    ASSERT_EQ(Cli({ "set", Path("a.gsc"), "--const", "C=-0.1,0.1", "--center", "0.1,0.2", "--iterations",
                      "20000", "-o", Path("b.gsc") })
                  .code,
        0);
    const Outcome rendered = Cli({ "render", Path("b.gsc"), "-o", Path("b.png"), "--size", "40x30", "--data",
        Path("b.npy"), "--quiet" });
    ASSERT_EQ(rendered.code, 0) << rendered.err;
    NpyFile npy;
    ASSERT_TRUE(ReadNpy(Path("b.npy"), npy));
    const std::string dict
        = "{'descr': [('n', '<i8'), ('z', '<c16')], 'fortran_order': False, 'shape': (30, 40), }";
    EXPECT_EQ(npy.header.substr(0, dict.size()), dict);
    EXPECT_EQ(npy.header.find_first_not_of(' ', dict.size()), npy.header.size() - 1);
    EXPECT_EQ(npy.header.back(), '\n');
    EXPECT_EQ(npy.dataStart % 64, 0u);
    ASSERT_EQ(npy.n.size(), 30u * 40u);

    CFractalScript script;
    ASSERT_TRUE(script.Load(QString::fromStdString(Path("b.gsc"))));
    Picture picture = script.TakeSnapshot();
    ShowAtSize(picture, 40, 30);
    PixelTable table;
    table.Resize(40, 30);
    const PixelData sink = table.Sink();
    RenderArea area { 0, 0, 40, 30, 1.0, 1.0, 1, 1 };
    area.data = &sink;
    QImage image(40, 30, QImage::Format_RGB32);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CRenderPool pool;
    ASSERT_EQ(
        RenderPictureScalar(picture, { 40, 30, static_cast<int>(image.bytesPerLine()), 32, image.bits() },
            area, { stage, 0, stop, progress, pool }),
        kRenderDone);
    EXPECT_EQ(npy.n, table.counts);
    EXPECT_EQ(std::memcmp(npy.z.data(), table.lasts.data(), npy.z.size() * sizeof(Complex)), 0);
    EXPECT_EQ(*std::max_element(npy.n.begin(), npy.n.end()), 20000) << "counts above 10000 survive";

    const View view { picture.view.offsetX, picture.view.offsetY, picture.view.ratio };
    const std::vector<double> xs = View::LatticeLine(0, 40, 1, 1.0, view.Step(40, 1.0, 40), view.offsetX);
    const std::vector<double> ys = View::LatticeLine(0, 30, 1, 1.0, view.Step(30, 1.0, 30), view.offsetY);
    for (const auto& [c, r] :
        { std::pair { 0, 0 }, std::pair { 39, 0 }, std::pair { 17, 29 }, std::pair { 20, 15 } }) {
        char at[64];
        std::snprintf(at, sizeof at, "%.17g,%.17g", xs[c], ys[r]);
        const QJsonObject probe = Probe({ "probe", Path("b.gsc"), "--size", "40x30", "--at", at });
        const size_t k = static_cast<size_t>(r) * 40 + static_cast<size_t>(c);
        EXPECT_EQ(probe["n"].toInteger(), npy.n[k]) << at;
        EXPECT_EQ(probe["z"].toArray()[0].toDouble(), npy.z[k].re) << at;
        EXPECT_EQ(probe["z"].toArray()[1].toDouble(), npy.z[k].im) << at;
        EXPECT_EQ(probe["limit"].toInteger(), 20000);
        EXPECT_EQ(probe["path"].toString(), QStringLiteral("doubles"));
    }
}

// A picture that reads the derivative: the file adds dz and de, and probe prints the same numbers.
TEST_F(Numbers, DerivativeFieldsAndProbe)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    ASSERT_EQ(Cli({ "render", Path("a.gsc"), "-o", Path("a.png"), "--size", "20x16", "--data", Path("a.npy"),
                      "--quiet", "--formula", "colour=V_de / 100" })
                  .code,
        0);
    QFile file(QString::fromStdString(Path("a.npy")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const std::string dict = "{'descr': [('n', '<i8'), ('z', '<c16'), ('dz', '<c16'), ('de', '<f8')],";
    ASSERT_EQ(bytes.mid(10, static_cast<qsizetype>(dict.size())).toStdString(), dict);
    const qsizetype start = bytes.size() - 320 * 48;
    ASSERT_EQ(start % 64, 0);
    CFractalScript script;
    ASSERT_TRUE(script.Load(QString::fromStdString(Path("a.gsc"))));
    Picture picture = script.TakeSnapshot();
    ShowAtSize(picture, 20, 16);
    const View view { picture.view.offsetX, picture.view.offsetY, picture.view.ratio };
    const double x = View::LatticeLine(0, 20, 1, 1.0, view.Step(20, 1.0, 20), view.offsetX)[13];
    const double y = View::LatticeLine(0, 16, 1, 1.0, view.Step(16, 1.0, 16), view.offsetY)[2];
    char at[64];
    std::snprintf(at, sizeof at, "%.17g,%.17g", x, y);
    const QJsonObject probe
        = Probe({ "probe", Path("a.gsc"), "--size", "20x16", "--at", at, "--formula", "colour=V_de / 100" });
    double record[6];
    std::memcpy(record, bytes.constData() + start + (2 * 20 + 13) * 48, sizeof record);
    EXPECT_EQ(probe["dz"].toArray()[0].toDouble(), record[3]);
    EXPECT_EQ(probe["dz"].toArray()[1].toDouble(), record[4]);
    EXPECT_EQ(probe["de"].toDouble(), record[5]);
    EXPECT_GT(std::hypot(record[3], record[4]), 1.0) << "an escaping pixel's derivative grows";
}

// A deep view: probe at a pixel's centre takes the deep renderer's path and gives the pixel's count.
TEST_F(Numbers, ProbeOfADeepPixel)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    ASSERT_EQ(Cli({ "set", Path("a.gsc"), "--formula", "iteration=z = z * z + z0;", "--center", "0,1",
                      "--width", "1e-30", "--iterations", "2000", "-o", Path("deep.gsc") })
                  .code,
        0);
    ASSERT_EQ(Cli({ "render", Path("deep.gsc"), "-o", Path("deep.png"), "--size", "16x16", "--data",
                      Path("deep.npy"), "--quiet" })
                  .code,
        0);
    NpyFile npy;
    ASSERT_TRUE(ReadNpy(Path("deep.npy"), npy));
    ASSERT_EQ(npy.n.size(), 256u);
    CFractalScript script;
    ASSERT_TRUE(script.Load(QString::fromStdString(Path("deep.gsc"))));
    Picture picture = script.TakeSnapshot();
    ShowAtSize(picture, 16, 16);
    const PreciseView view = PreciseViewOf(picture, 256);
    const int c = 5;
    const int r = 11;
    const std::string at = ShortestText(view.offsetX + view.ratio * (c + 0.5)) + ","
        + ShortestText(view.offsetY + view.ratio * (r + 0.5));
    const QJsonObject probe = Probe({ "probe", Path("deep.gsc"), "--size", "16x16", "--at", at });
    EXPECT_EQ(probe["path"].toString(), QStringLiteral("perturbation"));
    EXPECT_EQ(probe["n"].toInteger(), npy.n[static_cast<size_t>(r) * 16 + c]) << at;
    const Complex z = npy.z[static_cast<size_t>(r) * 16 + c];
    EXPECT_NEAR(probe["z"].toArray()[0].toDouble(), z.re, 1e-9 * std::hypot(z.re, z.im));
}

TEST_F(Numbers, UsageErrors)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        { { "render", Path("a.gsc"), Path("a.gsc"), "-o", Path("out/"), "--data", Path("x.npy") }, 2,
            "'--data' goes with one script" },
        { { "render", Path("a.gsc"), "-o", Path("a.png"), "--data", "-" }, 2, "'--data' needs a file name" },
        { { "render", Path("a.gsc"), "-o", Path("a.png"), "--data", Path("a.png") }, 2,
            "'--data' needs another file than the picture" },
        { { "render", Path("a.gsc"), "-o", Path("a.png"), "--data", Path("no/x.npy") }, 1, "cannot write" },
        { { "probe", Path("a.gsc") }, 2, "missing '--at RE,IM'" },
        { { "probe", Path("a.gsc"), "--at", "1" }, 2, "'--at' needs RE,IM, not '1'" },
        { { "probe", Path("a.gsc"), "--at", "1,inf" }, 2, "'--at' needs a number, not 'inf'" },
    };
    for (const auto& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, row.code) << row.err;
        EXPECT_NE(outcome.err.find(row.err), std::string::npos) << outcome.err;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("a.png")))) << "refused before the render";
}
