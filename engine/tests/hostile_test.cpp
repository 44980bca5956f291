// Hostile and broken input through the program's own paths: formulas, script files, palette images,
// exports and saves. Every case ends with a clear outcome, no crash, and nothing lost.
#include "fractalscript.h"
#include "hostilepalettes.h"
#include "testutil.h"
#include "watermarkfile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringEncoder>

#include <chrono>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

namespace {

QString TestData(const char* name)
{
    return QDir(QString::fromUtf8(ENGINE_TEST_DATA)).filePath(QString::fromUtf8(name));
}

TEST(Hostile, Formulas)
{
    CFormula formula;
    std::string message;
    // Every byte value, alone and amid a formula.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string alone(1, static_cast<char>(byte));
        const int code = formula.Compile(alone, message);
        EXPECT_TRUE(code >= 0 && code <= 10) << byte;
        EXPECT_TRUE(formula.Verify()) << byte;
        const int amid = formula.Compile("z = z * z" + alone + "+ C;", message);
        EXPECT_TRUE(amid >= 0 && amid <= 10) << byte;
    }
    const struct {
        const char* name;
        std::string text;
        int code;
    } rows[] = {
        { "1 MB of blanks", std::string(1 << 20, ' '), 10 },
        { "1 MB of sums",
            [] {
                std::string s;
                while (s.size() < (1 << 20)) {
                    s += "z+";
                }
                return s;
            }(),
            1 },
        { "10000 nested parentheses", std::string(10000, '(') + "z" + std::string(10000, ')'), 1 },
        { "a 1 MB name", std::string(1 << 20, 'a').insert(0, 1, 'z'), 0 },
        { "a 10000-character constant", std::string(10000, 'x').insert(0, "z = z * C").append(";"), 0 },
    };
    for (const auto& row : rows) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(formula.Compile(row.text, message), row.code) << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.name;
        EXPECT_TRUE(formula.Verify()) << row.name;
    }
}

class HostileFiles : public testing::Test {
protected:
    QString Path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }
    QString Write(const char* name, const QByteArray& bytes)
    {
        EXPECT_TRUE(WriteAll(Path(name), bytes));
        return Path(name);
    }
    QByteArray DefaultScript()
    {
        CFractalScript script;
        script.SetDefaults();
        EXPECT_TRUE(script.Save(Path("default.gsc")));
        return ReadAll(Path("default.gsc"));
    }
    QTemporaryDir m_dir;
};

