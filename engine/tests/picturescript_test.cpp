#include "fractalscript.h"
#include "hostilepalettes.h"
#include "picturetext.h"
#include "scriptfile.h"
#include "testutil.h"

#include <QDir>

#include <chrono>

namespace {

class PictureScript : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_script.SetDefaults();
        ASSERT_TRUE(m_script.LoadPalette(QString()));
        // A script with more than one constant line (its keys are Chinese: the text is not Latin-1).
        ASSERT_FALSE(m_script.SetFormulas("z = z * z + C + C2 * 0.5;", "norm(z) > 4;"));
        m_script.SetImageSize(120, 90);
        m_script.SetView(-1.5, -1.25, 1.0 / 16);
    }

    // Exports to name and waits for the end, within a bound.
    ExportOutcome Export(const char* name, std::optional<ExportView> view = std::nullopt)
    {
        m_script.BeginExport({ Path(name), QString(), view, kDefaultPngLevel, {}, {}, std::nullopt });
        EXPECT_TRUE(m_script.WaitExport(std::chrono::seconds(60)));
        m_script.JoinExport();
        return m_script.GetExportOutcome();
    }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
    CFractalScript m_script;
};

// Which written formats keep the script: those that store text in the file itself.
TEST_F(PictureScript, FormatsThatKeepTheScript)
{
    ASSERT_TRUE(m_script.Save(Path("saved.gsc")));
    const QByteArray saved = ReadAll(Path("saved.gsc"));
    const struct Row {
        const char* name;
        bool keeps;
    } rows[] = { { "p.png", true }, { "p.jpg", true }, { "p.bmp", false }, { "p.ppm", false },
        { "p.tiff", false }, { "p.webp", false } };
    for (const Row& row : rows) {
        ASSERT_EQ(Export(row.name), ExportOutcome::Succeeded) << row.name;
        const QString text = QImage(Path(row.name)).text(QString::fromLatin1(kPictureScriptKey));
        EXPECT_EQ(!text.isEmpty(), row.keeps) << row.name;
        if (row.keeps) {
            // The text is Save's, before its encoding: encoded, it is the script file byte for byte.
            EXPECT_EQ(EncodeScriptText(text), saved) << row.name;
        }
    }
}

// Another size and view for the export leave the script as it is; the picture opens as the script.
TEST_F(PictureScript, OpensAsTheScriptItCarries)
{
    ASSERT_TRUE(m_script.Save(Path("saved.gsc")));
    ASSERT_EQ(Export("sized.png", ExportView { 64, 48, { 0.0, 0.0, 0.01, {} } }), ExportOutcome::Succeeded);
    ASSERT_EQ(QImage(Path("sized.png")).size(), QSize(64, 48));
    CFractalScript opened;
    ASSERT_TRUE(opened.Load(Path("sized.png"))) << opened.GetLastError();
    EXPECT_EQ(opened.GetImageWidth(), 120);
    EXPECT_EQ(opened.GetOffsetX(), -1.5);
    ASSERT_TRUE(opened.Save(Path("again.gsc")));
    EXPECT_EQ(ReadAll(Path("again.gsc")), ReadAll(Path("saved.gsc")));
}

// A relative palette name is stored as it names the palette from the picture's folder.
TEST_F(PictureScript, PaletteNameFollowsThePicture)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("pictures")));
    ASSERT_TRUE(IndexedPalette(64, 4).save(Path("colours.png")));
    ASSERT_TRUE(m_script.Save(Path("main.gsc")));
    ASSERT_TRUE(m_script.LoadPalette(QStringLiteral("colours.png")));
    ASSERT_EQ(Export("pictures/p.png"), ExportOutcome::Succeeded);
    CFractalScript opened;
    ASSERT_TRUE(opened.Load(Path("pictures/p.png"))) << opened.GetLastError();
    EXPECT_EQ(opened.GetPaletteFile(), QStringLiteral("../colours.png"));
    EXPECT_TRUE(opened.GetPaletteWarning().empty()) << opened.GetPaletteWarning();
}

// Pictures without a script say so; pictures that are not ours are refused as unreadable.
TEST_F(PictureScript, PicturesWithoutAScript)
{
    ASSERT_TRUE(IndexedPalette(8, 8).save(Path("plain.png")));
    ASSERT_TRUE(WriteAll(Path("broken.png"), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16)));
    const struct Row {
        const char* name;
        const char* error;
    } rows[] = { { "plain.png", kNoScriptInPicture }, { "broken.png", "打开文件失败" } };
    for (const Row& row : rows) {
        CFractalScript opened;
        EXPECT_FALSE(opened.Load(Path(row.name))) << row.name;
        EXPECT_EQ(opened.GetLastError(), row.error) << row.name;
    }
}

