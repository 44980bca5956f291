#include "batchjit.h"

#include "batchjitgen.h"

#include <algorithm>
#include <bit>
#include <limits>

using namespace jit;

// Generating code costs a thread about as much as this many pixels save (the mapping, the writing,
// the protection change and the unmapping): smaller renders, such as the preview's passes, run on the
// interpreter. The preview benchmark's finished frame took 29.6 ms with code for every pass, 14.7 without.
constexpr size_t kPixelsForCode = 32768;

// Room for the longest program the compiler accepts, every operation a function call that saves and
// restores all registers; only the pages written are ever backed by memory.
constexpr size_t kCodeBytes = size_t { 1 } << 20;

struct CBatchJit::Code : Xbyak::CodeGenerator {
    Code()
        : Xbyak::CodeGenerator(kCodeBytes, Xbyak::DontSetProtectRWE)
    {
    }
};

CBatchJit::~CBatchJit() = default;

// Generated code carries no type signature before its first byte for clang's check of indirect calls
// (reading there would leave the mapping).
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
uint64_t
CBatchJit::Run() const
{
    return m_pRun(m_pointers.data(), m_constants);
}

std::vector<JitIsa> CBatchJit::AvailableIsas()
{
    std::vector<JitIsa> isas;
    if (__builtin_cpu_supports("avx2")) {
        isas.push_back(JitIsa::Avx2);
    }
    if (__builtin_cpu_supports("avx512f")) {
        isas.push_back(JitIsa::Avx512);
    }
    return isas;
}

bool CBatchJit::Chosen(const std::vector<JitProgram>& programs, size_t pixels, JitUse use, JitIsa& isa)
{
    static const std::vector<JitIsa> isas = AvailableIsas();
    const auto has = [&](JitIsa wanted) { return std::find(isas.begin(), isas.end(), wanted) != isas.end(); };
    switch (use) {
    case JitUse::Off: return false;
    case JitUse::Default:
        // AVX2's sixteen registers hold too few slots: its code was measured slower than the
        // AVX2 interpreter (default picture 72 ms against 44), so it runs in tests only.
        isa = JitIsa::Avx512;
        return has(isa) && pixels >= kPixelsForCode && Pays(programs, isa);
    case JitUse::Avx2: isa = JitIsa::Avx2; return has(isa);
    case JitUse::Avx512: isa = JitIsa::Avx512; return has(isa);
    }
    return false;
}

bool CBatchJit::Pays(const std::vector<JitProgram>& programs, JitIsa isa)
{
    for (const JitProgram& p : programs) {
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            // The scalar code, lane by lane, does not pay; the functions' vector code does.
            const bool scalar = (in.opcode == kOpDiv && isa != JitIsa::Avx512) || in.opcode == kOpPow
                || (in.opcode == kBatchOpPowWhole && in.exponent < 0);
            if (scalar) {
                return false;
            }
        }
    }
    return true;
}

bool CBatchJit::Generate(const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations,
    int longest, JitIsa isa)
{
    const std::vector<JitIsa> isas = AvailableIsas();
    if (std::find(isas.begin(), isas.end(), isa) == isas.end() || iterations < 1 || longest < iterations) {
        return false;
    }
    for (int l = 0; l < 8; ++l) {
        m_constants[kOne / 8 + l] = 1.0;
        m_constants[kZero / 8 + l] = 0.0;
        m_constants[kSign / 8 + l] = -0.0;
        m_constants[kLimit / 8 + l] = advance.limit;
        m_constants[kAbs / 8 + l] = std::bit_cast<double>(~(uint64_t { 1 } << 63));
        m_constants[kNaNs / 8 + l] = kNaN;
    }
    std::fill(std::begin(m_ones), std::end(m_ones), 1.0);
    // Xbyak reports running out of room or memory by exceptions; none leaves here.
    try {
        m_pCode = std::make_unique<Code>();
        CGenerator generator(*m_pCode, isa, m_pointers, m_ones, m_zeros);
        if (!generator.Generate(programs, advance, iterations, longest)) {
            return false;
        }
        m_pCode->ready(CodeArray::PROTECT_RE);
        // Written, then read-and-execute; a system that refuses that keeps the interpreter.
        if (!m_pCode->setProtectModeRE(false)) {
            return false;
        }
        m_pRun = reinterpret_cast<RunFunction>(const_cast<uint8_t*>(m_pCode->getCode()));
    } catch (...) {
        return false;
    }
    return true;
}

std::unique_ptr<CBatchJit> CBatchJit::Build(const std::vector<JitProgram>& programs,
    const JitAdvance& advance, int iterations, int longest, JitIsa isa)
{
    std::unique_ptr<CBatchJit> jit(new CBatchJit);
    return jit->Generate(programs, advance, iterations, longest, isa) ? std::move(jit) : nullptr;
}

std::unique_ptr<CBatchJit> CBatchJit::BuildSingle(const JitProgram& program, JitIsa isa)
{
    // The termination value is the zeros (never greater than 0) and the limit is never reached.
    std::unique_ptr<CBatchJit> jit(new CBatchJit);
    const JitAdvance advance { jit->m_zeros, nullptr, nullptr, jit->m_count, jit->m_active, nullptr, nullptr,
        std::numeric_limits<double>::infinity() };
    return jit->Generate({ program }, advance, 1, 1, isa) ? std::move(jit) : nullptr;
}
