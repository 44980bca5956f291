#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>

// Palette images come from files anyone may hand us, so they are decoded only by readers we have
// tested against hostile files, chosen by the file's first bytes (never by its name, never by Qt's
// guessing), and every decode is held to a memory budget and a deadline.

// What one decode may hold at once: the decoded picture and the decoder's own buffers (the copy in
// the surface format comes after, and is at most the same size).
constexpr qint64 kPaletteMemoryBudget = qint64 { 256 } << 20;
// A decode still running after this is abandoned as unreadable.
constexpr std::chrono::milliseconds kPaletteDecodeTimeout { 3000 };

// What ends a decode early. A decode that is cut short counts as unreadable: Qt would return the
// part it had as if it were the picture.
struct PaletteDecodeLimits {
    std::chrono::milliseconds timeout { kPaletteDecodeTimeout };
    const std::atomic<bool>* cancel { nullptr }; // set by another thread to stop the decode
    qint64 memoryBudget { kPaletteMemoryBudget };
};

// The reader for these first bytes ("png", "jpeg", "bmp", "gif"), or empty when none of ours.
QByteArray PaletteFormatOf(const QByteArray& head);

// The file-name patterns of the formats we read, for the Import palette dialog: one entry each,
// in a fixed order, description first.
struct PaletteFormat {
    QString description;
    QStringList patterns;
};
const std::vector<PaletteFormat>& PaletteFormats();

// Decodes a palette image file into the surface format (Format_RGB32); a null image on failure,
// with the reason in *error when given. Safe on any thread.
QImage DecodePalette(const QString& path, QString* error = nullptr, const PaletteDecodeLimits& limits = {});

// Whether path is a regular file that starts as one of the images above (a picture, not a script).
bool IsPictureFile(const QString& path);
