#pragma once

#include "batchtypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Machine code generated at run time for one set of batch programs (the iteration and the termination
// formula) and the escape-time bookkeeping after them: each vector of lanes keeps its slots in
// registers over a block of iterations, and the code returns only when the lanes need refilling.
// Every operation is the interpreter's, in its order and with its rounding (no fused multiply-add,
// nothing reassociated); the functions of the language call the batch kernels' vector code of the
// same instruction set, which has the scalar functions' bits. The code is written, then made
// read-and-execute: never writable and executable at once. Built and run by one thread; the lanes it works on
// stay where they were when it was built.

// One batch program as the generator reads it.
struct JitProgram {
    const BatchInstruction* code { nullptr };
    int count { 0 };
    const BatchLanes* lanes { nullptr }; // where each batch slot's lanes are
    int32_t reset { -1 };                // the slot set to 0 before every run, or -1
};

// Lanes kept as the result is: where a lane stops, to takes from's value of that run (the orbit's
// derivative beside z). Unused while toRe is null.
struct JitKeep {
    const double* fromRe { nullptr };
    const double* fromIm { nullptr };
    double* toRe { nullptr };
    double* toIm { nullptr };
};
constexpr int kJitKeeps = 2;

// The bookkeeping of AdvanceLanes after every run of the programs. resultRe and resultIm may be null:
// then a lane's last value is not kept (nothing reads it).
struct JitAdvance {
    const double* termination { nullptr };
    const double* lastRe { nullptr };
    const double* lastIm { nullptr };
    double* count { nullptr };
    double* active { nullptr };
    double* resultRe { nullptr };
    double* resultIm { nullptr };
    double limit { 0.0 };
    // Every storage back in memory after the block, also what only the block reads (the tests
    // compare them all with the interpreter's).
    bool keepEvery { false };
    std::array<JitKeep, kJitKeeps> keep {};
};

enum class JitIsa { Avx2, Avx512 };

// Which code the renderer runs: the batched interpreter (Off), generated code where it pays (the
// default: AVX-512 only, see Chosen), or generated code for a given set whenever this processor has
// it (else the interpreter). Tests and benchmarks choose through the render pool.
enum class JitUse { Off, Default, Avx2, Avx512 };

class CJitCache;

class CBatchJit {
public:
    ~CBatchJit();
    CBatchJit(const CBatchJit&) = delete;
    CBatchJit& operator=(const CBatchJit&) = delete;

    // The code for running the programs in order, then the bookkeeping, over all lanes: each vector of
    // lanes iterations times, then on until one of its lanes stops, at most longest times; null when
    // this processor lacks isa, a program has an unknown code or the system refuses executable memory.
    // With a cache, code already generated for programs of the same shape (the same operations on
    // storages that alias alike) is reused, and what is generated is kept there.
    static std::unique_ptr<CBatchJit> Build(const std::vector<JitProgram>& programs,
        const JitAdvance& advance, int iterations, int longest, JitIsa isa, CJitCache* cache = nullptr);

    // Code that runs one program once over all lanes, with no lane ever stopping; for the tests and
    // the fuzzer that hold it to the interpreter's bits.
    // With a cache, as Build.
    static std::unique_ptr<CBatchJit> BuildSingle(
        const JitProgram& program, JitIsa isa, CJitCache* cache = nullptr);

    // Runs the block; returns the lanes that stopped in it, a bit each (as AdvanceLanes, or-ed). A
    // lane that stopped has run no further.
    uint64_t Run() const;

    // Whether code for these programs is worth generating: not when an operation runs through the
    // interpreter's scalar code lane by lane (the power, a negative whole power, AVX2's division):
    // saving and restoring every register around each such call was measured slower than the
    // interpreter's loop over all lanes. The functions call vector code, which pays.
    static bool Pays(const std::vector<JitProgram>& programs, JitIsa isa);

    // Every instruction set the generator can use on this processor, widest last.
    static std::vector<JitIsa> AvailableIsas();
    // The set the renderer generates code for these programs for, on a thread that will compute
    // pixels lanes, as use asks (see JitUse); false: it runs the interpreter. By default AVX-512
    // alone, only where it Pays and for enough pixels to repay the generation.
    // With a cache (kept across renders), code is generated whatever the size: the renders after
    // this one reuse it.
    static bool Chosen(const std::vector<JitProgram>& programs, size_t pixels, JitUse use, JitIsa& isa,
        const CJitCache* cache = nullptr);

private:
    friend class CJitCache;
    CBatchJit() = default;
    bool Generate(const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations,
        int longest, JitIsa isa);
    void SetConstants(const JitAdvance& advance);
    // Generate, or the cache's code for the same shape bound to these lanes.
    bool Make(const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations, int longest,
        JitIsa isa, CJitCache* cache);
    using RunFunction = uint64_t (*)(double* const* pointers, const double* constants);

    struct Code;
    std::shared_ptr<const Code> m_pCode; // shared with a cache and the other threads' blocks
    RunFunction m_pRun { nullptr };
    std::vector<double*> m_pointers; // the lanes of every storage the code reads or writes
    // one, zero, the sign bit, the limit, all bits but the sign, NaN: a vector each
    alignas(64) double m_constants[6 * 8] {};
    alignas(64) double m_ones[kLanes] {}; // 1 + 0i in every lane
    alignas(64) double m_zeros[kLanes] {};
    alignas(64) double m_count[kLanes] {}; // BuildSingle's bookkeeping, which nothing reads
    alignas(64) double m_active[kLanes] {};
};

// Generated code kept for reuse: the preview's coarse pass, its fine passes and the renders after
// them run the same programs, each time over lanes of their own, and generate the code once. Owned
// by the render pool; looked up outside the pixel loop, under a lock.
class CJitCache {
public:
    CJitCache() = default;
    CJitCache(const CJitCache&) = delete;
    CJitCache& operator=(const CJitCache&) = delete;

    // How many blocks of code it holds, and how many were generated through it.
    size_t Size() const;
    int Generated() const;

private:
    friend class CBatchJit;
    // The most recently used last; at most kCodes.
    static constexpr size_t kCodes = 8;
    struct Entry {
        std::vector<int64_t> shape;
        std::shared_ptr<const CBatchJit::Code> code;
    };
    std::shared_ptr<const CBatchJit::Code> Find(const std::vector<int64_t>& shape);
    void Keep(std::vector<int64_t> shape, std::shared_ptr<const CBatchJit::Code> code);

    mutable std::mutex m_mutex; // guards everything below
    std::vector<Entry> m_entries;
    int m_nGenerated { 0 };
};
