#include "lexer.h"

#include <gtest/gtest.h>

#include <numbers>
#include <string>
#include <vector>

namespace {

// Lexes text into a formula whose tables hold only V_LAST_RESULT, as Compile prepares them.
struct Lexed {
    int code { 0 };
    std::string message;
    std::vector<int32_t> tokens;
    CFormula formula;
};

Lexed Lex(std::string_view text)
{
    Lexed out;
    std::string ignored;
    EXPECT_EQ(out.formula.Compile(";", ignored), 0);
    out.code = CLexer(text, out.formula).Lex(out.tokens, out.message);
    return out;
}

std::string Show(const std::vector<int32_t>& tokens)
{
    std::string s;
    for (int32_t t : tokens) {
        s += std::to_string(t) + ' ';
    }
    return s;
}

TEST(Lexer, Tokens)
{
    struct Row {
        const char* text;
        std::vector<int32_t> tokens;
    };
    // z is slot 1 (slot 0 is V_LAST_RESULT), C is 100, the first literal 200; operators are -1 - code.
    const Row rows[] = {
        { "z = z * z + C;", { 1, -6, 1, -4, 1, -2, 100, -33 } },
        { "norm(z) > 100;", { -22, 1, -16, -10, 200, -33 } },
        { "z*z+C", { 1, -4, 1, -2, 100 } },
        { "z\t*\r\nz  ", { 1, -4, 1 } },
        { "exp(1)", { -23, 200, -16 } },
        { "e", { 200 } },
        { "e*2", { 200, -4, 201 } },
        { "pi2", { 200, 201 } },
        { "imag(z)", { -21, 1, -16 } },
        { "sinh(z)+sin(z)", { -30, 1, -16, -2, -27, 1, -16 } },
        { "log10(z)", { -25, 1, -16 } },
        { "2i", { 200, -14 } },
        { "i", { 200 } },
        { "2*i", { 200, -4, 201 } },
        { "(1+2)i", { -15, 200, -2, 201, -16, -14 } },
        { "3 - 2", { 200, -3, 201 } },
        { "-3", { -1, 200 } },
        { "2*-3", { 200, -4, -1, 201 } },
        { "(-3)", { -15, -1, 200, -16 } },
        { "2i-1", { 200, -14, -1, 201 } },
        { "2i+(-1)", { 200, -14, -2, -15, -1, 201, -16 } },
        { "1.5e-3", { 200 } },
        { "2.50+2.5", { 200, -2, 201 } },
        { "2+2", { 200, -2, 200 } },
        { "V_iter_n z0 C1 Cabc_2", { 1, 2, 100, 101 } },
        { "z<=1", { 1, -9, 200 } },
        { "z>=1", { 1, -11, 200 } },
        { "z==1", { 1, -7, 200 } },
        { "z!=1", { 1, -12, 200 } },
        { "z<1", { 1, -8, 200 } },
        { "= =", { -6, -6 } },
        { "z^z/z", { 1, -13, 1, -5, 1 } },
        { "", {} },
        { " \t\r\n", {} },
    };
    for (const Row& row : rows) {
        const Lexed lexed = Lex(row.text);
        EXPECT_EQ(lexed.code, 0) << row.text;
        EXPECT_EQ(Show(lexed.tokens), Show(row.tokens)) << row.text;
    }
}

TEST(Lexer, IllegalCharacters)
{
    const char* const rows[] = {
        "ex",
        "pix",
        "x1",
        "Z",
        "sin (z)",
        ".5",
        "1,2",
        "z＝1",
        "\xff",
        // A number may not end right after its ".", "e" or "e-".
        "2.",
        "2.x",
        "2e",
        "2e-",
        "2e+5",
        "2e-x",
        "2.5.3",
        // A "!" must start "!=".
        "!",
        "z!z",
        "z ! = 1",
    };
    for (const char* text : rows) {
        const Lexed lexed = Lex(text);
        EXPECT_EQ(lexed.code, 2) << text;
        EXPECT_EQ(lexed.message, "非法字符") << text;
    }
    // An embedded NUL is a character of the text, not its end.
    const Lexed nul = Lex(std::string_view("z\0", 2));
    EXPECT_EQ(nul.code, 2);
}

TEST(Lexer, LiteralsAndNames)
{
    const Lexed number = Lex("1.5e-3 + 12 + 0.5");
    ASSERT_EQ(number.code, 0);
    EXPECT_EQ(number.formula.GetSlotName(200), "1.5e-3");
    EXPECT_DOUBLE_EQ(number.formula.GetSlots()[200].re, 0.0015);
    EXPECT_EQ(number.formula.GetSlotName(201), "12");
    EXPECT_EQ(number.formula.GetSlots()[201].re, 12.0);
    EXPECT_EQ(number.formula.GetSlots()[202].re, 0.5);

    const Lexed named = Lex("pi + e + i");
    ASSERT_EQ(named.code, 0);
    EXPECT_EQ(named.formula.GetSlots()[200].re, std::numbers::pi);
    EXPECT_EQ(named.formula.GetSlots()[201].re, std::numbers::e);
    EXPECT_EQ(named.formula.GetSlots()[202].re, 0.0);
    EXPECT_EQ(named.formula.GetSlots()[202].im, 1.0);
    EXPECT_EQ(named.formula.GetSlotName(202), "i");

    // Names have no length limit of their own.
    const std::string longName = "z" + std::string(10000, 'a');
    const Lexed longLexed = Lex(longName + "+" + longName);
    ASSERT_EQ(longLexed.code, 0);
    EXPECT_EQ(Show(longLexed.tokens), "1 -2 1 ");
    EXPECT_EQ(longLexed.formula.GetSlotName(1), longName);
}

TEST(Lexer, Capacities)
{
    std::string text;
    for (int i = 0; i < 1024; ++i) {
        text += "z ";
    }
    EXPECT_EQ(Lex(text).code, 0) << "1024 tokens";
    EXPECT_EQ(Lex(text + "z").code, 1) << "1025 tokens";
    EXPECT_EQ(Lex(text + "z").message, "临时变量溢出");

    std::string variables = "z1";
    for (int i = 2; i <= 99; ++i) {
        variables += "+z" + std::to_string(i);
    }
    EXPECT_EQ(Lex(variables).code, 0) << "99 variables besides V_LAST_RESULT";
    const Lexed tooManyVariables = Lex(variables + "+z100");
    EXPECT_EQ(tooManyVariables.code, 3);
    EXPECT_EQ(tooManyVariables.message, "变量溢出");

    std::string constants = "C0";
    for (int i = 1; i < 100; ++i) {
        constants += "+C" + std::to_string(i);
    }
    EXPECT_EQ(Lex(constants).code, 0) << "100 constants";
    const Lexed tooManyConstants = Lex(constants + "+C100");
    EXPECT_EQ(tooManyConstants.code, 3);
    EXPECT_EQ(tooManyConstants.message, "常量溢出");
    // A name beginning with z that holds a C is still a variable.
    EXPECT_EQ(Lex(variables + "+zC").message, "变量溢出");
}

} // namespace
