#pragma once

#include <mpfr.h>

#include <string>
#include <string_view>

// A real number of any precision and any exponent (MPFR underneath), as a value: the deep view's
// offsets and ratio, and the reference orbits of the deep renderer. Rounds to nearest everywhere.
class BigFloat {
public:
    explicit BigFloat(mpfr_prec_t bits = 128);
    BigFloat(double value, mpfr_prec_t bits);
    BigFloat(const BigFloat& other);
    BigFloat(BigFloat&& other) noexcept;
    BigFloat& operator=(const BigFloat& other);
    BigFloat& operator=(BigFloat&& other) noexcept;
    ~BigFloat();

    // A decimal number such as "-0.75", "1.5e-1200" or "3": ok is false (and the value 0) for
    // anything else, including a number with trailing text, "nan" and "inf".
    static BigFloat Parse(std::string_view text, mpfr_prec_t bits, bool* ok);
    // The shortest decimal text that reads back to this value at this precision ("0" for zero),
    // in the form Parse reads and the C locale's strtod reads (a point, an "e" exponent).
    std::string ToString() const;
    // The same with at most `digits` significant digits.
    std::string ToString(int digits) const;

    double ToDouble() const { return mpfr_get_d(m_value, MPFR_RNDN); }
    // The binary exponent e of the value, 0.5 <= |value| / 2^e < 1 (0 for zero).
    long Exponent() const { return mpfr_zero_p(m_value) ? 0 : mpfr_get_exp(m_value); }
    bool IsZero() const { return mpfr_zero_p(m_value) != 0; }
    mpfr_prec_t Precision() const { return mpfr_get_prec(m_value); }
    // Changes the precision, rounding the value to it.
    void SetPrecision(mpfr_prec_t bits) { mpfr_prec_round(m_value, bits, MPFR_RNDN); }

    mpfr_ptr get() { return m_value; }
    mpfr_srcptr get() const { return m_value; }

    friend BigFloat operator+(const BigFloat& a, const BigFloat& b);
    friend BigFloat operator-(const BigFloat& a, const BigFloat& b);
    friend BigFloat operator*(const BigFloat& a, const BigFloat& b);
    friend BigFloat operator/(const BigFloat& a, const BigFloat& b);
    friend BigFloat operator*(const BigFloat& a, double b);
    friend BigFloat operator/(const BigFloat& a, double b);
    friend bool operator<(const BigFloat& a, const BigFloat& b) { return mpfr_less_p(a.m_value, b.m_value); }

private:
    mpfr_t m_value;
};

// MPFR keeps constants (pi, log 2) and scratch in caches per thread and per process. A thread that
// used it frees its own before it ends or waits long (the render threads, after a deep render); the
// process's are freed at exit.
void ReleasePrecisionCaches();

// Bits enough to tell apart points `step` apart at a magnitude up to 2^magnitudeExponent, with
// `guard` bits to spare.
mpfr_prec_t BitsFor(long stepExponent, long magnitudeExponent, int guard = 64);
