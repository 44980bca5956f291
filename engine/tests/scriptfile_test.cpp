#include "fractalscript.h"
#include "scriptfile.h"
#include "testutil.h"

#include <QStringEncoder>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The default script's file, line by line, as the writer must produce it.
QStringList DefaultLines()
{
    return { u"版本号:{Glimmerset0.01}"_qs, u"迭代公式:{z = z * z + C;}"_qs,
        u"终止条件公式:{norm(z) > 100;}"_qs, u"取色公式:{V_iter_n / V_iter_max;}"_qs, u"调色板文件:{}"_qs,
        u"调色板映射:{0.000000, 0.000000, 1.000000, 1.000000, 0.000000, 1.000000, 1.000000}"_qs,
        u"复平面偏移:{-1.000000, -1.000000}"_qs, u"比率:{0.001953125}"_qs, u"目标图像大小:{1024, 1024}"_qs,
        u"最大迭代次数:{256}"_qs, u"常量00{C=-0.780000, -0.150000}"_qs };
}

QByteArray Gb18030Crlf(const QStringList& lines)
{
    QStringEncoder encoder("GB18030");
    return encoder(lines.join(u"\r\n"_qs) + u"\r\n"_qs);
}

class ScriptFile : public testing::Test {
protected:
    QString Path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    // Writes the lines (UTF-8, LF) and loads them into a fresh script.
    bool LoadLines(const QStringList& lines, CFractalScript& script)
    {
        const QString path = Path("lines.gsc");
        EXPECT_TRUE(WriteAll(path, (lines.join(u'\n') + u'\n').toUtf8()));
        return script.Load(path);
    }

    QTemporaryDir m_dir;
};

TEST_F(ScriptFile, DefaultScriptBytes)
{
    CFractalScript script;
    script.SetDefaults();
    ASSERT_TRUE(script.LoadPalette(QString()));
    script.SetModified();
    ASSERT_TRUE(script.Save(Path("default.gsc")));
    EXPECT_FALSE(script.IsModified());
    const QByteArray bytes = ReadAll(Path("default.gsc"));
    EXPECT_EQ(bytes, Gb18030Crlf(DefaultLines()));
    // 版本号 in GB18030 (the same bytes as code page 936), then the ASCII rest of line 1.
    EXPECT_TRUE(bytes.startsWith("\xB0\xE6\xB1\xBE\xBA\xC5:{Glimmerset0.01}\r\n"));
}

TEST_F(ScriptFile, RoundTripOfEveryMember)
{
    CFractalScript script;
    script.SetDefaults();
    std::string err;
    ASSERT_TRUE(script.SetFormulas("z = z * z * Ca\n + Cb;\r\nV_k = 1", "norm(z) > Climit\n", err));
    ASSERT_TRUE(script.SetColorFormula("V_iter_n / V_iter_max + z0;", err));
    ASSERT_TRUE(script.LoadPalette(u"/nowhere/调色板 palette.png"_qs));
    const double third = 1.0 / 3.0;
    script.SetMapping(third, -0.0, 1e-12, 2.5, 0.6, -0.8, 12345.678);
    script.SetView(-0.7436438870371587, 0.1318259042053, 1.5e-15);
    script.SetImageSize(4096, 100);
    script.SetMaxIter(9999);
    const CFormula& iter = script.GetIterFormula();
    ASSERT_TRUE(script.SetCurrentConstant({ -0.78, std::numeric_limits<double>::infinity() }));
    script.NextConstant();
    ASSERT_TRUE(script.SetCurrentConstant({ 1e300, -1e-300 }));
    ASSERT_EQ(iter.GetConstantCount(), 2);
    ASSERT_TRUE(script.Save(Path("all.gsc")));

    CFractalScript loaded;
    ASSERT_TRUE(loaded.Load(Path("all.gsc"))) << loaded.GetLastError();
    EXPECT_EQ(loaded.GetIterFormula().GetText(), "z = z * z * Ca\n + Cb;\r\nV_k = 1");
    EXPECT_EQ(loaded.GetTermFormula().GetText(), "norm(z) > Climit\n");
    EXPECT_EQ(loaded.GetColorFormula().GetText(), "V_iter_n / V_iter_max + z0;");
    EXPECT_EQ(loaded.GetPaletteFile(), u"/nowhere/调色板 palette.png"_qs);
    EXPECT_EQ(loaded.GetPaletteWidth(), 1000) << "a missing palette file falls back to the built-in one";
    const PaletteMapping m = loaded.GetMapping();
    EXPECT_EQ(m.x0, third);
    EXPECT_TRUE(std::signbit(m.y0));
    EXPECT_EQ(m.dx, 1e-12);
    EXPECT_EQ(m.cos, -0.8);
    EXPECT_EQ(m.stretch, 12345.678);
    EXPECT_EQ(loaded.GetOffsetX(), -0.7436438870371587);
    EXPECT_EQ(loaded.GetOffsetY(), 0.1318259042053);
    EXPECT_EQ(loaded.GetRatio(), 1.5e-15) << "a deep zoom's ratio must survive the file";
    EXPECT_EQ(loaded.GetImageWidth(), 4096);
    EXPECT_EQ(loaded.GetImageHeight(), 100);
    EXPECT_EQ(loaded.GetMaxIter(), 9999);
    ASSERT_EQ(loaded.GetIterFormula().GetConstantCount(), 2);
    EXPECT_EQ(loaded.GetIterFormula().GetConstant(0).re, -0.78);
    EXPECT_TRUE(std::isinf(loaded.GetIterFormula().GetConstant(0).im));
    EXPECT_EQ(loaded.GetIterFormula().GetConstant(1).re, 1e300);
    EXPECT_EQ(loaded.GetIterFormula().GetConstant(1).im, -1e-300);
    EXPECT_EQ(loaded.GetCurrentConstantIndex(), 0);
    EXPECT_FALSE(loaded.IsModified());

    // The palette path of a missing file is written again unchanged.
    ASSERT_TRUE(loaded.Save(Path("again.gsc")));
    EXPECT_EQ(ReadAll(Path("again.gsc")), ReadAll(Path("all.gsc")));
}

