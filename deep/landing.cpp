#include "delta.h"

#include "deltaforms.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>

// Landing: exp maps the far left half-plane onto a neighbourhood of 0, so a pixel whose exp argument
// runs far to the left of the reference's lands next to the value the formula takes with exp = 0
// (its asymptotic value: C for exp(z) + C), wherever the reference goes. Its offset from the
// reference then holds nothing of its value, and the reference orbit seldom passes that value, so
// rebasing finds no run to go on from. A second orbit, started by a run with that exp's value 0,
// passes it at once: the pixel's run is taken on that orbit's run 0 with its exp computed from its own
// argument, and it goes on along that orbit with an offset as small as its exp.
//
// This covers any program whose state passes from run to run only through one exp (exp(z) + C,
// C * exp(z * z) + z0, exp(exp(z)) - 1, ...); programs that read the state elsewhere (exp(z) + z)
// collapse onto no single value and glitch as before.

namespace {

// The pixel's argument is rounded to doubles beside the reference's: that may be at most this many
// times the pixel's offset, so that what the rounding loses stays below the offset's own by 2^-10
// (as for a rebase).
constexpr double kLargestArgumentShare = 0x1p10;

double Norm2(Complex a) { return a.re * a.re + a.im * a.im; }

// Per instruction, whether it reads the state (the carried slots but z0; the reset slot starts every
// run at 0) other than through instruction cut; and whether every carried slot but z0, and the
// result, are free of it after the run.
bool StateFlows(const CDeltaCode& code, int cut, std::vector<uint8_t>& reads)
{
    std::vector<uint8_t> state(static_cast<size_t>(code.Slots()), 0);
    for (const int32_t slot : code.Carried()) {
        state[static_cast<size_t>(slot)] = slot != code.Z0();
    }
    if (code.ResetSlot() >= 0) {
        state[static_cast<size_t>(code.ResetSlot())] = 0;
    }
    const std::vector<BatchInstruction>& program = code.Code();
    reads.assign(program.size(), 0);
    for (size_t k = 0; k < program.size(); ++k) {
        const BatchInstruction& in = program[k];
        const bool read = state[static_cast<size_t>(in.a)] || (in.b >= 0 && state[static_cast<size_t>(in.b)]);
        reads[k] = read;
        state[static_cast<size_t>(in.dest)] = read && static_cast<int>(k) != cut;
    }
    bool free = !state[static_cast<size_t>(code.Result())];
    for (const int32_t slot : code.Carried()) {
        free = free && !state[static_cast<size_t>(slot)];
    }
    return free;
}

} // namespace

void CDeltaProgram::NoteLanding()
{
    m_nLanding = -1;
    m_stateRead.clear();
    if (!m_bAutonomous) {
        return;
    }
    const std::vector<BatchInstruction>& code = m_iter.Code();
    for (size_t k = 0; k < code.size(); ++k) {
        std::vector<uint8_t> reads;
        if (code[k].opcode == kOpExp && StateFlows(m_iter, static_cast<int>(k), reads) && reads[k]) {
            m_nLanding = static_cast<int>(k);
            m_stateRead = std::move(reads);
            return;
        }
    }
}

bool CDeltaProgram::Land(const ReferenceOrbit& orbit, int r, const ReferenceOrbit* to, Complex* d) const
{
    if (m_nLanding < 0 || !to || to->runs < 2 || orbit.TinyRun(r) || orbit.SingularRun(r) || to->TinyRun(0)
        || to->SingularRun(0)) {
        return false;
    }
    const std::vector<BatchInstruction>& code = m_iter.Code();
    const size_t cut = static_cast<size_t>(m_nLanding);
    if (m_iter.ResetSlot() >= 0) {
        d[m_iter.ResetSlot()] = {};
    }
    // The run up to the exp on the pixel's own record: its argument, and what the rest reads besides.
    bool glitch = false;
    const ProgramRecord& from = orbit.iteration;
    const size_t base = static_cast<size_t>(r) * static_cast<size_t>(from.instructions);
    for (size_t k = 0; k < cut; ++k) {
        const BatchInstruction& in = code[k];
        const Complex& b = in.b >= 0 ? d[in.b] : d[in.a];
        d[in.dest] = DeltaForm<Complex>(
            in, from.a[base + k], from.b[base + k], from.r[base + k], d[in.a], b, glitch);
    }
    const Complex argument = from.a[base + cut];
    const Complex offset = d[code[cut].a];
    if (glitch || !(Norm2(argument) <= kLargestArgumentShare * kLargestArgumentShare * Norm2(offset))) {
        return false;
    }
    // The landing run's exp is 0: the pixel's offset there is its exp itself.
    const Complex value = Exp(Add(argument, offset));
    if (!std::isfinite(value.re) || !std::isfinite(value.im)) {
        return false;
    }
    d[code[cut].dest] = value;
    // The rest on the landing run's record; what reads the state there only fed the exp.
    const ProgramRecord& landing = to->iteration;
    for (size_t k = cut + 1; k < code.size(); ++k) {
        if (m_stateRead[k]) {
            continue;
        }
        const BatchInstruction& in = code[k];
        const Complex& b = in.b >= 0 ? d[in.b] : d[in.a];
        d[in.dest] = DeltaForm<Complex>(in, landing.a[k], landing.b[k], landing.r[k], d[in.a], b, glitch);
    }
    return !glitch;
}

bool CDeltaProgram::Mend(const ReferenceOrbit& orbit, const ReferenceOrbit*& on, int& r, Complex* d,
    const Complex* before, DeltaPixel& pixel, bool mayLand, bool& glitch) const
{
    // Landing first: a pixel the lanes handed over has found no run to rebase onto already, and a
    // collapsed exp seldom passes one; the search for it costs a pass over the orbit.
    if (mayLand && m_nLanding >= 0 && orbit.landing) {
        const std::vector<int32_t>& carried = m_iter.Carried();
        for (size_t j = 0; j < carried.size(); ++j) {
            d[carried[j]] = before[j];
        }
        if (Land(*on, r, orbit.landing.get(), d)) {
            // Its passes through a periodic orbit's end so far were another orbit's (see Iterate's scratch).
            const size_t all = static_cast<size_t>(m_iter.Slots() + m_term.Slots());
            std::fill_n(d + all, carried.size() + 1, Complex { NAN, NAN });
            on = orbit.landing.get();
            r = 0;
            glitch = false;
            pixel.landedAt = pixel.landed ? pixel.landedAt : pixel.runs;
            pixel.landed = true;
            ++pixel.rebases;
            return false;
        }
    }
    return RunAgain(*on, r, d, before, pixel);
}
