#include "batchformula.h"
#include "tangent.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The same bits, zeros' signs included. Any NaN equals any NaN: which operand's NaN an addition
// passes on is the compiler's choice (it may commute the operands), and no NaN reaches a picture
// differently from another (the mapping and every comparison treat them all alike).
bool SameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// Inputs that reach every path: zeros of both signs, whole and fractional numbers, huge and tiny
// values, infinities and NaN.
Complex Input(std::mt19937& random)
{
    static const double kSpecial[] = { 0.0, -0.0, 1.0, -1.0, 2.0, 0.5, -3.0, 1e300, -1e-300, 4.9e-324, kInf,
        -kInf, std::numeric_limits<double>::quiet_NaN(), 710.0, -2000.0, 1e10 };
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_real_distribution<double> plain(-4.0, 4.0);
    std::uniform_int_distribution<size_t> special(0, std::size(kSpecial) - 1);
    const auto part = [&] { return kind(random) == 0 ? kSpecial[special(random)] : plain(random); };
    return { part(), part() };
}

// Every lane of the batch program computes, bit for bit, what CFormula::Run computes.
TEST(BatchFormula, SameBitsAsTheInterpreter)
{
    const char* const corpus[] = {
        "z = z * z + C;",
        "norm(z) > 100;",
        "V_iter_n / V_iter_max;",
        "z = -z + z1 - z2 * z1 / z2;",
        "z = z ^ 2 + z ^ 3 - z ^ -2 + z ^ 0.5 + z ^ z1 + z1 ^ 2.5 + (0-8) ^ z2;",
        "z = 2 ^ z + z ^ 1e10 + z ^ (0 - 1e10);",
        "z == z1; z != z1; z < z1; z <= z1; z > z1; z >= z1;",
        "z = (z == z1) + (z != z1) + (z < z1) + (z <= z1) + (z > z1) + (z >= z1);",
        "z = z i + (z1)i + 3i;",
        "z = abs(z) + arg(z1) + conj(z2) + real(z) + imag(z1) + norm(z2);",
        "z = exp(z) + log(z1) + log10(z2) + sqrt(z);",
        "z = sin(z) + cos(z1) + tan(z2) + sinh(z) + cosh(z1) + tanh(z2);",
        "z = z * z; z = z * z; z1 = z + z1; z2 = z1 * z;",
        "z = z / z; z1 = z1 - z1; z2 = z2 ^ z2;",
        "V_k = V_k * 0.5 + 1; z = z * z + C + V_k / 1024;",
        "z = sin(z) * exp(z1) + C; norm(z) > 4",
        "z = ((z + 1) * (z - 1)) / ((z1 + 2) * (z2 - 2));",
        "z = z * z * z + C * z + C2;",
        "z = pi * e * i + 1.5e-3;",
        "z = -(-z); z1 = -z1 ^ 2;",
        "(z + z1) * (z - z1); z;",
        ";",
    };
    // Every set of kernels, then the generated code for every instruction set the generator has here.
    const std::vector<const BatchKernels*> kernelSets = AvailableBatchKernels();
    ASSERT_FALSE(kernelSets.empty());
    std::vector<std::pair<const BatchKernels*, std::optional<JitIsa>>> ways;
    for (const BatchKernels* kernels : kernelSets) {
        ways.push_back({ kernels, std::nullopt });
    }
    for (const JitIsa isa : CBatchJit::AvailableIsas()) {
        ways.push_back({ kernelSets.back(), isa });
    }
    for (const auto& [kernels, isa] : ways) {
        UseBatchKernels(*kernels);
        const std::string way = !isa ? kernels->name : *isa == JitIsa::Avx512 ? "avx512 code" : "avx2 code";
        std::mt19937 random(7);
        for (const char* text : corpus) {
            CFormula formula;
            std::string error;
            ASSERT_EQ(formula.Compile(text, error), 0) << text << ": " << error;
            for (int k = 0; k < formula.GetConstantCount(); ++k) {
                formula.SetConstant(k, Input(random));
            }
            CBatchFormula batch(formula);
            const std::unique_ptr<CBatchJit> code
                = isa ? CBatchJit::BuildSingle(batch.Program(), *isa) : nullptr;
            ASSERT_TRUE(!isa || code) << way << ": no code for " << text;
            std::vector<CFormula> lanes(kLanes, formula);
            const int variables = formula.GetVariableCount();
            for (int lane = 0; lane < kLanes; ++lane) {
                for (int s = 0; s < variables; ++s) {
                    const Complex value = Input(random);
                    lanes[lane].SetVariable(s, value);
                    batch.Set(batch.Slot(s), lane, value);
                }
            }
            // Several runs: variables carry over between runs in both.
            for (int run = 0; run < 3; ++run) {
                if (code) {
                    code->Run();
                } else {
                    batch.Run();
                }
                for (int lane = 0; lane < kLanes; ++lane) {
                    const Complex want = lanes[lane].Run();
                    const Complex got = batch.Get(batch.ResultSlot(), lane);
                    ASSERT_TRUE(SameBits(got.re, want.re) && SameBits(got.im, want.im))
                        << way << ": " << text << " run " << run << " lane " << lane << ": (" << got.re
                        << ", " << got.im << ") != (" << want.re << ", " << want.im << ")";
                    // V_LAST_RESULT is read through ResultSlot(), which may stand for another slot.
                    for (int s = 1; s < variables; ++s) {
                        const Complex v = lanes[lane].GetVariable(s);
                        const Complex b = batch.Get(batch.Slot(s), lane);
                        ASSERT_TRUE(SameBits(v.re, b.re) && SameBits(v.im, b.im))
                            << way << ": " << text << ": variable " << formula.GetSlotName(s) << " lane "
                            << lane;
                    }
                }
            }
        }
    }
    UseBatchKernels(*kernelSets.back());
}

