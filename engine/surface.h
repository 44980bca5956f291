#pragma once

#include "raster.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

// The platform layer: off-screen surfaces, raw pixels, blending and the image codecs.
// Surfaces are QImage in Format_RGB32 (bytes blue, green, red, unused on every machine we build for).

// Decoding refuses images whose decoded pixels would need more than this, so that a hostile or
// huge file is rejected instead of exhausting memory. 4096 x 4096 x 4 bytes is the largest picture
// the program itself makes; palettes get the same room.
constexpr int kImageAllocationLimitMiB = 256;

// A new surface of the given size, black; a null image when the size is impossible or memory runs out.
// Unfilled leaves the pixels as allocated, for a render that writes every one of them anyway.
enum class SurfaceFill { Black, Unfilled };
QImage CreateSurface(int width, int height, SurfaceFill fill = SurfaceFill::Black);

// The raster description of a surface; pixels null for a null image.
Raster DescribeRaster(QImage& surface);

// The palette raster of a surface in the surface format, keeping a shallow copy of it alive: the
// pixels are shared, never written, and outlive the surface for as long as the raster is kept.
PaletteImage SharePalette(const QImage& surface);

// Copies the pixels of one surface over another of the same size and format; anything else is left.
void CopyPixels(const QImage& from, QImage& to);

// The top-left width x height corner of a surface, scaled smoothly to toWidth x toHeight.
QImage ScaleCorner(const QImage& source, int width, int height, int toWidth, int toHeight);

// A copy of the image in the surface format, alpha dropped without blending (a plain copy).
QImage ToSurfaceFormat(const QImage& image);

// Scaled copy with averaging (the coarse preview, the palette box).
QImage SmoothScale(const QImage& source, int width, int height);

// Blends a picture with its own alpha onto the surface with its top-left corner at (x, y), clipped:
// per channel result = min(255, s + d * (255 - a) / 255) with s the colour as stored (not
// premultiplied). A picture without alpha is copied over the rectangle.
void BlendWatermark(QImage& surface, const QImage& mark, int x, int y);

// Decodes an image file through Qt's readers with the allocation limit; a null image on failure,
// with the reason in *error when given.
QImage DecodeImage(const QString& path, QString* error = nullptr);

// Whether the file is a whole picture: it decodes, and it ends where its format says a picture ends
// (PNG's IEND chunk, JPEG's end-of-image marker, a BMP's declared size). Qt's readers return the rows
// they found of a file cut short as if they were the whole picture.
bool IsWholePicture(const QString& path);

// One image reader or writer as the file dialogs and the writer choice see it.
struct ImageCodec {
    QByteArray format;    // Qt's format key, for QImageWriter
    QString description;  // the MIME type's description
    QStringList patterns; // "*.png", "*.jpg", ...
};

enum class CodecUse { Reading, Writing };
// The codecs Qt has here, one entry per MIME type, sorted by format key.
std::vector<ImageCodec> ImageCodecs(CodecUse use);
// Icon formats (ico, cur, icns), EMF and WMF: left out of the file dialogs' lists.
bool IsIconOrMetafile(const ImageCodec& codec);

// The first writer one of whose patterns ends in the file name's extension (from its last '.',
// ignoring case); nullptr when none matches.
const ImageCodec* WriterForFile(const std::vector<ImageCodec>& writers, const QString& fileName);

// Writes the surface with the writer chosen by the extension. The file appears only complete: the
// picture goes to a temporary file beside the target, renamed into place when it is whole.
// pngLevel, 0 to 9, is the compression level of a PNG file (zlib's; -1 leaves zlib's default, 6).
bool SaveImage(const QImage& surface, const QString& path, QString* error = nullptr, int pngLevel = -1);
