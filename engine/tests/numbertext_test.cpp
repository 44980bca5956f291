#include "numbertext.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <clocale>
#include <cmath>
#include <future>
#include <limits>
#include <string>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Runs body with a decimal-comma locale set; skips when none is installed.
template <typename Body> void InGermanLocale(Body body)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.utf8")) {
        GTEST_SKIP() << "no German locale installed";
    }
    const bool comma = std::string(std::localeconv()->decimal_point) == ",";
    body();
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(comma) << "the German locale does not write a decimal comma";
}

// Every formatter by its use, row by row.
TEST(NumberText, Formats)
{
    using Format = std::string (*)(double);
    const struct {
        Format format;
        double value;
        const char* text;
    } rows[] = {
        // Script files: six decimals when they read back, the shortest text otherwise.
        { FormatScriptNumber, -0.78, "-0.780000" },
        { FormatScriptNumber, 0.001953125, "0.001953125" },
        { FormatScriptNumber, 1.5e-12, "1.5e-12" },
        { FormatScriptNumber, 1, "1.000000" },
        { FormatScriptNumber, -0.0, "-0.000000" },
        { FormatScriptNumber, 256, "256.000000" },
        { FormatScriptNumber, 1.0 / 3.0, "0.3333333333333333" },
        { FormatScriptNumber, 1e-7, "1e-07" },
        { FormatScriptNumber, kInf, "inf" },
        { FormatScriptNumber, -kInf, "-inf" },
        { FormatScriptNumber, std::nan(""), "nan" },
        { FormatScriptNumber, -std::nan(""), "nan" },
        // Fields: fifteen significant digits, so that OK must not round a value away.
        { FormatFieldNumber, 0.1, "0.1" },
        { FormatFieldNumber, 1.0 / 3.0, "0.333333333333333" },
        { FormatFieldNumber, -0.0, "-0" },
        { FormatFieldNumber, 100000000, "100000000" },
        { FormatFieldNumber, 0.001953125, "0.001953125" },
        // Panels.
        { FormatPanelNumber, 0.01, "0.01" },
        { FormatPanelNumber, 2.0, "2" },
        { FormatPanelNumber, -0.78, "-0.78" },
        { FormatPanelNumber, 1.5e12, "1.5*10^12" },
        { FormatPanelNumber, 2.5e-7, "2.5*10^-7" },
        { FormatPanelNumber, 1e-250, "0" },
        { FormatPanelNumber, 0.123456789, "0.12345679" },
        { FormatPanelNumber, -0.0, "-0" },
        { FormatPanelNumber, 0.0, "0" },
        { FormatPanelNumber, 9.9999999999, "10" },
        // The mantissa is rounded only after it was brought below 10.
        { FormatPanelNumber, 9.99999999999e10, "10*10^10" },
        { FormatPanelNumber, 1e10, "1*10^10" },
        { FormatPanelNumber, -1.5e12, "-1.5*10^12" },
        { FormatPanelNumber, 9999999999.0, "9999999999" },
        { FormatPanelNumber, 1e-6, "0.000001" },
        { FormatPanelNumber, -2.5e-7, "-2.5*10^-7" },
        // The smallest magnitude that still gets an exponent, and the largest double.
        { FormatPanelNumber, 1e-200, "1*10^-200" },
        { FormatPanelNumber, 5e-324, "0" },
        { FormatPanelNumber, std::numeric_limits<double>::max(), "1.79769313*10^308" },
        { FormatPanelNumber, kInf, "inf" },
        { FormatPanelNumber, -kInf, "-inf" },
        { FormatPanelNumber, std::numeric_limits<double>::quiet_NaN(), "nan" },
        // The tool.
        { FormatG17, 0.1, "0.10000000000000001" },
        { FormatG17, -0.0, "-0" },
        { FormatShortest, -0.78, "-0.78" },
        { FormatShortest, 1e-9, "1e-09" },
    };
    // Infinities and NaN would keep the panel's scaling loops going for ever: run where a hang shows.
    auto done = std::async(std::launch::async, [&rows] {
        for (const auto& row : rows) {
            EXPECT_EQ(row.format(row.value), row.text) << row.text;
        }
    });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "formatting hangs";
    done.get();
}

TEST(NumberText, ScriptNumbersReadBack)
{
    for (const double value : { 1e300, -1.7976931348623157e308, 4.9e-324, 0.1, 123456.7890123 }) {
        double back = 0;
        ASSERT_EQ(ScanNumbers(FormatScriptNumber(value), &back, 1), 1) << value;
        EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(value)) << value;
    }
}

