#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <functional>

// Writes a whole file or nothing: the bytes go to a new file beside the target, every write is
// checked to its last byte and flushed to the disk, and only then does the new file take the
// target's place. A failure at any point (no room, a size limit, no such folder) leaves the old
// file as it was and no stray file behind. Qt's QSaveFile was seen to report success for a file
// cut short by a size limit, which is why this checks every write itself.
// A symbolic link is followed to the file it names (also when that does not exist yet), which is
// written in its place; a target the user may not write is refused. On failure error holds the
// system's reason ("Permission denied", "No space left on device", ...).
// The temporary file beside the target: short, so that any name the file system accepts can be
// saved, and recognisable, so that one left by a killed process can be found and removed.
inline constexpr char kTemporaryFilePattern[] = ".glimmerset-XXXXXX.tmp";
inline constexpr int kTemporaryFileSuffixLength = 4;

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The same with the bytes handed over in pieces: produce calls write for each piece in order, and
// returns false to give up, which abandons the file as a failed write does. write returns false
// once a write has failed. A large picture goes to the disk as it is encoded instead of being held
// whole in memory first.
using FileWrite = std::function<bool(const char* data, qsizetype size)>;
bool WriteFileAtomically(
    const QString& path, const std::function<bool(const FileWrite&)>& produce, QString* error = nullptr);

// The file a name finally stands for through any chain of symbolic links (it need not exist), as
// WriteFileAtomically writes it: a file another program writes whole under a temporary name takes
// its place there. The name itself when the links cannot be followed.
QString FollowSymbolicLinks(const QString& path);

// Opens a file for reading only if it is a regular file, and returns its descriptor (non-blocking,
// close-on-exec) and size, or -1 with the reason. A name that comes from a script, a dialog or the
// command line may be a FIFO or a terminal (/dev/stdin), which would block the open or the first
// read for good, or a device such as /dev/zero, which never ends; a regular file that blocks on
// reads (/proc/kmsg) fails instead of waiting. A name with a NUL byte is refused, since the system
// would open the file named by the part before it.
int OpenRegularFile(const QString& path, qint64& size, QString& reason);
// The same, opened into file, which owns the descriptor from then on.
bool OpenRegularFile(const QString& path, QFile& file, qint64& size, QString& reason);
