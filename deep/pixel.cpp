#include "delta.h"

#include "arith.h"
#include "lanecycle.h"
#include "orbitderivative.h"

#include <algorithm>
#include <cmath>

// One pixel at a time: the path of pixels the lanes leave (deferred, or too few for them), of the
// colour formulas that read the iteration's variables and of the tools that explain one pixel.

namespace {

bool OffsetsBelow(const ExComplex* x, const std::vector<int32_t>& slots, int bits)
{
    return std::all_of(slots.begin(), slots.end(), [&](int32_t s) { return ex::Below(x[s], bits); });
}

bool OffsetsBelowD(const Complex* d, const std::vector<int32_t>& slots, int bits)
{
    const double limit = std::ldexp(1.0, -bits);
    return std::all_of(slots.begin(), slots.end(),
        [&](int32_t s) { return std::fmax(std::fabs(d[s].re), std::fabs(d[s].im)) < limit; });
}

// The derivative a pixel carries, where it carries one.
struct PixelCarry {
    const COrbitDerivative* carrier;
    OrbitDerivative* state;

    template <class N> bool Run(const CDeltaCode& code, const ProgramRecord& record, int r, N* d) const
    {
        return carrier ? carrier->Run(record, r, d, *state) : code.Run(record, r, d);
    }
    // A pixel that goes on from where the lanes left it has no derivative they carried.
    void Start(const ReferenceOrbit& orbit, const ExComplex& offset, int n, bool going) const
    {
        if (carrier) {
            going ? carrier->Unknown(*state) : carrier->Start(orbit, offset, n, *state);
        }
    }
};

// A pixel's scratch: its slots in doubles (d) and in ExComplex (x); after them, in both forms, the
// carried offsets at its last pass through a periodic orbit's end (NaN before the first, see
// NextRecord), and in doubles those before a run.
struct PixelScratch {
    size_t all, laps;
    Complex* d;
    ExComplex* x;

