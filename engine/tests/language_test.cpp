#include "language.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

TEST(Language, ChoosesTheFirstLanguageItSpeaks)
{
    const QStringList available { QStringLiteral("en") };
    const struct Row {
        QStringList ui;
        const char* shown;
    } rows[] = {
        { { QStringLiteral("de-DE"), QStringLiteral("en") }, "en" },    // LANGUAGE=de:en
        { { QStringLiteral("de-DE"), QStringLiteral("de") }, "zh_CN" }, // LANG=de_DE alone
        { { QStringLiteral("C") }, "zh_CN" },
        { {}, "zh_CN" },
        { { QStringLiteral("en-GB") }, "en" },
        { { QStringLiteral("zh-TW"), QStringLiteral("en") }, "zh_CN" }, // Chinese first: the source
        { { QStringLiteral("fr"), QStringLiteral("EN_us") }, "en" },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ChooseLanguage(row.ui, available).toStdString(), row.shown)
            << row.ui.join(',').toStdString();
    }
    EXPECT_EQ(ChooseLanguage({ QStringLiteral("en") }, {}).toStdString(), "zh_CN");
    EXPECT_TRUE(TranslatedLanguages().contains(QStringLiteral("en")));
}

// Engine messages are built from fixed texts, names and numbers: the texts are translated, the
// numbers and names keep their form.
TEST(Language, TranslatesEngineMessages)
{
    ASSERT_TRUE(InstallLanguage(QStringLiteral("en")));
    EXPECT_EQ(ShownLanguage().toStdString(), "en");
    const struct Row {
        const char* message;
        const char* english;
    } rows[] = {
        { "迭代公式错误:非法字符", "iteration formula error: invalid character" },
        { "载入调色板映射失败", "cannot read the palette mapping" },
        { "导出成功！用时[00-00:00:01,250000]", "Exported! Time [00-00:00:01,250000]" },
        { "绘制失败！错误代码[3]。用时[00-00:00:00,000001]",
            "Render failed! Error code [3]. Time [00-00:00:00,000001]" },
        { "保存文件失败！用时[00-00:00:00,5] /tmp/图片.png: Permission denied",
            "Cannot save the file! Time [00-00:00:00,5] /tmp/图片.png: Permission denied" },
        { "palette 'a.png' cannot be used", "palette 'a.png' cannot be used" },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TranslateMessage(row.message).toStdString(), row.english) << row.message;
    }
    ASSERT_TRUE(InstallLanguage(QStringLiteral("zh_CN")));
    EXPECT_EQ(TranslateMessage(rows[0].message).toStdString(), rows[0].message);
    EXPECT_FALSE(InstallLanguage(QStringLiteral("de")));
}

// A formula error's message stays the first line; where and what follow in the shown language, every
// word of the compiler's translated.
TEST(Language, FormulaErrorsSayWhereAndWhat)
{
    Picture picture;
    const FormulaError unknown = CompileFormulas(picture, "z = foo(z) + C;", "norm(z) > 100;");
    const FormulaError noZ = CompileFormulas(picture, "V = 1;", "norm(z) > 100;");
    ASSERT_TRUE(InstallLanguage(QStringLiteral("en")));
    for (int p = 1; p < static_cast<int>(FormulaProblem::kCount); ++p) {
        const char* source = ProblemMessage(static_cast<FormulaProblem>(p));
        EXPECT_NE(QCoreApplication::translate("Messages", source), QString::fromUtf8(source)) << source;
    }
    EXPECT_EQ(FormulaErrorText(unknown).toStdString(),
        "iteration formula error: invalid character\nline 1, column 5: unknown function 'foo'");
    ASSERT_TRUE(InstallLanguage(QStringLiteral("zh_CN")));
    EXPECT_EQ(
        FormulaErrorText(unknown).toStdString(), "迭代公式错误:非法字符\n第 1 行，第 5 列：未知的函数“foo”");
    EXPECT_EQ(FormulaErrorText(noZ).toStdString(), "迭代公式错误:未发现迭代变量")
        << "no place, no second line";
    EXPECT_EQ(FormulaErrorExcerpt(unknown), "  z = foo(z) + C;\n      ^~~\n");
}

} // namespace