// A termination test reads the real part only: the imaginary parts nothing reads are skipped, and
// every real part and every variable keeps its bits.
TEST(BatchFormula, RealOnlyValues)
{
    const char* const corpus[] = { "norm(z) > 100;", "z > 2; z = z + 1;", "real(z) + imag(z) * 2 > 4;",
        "V_a = V_a + 1; abs(z - V_a) <= 3;", "(z == 1) + (z != 2) - conj(z) + -z;", "(z)i + z;" };
    std::mt19937 random(11);
    for (const char* text : corpus) {
        CFormula formula;
        std::string error;
        ASSERT_EQ(formula.Compile(text, error), 0) << text;
        CBatchFormula batch(formula, CBatchFormula::ValueParts::RealOnly);
        std::vector<CFormula> lanes(kLanes, formula);
        for (int lane = 0; lane < kLanes; ++lane) {
            for (int s = 1; s < formula.GetVariableCount(); ++s) {
                const Complex value = Input(random);
                lanes[lane].SetVariable(s, value);
                batch.Set(batch.Slot(s), lane, value);
            }
        }
        for (int run = 0; run < 3; ++run) {
            batch.Run();
            for (int lane = 0; lane < kLanes; ++lane) {
                const Complex want = lanes[lane].Run();
                ASSERT_TRUE(SameBits(batch.Get(batch.ResultSlot(), lane).re, want.re))
                    << text << " lane " << lane;
                for (int s = 1; s < formula.GetVariableCount(); ++s) {
                    const Complex v = lanes[lane].GetVariable(s);
                    const Complex b = batch.Get(batch.Slot(s), lane);
                    ASSERT_TRUE(SameBits(v.re, b.re) && SameBits(v.im, b.im)) << text << " variable " << s;
                }
            }
        }
    }
    CFormula norm;
    std::string error;
    ASSERT_EQ(norm.Compile("norm(z) > 100;", error), 0);
    const CBatchFormula batch(norm, CBatchFormula::ValueParts::RealOnly);
    ASSERT_EQ(batch.Code().size(), 2u);
    EXPECT_EQ(batch.Code()[0].realOnly, 1) << "norm's 0 imaginary part is not stored";
    EXPECT_EQ(batch.Code()[1].realOnly, 1);
}