TEST_F(HostileFiles, ScriptFiles)
{
    const QByteArray good = DefaultScript();
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>((i * 7919 + 13) & 0xff);
    }
    QByteArray withNul = good;
    withNul.replace("z * z + C", QByteArray("z * z\0+ C", 9));
    QByteArray numbers = good;
    numbers.replace("1024, 1024", "-5, 99999999999")
        .replace("{256}", "{-7}")
        .replace("{-1.000000, -1.000000}", "{1e400, nan}");
    numbers.replace("0.001953125", "-0");
    QByteArray duplicated = good + "\r\n" + good;
    duplicated.replace(good.size() + 2, good.size(), QByteArray(good).replace("z * z + C", "z * z * z + C"));
    QByteArray badInValue = good;
    badInValue.replace("z * z + C", "z * z \x81\x30 + C \xc3\x28");
    QByteArray badUtf8 = good;
    badUtf8.append("\xff\xfe\xc3\x28 trailing bytes that are neither UTF-8 nor GB18030\x81\x30");
    QByteArray constants = good;
    for (int n = 1; n <= 101; ++n) {
        constants += QStringLiteral(u"常量%1{C=%2, 0}\r\n").arg(n, 2, 10, QLatin1Char('0')).arg(n).toUtf8();
    }

    const struct {
        const char* name;
        QByteArray bytes;
        const char* message; // nullptr: loads
    } rows[] = {
        { "empty", {}, "版本不正确" },
        { "binary garbage", garbage, "版本不正确" },
        { "a NUL byte inside the formula", withNul, "迭代公式错误:非法字符" },
        { "1e400, nan, -0, huge and negative sizes and limits", numbers, nullptr },
        { "duplicated keys: the first counts", duplicated, nullptr },
        { "invalid UTF-8 and GB18030 after the items", badUtf8, nullptr },
        { "invalid UTF-8 and GB18030 inside the formula", badInValue, "迭代公式错误:非法字符" },
        { "101 constant lines", constants, nullptr },
    };
    for (const auto& row : rows) {
        CFractalScript script;
        const bool loaded = script.Load(Write("hostile.gsc", row.bytes));
        EXPECT_EQ(loaded, row.message == nullptr) << row.name << ": " << script.GetLastError();
        if (row.message) {
            EXPECT_EQ(script.GetLastError(), row.message) << row.name;
        }
    }

    CFractalScript clamped;
    ASSERT_TRUE(clamped.Load(Write("numbers.gsc", numbers)));
    EXPECT_EQ(clamped.GetImageWidth(), 100);
    EXPECT_EQ(clamped.GetImageHeight(), 4096);
    EXPECT_EQ(clamped.GetMaxIter(), 1);
    EXPECT_TRUE(std::isinf(clamped.GetOffsetX()));
    EXPECT_TRUE(std::isnan(clamped.GetOffsetY()));
    // Such a view still renders, to some colour, without a fault.
    QImage target(64, 64, QImage::Format_RGB32);
    EXPECT_EQ(clamped.Render(RasterOf(target), 0, 0, 64, 64, 1, 1, 1, 1), 0);
    CFractalScript first;
    ASSERT_TRUE(first.Load(Write("duplicated.gsc", duplicated)));
    EXPECT_EQ(first.GetIterFormula().GetText(), "z = z * z + C;");

    // Truncated at every byte: each prefix fails with one of the reader's messages or loads.
    for (int length = 0; length < good.size(); ++length) {
        CFractalScript script;
        if (!script.Load(Write("prefix.gsc", good.left(length)))) {
            EXPECT_FALSE(script.GetLastError().empty()) << length;
        }
    }
}

