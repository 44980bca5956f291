#pragma once

#include "raster.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// BMP files of surfaces, written without Qt's writer but byte for byte as it writes them: a 54-byte
// header (file header and 40-byte info header, bottom-up rows, the image's dots per metre, no
// colours) and 24-bit rows, blue-green-red, each padded with zeros to a multiple of 4 bytes. Qt's
// writer converts a pixel at a time and hands each row to the device on its own, and the whole
// file grows in memory before the first byte reaches the disk: about as long as a one-thread render
// of a 4096 x 4096 picture. This converts whole rows in a tight loop and hands the file to the disk
// in pieces as they are made.

// Whether the image can be written here exactly as Qt's writer writes it: a 32-bit surface
// (Format_RGB32 or Format_ARGB32, whose alpha the writer drops) whose file stays within the 2 GiB
// the format's header can describe. Anything else goes through Qt's writer.
bool CanEncodeBmp(const QImage& image);

// The whole file in memory; empty when CanEncodeBmp is false.
QByteArray EncodeBmp(const QImage& image);

// Writes the image as a BMP file, whole or not at all (see WriteFileAtomically); the image must
// pass CanEncodeBmp. On failure error holds the system's reason.
bool SaveBmp(const QImage& image, const QString& path, QString* error = nullptr);

// The pieces of the same file for a picture that is never held whole (an export made in bands):
// the size of a row in the file and of the whole file, whether its header can describe it, the
// 54-byte header, and rows of 32-bit pixels as file rows, the raster's bottom row first (the file
// begins with the picture's bottom row), rows.height times BmpRowBytes(rows.width) bytes.
inline constexpr int kBmpHeaderBytes = 54;
qint64 BmpRowBytes(int width);
qint64 BmpFileBytes(int width, int height);
bool BmpFits(int width, int height);
void WriteBmpHeader(int width, int height, int dotsPerMetreX, int dotsPerMetreY, char* out);
void ConvertBmpRows(const Raster& rows, char* out);