TEST_F(ScriptFile, LoadFailures)
{
    struct Row {
        int line;            // the line (index into DefaultLines) to replace, or -1 to drop nothing
        const char* text;    // its replacement; "" drops the line
        const char* message; // empty: loads
    };
    const Row rows[] = {
        { 0, "版本号:{Glimmerset0.02}", "版本不正确" },
        { 0, "", "版本不正确" },
        { 1, "迭代公式:{z = z *}", "迭代公式错误:缺少数据" },
        { 1, "迭代公式:{z1 = 1;}", "迭代公式错误:未发现迭代变量" },
        { 1, "", "迭代公式错误:公式为空" },
        { 2, "终止条件公式:{}", "终止条件公式错误:公式为空" },
        { 3, "取色公式:{x}", "取色公式错误:非法字符" },
        { 5, "调色板映射:{0, 0, 1, 1, 0, 1}", "载入调色板映射失败" },
        { 6, "复平面偏移:{1.0}", "载入复平面偏移失败" },
        { 7, "比率:{abc}", "载入比率失败" },
        { 8, "目标图像大小:{1024}", "载入目标图像大小失败" },
        { 8, "目标图像大小:{wide, 1024}", "载入目标图像大小失败" },
        { 9, "最大迭代次数:{x}", "载入最大迭代次数失败" },
        { 10, "常量00{C=1 ,2}", "载入常量失败" },
        { 10, "常量00{C}", "载入常量失败" },
        { 10, "常量00{C=1}", "载入常量失败" },
        { 10, "常量00{C=1, 2}", "" },
        { 10, "常量00{C=1,2}", "" },
        { 10, "常量00{}", "" },
        { 10, "常量00{Cother=1, 2}", "" },
        { 4, "调色板文件:{/no/such/file.png}", "" },
    };
    for (const Row& row : rows) {
        QStringList lines = DefaultLines();
        lines[row.line] = QString::fromUtf8(row.text);
        CFractalScript script;
        EXPECT_EQ(LoadLines(lines, script), *row.message == 0) << row.text;
        if (*row.message != 0) {
            EXPECT_EQ(script.GetLastError(), row.message) << row.text;
        }
    }

    CFractalScript untouched;
    untouched.SetDefaults();
    EXPECT_FALSE(untouched.Load(Path("missing.gsc")));
    EXPECT_EQ(untouched.GetLastError(), "打开文件失败");
    EXPECT_EQ(untouched.GetLoadReason(), std::strerror(ENOENT));
    EXPECT_EQ(untouched.GetIterFormula().GetText(), "z = z * z + C;");
    EXPECT_FALSE(untouched.IsModified());
}

