#pragma once
// The process's metadata index service. The GUI process makes one at start-up and start()s it:
// it then owns the crawler (its own thread, idle priority) that fills the index under the cache
// folder and keeps it live from the changes handed in here: the event stream's records, attribute
// changes and Kelso's own opens. Queries (KLMetadataQuery) read the same database file through
// their own connections, so they need only databasePath().
//
// Progress of the crawl is read from the crawler under its lock (no disk work) and announced by
// progressChanged() once a second while the first crawl runs, for the quiet line in the search
// area. enqueue() and noteOpened() may be called from any thread (the event stream's worker
// hands its records in directly).
//
// Starting and restarting happen on a thread of the service's own ("kelso-mdrestart"): the old
// crawler is stopped and joined there (it may be in the middle of a batch, or waiting on a PDF
// decoder up to its time limit), and the rules are made there too, since finding the roots reads
// the mount table and looks at folders. The main thread only hands the request over. Requests
// made while one is being carried out are merged: the latest wins.
#include "platform/mdindex/MdCrawler.h"
#include "recent/KLRules.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class KLMetadataIndex : public QObject
{
    Q_OBJECT
public:
    // `databasePath` empty: $XDG_CACHE_HOME/com.tallow.kelso/index.sqlite3.
    explicit KLMetadataIndex(const QString &databasePath = QString(), QObject *parent = nullptr);
    ~KLMetadataIndex() override; // stops the crawler

    QString databasePath() const { return databasePath_; }

    // Starts (or, with other rules, restarts) the crawler on the roots with the exclusions.
    // Returns at once; the restart thread does the rest.
    void start(const MdIndex::CrawlRules &rules);
    // The same with rules made on the restart thread (the roots come from the mount table).
    void start(std::function<MdIndex::CrawlRules()> makeRules);
    // Stops the crawler and the restart thread and waits for both (at quit).
    void stop();
    // A crawler runs, or one is being started.
    bool isRunning() const;
    MdIndex::CrawlRules rules() const;

    // The crawl of the watched roots under the user's exclusions: excluded folders and single
    // items are left out with what is below them, excluded extensions as "*.ext" name patterns,
    // and a path fragment that is one name ("/node_modules/") as that name.
    static MdIndex::CrawlRules rulesFor(const QStringList &roots, const KLRules::Snapshot &exclusions);
    // The event stream's record of a changed folder, as a change for the crawler (its attribute
    // bit asks for the folder's tags and ratings to be read again).
    static MdIndex::Change changeForRecord(const QString &folder, quint32 flags);

    // Live changes from any thread; ignored while the crawler is not running.
    void enqueue(const QList<MdIndex::Change> &changes);
    void noteOpened(const QString &path);
    // Content indexing waits while the user types or clicks in Kelso (input in the last two
    // seconds), so that reading files never competes with the window.
    void watchUserInput();
    bool userRecentlyActive() const;

    // Counts so far (zeros before start()).
    MdIndex::CrawlProgress progress() const;
    // True until the names pass of this run has finished.
    bool isFirstCrawlRunning() const;
    // One short line for the search area while the first crawl runs ("Indexing… 12,345 files"),
    // empty otherwise.
    QString progressText() const;

Q_SIGNALS:
    void progressChanged();
    void firstCrawlFinished();

private:
    void poll();
    bool eventFilter(QObject *watched, QEvent *event) override;
    std::shared_ptr<MdIndex::Crawler> crawler() const;
    void restartLoop();

    QString databasePath_;
    // Guards the fields below it; never held while a crawler is joined.
    mutable std::mutex mutex_;
    MdIndex::CrawlRules rules_;
    std::shared_ptr<MdIndex::Crawler> crawler_;
    std::optional<std::function<MdIndex::CrawlRules()>> request_; // the next start, not yet taken
    bool starting_ = false;                                       // a request is being carried out
    bool quit_ = false;
    std::condition_variable wake_;
    std::thread restartThread_;
    std::atomic<qint64> lastInputMs_{0};
    QTimer pollTimer_;
    bool announcedDone_ = false;
};
