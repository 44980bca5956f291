#include "probe.h"

#include "deeprender.h"
#include "deepviewer.h"
#include "exactview.h"
#include "numbertext.h"

namespace {

// The double a coordinate reads as: the one the tool's --center gives it.
double NearestDouble(std::string_view text)
{
    double value = 0.0;
    if (!ParseDouble(text, value)) {
        bool ok = false;
        value = BigFloat::Parse(text, 64, &ok).ToDouble();
    }
    return value;
}

} // namespace

ProbeResult ProbePoint(
    Picture& picture, std::string_view re, std::string_view im, const std::function<bool()>& cancelled)
{
    ProbeResult probe;
    const RenderBindings v = BindRender(picture);
    if (v.iterZ < 0) {
        probe.result = kRenderNoIterationVariable;
        return probe;
    }
    if (!IsDeepView(picture)) {
        const Complex point { NearestDouble(re), NearestDouble(im) };
        CScalarPixel pixel(picture, v);
        Complex last {};
        probe.count = pixel.Iterate(point, last);
        probe.last = last;
        if (pixel.HasDerivative()) {
            probe.derivative = true;
            probe.dz = pixel.Derivative().dz;
            probe.de = pixel.Derivative().de;
        }
        probe.re = FormatShortest(point.re);
        probe.im = FormatShortest(point.im);
        return probe;
    }
    const mpfr_prec_t bits = DeepBits(picture);
    bool ok = false;
    const BigFloat x = BigFloat::Parse(re, bits, &ok);
    const BigFloat y = BigFloat::Parse(im, bits, &ok);
    const DeepProbe deep = ProbeDeep(picture, BigComplex(x, y), cancelled);
    if (deep.cancelled) {
        probe.result = kRenderAborted;
        return probe;
    }
    probe.count = deep.count;
    probe.last = deep.last;
    probe.path = deep.precise ? ProbePath::Precise : ProbePath::Perturbation;
    probe.derivative = deep.derivative;
    probe.dz = deep.dz;
    probe.de = deep.de;
    probe.re = ShortestText(x);
    probe.im = ShortestText(y);
    return probe;
}