// The program's shape is held by the golden rows of batchcompile_test.cpp; here, what it computes.
TEST(BatchFormula, ReadingTheLastResultKeepsItsReset)
{
    CFormula formula;
    std::string error;
    // A formula that reads V_LAST_RESULT keeps it, and its reset.
    ASSERT_EQ(formula.Compile("z = V_LAST_RESULT + 1;", error), 0);
    CBatchFormula reads(formula);
    reads.Run();
    reads.Run();
    EXPECT_EQ(reads.Get(reads.ResultSlot(), 3).re, 1);
}

TEST(BatchFormula, LanesStartAndResetIndependently)
{
    CFormula formula;
    std::string error;
    ASSERT_EQ(formula.Compile("V_n = V_n + 1; z = z + V_n;", error), 0);
    CBatchFormula batch(formula);
    const int n = batch.Slot(formula.FindVariable("V_n"));
    batch.Run();
    batch.Run();
    EXPECT_EQ(batch.Get(n, 5).re, 2);
    batch.ResetLane(5);
    EXPECT_EQ(batch.Get(n, 5).re, 0);
    EXPECT_EQ(batch.Get(n, 6).re, 2);
    batch.ResetLane(7);
    batch.Run();
    EXPECT_EQ(batch.Get(n, 7).re, 1);
    EXPECT_EQ(batch.Get(n, 6).re, 3);
    const CBatchFormula copy(batch);
    EXPECT_EQ(copy.Get(n, 7).re, 0) << "a copy starts from the compiled values";
    EXPECT_EQ(batch.Slot(-1), -1);
    EXPECT_EQ(batch.Slot(150), -1);
}

} // namespace

// Code kept in a cache serves other lanes of the same shape, each with its own values, bit for bit;
// another program gets code of its own, and the first one's is still there after it.
TEST(BatchFormula, CachedCodeServesLanesOfTheSameShape)
{
    if (CBatchJit::AvailableIsas().empty()) {
        GTEST_SKIP() << "no instruction set for generated code";
    }
    const JitIsa isa = CBatchJit::AvailableIsas().back();
    CJitCache cache;
    std::mt19937 random(11);
    const struct {
        const char* text;
        int generated;
    } rows[] = { { "z = z * z + C;", 1 }, { "z = z * z + C;", 1 }, { "z = z * z * z + C;", 2 },
        { "z = z * z + C;", 2 } };
    for (const auto& row : rows) {
        CFormula formula;
        std::string error;
        ASSERT_EQ(formula.Compile(row.text, error), 0) << row.text;
        formula.SetConstant(0, Input(random));
        CBatchFormula batch(formula);
        const std::unique_ptr<CBatchJit> code = CBatchJit::BuildSingle(batch.Program(), isa, &cache);
        ASSERT_TRUE(code) << row.text;
        EXPECT_EQ(cache.Generated(), row.generated) << row.text;
        const int z = formula.FindVariable("z");
        std::vector<CFormula> lanes(kLanes, formula);
        for (int lane = 0; lane < kLanes; ++lane) {
            const Complex value = Input(random);
            lanes[lane].SetVariable(z, value);
            batch.Set(batch.Slot(z), lane, value);
        }
        code->Run();
        for (int lane = 0; lane < kLanes; ++lane) {
            const Complex want = lanes[lane].Run(), got = batch.Get(batch.ResultSlot(), lane);
            ASSERT_TRUE(SameBits(got.re, want.re) && SameBits(got.im, want.im))
                << row.text << " lane " << lane;
        }
    }
}

