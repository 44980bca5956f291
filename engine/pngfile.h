#pragma once

#include "raster.h"
#include "safefile.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>
#include <utility>

// PNG files of 32-bit surfaces (blue, green, red, unused), written a band of rows at a time, so
// that a picture of any height goes to the file through a few rows of memory. Every file is 8-bit
// RGB with the resolution the surfaces carry and the texts as compressed UTF-8 (iTXt).
//
// The level, 0 to 9, trades size for speed as zlib's does:
// 0 stores the rows unfiltered and uncompressed;
// 1, the default, takes each row's difference to the row above (the "up" filter) and deflates runs
// only: a picture of a fractal repeats its colours in long runs from row to row, and this is three
// to four times as fast as trying every filter per row with general deflate, and smaller;
// 2 to 9 try every filter on each row and keep the likeliest to deflate well, then deflate at that
// level: slower, and smaller the higher the level.

// A PNG file in the making: the header and texts on Begin, rows as they come, the end on Finish.
// Every piece of the file goes to write as soon as it is made.
class CPngEncoder {
public:
    CPngEncoder(FileWrite write, int level);
    ~CPngEncoder();
    CPngEncoder(const CPngEncoder&) = delete;
    CPngEncoder& operator=(const CPngEncoder&) = delete;

    // The signature, the header (width x height, 8-bit RGB), the resolution (pHYs) when it is not 0
    // and each text as a compressed iTXt chunk of the key.
    bool Begin(int width, int height, int dotsPerMetre, const QList<std::pair<QByteArray, QString>>& texts);
    // The next rows of the picture, from the top, in a raster of the picture's width.
    bool AddRows(const Raster& rows);
    // The rest of the compressed rows and the end; false also when fewer rows came than Begin said.
    bool Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Whether the image is an opaque surface (Format_RGB32) that this writer takes; anything else, alpha
// included, goes through Qt's writer.
bool CanEncodePng(const QImage& image);
// Writes the surface as a PNG file with its texts, whole or not at all (see WriteFileAtomically);
// the image must pass CanEncodePng. On failure error holds the reason.
bool SavePng(const QImage& image, const QString& path, int level, QString* error = nullptr);
