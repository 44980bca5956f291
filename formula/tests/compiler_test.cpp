#include "formula.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Compiler, GoldenCode)
{
    struct Row {
        const char* text;
        const char* dump;
    };
    const Row rows[] = {
        { "z = z * z + C;", "(200,5,1) (201,5,1) (200,3,201) (201,5,100) (200,1,201) (1,5,200) (0,5,1)" },
        { "z = z * z + C", "(200,5,1) (201,5,1) (200,3,201) (201,5,100) (200,1,201) (1,5,200) (0,5,1)" },
        { "norm(z) > 100;", "(201,5,1) (201,21,-1) (202,5,200) (201,9,202) (0,5,201)" },
        { "V_iter_n / V_iter_max;", "(200,5,1) (201,5,2) (200,4,201) (0,5,200)" },
        { "-2^2", "(201,5,200) (201,0,-1) (202,5,200) (201,12,202) (0,5,201)" },
        { "2^-1", "(202,5,200) (203,5,201) (203,0,-1) (202,12,203) (0,5,202)" },
        { "2^3^2", "(202,5,200) (203,5,201) (202,12,203) (203,5,200) (202,12,203) (0,5,202)" },
        { "(1+2)i", "(202,5,200) (203,5,201) (202,1,203) (202,13,-1) (0,5,202)" },
        { "z = (z > 1);", "(201,5,1) (202,5,200) (201,9,202) (1,5,201) (0,5,1)" },
        { "sin(cos(z))", "(200,5,1) (200,27,-1) (200,26,-1) (0,5,200)" },
        { "z = 1; z + 1;", "(201,5,200) (1,5,201) (0,5,1) (201,5,1) (202,5,200) (201,1,202) (0,5,201)" },
        { "= z", "(200,5,1) (0,5,200)" },
        { ";", "" },
        { "()", "" },
        { "z;;", "(200,5,1) (0,5,200)" },
    };
    for (const Row& row : rows) {
        CFormula formula;
        std::string error = "untouched";
        EXPECT_EQ(formula.Compile(row.text, error), 0) << row.text;
        EXPECT_EQ(error, "untouched") << row.text;
        EXPECT_EQ(formula.Dump(), row.dump) << row.text;
        EXPECT_EQ(formula.GetText(), row.text) << row.text;
        EXPECT_TRUE(formula.Verify()) << row.text;
    }
}

TEST(Compiler, Errors)
{
    struct Row {
        const char* text;
        int code;
        const char* message;
    };
    const Row rows[] = {
        { "", 10, "公式为空" },
        { "  \n\t\r ", 10, "公式为空" },
        { "C = 1;", 8, "错误的赋值语句" },
        { "2 = z;", 8, "错误的赋值语句" },
        { "+ = z;", 8, "错误的赋值语句" },
        { "z = z > 1;", 6, "编译错误" },
        { "z > 1 > 0;", 6, "编译错误" },
        { "--z", 6, "编译错误" },
        { "-=z", 8, "错误的赋值语句" },
        { "z+-=1", 6, "编译错误" },
        { "z z;", 6, "编译错误" },
        { "(z", 6, "编译错误" },
        { "z)", 6, "编译错误" },
        { "sin(z > 1)", 6, "编译错误" },
        { "sin(z = 1)", 6, "编译错误" },
        { "z = V1 = 2;", 6, "编译错误" },
        { "z = 1 2;", 6, "编译错误" },
        { "2ii", 6, "编译错误" },
        { "2i z", 6, "编译错误" },
        { "2i-1", 6, "编译错误" },
        { "(z)(z)", 6, "编译错误" },
        { "sin()", 4, "缺少数据" },
        { "z +;", 4, "缺少数据" },
        { "*z", 4, "缺少数据" },
        { "-", 4, "缺少数据" },
        { "z =;", 4, "缺少数据" },
        { "x", 2, "非法字符" },
        { "z ! 1", 2, "非法字符" },
        { "2e+5", 2, "非法字符" },
    };
    for (const Row& row : rows) {
        CFormula formula;
        std::string error;
        EXPECT_EQ(formula.Compile(row.text, error), row.code) << row.text;
        EXPECT_EQ(error, row.message) << row.text;
        EXPECT_EQ(formula.GetText(), "") << row.text;
        EXPECT_TRUE(formula.Verify()) << row.text;
    }
}

