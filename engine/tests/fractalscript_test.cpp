#include "fractalscript.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(FractalScript, Construction)
{
    CFractalScript script;
    EXPECT_EQ(script.GetMaxIter(), 100);
    EXPECT_EQ(script.GetImageWidth(), 1024);
    EXPECT_EQ(script.GetRatio(), 1.0);
    EXPECT_EQ(script.GetIterFormula().GetText(), "");
    EXPECT_EQ(script.GetPaletteWidth(), 0);
    EXPECT_EQ(script.GetMapping(), PaletteMapping {});
    EXPECT_FALSE(script.IsModified());
}

TEST(FractalScript, Defaults)
{
    CFractalScript script;
    script.SetMapping(0.5, 0.5, 2, 2, 0.5, 0.5, 2.5);
    script.PreviewWorker().m_nStage.store(7);
    script.SetDefaults();
    EXPECT_EQ(script.GetIterFormula().GetText(), "z = z * z + C;");
    EXPECT_EQ(script.GetTermFormula().GetText(), "norm(z) > 100;");
    EXPECT_EQ(script.GetColorFormula().GetText(), "V_iter_n / V_iter_max;");
    ASSERT_EQ(script.GetIterFormula().GetConstantCount(), 1);
    EXPECT_EQ(script.GetCurrentConstantName(), "C");
    EXPECT_EQ(script.GetCurrentConstant().re, -0.78);
    EXPECT_EQ(script.GetCurrentConstant().im, -0.15);
    EXPECT_EQ(script.GetCurrentConstantIndex(), 0);
    EXPECT_EQ(script.GetMaxIter(), 256);
    EXPECT_EQ(script.GetOffsetX(), -1.0);
    EXPECT_EQ(script.GetOffsetY(), -1.0);
    EXPECT_EQ(script.GetRatio(), 0.001953125);
    EXPECT_EQ(script.GetImageWidth(), 1024);
    EXPECT_EQ(script.GetImageHeight(), 1024);
    EXPECT_EQ(script.GetMapping(), (PaletteMapping { 0, 0, 1, 1, 0, 1, 2.5 })) << "the stretch survives New";
    EXPECT_FALSE(script.IsModified());
    EXPECT_EQ(script.PreviewWorker().m_nStage.load(), 0);
}

TEST(FractalScript, FormulaFailures)
{
    struct Row {
        const char* iter;
        const char* term;
        const char* message;
        const char* iterTextAfter;
        const char* termTextAfter;
    };
    const Row rows[] = {
        { "z = z *", "norm(z) > 4;", "迭代公式错误:缺少数据", "", "norm(z) > 100;" },
        { "z1 = z1 * z1;", "norm(z) > 4;", "迭代公式错误:未发现迭代变量", "z1 = z1 * z1;", "norm(z) > 100;" },
        { "z = z * z;", "norm(z) >", "终止条件公式错误:缺少数据", "z = z * z;", "" },
        { "z = z * z;", "", "终止条件公式错误:公式为空", "z = z * z;", "" },
    };
    for (const Row& row : rows) {
        CFractalScript script;
        script.SetDefaults();
        script.PreviewWorker().m_nStage.store(5);
        std::string err;
        EXPECT_FALSE(script.SetFormulas(row.iter, row.term, err)) << row.iter;
        EXPECT_EQ(err, row.message) << row.iter;
        EXPECT_EQ(script.GetIterFormula().GetText(), row.iterTextAfter) << row.iter;
        EXPECT_EQ(script.GetTermFormula().GetText(), row.termTextAfter) << row.iter;
        EXPECT_FALSE(script.IsModified()) << "a failure changes neither the flag nor the stage: " << row.iter;
        EXPECT_EQ(script.PreviewWorker().m_nStage.load(), 5) << row.iter;
    }
    CFractalScript script;
    std::string err = "untouched";
    EXPECT_FALSE(script.SetColorFormula("V_iter_n /", err));
    EXPECT_EQ(err, "取色公式错误:缺少数据");
    err = "untouched";
    EXPECT_TRUE(script.SetColorFormula("V_iter_n", err));
    EXPECT_EQ(err, "untouched");
    EXPECT_TRUE(script.IsModified());
}

