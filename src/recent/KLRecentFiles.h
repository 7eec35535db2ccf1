#pragma once
// KLRecentFiles: the recent-files collector.
//
// Turns file-system records (FileSystemEventStream, on its worker thread) and opened-file
// notices (KLOpenedFilesQuery, on the main thread) into a newest-first list of recent events —
// {files, date, path} — kept across runs in recentItems.plist, and ranks them on request into
// at most 50 items in which busy folders collapse into stacks.
//
// Locks, always taken in this order and never the reverse:
//   1. _pastEvents lock (re-entrant): the event list;
//   2. the rules lock (inside KLRules);
// and, never held together with the others' callers waiting on them:
//   _cachedFileSets lock (listing cache), _scanDates lock (scan dates).
// The record path (worker thread) takes the cache and scan-date locks on their own, and the
// list lock only inside addEvent(). Ranking (main thread) takes the list lock and, inside it,
// the rules lock. The store is encoded under the list lock and written outside it.
//
// The store: a binary plist {"version": 1, "events": [{"files": [item archive…], "date":
// date, "path": string}…]}, index 0 newest, written whole with QSaveFile (flushed and synced,
// then renamed over the old file), so a crash leaves the old or the new store. A store that
// cannot be parsed is moved aside as "recentItems.plist.corrupt-<time>" and the list starts
// empty. Temporary files a killed write left next to the store are removed before it is read
// (KLSaveFileLeftovers).
//
// Start-up with a stream: reading the store, priming the listing cache and starting the stream
// (which sets up the watches and runs the catch-up scan) are disk work of unbounded length in a
// big home or on a slow disk, so they run on the stream's worker thread, in that order, and the
// constructor returns at once. It waits a short moment (kStoreWaitMs) for the store so that
// the first ranked list is the stored one in the common case. Until the store is read the list
// holds only what was recorded meanwhile, and writeState() refuses to write (it would replace
// the store with a partial list). Without a stream (tools, tests) all of it runs in the
// constructor, on the caller's thread.
#include "recent/FileSystemEventStream.h"
#include "recent/KLChangedFolders.h"
#include "recent/KLItem.h"
#include "recent/KLItemServices.h"
#include "recent/KLRules.h"
#include "util/KLTime.h"
#include "util/KPTimer.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Defaults;
class KLOpenedFilesQuery;

// One entry of the event list.
struct KLRecentEvent {
    QList<KLItemPtr> files; // never empty
    KLTime date = 0;        // when it was recorded
    QString path;           // the folder in which they changed
};

class KLRecentFiles : public QObject, public FileSystemEventStreamDelegate
{
    Q_OBJECT
public:
    // The numbers of the algorithms.
    static constexpr int kMaxEvents = 150;            // more than this: the oldest goes (151 kept)
    static constexpr int kMaxFilesPerScan = 20;       // a scan stops after 21 files
    static constexpr int kBusyThresholdFewEvents = 6; // fewer than 3 events
    static constexpr int kBusyThreshold = 4;
    static constexpr int kRankedStopAfter = 49;
    static constexpr int kRankedMax = 50;
    static constexpr int kStackMeanItems = 11;
    static constexpr double kLiveScanBack = 45.0;
    static constexpr double kRescanOverlap = 1.5;
    static constexpr double kReplayOverlap = 7.5;
    static constexpr double kOneDay = 86400.0;
    static constexpr double kStormInterval = 0.03;
    static constexpr double kStormWarmup = 10.0;
    static constexpr quint64 kReplayIdGap = 1000;
    static constexpr int kMaxOpenedPathsTaken = 50;   // more than this: stop taking query items
    static constexpr int kMaxOpenedPathsRecorded = 5; // more than this: stop (6 recorded)
    static constexpr int kStoreVersion = 1;
    // Memory bounds: folders with a cached listing, and folders with a scan date. A listing
    // dropped only means that folder is judged by modification times until listed again; a
    // scan date older than the 45-second window has no effect and is dropped freely.
    static constexpr int kMaxCachedFolders = 4096;
    static constexpr int kMaxScanDates = 4096;
    // How long the constructor waits for the store read on the stream's thread.
    static constexpr int kStoreWaitMs = 250;

    struct Options {
        Defaults *defaults = nullptr; // nullptr: Defaults::standard()
        QString storePath;            // empty: pastEventsPath()
        // The stream to listen to. useDefaultStream takes the process's single stream when
        // `stream` is null; with neither, no file-system records arrive except through
        // fileSystemEvent() calls (tools, tests).
        FileSystemEventStream *stream = nullptr;
        bool useDefaultStream = true;
        bool startStream = true;
        bool startOpenedFilesQuery = true;
        bool primeListingCache = true;
        // Tests: the clock (KLTime) and the service's current event id.
        std::function<KLTime()> clock;
        std::function<quint64()> currentEventID;
        // What the items handed out ask the program for (pictures, replacements); none: nothing.
        KLItemServicesPtr itemServices;
    };

