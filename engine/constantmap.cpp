#include "constantmap.h"

namespace {

// The colour formula of every map: the escape count.
constexpr std::string_view kEscapeCount = "V_iter_n / V_iter_max;";

// A variable name starting with "z" that formula does not use.
std::string FreshName(const CFormula& formula, std::string name)
{
    while (formula.FindVariable(name) >= 0 || formula.FindConstant(name) >= 0) {
        name += '_';
    }
    return name;
}

std::vector<Complex> ConstantsOf(const CFormula& formula)
{
    std::vector<Complex> values;
    for (int k = 0; k < formula.GetConstantCount(); ++k) {
        values.push_back(formula.GetConstant(k));
    }
    return values;
}

bool SameComplex(const std::vector<Complex>& a, const std::vector<Complex>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
        [](Complex x, Complex y) { return x.re == y.re && x.im == y.im; });
}

// Compiles text into formula, giving its named constants the values they have in from and the
// variable start (when present) the value value.
bool Compiled(
    CFormula& formula, const std::string& text, const CFormula& from, const std::string& start, Complex value)
{
    std::string message;
    if (formula.Compile(text, message) != kCompileOk) {
        return false;
    }
    for (int k = 0; k < from.GetConstantCount(); ++k) {
        const int at = formula.FindConstant(from.GetConstantName(k));
        if (at >= 0) {
            formula.SetConstant(at, from.GetConstant(k));
        }
    }
    if (const int at = formula.FindVariable(start); at >= 0) {
        formula.SetVariable(at, value);
    }
    return true;
}

} // namespace

bool ConstantMapInputs::operator==(const ConstantMapInputs& o) const
{
    return iterText == o.iterText && termText == o.termText && SameComplex(iterConstants, o.iterConstants)
        && SameComplex(termConstants, o.termConstants) && constant == o.constant && maxIter == o.maxIter
        && start.re == o.start.re && start.im == o.start.im && view == o.view && width == o.width
        && height == o.height && palette == o.palette && mapping == o.mapping;
}

ConstantMapInputs MapInputsOf(
    const Picture& picture, int constant, Complex start, const MapView& view, int width, int height)
{
    ConstantMapInputs in { picture.iterFormula.GetText(), picture.termFormula.GetText(),
        ConstantsOf(picture.iterFormula), ConstantsOf(picture.termFormula), constant, picture.maxIter, start,
        view, width, height, picture.palette.raster.pixels, picture.mapping };
    if (constant >= 0 && constant < static_cast<int>(in.iterConstants.size())) {
        in.iterConstants[static_cast<size_t>(constant)] = {};
    }
    return in;
}

bool BuildConstantMap(const Picture& picture, const ConstantMapInputs& in, Picture& map)
{
    const CFormula& iter = picture.iterFormula;
    if (in.constant < 0 || in.constant >= iter.GetConstantCount() || in.width <= 0 || in.height <= 0
        || !(in.view.width > 0)) {
        return false;
    }
    // The renderer puts each pixel's point into z (and z0): the mapped constant takes the name z, and
    // the formula's own z and z0 names that start at the start point.
    const std::string z = FreshName(iter, "z_map");
    const std::string z0 = FreshName(iter, "z_map0");
    const std::optional<std::string> iterText = RenameFormulaNames(
        iter.GetText(), { { "z", z }, { "z0", z0 }, { iter.GetConstantName(in.constant), "z" } });
    const std::string termZ0 = FreshName(picture.termFormula, "z_map0");
    const std::optional<std::string> termText
        = RenameFormulaNames(picture.termFormula.GetText(), { { "z0", termZ0 } });
    Picture built;
    std::string message;
    if (!iterText || !termText || !Compiled(built.iterFormula, *iterText, iter, z, in.start)
        || !Compiled(built.termFormula, *termText, picture.termFormula, termZ0, in.start)
        || built.colorFormula.Compile(kEscapeCount, message) != kCompileOk) {
        return false;
    }
    if (const int at = built.iterFormula.FindVariable(z0); at >= 0) {
        built.iterFormula.SetVariable(at, in.start);
    }
    built.maxIter = picture.maxIter;
    built.palette = picture.palette;
    built.mapping = picture.mapping;
    built.imageWidth = in.width;
    built.imageHeight = in.height;
    const double ratio = in.view.width / in.width;
    built.view = { in.view.centreX - in.view.width / 2, in.view.centreY - ratio * in.height / 2, ratio, {} };
    map = std::move(built);
    return true;
}

Complex MapPoint(const MapView& view, int width, int height, double x, double y)
{
    const double ratio = view.width / width;
    return { view.centreX - view.width / 2 + x * ratio, view.centreY - ratio * height / 2 + y * ratio };
}

void MapPixel(const MapView& view, int width, int height, Complex c, double& x, double& y)
{
    const double ratio = view.width / width;
    x = (c.re - (view.centreX - view.width / 2)) / ratio;
    y = (c.im - (view.centreY - ratio * height / 2)) / ratio;
}