TEST_F(HostileFiles, LargeAndSpecialScriptFiles)
{
    // 50 MB: read and refused for its version in reasonable time, without a fault.
    QByteArray big(50 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    CFractalScript script;
    EXPECT_FALSE(script.Load(Write("big.gsc", big)));
    EXPECT_EQ(script.GetLastError(), "版本不正确");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    big.clear();

    // Things that are not files must not block or read without end.
    for (const char* path : { "/dev/zero", "/dev/stdin", "/dev/null", "/" }) {
        CFractalScript special;
        EXPECT_FALSE(special.Load(QString::fromLatin1(path))) << path;
        EXPECT_EQ(special.GetLastError(), "打开文件失败") << path;
    }
    // Beyond the size of any script: refused before it is read.
    QFile huge(Path("huge.gsc"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(qint64 { 65 } << 20));
    huge.close();
    CFractalScript tooBig;
    EXPECT_FALSE(tooBig.Load(Path("huge.gsc")));
    EXPECT_EQ(tooBig.GetLastError(), "打开文件失败");
}

TEST_F(HostileFiles, PaletteImages)
{
    QImage rgb(4, 4, QImage::Format_RGB32);
    rgb.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(rgb.save(Path("good.png")));
    ASSERT_TRUE(rgb.save(Path("good.jpg")));
    const QByteArray png = ReadAll(Path("good.png"));
    const QByteArray jpg = ReadAll(Path("good.jpg"));
    QImage grey(3, 3, QImage::Format_Grayscale8);
    grey.fill(99);
    ASSERT_TRUE(grey.save(Path("grey.png")));
    QImage indexed(3, 3, QImage::Format_Indexed8);
    indexed.setColorTable({ qRgb(1, 2, 3) });
    indexed.fill(0);
    ASSERT_TRUE(indexed.save(Path("indexed.png")));
    QImage alpha(3, 3, QImage::Format_ARGB32);
    alpha.fill(qRgba(200, 100, 50, 10));
    ASSERT_TRUE(alpha.save(Path("alpha.png")));
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(qRgb(7, 8, 9));
    ASSERT_TRUE(one.save(Path("one.png")));

    const struct {
        const char* name;
        QString path;
        bool loads;
    } rows[] = {
        { "not an image", Write("text.png", "just some text"), false },
        { "truncated PNG", Write("cut.png", png.left(png.size() / 2)), false },
        { "truncated JPEG", Write("cut.jpg", jpg.left(jpg.size() / 2)), false },
        { "1 x 1", Path("one.png"), true },
        { "16-bit", TestData("deep16.png"), true },
        { "grey", Path("grey.png"), true },
        { "indexed", Path("indexed.png"), true },
        { "with alpha", Path("alpha.png"), true },
        { "CMYK JPEG", TestData("cmyk.jpg"), true },
        { "animated GIF", TestData("animated.gif"), true },
        { "a folder", m_dir.path(), false },
        { "a device", QStringLiteral("/dev/zero"), false },
    };
    for (const auto& row : rows) {
        CFractalScript script;
        ASSERT_TRUE(script.LoadPalette(QString()));
        script.SetMapping(0.5, 0, 1, 1, 0, 1, 1);
        const bool loaded = script.LoadPalette(row.path, PaletteFallback::None);
        if (row.loads) {
            EXPECT_TRUE(loaded) << row.name;
            EXPECT_GT(script.GetPaletteWidth(), 0) << row.name;
        } else {
            EXPECT_FALSE(loaded) << row.name;
            EXPECT_EQ(script.GetPaletteWidth(), 1000) << "the old palette stays: " << row.name;
            EXPECT_EQ(script.GetMapping().x0, 0.5) << row.name;
        }
    }
    CFractalScript single;
    ASSERT_TRUE(single.LoadPalette(Path("one.png"), PaletteFallback::None));
    single.SetDefaults();
    QImage picture(32, 32, QImage::Format_RGB32);
    ASSERT_EQ(single.Render(RasterOf(picture), 0, 0, 32, 32, 1, 1, 1, 1), 0);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            ASSERT_EQ(picture.pixel(x, y), qRgb(7, 8, 9)) << "a 1 x 1 palette makes one colour";
        }
    }
}