TEST(FractalScript, Constants)
{
    std::string err;
    CFractalScript three;
    three.SetDefaults();
    ASSERT_TRUE(three.SetFormulas("z = z * z * Ca + Cb + Cc;", "norm(z) > 4;", err));
    EXPECT_EQ(three.GetCurrentConstantIndex(), 0);
    EXPECT_EQ(three.PrevConstant(), 2);
    EXPECT_EQ(three.NextConstant(), 0);
    EXPECT_EQ(three.NextConstant(), 1);
    three.PreviewWorker().m_nStage.store(9);
    EXPECT_TRUE(three.SetCurrentConstant({ 2, 3 }));
    EXPECT_EQ(three.GetIterFormula().GetConstant(1).im, 3);
    EXPECT_EQ(three.GetCurrentConstantName(), "Cb");
    EXPECT_EQ(three.PreviewWorker().m_nStage.load(), 0);

    // A recompilation that changes the number of constants does not move the index; users check it.
    CFractalScript fewer;
    fewer.SetDefaults();
    ASSERT_TRUE(fewer.SetFormulas("z = z * z * Ca + Cb + Cc;", "norm(z) > 4;", err));
    fewer.PrevConstant();
    ASSERT_TRUE(fewer.SetFormulas("z = z * z;", "norm(z) > 4;", err));
    EXPECT_EQ(fewer.GetCurrentConstantIndex(), 2);
    EXPECT_EQ(fewer.PrevConstant(), 2) << "no constants: the index stays";
    EXPECT_EQ(fewer.NextConstant(), 2);
    EXPECT_EQ(fewer.GetCurrentConstantName(), "");
    EXPECT_EQ(fewer.GetCurrentConstant().re, 0);
    const QTemporaryDir dir;
    ASSERT_TRUE(fewer.Save(dir.filePath(QStringLiteral("fewer.gsc"))));
    ASSERT_FALSE(fewer.IsModified());
    fewer.PreviewWorker().m_nStage.store(4);
    EXPECT_FALSE(fewer.SetCurrentConstant({ 1, 1 }));
    EXPECT_EQ(fewer.PreviewWorker().m_nStage.load(), 0) << "still restarts the preview";
    EXPECT_TRUE(fewer.IsModified()) << "the key press was an edit";

    // An index left out of range by a recompilation is brought back into the ring.
    ASSERT_TRUE(fewer.SetFormulas("z = z * Ca + Cb;", "norm(z) > 4;", err));
    EXPECT_EQ(fewer.NextConstant(), 1);
}

TEST(FractalScript, Setters)
{
    struct MappingRow {
        double sin, cos;
        double storedSin, storedCos;
    };
    const MappingRow rows[]
        = { { 1.5, 0, 1, 0 }, { -2, 0, -1, 0 }, { 0.5, 3, 0.5, 3 }, { -0.25, -1, -0.25, -1 } };
    for (const MappingRow& row : rows) {
        CFractalScript script;
        script.PreviewWorker().m_nStage.store(3);
        script.SetMapping(0.1, 0.2, 0.3, 0.4, row.sin, row.cos, 5);
        EXPECT_EQ(
            script.GetMapping(), (PaletteMapping { 0.1, 0.2, 0.3, 0.4, row.storedSin, row.storedCos, 5 }))
            << row.sin;
        EXPECT_TRUE(script.IsModified());
        EXPECT_EQ(script.PreviewWorker().m_nStage.load(), 0);
    }

    CFractalScript script;
    script.SetImageSize(50, 5000);
    EXPECT_EQ(script.GetImageWidth(), 100);
    EXPECT_EQ(script.GetImageHeight(), 4096);
    EXPECT_TRUE(script.IsModified());
    script.SetDefaults();
    script.PreviewWorker().m_nStage.store(6);
    script.SetImageSize(1024, 1024);
    EXPECT_FALSE(script.IsModified()) << "an unchanged size changes nothing";
    EXPECT_EQ(script.PreviewWorker().m_nStage.load(), 6);
    script.SetImageSize(1000, 100000);
    EXPECT_EQ(script.GetImageHeight(), 4096);

    script.SetDefaults();
    script.SetMaxIter(0);
    EXPECT_EQ(script.GetMaxIter(), 1);
    script.SetMaxIter(20000);
    EXPECT_EQ(script.GetMaxIter(), 10000);
    script.SetExtendedMaxIter(20000);
    EXPECT_EQ(script.GetMaxIter(), 20000);
    script.SetExtendedMaxIter(5'000'000'000LL);
    EXPECT_EQ(script.GetMaxIter(), 1'000'000'000);
    script.SetExtendedMaxIter(-5);
    EXPECT_EQ(script.GetMaxIter(), 1);

    script.SetDefaults();
    script.SetView(0.5, -0.25, 1e-9);
    EXPECT_EQ(script.GetOffsetX(), 0.5);
    EXPECT_EQ(script.GetRatio(), 1e-9);
    EXPECT_TRUE(script.IsModified());
}

} // namespace
