#include "fractalscript.h"
#include "surface.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The built-in palette, embedded in the program: 1000 x 410 pixels.
const QString kBuiltInPalette = QStringLiteral(":/glimmerset/palette.png");

} // namespace

QString ResolvePalettePath(const QString& name, const QString& scriptFolder)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name) || scriptFolder.isEmpty()) {
        return name;
    }
    // Beside the script first, so that a script and its palette can move together; then the working
    // folder, where older files and callers found it.
    const QString beside = QDir(scriptFolder).filePath(name);
    return QFileInfo::exists(beside) ? beside : name;
}

bool CFractalScript::LoadPalette(const QString& name, PaletteFallback fallback, const PaletteDecodeLimits& limits)
{
    DecodedPalette decoded { name, {}, {} };
    if (!name.isEmpty()) {
        decoded.image = DecodePalette(ResolvePalettePath(name, m_strScriptFolder), &decoded.problem, limits);
    }
    return SetDecodedPalette(std::move(decoded), fallback);
}

bool CFractalScript::SetDecodedPalette(DecodedPalette decoded, PaletteFallback fallback)
{
    // Decode and convert before anything is released, so that a failure changes nothing.
    QImage surface = std::move(decoded.image);
    QString problem;
    if (surface.isNull()) {
        if (!decoded.name.isEmpty() && fallback == PaletteFallback::None) {
            return false;
        }
        if (!decoded.name.isEmpty()) {
            problem = decoded.problem.isEmpty() ? QStringLiteral("unreadable") : decoded.problem;
        }
        surface = ToSurfaceFormat(DecodeImage(kBuiltInPalette));
        if (surface.isNull()) {
            return false;
        }
    }
    ReleasePalette();
    std::lock_guard lock(m_mutex);
    m_nPaletteWidth = surface.width();
    m_nPaletteHeight = surface.height();
    m_palette = std::move(surface);
    m_strPaletteFile = decoded.name;
    m_strPaletteProblem = problem;
    return true;
}

std::string CFractalScript::GetPaletteWarning() const
{
    if (m_strPaletteProblem.isEmpty()) {
        return {};
    }
    return "palette '" + m_strPaletteFile.toStdString() + "' cannot be used (" + m_strPaletteProblem.toStdString()
        + "); the built-in palette is used instead";
}

void CFractalScript::ReleasePalette()
{
    std::lock_guard lock(m_mutex);
    m_palette = QImage();
    m_strPaletteFile.clear();
    m_strPaletteProblem.clear();
    m_nPaletteWidth = 0;
    m_nPaletteHeight = 0;
    // Every palette load puts the mapping back to the identity; the stretch stays.
    ResetMapping();
}
