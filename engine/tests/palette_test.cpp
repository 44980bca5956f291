#include "fractalscript.h"
#include "scriptfile.h"
#include "surface.h"
#include "testutil.h"
#include "watermarkfile.h"

#include <QColor>
#include <QDir>

namespace {

TEST(Palette, BuiltInMatchesItsSamples)
{
    CFractalScript script;
    ASSERT_TRUE(script.LoadPalette(QString()));
    EXPECT_EQ(script.GetPaletteWidth(), 1000);
    EXPECT_EQ(script.GetPaletteHeight(), 410);
    EXPECT_EQ(script.GetPaletteFile(), QString());
    EXPECT_EQ(script.GetPalette().format(), QImage::Format_RGB32);

    struct Sample {
        int row, column, red, green, blue;
    };
    const Sample samples[] = {
        { 0, 0, 0, 0, 7 },
        { 0, 150, 0, 0, 253 },
        { 0, 325, 0, 3, 0 },
        { 0, 500, 0, 255, 0 },
        { 0, 675, 6, 0, 0 },
        { 0, 850, 255, 4, 0 },
        { 0, 999, 255, 223, 0 },
        { 100, 0, 29, 32, 40 },
        { 100, 150, 29, 32, 253 },
        { 100, 325, 29, 34, 34 },
        { 100, 500, 29, 253, 34 },
        { 100, 675, 35, 32, 34 },
        { 100, 850, 250, 35, 34 },
        { 100, 999, 250, 225, 34 },
        { 205, 0, 63, 77, 95 },
        { 205, 150, 63, 77, 254 },
        { 205, 325, 63, 79, 90 },
        { 205, 500, 63, 242, 90 },
        { 205, 675, 67, 77, 90 },
        { 205, 850, 228, 79, 90 },
        { 205, 999, 228, 221, 90 },
        { 300, 0, 79, 114, 150 },
        { 300, 150, 79, 114, 254 },
        { 300, 325, 79, 116, 147 },
        { 300, 500, 79, 221, 147 },
        { 300, 675, 81, 114, 147 },
        { 300, 850, 186, 116, 147 },
        { 300, 999, 186, 208, 147 },
        { 409, 0, 75, 143, 209 },
        { 409, 150, 75, 143, 254 },
        { 409, 325, 75, 144, 208 },
        { 409, 500, 75, 189, 208 },
        { 409, 675, 76, 143, 208 },
        { 409, 850, 121, 144, 208 },
        { 409, 999, 121, 184, 208 },
    };
    for (const Sample& s : samples) {
        const QRgb pixel = script.GetPalette().pixel(s.column, s.row);
        EXPECT_NEAR(qRed(pixel), s.red, 2) << s.row << ", " << s.column;
        EXPECT_NEAR(qGreen(pixel), s.green, 2) << s.row << ", " << s.column;
        EXPECT_NEAR(qBlue(pixel), s.blue, 2) << s.row << ", " << s.column;
    }
}

TEST(Palette, WatermarkTransparency)
{
    const QImage mark
        = QImage(QString::fromLatin1(kWatermarkResource)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(mark.size(), QSize(277, 63));
    int transparent = 0;
    int background = 0;
    int opaque = 0;
    for (int y = 0; y < mark.height(); ++y) {
        for (int x = 0; x < mark.width(); ++x) {
            const QRgb p = mark.pixel(x, y);
            switch (qAlpha(p)) {
            case 0: ++transparent; break;
            case 5: ++background; break;
            case 255: ++opaque; break;
            default: ADD_FAILURE() << "alpha " << qAlpha(p) << " at " << x << ", " << y; break;
            }
            if (qAlpha(p) != 255) {
                ASSERT_EQ(p & 0xffffffu, 0u)
                    << "transparent and background pixels are black at " << x << ", " << y;
            }
        }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_GT(background, mark.width() * mark.height() / 2) << "black at alpha 5 around the logo";
    EXPECT_GT(opaque, 500) << "the logo and lettering are opaque";
}

class PaletteFiles : public testing::Test {
protected:
    QString Save(const QImage& image, const char* name)
    {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(image.save(path));
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(PaletteFiles, LoadingResetsTheMappingButNotTheStretch)
{
    for (const bool modified : { false, true }) {
        CFractalScript script;
        script.SetMapping(0.3, 0.4, 2, 0.5, 0.6, -0.8, 2.5);
        ASSERT_TRUE(script.Save(m_dir.filePath(QStringLiteral("clears-the-flag.gsc"))));
        if (modified) {
            script.SetModified();
        }
        ASSERT_TRUE(script.LoadPalette(Save(IndexedPalette(300, 20), "p.png")));
        EXPECT_EQ(script.IsModified(), modified) << "loading a palette leaves the flag as it was";
        EXPECT_EQ(script.GetMapping(), (PaletteMapping { 0, 0, 1, 1, 0, 1, 2.5 }));
    }
    CFractalScript script;
    script.SetMapping(0.3, 0.4, 2, 0.5, 0.6, -0.8, 2.5);
    ASSERT_TRUE(script.LoadPalette(Save(IndexedPalette(300, 20), "p.png")));
    EXPECT_EQ(script.GetMapping(), (PaletteMapping { 0, 0, 1, 1, 0, 1, 2.5 }));
    EXPECT_EQ(script.GetPaletteWidth(), 300);
    EXPECT_EQ(script.GetPalette().pixel(299, 19), qRgb(299 % 256, 19, 1));
}

TEST_F(PaletteFiles, FallbackAndRefusal)
{
    CFractalScript script;
    ASSERT_TRUE(script.LoadPalette(Save(IndexedPalette(7, 3), "small.png")));
    script.SetMapping(0.5, 0, 1, 1, 0, 1, 1);

    // Without fallback an unreadable image changes nothing.
    ASSERT_TRUE(WriteAll(m_dir.filePath("broken.png"), "\x89PNG\r\n\x1a\nthis is not a png"));
    EXPECT_FALSE(script.LoadPalette(m_dir.filePath("broken.png"), PaletteFallback::None));
    EXPECT_FALSE(script.LoadPalette(m_dir.filePath("missing.png"), PaletteFallback::None));
    EXPECT_EQ(script.GetPaletteWidth(), 7);
    EXPECT_EQ(script.GetPaletteFile(), m_dir.filePath("small.png"));
    EXPECT_EQ(script.GetMapping().x0, 0.5);

    // With fallback the built-in palette stands in and the name is kept.
    EXPECT_TRUE(script.LoadPalette(m_dir.filePath("missing.png")));
    EXPECT_EQ(script.GetPaletteWidth(), 1000);
    EXPECT_EQ(script.GetPaletteFile(), m_dir.filePath("missing.png"));
    EXPECT_EQ(script.GetMapping().x0, 0.0);
}

TEST_F(PaletteFiles, FormatsBecomeOpaqueSurfaces)
{
    // Alpha is dropped, not blended: a half-transparent red stays full red.
    QImage alpha(2, 1, QImage::Format_ARGB32);
    alpha.setPixel(0, 0, qRgba(255, 0, 0, 128));
    alpha.setPixel(1, 0, qRgba(0, 0, 255, 0));
    QImage grey(3, 1, QImage::Format_Grayscale8);
    grey.fill(77);
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({ qRgb(1, 2, 3), qRgb(4, 5, 6) });
    indexed.setPixel(0, 0, 1);
    indexed.setPixel(1, 0, 0);
    const struct {
        const char* name;
        QImage image;
        QRgb first;
    } rows[] = { { "alpha.png", alpha, qRgb(255, 0, 0) }, { "grey.png", grey, qRgb(77, 77, 77) },
        { "indexed.png", indexed, qRgb(4, 5, 6) },
        { "rgb64.png", alpha.convertToFormat(QImage::Format_RGBA64), qRgb(255, 0, 0) } };
    for (const auto& row : rows) {
        CFractalScript script;
        ASSERT_TRUE(script.LoadPalette(Save(row.image, row.name), PaletteFallback::None)) << row.name;
        EXPECT_EQ(script.GetPalette().format(), QImage::Format_RGB32) << row.name;
        EXPECT_EQ(script.GetPalette().pixel(0, 0), row.first) << row.name;
    }
}

} // namespace

TEST_F(PaletteFiles, RelativeNamesFollowTheScript)
{
    // Two palettes called pal.png: 2 pixels wide beside the script, 3 wide in the working folder.
    QDir folder(m_dir.path());
    ASSERT_TRUE(folder.mkpath(QStringLiteral("script/deeper")) && folder.mkpath(QStringLiteral("work")));
    ASSERT_TRUE(IndexedPalette(2, 1).save(folder.filePath(QStringLiteral("script/pal.png"))));
    ASSERT_TRUE(IndexedPalette(3, 1).save(folder.filePath(QStringLiteral("work/pal.png"))));
    ASSERT_TRUE(IndexedPalette(4, 1).save(folder.filePath(QStringLiteral("work/only-here.png"))));
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.filePath(QStringLiteral("work"))));

    const struct {
        const char* palette;
        const char* saveAs; // relative to the test folder
        int width;          // of the palette after loading the saved script
        const char* stored; // the name the saved script holds
    } rows[] = {
        { "pal.png", "script/again.gsc", 2, "pal.png" },
        { "pal.png", "script/deeper/moved.gsc", 2, "../pal.png" },
        { "pal.png", "elsewhere.gsc", 2, "script/pal.png" },
        { "only-here.png", "script/deeper/moved.gsc", 4, "only-here.png" },
    };
    for (const auto& row : rows) {
        const QString first = folder.filePath(QStringLiteral("script/first.gsc"));
        CFractalScript script;
        script.SetDefaults();
        ASSERT_TRUE(script.Save(first));
        QString text = DecodeScriptText(ReadAll(first));
        text.replace(QStringLiteral(u"调色板文件:{}"), QStringLiteral(u"调色板文件:{%1}").arg(row.palette));
        ASSERT_TRUE(WriteAll(first, EncodeScriptText(text)));
        ASSERT_TRUE(script.Load(first)) << script.GetLastError();
        EXPECT_TRUE(script.GetPaletteWarning().empty()) << script.GetPaletteWarning();
        ASSERT_TRUE(script.Save(folder.filePath(QString::fromUtf8(row.saveAs))));
        EXPECT_EQ(script.GetPaletteFile(), QString::fromUtf8(row.stored)) << row.saveAs;
        CFractalScript reloaded;
        ASSERT_TRUE(reloaded.Load(folder.filePath(QString::fromUtf8(row.saveAs))));
        EXPECT_EQ(reloaded.GetPaletteWidth(), row.width) << row.saveAs;
    }
    QDir::setCurrent(oldCurrent);
}

namespace {

// PNG picture data comes in chunks of 8 KiB and more (what Qt and most programs write), which the
// decoder hands to the reader whole: noise, so that the data does not compress below that.
TEST(Palette, PngWithLargeDataChunksDecodes)
{
    QTemporaryDir dir;
    QImage noise(300, 200, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            noise.setPixel(x, y, 0xFF000000u | (state >> 8));
        }
    }
    const QString path = dir.filePath(QStringLiteral("noise.png"));
    ASSERT_TRUE(noise.save(path));
    QString error;
    const QImage decoded = DecodePalette(path, &error);
    ASSERT_FALSE(decoded.isNull()) << error.toStdString();
    EXPECT_EQ(decoded, noise);
}

} // namespace

namespace {

// BMP rows come whole however wide they are (a row of 24-bit pixels over 4096 bytes was read in
// part), and a file cut short of the rows its header declares is refused, not shown in part.
TEST(Palette, BmpRowsWholeOrRefused)
{
    QTemporaryDir dir;
    const QImage wide = IndexedPalette(10001, 2).convertToFormat(QImage::Format_RGB888);
    const QString path = dir.filePath(QStringLiteral("wide.bmp"));
    ASSERT_TRUE(wide.save(path));
    QString error;
    const QImage decoded = DecodePalette(path, &error);
    ASSERT_FALSE(decoded.isNull()) << error.toStdString();
    EXPECT_EQ(decoded, wide.convertToFormat(QImage::Format_RGB32));

    const QByteArray bytes = ReadAll(path);
    const QString cut = dir.filePath(QStringLiteral("cut.bmp"));
    ASSERT_TRUE(WriteAll(cut, bytes.left(bytes.size() - 3)));
    EXPECT_TRUE(DecodePalette(cut, &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("shorter than its header declares"))) << error.toStdString();
}

} // namespace
