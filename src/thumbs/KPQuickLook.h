#pragma once
// The thumbnail queue: requests, their queue, and the delivery of the pictures.
//
// Design note. Every thumbnail request is one KPQuickLook operation on a single process-wide
// queue served by a QThreadPool ("Kelso thumbnails"). The queue is ours, not the pool's: pending
// operations sit in a list ordered by priority (high 4, normal 0, low −4) and arrival, and each
// pool task takes the best pending one when it starts. That gives the behaviour the requesters
// rely on: an equal request already queued (or running) is dropped, "highPriority" requests jump
// ahead, requests can be cancelled by path before they run, and `busy()` tells requesters to
// hold off while more than 12 operations wait.
//
// An operation renders with ThumbnailRenderer (ThumbnailRenderer.h), which serves Kelso's
// slow-render cache (SlowRenderCache.h) first. Renders of files on slow (network, placeholder)
// volumes take one of 10 slots of a semaphore first, so that at most 10 of them run at once.
//
// Delivery: a callback with the ThumbnailResult, queued to the main thread or called on the
// worker. Main-thread deliveries are queued, never blocking: a worker never waits for the GUI
// thread.
#include "thumbs/ThumbnailQueue.h"
#include "thumbs/ThumbnailRequest.h"

#include <QString>
#include <atomic>
#include <memory>

// One unit of work on the thumbnail queue.
class KPOperation
{
public:
    virtual ~KPOperation() = default;
    virtual void main() = 0;
    // The file the operation is about (for cancellation by path); empty for none.
    virtual QString operationPath() const { return {}; }
    virtual bool isEqualTo(const KPOperation &other) const { return this == &other; }

    int queuePriority() const { return m_priority; }
    void setQueuePriority(int priority) { m_priority = priority; }
    bool isCancelled() const { return m_cancelled.load(); }
    void cancel() { m_cancelled.store(true); }

private:
    friend struct KPQueue;
    int m_priority = 0;
    quint64 m_sequence = 0;
    std::atomic<bool> m_cancelled{false};
};

class KPQuickLook : public KPOperation
{
public:
    using Callback = ThumbnailCallback;

    static constexpr int kHighQueuePriority = 4;
    static constexpr int kLowQueuePriority = -4;
    // Renders of slow-volume files running at once, at most.
    static constexpr int kSlowLoadLimit = 10;

    // initForLoad: a box with a side not above 0 becomes 1280 × 1280.
    KPQuickLook(const ThumbnailRequest &request, bool callMainThread, Callback callback);

    void main() override;
    QString operationPath() const override { return _request.path; }
    // Same options, delivery thread, requester, box and path.
    bool isEqualTo(const KPOperation &other) const override;
    QString path() const { return _request.path; }
    QSizeF maxSize() const { return _request.maxSize; }

    // --- requesting ---------------------------------------------------------------------
    static void thumbnailImageCreate(const ThumbnailRequest &request, Callback callback, bool callMainThread);
    // The queue as the narrow interface that cells' requesters are handed.
    static ThumbnailQueue &sharedQueue();
    // Queues the operation unless an equal one is queued; false when it was dropped.
    static bool addItemToList(const std::shared_ptr<KPOperation> &operation);
    static bool busy();
    static void removeItemWithPath(const QString &path);
    static void removeItemFromRequestList(const QString &path) { removeItemWithPath(path); }
    static void removeAllRequests();
    static int totalRequests();
    static bool isAlreadyQueued(const KPOperation &operation);
    // Holds (true) or releases (false) the start of queued operations; running ones go on.
    static void setSuspended(bool suspended);
    static void setMaxThreadCount(int threads);
    // Waits until nothing is queued or running (worker deliveries only; main-thread deliveries
    // still need the event loop). False on timeout.
    static bool waitUntilAllOperationsAreFinished(int timeoutMs);
    // Kills the decoder processes and installed thumbnailers at once (at quit): renders waiting
    // on them end with the icon; nothing decodes afterwards.
    static void stopDecoders();
    // Cancels what is queued, stops the decoders and joins the threads for a second at most.
    static void shutdown();

    // Once at start, on the main thread: the queue, the renderer's settings and their
    // observers, the cache, the clean-up at quit.
    static void initializeGlobals();

    // --- accounting ----------------------------------------------------------------------------
    static int activeLoads();
    static int slowLoads();
    // Takes one slot of the slow-volume limit, waiting while all are taken; `release` gives it
    // back. Renders of slow-volume files run between the two.
    static void acquireSlowLoad();
    static void releaseSlowLoad();

private:
    ThumbnailResult loadImage() const;
    void deliver(const ThumbnailResult &result) const;

    ThumbnailRequest _request;
    Callback _callback;
    bool _callMainThread = false;
};