// A block reports exactly the lanes it stopped, also when the programs use more storages than there
// are registers and the count lives in memory (its store once overwrote the stopped mask with an
// address, and the renderer waited for ever on lanes that had stopped unreported); and a kept pair
// holds its source's value of the iteration where the lane stopped, as the result does.
TEST(BatchFormula, BlocksReportTheirStopsWithTheCountInMemory)
{
    std::string text;
    for (int k = 0; k < 24; ++k) {
        const std::string v = "V_a" + std::to_string(k);
        text += v + " = " + v + " * " + v + " * " + v + " * 0.5 + " + v + " * " + v + ";";
    }
    text += "z = z * z + C; V_w = z * 3; norm(z) > 4;";
    CFormula formula;
    std::string error;
    ASSERT_EQ(formula.Compile(text, error), 0) << error;
    formula.SetConstant(0, { 0.3, 0.0 });
    for (const JitIsa isa : CBatchJit::AvailableIsas()) {
        CBatchFormula batch(formula);
        const int z = batch.Slot(formula.FindVariable("z"));
        const int w = batch.Slot(formula.FindVariable("V_w"));
        alignas(64) double count[kLanes] {}, active[kLanes], lastRe[kLanes] {}, lastIm[kLanes] {};
        alignas(64) double keptRe[kLanes] {}, keptIm[kLanes] {};
        for (int lane = 0; lane < kLanes; ++lane) {
            batch.Set(z, lane, { lane * 0.05, 0.0 });
            active[lane] = 1.0;
        }
        JitAdvance advance { batch.Re(batch.ResultSlot()), batch.Re(z), batch.Im(z), count, active, lastRe,
            lastIm, 1000.0 };
        advance.keep[0] = { batch.Re(w), batch.Im(w), keptRe, keptIm };
        const std::unique_ptr<CBatchJit> code = CBatchJit::Build({ batch.Program() }, advance, 8, 8, isa);
        ASSERT_TRUE(code);
        const uint64_t stopped = code->Run();
        uint64_t inactive = 0;
        for (int lane = 0; lane < kLanes; ++lane) {
            inactive |= static_cast<uint64_t>(active[lane] == 0.0) << lane;
        }
        EXPECT_NE(stopped, 0u);
        EXPECT_EQ(stopped, inactive) << "isa " << static_cast<int>(isa);
        for (int lane = 0; lane < kLanes; ++lane) {
            if ((stopped >> lane & 1) != 0) {
                // V_w is 3 z of the same run.
                EXPECT_EQ(keptRe[lane], lastRe[lane] * 3) << lane;
            }
        }
    }
}

// The colour batch's derivative views have the scalar ViewDerivative's bits on every instruction set,
// at zeros, infinities, NaN and moduli past the doubles' range.
TEST(BatchFormula, DerivativeViewsHaveTheScalarBits)
{
    std::mt19937 random(29);
    alignas(64) double zRe[kLanes], zIm[kLanes], dzRe[kLanes], dzIm[kLanes], de[kLanes], dirRe[kLanes],
        dirIm[kLanes];
    for (int round = 0; round < 20; ++round) {
        for (int lane = 0; lane < kLanes; ++lane) {
            const Complex z = Input(random), dz = Input(random);
            zRe[lane] = z.re;
            zIm[lane] = z.im;
            dzRe[lane] = dz.re;
            dzIm[lane] = dz.im;
        }
        for (const BatchKernels* kernels : AvailableBatchKernels()) {
            kernels->views({ zRe, zIm, dzRe, dzIm, de, dirRe, dirIm }, kLanes, 0.25);
            for (int lane = 0; lane < kLanes; ++lane) {
                const DerivativeView want
                    = ViewDerivative({ zRe[lane], zIm[lane] }, { dzRe[lane], dzIm[lane] }, {}, 0.25);
                ASSERT_TRUE(SameBits(de[lane], want.de) && SameBits(dirRe[lane], want.dir.re)
                    && SameBits(dirIm[lane], want.dir.im))
                    << kernels->name << " z " << zRe[lane] << ", " << zIm[lane] << " dz " << dzRe[lane]
                    << ", " << dzIm[lane];
            }
        }
    }
}
