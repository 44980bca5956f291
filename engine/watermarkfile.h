#pragma once

#include "signalcleanup.h"

#include <QString>
#include <QTemporaryDir>

#include <optional>

// The watermark picture as a file, "glimmerset001mark.png" in a private temporary folder of this
// process: written from the embedded resource when constructed, removed with the folder when
// destroyed. A private folder, because a fixed name in the shared temporary folder would let another
// user's link redirect the write, and two running copies would delete each other's file.
// Create one at start-up on the main thread; exports read Path() when they start.
class CWatermarkFile {
public:
    CWatermarkFile();
    ~CWatermarkFile();
    CWatermarkFile(const CWatermarkFile&) = delete;
    CWatermarkFile& operator=(const CWatermarkFile&) = delete;

    // The file of the living instance, or an empty text when there is none or it could not be written.
    static QString Path();

private:
    QTemporaryDir m_dir;
    std::optional<CRemovedOnSignal> m_cleanup; // the folder, should a signal stop the program
    QString m_strPath;
};

inline constexpr const char* kWatermarkFileName = "glimmerset001mark.png";
// The embedded watermark: 277 x 63 RGBA.
inline constexpr const char* kWatermarkResource = ":/glimmerset/watermark.png";
