#pragma once
// FileSystemEventStream: the single subscription to file-system change records of the process.
//
// Design note.
// - The kernel gives no per-volume change journal on Linux, so the stream builds one:
//   a backend (inotify watches over the watched roots, or one fanotify filesystem mark per
//   volume when the process may use it) reports changed directories; the stream coalesces
//   them per directory over `latency` seconds, gives each record an id from a persistent
//   64-bit counter, appends it to a capped journal in KLPaths::stateFolder(), and hands it
//   to the delegate.
// - Replay: starting with a `startEventID` other than kNoReplay first delivers the journaled
//   records whose id is greater than it (also those of earlier runs), then live records.
// - Catch-up: at start the stream walks the watched roots for folders and files whose time
//   lies after the last journaled record (changes made while Kelso was not running) and turns
//   them into records whose ids lie at least kCatchUpIdGap below the current id, so that a
//   client treats them as replayed ones.
// - Threads: every backend call, the coalescing and the delegate calls happen on the
//   stream's own named worker QThread. Public members may be called from any thread.
// - Watching "/" stands for the default watch roots (home folder, the wantedDirectories
//   setting, mounted user volumes); hidden folders and the system roots are not descended.
//   A stream made on the application thread follows mounts, unmounts and changes of
//   wantedDirectories by setting its watches up again.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QThread;
class FileSystemEventStream;
namespace KLFSEvents {
class StreamWorker;
class EventJournal;
} // namespace KLFSEvents

// One change record: something changed in the directory `evPath`.
struct FileSystemEvent {
    quint64 evId = 0;
    QString evPath; // absolute, without a trailing "/" (the root "/" excepted)
    quint32 evFlag = 0;

    // Flag bits. The low bits are the kernel's own inotify/fanotify mask bits (IN_CREATE =
    // FAN_CREATE = 0x100, IN_ISDIR = FAN_ONDIR = 0x40000000, IN_Q_OVERFLOW = 0x4000, ...),
    // OR-ed over the coalesced changes. The bits below are the stream's own and unused by
    // the kernel in event masks.
    static constexpr quint32 kFlagRescan =
        0x00100000; // from a rescan (queue overflow): the folder may hold changes seen by nobody
    static constexpr quint32 kFlagReplayed = 0x00200000;    // delivered again from the journal
    static constexpr quint32 kFlagCatchUp = 0x00400000;     // found by the start-up catch-up scan
    static constexpr quint32 kFlagRootChanged = 0x00800000; // a watched root itself was deleted or moved away (inotify)
    // The record's folder itself is new under the roots (made, copied or moved in): the
    // backend listed it after setting up its watch, so everything in it is new to a client.
    static constexpr quint32 kFlagNewFolder = 0x01000000;

    FileSystemEvent() = default;
    FileSystemEvent(quint64 id, const QString &path, quint32 flag) : evId(id), evPath(path), evFlag(flag) {}
    // initWithDict: keys "evFlag", "evId", "evPath"; missing keys give 0 / empty.
    explicit FileSystemEvent(const QVariantMap &dict);
    QVariantMap asDict() const;
    // "FS Event- evID= <id>, evPath= <path>, evFlag= <flag>"
    QString description() const;
    bool operator==(const FileSystemEvent &) const = default;
};

// Receives the records of a stream. Called on the stream's worker thread, once per record that
// survives the exclusion prefixes, in the order of the delivered batch (ids ascending).
class FileSystemEventStreamDelegate
{
public:
    virtual ~FileSystemEventStreamDelegate() = default;
    virtual void fileSystemEvent(const FileSystemEvent &event, FileSystemEventStream *stream) = 0;
    // After a start's replay of the journal has handed over `replayed` (> 0) past records, on
    // the stream's worker thread, before any live record. A client that saves how far it got
    // can do it here, so that a process killed later does not replay the same records again.
    virtual void fileSystemEventsReplayed(size_t replayed, FileSystemEventStream *stream)
    {
        Q_UNUSED(replayed)
        Q_UNUSED(stream)
    }
};

