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
#include "platform/mdindex/MdCrawler.h"
#include "recent/KLRules.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

class KLMetadataIndex : public QObject
{
    Q_OBJECT
public:
    // `databasePath` empty: $XDG_CACHE_HOME/com.tallow.kelso/index.sqlite3.
    explicit KLMetadataIndex(const QString &databasePath = QString(), QObject *parent = nullptr);
    ~KLMetadataIndex() override; // stops the crawler

    QString databasePath() const { return databasePath_; }

    // Starts (or, with other rules, restarts) the crawler on the roots with the exclusions.
    void start(const MdIndex::CrawlRules &rules);
    void stop();
    bool isRunning() const { return crawler_ != nullptr; }
    MdIndex::CrawlRules rules() const { return rules_; }

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

    QString databasePath_;
    MdIndex::CrawlRules rules_;
    std::unique_ptr<MdIndex::Crawler> crawler_;
    std::atomic<qint64> lastInputMs_{0};
    QTimer pollTimer_;
    bool announcedDone_ = false;
};
