#include "lanecycle.h"

#include "opcodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

// Rebasing: a pixel whose value comes near a point its reference passes far from (a critical point
// of a product or a power) loses the digits its offset needs there. Its value is still known to the
// doubles' precision of the offsets' size, so where the orbit itself passes nearer that value than the
// offsets are large, the pixel goes on from that run with the smaller offsets: one reference serves
// the view where another reference per glitch would be needed.

namespace {

// A rebase rounds the reference's values to doubles on both sides: they may be at most this many times
// the offsets' size, so that what the rounding loses stays below the pixel's own rounding by 2^-10.
constexpr double kLargestReferenceShare = 0x1p10;

// Operations whose glitch test is only that the pixel's operand (or derivative) dropped far below the
// reference's, and whose offsets hold the pixel's value to their own precision everywhere else.
bool DropsOnly(int opcode)
{
    if (opcode == kBatchOpPowWhole || IsComparison(opcode)) {
        return true;
    }
    switch (static_cast<Op>(opcode)) {
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpExp:
    case kOpEnd: return true;
    default: return false;
    }
}

double Norm2(Complex a) { return a.re * a.re + a.im * a.im; }

} // namespace

void CDeltaProgram::NoteAutonomy()
{
    const auto own = [](const CDeltaCode& code, int n) {
        return std::all_of(code.Carried().begin(), code.Carried().end(),
            [&](int32_t slot) { return slot == code.Z() || slot == code.Z0() || slot == n; });
    };
    m_bAutonomous = m_termN < 0 && own(m_term, m_termN) && !(m_bColour && m_colourN >= 0);
    m_bRebases = m_bAutonomous
        && std::all_of(m_iter.Code().begin(), m_iter.Code().end(),
            [](const BatchInstruction& in) { return DropsOnly(in.opcode); });
    m_rebased.clear();
    const std::vector<int32_t>& carried = m_iter.Carried();
    for (size_t j = 0; j < carried.size(); ++j) {
        if (carried[j] != m_iter.Z0()) {
            m_rebased.push_back(static_cast<int>(j));
        }
    }
    m_bRebases = m_bRebases && !m_rebased.empty();
    NoteLanding();
}

bool CDeltaProgram::Rebase(const ReferenceOrbit& orbit, int r, Complex* d, int& to) const
{
    if (!m_bRebases || orbit.TinyRun(r)) {
        return false;
    }
    const std::vector<int32_t>& carried = m_iter.Carried();
    const size_t nc = carried.size();
    constexpr size_t kMost = 16;
    if (m_rebased.size() > kMost) {
        return false;
    }
    Complex full[kMost];
    double size = 0.0;
    double largest = 0.0;
    for (size_t i = 0; i < m_rebased.size(); ++i) {
        const size_t j = static_cast<size_t>(m_rebased[i]);
        const Complex z = orbit.carried[static_cast<size_t>(r) * nc + j];
        full[i] = Add(z, d[carried[j]]);
        size += Norm2(d[carried[j]]);
        largest = std::max(largest, Norm2(z));
    }
    const double share = kLargestReferenceShare * kLargestReferenceShare;
    if (!(size > 0.0) || !std::isfinite(size) || largest > share * size) {
        return false;
    }
    // The runs after which a pixel can go on: all but the last of an orbit that ends. A periodic
    // orbit's records past its first cycle repeat it and can be no nearer.
    const int last
        = orbit.period > 0 ? std::min(orbit.runs, orbit.cycleEnd + orbit.period + 1) : orbit.runs - 1;
    int best = -1;
    double nearest = size;
    for (int q = 0; q < last; ++q) {
        const Complex* state = orbit.carried.data() + static_cast<size_t>(q) * nc;
        double distance = 0.0;
        for (size_t i = 0; i < m_rebased.size() && distance < nearest; ++i) {
            distance += Norm2(Sub(full[i], state[m_rebased[i]]));
        }
        if (distance < nearest && q != r) {
            nearest = distance;
            best = q;
        }
    }
    if (best < 0 || orbit.TinyRun(best) || orbit.SingularRun(best)) {
        return false;
    }
    const Complex* state = orbit.carried.data() + static_cast<size_t>(best) * nc;
    for (size_t i = 0; i < m_rebased.size(); ++i) {
        if (Norm2(state[m_rebased[i]]) > share * size) {
            return false;
        }
    }
    // A result slot the iteration does not carry moves with the orbit's value.
    const int result = m_iter.Result();
    if (std::find(carried.begin(), carried.end(), result) == carried.end()) {
        const Complex value = Add(orbit.last[static_cast<size_t>(r)], d[result]);
        d[result] = Sub(value, orbit.last[static_cast<size_t>(best)]);
    }
    for (size_t i = 0; i < m_rebased.size(); ++i) {
        d[carried[static_cast<size_t>(m_rebased[i])]] = Sub(full[i], state[m_rebased[i]]);
    }
    to = best;
    return true;
}