class FileSystemEventStream : public QObject
{
    Q_OBJECT
public:
    // startEventID value meaning: no replay, only changes from now on.
    static constexpr quint64 kNoReplay = ~quint64(0);
    // Catch-up records get ids at least this far below the current id.
    static constexpr quint64 kCatchUpIdGap = 1000;

    // The single stream of the process (journal in KLPaths::stateFolder()), created on first
    // use; its worker thread runs from then on.
    static FileSystemEventStream *defaultFileSystemEventStream();
    // The current id of the single stream (the last id handed out, persistent across runs).
    static quint64 getCurrentEventID();
    // 10 when the current id is below 1,000,000, else the current id minus 1,000,000.
    static quint64 getPastEventID();
    // shutdown() on the single stream (when it was ever created).
    static void shutdownDefaultStream();
    // The roots that watching "/" stands for: the home folder, the existing folders of the
    // wantedDirectories setting, and the mount points below /media/$USER, /run/media/$USER
    // and /mnt. Sorted, without duplicates or paths inside another root.
    static QStringList defaultWatchRoots();

    // A separate stream keeping its journal in `stateFolder` (empty: KLPaths::stateFolder()).
    // Tests use their own; the program uses defaultFileSystemEventStream().
    explicit FileSystemEventStream(const QString &stateFolder = QString(), QObject *parent = nullptr);
    ~FileSystemEventStream() override; // shutdown(), clears the delegate

    // Starts (or restarts) watching `paths` ("/" = defaultWatchRoots()) on the worker thread,
    // replaying from startEventID. Waits while the worker sets the watches up (about 0.4 s for
    // 20,000 folders with inotify, at most 2 minutes), then up to about one second more for
    // the stream to become active, and answers isActive(). Replayed and caught-up records
    // are delivered after it returned. An empty list leaves the stream inactive.
    // The first start of a stream moves the counter more than kCatchUpIdGap ids on, so that
    // every record of an earlier run counts as a past one.
    bool start(const QStringList &paths);
    // Stops the subscription on the worker thread and waits for it; answers true.
    bool stop();
    // When active: asks the worker thread (without waiting) to deliver the pending coalesced
    // records now (sync: at once in this pass; async: in the next event-loop pass) and answers
    // true; when inactive answers false.
    bool flushSync();
    bool flushAsync();
    // Ends the worker thread: stops the subscription, writes the journal's stop mark, joins.
    // The stream cannot be started again afterwards.
    void shutdown();
    // Runs `work` on the worker thread after the requests queued before it (at once when
    // called there). Used by the stream's client for its own start-up disk work (reading its
    // store, priming caches, then start()), which must not hold up the application thread.
    // Dropped when the stream was shut down before it ran.
    void performOnWorkerThread(std::function<void()> work);

    // Worker-thread only; called elsewhere they log
    // "only call this call on worker thread. Use the public api" and do nothing.
    void startOnThread(const QStringList &paths);
    void stopOnThread();
    void flushStreamSync();
    void flushStreamAsync();

    // Properties.
    bool isActive() const { return m_active.load(); }
    double latency() const;
    void setLatency(double seconds); // 4.0 after construction
    quint64 startEventID() const;
    void setStartEventID(quint64 id); // kNoReplay after construction
    QStringList pathsToWatch() const; // as given to start()
    QStringList pathsToExclude() const;
    // "/proc/", "/sys/", "/dev/", "/run/" after construction. A record inside a watched root
    // that itself lies under an excluded prefix (a volume under /run/media/$USER) is kept.
    void setPathsToExclude(const QStringList &prefixes);
    FileSystemEventStreamDelegate *delegate() const { return m_delegate.load(); }
    // Setting a delegate (or none) waits until a delivery running on the worker thread is done,
    // so a delegate that removes itself is never called afterwards.
    void setDelegate(FileSystemEventStreamDelegate *delegate);
    // A second listener beside the delegate (the metadata index): called on the worker thread
    // with every record the delegate gets, before it. Setting one waits like setDelegate().
    void setRecordObserver(std::function<void(const FileSystemEvent &)> observer);

