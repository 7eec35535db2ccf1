#include "search/KLMetadataQuery.h"

#include "platform/mdindex/MdQuery.h"
#include "platform/mdindex/MdSearch.h"
#include "platform/mdindex/MdStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcMdIndex)

namespace {

// Set when the application object goes away, so that a live loop of a query nobody stopped
// still ends and the pool below can be joined.
std::atomic<bool> gShuttingDown{false};
std::atomic<int> gActiveWorkers{0};

QThreadPool *queryPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setObjectName(QStringLiteral("kelso-mdquery"));
        p->setMaxThreadCount(16); // each live query holds one thread while it watches
        p->setExpiryTimeout(10000);
        qAddPostRoutine([] {
            gShuttingDown = true;
            queryPool()->waitForDone(2000);
        });
        return p;
    }();
    return pool;
}

bool sameFacts(const MdIndex::FileRecord &a, const MdIndex::FileRecord &b)
{
    return a.id == b.id && a.displayName == b.displayName && a.size == b.size && a.modifiedMs == b.modifiedMs &&
           a.lastUsedMs == b.lastUsedMs && a.contentType == b.contentType && a.tags == b.tags && a.rating == b.rating;
}

} // namespace

struct KLMetadataQuery::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;                 // guarded by mutex
    KLMetadataQuery *target = nullptr; // guarded by mutex; null once stopped or destroyed
    std::atomic<bool> cancel{false};

    void post(const QList<MdIndex::FileRecord> &list, bool initial)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!target)
            return;
        KLMetadataQuery *q = target;
        QMetaObject::invokeMethod(
            q, [q, list, initial] { q->receive(list, initial); }, Qt::QueuedConnection);
    }
    // Waits up to `ms`; true when stopped.
    bool sleep(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop; });
        return stop || gShuttingDown;
    }
};

KLMetadataQuery::KLMetadataQuery(const QString &queryText, const QString &databasePath, QObject *parent)
    : QObject(parent), text_(queryText),
      databasePath_(databasePath.isEmpty() ? MdIndex::Store::defaultPath() : databasePath),
      createdAt_(QDateTime::currentDateTime())
{
    // Parsing is pure (no disk): done here so a bad text is known at once.
    const MdIndex::ParsedQuery parsed = MdIndex::parseQuery(text_, createdAt_);
    if (!parsed.ok())
        error_ = parsed.error.isEmpty() ? QStringLiteral("The query cannot be read.") : parsed.error;
}

KLMetadataQuery::~KLMetadataQuery()
{
    stop();
}

void KLMetadataQuery::setSearchScopes(const QStringList &folders)
{
    scopes_.clear();
    for (const QString &f : folders)
        if (!f.isEmpty())
            scopes_.append(QDir::cleanPath(f));
}

bool KLMetadataQuery::execute()
{
    if (!isValid() || executed_)
        return false;
    executed_ = true;
    running_ = true;
    shared_ = std::make_shared<Shared>();
    shared_->target = this;

    std::shared_ptr<Shared> shared = shared_;
    const QString text = text_, dbPath = databasePath_;
    const QDateTime now = createdAt_;
    const bool live = live_;
    MdIndex::SearchOptions options;
    options.scopes = scopes_;
    options.maxCount = maxCount_;
    options.cancel = &shared->cancel;

    ++gActiveWorkers;
    queryPool()->start([shared, text, dbPath, now, live, options] {
        struct Count {
            ~Count() { --gActiveWorkers; }
        } count;
        const MdIndex::ParsedQuery parsed = MdIndex::parseQuery(text, now);
        MdIndex::Store store;
        bool open = false, initialSent = false;
        qint64 version = -1;
        int pause = 250;
        while (!shared->cancel) {
            if (!open) {
                // The index may not exist yet (the crawler's first moments): an empty first
                // answer, then try again.
                QString error;
                open = store.open(dbPath, MdIndex::Store::Mode::ReadOnly, &error);
            }
            if (open) {
                const qint64 v = store.dataVersion();
                if (v != version || !initialSent) {
                    version = v;
                    QElapsedTimer timer;
                    timer.start();
                    MdIndex::Searcher searcher(store);
                    const MdIndex::SearchResult result = searcher.run(*parsed.root, options);
                    if (result.cancelled || shared->cancel)
                        break;
                    shared->post(result.items, !initialSent);
                    initialSent = true;
                    // A search that took long is not repeated at once on a busy index.
                    pause = int(std::clamp<qint64>(timer.elapsed() * 4, 250, 5000));
                }
            } else if (!initialSent) {
                shared->post({}, true);
                initialSent = true;
            }
            if (!live && initialSent)
                break;
            if (shared->sleep(pause))
                break;
        }
    });
    return true;
}

int KLMetadataQuery::activeWorkers()
{
    return gActiveWorkers;
}

void KLMetadataQuery::stop()
{
    running_ = false;
    if (!shared_)
        return;
    shared_->cancel = true;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stop = true;
        shared_->target = nullptr;
    }
    shared_->wake.notify_all();
    shared_.reset();
}

void KLMetadataQuery::disableUpdates()
{
    ++updatesDisabled_;
}

void KLMetadataQuery::enableUpdates()
{
    if (updatesDisabled_ == 0 || --updatesDisabled_ > 0)
        return;
    if (havePending_) {
        havePending_ = false;
        apply(std::exchange(pending_, {}));
    }
}

void KLMetadataQuery::receive(const QList<MdIndex::FileRecord> &list, bool initial)
{
    if (!running_)
        return;
    if (initial) {
        results_ = list;
        gathered_ = true;
        Q_EMIT progress();
        Q_EMIT finished();
        return;
    }
    if (updatesDisabled_ > 0) {
        pending_ = list;
        havePending_ = true;
        return;
    }
    apply(list);
}

void KLMetadataQuery::apply(const QList<MdIndex::FileRecord> &list)
{
    QHash<QString, const MdIndex::FileRecord *> before;
    for (const MdIndex::FileRecord &r : std::as_const(results_))
        before.insert(r.path, &r);
    QList<MdIndex::FileRecord> added, changed, removed;
    QSet<QString> now;
    for (const MdIndex::FileRecord &r : list) {
        now.insert(r.path);
        const MdIndex::FileRecord *old = before.value(r.path);
        if (!old)
            added.append(r);
        else if (!sameFacts(*old, r))
            changed.append(r);
    }
    for (const MdIndex::FileRecord &r : std::as_const(results_))
        if (!now.contains(r.path))
            removed.append(r);
    results_ = list;
    if (added.isEmpty() && changed.isEmpty() && removed.isEmpty())
        return;
    Q_EMIT updated(added, changed, removed);
}