TEST_F(HostileFiles, HostilePalettes)
{
    QImage small(3, 2, QImage::Format_RGB32);
    small.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(small.save(Path("tiff.tif")));
    ASSERT_TRUE(small.save(Path("small.png")));
    const QByteArray png = ReadAll(Path("small.png"));
    QByteArray gifScreen("GIF89a\xff\xff\xff\xff\x00\x00\x00,\0\0\0\0\1\0\1\0\0\2\2D\1\0;", 27);
    // The fuzz input that found it: the picture allocated is the screen, not the frame Qt reports.
    const QByteArray tallScreen = QByteArray::fromHex(
        "474946383961440 1fffbf10400ff008000fd3900003bffffff2c000000000004000100000000000000"
        "7c01ff62c00200003b");
    // Width times height times 4 is beyond 2^63.
    const QByteArray wide = png.left(16) + QByteArray::fromHex("9c6360606000000008020000") + png.mid(28);
    const std::atomic<bool> cancelled { true };
    using std::chrono::hours;
    using std::chrono::milliseconds;

    const struct {
        const char* name;
        QString path;
        PaletteDecodeLimits limits;
        bool loads;
        const char* reason; // part of the reason when it does not load
    } rows[] = {
        { "MNG with a 32768 x 32768 image in a 3 x 2 frame", Write("mng.png", hostile::MngBadFrame()), {},
            false, "not a PNG, JPEG, BMP or GIF image" },
        { "PNG chunk declaring 0x7fffffff bytes", Write("chunk.png", hostile::HugeChunkPng()), {}, false,
            "longer than the rest of the file" },
        { "progressive JPEG with a repeated scan, out of time",
            Write("scans.jpg", hostile::RepeatedScanJpeg(256, 50)), { milliseconds(0), nullptr }, false,
            "took longer than" },
        { "the same JPEG given time", Path("scans.jpg"), { hours(1), nullptr }, true, "" },
        { "PNG declaring 2623758432 x 1610612736", Write("wide.png", wide), {}, false, "image too large" },
        { "a cancelled decode", Path("small.png"), { hours(1), &cancelled }, false, "cancelled" },
        { "a picture over a smaller budget", Path("small.png"), { kPaletteDecodeTimeout, nullptr, 23 }, false,
            "image too large (3 x 2)" },
        { "compressed text inflating to 64 MiB", Write("ztxt.png", hostile::ZtxtBombPng(64 << 20)), {}, true,
            "" },
        { "GIF screen of 65535 x 65535", Write("screen.gif", gifScreen), {}, false, "" },
        { "GIF screen of 324 x 64511 around a small frame", Write("tall.gif", tallScreen),
            { kPaletteDecodeTimeout, nullptr, 16 << 20 }, false, "image too large (324 x 64511)" },
        { "TIFF", Path("tiff.tif"), {}, false, "not a PNG, JPEG, BMP or GIF image" },
        { "PNG named .gif", Write("png.gif", png), {}, true, "" },
        { "empty file", Write("empty.png", {}), {}, false, "not a PNG" },
    };
    for (const auto& row : rows) {
        QString reason;
        const QImage image = DecodePalette(row.path, &reason, row.limits);
        EXPECT_EQ(!image.isNull(), row.loads) << row.name << ": " << reason.toStdString();
        EXPECT_TRUE(reason.contains(QString::fromUtf8(row.reason)))
            << row.name << ": " << reason.toStdString();
        if (row.limits.cancel == nullptr && row.limits.timeout == kPaletteDecodeTimeout
            && row.limits.memoryBudget == kPaletteMemoryBudget) {
            // Named by a script: the built-in palette stands in, and the warning says which and why.
            CFractalScript script;
            EXPECT_TRUE(script.LoadPalette(row.path));
            const std::string warning = script.GetPaletteWarning();
            EXPECT_EQ(warning.empty(), row.loads) << row.name;
            if (!row.loads) {
                EXPECT_NE(warning.find(row.path.toStdString()), std::string::npos) << warning;
                EXPECT_NE(warning.find(row.reason), std::string::npos) << warning;
                EXPECT_EQ(script.GetPaletteWidth(), 1000) << row.name;
            }
        }
    }
}

// Exports that cannot be written leave no file behind, and never the one they would replace.
class HostileExports : public HostileFiles {
protected:
    void SetUp() override
    {
        m_script.SetDefaults();
        ASSERT_TRUE(m_script.LoadPalette(QString()));
        m_script.SetImageSize(400, 400);
    }
    ExportOutcome Export(const QString& path)
    {
        m_script.StartExport(path, QString());
        m_script.JoinExport();
        return m_script.GetExportOutcome();
    }
    CFractalScript m_script;
};

TEST_F(HostileExports, PlacesThatCannotBeWritten)
{
    EXPECT_EQ(Export(Path("no/such/folder/a.png")), ExportOutcome::SaveFailed);
    EXPECT_EQ(Export(QStringLiteral("/proc/glimmerset-export.png")), ExportOutcome::SaveFailed);
    EXPECT_TRUE(m_script.GetLastError().starts_with("保存文件失败！")) << m_script.GetLastError();
    EXPECT_FALSE(m_script.Save(QStringLiteral("/proc/glimmerset.gsc")));
}

