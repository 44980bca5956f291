#include "oracle.h"

OracleBindings BindOracle(const CFormula& iterFormula, const CBatchFormula& iterProgram,
    const CFormula& termFormula, const CBatchFormula& termProgram)
{
    OracleBindings b;
    b.iterZ = iterProgram.Slot(iterFormula.FindVariable("z"));
    b.iterZ0 = iterProgram.Slot(iterFormula.FindVariable("z0"));
    b.termZ = termProgram.Slot(termFormula.FindVariable("z"));
    b.termN = termProgram.Slot(termFormula.FindVariable("V_iter_n"));
    b.termZ0 = termProgram.Slot(termFormula.FindVariable("z0"));
    b.termMax = termProgram.Slot(termFormula.FindVariable("V_iter_max"));
    return b;
}

OraclePixel PreciseIterate(CPreciseProgram& iter, CPreciseProgram& term, const OracleBindings& b,
    const BigComplex& point, int maxIter, const std::function<bool()>& cancelled,
    const std::function<void(int run, BigComplex& value)>& afterRun)
{
    // Runs between looks at the cancel request: a few milliseconds at the deepest precisions.
    constexpr int kRunsPerLook = 256;
    iter.Reset();
    term.Reset();
    for (const int slot : { b.iterZ, b.iterZ0 }) {
        if (slot >= 0) {
            iter.Slot(slot).Set(point);
        }
    }
    if (b.termZ0 >= 0) {
        term.Slot(b.termZ0).Set(point);
    }
    if (b.termMax >= 0) {
        term.Slot(b.termMax).Set(Complex { static_cast<double>(maxIter), 0.0 });
    }
    OraclePixel pixel;
    while (pixel.count < maxIter) {
        if (cancelled && pixel.count % kRunsPerLook == kRunsPerLook - 1 && cancelled()) {
            pixel.cancelled = true;
            break;
        }
        iter.Run();
        BigComplex& value = iter.Slot(iter.ResultSlot());
        if (afterRun) {
            afterRun(pixel.count, value);
        }
        pixel.last = value.ToComplex();
        if (b.termZ >= 0) {
            term.Slot(b.termZ).Set(value);
        }
        if (b.termN >= 0) {
            term.Slot(b.termN).Set(Complex { static_cast<double>(pixel.count), 0.0 });
        }
        term.Run();
        mpfr_srcptr held = term.Slot(term.ResultSlot()).Re();
        if (!mpfr_nan_p(held) && mpfr_sgn(held) > 0) {
            break;
        }
        ++pixel.count;
    }
    return pixel;
}
