#pragma once
// A live query on the metadata index, in the manner of the system query object the searcher was
// written for: made from query text, given search scopes and a maximum count, executed, and
// then kept current while files come, change and go.
//
// The search runs on a worker thread with its own read-only connection to the index; the main
// thread only receives finished result lists (queued, by value) and compares them with the last
// one. After the first gathering the worker watches the index's data version and searches again
// when the index changed (at most every half second, less often when a search takes long), so a
// file the crawler adds or removes shows up as an update without the user retyping.
//
// Signals are emitted on the thread that owns the object (the main thread). stop() sets the
// worker's cancel flag, which a search checks between rows, and never waits for the worker; the
// worker drops its results once it sees the flag.
#include "platform/mdindex/MdRecord.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>
#include <memory>

class KLMetadataQuery : public QObject
{
    Q_OBJECT
public:
    // `databasePath` empty: the index under the cache folder. A text that does not parse makes an
    // invalid query: errorString() says why, execute() answers false and there are no results.
    explicit KLMetadataQuery(const QString &queryText, const QString &databasePath = QString(),
                             QObject *parent = nullptr);
    ~KLMetadataQuery() override;

    bool isValid() const { return error_.isEmpty(); }
    QString errorString() const { return error_; }
    QString queryText() const { return text_; }

    // Folders the results must lie in (a folder itself counts); empty: everywhere. Set before
    // execute().
    void setSearchScopes(const QStringList &folders);
    QStringList searchScopes() const { return scopes_; }
    // At most this many results (<= 0: no limit). Set before execute().
    void setMaxCount(int count) { maxCount_ = count; }
    int maxCount() const { return maxCount_; }
    // Off: the query gathers once and finishes without watching the index (the command line).
    void setLive(bool live) { live_ = live; }

    // Starts gathering on a worker thread; false when the query is invalid or already ran.
    bool execute();
    // Stops gathering and updates; the results so far stay readable. Safe to call twice.
    void stop();
    bool isRunning() const { return running_; }
    bool isGathering() const { return running_ && !gathered_; }

    // While disabled (calls nest), updates found by the worker are held back and results()
    // stays as it is, so that a caller can copy it; enabling applies what was held back.
    void disableUpdates();
    void enableUpdates();

    // In index order.
    const QList<MdIndex::FileRecord> &results() const { return results_; }
    qsizetype resultCount() const { return results_.size(); }

    // Worker threads of all queries still running (stopped ones end at their next check).
    static int activeWorkers();

Q_SIGNALS:
    // The first results are in (one emission before finished()).
    void progress();
    // The initial gathering is complete.
    void finished();
    // The results changed after finished(): entries that joined, changed (same path, other
    // facts) or left.
    void updated(const QList<MdIndex::FileRecord> &added, const QList<MdIndex::FileRecord> &changed,
                 const QList<MdIndex::FileRecord> &removed);

private:
    struct Shared;
    void receive(const QList<MdIndex::FileRecord> &list, bool initial);
    void apply(const QList<MdIndex::FileRecord> &list);

    QString text_;
    QString databasePath_;
    QString error_;
    QDateTime createdAt_; // $time expressions are read against this moment
    QStringList scopes_;
    int maxCount_ = 0;
    bool live_ = true;
    bool running_ = false;
    bool executed_ = false;
    bool gathered_ = false;
    int updatesDisabled_ = 0;
    bool havePending_ = false;
    QList<MdIndex::FileRecord> pending_;
    QList<MdIndex::FileRecord> results_;
    std::shared_ptr<Shared> shared_;
};