// Where a failed compile points and what it says: line and column of the marked text, and the words.
TEST(Compiler, Diagnostics)
{
    struct Row {
        const char* text;
        int line, column;
        const char* marked;
        const char* words;
    };
    const Row rows[] = {
        { "z = z * z + D;", 1, 13, "D", "未知的名称“D”：常量名以 C 开头" },
        { "z = foo(z) + C;", 1, 5, "foo", "未知的函数“foo”" },
        { "z = 2z + C;", 1, 5, "2z", "数后面直接跟着名称：请写作 2 * z" },
        { "z = z * z\n  + x1;", 2, 5, "x1", "未知的名称“x1”：变量名以 z 或 V 开头" },
        { "z = exp2(z);", 1, 5, "exp2", "未知的函数“exp2”" },
        { "z = sin z;", 1, 5, "sin", "函数名“sin”后面要紧跟“(”" },
        { "z = z（1）;", 1, 6, "（", "不能使用的字符“（”" },
        { "é = 1; z = z # 1;", 1, 1, "é", "不能使用的字符“é”" },
        { "z ! 1", 1, 3, "!", "“!”后面要跟“=”：不等于写作 !=" },
        { "2e+5", 1, 1, "2e", "不完整的数“2e”" },
        { "z = z C;", 1, 5, "z C", "“z”和“C”之间缺少运算符" },
        { "(z)(z)", 1, 3, ")(", "“)”和“(”之间缺少运算符" },
        { "z = (z + 1;", 1, 5, "(", "“(”没有配对的“)”" },
        { "z = sin(z;", 1, 5, "sin(", "“sin(”没有配对的“)”" },
        { "z)", 1, 2, ")", "“)”前面没有配对的“(”" },
        { "z +;", 1, 3, "+", "运算符“+”缺少运算数" },
        { "z =;", 1, 3, "=", "“=”后面缺少值" },
        { "sin()", 1, 1, "sin(", "函数“sin()”缺少参数" },
        { "C = 1;", 1, 1, "C", "不能给常量“C”赋值：公式只读取常量" },
        { "z = 1;\n2 = z;", 2, 1, "2", "只能给变量赋值，“2”不是变量" },
        { "z = V1 = 2;", 1, 8, "=", "表达式中间的“=”：相等比较写作 ==" },
        { "z = z > 1;", 1, 7, ">", "比较“>”在这里要加括号" },
        { "sin(z < 1)", 1, 7, "<", "比较“<”在这里要加括号" },
        { "--z", 1, 2, "-", "这里不能出现“-”" },
    };
    for (const Row& row : rows) {
        CFormula formula;
        std::string message;
        std::string plain;
        CompileDiagnostic d;
        const int code = formula.Compile(row.text, message, &d);
        EXPECT_NE(code, 0) << row.text;
        EXPECT_EQ(CFormula().Compile(row.text, plain), code)
            << row.text << ": the same code without a diagnostic";
        EXPECT_EQ(plain, message) << row.text;
        EXPECT_EQ(d.line, row.line) << row.text;
        EXPECT_EQ(d.column, row.column) << row.text;
        EXPECT_EQ(std::string_view(row.text).substr(d.offset, d.length), row.marked) << row.text;
        EXPECT_EQ(DescribeProblem(d), row.words) << row.text;
    }
    CompileDiagnostic empty;
    CFormula formula;
    std::string message;
    EXPECT_EQ(formula.Compile(" ", message, &empty), 10);
    EXPECT_EQ(empty.line, 0) << "an empty formula has no place";
}

