#include "delta.h"

#include "deltaforms.h"
#include "deltakernels.h"

#include "opcodes.h"

#include <algorithm>
#include <bit>

// Pixels side by side: kLanes offsets at a time, each lane at its own run of the reference.

bool CDeltaProgram::IterateLanes(const ReferenceOrbit& orbit, const ExComplex* offsets, const Complex* points,
    int count, TerminationLanes& term, int maxIter, DeltaLanes& scratch, DeltaPixel* out) const
{
    const int skip = orbit.skipRuns;
    constexpr size_t lanes = static_cast<size_t>(kLanes);
    const size_t slots = static_cast<size_t>(m_nSlots);
    scratch.re.assign(slots * lanes, 0.0);
    scratch.im.assign(slots * lanes, 0.0);
    scratch.glitched.assign(lanes, 0.0);
    scratch.lastRe.assign(lanes, 0.0);
    scratch.lastIm.assign(lanes, 0.0);
    double* re = scratch.re.data();
    double* im = scratch.im.data();
    double* glitched = scratch.glitched.data();
    const auto at = [](int slot) { return static_cast<size_t>(slot) * lanes; };
    // Each lane runs at its own run of the reference, and takes the next pixel when its pixel ends, so
    // that one slow pixel does not hold 63 idle lanes.
    int laneRun[kLanes];
    const size_t stride = static_cast<size_t>(orbit.instructions);
    alignas(64) size_t runAt[kLanes]; // each lane's run as an index into the orbit's records
    int lanePixel[kLanes];
    uint64_t active = 0;
    int nextPixel = 0;
    std::vector<Complex> start(m_carried.size());
    const bool scaled = skip > 0 && !orbit.skipScaled.empty();
    // Puts the next pixel whose offsets the doubles hold into the lane; a pixel whose largest carried
    // offset is below their range is left to the caller (deferred).
    const auto fill = [&](int l) {
        laneRun[l] = skip;
        runAt[l] = static_cast<size_t>(skip) * stride;
        while (nextPixel < count) {
            const int p = nextPixel++;
            out[p] = {};
            out[p].runs = skip;
            if (skip >= orbit.runs) {
                out[p].glitched = true; // the reference ends before the pixel's first run
                continue;
            }
            bool large = ex::IsZero(offsets[p]);
            if (scaled) {
                const Complex unit = ex::ToComplex(ex::Mul(offsets[p], orbit.skipUnit));
                for (size_t j = 0; j < m_carried.size(); ++j) {
                    start[j] = SkipStart(orbit.skipScaled[j], unit);
                    large = large || std::fmax(std::fabs(start[j].re), std::fabs(start[j].im)) >= 0x1p-600;
                }
            } else {
                for (size_t j = 0; j < m_carried.size(); ++j) {
                    const ExComplex x = skip > 0
                        ? SkipStart(orbit.skipSeries[j], offsets[p])
                        : (m_carried[j] == m_iterZ || m_carried[j] == m_iterZ0 ? offsets[p] : ExComplex {});
                    large = large || !ex::Below(x, 600);
                    start[j] = ex::ToComplex(x);
                }
            }
            if (!large) {
                out[p].deferred = true;
                continue;
            }
            for (size_t s = 0; s < slots; ++s) {
                re[s * lanes + static_cast<size_t>(l)] = 0.0;
                im[s * lanes + static_cast<size_t>(l)] = 0.0;
            }
            for (size_t j = 0; j < m_carried.size(); ++j) {
                re[at(m_carried[j]) + static_cast<size_t>(l)] = start[j].re;
                im[at(m_carried[j]) + static_cast<size_t>(l)] = start[j].im;
            }
            term.program.ResetLane(l);
            if (term.z0 >= 0) {
                term.program.Set(term.z0, l, points[p]);
            }
            glitched[l] = 0.0;
            lanePixel[l] = p;
            active |= uint64_t { 1 } << l;
            return;
        }
    };
    for (int l = 0; l < kLanes; ++l) {
        lanePixel[l] = -1;
        fill(l);
    }
    const int instructions = static_cast<int>(m_code.size());
    const DeltaKernels& kernels = ActiveDeltaKernels();
    // Idle lanes read run `skip`'s values; what they compute is never read.
    while (active != 0) {
        if (m_nReset >= 0) {
            std::fill_n(re + at(m_nReset), lanes, 0.0);
            std::fill_n(im + at(m_nReset), lanes, 0.0);
        }
        for (int k = 0; k < instructions; ++k) {
            const BatchInstruction& in = m_code[static_cast<size_t>(k)];
            const double* ar = re + at(in.a);
            const double* ai = im + at(in.a);
            const double* br = re + at(in.b >= 0 ? in.b : in.a);
            const double* bi = im + at(in.b >= 0 ? in.b : in.a);
            double* dr = re + at(in.dest);
            double* di = im + at(in.dest);
            const Complex* refA = orbit.a.data() + k;
            const Complex* refB = orbit.b.data() + k;
            const Complex* refR = orbit.r.data() + k;
            switch (in.opcode) {
            case kOpAdd: kernels.add(ar, ai, br, bi, dr, di); break;
            case kOpSub: kernels.sub(ar, ai, br, bi, dr, di); break;
            case kOpCopy:
                std::copy_n(ar, lanes, dr);
                std::copy_n(ai, lanes, di);
                break;
            case kOpMul:
                // A b + a B + a b, with the glitch test of the scalar form.
                kernels.mul(refA, refB, runAt, ar, ai, br, bi, dr, di, glitched, kGlitchShare * kGlitchShare);
                break;
            default:
                for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
                    const int l = std::countr_zero(bits);
                    const size_t run = runAt[l];
                    bool glitch = false;
                    const Complex v = DeltaForm<Complex>(
                        in, refA[run], refB[run], refR[run], { ar[l], ai[l] }, { br[l], bi[l] }, glitch);
                    dr[l] = v.re;
                    di[l] = v.im;
                    glitched[l] = glitch ? 1.0 : glitched[l];
                }
                break;
            }
        }
        double* tz = term.z >= 0 ? term.program.Re(term.z) : nullptr;
        double* tzi = term.z >= 0 ? term.program.Im(term.z) : nullptr;
        double* tn = term.n >= 0 ? term.program.Re(term.n) : nullptr;
        double* tni = term.n >= 0 ? term.program.Im(term.n) : nullptr;
        kernels.value(orbit.last.data(), laneRun, re + at(m_nResult), im + at(m_nResult),
            scratch.lastRe.data(), scratch.lastIm.data());
        if (tz) {
            std::copy_n(scratch.lastRe.data(), lanes, tz);
            std::copy_n(scratch.lastIm.data(), lanes, tzi);
        }
        if (tn) {
            for (size_t l = 0; l < lanes; ++l) {
                tn[l] = static_cast<double>(laneRun[l]);
                tni[l] = 0.0;
            }
        }
        term.program.Run();
        const double* held = term.program.Re(term.program.ResultSlot());
        for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
            const int l = std::countr_zero(bits);
            DeltaPixel& pixel = out[lanePixel[l]];
            const int n = laneRun[l];
            // The runs a pixel made are counted when it ends: the skip's and n + 1 from its lane.
            bool ends = true;
            if (glitched[l] != 0.0) {
                pixel.glitched = true;
                pixel.runs = n;
            } else if (held[l] > 0.0 || n + 1 >= maxIter) {
                pixel.count = held[l] > 0.0 ? n : maxIter;
                pixel.last
                    = { scratch.lastRe[static_cast<size_t>(l)], scratch.lastIm[static_cast<size_t>(l)] };
                pixel.runs = n + 1;
            } else if (n + 1 >= orbit.runs) {
                pixel.glitched = true; // its reference ends here
                pixel.runs = n + 1;
            } else {
                ends = false;
            }
            if (ends) {
                active &= ~(uint64_t { 1 } << l);
                fill(l);
            } else {
                laneRun[l] = n + 1;
                runAt[l] += stride;
            }
        }
    }
    return true;
}
