#include "derivatives.h"

DerivativeSlots BindDerivatives(const CFormula& formula)
{
    const auto read = [&formula](const char* name) {
        const int slot = formula.FindVariable(name);
        return ReadsBeforeAssigning(formula, slot) ? slot : -1;
    };
    return { read("V_dz"), read("V_dzy"), read("V_de"), read("V_dir") };
}

std::shared_ptr<const IterationTangent> MakeIterationTangent(
    const CFormula& iteration, int z, int z0, double pixel)
{
    auto tangent = std::make_shared<IterationTangent>();
    tangent->ok = DifferentiateFormula(iteration, { z, z0 }, tangent->program);
    tangent->pixel = pixel;
    return tangent;
}

DerivativeView ReadDerivative(const IterationTangent& tangent, Complex z, Complex dzx, Complex dzy)
{
    if (!tangent.ok) {
        return { kNaNResult, kNaNResult, kNaN, kNaNResult };
    }
    // No variable: the value does not depend on the point at all.
    const Complex x = tangent.program.dzx >= 0 ? dzx : Complex {};
    const Complex y = tangent.program.dzy >= 0 ? dzy : TimesI(x);
    return ViewDerivative(z, x, y, tangent.pixel);
}

void SetDerivatives(CFormula& formula, const DerivativeSlots& slots, const DerivativeView& view)
{
    formula.SetVariable(slots.dz, view.dz);
    formula.SetVariable(slots.dzy, view.dzy);
    formula.SetVariable(slots.de, { view.de, 0.0 });
    formula.SetVariable(slots.dir, view.dir);
}
