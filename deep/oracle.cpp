#include "oracle.h"

#include <vector>

OracleBindings BindOracle(const CFormula& iterFormula, const CBatchFormula& iterProgram, const CFormula& term)
{
    OracleBindings b;
    b.iterZ = iterProgram.Slot(iterFormula.FindVariable("z"));
    b.iterZ0 = iterProgram.Slot(iterFormula.FindVariable("z0"));
    b.termZ = term.FindVariable("z");
    b.termN = term.FindVariable("V_iter_n");
    b.termZ0 = term.FindVariable("z0");
    b.termMax = term.FindVariable("V_iter_max");
    return b;
}

OraclePixel PreciseIterate(
    CPreciseProgram& iter, CFormula& term, const OracleBindings& b, const BigComplex& point, int maxIter)
{
    const std::vector<Complex> termStart(term.GetSlots(), term.GetSlots() + term.GetVariableCount());
    iter.Reset();
    for (const int slot : { b.iterZ, b.iterZ0 }) {
        if (slot >= 0) {
            iter.Slot(slot).Set(point);
        }
    }
    term.SetVariable(b.termZ0, point.ToComplex());
    term.SetVariable(b.termMax, { static_cast<double>(maxIter), 0.0 });

    OraclePixel pixel;
    while (pixel.count < maxIter) {
        iter.Run();
        pixel.last = iter.Slot(iter.ResultSlot()).ToComplex();
        term.SetVariable(b.termZ, pixel.last);
        term.SetVariable(b.termN, { static_cast<double>(pixel.count), 0.0 });
        if (term.Run().re > 0.0) {
            break;
        }
        ++pixel.count;
    }
    term.ResetVariables(termStart.data());
    return pixel;
}
