#include "bignum.h"

#include <gtest/gtest.h>

TEST(BigFloat, ParsesDecimalsAndRefusesTheRest)
{
    struct Row {
        const char* text;
        bool ok;
        const char* back; // ToString(30) of the value read
    };
    const Row rows[] = {
        { "-0.75", true, "-0.75" },
        { "3", true, "3" },
        { "1.5e-1200", true, "1.5e-1200" },
        { "+2.5E3", true, "2500" },
        { "0.000123", true, "0.000123" },
        { "1e400", true, "1e400" },
        { "", false, "0" },
        { "nan", false, "0" },
        { "inf", false, "0" },
        { "0x10", false, "0" },
        { "1.5e", false, "0" },
        { "1.5 ", false, "0" },
        { ".", false, "0" },
    };
    for (const Row& row : rows) {
        bool ok = !row.ok;
        const BigFloat value = BigFloat::Parse(row.text, 256, &ok);
        EXPECT_EQ(ok, row.ok) << row.text;
        EXPECT_EQ(value.ToString(30), row.back) << row.text;
    }
}

TEST(BigFloat, KeepsDigitsFarBelowADouble)
{
    bool ok = false;
    const mpfr_prec_t bits = BitsFor(-3400, 2);
    const BigFloat a = BigFloat::Parse("-0.75", bits, &ok);
    const BigFloat tiny = BigFloat::Parse("1e-1000", bits, &ok);
    const BigFloat sum = a + tiny;
    EXPECT_EQ(sum.ToDouble(), -0.75);
    EXPECT_EQ((sum - a).ToString(20), "1e-1000");
    // The shortest text reads back the same value.
    const BigFloat back = BigFloat::Parse(sum.ToString(), bits, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(mpfr_equal_p(back.get(), sum.get()));
}
