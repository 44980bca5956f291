#pragma once

// The termination and colour formulas' window on the iteration formula's own variables: a read of
// V_iter_<name> sees the iteration formula's variable <name> (V_iter_zsum reads zsum, V_iter_V_s
// reads V_s), its latest value in the termination formula and its final value in the colour formula.
// Internal to the renderers.
#include "formula.h"

#include <vector>

struct IterationRead {
    int slot;   // the reading formula's V_iter_<name>
    int source; // the iteration formula's <name>
};

// The V_iter_<name> a formula reads before it assigns it, whose <name> the iteration formula has. A
// name the iteration formula lacks stays the formula's own variable, as does one assigned first:
// V_iter_n and V_iter_max never match (n and max are no variable names).
std::vector<IterationRead> BindIterationReads(const CFormula& formula, const CFormula& iteration);

// Stores the iteration formula's current values into the formula's V_iter_<name>. iteration may be
// the program derived from the one bound (tangent.h keeps its variables' slots).
inline void SetIterationReads(
    CFormula& formula, const std::vector<IterationRead>& reads, const CFormula& iteration)
{
    for (const IterationRead& read : reads) {
        formula.SetVariable(read.slot, iteration.GetVariable(read.source));
    }
}
