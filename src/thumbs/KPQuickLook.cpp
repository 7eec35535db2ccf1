#include "thumbs/KPQuickLook.h"

#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "thumbs/SlowRenderCache.h"
#include "thumbs/ThumbnailRenderer.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <semaphore>

// The queue: pending operations by priority and arrival, the running ones, and the pool that
// runs them. One instance for the process.
struct KPQueue {
    QThreadPool pool;
    std::mutex mutex;
    std::condition_variable idle;
    std::list<std::shared_ptr<KPOperation>> pending; // best first
    QList<std::shared_ptr<KPOperation>> running;
    quint64 nextSequence = 0;
    bool suspended = false;

    KPQueue()
    {
        // The pool's threads carry its name (a debugger and `top -H` show it).
        pool.setObjectName(QStringLiteral("Kelso thumbnails"));
        pool.setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
        pool.setExpiryTimeout(30000);
    }

    bool containsEqualLocked(const KPOperation &op) const
    {
        for (const auto &p : pending) {
            if (p->isEqualTo(op))
                return true;
        }
        for (const auto &r : running) {
            if (r->isEqualTo(op))
                return true;
        }
        return false;
    }

    void insertLocked(const std::shared_ptr<KPOperation> &op)
    {
        op->m_sequence = nextSequence++;
        auto it = std::find_if(pending.begin(), pending.end(),
                               [&](const std::shared_ptr<KPOperation> &p) { return p->m_priority < op->m_priority; });
        pending.insert(it, op);
    }

    void startRunner()
    {
        pool.start([this] { runOne(); });
    }

    void runOne()
    {
        std::shared_ptr<KPOperation> op;
        {
            std::lock_guard lock(mutex);
            if (suspended || pending.empty())
                return;
            op = pending.front();
            pending.pop_front();
            running.append(op);
        }
        if (!op->isCancelled())
            op->main();
        std::lock_guard lock(mutex);
        running.removeOne(op);
        if (pending.empty() && running.isEmpty())
            idle.notify_all();
    }
};