TEST(NumberText, ScanScriptNumbers)
{
    const struct {
        const char* text;
        int count;
        int converted;
        double first, second;
    } rows[] = {
        { "1, 2", 2, 2, 1, 2 },
        { "1,2", 2, 2, 1, 2 },
        { "1 ,2", 2, 1, 1, 0 },
        { "  -1e-9,\t\n 5", 2, 2, -1e-9, 5 },
        { "+0x10, 1", 2, 2, 16, 1 },
        { "inf, -INFINITY", 2, 2, kInf, -kInf },
        { "1e400, 1e-400", 2, 2, kInf, 0 },
        { "1,", 2, 1, 1, 0 },
        { "", 1, 0, 0, 0 },
        { "abc", 1, 0, 0, 0 },
        { "2.5xyz", 1, 1, 2.5, 0 },
    };
    for (const auto& row : rows) {
        double values[2] = { 0, 0 };
        EXPECT_EQ(ScanNumbers(row.text, values, row.count), row.converted) << row.text;
        EXPECT_EQ(values[0], row.first) << row.text;
        EXPECT_EQ(values[1], row.second) << row.text;
    }
    double nan = 0;
    EXPECT_EQ(ScanNumbers("nan", &nan, 1), 1);
    EXPECT_TRUE(std::isnan(nan));

    int sizes[2] = { 0, 0 };
    EXPECT_EQ(ScanIntegers("1024, 768", sizes, 2), 2);
    EXPECT_EQ(sizes[1], 768);
    EXPECT_EQ(ScanIntegers("99999999999, -99999999999", sizes, 2), 2);
    EXPECT_EQ(sizes[0], std::numeric_limits<int>::max());
    EXPECT_EQ(sizes[1], std::numeric_limits<int>::min());
    EXPECT_EQ(ScanIntegers("12abc", sizes, 2), 1);
    EXPECT_EQ(ScanIntegers(std::string_view("7\0, 8", 5), sizes, 2), 1) << "a NUL ends the value";
}

TEST(NumberText, ParseFieldIntegers)
{
    const struct {
        const char* text;
        bool ok;
        int value;
    } rows[] = { { "0", true, 0 }, { " 12\t", true, 12 }, { "-5", true, -5 }, { "+7", true, 7 },
        { "007", true, 7 }, { "-0", false, 0 }, { "+0", false, 0 }, { "1.5", false, 0 }, { "", false, 0 },
        { "12a", false, 0 }, { "1 2", false, 0 }, { "99999999999", false, 0 }, { "\n5", false, 0 },
        { "-2147483648", true, std::numeric_limits<int>::min() }, { "2147483648", false, 0 } };
    for (const auto& row : rows) {
        int value = -99;
        EXPECT_EQ(ParseFieldInteger(row.text, value), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(value, row.value) << row.text;
        }
    }
}

TEST(NumberText, ParseFieldNumbers)
{
    const struct {
        const char* text;
        bool ok;
        double value;
    } rows[] = { { "1.5", true, 1.5 }, { "  -2e3xyz", true, -2000 }, { ".5", true, 0.5 }, { "5.", true, 5 },
        { "1,5", true, 1 }, { "+0.25e-1", true, 0.025 }, { "abc", false, 0 }, { "", false, 0 },
        { "e5", false, 0 }, { "inf", false, 0 }, { "-", false, 0 }, { ".", false, 0 }, { "0x10", true, 0 },
        { "2e", true, 2 } };
    for (const auto& row : rows) {
        double value = -99;
        EXPECT_EQ(ParseFieldNumber(row.text, value), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(value, row.value) << row.text;
        }
    }
}

TEST(NumberText, ParseToolNumbers)
{
    double value = 0;
    EXPECT_TRUE(ParseDouble("1e-3", value));
    EXPECT_EQ(value, 0.001);
    EXPECT_TRUE(ParseDouble("inf", value));
    EXPECT_FALSE(ParseDouble("1.5x", value));
    EXPECT_FALSE(ParseDouble("", value));
    EXPECT_FALSE(ParseDouble(" 1", value));
    Complex c;
    EXPECT_TRUE(ParseComplex("1,2", c));
    EXPECT_EQ(c.im, 2);
    EXPECT_FALSE(ParseComplex("1,", c));
    long long n = 0;
    EXPECT_FALSE(ParseCount("99999999999999999999", n));
}

TEST(NumberText, DecimalCommaLocale)
{
    std::string panel[3];
    std::string field;
    double scanned = 0;
    double parsed = 0;
    InGermanLocale([&] {
        panel[0] = FormatPanelNumber(-0.78);
        panel[1] = FormatPanelNumber(1.5e12);
        panel[2] = FormatPanelNumber(2.5e-7);
        field = FormatFieldNumber(0.5);
        ScanNumbers("0.25", &scanned, 1);
        ParseFieldNumber("1.5", parsed);
    });
    if (testing::Test::IsSkipped()) {
        return;
    }
    EXPECT_EQ(panel[0], "-0.78");
    EXPECT_EQ(panel[1], "1.5*10^12");
    EXPECT_EQ(panel[2], "2.5*10^-7");
    EXPECT_EQ(field, "0.5");
    EXPECT_EQ(scanned, 0.25);
    EXPECT_EQ(parsed, 1.5);
}

} // namespace