    // The last id handed out (persistent across runs; a damaged journal keeps the ids it could
    // still read, and a startEventID above it raises it); 0 before any record ever.
    quint64 currentEventID() const;
    // getPastEventID() for this stream.
    quint64 pastEventID() const;

    // Where a file or folder that the stream saw renamed now lives: follows renames of the
    // path itself and of its ancestor folders, in the order they happened (chains a → b → c
    // followed). Empty when no rename of it was seen. Bounded (4,096 renames): the oldest are
    // forgotten first. Any thread.
    QString renamedPathFor(const QString &oldPath) const;

    // Backend in use while active: "inotify" or "fanotify"; empty when inactive.
    QString backendName() const;
    // Backend choice: "auto", "inotify" or "fanotify"; empty (the default) reads the
    // KLEventBackend setting at each start. "fanotify" falls back to inotify (with a log line)
    // where the process may not use it.
    void setBackendPreference(const QString &backend);
    // The roots actually watched since the last start ("/" expanded).
    QStringList watchedRoots() const;
    // Directories under watch (inotify); for fanotify, which needs no per-folder setup, the
    // folders met by its last rescan plus those created since.
    int watchedDirectoryCount() const;
    // The journal file.
    QString journalPath() const;
    // What the stream watches, for `kelso recent --status`: "active" (bool), "backend",
    // "roots", "topOnlyRoots" (slow volumes, watched at their top only), "watchedFolders",
    // "unwatchedFolders" (left out when the watch limit ran out), "problem" (why it watches
    // nothing; empty while it watches). Any thread; no disk work beyond the mount table.
    QVariantMap status() const;

    // Tests: makes the backend behave as after a kernel queue overflow.
    void simulateOverflowForTesting();

    // "FS event stream - watchedPaths = (...), excludedPaths = (...)"
    QString description() const;

private:
    friend class KLFSEvents::StreamWorker;
    bool onWorkerThread() const;
    void startOnThreadImpl(const QStringList &paths, bool replay);
    static QStringList rootsFor(const QStringList &paths); // "/" expanded, normalised
    // Called by the worker with a delivered batch (ids assigned): applies the exclusion
    // prefixes and calls the delegate for each record (tellDelegate).
    void tellDelegate(const std::vector<FileSystemEvent> &batch);
    void tellDelegateReplayed(size_t replayed);

    QThread *m_thread = nullptr;
    double m_createdAt = 0;                       // Unix time: where a first start's catch-up begins
    KLFSEvents::StreamWorker *m_worker = nullptr; // lives on m_thread
    std::shared_ptr<KLFSEvents::EventJournal> m_journal;
    // The journal is read (up to its cap of records, some megabytes) by the worker thread as its
    // first task, not by the thread that makes the stream; whoever needs it first opens it, and
    // the others wait for that.
    void ensureJournalOpen() const;
    mutable std::once_flag m_journalOpened;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_shutDown{false};
    // start() requests are numbered; the worker publishes the number of the request whose
    // subscription is set up (or refused), so that a restart does not see the old one as done.
    std::atomic<quint64> m_startSerial{0};
    std::atomic<quint64> m_requestSerial{0};
    std::atomic<quint64> m_startedSerial{0};
    std::atomic<FileSystemEventStreamDelegate *> m_delegate{nullptr};
    std::function<void(const FileSystemEvent &)> m_recordObserver; // guarded by m_deliveryMutex
    std::recursive_mutex m_deliveryMutex;                          // held while the delegate is being called
    mutable std::mutex m_mutex;                                    // guards the properties below
    double m_latency = 4.0;
    quint64 m_startEventID = kNoReplay;
    QStringList m_pathsToWatch;
    QStringList m_pathsToExclude;
    QString m_backendPreference;
    QStringList m_roots; // "/" expanded, set by startOnThread
    mutable std::mutex m_renameMutex;
    std::vector<std::pair<QString, QString>> m_renames; // oldest first, bounded
    void noteRename(const QString &from, const QString &to);
};
