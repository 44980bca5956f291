#include "pictureedit.h"

#include "fixedlimits.h"
#include "surface.h"

#include <algorithm>

namespace {

bool SameMapping(const PaletteMapping& a, const PaletteMapping& b)
{
    return a.x0 == b.x0 && a.y0 == b.y0 && a.dx == b.dx && a.dy == b.dy && a.sin == b.sin && a.cos == b.cos
        && a.stretch == b.stretch;
}

bool SameConstants(
    const std::vector<std::pair<int, Complex>>& a, const std::vector<std::pair<int, Complex>>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && x.second.re == y.second.re && x.second.im == y.second.im;
    });
}

// Equal when both are absent, or both present and same says so.
template <typename T, typename Same>
bool SameOptional(const std::optional<T>& a, const std::optional<T>& b, Same same)
{
    return a.has_value() == b.has_value() && (!a || same(*a, *b));
}

const auto kEqual = [](const auto& a, const auto& b) { return a == b; };

std::vector<std::pair<int, Complex>> ConstantsOf(const CFormula& formula)
{
    std::vector<std::pair<int, Complex>> values;
    for (int k = 0; k < formula.GetConstantCount(); ++k) {
        values.emplace_back(k, formula.GetConstant(k));
    }
    return values;
}

// The value brought into range, with its warning when it had to be.
int Clamped(long long given, int min, int max, EditWarning::Field field, EditResult& result)
{
    const int used = ClampToRange(given, min, max);
    if (used != given) {
        result.warnings.push_back({ field, given, used, 0.0, 0.0 });
    }
    return used;
}

// The formulas and constants: the first part of every edit.
bool ApplyFormulas(Picture& picture, const PictureEdit& edit, EditResult& result)
{
    PictureEdit& inverse = result.inverse;
    if (edit.iterText || edit.termText) {
        inverse.iterText = picture.iterFormula.GetText();
        inverse.termText = picture.termFormula.GetText();
        inverse.constants = ConstantsOf(picture.iterFormula);
        result.error = CompileFormulas(picture, edit.iterText.value_or(picture.iterFormula.GetText()),
            edit.termText.value_or(picture.termFormula.GetText()));
        if (result.error) {
            return false;
        }
        result.restart = result.modified = true;
    }
    if (edit.colorText) {
        inverse.colorText = picture.colorFormula.GetText();
        result.error = CompileColorFormula(picture, *edit.colorText);
        if (result.error) {
            return false;
        }
        result.restart = result.modified = true;
    }
    // New formulas: the old ones come back with all their constants. Otherwise each constant's value
    // before its first write.
    const bool haveAll = edit.iterText || edit.termText;
    for (const auto& [index, value] : edit.constants) {
        const auto held = [k = index](const auto& entry) { return entry.first == k; };
        if (!haveAll && index >= 0 && index < picture.iterFormula.GetConstantCount()
            && std::none_of(inverse.constants.begin(), inverse.constants.end(), held)) {
            inverse.constants.emplace_back(index, picture.iterFormula.GetConstant(index));
        }
        // Marked even when there is no such constant: the key press was an edit.
        picture.iterFormula.SetConstant(index, value);
        result.restart = result.modified = true;
    }
    return true;
}

} // namespace

bool PictureEdit::Empty() const
{
    return !iterText && !termText && !colorText && constants.empty() && !palette && !mapping && !maxIter
        && !imageSize && !antialias && !view;
}

bool PictureEdit::SameAs(const PictureEdit& o) const
{
    return iterText == o.iterText && termText == o.termText && colorText == o.colorText
        && SameConstants(constants, o.constants)
        && SameOptional(palette, o.palette,
            [](const PaletteChoice& a, const PaletteChoice& b) {
                return a.name == b.name && a.image.cacheKey() == b.image.cacheKey();
            })
        && SameOptional(mapping, o.mapping, SameMapping) && maxIter == o.maxIter && imageSize == o.imageSize
        && antialias == o.antialias && SameOptional(view, o.view, kEqual);
}

EditResult ApplyEdit(EditTarget target, const PictureEdit& edit)
{
    EditResult result;
    PictureEdit& inverse = result.inverse;
    Picture& picture = target.picture;
    if (!ApplyFormulas(picture, edit, result)) {
        return result;
    }
    if (edit.palette) {
        if (edit.palette->image.isNull()) {
            result.paletteFailed = true;
            return result;
        }
        // Replaced only while the preview is stopped: neither a restart nor a mark of its own.
        inverse.palette = PaletteChoice { target.paletteName, target.paletteSurface, target.paletteProblem };
        inverse.mapping = picture.mapping;
        picture.palette = SharePalette(edit.palette->image);
        target.paletteSurface = edit.palette->image;
        target.paletteName = edit.palette->name;
        target.paletteProblem = edit.palette->problem;
        // Every palette load puts the mapping back to the identity; the stretch stays.
        picture.mapping = IdentityMapping(picture.mapping.stretch);
    }
    if (const std::optional<PaletteMapping>& m = edit.mapping) {
        if (!inverse.mapping) {
            inverse.mapping = picture.mapping;
        }
        const double sine = ClampSine(m->sin);
        if (sine != m->sin) {
            result.warnings.push_back({ EditWarning::Field::Sine, 0, 0, m->sin, sine });
        }
        picture.mapping = { m->x0, m->y0, m->dx, m->dy, sine, m->cos, m->stretch };
        result.restart = result.modified = true;
    }
    if (edit.maxIter) {
        inverse.maxIter = picture.maxIter;
        const int limit = Clamped(
            *edit.maxIter, kMinIterations, kMaxExtendedIterations, EditWarning::Field::Iterations, result);
        if (limit != picture.maxIter) {
            picture.maxIter = limit;
            result.restart = result.modified = true;
        }
    }
    if (edit.imageSize) {
        inverse.imageSize = std::pair { picture.imageWidth, picture.imageHeight };
        const int w = Clamped(
            edit.imageSize->first, kMinImageSide, kMaxImageSide, EditWarning::Field::ImageWidth, result);
        const int h = Clamped(
            edit.imageSize->second, kMinImageSide, kMaxImageSide, EditWarning::Field::ImageHeight, result);
        if (w != picture.imageWidth || h != picture.imageHeight) {
            picture.imageWidth = w;
            picture.imageHeight = h;
            result.restart = result.modified = true;
        }
    }
    if (edit.antialias) {
        inverse.antialias = picture.antialias;
        const int samples
            = Clamped(*edit.antialias, kMinAntialias, kMaxAntialias, EditWarning::Field::Antialias, result);
        // The preview never anti-aliases: a mark, no restart.
        if (samples != picture.antialias) {
            picture.antialias = samples;
            result.modified = true;
        }
    }
    if (edit.view) {
        inverse.view = picture.view;
        picture.view = *edit.view;
        result.restart = result.modified = true;
    }
    return result;
}
