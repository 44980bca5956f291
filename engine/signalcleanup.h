#pragma once

#include <QString>

// What a program leaves behind when it is stopped by a signal: its private temporary folders and the
// temporary file of a save in progress. Both programs call InstallSignalCleanup first thing in main.
// Nothing can be done about SIGKILL: whatever is registered at that moment stays behind.

// Ignores SIGXFSZ, so that a write past the file-size limit fails with "File too large" instead of
// killing the process, and removes everything registered below on SIGINT, SIGTERM and SIGHUP before
// the signal takes its usual course (the shell sees 130, 143 and 129). A signal that was ignored when
// the program started stays ignored (nohup).
void InstallSignalCleanup();

// Registers a file, or a folder with the files in it, for removal on those signals while the object
// lives. The handler only calls async-signal-safe functions; it removes a folder's entries and then
// the folder, one level deep. A path longer than the registry holds is not registered.
class CRemovedOnSignal {
public:
    enum class Kind { File, Folder };
    CRemovedOnSignal(const QString& path, Kind kind);
    ~CRemovedOnSignal();
    CRemovedOnSignal(const CRemovedOnSignal&) = delete;
    CRemovedOnSignal& operator=(const CRemovedOnSignal&) = delete;

    bool IsRegistered() const { return m_nSlot >= 0; }

private:
    int m_nSlot { -1 };
};
