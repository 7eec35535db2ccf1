#pragma once
// The kernel side of the file-system event stream: one interface, two backends.
//
// - InotifyBackend: one watch per folder under the watched roots (see DirWalk.h for which).
// - FanotifyBackend: one FAN_MARK_FILESYSTEM mark per volume with FAN_REPORT_DFID_NAME; it
//   reports every change of the volume, of which the ones under the roots are kept. Needs
//   CAP_SYS_ADMIN (root); events caused by this process are ignored.
//
// A backend lives on the stream's worker thread: start() there, then readEvents() whenever
// fd() is readable. It reports through its Sink, synchronously, on that thread. Mask bits are
// the kernel's (IN_* and FAN_* share their values for the bits used here).
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace KLFSEvents {

class Sink
{
public:
    virtual ~Sink() = default;
    // Something changed in the folder `dir`.
    virtual void changed(const QByteArray &dir, quint32 mask) = 0;
    // `from` was renamed to `to` (files and folders).
    virtual void renamed(const QByteArray &from, const QByteArray &to) = 0;
    // Polled by the backends' folder walks: true once the stream shuts down, so that a quit
    // never waits for a walk of a big tree to finish.
    virtual bool stopRequested() const { return false; }
};

// Our own mask bits (the kernel leaves them unused in event masks); see FileSystemEvent.
constexpr quint32 kMaskRescan = 0x00100000;
constexpr quint32 kMaskRootChanged = 0x00800000;
constexpr quint32 kMaskNewFolder = 0x01000000; // the folder itself appeared (made or moved in)
constexpr quint32 kMaskOverflow = 0x00004000;  // IN_Q_OVERFLOW == FAN_Q_OVERFLOW
constexpr quint32 kMaskCreate = 0x00000100;    // IN_CREATE == FAN_CREATE
constexpr quint32 kMaskIsDir = 0x40000000;     // IN_ISDIR == FAN_ONDIR

class Backend
{
public:
    virtual ~Backend() = default;
    virtual QString name() const = 0;
    // Opens the kernel object and sets up the roots. False (with *why) when the backend cannot
    // run at all; a root that cannot be watched is logged and left out.
    virtual bool start(const QList<QByteArray> &roots, QString *why) = 0;
    // The descriptor to poll for readability; -1 before start().
    virtual int fd() const = 0;
    // Reads and reports everything that is queued, without blocking.
    virtual void readEvents() = 0;
    // Folders under watch (inotify) or found by the last walk (fanotify).
    virtual int directoryCount() const = 0;
    // Folders left without a watch because the watch limit ran out (inotify), as of the last
    // walk that met the limit.
    virtual int unwatchedCount() const { return 0; }
    // Behaves as after a lost event queue: rescans the roots (tests use this).
    virtual void rescanAll(quint32 reasonMask) = 0;
};

// "inotify" or "fanotify". Answers null with *why when it cannot be created.
std::unique_ptr<Backend> createBackend(const QString &name, Sink *sink, QString *why);
// Tests: inotify backends made from now on act as if the kernel refused watches (ENOSPC)
// beyond `watches` per backend; -1 lifts the limit.
void setInotifyWatchBudgetForTesting(int watches);
// Whether this process may use the fanotify backend (tried once, cached).
bool fanotifyPermitted();

// Folders (and folders holding files) under `roots` whose modification or change time is at
// or after `sinceUnix`, found with one walk. Hidden folders and system roots are skipped as
// the backends skip them. `dirs` counts the folders walked.
QList<QByteArray> foldersChangedSince(const QList<QByteArray> &roots, double sinceUnix, int *dirs,
                                      const std::function<bool()> &cancelled = {});

} // namespace KLFSEvents