TEST_F(ScriptFile, ConstantLines)
{
    struct Row {
        QStringList constantLines;
        Complex first, second; // of "z = z * z * C + D2" 's constants C and C2
    };
    const Row rows[] = {
        { { u"常量00{C=1, 2}"_qs }, { 1, 2 }, { 0, 0 } },
        { { u"常量00{C=1,2}"_qs, u"常量01{C2=3,\t4}"_qs }, { 1, 2 }, { 3, 4 } },
        { { u"常量01{C2=3, 4}"_qs, u"常量00{C2=5, 6}"_qs }, { 0, 0 }, { 3, 4 } }, // keys, not names, order
        { { u"常量00{C=1, 2}"_qs, u"常量02{C2=3, 4}"_qs }, { 1, 2 }, { 0, 0 } },  // no 01: the list ends
        { { u"常量00{}"_qs, u"常量01{C2=3, 4}"_qs }, { 0, 0 }, { 0, 0 } },
        { { u"常量00{Cnone=7, 7}"_qs, u"常量01{C=1e-9, -1e-9}"_qs }, { 1e-9, -1e-9 }, { 0, 0 } },
    };
    for (const Row& row : rows) {
        QStringList lines = DefaultLines();
        lines[1] = u"迭代公式:{z = z * z * C + C2}"_qs;
        lines.removeLast();
        lines += row.constantLines;
        CFractalScript script;
        ASSERT_TRUE(LoadLines(lines, script))
            << row.constantLines.join(' ').toStdString() << script.GetLastError();
        const CFormula& iter = script.GetIterFormula();
        EXPECT_EQ(iter.GetConstant(0).re, row.first.re) << row.constantLines.join(' ').toStdString();
        EXPECT_EQ(iter.GetConstant(0).im, row.first.im) << row.constantLines.join(' ').toStdString();
        EXPECT_EQ(iter.GetConstant(1).re, row.second.re) << row.constantLines.join(' ').toStdString();
        EXPECT_EQ(iter.GetConstant(1).im, row.second.im) << row.constantLines.join(' ').toStdString();
    }
}

TEST_F(ScriptFile, OrderEncodingsAndLineEndings)
{
    CFractalScript reference;
    ASSERT_TRUE(LoadLines(DefaultLines(), reference)) << reference.GetLastError();

    QStringList reversed = DefaultLines();
    std::reverse(reversed.begin(), reversed.end());
    reversed.insert(3, u"这一行不是条目 and is ignored"_qs);
    const struct {
        const char* name;
        QByteArray bytes;
    } files[] = {
        { "GB18030 with CR LF", Gb18030Crlf(DefaultLines()) },
        { "UTF-8 with LF", (DefaultLines().join(u'\n') + u'\n').toUtf8() },
        { "UTF-8 with a byte-order mark and CR LF",
            "\xEF\xBB\xBF" + DefaultLines().join(u"\r\n"_qs).toUtf8() },
        { "GB18030, other order, extra line", Gb18030Crlf(reversed) },
    };
    for (const auto& file : files) {
        ASSERT_TRUE(WriteAll(Path("variant.gsc"), file.bytes));
        CFractalScript script;
        ASSERT_TRUE(script.Load(Path("variant.gsc"))) << file.name << ": " << script.GetLastError();
        EXPECT_EQ(script.GetIterFormula().GetText(), "z = z * z + C;") << file.name;
        EXPECT_EQ(script.GetRatio(), 0.001953125) << file.name;
        EXPECT_EQ(script.GetCurrentConstant().re, -0.78) << file.name;
        // Saving again writes the canonical file whatever was read.
        ASSERT_TRUE(script.Save(Path("canonical.gsc")));
        EXPECT_EQ(ReadAll(Path("canonical.gsc")), Gb18030Crlf(DefaultLines())) << file.name;
    }
}