    // The collector of the running program: reads the store, primes the listing cache,
    // loads the rules, starts the stream on "/" and the opened-files query.
    explicit KLRecentFiles(QObject *parent = nullptr);
    explicit KLRecentFiles(const Options &options, QObject *parent = nullptr);
    ~KLRecentFiles() override;

    // Shuts the process's file-system event stream down (program termination).
    static void shutdown();
    // $XDG_DATA_HOME/Kelso/recentItems.plist; the folder is created on first use.
    static QString pastEventsPath();
    QString storePath() const { return m_storePath; }

    void readState();
    // True once the store was read (at once without a stream; on the stream's thread with one).
    bool storeLoaded() const { return m_storeLoaded.load(); }
    // Waits up to `ms` milliseconds for storeLoaded(); answers it.
    bool waitForStoreLoaded(int ms);
    // Saves the last id, its time and the store. False (one log line) when the store could
    // not be written; the old store is then left as it was.
    bool writeState();
    // writeState() on the stream's thread, so that the caller (the GUI) never waits on the
    // disk; at once where there is no stream.
    void writeStateInBackground();
    void sortEvents();

    // The ranked top-level list; `excludedPaths` are never listed as single items.
    QList<KLItemPtr> recentFiles(const QSet<QString> &excludedPaths);
    QList<KLItemPtr> recentFilesInDirectory(const QString &directory);
    static KLTime moddateForMultipleFiles(const QList<KLItemPtr> &items);
    void removeItem(const KLItemPtr &item);
    void removeItems(const QList<KLItemPtr> &items);
    // Kelso moved `oldPath` (a file or a folder) to `newPath`: the recorded items follow it.
    void itemMovedByKelso(const QString &oldPath, const QString &newPath);
    // Puts events back (an undone removal), each at its place by date; the list stays capped.
    void restoreEvents(const QList<KLRecentEvent> &events);

    // The cached listing of a folder, or none.
    std::optional<QSet<QString>> cachedFileSet(const QString &directory);
    // Lists `directory` now and replaces its cached listing; none when it cannot be listed.
    // Names that are not valid UTF-8 are left out (one log line per listing).
    std::optional<QStringList> fileNamesAtPath(const QString &directory);
    bool keepFileForRecents(const QString &path, const QString &fileName, const std::optional<QSet<QString>> &cached,
                            KLTime sinceDate, bool *markAsNew);
    // With `everythingIsNew` (a folder new under the roots) every entry counts as appeared
    // since the last listing.
    QList<KLItemPtr> scanDirectoryForChangedFiles(const QString &directory, int maxFiles, KLTime sinceDate,
                                                  bool everythingIsNew = false);
    // How far back a record's folder is scanned: 45 s (or from the folder's last scan) for a live
    // record; for a record of changes made while Kelso was not running (replayed from the journal,
    // found by the start-up catch-up, or with an id of an earlier run), from the last run's last
    // handled record, else from this start (a catch-up) or one day back.
    KLTime dateToScanBackTo(const FileSystemEvent &event);

    // FileSystemEventStreamDelegate (stream worker thread).
    void fileSystemEvent(const FileSystemEvent &event, FileSystemEventStream *stream) override;
    // Saves the store and how far the records were handled once a start's replay is through.
    void fileSystemEventsReplayed(size_t replayed, FileSystemEventStream *stream) override;

    void addEvent(const QList<KLItemPtr> &items, const QString &directory);
    void filterOutOldEventWithSameFiles(const KLRecentEvent &event);
    // Opened files: at most 6 of them become one-file events dated now. Looks at each file on
    // the disk; updatedMDQuery() calls it on the stream's thread when there is a stream.
    void addPathsToEvents(const QStringList &paths);

    // Rules.
    void loadPrefs();
    KLRules &rules() { return m_rules; }
    bool userWantsFolderIncluded(const QString &path) const { return m_rules.userWantsFolderIncluded(path); }
    bool userWantsItemIncluded(const KLItemPtr &item) const { return m_rules.userWantsItemIncluded(item); }

    // Opened-files query.
    void startListeningForOpenedFiles();
    void updatedMDQuery(const QVariantMap &userInfo);
    static QString mdItemToPath(const QVariant &item);
    void progressMDQuery() {}
    void finishedMDQuery() {}
    KLOpenedFilesQuery *mdQuery() const { return m_mdQuery.get(); }