// The script is read from the picture's structure alone: pixels that would not decode, or would not
// fit the decode budget, do not matter; each text form reads, the last text of the key counts, and a
// text over the limit or a damaged chunk is refused.
TEST_F(PictureScript, ReadsTheTextWithoutThePixels)
{
    using hostile::Chunk;
    const QByteArray key(kPictureScriptKey);
    const QByteArray head = QByteArray("\x89PNG\r\n\x1a\n", 8) + hostile::Ihdr(65535, 65535);
    const QByteArray pixels = Chunk("IDAT", QByteArray(64, 'x')) + Chunk("IEND", {});
    const auto deflated = [](const QByteArray& text) { return qCompress(text).mid(4); };
    const QByteArray itxt = key + QByteArray("\0\0\0en\0\0", 7) + QStringLiteral(u"版本号\n").toUtf8();
    QByteArray badCrc = Chunk("tEXt", key + '\0' + "a");
    badCrc[badCrc.size() - 1] = static_cast<char>(badCrc.back() ^ 1);
    QImage small(4, 4, QImage::Format_RGB32);
    small.fill(Qt::red);
    small.setText(QString::fromLatin1(key), QStringLiteral(u"第一行\n第二行"));
    ASSERT_TRUE(small.save(Path("comment.jpg")));
    constexpr qint64 kLimit = qint64 { 1 } << 20;
    const struct Row {
        const char* name;
        QByteArray bytes; // empty: the file written above
        const char* file;
        const char* text; // nullptr: refused, with reason
        const char* reason;
    } rows[] = {
        { "iTXt before pixels beyond any budget", head + Chunk("iTXt", itxt) + pixels, "a.png", "版本号\n",
            "" },
        { "zTXt after the pixels",
            head + pixels.left(pixels.size() - 12)
                + Chunk("zTXt", key + QByteArray("\0\0", 2) + deflated("\xe9t\xe9")) + Chunk("IEND", {}),
            "b.png", "été", "" },
        { "compressed iTXt, the last of two",
            head + Chunk("tEXt", key + '\0' + "old")
                + Chunk("iTXt", key + QByteArray("\0\1\0\0\0", 5) + deflated("new")) + pixels,
            "c.png", "new", "" },
        { "no text of the key", head + Chunk("tEXt", "other" + QByteArray(1, '\0') + "x") + pixels, "d.png",
            "", "" },
        { "text over the limit", head + Chunk("tEXt", key + '\0' + QByteArray(kLimit + 1, 'a')) + pixels,
            "e.png", nullptr, "longer than 1 MiB" },
        { "compressed text inflating over the limit",
            head + Chunk("zTXt", key + QByteArray("\0\0", 2) + deflated(QByteArray(kLimit + 1, 'a')))
                + pixels,
            "f.png", nullptr, "longer than 1 MiB" },
        { "damaged text chunk", head + badCrc + pixels, "g.png", nullptr, "damaged PNG text chunk" },
        { "damaged header", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), "h.png", nullptr,
            "longer than the rest of the file" },
        { "JPEG comment", {}, "comment.jpg", "第一行\n第二行", "" },
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(row.bytes.isEmpty() || WriteAll(Path(row.file), row.bytes)) << row.name;
        QString text;
        QString reason;
        const bool read = ReadPictureText(Path(row.file), key, kLimit, text, reason);
        EXPECT_EQ(read, row.text != nullptr) << row.name << ": " << reason.toStdString();
        EXPECT_EQ(text, QString::fromUtf8(row.text ? row.text : "")) << row.name;
        EXPECT_TRUE(reason.contains(QString::fromUtf8(row.reason)))
            << row.name << ": " << reason.toStdString();
    }
}

} // namespace

namespace {

// A script longer than a JPEG comment: the JPEG goes without it, the PNG keeps it.
TEST_F(PictureScript, LongScriptsInJpeg)
{
    const std::string formula = "z = z * z" + std::string(70000, ' ') + "+ C;";
    ASSERT_FALSE(m_script.SetFormulas(formula, "norm(z) > 4;"));
    ASSERT_GT(ScriptText(m_script.TakeSnapshot(), QString()).toUtf8().size(), 65533);
    const QString key = QString::fromLatin1(kPictureScriptKey);
    ASSERT_EQ(Export("long.jpg"), ExportOutcome::Succeeded);
    EXPECT_TRUE(QImage(Path("long.jpg")).text(key).isEmpty());
    ASSERT_EQ(Export("long.png"), ExportOutcome::Succeeded);
    EXPECT_EQ(QImage(Path("long.png")).text(key), ScriptText(m_script.TakeSnapshot(), QString()));
}

} // namespace
