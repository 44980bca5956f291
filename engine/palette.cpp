#include "picturedocument.h"
#include "surface.h"

namespace {

// The built-in palette, embedded in the program: 1000 x 410 pixels.
const QString kBuiltInPalette = QStringLiteral(":/glimmerset/palette.png");

} // namespace

DecodedPalette DecodeNamedPalette(
    const QString& name, const QString& scriptFolder, const PaletteDecodeLimits& limits)
{
    DecodedPalette decoded { name, {}, {} };
    if (!name.isEmpty()) {
        decoded.image = DecodePalette(ResolvePalettePath(name, scriptFolder), &decoded.problem, limits);
    }
    return decoded;
}

bool CPictureDocument::LoadPalette(
    const QString& name, PaletteFallback fallback, const PaletteDecodeLimits& limits)
{
    return SetDecodedPalette(DecodeNamedPalette(name, m_strScriptFolder, limits), fallback);
}

PaletteChoice ChoosePalette(DecodedPalette decoded, PaletteFallback fallback)
{
    PaletteChoice choice { std::move(decoded.name), std::move(decoded.image), {} };
    if (!choice.image.isNull() || (!choice.name.isEmpty() && fallback == PaletteFallback::None)) {
        return choice;
    }
    if (!choice.name.isEmpty()) {
        choice.problem = decoded.problem.isEmpty() ? QStringLiteral("unreadable") : decoded.problem;
    }
    choice.image = ToSurfaceFormat(DecodeImage(kBuiltInPalette));
    return choice;
}

bool CPictureDocument::SetDecodedPalette(DecodedPalette decoded, PaletteFallback fallback)
{
    PictureEdit edit;
    edit.palette = ChoosePalette(std::move(decoded), fallback);
    return !Apply(edit).Failed();
}

bool CPictureDocument::InstallDecoded(DecodedPalette decoded, PaletteFallback fallback, Picture& picture)
{
    // Decoded and converted before the lock, so that a failure changes nothing.
    PictureEdit edit;
    edit.palette = ChoosePalette(std::move(decoded), fallback);
    const auto lock = LockState();
    return !ApplyEdit({ picture, m_palette, m_strPaletteFile, m_strPaletteProblem }, edit).Failed();
}

std::string CPictureDocument::GetPaletteWarning() const
{
    if (m_strPaletteProblem.isEmpty()) {
        return {};
    }
    return "palette '" + m_strPaletteFile.toStdString() + "' cannot be used ("
        + m_strPaletteProblem.toStdString() + "); the built-in palette is used instead";
}

void CPictureDocument::ReleasePalette()
{
    const auto lock = LockState();
    m_picture.palette = SharePalette(QImage());
    m_palette = QImage();
    m_strPaletteFile.clear();
    m_strPaletteProblem.clear();
    m_picture.mapping = IdentityMapping(m_picture.mapping.stretch);
}
