#include "cli.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome RunCli(std::vector<std::string> args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCommandLine(args, out, err);
    return { code, out.str(), err.str() };
}

TEST(CliEval, Outcomes)
{
    struct Row {
        std::vector<std::string> args;
        int code;
        const char* out;
        const char* errContains;
    };
    const Row rows[] = {
        { { "eval", "--code", "--", "z = z * z + C;" }, 0,
            "200 5 1\n201 5 1\n200 3 201\n201 5 100\n200 1 201\n1 5 200\n0 5 1\n0 0\n", "" },
        { { "eval", "--batch", "--", "z = z * z + C;" }, 0, "(2,3,1,1) (1,1,2,3) -> 1\n0 0\n", "" },
        { { "eval", "--", "2^-1" }, 0, "0.5 0\n", "" },
        { { "eval", "--", "-2^2" }, 0, "4 0\n", "" },
        { { "eval", "2*pi" }, 0, "6.2831853071795862 0\n", "" },
        { { "eval", "--set", "z=1", "--set", "C=1", "--runs", "3", "z = z * z + C;" }, 0, "2 0\n5 0\n26 0\n",
            "" },
        { { "eval", "--set", "C=+0.5,-1e-3", "C" }, 0, "0.5 -0.001\n", "" },
        { { "eval", "--runs", "0", "z" }, 0, "", "" },
        { { "eval", "1/0" }, 0, "nan nan\n", "" },
        { { "eval", "--", "" }, 1, "", "error 10: 公式为空" },
        { { "eval", "C = 1;" }, 1, "", "error 8: 错误的赋值语句" },
        { { "eval", "--code", "z +;" }, 1, "", "error 4: 缺少数据" },
        { { "eval", "--set", "q=1", "z" }, 2, "", "'q'" },
        { { "eval", "--set", "z=abc", "z" }, 2, "", "NAME=RE[,IM]" },
        { { "eval", "--set", "=1", "z" }, 2, "", "NAME=RE[,IM]" },
        { { "eval", "--runs", "-1", "z" }, 2, "", "--runs" },
        { { "eval", "--runs" }, 2, "", "needs a value" },
        { { "eval", "-2^2" }, 2, "", "unknown option '-2^2'" },
        { { "eval" }, 2, "", "missing FORMULA" },
        { { "eval", "z", "z" }, 2, "", "too many arguments" },
        { { "eval", "--" }, 2, "", "missing FORMULA" },
        { { "frobnicate" }, 2, "", "unknown command" },
        { {}, 2, "", "no command" },
    };
    for (const Row& row : rows) {
        const Outcome outcome = RunCli(row.args);
        std::string text;
        for (const std::string& arg : row.args) {
            text += arg + ' ';
        }
        EXPECT_EQ(outcome.code, row.code) << text;
        EXPECT_EQ(outcome.out, row.out) << text;
        EXPECT_NE(outcome.err.find(row.errContains), std::string::npos) << text << " -> " << outcome.err;
        if (row.code == 2) {
            EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
                << "a one-line hint: " << text;
        }
    }
}

TEST(CliEval, HelpAndVersion)
{
    EXPECT_EQ(RunCli({ "--help" }).code, 0);
    EXPECT_NE(RunCli({ "--help" }).out.find("eval"), std::string::npos);
    EXPECT_EQ(RunCli({ "--version" }).out, "glimmerset-cli 0.01\n");
    const Outcome help = RunCli({ "eval", "--help" });
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--set NAME=RE[,IM]"), std::string::npos);
}

// A decimal-comma locale must change neither what is printed nor what is accepted.
TEST(CliEval, LocaleIndependent)
{
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr
        && std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) {
        GTEST_SKIP() << "no decimal-comma locale installed";
    }
    const Outcome outcome = RunCli({ "eval", "--set", "z=0.25", "z * 2" });
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(outcome.out, "0.5 0\n");
}

} // namespace
