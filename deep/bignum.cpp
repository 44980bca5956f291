#include "bignum.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace {

// Registered once, by the first number of the process.
void ReleaseProcessCaches()
{
    mpfr_free_cache2(static_cast<mpfr_free_cache_t>(MPFR_FREE_LOCAL_CACHE | MPFR_FREE_GLOBAL_CACHE));
}

void RegisterCacheRelease()
{
    static const bool registered = std::atexit(ReleaseProcessCaches) == 0;
    (void)registered;
}

} // namespace

void ReleasePrecisionCaches() { mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE); }

BigFloat::BigFloat(mpfr_prec_t bits)
{
    RegisterCacheRelease();
    mpfr_init2(m_value, bits);
    mpfr_set_zero(m_value, 1);
}

BigFloat::BigFloat(double value, mpfr_prec_t bits)
{
    mpfr_init2(m_value, bits);
    mpfr_set_d(m_value, value, MPFR_RNDN);
}

BigFloat::BigFloat(const BigFloat& other)
{
    mpfr_init2(m_value, other.Precision());
    mpfr_set(m_value, other.m_value, MPFR_RNDN);
}

BigFloat::BigFloat(BigFloat&& other) noexcept
{
    // A moved-from value stays usable: it gets a fresh zero of the same precision.
    mpfr_init2(m_value, other.Precision());
    mpfr_swap(m_value, other.m_value);
    mpfr_set_zero(other.m_value, 1);
}

BigFloat& BigFloat::operator=(const BigFloat& other)
{
    if (this != &other) {
        mpfr_set_prec(m_value, other.Precision());
        mpfr_set(m_value, other.m_value, MPFR_RNDN);
    }
    return *this;
}

BigFloat& BigFloat::operator=(BigFloat&& other) noexcept
{
    if (this != &other) {
        mpfr_swap(m_value, other.m_value);
    }
    return *this;
}

BigFloat::~BigFloat() { mpfr_clear(m_value); }

BigFloat BigFloat::Parse(std::string_view text, mpfr_prec_t bits, bool* ok)
{
    BigFloat value(bits);
    // mpfr_set_str reads more than decimals (hex, "@inf@", "nan"); hold the text to the plain form.
    size_t i = 0;
    const auto digit
        = [&](size_t k) { return k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])); };
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    bool digits = false;
    while (digit(i)) {
        ++i;
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (digit(i)) {
            ++i;
            digits = true;
        }
    }
    if (digits && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) {
            ++j;
        }
        if (digit(j)) {
            while (digit(j)) {
                ++j;
            }
            i = j;
        }
    }
    const bool valid = digits && i == text.size()
        && mpfr_set_str(value.m_value, std::string(text).c_str(), 10, MPFR_RNDN) == 0;
    if (!valid) {
        mpfr_set_zero(value.m_value, 1);
    }
    if (ok) {
        *ok = valid;
    }
    return value;
}

std::string BigFloat::ToString() const
{
    // Enough digits to read back the same bits: ceil(bits * log10(2)) + 1.
    const int digits = static_cast<int>(Precision() * 0.30103) + 2;
    return ToString(digits);
}

std::string BigFloat::ToString(int digits) const
{
    if (mpfr_zero_p(m_value)) {
        return "0";
    }
    if (!mpfr_number_p(m_value)) {
        return mpfr_nan_p(m_value) ? "nan" : (mpfr_signbit(m_value) ? "-inf" : "inf");
    }
    mpfr_exp_t exponent = 0;
    char* raw
        = mpfr_get_str(nullptr, &exponent, 10, static_cast<size_t>(std::max(digits, 1)), m_value, MPFR_RNDN);
    std::string mantissa(raw);
    mpfr_free_str(raw);
    std::string sign;
    if (!mantissa.empty() && mantissa[0] == '-') {
        sign = "-";
        mantissa.erase(0, 1);
    }
    while (mantissa.size() > 1 && mantissa.back() == '0') {
        mantissa.pop_back();
    }
    // 0.DDDD x 10^exponent: plain notation for everyday magnitudes, d.ddde-N otherwise.
    const long e = static_cast<long>(exponent);
    if (e > -6 && e <= 21) {
        if (e <= 0) {
            return sign + "0." + std::string(static_cast<size_t>(-e), '0') + mantissa;
        }
        if (static_cast<size_t>(e) >= mantissa.size()) {
            return sign + mantissa + std::string(static_cast<size_t>(e) - mantissa.size(), '0');
        }
        return sign + mantissa.substr(0, static_cast<size_t>(e)) + "."
            + mantissa.substr(static_cast<size_t>(e));
    }
    std::string out = sign;
    out += mantissa[0];
    if (mantissa.size() > 1) {
        out += '.';
        out.append(mantissa, 1);
    }
    return out + "e" + std::to_string(e - 1);
}

BigFloat operator+(const BigFloat& a, const BigFloat& b)
{
    BigFloat r(std::max(a.Precision(), b.Precision()));
    mpfr_add(r.m_value, a.m_value, b.m_value, MPFR_RNDN);
    return r;
}

BigFloat operator-(const BigFloat& a, const BigFloat& b)
{
    BigFloat r(std::max(a.Precision(), b.Precision()));
    mpfr_sub(r.m_value, a.m_value, b.m_value, MPFR_RNDN);
    return r;
}

BigFloat operator*(const BigFloat& a, const BigFloat& b)
{
    BigFloat r(std::max(a.Precision(), b.Precision()));
    mpfr_mul(r.m_value, a.m_value, b.m_value, MPFR_RNDN);
    return r;
}

BigFloat operator/(const BigFloat& a, const BigFloat& b)
{
    BigFloat r(std::max(a.Precision(), b.Precision()));
    mpfr_div(r.m_value, a.m_value, b.m_value, MPFR_RNDN);
    return r;
}

BigFloat operator*(const BigFloat& a, double b)
{
    BigFloat r(a.Precision());
    mpfr_mul_d(r.m_value, a.m_value, b, MPFR_RNDN);
    return r;
}

BigFloat operator/(const BigFloat& a, double b)
{
    BigFloat r(a.Precision());
    mpfr_div_d(r.m_value, a.m_value, b, MPFR_RNDN);
    return r;
}

mpfr_prec_t BitsFor(long stepExponent, long magnitudeExponent, int guard)
{
    const long bits = std::max(0L, magnitudeExponent - stepExponent) + guard;
    return static_cast<mpfr_prec_t>(std::clamp(bits, 64L, 1L << 20));
}
