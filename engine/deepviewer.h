#pragma once

#include "deepsession.h"

#include "batchformula.h"
#include "exactview.h"

#include <functional>
#include <memory>
#include <string>

struct Picture;

// A picture's deep view as its references see it: the precision, the view in it, the key that tells
// its references from any other view's, and the references themselves (the main one at the centre).
// Shared by the render and the probe.
class CDeepViewer {
public:
    // threads: how many a reference's planning may take (the render's own, idle while it is made).
    explicit CDeepViewer(const Picture& picture, int threads = 1);

    mpfr_prec_t Bits() const { return m_nBits; }
    const PreciseView& View() const { return m_view; }
    // The session's references of this view, or a new view with its main reference at the centre
    // (kept in the session); null when cancelled.
    std::shared_ptr<DeepView> Open(CDeepSession& session, const std::function<bool()>& cancelled) const;
    // A reference of the view at point with its skip; false when cancelled.
    bool MakeReference(const DeepView& view, const BigComplex& point, size_t budget,
        const std::function<bool()>& cancelled, std::shared_ptr<Reference>& out) const;

private:
    std::string Key() const;
    ExComplex Radius(const BigComplex& point) const;

    const Picture& m_picture;
    mpfr_prec_t m_nBits;
    int m_nThreads;
    PreciseView m_view;
    BigFloat m_centreX, m_centreY;
};

// The precision a deep render of picture works at: its pixels told apart at its magnitude, with guard bits.
mpfr_prec_t DeepBits(const Picture& picture);

// A real BigFloat, and a complex of two, as an ExComplex (its exponent is not limited to the doubles').
ExComplex ExOf(const BigFloat& value);
ExComplex ExOf(const BigFloat& re, const BigFloat& im);
