#pragma once

#include "raster.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Small helpers shared by the engine tests.

inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A palette whose every pixel has its own colour: red = column % 256, green = row, blue = column / 256.
inline QImage IndexedPalette(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x % 256, y % 256, x / 256));
        }
    }
    return image;
}

inline int PaletteColumn(QRgb pixel) { return qRed(pixel) + 256 * qBlue(pixel); }
inline int PaletteRow(QRgb pixel) { return qGreen(pixel); }

inline Raster RasterOf(QImage& image)
{
    return { image.width(), image.height(), static_cast<int>(image.bytesPerLine()), image.depth(),
        image.bits() };
}