    // The D-Bus answer of RecentItems(folder): the ranked list (empty folder) or the items of
    // one folder, as the JSON array of KLRecentListFormat.
    QString rankedListJSON(const QString &folder);
    // The same as of now, for a caller that must not wait on the disk (the D-Bus method):
    // on the stream's thread, after the records pending there, every recorded item looks at
    // its file, then the list is ranked (leaving out `excludedPaths`, the Cooler's first row)
    // or the folder's items taken, and `done` receives the JSON there. Without a stream it
    // all runs at once on the calling thread.
    void answerRankedList(const QString &folder, const QSet<QString> &excludedPaths,
                          std::function<void(const QByteArray &json)> done);
    QByteArray rankedListJSONWithFacts(const QString &folder, const QSet<QString> &excludedPaths);
    // What the event stream watches (FileSystemEventStream::status()); without a stream
    // "active" false and a "problem" that says so.
    QVariantMap streamStatus() const;

    // Inspection (tools, tests).
    QList<KLRecentEvent> pastEvents() const;
    int eventCount() const;
    int cachedFolderCount();
    quint64 lastEventID() const { return _lastEventID.load(); }
    double averageSecondsBetweenEvents() const { return _averageSecondsBetweenEvents.load(); }
    KLTime lastEventTrackedTime() const { return _lastEventTrackedTime.load(); }
    // Replaces the event list (tests, tools); newest first.
    void setPastEventsForTesting(const QList<KLRecentEvent> &events);

Q_SIGNALS:
    // A record was accepted into the event list (a file-system record or an opened file). Sent
    // from the thread that recorded it, after the list lock is released; a receiver on the
    // main thread gets it queued.
    void eventRecorded();

private:
    // Gives the items that have none the services of this collector's items.
    void handOut(const QList<KLItemPtr> &items) const;
    KLTime now() const;
    double secondsSinceCreation() const;
    quint64 currentEventID() const;
    quint64 pastEventID() const;
    QList<KLRecentEvent> loadStore();
    // The start-up steps that touch the disk: the store (merged with events recorded meanwhile),
    // the last handled id, the listing cache, then the stream's start. On the stream's worker
    // thread when there is a stream.
    void startUp();
    void primeListingCache();
    // Looks at the file of every recorded item now (calculateCache), off the main thread.
    void loadFactsOfRecordedItems();
    // Looks again at the files of the recorded items that may have changed since their last look
    // (see KLChangedFolders), as an answer for a script needs them.
    void refreshFactsOfRecordedItems();
    // Where the stream's records tell of every change (nowhere without a running stream).
    KLChangedFolders::Coverage eventCoverage() const;
    // An id more than kReplayIdGap below the current one: a record of an earlier run.
    bool isPastRecordId(quint64 id) const;
    // _lastEventID (and the tracked time) from the settings, as readState() takes them.
    void readLastEventID();
    // Lists and caches `directory`; with `mtimes`, also each entry's modification time
    // (examined relative to the open folder while listing; kUnknownFileTime when it cannot be).
    // `known` (with mtimes) tells for each entry whether the previous listing had it; `hadPrevious`
    // whether there was a previous listing at all. Both are taken under the same lock as the
    // listing, so "new since the last listing" is exact.
    struct ListingExtras {
        QList<KLTime> mtimes;
        std::vector<char> known;
        bool hadPrevious = false;
    };
    std::optional<QStringList> listDirectory(const QString &directory, ListingExtras *extras);
    // The per-file decision with the modification time already known.
    bool keepFile(const QString &path, KLTime modified, bool appearedSinceLastListing, KLTime sinceDate,
                  bool *markAsNew);
    static QVariantMap archiveEvent(const KLRecentEvent &event);
    static std::optional<KLRecentEvent> eventFromArchive(const QVariant &v);

    Options m_options;
    Defaults &m_defaults;
    QString m_storePath;
    FileSystemEventStream *m_stream = nullptr;
    bool m_installedRenameLookup = false;

    std::atomic<quint64> _lastEventID{0};
    mutable std::recursive_mutex m_pastEventsLock;
    QList<KLRecentEvent> _pastEvents;
    std::mutex m_cachedFileSetsLock;
    QHash<QString, QSet<QString>> _cachedFileSets;
    QSet<QString> m_primedFolders; // kept when the listing cache is trimmed
    std::unique_ptr<KLOpenedFilesQuery> m_mdQuery;
    std::mutex m_scanDatesLock;
    QHash<QString, KLTime> _scanDates;
    std::atomic<double> _averageSecondsBetweenEvents{20.0};
    std::atomic<double> _lastEventTrackedTime{0};
    KPTimer _timer;
    KLTime m_createdAt = 0;
    std::mutex m_writeLock; // one store write (or the sweep of its leftovers) at a time
    std::atomic<bool> m_storeLoaded{false};
    std::mutex m_loadedMutex;
    std::condition_variable m_loadedCondition;
    // Shared with the jobs queued on the stream's thread (start-up, opened files): the destructor clears
    // `alive` under `mutex`, which the job holds while it runs, so the job never touches a
    // destroyed collector and the destructor waits for one that is running.
    struct StartUpGuard {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<StartUpGuard> m_startUpGuard = std::make_shared<StartUpGuard>();
    KLRules m_rules;
    KLChangedFolders m_changedFolders{KLItem::kCacheInterval};
};