TEST_F(ScriptFile, PathsFormulasAndLongFiles)
{
    // A palette path with "}" is cut at it: the format has no escape.
    QStringList lines = DefaultLines();
    lines[4] = u"调色板文件:{/tmp/a}b.png}"_qs;
    CFractalScript cut;
    ASSERT_TRUE(LoadLines(lines, cut));
    EXPECT_EQ(cut.GetPaletteFile(), u"/tmp/a"_qs);

    // A long iteration formula: the file is far beyond 1023 bytes and loads whole.
    QString sum;
    for (int i = 0; i < 200; ++i) {
        sum += u" + 0*z"_qs;
    }
    lines = DefaultLines();
    lines[1] = u"迭代公式:{z = z * z + C"_qs + sum + u";}"_qs;
    CFractalScript longScript;
    ASSERT_TRUE(LoadLines(lines, longScript)) << longScript.GetLastError();
    EXPECT_EQ(longScript.GetIterFormula().GetText(), ("z = z * z + C" + sum + ";").toStdString());
    EXPECT_EQ(longScript.GetCurrentConstant().re, -0.78) << "the constant line after the long one is read";

    // Sizes and limits the setters refuse are clamped into their ranges.
    const struct {
        const char* size;
        const char* limit;
        int width, height, maxIter;
    } ranges[] = { { "0, -5", "0", 100, 100, 1 }, { "99999, 4097", "20000", 4096, 4096, 10000 },
        { "4096, 100", "-3", 4096, 100, 1 }, { "99999999999, 1e3", "10000", 4096, 100, 10000 } };
    for (const auto& range : ranges) {
        lines = DefaultLines();
        lines[8] = u"目标图像大小:{"_qs + QString::fromUtf8(range.size) + u'}';
        lines[9] = u"最大迭代次数:{"_qs + QString::fromUtf8(range.limit) + u'}';
        CFractalScript script;
        ASSERT_TRUE(LoadLines(lines, script)) << range.size;
        EXPECT_EQ(script.GetImageWidth(), range.width) << range.size;
        EXPECT_EQ(script.GetImageHeight(), range.height) << range.size;
        EXPECT_EQ(script.GetMaxIter(), range.maxIter) << range.limit;
    }
}

