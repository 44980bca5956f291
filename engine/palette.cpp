#include "fractalscript.h"
#include "surface.h"

namespace {

// The built-in palette, embedded in the program: 1000 x 410 pixels.
const QString kBuiltInPalette = QStringLiteral(":/glimmerset/palette.png");

} // namespace

bool CFractalScript::LoadPalette(const QString& name, PaletteFallback fallback)
{
    // Decode and convert before anything is released, so that a failure changes nothing.
    QImage image = name.isEmpty() ? QImage() : DecodeImage(name);
    if (image.isNull()) {
        if (!name.isEmpty() && fallback == PaletteFallback::None) {
            return false;
        }
        image = DecodeImage(kBuiltInPalette);
        if (image.isNull()) {
            return false;
        }
    }
    QImage surface = ToSurfaceFormat(image);
    if (surface.isNull()) {
        return false;
    }
    ReleasePalette();
    std::lock_guard lock(m_mutex);
    m_nPaletteWidth = surface.width();
    m_nPaletteHeight = surface.height();
    m_palette = std::move(surface);
    m_strPaletteFile = name;
    return true;
}

void CFractalScript::ReleasePalette()
{
    std::lock_guard lock(m_mutex);
    m_palette = QImage();
    m_strPaletteFile.clear();
    m_nPaletteWidth = 0;
    m_nPaletteHeight = 0;
    // Every palette load puts the mapping back to the identity; the stretch stays.
    ResetMapping();
}