namespace {

constexpr size_t kLaneCount = static_cast<size_t>(kLanes);

} // namespace

bool RebaseLane(const CDeltaProgram& program, const ReferenceOrbit& orbit, int r, double* re, double* im,
    int lane, std::vector<Complex>& gather, int& to)
{
    const size_t slots = gather.size();
    const size_t l = static_cast<size_t>(lane);
    for (size_t s = 0; s < slots; ++s) {
        gather[s] = { re[s * kLaneCount + l], im[s * kLaneCount + l] };
    }
    if (!program.Rebase(orbit, r, gather.data(), to)) {
        return false;
    }
    for (size_t s = 0; s < slots; ++s) {
        re[s * kLaneCount + l] = gather[s].re;
        im[s * kLaneCount + l] = gather[s].im;
    }
    return true;
}

namespace {

// Whether the lane's carried offsets agree with lap to 2^-44 of the values (the pixel's orbit repeats
// as closely as its doubles tell); lap takes them.
constexpr double kRepeat = 0x1p-44;

bool LaneRepeats(const ReferenceOrbit& orbit, int r, const std::vector<int32_t>& carried, const double* re,
    const double* im, int lane, double* lap)
{
    const size_t nc = carried.size();
    const Complex* state = orbit.carried.data() + static_cast<size_t>(r) * nc;
    bool repeats = true;
    double change = 0.0;
    for (size_t j = 0; j < nc; ++j) {
        const size_t at = static_cast<size_t>(carried[j]) * kLaneCount + static_cast<size_t>(lane);
        const double size = std::fmax(
            std::fabs(state[j].re) + std::fabs(state[j].im), std::fabs(re[at]) + std::fabs(im[at]));
        const double moved = std::fabs(re[at] - lap[2 * j]) + std::fabs(im[at] - lap[2 * j + 1]);
        repeats = repeats && moved <= kRepeat * size; // false against NaN: no pass before
        change += moved;
        lap[2 * j] = re[at];
        lap[2 * j + 1] = im[at];
    }
    // And it moved no more than the cycle before: near a repelling cycle (a Misiurewicz point's) the
    // offsets grow lap by lap, however small they are beside the values.
    repeats = repeats && change <= lap[2 * nc];
    lap[2 * nc] = change;
    return repeats;
}

} // namespace

int NextLaneRecord(const CDeltaProgram& program, const ReferenceOrbit& orbit, int r, double* re, double* im,
    int lane, std::vector<Complex>& gather, double* lap, int& rebases)
{
    if (orbit.LapEnd(r) && LaneRepeats(orbit, r, program.Carried(), re, im, lane, lap)) {
        return kGoesRound;
    }
    if (orbit.NextRecord(r) < 0) {
        int to = 0;
        if (!RebaseLane(program, orbit, r, re, im, lane, gather, to)) {
            return kReferenceEnds;
        }
        r = to;
        ++rebases;
    }
    return orbit.NextRecord(r);
}

void KeepCarried(const std::vector<int32_t>& carried, const double* re, const double* im, double* before)
{
    for (size_t j = 0; j < carried.size(); ++j) {
        const size_t at = static_cast<size_t>(carried[j]) * kLaneCount;
        std::copy_n(re + at, kLaneCount, before + 2 * j * kLaneCount);
        std::copy_n(im + at, kLaneCount, before + (2 * j + 1) * kLaneCount);
    }
}

void ResumeBefore(
    const std::vector<int32_t>& carried, const double* before, int lane, Complex* row, size_t slots)
{
    std::fill_n(row, slots, Complex {});
    const size_t l = static_cast<size_t>(lane);
    for (size_t j = 0; j < carried.size(); ++j) {
        row[carried[j]] = { before[2 * j * kLaneCount + l], before[(2 * j + 1) * kLaneCount + l] };
    }
}

uint64_t RebaseGlitchedLanes(const CDeltaProgram& program, const ReferenceOrbit& orbit, uint64_t active,
    double* glitched, double* re, double* im, const double* before, int* runs, std::vector<Complex>& gather)
{
    const std::vector<int32_t>& carried = program.Carried();
    uint64_t again = 0;
    for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        // Before the run the pixel stood after the record before (or the last of a periodic orbit's,
        // whose state is the same): none before the first.
        if (glitched[l] == 0.0 || runs[l] == 0) {
            continue;
        }
        for (size_t j = 0; j < carried.size(); ++j) {
            const size_t at = static_cast<size_t>(carried[j]) * kLaneCount + static_cast<size_t>(l);
            re[at] = before[2 * j * kLaneCount + static_cast<size_t>(l)];
            im[at] = before[(2 * j + 1) * kLaneCount + static_cast<size_t>(l)];
        }
        int to = 0;
        if (RebaseLane(program, orbit, runs[l] - 1, re, im, l, gather, to) && orbit.NextRecord(to) >= 0) {
            glitched[l] = 0.0;
            runs[l] = orbit.NextRecord(to);
            again |= uint64_t { 1 } << l;
        }
    }
    return again;
}

