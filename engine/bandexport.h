#pragma once

#include "renderer.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <atomic>
#include <utility>

class CWorkerGate;

// Exports made a band of rows at a time: each band is rendered into one of two reused buffers and
// encoded into the file by a thread of its own while the next band renders, so that the memory of
// an export does not grow with the picture and no fresh picture-sized buffer is faulted in. PNG
// takes the bands from the top, BMP from the bottom (its file begins with the bottom row); the
// pixels and, for BMP, the bytes are those of the picture rendered whole.

// The formats that are written a row at a time, chosen by the file name's extension as the writer is.
enum class BandFormat { None, Png, Bmp };
BandFormat BandFormatOf(const QString& path);

// Whether a picture of this size can be written in that format (a BMP file holds at most 2 GiB).
bool BandFormatFits(BandFormat format, int width, int height);

// Pixels of a band when the caller leaves it to the export: 2 MiB of 32-bit pixels, large enough
// for the threads and the generated code to pay off, small enough to stay in the caches' reach.
inline constexpr long long kBandPixels = 1LL << 19;

// One export in bands.
struct BandJob {
    QString path;
    BandFormat format { BandFormat::None };
    int pngLevel { 1 };
    QList<std::pair<QByteArray, QString>> texts; // PNG's iTXt chunks
    QImage watermark;                            // null: none
    int samples { 1 };                           // anti-aliasing, samples per pixel a side
    int bandRows { 0 };                          // 0: kBandPixels' worth
};

// What the export in bands did. code is the render's; saved only when it is kRenderDone and the
// file was written whole (a failed write stops the render and gives its reason).
struct BandOutcome {
    int code { kRenderDone };
    bool finished { false }; // the file was ended rather than abandoned: a later stop came too late
    bool saved { false };
    QString reason;
    RenderStats stats;
    double renderSeconds { 0.0 };
    double encodeSeconds { 0.0 }; // the encoding thread's work, beside the render
};

// Renders the picture at its size and view band by band into the file, writing the export's progress
// (rows done of the picture) to control.progress. After the last band it passes rendered (a test's
// gate) and writes the file only if no stop has been requested by then; a stopped or failed export
// leaves no file and the old one as it was.
BandOutcome ExportInBands(Picture& picture, const BandJob& job, RenderControl control, CWorkerGate& rendered);