    PixelScratch(
        size_t slots, size_t carried, std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX)
        : all(slots)
        , laps(carried + 1)
    {
        scratchD.assign(all + laps + carried, Complex { NAN, NAN });
        scratchX.assign(all + laps, ExComplex {});
        d = scratchD.data();
        x = scratchX.data();
        ForgetLaps();
    }
    // The slots in the other form.
    void ToDoubles() const
    {
        std::transform(x, x + all, d, [](const ExComplex& v) { return ex::ToComplex(v); });
        ForgetLaps();
    }
    void ToWide() const
    {
        std::transform(d, d + all, x, [](Complex v) { return ex::From(v); });
        ForgetLaps();
    }
    // Laps kept in one form, or on another orbit, would be compared with offsets far away.
    void ForgetLaps() const
    {
        std::fill_n(d + all, laps, Complex { NAN, NAN });
        std::fill_n(x + all, laps, ExComplex { NAN, NAN, 0 });
    }
};

// Where a pixel that goes on from where the lanes left it stands.
DeltaPixel Resumed(const DeltaPixel* resumed, int n)
{
    DeltaPixel pixel;
    const bool going = resumed && resumed->resumeRun >= 0;
    pixel.runs = going ? resumed->runs : n;
    pixel.skipped = going ? resumed->skipped : 0;
    pixel.rebases = going ? resumed->rebases : 0;
    pixel.landed = going && resumed->landed;
    pixel.landedAt = going ? resumed->landedAt : 0;
    return pixel;
}

// A pixel that ends leaves the offsets it ends with in x, where the caller finds them.
DeltaPixel Ended(const DeltaPixel& pixel, bool doubles, const Complex* d, ExComplex* x, size_t slots)
{
    if (doubles) {
        std::transform(d, d + slots, x, [](Complex v) { return ex::From(v); });
    }
    return pixel;
}

// The bilinear skips of a pixel at its run n on record r, its carried offsets in d (doubles) or x: the record
// reached, n moved as far. Skips follow the records (a rebased pixel's, or one that went round a
// periodic orbit, is not its own run) and stop before the limit and the orbit's end.
int Bilinear(const ReferenceOrbit& orbit, int r, int& n, int maxIter, BlaTries& tries, bool doubles,
    Complex* d, ExComplex* x, const ExComplex& planeOffset, DeltaPixel& pixel, const PixelCarry& carry)
{
    if (orbit.bla.Empty() || n < tries.next || r < 0 || r >= orbit.runs) {
        return r;
    }
    const std::vector<int32_t>& slots = orbit.bla.Slots();
    ExComplex state[kBlaMaxWidth];
    for (size_t i = 0; i < slots.size(); ++i) {
        state[i] = doubles ? ex::From(d[slots[i]]) : x[slots[i]];
    }
    const int end = std::min(orbit.runs, r + maxIter - n) - 1;
    const int to = carry.carrier ? carry.carrier->Skip(orbit.bla, r, end, state, planeOffset, *carry.state)
                                 : orbit.bla.Skip(r, end, state, planeOffset);
    if (to != r) {
        for (size_t i = 0; i < slots.size(); ++i) {
            if (doubles) {
                d[slots[i]] = ex::ToComplex(state[i]);
            } else {
                x[slots[i]] = state[i];
            }
        }
        pixel.skipped += to - r;
        pixel.runs += to - r;
        n += to - r;
    }
    tries.Tried(r, to, n);
    return to;
}

// A pixel whose run glitched, or whose reference ended before it did: another reference takes it.
DeltaPixel Glitched(DeltaPixel& pixel)
{
    pixel.glitched = true;
    return pixel;
}

// The pixel after its run n on record r of orbit, its value's offset delta (lastOffset with its own
// exponent): whether it ends there, its termination holding or the limit reached.
bool AfterRun(DeltaPixel& pixel, const ReferenceOrbit& orbit, int r, int n, Complex delta,
    const ExComplex& lastOffset, bool holds, int maxIter)
{
    ++pixel.runs;
    pixel.last = Add(orbit.last[static_cast<size_t>(r)], delta);
    pixel.lastOffset = lastOffset;
    pixel.recordRun = r;
    if (holds || n + 1 >= maxIter) {
        pixel.count = holds ? n : maxIter;
        return true;
    }
    return false;
}

// A landed pixel handed back to the lanes at its run n on record r of the landing orbit.
DeltaPixel HandedBack(DeltaPixel& pixel, int n, int r)
{
    pixel.deferred = true;
    pixel.resumeRun = n;
    pixel.recordRun = r;
    return pixel;
}

} // namespace

template <class N>
bool CDeltaProgram::Holds(
    const ReferenceOrbit& orbit, int n, const N* d, const N& z0, N* t, bool& glitch) const
{
    if (m_term.Z() >= 0) {
        t[m_term.Z()] = d[m_iter.Result()];
    }
    if (m_term.Z0() >= 0) {
        t[m_term.Z0()] = z0;
    }
    if (m_bEscapeDecides) {
        const Complex offset = Arith<N>::ToC(d[m_iter.Result()]);
        if (const double decided = EscapeDecision(Add(orbit.last[static_cast<size_t>(n)], offset), offset);
            decided != 0.0) {
            return decided > 0.0;
        }
    }
    if (m_termN >= 0) {
        t[m_termN] = N {};
    }
    glitch |= m_term.Run(orbit.termination, n, t);
    const N& v = t[m_term.Result()];
    double sum = 0.0;
    if constexpr (std::is_same_v<N, Complex>) {
        sum = orbit.held[static_cast<size_t>(n)] + v.re;
    } else {
        sum = ex::Add(orbit.Held(n), ex::RealOf(v)).re;
    }
    // The reference's value, or the pixel's, is not a number: a reference of its own decides.
    glitch |= std::isnan(sum);
    return sum > 0.0;
}

