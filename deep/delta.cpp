#include "delta.h"

#include "deltaforms.h"

#include <algorithm>

CDeltaProgram::CDeltaProgram(const CBatchFormula& program, int iterZ, int iterZ0)
    : m_program(program)
    , m_code(program.Code())
    , m_iterZ(iterZ)
    , m_iterZ0(iterZ0)
    , m_nSlots(program.SlotCount())
    , m_nReset(program.ResetSlot())
    , m_nResult(program.ResultSlot())
{
    m_carried = program.Variables();
    for (const int slot : { iterZ, iterZ0 }) {
        if (slot >= 0 && std::find(m_carried.begin(), m_carried.end(), slot) == m_carried.end()) {
            m_carried.push_back(slot);
        }
    }
    std::sort(m_carried.begin(), m_carried.end());
}

Complex CDeltaProgram::Delta(
    const BatchInstruction& in, Complex A, Complex B, Complex R, Complex a, Complex b) const
{
    bool glitch = false;
    return DeltaForm<Complex>(in, A, B, R, a, b, glitch);
}

ExComplex CDeltaProgram::Delta(
    const BatchInstruction& in, Complex A, Complex B, Complex R, const ExComplex& a, const ExComplex& b) const
{
    bool glitch = false;
    return DeltaForm<ExComplex>(in, A, B, R, a, b, glitch);
}

template <class N> bool CDeltaProgram::RunOnce(const ReferenceOrbit& orbit, int run, N* d) const
{
    bool glitch = false;
    if (m_nReset >= 0) {
        d[m_nReset] = N {};
    }
    const size_t base = static_cast<size_t>(run) * static_cast<size_t>(orbit.instructions);
    const int count = static_cast<int>(m_code.size());
    for (int k = 0; k < count; ++k) {
        const BatchInstruction& in = m_code[static_cast<size_t>(k)];
        const size_t at = base + static_cast<size_t>(k);
        const N& db = in.b >= 0 ? d[in.b] : d[in.a];
        d[in.dest] = DeltaForm<N>(in, orbit.a[at], orbit.b[at], orbit.r[at], d[in.a], db, glitch);
    }
    return glitch;
}

void CDeltaProgram::Probe(const ReferenceOrbit& orbit, int run, ExComplex* d) const
{
    RunOnce<ExComplex>(orbit, run, d);
}

DeltaPixel CDeltaProgram::Iterate(const ReferenceOrbit& orbit, const ExComplex& offset, TerminationTest& term,
    int maxIter, std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX) const
{
    DeltaPixel pixel;
    scratchX.assign(static_cast<size_t>(m_nSlots), ExComplex {});
    ExComplex* x = scratchX.data();
    int run = 0;
    if (orbit.skipRuns > 0) {
        for (size_t j = 0; j < m_carried.size(); ++j) {
            x[m_carried[j]] = SkipStart(orbit.skipSeries[j], offset);
        }
        run = orbit.skipRuns;
    } else {
        for (const int slot : { m_iterZ, m_iterZ0 }) {
            if (slot >= 0) {
                x[slot] = offset;
            }
        }
    }
    pixel.runs = run;
    // Offsets below 2^-600 run in ExComplex; once the largest carried one is past it, doubles hold it
    // and every product of two, and what they round to zero is negligible beside it.
    bool doubles = ex::IsZero(offset);
    for (const int32_t slot : m_carried) {
        doubles = doubles || !ex::Below(x[slot], 600);
    }
    Complex* d = nullptr;
    const auto toDoubles = [&] {
        scratchD.resize(static_cast<size_t>(m_nSlots));
        d = scratchD.data();
        for (int s = 0; s < m_nSlots; ++s) {
            d[s] = ex::ToComplex(x[s]);
        }
    };
    if (doubles) {
        toDoubles();
    }
    Complex last {};
    int n = run;
    for (;;) {
        if (n >= orbit.runs) {
            pixel.glitched = true; // the reference ended before this pixel did
            return pixel;
        }
        Complex delta;
        if (doubles) {
            if (RunOnce<Complex>(orbit, n, d)) {
                pixel.glitched = true;
                return pixel;
            }
            delta = d[m_nResult];
        } else {
            if (RunOnce<ExComplex>(orbit, n, x)) {
                pixel.glitched = true;
                return pixel;
            }
            delta = ex::ToComplex(x[m_nResult]);
            bool large = false;
            for (const int32_t slot : m_carried) {
                large = large || !ex::Below(x[slot], 600);
            }
            if (large) {
                doubles = true;
                toDoubles();
            }
        }
        ++pixel.runs;
        last = Add(orbit.last[static_cast<size_t>(n)], delta);
        if (term.Holds(last, n)) {
            break;
        }
        if (++n >= maxIter) {
            break;
        }
    }
    pixel.count = n;
    pixel.last = last;
    return pixel;
}
