#include "formula.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>

namespace {

constexpr double kPi = std::numbers::pi;

Complex RunOnce(const char* text)
{
    CFormula formula;
    std::string error;
    EXPECT_EQ(formula.Compile(text, error), 0) << text << ": " << error;
    return formula.Run();
}

TEST(Formula, RunResults)
{
    struct Row {
        const char* text;
        Complex want;
        double tolerance; // 0: exact
    };
    const Row rows[] = {
        { "-2^2", { 4, 0 }, 0 },
        { "2^-1", { 0.5, 0 }, 0 },
        { "2^3^2", { 64, 0 }, 0 },
        { "1 - 2 - 3", { -4, 0 }, 0 },
        { "8 / 2 / 2", { 2, 0 }, 0 },
        { "2 + 3 * 4 ^ 2", { 50, 0 }, 0 },
        { "z = 1; z + 1;", { 2, 0 }, 0 },
        { "z + 1; z = 5;", { 5, 0 }, 0 },
        { "z = 2;", { 2, 0 }, 0 },
        { ";", { 0, 0 }, 0 },
        { "2i", { 0, 2 }, 0 },
        { "(1+2i)i", { 2, 1 }, 0 },
        { "i*i", { -1, 0 }, 0 },
        { "z = 3; z > 2", { 1, 0 }, 0 },
        { "(1+5i) < (2+3i)", { 1, 0 }, 0 },
        { "1.5e-3 * 1000", { 1.5, 0 }, 1e-15 },
        { "e^(i*pi)", { -1, 0 }, 1e-15 },
        { "norm(3+4i)", { 25, 0 }, 0 },
        { "abs(3+4i)", { 5, 0 }, 0 },
        { "conj(1+2i) + real(5i) + imag(7i)", { 8, -2 }, 0 },
        { "sqrt(0-4)", { 0, 2 }, 0 },
        { "0.5 ^ 1e10", { 0, 0 }, 0 },
        { "(0 - 1) ^ 1e10", { 1, 0 }, 1e-300 },
        // In a formula -1 is -1 - 0i (negation flips both parts); 0 - 1 is -1 + 0i.
        { "arg(-1)", { -kPi, 0 }, 0 },
        { "arg(0-1)", { kPi, 0 }, 0 },
        { "log(-1)", { 0, -kPi }, 0 },
        { "log(0-1)", { 0, kPi }, 0 },
        { "(0-1)^0.5", { 0, 1 }, 1e-15 },
        { "-1^0.5", { 0, -1 }, 1e-15 },
    };
    for (const Row& row : rows) {
        const Complex got = RunOnce(row.text);
        if (row.tolerance == 0) {
            EXPECT_EQ(got.re, row.want.re) << row.text;
            EXPECT_EQ(got.im, row.want.im) << row.text;
        } else {
            EXPECT_NEAR(got.re, row.want.re, row.tolerance) << row.text;
            EXPECT_NEAR(got.im, row.want.im, row.tolerance) << row.text;
        }
    }
}

TEST(Formula, StateBetweenRuns)
{
    CFormula empty;
    EXPECT_EQ(empty.Run().re, 0);
    EXPECT_EQ(empty.Run().im, 0);

    std::string error;
    CFormula julia;
    ASSERT_EQ(julia.Compile("z = z * z + C;", error), 0);
    ASSERT_TRUE(julia.SetVariable(julia.FindVariable("z"), { 1, 0 }));
    ASSERT_TRUE(julia.SetConstant(julia.FindConstant("C"), { 1, 0 }));
    EXPECT_EQ(julia.Run().re, 2);
    EXPECT_EQ(julia.Run().re, 5);
    EXPECT_EQ(julia.GetVariable(julia.FindVariable("z")).re, 5);

    // Variables keep their values between runs; the value is the last statement that produced one.
    CFormula counter;
    ASSERT_EQ(counter.Compile("V1 = V1 + 1; ()", error), 0);
    EXPECT_EQ(counter.Run().re, 1);
    EXPECT_EQ(counter.Run().re, 2);
    EXPECT_EQ(counter.GetVariable(counter.FindVariable("V1")).re, 2);
}

TEST(Formula, Accessors)
{
    std::string error;
    CFormula formula;
    ASSERT_EQ(formula.Compile("z = z * Ca + Cb; V_x", error), 0);
    EXPECT_EQ(formula.GetVariableCount(), 3); // V_LAST_RESULT, z, V_x
    EXPECT_EQ(formula.FindVariable("V_LAST_RESULT"), 0);
    EXPECT_EQ(formula.FindVariable("z"), 1);
    EXPECT_EQ(formula.FindVariable("Z"), -1);
    EXPECT_EQ(formula.FindVariable("V_x"), 2);
    EXPECT_FALSE(formula.SetVariable(3, { 1, 1 }));
    EXPECT_FALSE(formula.SetVariable(-1, { 1, 1 }));
    EXPECT_EQ(formula.GetConstantCount(), 2);
    EXPECT_EQ(formula.GetConstantName(0), "Ca");
    EXPECT_EQ(formula.GetConstantName(1), "Cb");
    EXPECT_EQ(formula.GetConstantName(2), "");
    EXPECT_EQ(formula.GetConstantName(-1), "");
    EXPECT_EQ(formula.FindConstant("Cb"), 1);
    EXPECT_EQ(formula.FindConstant("cb"), -1);
    EXPECT_FALSE(formula.SetConstant(2, { 1, 1 }));
    EXPECT_TRUE(formula.SetConstant(1, { 3, 4 }));
    EXPECT_EQ(formula.GetConstant(1).im, 4);
    EXPECT_EQ(formula.GetConstant(-1).re, 0);
    EXPECT_EQ(formula.GetConstant(2).re, 0);
}

TEST(Formula, CopiesAreIndependent)
{
    std::string error;
    CFormula original;
    ASSERT_EQ(original.Compile("z = z * z + C;", error), 0);
    original.SetConstant(0, { 1, 0 });
    original.SetVariable(1, { 1, 0 });

    CFormula copy(original);
    EXPECT_EQ(copy.Dump(), original.Dump());
    EXPECT_EQ(copy.GetText(), original.GetText());
    EXPECT_EQ(copy.Run().re, 2);
    EXPECT_EQ(copy.Run().re, 5);
    EXPECT_EQ(original.Run().re, 2) << "the copy's runs did not touch the original";

    CFormula assigned;
    ASSERT_EQ(assigned.Compile("C9 + z1 + z2", error), 0);
    assigned = original;
    EXPECT_EQ(assigned.GetConstantCount(), 1);
    EXPECT_EQ(assigned.FindVariable("z1"), -1);
    EXPECT_EQ(assigned.Run().re, 5);
    ASSERT_EQ(assigned.Compile("C*2", error), 0);
    EXPECT_EQ(assigned.GetConstant(0).re, 1);
    EXPECT_EQ(original.GetText(), "z = z * z + C;");
}

// Whatever the text, compilation ends with a known code and a program that stays inside its slots.
TEST(Formula, RandomTextStaysInsideTheSlots)
{
    const std::string alphabet = "zVC0123456789.e-+*/^()=<>!;i \tpasqrtnhlogcbxmj_\xff";
    std::mt19937 random(20261207);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    CFormula formula;
    int compiled = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n) {
            text += alphabet[pick(random)];
        }
        std::string error;
        const int code = formula.Compile(text, error);
        ASSERT_GE(code, 0) << text;
        ASSERT_LE(code, 10) << text;
        ASSERT_TRUE(formula.Verify()) << text;
        if (code == 0) {
            ++compiled;
            formula.Run();
        } else if (code != 3) {
            ASSERT_EQ(error, CompileMessage(code)) << text;
        }
    }
    EXPECT_GT(compiled, 100) << "the corpus must reach the code generator";
}

} // namespace
