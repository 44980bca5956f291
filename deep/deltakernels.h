#pragma once
// The lane loops of the perturbed programs, built once per instruction set and chosen at run time
// (as the batch kernels are): every lane runs the same operation on its own offsets, each at its own
// run of the reference.
#include "comparekind.h"
#include "complex.h"

#include <cstddef>

struct DeltaKernels {
    // d = A b + a B + a b for every lane, A and B the reference's operands at the lane's run (runAt:
    // its index into the orbit's records). A lane whose operand drops below limit^(1/2) of the
    // reference's, while the other operand's offset is not zero, is marked glitched (1.0).
    void (*mul)(const Complex* refA, const Complex* refB, const size_t* runAt, const double* ar,
        const double* ai, const double* br, const double* bi, double* dr, double* di, double* glitched,
        double limit);
    void (*add)(
        const double* ar, const double* ai, const double* br, const double* bi, double* dr, double* di);
    void (*sub)(
        const double* ar, const double* ai, const double* br, const double* bi, double* dr, double* di);
    // d = 2 Re(conj(A) a) + |a|^2 (the change of norm), A the reference's operand at each lane's run; a
    // lane whose value drops below limit^(1/2) of the reference's is marked glitched.
    void (*norm)(const Complex* refA, const size_t* runAt, const double* ar, const double* ai, double* dr,
        double* di, double* glitched, double limit);
    // d = 2 A a + a a (the change of a square, as the whole power's binary powering rounds it); a lane
    // whose value drops below limit^(1/2) of the reference's, its offset not 0, is marked glitched.
    void (*square)(const Complex* refA, const size_t* runAt, const double* ar, const double* ai, double* dr,
        double* di, double* glitched, double limit);
    // d = (A + a)^n - A^n by the whole power's binary powering, and d = (a - R b) / (B + b) (a quotient's
    // change, R = A / B), both rounded as the scalar forms round them, with their glitch tests and
    // theirs for a reference that is not finite; 0 where no operand moved.
    void (*wholePower)(int n, const Complex* refA, const Complex* refB, const Complex* refR,
        const size_t* runAt, const double* ar, const double* ai, double* dr, double* di, double* glitched,
        double limit);
    void (*quotient)(const Complex* refA, const Complex* refB, const Complex* refR, const size_t* runAt,
        const double* ar, const double* ai, const double* br, const double* bi, double* dr, double* di,
        double* glitched, double limit);
    // d = |X + x| - |X| by the signs, exactly as the offset holds it, for the lanes whose operand is real
    // (X + x with no imaginary part at the reference or the pixel). Other lanes keep d and get 1.0 in
    // other, for the caller's general form.
    void (*fold)(const Complex* refA, const size_t* runAt, const double* ar, const double* ai, double* dr,
        double* di, double* other);
    // d = exp(A + a) - R (the change of exp), A and R the reference's operand and result at each lane's
    // run, exactly as the scalar form computes it: R expm1(a) by the series for an offset below 1 in
    // both parts, exp(A + a) - R as it stands for one of 1 or more in a part. A lane whose offset's real
    // part is below -6.9 is marked glitched. The rest (a NaN part, a reference value that is not finite)
    // keep d and get 1.0 in other, for the caller's general form.
    void (*exp)(const Complex* refA, const Complex* refR, const size_t* runAt, const double* ar,
        const double* ai, double* dr, double* di, double* glitched, double* other);
    // The change of a comparison's truth: the sign of D + (a - b) per part, D the exact difference of
    // the reference's operands (the record's A), against its truth R; 0 where a and b are both 0.
    void (*compare)(CompareKind kind, const Complex* refDiff, const Complex* refR, const size_t* runAt,
        const double* ar, const double* ai, const double* br, const double* bi, double* dr, double* di);
    // The pixels' values: the reference's value at each lane's run plus the lane's offset.
    void (*value)(const Complex* refLast, const int* laneRun, const double* dre, const double* dim,
        double* re, double* im);
    const char* name;
};

// The widest set this processor has.
const DeltaKernels& ActiveDeltaKernels();
