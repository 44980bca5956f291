#include "signalcleanup.h"

#include <QFile>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kSlots = 32;
constexpr size_t kPathBytes = 4096;

// A slot is claimed (kBusy) before its path is written and published (kLive) after; the handler
// copies a live path and uses the copy only when the slot's generation did not change meanwhile, so
// a slot reused by another thread during the copy is never acted on.
enum SlotState : int { kFree, kBusy, kLive };

struct Slot {
    std::atomic<int> state { kFree };
    std::atomic<unsigned> generation { 0 };
    bool folder { false };
    char path[kPathBytes] {};
};

std::array<Slot, kSlots> s_slots;
constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };

// getdents64 is a plain system call, unlike readdir, so it may run in a signal handler.
struct DirectoryEntry {
    unsigned long long inode;
    long long offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

void RemoveFolder(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long count = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            for (long at = 0; at < count;) {
                const auto* entry = reinterpret_cast<const DirectoryEntry*>(buffer + at);
                at += entry->length;
                const char* name = entry->name;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0
                    && ::unlinkat(fd, name, 0) != 0) {
                    ::unlinkat(fd, name, AT_REMOVEDIR); // an empty folder inside
                }
            }
        }
        ::close(fd);
    }
    ::rmdir(path);
}

void OnStopSignal(int signal)
{
    for (Slot& slot : s_slots) {
        if (slot.state.load(std::memory_order_acquire) != kLive) {
            continue;
        }
        const unsigned generation = slot.generation.load(std::memory_order_acquire);
        char path[kPathBytes];
        std::memcpy(path, slot.path, kPathBytes);
        const bool folder = slot.folder;
        if (slot.state.load(std::memory_order_acquire) != kLive
            || slot.generation.load(std::memory_order_acquire) != generation) {
            continue;
        }
        path[kPathBytes - 1] = '\0';
        if (folder) {
            RemoveFolder(path);
        } else {
            ::unlink(path);
        }
    }
    // The usual end for this signal: the default action, raised again; it is delivered as soon as
    // the handler returns and the signal is unblocked.
    struct sigaction usual { };
    usual.sa_handler = SIG_DFL;
    sigemptyset(&usual.sa_mask);
    ::sigaction(signal, &usual, nullptr);
    ::raise(signal);
}

} // namespace

void InstallSignalCleanup()
{
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action { };
    action.sa_handler = OnStopSignal;
    sigfillset(&action.sa_mask); // one handler at a time, uninterrupted
    for (const int signal : kSignals) {
        struct sigaction old { };
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        ::sigaction(signal, &action, nullptr);
    }
}

CRemovedOnSignal::CRemovedOnSignal(const QString& path, Kind kind)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || static_cast<size_t>(name.size()) >= kPathBytes) {
        return;
    }
    for (int k = 0; k < kSlots; ++k) {
        int expected = kFree;
        if (s_slots[k].state.compare_exchange_strong(expected, kBusy)) {
            Slot& slot = s_slots[k];
            slot.generation.fetch_add(1, std::memory_order_acq_rel);
            std::memcpy(slot.path, name.constData(), static_cast<size_t>(name.size()) + 1);
            slot.folder = kind == Kind::Folder;
            slot.state.store(kLive, std::memory_order_release);
            m_nSlot = k;
            return;
        }
    }
}

CRemovedOnSignal::~CRemovedOnSignal()
{
    if (m_nSlot >= 0) {
        s_slots[m_nSlot].generation.fetch_add(1, std::memory_order_acq_rel);
        s_slots[m_nSlot].state.store(kFree, std::memory_order_release);
    }
}
