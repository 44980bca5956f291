#include "reference.h"

#include <cmath>

namespace {

// Past this a value's offsets no longer mean anything in doubles; every pixel near it has escaped.
constexpr double kLargestReferenceValue = 1e150;

bool Usable(Complex v)
{
    return std::isfinite(v.re) && std::isfinite(v.im) && std::fabs(v.re) < kLargestReferenceValue
        && std::fabs(v.im) < kLargestReferenceValue;
}

} // namespace

bool BuildReference(const CDeltaProgram& program, const BigComplex& point, mpfr_prec_t bits, TerminationTest term,
    int maxIter, Reference& out, const std::function<bool()>& cancelled, size_t maxBytes)
{
    out.point = point;
    ReferenceOrbit& orbit = out.orbit;
    orbit = {};
    CPreciseProgram run(program.Program(), bits);
    run.Reset();
    for (const int slot : { program.IterZ(), program.IterZ0() }) {
        if (slot >= 0) {
            mpc_set(run.Slot(slot).get(), point.get(), MPC_RNDNN);
        }
    }
    const int count = run.InstructionCount();
    orbit.instructions = count;
    const std::vector<int32_t>& carried = program.Carried();
    const size_t perRun = (3 * static_cast<size_t>(count) + 1 + carried.size()) * sizeof(Complex);
    term.BeginPixel(point.ToComplex());
    // Every slot's value rounded to doubles, kept as the run writes them: each value is rounded once.
    std::vector<Complex> rounded(static_cast<size_t>(run.SlotCount()));
    for (int slot = 0; slot < run.SlotCount(); ++slot) {
        rounded[static_cast<size_t>(slot)] = run.Slot(slot).ToComplex();
    }
    const int reset = program.Program().ResetSlot();
    for (int n = 0; n < maxIter; ++n) {
        if ((n & 63) == 0 && cancelled && cancelled()) {
            return false;
        }
        if (orbit.Bytes() + perRun > maxBytes) {
            break;
        }
        run.BeginRun();
        if (reset >= 0) {
            rounded[static_cast<size_t>(reset)] = {};
        }
        bool usable = true;
        for (int k = 0; k < count; ++k) {
            const BatchInstruction& in = run.Instruction(k);
            const Complex a = rounded[static_cast<size_t>(in.a)];
            orbit.a.push_back(a);
            orbit.b.push_back(in.b >= 0 ? rounded[static_cast<size_t>(in.b)] : a);
            run.RunInstruction(k);
            const Complex r = run.Slot(in.dest).ToComplex();
            rounded[static_cast<size_t>(in.dest)] = r;
            orbit.r.push_back(r);
            usable = usable && Usable(r);
        }
        const Complex last = rounded[static_cast<size_t>(run.ResultSlot())];
        orbit.last.push_back(last);
        for (const int32_t slot : carried) {
            orbit.carried.push_back(rounded[static_cast<size_t>(slot)]);
        }
        if (!usable) {
            break; // the run is recorded but not offered: its values are beyond the doubles
        }
        orbit.runs = n + 1;
        if (orbit.terminatedAt < 0 && term.Holds(last, n)) {
            orbit.terminatedAt = n;
        }
    }
    return true;
}