DeltaPixel CDeltaProgram::Iterate(const ReferenceOrbit& orbit, const ExComplex& offset, int maxIter,
    std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX, const DeltaPixel* resumed,
    const Complex* resume, const COrbitDerivative* carrier, OrbitDerivative* derivative,
    bool handsLandedBack) const
{
    const PixelCarry carry { carrier, derivative };
    const size_t slots = static_cast<size_t>(m_iter.Slots());
    const size_t all = slots + static_cast<size_t>(m_term.Slots());
    const std::vector<int32_t>& carried = m_iter.Carried();
    const PixelScratch scratch(all, carried.size(), scratchD, scratchX);
    ExComplex* x = scratch.x;
    Complex* d = scratch.d;
    int n = StartPixel(orbit, offset, resumed, resume, x);
    const bool going = resumed && resumed->resumeRun >= 0;
    carry.Start(orbit, offset, n, going);
    DeltaPixel pixel = Resumed(resumed, n);
    int r = going && resumed->recordRun >= 0 ? resumed->recordRun : orbit.RecordRun(n); // the record n takes
    // Offsets below 2^-600 run in ExComplex; past it, doubles hold them and their products (what they round
    // away is negligible beside them), except while a comparison or a cut reads a plane offset they lose.
    const bool keepWide = DecidesOnPlanePoint() && ex::Below(offset, kPlaneOffsetBits) && !ex::IsZero(offset);
    bool doubles = (ex::IsZero(offset) && n == 0) || (!keepWide && !OffsetsBelow(x, carried, 600));
    const Complex z0 = ex::ToComplex(offset);
    if (doubles) {
        scratch.ToDoubles();
    }
    BlaTries tries { n, 1 };
    // The landing orbit once the pixel landed.
    const ReferenceOrbit* on = pixel.landed && orbit.landing ? orbit.landing.get() : &orbit;
    const bool handsBack = handsLandedBack && !pixel.landed && orbit.landing && orbit.landing->keepsLanded;
    for (;; ++n) {
        r = Bilinear(*on, r, n, maxIter, tries, doubles, d, x, offset, pixel, carry);
        if (r < 0 || r >= on->runs) {
            return Glitched(pixel); // the reference ended before this pixel did
        }
        if (handsBack && on != &orbit && doubles) {
            return HandedBack(pixel, n, r);
        }
        if (doubles && on->TinyRun(r) && OffsetsBelowD(d, carried, kTinyRunBits)) {
            // The reference passes closer to 0 than the doubles hold, and the pixel's offsets are too
            // small for their products to hold: this run in ExComplex.
            scratch.ToWide();
            doubles = false;
        }
        bool glitch = false;
        bool holds = false;
        Complex delta;
        if (doubles) {
            Complex* before = d + all + carried.size() + 1;
            std::transform(carried.begin(), carried.end(), before, [d](int32_t s) { return d[s]; });
            glitch = carry.Run(m_iter, on->iteration, r, d);
            const ReferenceOrbit* was = on;
            if (glitch && Mend(orbit, on, r, d, before, pixel, !carrier, glitch)) {
                --n; // the run again, from another record (see RebaseGlitchedLanes)
                if (on != was) {
                    scratch.ForgetLaps();
                }
                continue;
            }
            holds = Holds(*on, r, d, z0, d + slots, glitch);
            delta = d[m_iter.Result()];
        } else {
            glitch = carry.Run(m_iter, on->iteration, r, x);
            holds = Holds(*on, r, x, offset, x + slots, glitch);
            delta = ex::ToComplex(x[m_iter.Result()]);
            if (!keepWide && !OffsetsBelow(x, carried, 600)) {
                scratch.ToDoubles();
                doubles = true;
            }
        }
        if (glitch) {
            return Glitched(pixel);
        }
        const ExComplex lastOffset = doubles ? ex::From(d[m_iter.Result()]) : x[m_iter.Result()];
        if (AfterRun(pixel, *on, r, n, delta, lastOffset, holds, maxIter)) {
            return Ended(pixel, doubles, d, x, slots);
        }
        r = doubles ? NextRecord(*on, r, d, d + all, maxIter, n, pixel)
                    : NextRecordWide(*on, r, x, x + all, maxIter, n, pixel);
    }
}