namespace {

KPQueue &queue()
{
    static KPQueue *q = new KPQueue; // never destroyed: workers may still run at exit
    return *q;
}

struct Loads {
    std::atomic<int> active{0};
    std::atomic<int> slow{0};
    // The slow-volume limit: a render of a slow-volume file holds one slot while it runs.
    std::counting_semaphore<KPQuickLook::kSlowLoadLimit> slowSlots{KPQuickLook::kSlowLoadLimit};
};

Loads &loads()
{
    static Loads l;
    return l;
}

class SharedQueue : public ThumbnailQueue
{
public:
    bool busy() const override { return KPQuickLook::busy(); }
    void thumbnailImageCreate(const ThumbnailRequest &request, ThumbnailCallback done, bool callMainThread) override
    {
        KPQuickLook::thumbnailImageCreate(request, std::move(done), callMainThread);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// operations

KPQuickLook::KPQuickLook(const ThumbnailRequest &request, bool callMainThread, Callback callback)
    : _request(request), _callback(std::move(callback)), _callMainThread(callMainThread)
{
    if (_request.maxSize.width() <= 0 || _request.maxSize.height() <= 0)
        _request.maxSize = QSizeF(1280, 1280);
}

bool KPQuickLook::isEqualTo(const KPOperation &other) const
{
    const auto *o = dynamic_cast<const KPQuickLook *>(&other);
    return o && o->_callMainThread == _callMainThread && o->_request == _request;
}

void KPQuickLook::main()
{
    ++loads().active;
    deliver(loadImage());
    --loads().active;
}

ThumbnailResult KPQuickLook::loadImage() const
{
    ThumbnailResult result;
    result.request = _request;
    QImage image;
    if (!_request.path.startsWith(QLatin1String("pal_:"))) {
        const bool slow = XPFileUtils::pathIsOnSlowVolume(_request.fileToRender);
        if (slow)
            acquireSlowLoad();
        image = ThumbnailRenderer::kpThumbnailImageCreateSync(_request, &result);
        if (slow)
            releaseSlowLoad();
    }
    result.image = std::make_shared<KPCGImage>(image);
    return result;
}

void KPQuickLook::deliver(const ThumbnailResult &result) const
{
    if (!_callback)
        return;
    if (_callMainThread && QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [cb = _callback, result] { cb(result); }, Qt::QueuedConnection);
    } else {
        _callback(result);
    }
}

// ---------------------------------------------------------------------------------------------
// requesting

void KPQuickLook::thumbnailImageCreate(const ThumbnailRequest &request, Callback callback, bool callMainThread)
{
    addItemToList(std::make_shared<KPQuickLook>(request, callMainThread, std::move(callback)));
}

ThumbnailQueue &KPQuickLook::sharedQueue()
{
    static SharedQueue shared;
    return shared;
}

bool KPQuickLook::addItemToList(const std::shared_ptr<KPOperation> &operation)
{
    if (!operation)
        return false;
    KPQueue &q = queue();
    {
        std::lock_guard lock(q.mutex);
        if (q.containsEqualLocked(*operation))
            return false;
        if (auto *ql = dynamic_cast<KPQuickLook *>(operation.get())) {
            if (ql->_request.highPriority)
                operation->setQueuePriority(kHighQueuePriority);
        }
        q.insertLocked(operation);
        if (q.suspended)
            return true;
    }
    q.startRunner();
    return true;
}

bool KPQuickLook::busy()
{
    return totalRequests() > 12;
}

void KPQuickLook::removeItemWithPath(const QString &path)
{
    KPQueue &q = queue();
    std::lock_guard lock(q.mutex);
    for (auto it = q.pending.begin(); it != q.pending.end();) {
        if ((*it)->operationPath() == path) {
            (*it)->cancel();
            it = q.pending.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto &r : q.running) {
        if (r->operationPath() == path)
            r->cancel();
    }
    if (q.pending.empty() && q.running.isEmpty())
        q.idle.notify_all();
}

void KPQuickLook::removeAllRequests()
{
    KPQueue &q = queue();
    std::lock_guard lock(q.mutex);
    for (const auto &p : q.pending)
        p->cancel();
    for (const auto &r : q.running)
        r->cancel();
    q.pending.clear();
    if (q.running.isEmpty())
        q.idle.notify_all();
}

int KPQuickLook::totalRequests()
{
    KPQueue &q = queue();
    std::lock_guard lock(q.mutex);
    return int(q.pending.size()) + int(q.running.size());
}

bool KPQuickLook::isAlreadyQueued(const KPOperation &operation)
{
    KPQueue &q = queue();
    std::lock_guard lock(q.mutex);
    return q.containsEqualLocked(operation);
}

void KPQuickLook::setSuspended(bool suspended)
{
    KPQueue &q = queue();
    size_t starts = 0;
    {
        std::lock_guard lock(q.mutex);
        q.suspended = suspended;
        if (!suspended)
            starts = q.pending.size();
    }
    for (size_t i = 0; i < starts; ++i)
        q.startRunner();
}

void KPQuickLook::setMaxThreadCount(int threads)
{
    queue().pool.setMaxThreadCount(std::max(1, threads));
}

bool KPQuickLook::waitUntilAllOperationsAreFinished(int timeoutMs)
{
    KPQueue &q = queue();
    std::unique_lock lock(q.mutex);
    return q.idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return q.pending.empty() && q.running.isEmpty(); });
}

void KPQuickLook::stopDecoders()
{
    DecoderWorkers::stopAll();
}

void KPQuickLook::shutdown()
{
    removeAllRequests();
    // The decoders and thumbnailers are killed, not waited for: a render blocked on one of them
    // ends at once with the icon. What remains of the running renders gets a second at most.
    DecoderWorkers::stopAll();
    queue().pool.waitForDone(1000);
}

// ---------------------------------------------------------------------------------------------
// settings and start

void KPQuickLook::initializeGlobals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        (void)queue();
        ThumbnailRenderer::updateCachedPrefs();
        Defaults &defaults = Defaults::standard();
        QObject::connect(&defaults, &Defaults::changed, &defaults, [](const QString &key) {
            if (!ThumbnailRenderer::isRendererSetting(key))
                return;
            ThumbnailRenderer::updateCachedPrefs();
            if (key == QLatin1String("KPQuicklookCacheSlowImages")) {
                // Off the main thread: the clean-up may delete a thousand files.
                struct CleanUp : KPOperation {
                    void main() override { SlowRenderCache::cleanCache(); }
                };
                auto op = std::make_shared<CleanUp>();
                op->setQueuePriority(kLowQueuePriority);
                addItemToList(op);
            }
        });
        // The cache folder is made, the free space checked and the folder listed (up to 1,100
        // names) by the queue's first operation, not on the thread that starts the program.
        struct PrepareCache : KPOperation {
            void main() override { SlowRenderCache::useCaching(); }
        };
        addItemToList(std::make_shared<PrepareCache>());
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] {
                shutdown();
                SlowRenderCache::cleanCache();
            });
    });
}

// ---------------------------------------------------------------------------------------------
// accounting

int KPQuickLook::activeLoads()
{
    return loads().active.load();
}

int KPQuickLook::slowLoads()
{
    return loads().slow.load();
}

void KPQuickLook::acquireSlowLoad()
{
    loads().slowSlots.acquire();
    ++loads().slow;
}

void KPQuickLook::releaseSlowLoad()
{
    --loads().slow;
    loads().slowSlots.release();
}