int CDeltaProgram::NextRecord(const ReferenceOrbit& orbit, int r, Complex* d, Complex* lap, int maxIter,
    int& n, DeltaPixel& pixel) const
{
    if (pixel.landed && !orbit.keepsLanded && pixel.runs - pixel.landedAt > kLandingRuns) {
        return -1; // another reference takes it side by side
    }
    if (orbit.LapEnd(r)) {
        // As LaneRepeats, for one pixel.
        const std::vector<int32_t>& carried = m_iter.Carried();
        const Complex* state = orbit.carried.data() + static_cast<size_t>(r) * carried.size();
        bool repeats = true;
        double change = 0.0;
        for (size_t j = 0; j < carried.size(); ++j) {
            const Complex now = d[carried[j]];
            const double size = std::fmax(
                std::fabs(state[j].re) + std::fabs(state[j].im), std::fabs(now.re) + std::fabs(now.im));
            const Complex moved = Sub(now, lap[j]);
            repeats = repeats && std::fabs(moved.re) + std::fabs(moved.im) <= kRepeat * size;
            change += std::fabs(moved.re) + std::fabs(moved.im);
            lap[j] = now;
        }
        repeats = repeats && change <= lap[carried.size()].re;
        lap[carried.size()].re = change;
        if (repeats) {
            const int laps = orbit.period * ((maxIter - 2 - n) / orbit.period);
            n += laps;
            pixel.runs += laps;
            return orbit.NextRecord(r);
        }
    }
    int to = r;
    if (orbit.NextRecord(r) < 0 && Rebase(orbit, r, d, to)) {
        ++pixel.rebases;
    }
    return orbit.NextRecord(to);
}

namespace {

// a <= b for non-negative real values, false unless both are finite.
bool NotAbove(const ExComplex& a, const ExComplex& b)
{
    return ex::IsFinite(a) && ex::IsFinite(b) && ex::Sub(b, a).re >= 0.0;
}

// As LaneRepeats, for offsets below the doubles' range: the sizes keep their own exponents, since
// offsets that grow lap by lap near a repelling cycle would all read 0 in doubles.
bool WideRepeats(const ReferenceOrbit& orbit, int r, const std::vector<int32_t>& carried, const ExComplex* x,
    ExComplex* lap)
{
    const size_t nc = carried.size();
    const Complex* state = orbit.carried.data() + static_cast<size_t>(r) * nc;
    bool repeats = true;
    ExComplex change {};
    for (size_t j = 0; j < nc; ++j) {
        const ExComplex& now = x[carried[j]];
        const Complex rounded = ex::ToComplex(now);
        const double size = std::fmax(
            std::fabs(state[j].re) + std::fabs(state[j].im), std::fabs(rounded.re) + std::fabs(rounded.im));
        const ExComplex moved = ex::Sub(now, lap[j]);
        const ExComplex distance = ex::Normalised(std::fabs(moved.re) + std::fabs(moved.im), 0.0, moved.e);
        repeats = repeats && NotAbove(distance, ex::FromReal(kRepeat * size));
        change = ex::Add(change, distance);
        lap[j] = now;
    }
    repeats = repeats && NotAbove(change, lap[nc]);
    lap[nc] = change;
    return repeats;
}

} // namespace

int CDeltaProgram::NextRecordWide(const ReferenceOrbit& orbit, int r, const ExComplex* x, ExComplex* lap,
    int maxIter, int& n, DeltaPixel& pixel) const
{
    if (pixel.landed && !orbit.keepsLanded && pixel.runs - pixel.landedAt > kLandingRuns) {
        return -1; // as NextRecord
    }
    if (orbit.LapEnd(r) && WideRepeats(orbit, r, m_iter.Carried(), x, lap)) {
        const int laps = orbit.period * ((maxIter - 2 - n) / orbit.period);
        n += laps;
        pixel.runs += laps;
    }
    return orbit.NextRecord(r);
}

bool CDeltaProgram::RunAgain(
    const ReferenceOrbit& orbit, int& r, Complex* d, const Complex* before, DeltaPixel& pixel) const
{
    if (!m_bRebases || r == 0) {
        return false;
    }
    const std::vector<int32_t>& carried = m_iter.Carried();
    for (size_t j = 0; j < carried.size(); ++j) {
        d[carried[j]] = before[j];
    }
    int to = 0;
    if (!Rebase(orbit, r - 1, d, to) || orbit.NextRecord(to) < 0) {
        return false;
    }
    r = orbit.NextRecord(to);
    ++pixel.rebases;
    return true;
}
