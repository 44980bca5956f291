#include "deepviewer.h"

#include "picture.h"
#include "planahead.h"

#include <cstring>
#include <optional>

namespace {

void AppendSlots(std::string& key, const CBatchFormula& program)
{
    key += program.Dump();
    key += '|';
    for (int s = 0; s < program.SlotCount(); ++s) {
        const Complex v = program.Initial(s);
        char bits[40];
        uint64_t re = 0;
        uint64_t im = 0;
        std::memcpy(&re, &v.re, sizeof re);
        std::memcpy(&im, &v.im, sizeof im);
        std::snprintf(bits, sizeof bits, "%llx,%llx;", static_cast<unsigned long long>(re),
            static_cast<unsigned long long>(im));
        key += bits;
    }
    key += '|';
}

} // namespace

mpfr_prec_t DeepBits(const Picture& picture)
{
    const PreciseView rough = PreciseViewOf(picture, 64);
    const long stepExponent = rough.ratio.Exponent() - 12;
    const long magnitude = std::max({ rough.offsetX.Exponent(), rough.offsetY.Exponent(), 4L });
    return BitsFor(stepExponent, magnitude, 96);
}

ExComplex ExOf(const BigFloat& value)
{
    long exponent = 0;
    const double mantissa = mpfr_get_d_2exp(&exponent, value.get(), MPFR_RNDN);
    return ex::Normalised(mantissa, 0.0, exponent);
}

ExComplex ExOf(const BigFloat& re, const BigFloat& im) { return ex::Add(ExOf(re), ex::Swap(ExOf(im))); }

CDeepViewer::CDeepViewer(const Picture& picture, int threads)
    : m_picture(picture)
    , m_nBits(DeepBits(picture))
    , m_nThreads(threads)
    , m_view(PreciseViewOf(picture, m_nBits))
    , m_centreX(m_view.offsetX + m_view.ratio * (picture.imageWidth / 2.0))
    , m_centreY(m_view.offsetY + m_view.ratio * (picture.imageHeight / 2.0))
{
}

// What tells this view's references from any other's: precision, limit, view, size and programs.
std::string CDeepViewer::Key() const
{
    std::string key = std::to_string(m_nBits) + "|" + std::to_string(m_picture.maxIter) + "|"
        + m_centreX.ToString() + "," + m_centreY.ToString() + "," + m_view.ratio.ToString() + ","
        + std::to_string(m_picture.imageWidth) + "x" + std::to_string(m_picture.imageHeight) + "|";
    AppendSlots(key, CBatchFormula(m_picture.iterFormula));
    AppendSlots(key, CBatchFormula(m_picture.termFormula));
    // A colour formula that decides on exact values has records of its own along the orbits.
    const CBatchFormula colour(m_picture.colorFormula);
    if (CDeltaCode(colour, colour.Slot(m_picture.colorFormula.FindVariable("z")),
            colour.Slot(m_picture.colorFormula.FindVariable("z0")))
            .DecidesOnValues()) {
        AppendSlots(key, colour);
    }
    return key;
}

// The largest distance from point to a corner of the view: every pixel's offset is within it.
ExComplex CDeepViewer::Radius(const BigComplex& point) const
{
    BigFloat px(m_nBits);
    BigFloat py(m_nBits);
    mpfr_set(px.get(), point.Re(), MPFR_RNDN);
    mpfr_set(py.get(), point.Im(), MPFR_RNDN);
    const BigFloat width = m_view.ratio * static_cast<double>(m_picture.imageWidth);
    const BigFloat height = m_view.ratio * static_cast<double>(m_picture.imageHeight);
    ExComplex largest = ex::FromReal(0.0);
    for (const bool right : { false, true }) {
        for (const bool bottom : { false, true }) {
            const BigFloat cx = right ? m_view.offsetX + width : m_view.offsetX;
            const BigFloat cy = bottom ? m_view.offsetY + height : m_view.offsetY;
            const ExComplex d = ex::Abs(ExOf(cx - px, cy - py));
            if (ex::IsZero(largest) || ex::Sub(d, largest).re > 0.0) {
                largest = d;
            }
        }
    }
    return ex::Scale(largest, 1.01);
}

bool CDeepViewer::MakeReference(const DeepView& view, const BigComplex& point, size_t budget,
    const std::function<bool()>& cancelled, std::shared_ptr<Reference>& out) const
{
    out = std::make_shared<Reference>();
    const ExComplex radius = Radius(point);
    // The render's threads wait for the orbit: one of them plans the skips of its runs meanwhile.
    std::optional<CPlanAhead> ahead;
    if (m_nThreads > 1) {
        ahead.emplace(view.program, radius, m_picture.maxIter);
    }
    if (!BuildReference(view.program, point, m_nBits, m_picture.maxIter, *out, cancelled, budget,
            ahead ? &*ahead : nullptr)) {
        return false;
    }
    PlannedAhead planned = ahead ? ahead->Finish() : PlannedAhead {};
    view.program.PlanSkip(out->orbit, radius, m_picture.maxIter, m_nThreads, &planned);
    if (out->orbit.landing) {
        // Landed pixels take its bilinear skips (never from its first run, which none takes).
        view.program.PlanSkip(*out->orbit.landing, radius, m_picture.maxIter, m_nThreads);
    }
    return true;
}

std::shared_ptr<DeepView> CDeepViewer::Open(
    CDeepSession& session, const std::function<bool()>& cancelled) const
{
    const std::string key = Key();
    if (std::shared_ptr<DeepView> kept = session.Find(key)) {
        return kept;
    }
    auto view = std::make_shared<DeepView>();
    view->key = key;
    view->bits = m_nBits;
    view->program = DeltaProgramOf(m_picture.iterFormula, m_picture.termFormula, &m_picture.colorFormula);
    std::shared_ptr<Reference> main;
    if (!MakeReference(*view, BigComplex(m_centreX, m_centreY), kMaxReferenceBytes, cancelled, main)) {
        return nullptr;
    }
    view->references.push_back(main);
    view->bytes = main->orbit.Bytes();
    session.Keep(view);
    return view;
}
