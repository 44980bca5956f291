#include "batchjit.h"

#include "batchjitgen.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <map>

using namespace jit;

// Generating code costs a thread about as much as this many pixels save (the mapping, the writing,
// the protection change and the unmapping): smaller renders without a cache to keep the code for the
// next run on the interpreter. The preview benchmark's finished frame took 29.6 ms with code generated
// for every pass, 14.7 without; with the code generated once and kept, its passes all run generated code.
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

bool CBatchJit::Chosen(
    const std::vector<JitProgram>& programs, size_t pixels, JitUse use, JitIsa& isa, const CJitCache* cache)
{
    static const std::vector<JitIsa> isas = AvailableIsas();
    const auto has = [&](JitIsa wanted) { return std::find(isas.begin(), isas.end(), wanted) != isas.end(); };
    switch (use) {
    case JitUse::Off: return false;
    case JitUse::Default:
        // AVX2's sixteen registers hold too few slots: its code was measured slower than the
        // AVX2 interpreter (default picture 72 ms against 44), so it runs in tests only.
        isa = JitIsa::Avx512;
        return has(isa) && (cache != nullptr || pixels >= kPixelsForCode) && Pays(programs, isa);
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

namespace {

// What generated code depends on, beside the constants it reads: the instruction set, the block's
// bounds, every operation, and which storage each operand is (numbered by first use, so that lanes
// elsewhere with the same aliasing give the same shape). Empty for programs the generator lacks.
std::vector<int64_t> ShapeOf(const std::vector<JitProgram>& programs, const JitAdvance& advance,
    int iterations, int longest, JitIsa isa, const double* ones, const double* zeros,
    std::vector<double*>* pointers)
{
    std::vector<int64_t> shape { static_cast<int64_t>(isa), iterations, longest,
        advance.resultRe != nullptr };
    for (const JitKeep& keep : advance.keep) {
        shape.push_back(keep.toRe != nullptr);
    }
    for (const JitProgram& p : programs) {
        shape.push_back(p.count);
        for (int k = 0; k < p.count; ++k) {
            shape.insert(shape.end(), { p.code[k].opcode, p.code[k].exponent, p.code[k].realOnly });
        }
    }
    std::map<const double*, int64_t> ids;
    const auto visit = [&](const double* p, bool write, bool touched) {
        const auto [at, added] = ids.emplace(p, static_cast<int64_t>(ids.size()));
        if (added && pointers != nullptr) {
            pointers->push_back(const_cast<double*>(p));
        }
        shape.push_back(at->second * 4 + (write ? 1 : 0) + (touched ? 2 : 0));
    };
    if (!VisitStorages(programs, advance, ones, zeros, visit)) {
        shape.clear();
    }
    return shape;
}

} // namespace

void CBatchJit::SetConstants(const JitAdvance& advance)
{
    for (int l = 0; l < 8; ++l) {
        m_constants[kOne / 8 + l] = 1.0;
        m_constants[kZero / 8 + l] = 0.0;
        m_constants[kSign / 8 + l] = -0.0;
        m_constants[kLimit / 8 + l] = advance.limit;
        m_constants[kAbs / 8 + l] = std::bit_cast<double>(~(uint64_t { 1 } << 63));
        m_constants[kNaNs / 8 + l] = kNaN;
    }
    std::fill(std::begin(m_ones), std::end(m_ones), 1.0);
}

bool CBatchJit::Generate(const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations,
    int longest, JitIsa isa)
{
    const std::vector<JitIsa> isas = AvailableIsas();
    if (std::find(isas.begin(), isas.end(), isa) == isas.end() || iterations < 1 || longest < iterations) {
        return false;
    }
    SetConstants(advance);
    // Xbyak reports running out of room or memory by exceptions; none leaves here.
    try {
        auto code = std::make_shared<Code>();
        CGenerator generator(*code, isa, m_pointers, m_ones, m_zeros);
        if (!generator.Generate(programs, advance, iterations, longest)) {
            return false;
        }
        code->ready(CodeArray::PROTECT_RE);
        // Written, then read-and-execute; a system that refuses that keeps the interpreter.
        if (!code->setProtectModeRE(false)) {
            return false;
        }
        m_pRun = reinterpret_cast<RunFunction>(const_cast<uint8_t*>(code->getCode()));
        m_pCode = std::move(code);
    } catch (...) {
        return false;
    }
    return true;
}

std::unique_ptr<CBatchJit> CBatchJit::Build(const std::vector<JitProgram>& programs,
    const JitAdvance& advance, int iterations, int longest, JitIsa isa, CJitCache* cache)
{
    std::unique_ptr<CBatchJit> jit(new CBatchJit);
    return jit->Make(programs, advance, iterations, longest, isa, cache) ? std::move(jit) : nullptr;
}

bool CBatchJit::Make(const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations,
    int longest, JitIsa isa, CJitCache* cache)
{
    if (cache == nullptr) {
        return Generate(programs, advance, iterations, longest, isa);
    }
    std::vector<double*> pointers;
    std::vector<int64_t> shape
        = ShapeOf(programs, advance, iterations, longest, isa, m_ones, m_zeros, &pointers);
    if (shape.empty()) {
        return false;
    }
    if (std::shared_ptr<const Code> code = cache->Find(shape)) {
        SetConstants(advance);
        m_pointers = std::move(pointers);
        m_pRun = reinterpret_cast<RunFunction>(const_cast<uint8_t*>(code->getCode()));
        m_pCode = std::move(code);
        return true;
    }
    if (!Generate(programs, advance, iterations, longest, isa)) {
        return false;
    }
    cache->Keep(std::move(shape), m_pCode);
    return true;
}

std::shared_ptr<const CBatchJit::Code> CJitCache::Find(const std::vector<int64_t>& shape)
{
    const std::lock_guard lock(m_mutex);
    const auto found
        = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.shape == shape; });
    if (found == m_entries.end()) {
        return nullptr;
    }
    // The most recently used goes last, the furthest from eviction.
    std::rotate(found, found + 1, m_entries.end());
    return m_entries.back().code;
}

void CJitCache::Keep(std::vector<int64_t> shape, std::shared_ptr<const CBatchJit::Code> code)
{
    const std::lock_guard lock(m_mutex);
    if (m_entries.size() == kCodes) {
        m_entries.erase(m_entries.begin());
    }
    m_entries.push_back({ std::move(shape), std::move(code) });
    ++m_nGenerated;
}

size_t CJitCache::Size() const
{
    const std::lock_guard lock(m_mutex);
    return m_entries.size();
}

int CJitCache::Generated() const
{
    const std::lock_guard lock(m_mutex);
    return m_nGenerated;
}

std::unique_ptr<CBatchJit> CBatchJit::BuildSingle(const JitProgram& program, JitIsa isa, CJitCache* cache)
{
    // The termination value is the zeros (never greater than 0) and the limit is never reached.
    std::unique_ptr<CBatchJit> jit(new CBatchJit);
    const JitAdvance advance { jit->m_zeros, nullptr, nullptr, jit->m_count, jit->m_active, nullptr, nullptr,
        std::numeric_limits<double>::infinity(), true };
    return jit->Make({ program }, advance, 1, 1, isa, cache) ? std::move(jit) : nullptr;
}