// A limit above 10000 keeps 10000 on its usual line, for older readers, and itself on a line of its
// own; that line counts only beside a usual line of 10000, as the writer writes them.
TEST_F(ScriptFile, ExtendedLimit)
{
    CFractalScript script;
    script.SetDefaults();
    script.SetExtendedMaxIter(2'500'000);
    ASSERT_TRUE(script.Save(Path("extended.gsc")));
    QStringList lines = DefaultLines();
    lines[9] = u"最大迭代次数:{10000}"_qs;
    lines.append(u"扩展迭代上限:{2500000}"_qs);
    EXPECT_EQ(ReadAll(Path("extended.gsc")), Gb18030Crlf(lines));
    CFractalScript loaded;
    ASSERT_TRUE(loaded.Load(Path("extended.gsc")));
    EXPECT_EQ(loaded.GetMaxIter(), 2'500'000);

    const struct {
        const char* usual;
        const char* extended;
        int maxIter;
    } rows[] = { { "10000", "50000", 50000 }, { "2000", "50000", 2000 }, { "10000", "5000", 10000 },
        { "10000", "many", 10000 }, { "10000", "99999999999", 1'000'000'000 }, { "20000", "30000", 30000 } };
    for (const auto& row : rows) {
        lines = DefaultLines();
        lines[9] = u"最大迭代次数:{"_qs + QString::fromUtf8(row.usual) + u'}';
        lines.append(u"扩展迭代上限:{"_qs + QString::fromUtf8(row.extended) + u'}');
        ASSERT_TRUE(LoadLines(lines, loaded)) << row.extended;
        EXPECT_EQ(loaded.GetMaxIter(), row.maxIter) << row.usual << " " << row.extended;
    }
}

// A palette name the lines cannot hold (a line break, "}", a key's text) is refused where a script is
// written, by a save and by an export that carries the script, and nothing is written; other names
// with braces are kept.
TEST_F(ScriptFile, NamesTheLinesCannotHold)
{
    const struct Row {
        const char* name;
        const char* problem; // "": the name is kept
    } rows[] = { { "x\n最大迭代次数:{9999", "line break" }, { "x\r.png", "line break" }, { "a}b.png", "'}'" },
        { "x最大迭代次数:{9999", "最大迭代次数:{" }, { "x精确视图:{1, 1, 1e-9", "精确视图:{" },
        { "x扩展迭代上限:{50000", "扩展迭代上限:{" }, { "p常量07{C=5, 5", "常量07{" },
        { "{braces.png", "" } };
    for (const Row& row : rows) {
        const QString name = QString::fromUtf8(row.name);
        CFractalScript script;
        script.SetDefaults();
        script.SetImageSize(100, 100);
        ASSERT_TRUE(script.LoadPalette(name)); // missing: the built-in palette, the name kept
        QString reason;
        const QString path = Path("named.gsc");
        QFile::remove(path);
        EXPECT_EQ(script.Save(path, &reason), !*row.problem) << row.name;
        EXPECT_EQ(QFile::exists(path), !*row.problem) << row.name;
        EXPECT_TRUE(!*row.problem || reason.contains(QStringLiteral("palette name"))) << row.name;
        EXPECT_TRUE(reason.contains(QString::fromUtf8(row.problem))) << reason.toStdString();

        script.StartExport(Path("named.png"), QString());
        script.JoinExport();
        EXPECT_EQ(script.GetExportOutcome() == ExportOutcome::Succeeded, !*row.problem) << row.name;
        EXPECT_EQ(QFile::exists(Path("named.png")), !*row.problem) << row.name;
        EXPECT_EQ(script.GetLastError().find(row.problem) != std::string::npos, true)
            << script.GetLastError();
        QFile::remove(Path("named.png"));
    }
}

TEST_F(ScriptFile, ScriptWithoutConstants)
{
    QStringList lines = DefaultLines();
    lines[1] = u"迭代公式:{z = z * z;}"_qs;
    CFractalScript script;
    ASSERT_TRUE(LoadLines(lines, script));
    EXPECT_EQ(script.GetCurrentConstantIndex(), -1);
    EXPECT_EQ(script.PrevConstant(), -1);
    EXPECT_EQ(script.NextConstant(), -1);
    EXPECT_FALSE(script.SetCurrentConstant({ 1, 0 }));
}

TEST_F(ScriptFile, LocaleIndependent)
{
    CFractalScript script;
    script.SetDefaults();
    script.SetMapping(0.5, 0.25, 1.5, 1, 0, 1, 1e-7);
    ASSERT_TRUE(script.Save(Path("c.gsc")));
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no decimal-comma locale here";
    }
    const bool savedInGerman = script.Save(Path("de.gsc"));
    CFractalScript loaded;
    const bool loadedInGerman = loaded.Load(Path("c.gsc"));
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(savedInGerman);
    ASSERT_TRUE(loadedInGerman);
    EXPECT_EQ(ReadAll(Path("de.gsc")), ReadAll(Path("c.gsc")));
    EXPECT_EQ(loaded.GetMapping().x0, 0.5);
    EXPECT_EQ(loaded.GetMapping().stretch, 1e-7);
}

TEST_F(ScriptFile, SaveFailureKeepsState)
{
    CFractalScript script;
    script.SetDefaults();
    script.SetModified();
    EXPECT_FALSE(script.Save(Path("no/such/folder/x.gsc")));
    EXPECT_TRUE(script.IsModified());
    EXPECT_FALSE(script.Save(u"/proc/glimmerset-test.gsc"_qs));
    EXPECT_FALSE(script.Save(m_dir.path())) << "a folder is not a file";
}

TEST(ScriptText, ExtractAndDecode)
{
    const struct {
        const char* text;
        const char* start;
        const char* end;
        const char* want;
    } rows[] = { { "a{b}c", "a{", "}", "b" }, { "a{b}c a{d}", "a{", "}", "b" }, { "x{b}", "a{", "}", "" },
        { "a{b", "a{", "}", "" }, { "a{b}c", "", "}", "a{b" }, { "a{b}c", "a{", "", "b}c" } };
    for (const auto& row : rows) {
        EXPECT_EQ(ExtractBetween(
                      QString::fromUtf8(row.text), QString::fromUtf8(row.start), QString::fromUtf8(row.end)),
            QString::fromUtf8(row.want))
            << row.text;
    }
    EXPECT_EQ(DecodeScriptText("\xB0\xE6\xB1\xBE\xBA\xC5\r\nx"), u"版本号\nx"_qs);
    EXPECT_EQ(DecodeScriptText("\xEF\xBB\xBF\xE7\x89\x88\r\n"), u"版\n"_qs);
    EXPECT_EQ(DecodeScriptText("a\r\r\nb"), u"a\r\nb"_qs) << "text mode turns only CR LF pairs into LF";
    EXPECT_EQ(EncodeScriptText(u"a\r\nb\n"_qs), QByteArray("a\r\r\nb\r\n"));
}

} // namespace
