#include "fractalscript.h"
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

bool CFractalScript::LoadPalette(
    const QString& name, PaletteFallback fallback, const PaletteDecodeLimits& limits)
{
    return SetDecodedPalette(DecodeNamedPalette(name, m_strScriptFolder, limits), fallback);
}

namespace {

// The surface a decoded palette stands for: its own picture, or the built-in one when it has none
// and may fall back (with the reason in problem); a null surface when neither is there.
QImage PaletteSurface(DecodedPalette& decoded, PaletteFallback fallback, QString& problem)
{
    if (!decoded.image.isNull()) {
        return std::move(decoded.image);
    }
    if (!decoded.name.isEmpty() && fallback == PaletteFallback::None) {
        return {};
    }
    if (!decoded.name.isEmpty()) {
        problem = decoded.problem.isEmpty() ? QStringLiteral("unreadable") : decoded.problem;
    }
    return ToSurfaceFormat(DecodeImage(kBuiltInPalette));
}

} // namespace

bool CFractalScript::SetDecodedPalette(DecodedPalette decoded, PaletteFallback fallback)
{
    return InstallDecoded(std::move(decoded), fallback, m_picture);
}

bool CFractalScript::InstallDecoded(DecodedPalette decoded, PaletteFallback fallback, Picture& picture)
{
    // Decode and convert before anything is released, so that a failure changes nothing.
    QString problem;
    QImage surface = PaletteSurface(decoded, fallback, problem);
    if (surface.isNull()) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    InstallPalette(std::move(surface), decoded.name, problem, picture);
    return true;
}

void CFractalScript::InstallPalette(
    QImage surface, const QString& name, const QString& problem, Picture& picture)
{
    picture.palette = SharePalette(surface);
    m_palette = std::move(surface);
    m_strPaletteFile = name;
    m_strPaletteProblem = problem;
    // Every palette load puts the mapping back to the identity; the stretch stays.
    picture.mapping = IdentityMapping(picture.mapping.stretch);
}

std::string CFractalScript::GetPaletteWarning() const
{
    if (m_strPaletteProblem.isEmpty()) {
        return {};
    }
    return "palette '" + m_strPaletteFile.toStdString() + "' cannot be used ("
        + m_strPaletteProblem.toStdString() + "); the built-in palette is used instead";
}

void CFractalScript::ReleasePalette()
{
    std::lock_guard lock(m_mutex);
    InstallPalette(QImage(), QString(), QString(), m_picture);
}
