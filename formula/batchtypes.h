#pragma once

#include <cstdint>

// The plain data of batch programs, shared by the evaluator and its kernels. Kept free of inline
// functions: the kernels are compiled once per instruction set, and an inline function compiled
// for AVX-512 there must never be the copy that the rest of the program links to.

// Lanes of a batch: one pixel each. 64 measured best: enough to hide the dispatch of every
// instruction, small enough that all slots of a usual formula stay in the first-level cache.
constexpr int kLanes = 64;

// Where the lanes of one slot are.
struct BatchLanes {
    double* re { nullptr };
    double* im { nullptr };
};

// One instruction of a batch program: dest = a OP b over all lanes (b is -1 for unary codes).
// Indices are compact slot numbers of the batch, not the formula's.
// realOnly: nothing reads the imaginary part of the result, so it is not computed (set only for
// operations whose real part does not need it).
struct BatchInstruction {
    int32_t dest { 0 };
    int32_t opcode { 0 };
    int32_t a { 0 };
    int32_t b { -1 };
    int32_t realOnly { 0 };
    int32_t exponent { 0 }; // kBatchOpPowWhole only: the whole exponent that b holds
};

// A batch-only code after every operator code: dest = a ^ exponent by binary powering, for a power
// whose exponent is a whole number the program never changes. b still names the exponent's slot.
constexpr int32_t kBatchOpPowWhole = 64;

// A function of the language over the lanes of one vector of an instruction set: d = f(a) (b unused).
using VectorFunction = void (*)(
    const double* ar, const double* ai, const double* br, const double* bi, double* dr, double* di);

// What the colour formula sees of the orbit's derivative, for n lanes at once (see ViewDerivative):
// from z and dz, de and dir (each left out where null). Every array has room for whole vectors past
// the n-th lane.
struct DerivativeLanes {
    const double* zRe;
    const double* zIm;
    const double* dzRe;
    const double* dzIm;
    double* de;
    double* dirRe;
    double* dirIm;
};

// The kernels of one instruction set.
struct BatchKernels {
    const char* name;
    // Runs a program over all lanes; reset is the slot set to 0 first, or -1.
    void (*run)(const BatchInstruction* code, int count, const BatchLanes* slots, int32_t reset);
    // See AdvanceLanes.
    uint64_t (*advance)(const double* termination, const double* lastRe, const double* lastIm, double* count,
        double* active, double* resultRe, double* resultIm, double limit);
    // The vector function of a function code (abs to tanh); null for every other code.
    VectorFunction (*function)(int opcode);
    int vectorLanes;
    // ViewDerivative over n lanes, with the scalar code's bits; pixel as there.
    void (*views)(const DerivativeLanes& lanes, int n, double pixel);
};

namespace BatchSse2 {
extern const BatchKernels kKernels;
}
namespace BatchAvx2 {
extern const BatchKernels kKernels;
}
namespace BatchAvx512 {
extern const BatchKernels kKernels;
}
