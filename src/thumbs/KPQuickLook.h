#pragma once
// Thumbnail requests, their queue, the renderer and its slow-render cache.
//
// Design note. Every thumbnail request is one KPQuickLook operation on a single process-wide
// queue served by a QThreadPool. The queue is ours, not the pool's: pending operations sit in a
// list ordered by priority (high 4, normal 0, low −4) and arrival, and each pool task takes the
// best pending one when it starts. That gives the behaviour the requesters rely on: an equal
// request already queued (or running) is dropped, "highPriority" requests jump ahead, requests
// can be cancelled by path before they run, and `busy()` tells requesters to hold off while more
// than 12 operations wait.
//
// An operation renders with kpThumbnailImageCreateSync(): Kelso's slow-render cache when the
// file has an entry there, else renderImageWithQuickLook(): the fast image path (JPEG/PNG at
// large boxes), the thumbnail service (platform/thumbnailer: freedesktop shared cache, Qt's
// decoders in worker processes, installed thumbnailers), the 32→16 retry, and the file's icon. A
// file whose decoder failed, crashed or hung is not tried a second way: it gets its icon. Files on slow
// (network, placeholder) volumes are never opened: they get their type's icon. Renders that
// take longer than an adaptive threshold are stored as PNG in ourCacheFolder()/QuickLook/.cache/
// under "NAME_xxUc_SIZE_MTIME_ICONMODE_.png", pruned to the 1000 most recently used.
//
// Delivery: either a completion function (queued to the main thread, or called on the worker),
// or a target object and the name of an invokable method taking the request record
// (QVariantMap), the result under "KPCGImage". Main-thread deliveries are queued, never
// blocking: a worker never waits for the GUI thread.
#include "thumbs/KPCGImage.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <functional>
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
    using Callback = std::function<void(const KPCGImageRef &image)>;

    // Request option keys.
    static const QString kFileToRender;    // "qi_FileToRender"
    static const QString kHighPriority;    // "highPriority"
    static const QString kScaleFactor;     // "qi_ScaleFactor"
    static const QString kDestinationFile; // "qi_DestinationFile"
    static const QString kSecondsToRender; // "qi_SecondsToRender"
    static const QString kImage;           // "KPCGImage"
    static const QString kRenderPath;      // "qi_RenderPath": which way produced the picture
    static const QString kForceIconMode;   // "qi_IconMode": icon mode whatever the settings say
    static const QString kFailure;         // "qi_Failure": why a decoder or thumbnailer gave no picture
    static const QString kIconModeOption;  // the service's icon-mode option
    static const QString kScaleFactorOption;

    static constexpr int kHighQueuePriority = 4;
    static constexpr int kLowQueuePriority = -4;

    // initForLoad: first delivery form (`selector` names an invokable method of `objectToCall`
    // taking a QVariantMap).
    KPQuickLook(const QString &path, QSizeF size, const QVariantMap &options, QObject *objectToCall,
                const char *selector, bool callMainThread);
    // initForLoad: second delivery form.
    KPQuickLook(const QString &path, QSizeF size, const QVariantMap &options, bool callMainThread, Callback callback);

    void main() override;
    QString operationPath() const override { return _path; }
    bool isEqualTo(const KPOperation &other) const override;
    QString path() const { return _path; }
    QSizeF maxSize() const { return _maxSize; }

    // --- requesting ---------------------------------------------------------------------
    static void thumbnailImageCreate(const QString &path, QSizeF size, const QVariantMap &options, QObject *objectToCall,
                                     const char *selector, bool callMainThread);
    static void thumbnailImageCreate(const QString &path, QSizeF size, const QVariantMap &options, Callback callback,
                                     bool callMainThread);
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

    // --- rendering (synchronous, any thread) -----------------------------------------------
    static QImage kpThumbnailImageCreateSync(const QString &path, QVariantMap *request, QSizeF size);
    static QImage renderImageWithQuickLook(const QString &path, QSizeF size, QVariantMap *request);
    static QImage copyThumbOfImageFromFile(const QString &path, QSize pixelBox);
    static QImage newCGIconForFile(const QString &path, QSize size);
    static bool useIconMode(const QString &path, QSizeF size);
    static bool extensionOKForHomeBrew(const QString &extension);

    // --- slow-render cache -----------------------------------------------------------------
    static void initializeCache();
    static void setupImageCacheSize();
    static int cacheRenderSize();
    static QString cacheFolder();
    static QString calculatePathForCache(const QString &path, QSizeF size);
    static QString cachedFilePath(const QString &path, QSizeF size);
    static QImage createCachedImage(const QString &path, QSizeF size);
    static void createCacheFile(const QString &path, QSize pixelBox);
    static void cleanCache();
    static bool useCaching();
    // Overrides the free-space decision (tests, tools).
    static void setCacheAllowed(bool allowed);

    // --- settings ----------------------------------------------------------------------------
    // Once at start, on the main thread: the queue, the settings and their observers, the cache,
    // the clean-up at quit.
    static void initializeGlobals();
    static void updateCachedPrefs();
    static bool bordersOnImages();
    static bool bordersOnMovies();
    static bool bordersOnOthers();
    static bool bordersOnLargeThumbs();
    static bool noQuickLookBorders();
    static double screenScale();

    // --- accounting ----------------------------------------------------------------------------
    static int activeLoads();
    static int slowLoads();
    static int renderCount();

private:
    void loadImage();
    void deliver();

    QString _path;
    QSizeF _maxSize;
    QVariantMap _inOptions;
    QVariantMap _request;
    QPointer<QObject> _objectToCall;
    const QObject *_objectIdentity = nullptr; // for equality even after the target is gone
    QByteArray _selectorToCall;
    Callback _callback;
    bool _callMainThread = false;
};

// Writes a picture as PNG to a path atomically, then notes the source name in the cached-names
// set when the file is a cache entry.
class KPQuickLookCacher : public KPOperation
{
public:
    KPQuickLookCacher(const QImage &image, const QString &path); // initWithImage:forPath:
    void main() override;

private:
    QImage _image;
    QString _path;
};