// Renaming reads names as the compiler does: not inside function names, numbers or longer names.
TEST(Compiler, RenameNames)
{
    const std::vector<std::pair<std::string, std::string>> renames { { "z", "zq" }, { "C", "z" },
        { "z0", "zq0" } };
    const struct {
        const char* text;
        const char* renamed;
    } rows[] = {
        { "z = z * z + C;", "zq = zq * zq + z;" },
        { "z = sinh(z) * C1 + C + z0 + z1;", "zq = sinh(zq) * C1 + z + zq0 + z1;" },
        { "z = 2z + exp(z)^e;", "zq = 2zq + exp(zq)^e;" },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RenameFormulaNames(row.text, renames).value_or("(none)"), row.renamed) << row.text;
    }
    EXPECT_FALSE(RenameFormulaNames("z = D;", renames).has_value());
}

TEST(Compiler, Capacities)
{
    std::string error;
    // 512 statements "z;" are exactly 1024 tokens and 1024 instructions, the densest code there is:
    // no token emits more than one instruction on average, so the instruction cap holds at the token cap.
    std::string full;
    for (int i = 0; i < 512; ++i) {
        full += "z;";
    }
    CFormula formula;
    EXPECT_EQ(formula.Compile(full, error), 0);
    EXPECT_EQ(formula.GetInstructionCount(), 1024);
    EXPECT_TRUE(formula.Verify());
    CompileDiagnostic where;
    EXPECT_EQ(formula.Compile(full + "z", error, &where), 1) << "1025 tokens";
    EXPECT_EQ(error, "临时变量溢出");
    EXPECT_EQ(where.column, 1025) << "the token that did not fit";
    EXPECT_EQ(DescribeProblem(where), "记号超过 1024 个");

    // The final ";" counts: it is appended only when there is room.
    std::string sum = "z";
    for (int i = 0; i < 511; ++i) {
        sum += "+z";
    }
    ASSERT_EQ(sum.size(), 1023u);
    EXPECT_EQ(formula.Compile(sum + ";", error), 0) << "1024 tokens with the final ;";
    EXPECT_EQ(formula.Compile("-" + sum, error), 1) << "1024 tokens and no room for the final ;";

    // 1023 literals leave room for one temporary: the second operand overflows the scratch area.
    std::string literals;
    for (int i = 0; i < 1023; ++i) {
        literals += std::to_string(i) + ' ';
    }
    error.clear();
    EXPECT_EQ(formula.Compile(literals, error), 1);
    EXPECT_EQ(error, "临时变量溢出");

    // Deep nesting stays inside the operator stack and the scratch area.
    std::string nested = std::string(500, '(') + "z" + std::string(500, ')');
    EXPECT_EQ(formula.Compile(nested, error), 0);
    EXPECT_EQ(formula.GetInstructionCount(), 2);
}

TEST(Compiler, ConstantsCarryOver)
{
    std::string error;
    CFormula formula;
    ASSERT_EQ(formula.Compile("C1*z", error), 0);
    ASSERT_TRUE(formula.SetConstant(formula.FindConstant("C1"), { 5, 1 }));

    ASSERT_EQ(formula.Compile("C1*z + C2", error), 0);
    EXPECT_EQ(formula.GetConstant(formula.FindConstant("C1")).re, 5);
    EXPECT_EQ(formula.GetConstant(formula.FindConstant("C1")).im, 1);
    EXPECT_EQ(formula.GetConstant(formula.FindConstant("C2")).re, 0);
    ASSERT_TRUE(formula.SetConstant(formula.FindConstant("C2"), { 7, 0 }));

    // C2 moves from slot 101 to slot 100 and keeps its value; C1 is dropped.
    ASSERT_EQ(formula.Compile("C2*z", error), 0);
    EXPECT_EQ(formula.FindConstant("C1"), -1);
    EXPECT_EQ(formula.FindConstant("C2"), 0);
    EXPECT_EQ(formula.GetConstant(0).re, 7);

    // A failed compilation loses the values: the next success starts them at 0.
    EXPECT_NE(formula.Compile("C2*", error), 0);
    ASSERT_EQ(formula.Compile("C2*z", error), 0);
    EXPECT_EQ(formula.GetConstant(0).re, 0);
}

} // namespace
