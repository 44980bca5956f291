#include "iterationreads.h"

#include "tangent.h"

#include <string_view>

std::vector<IterationRead> BindIterationReads(const CFormula& formula, const CFormula& iteration)
{
    constexpr std::string_view kPrefix = "V_iter_";
    std::vector<IterationRead> reads;
    for (int slot = 0; slot < formula.GetVariableCount(); ++slot) {
        const std::string_view name = formula.GetSlotName(slot);
        if (!name.starts_with(kPrefix)) {
            continue;
        }
        const int source = iteration.FindVariable(name.substr(kPrefix.size()));
        if (source >= 0 && ReadsBeforeAssigning(formula, slot)) {
            reads.push_back({ slot, source });
        }
    }
    return reads;
}