TEST_F(HostileExports, CancelledAtAnyPoint)
{
    m_script.SetImageSize(1000, 1000);
    m_script.SetMaxIter(2000);
    ASSERT_TRUE(m_script.SetCurrentConstant({ -0.123, 0.745 }));
    m_script.SetView(-1.6, -1.6, 0.0032);
    CExportWorker& worker = m_script.ExportWorker();
    // Before the first row and after the last, the worker is held at a gate until the cancel, so
    // the cancel always lands there. In between it is caught while it renders; a machine fast
    // enough to finish first ends in success, which must leave no temporary file either.
    enum class Point { BeforeTheRender, HalfWay, AfterTheLastRow };
    for (const Point point : { Point::BeforeTheRender, Point::HalfWay, Point::AfterTheLastRow }) {
        const QString path = Path("cancelled.png");
        ASSERT_TRUE(WriteAll(path, "the picture that was there before"));
        CWorkerGate* gate = point == Point::BeforeTheRender ? &worker.m_startGate
            : point == Point::AfterTheLastRow               ? &worker.m_renderedGate
                                                            : nullptr;
        const int arrivals = gate ? gate->Arrivals() : 0;
        if (gate) {
            gate->Close();
        }
        m_script.StartExport(path, QString());
        if (gate) {
            ASSERT_FALSE(WaitWhile([&] { return gate->Arrivals() == arrivals; }, 1, 120000));
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (worker.m_dProgress.load() < 0.5 && worker.m_bRunning.load()
                && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
        }
        m_script.StopExport();
        m_script.JoinExport();
        if (gate) {
            gate->Open();
        }
        const ExportOutcome outcome = m_script.GetExportOutcome();
        if (gate) {
            EXPECT_EQ(outcome, ExportOutcome::Cancelled) << static_cast<int>(point);
        } else {
            EXPECT_TRUE(outcome == ExportOutcome::Cancelled || outcome == ExportOutcome::Succeeded);
        }
        if (outcome == ExportOutcome::Cancelled) {
            EXPECT_EQ(ReadAll(path), "the picture that was there before") << static_cast<int>(point);
        }
        EXPECT_EQ(QDir(m_dir.path())
                      .entryList({ QStringLiteral("*cancelled.png*"), QStringLiteral(".glimmerset-*") },
                          QDir::Files | QDir::Hidden)
                      .size(),
            1)
            << "no temporary file left at " << static_cast<int>(point);
    }
}

// A script save that fails in the middle of its write leaves the old file as it was.
TEST_F(HostileFiles, SaveFailingMidWrite)
{
    CFractalScript script;
    script.SetDefaults();
    const QString path = Path("kept.gsc");
    ASSERT_TRUE(script.Save(path));
    const QByteArray before = ReadAll(path);
    std::string err;
    ASSERT_TRUE(script.SetFormulas("z = z * z + C" + std::string(5000, ' ') + ";", "norm(z) > 4;", err));

    // No file of this process may grow beyond 100 bytes for a moment: the write fails half way.
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = script.Save(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved1);
    EXPECT_TRUE(script.IsModified());
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QDir(m_dir.path())
                  .entryList({ QStringLiteral("*kept.gsc*"), QStringLiteral(".glimmerset-*") },
                      QDir::Files | QDir::Hidden)
                  .size(),
        1);
}

// A full disk: a small tmpfs where the machine lets the test mount one.
TEST_F(HostileExports, FullDisk)
{
    const QString mountPoint = Path("small-disk");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP()
            << "this machine does not let the test mount a tmpfs (needs root outside a locked container)";
    }
    const QString old = mountPoint + QStringLiteral("/picture.bmp");
    ASSERT_TRUE(WriteAll(old, "an older picture"));
    EXPECT_EQ(Export(old), ExportOutcome::SaveFailed) << "400 x 400 does not fit into 64 KiB";
    EXPECT_EQ(ReadAll(old), "an older picture");
    CFractalScript script;
    script.SetDefaults();
    std::string err;
    ASSERT_TRUE(script.SetFormulas("z = z * z + C" + std::string(200000, ' ') + ";", "norm(z) > 4;", err));
    EXPECT_FALSE(script.Save(mountPoint + QStringLiteral("/big.gsc")));
    EXPECT_EQ(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden),
        QStringList { QStringLiteral("picture.bmp") });
    umount(mountPoint.toLocal8Bit().constData());
}

} // namespace
