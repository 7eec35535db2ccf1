#include "thumbs/KPQuickLook.h"

#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "thumbs/KPFileType.h"
#include "thumbs/KPImageUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>
#include <sys/stat.h>
#include <sys/time.h>

const QString KPQuickLook::kFileToRender = QStringLiteral("qi_FileToRender");
const QString KPQuickLook::kHighPriority = QStringLiteral("highPriority");
const QString KPQuickLook::kScaleFactor = QStringLiteral("qi_ScaleFactor");
const QString KPQuickLook::kDestinationFile = QStringLiteral("qi_DestinationFile");
const QString KPQuickLook::kSecondsToRender = QStringLiteral("qi_SecondsToRender");
const QString KPQuickLook::kImage = QStringLiteral("KPCGImage");
const QString KPQuickLook::kRenderPath = QStringLiteral("qi_RenderPath");
const QString KPQuickLook::kForceIconMode = QStringLiteral("qi_IconMode");
const QString KPQuickLook::kFailure = QStringLiteral("qi_Failure");
const QString KPQuickLook::kIconModeOption = QStringLiteral("IconMode");
const QString KPQuickLook::kScaleFactorOption = QStringLiteral("ScaleFactor");

namespace {
// Set by createCachedImage: the cache picture already carries its icon-mode frame.
const QString kNoIconMode = QStringLiteral("qi_NoIconMode");
const QString kSettingImages = QStringLiteral("KPQuicklookBordersImages");
const QString kSettingMovies = QStringLiteral("KPQuicklookBordersMovies");
const QString kSettingOther = QStringLiteral("KPQuicklookBordersOther");
const QString kSettingLarge = QStringLiteral("KPQuicklookBordersOnLargeThumbs");
const QString kSettingCache = QStringLiteral("KPQuicklookCacheSlowImages");
} // namespace

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
        pool.setObjectName(QStringLiteral("KPQuickLook"));
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

struct Globals {
    std::atomic<bool> bordersImages{false};
    std::atomic<bool> bordersMovies{false};
    std::atomic<bool> bordersOther{false};
    std::atomic<bool> bordersLarge{false};
    std::atomic<bool> cacheSlowImages{false};
    std::atomic<double> scale{1.0};
    std::atomic<bool> cacheAllowed{true};
    std::atomic<int> cacheRenderSize{1024};
    std::atomic<int> activeLoads{0};
    std::atomic<int> slowLoads{0};
    std::atomic<int> renderCount{0};
    std::mutex namesMutex;
    QSet<QString> cachedNames;
    std::once_flag cacheOnce;
};

Globals &globals()
{
    static Globals g;
    return g;
}

void ensureCache()
{
    std::call_once(globals().cacheOnce, [] { KPQuickLook::initializeCache(); });
}

bool pathIsInCacheFolder(const QString &path)
{
    return path.startsWith(KPQuickLook::cacheFolder());
}

QString extensionOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? path.mid(dot + 1) : QString();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// operations

KPQuickLook::KPQuickLook(const QString &path, QSizeF size, const QVariantMap &options, QObject *objectToCall,
                         const char *selector, bool callMainThread)
    : _path(path)
    , _maxSize(size)
    , _inOptions(options)
    , _request(options)
    , _objectToCall(objectToCall)
    , _objectIdentity(objectToCall)
    , _selectorToCall(selector)
    , _callMainThread(callMainThread)
{
}

KPQuickLook::KPQuickLook(const QString &path, QSizeF size, const QVariantMap &options, bool callMainThread, Callback callback)
    : _path(path)
    , _maxSize(size)
    , _inOptions(options)
    , _request(options)
    , _callback(std::move(callback))
    , _callMainThread(callMainThread)
{
}

bool KPQuickLook::isEqualTo(const KPOperation &other) const
{
    const auto *o = dynamic_cast<const KPQuickLook *>(&other);
    if (!o)
        return false;
    return o->_inOptions.size() == _inOptions.size() && o->_callMainThread == _callMainThread
           && o->_objectIdentity == _objectIdentity && o->_maxSize == _maxSize && o->_path == _path;
}

void KPQuickLook::main()
{
    Globals &g = globals();
    ++g.activeLoads;
    loadImage();
    deliver();
    --g.activeLoads;
}

void KPQuickLook::loadImage()
{
    Globals &g = globals();
    QImage image;
    if (!_path.startsWith(QLatin1String("pal_:"))) {
        const bool slow = XPFileUtils::pathIsOnSlowVolume(_request.value(kFileToRender).toString());
        if (slow) {
            // At most 10 renders of slow-volume files at once; the others wait their turn.
            for (;;) {
                int cur = g.slowLoads.load();
                if (cur < 10 && g.slowLoads.compare_exchange_weak(cur, cur + 1))
                    break;
                if (cur >= 10)
                    QThread::msleep(10);
            }
        }
        image = kpThumbnailImageCreateSync(_path, &_request, _maxSize);
        if (slow)
            --g.slowLoads;
    }
    _request.insert(kImage, QVariant::fromValue(std::make_shared<KPCGImage>(image)));
}

void KPQuickLook::deliver()
{
    if (_callback) {
        const KPCGImageRef image = _request.value(kImage).value<KPCGImageRef>();
        if (_callMainThread && QCoreApplication::instance()) {
            Callback cb = _callback;
            QMetaObject::invokeMethod(QCoreApplication::instance(), [cb, image] { cb(image); }, Qt::QueuedConnection);
        } else {
            _callback(image);
        }
        return;
    }
    QObject *target = _objectToCall.data();
    if (!target || _selectorToCall.isEmpty())
        return;
    QMetaObject::invokeMethod(target, _selectorToCall.constData(), _callMainThread ? Qt::QueuedConnection : Qt::DirectConnection,
                              Q_ARG(QVariantMap, _request));
}

KPQuickLookCacher::KPQuickLookCacher(const QImage &image, const QString &path)
    : _image(image)
    , _path(path)
{
}

void KPQuickLookCacher::main()
{
    const QByteArray data = KPImageUtils::dataForCGImage(_image, false, 1.0);
    _image = QImage();
    if (data.isEmpty())
        return;
    QSaveFile f(_path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        return;
    const QString name = QFileInfo(_path).fileName();
    const int mark = name.indexOf(QLatin1String("_xxUc_"));
    if (mark > 0) {
        Globals &g = globals();
        std::lock_guard lock(g.namesMutex);
        g.cachedNames.insert(name.left(mark));
    }
}

// ---------------------------------------------------------------------------------------------
// requesting

void KPQuickLook::thumbnailImageCreate(const QString &path, QSizeF size, const QVariantMap &options, QObject *objectToCall,
                                       const char *selector, bool callMainThread)
{
    if (size.width() <= 0 || size.height() <= 0)
        size = QSizeF(1280, 1280);
    addItemToList(std::make_shared<KPQuickLook>(path, size, options, objectToCall, selector, callMainThread));
}

void KPQuickLook::thumbnailImageCreate(const QString &path, QSizeF size, const QVariantMap &options, Callback callback,
                                       bool callMainThread)
{
    if (size.width() <= 0 || size.height() <= 0)
        size = QSizeF(1280, 1280);
    addItemToList(std::make_shared<KPQuickLook>(path, size, options, callMainThread, std::move(callback)));
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
            if (ql->_inOptions.value(kHighPriority).toBool())
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
    return q.idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return q.pending.empty() && q.running.isEmpty(); });
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
// rendering

QImage KPQuickLook::kpThumbnailImageCreateSync(const QString &path, QVariantMap *request, QSizeF size)
{
    if (useCaching() && !cachedFilePath(path, size).isEmpty()) {
        QImage img = createCachedImage(path, size);
        if (!img.isNull()) {
            if (request)
                request->insert(kRenderPath, Thumbnailer::sourceName(Thumbnailer::Source::KelsoCache));
            return img;
        }
    }
    return renderImageWithQuickLook(path, size, request);
}

QImage KPQuickLook::renderImageWithQuickLook(const QString &path, QSizeF size, QVariantMap *requestIn)
{
    if (path.isEmpty())
        return {};
    QVariantMap scratch;
    QVariantMap &request = requestIn ? *requestIn : scratch;
    QElapsedTimer timer;
    timer.start();
    const bool hasScaleFactor = request.contains(kScaleFactor);
    double extraScale = 1.0;
    if (hasScaleFactor) {
        request.insert(kScaleFactorOption, request.value(kScaleFactor));
        extraScale = std::max(0.01, request.value(kScaleFactor).toDouble());
    }
    double w = size.width(), h = size.height();
    if (w < 0 || h < 0) {
        w = 1280;
        h = 1280;
    }
    const bool slow = XPFileUtils::pathIsOnSlowVolume(path);
    const bool fastEligible = !bordersOnLargeThumbs() && (w > 256 || h > 256) && !hasScaleFactor && !slow;
    const bool iconMode = !request.value(kNoIconMode).toBool()
                          && (request.value(kForceIconMode).toBool() || useIconMode(path, QSizeF(w, h)));
    request.insert(kIconModeOption, iconMode);
    const double s = std::max(1.0, screenScale()) * extraScale;
    const QSize pixelBox(std::max(1, int(w * s)), std::max(1, int(h * s)));
    if (!path.startsWith(QLatin1Char('/')))
        return {}; // no file URL for a relative path

    QImage result;
    Thumbnailer::Source source = Thumbnailer::Source::None;
    QString failure; // a decoder tried and failed: no second try, the icon
    const QString ext = extensionOf(path);
    if (fastEligible && (ext == QLatin1String("JPG") || ext == QLatin1String("jpg") || ext == QLatin1String("png"))) {
        const Thumbnailer::Result fast = Thumbnailer::fastImage(path, std::max(pixelBox.width(), pixelBox.height()));
        result = fast.image;
        source = fast.source;
        failure = fast.failure;
    }
    // A file on a slow volume is never opened: no service, only its type's icon below.
    if (result.isNull() && !slow && failure.isEmpty()) {
        Thumbnailer::Request req;
        req.path = path;
        req.box = pixelBox;
        req.iconMode = iconMode;
        req.writeSharedCache = !pathIsInCacheFolder(path);
        Thumbnailer::Result r = Thumbnailer::create(req);
        if (r.image.isNull() && r.failure.isEmpty() && pixelBox == QSize(16, 16)) {
            req.box = QSize(32, 32);
            r = Thumbnailer::create(req);
            if (!r.image.isNull())
                r.image = KPImageUtils::newResizedImage(r.image, 0, 16, 16);
        }
        result = r.image;
        source = r.source;
        failure = r.failure;
    }
    if (!failure.isEmpty())
        request.insert(kFailure, failure);
    if (result.isNull()) {
        result = newCGIconForFile(path, pixelBox);
        if (!result.isNull())
            source = Thumbnailer::Source::Icon;
    }
    const double elapsed = timer.nsecsElapsed() / 1e9;
    request.insert(kSecondsToRender, elapsed);
    request.insert(kRenderPath, Thumbnailer::sourceName(source));
    const int renders = ++globals().renderCount;

    // Renders slower than the machine's current pace are worth keeping on disk.
    const int processors = std::max(1, QThread::idealThreadCount());
    const int a = std::max(1, std::abs(activeLoads() * 2 / processors));
    const double threshold = std::min(a, 3) * 1.3;
    if (elapsed > threshold && renders > 20)
        createCacheFile(path, pixelBox);

    const QString destination = request.value(kDestinationFile).toString();
    if (!destination.isEmpty() && !result.isNull()) {
        auto cacher = std::make_shared<KPQuickLookCacher>(result, destination);
        cacher->setQueuePriority(kLowQueuePriority);
        addItemToList(cacher);
    }
    return result;
}

QImage KPQuickLook::copyThumbOfImageFromFile(const QString &path, QSize pixelBox)
{
    // Requests are square: the side is the thumbnail's largest dimension.
    const int side = std::max(pixelBox.width(), pixelBox.height());
    return Thumbnailer::fastImage(path, side).image;
}

QImage KPQuickLook::newCGIconForFile(const QString &path, QSize size)
{
    const QSizeF capped(std::min(size.width(), 512), std::min(size.height(), 512));
    KPCGImageRef icon;
    if (XPFileUtils::pathIsOnSlowVolume(path))
        icon = KPImageUtils::newCGIconForFileType(KPFileType::utiForFile(path), capped);
    else
        icon = KPImageUtils::newCGIconForFile(path, capped);
    return icon ? icon->peekImage() : QImage();
}

bool KPQuickLook::useIconMode(const QString &path, QSizeF size)
{
    if (!bordersOnLargeThumbs() && (size.width() > 256 || size.height() > 256))
        return false;
    if (noQuickLookBorders())
        return false;
    if (KPFileType::isImage(path))
        return bordersOnImages();
    if (KPFileType::isMovie(path))
        return bordersOnMovies();
    return bordersOnOthers();
}

bool KPQuickLook::extensionOKForHomeBrew(const QString &extension)
{
    return extension == QLatin1String("JPG") || extension == QLatin1String("jpg") || extension == QLatin1String("png");
}

// ---------------------------------------------------------------------------------------------
// slow-render cache

QString KPQuickLook::cacheFolder()
{
    return XPFileUtils::ourCacheFolder() + QStringLiteral("/QuickLook/.cache/");
}

void KPQuickLook::initializeCache()
{
    Globals &g = globals();
    const QString folder = cacheFolder();
    QDir().mkpath(folder);
    {
        std::lock_guard lock(g.namesMutex);
        g.cachedNames.clear();
    }
    const double gb = XPFileUtils::GBFreeOnHome();
    if (gb >= 0 && gb < 8) {
        g.cacheAllowed = false;
        qWarning("Less than 8 GB free on the home volume: the thumbnail cache is off for this run");
    }
    setupImageCacheSize();
    QSet<QString> names;
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &e : entries) {
        const int mark = e.indexOf(QLatin1String("_xxUc_"));
        if (mark > 0)
            names.insert(e.left(mark));
    }
    std::lock_guard lock(g.namesMutex);
    g.cachedNames.unite(names);
}

void KPQuickLook::setupImageCacheSize()
{
    int size = 1024;
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (QThread::currentThread() == app->thread()) {
            if (QScreen *screen = QGuiApplication::primaryScreen()) {
                const QSize s = screen->size();
                if ((s.width() + s.height()) / 2 < 1100)
                    size = 768;
            }
        }
    }
    globals().cacheRenderSize = size;
}

int KPQuickLook::cacheRenderSize()
{
    return globals().cacheRenderSize.load();
}

QString KPQuickLook::calculatePathForCache(const QString &path, QSizeF size)
{
    if (path.isEmpty())
        return {};
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name.size() > 100)
        return {};
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const QString file = name
                         + QStringLiteral("_xxUc_%1_%2_%3_.png")
                               .arg(qint64(st.st_size))
                               .arg(qint64(st.st_mtim.tv_sec))
                               .arg(useIconMode(path, size) ? 1 : 0);
    return cacheFolder() + file;
}

QString KPQuickLook::cachedFilePath(const QString &path, QSizeF size)
{
    ensureCache();
    const QString name = QFileInfo(path).fileName();
    {
        Globals &g = globals();
        std::lock_guard lock(g.namesMutex);
        if (!g.cachedNames.contains(name))
            return {};
    }
    const QString cachePath = calculatePathForCache(path, size);
    if (cachePath.isEmpty() || !QFileInfo::exists(cachePath))
        return {};
    return cachePath;
}

QImage KPQuickLook::createCachedImage(const QString &path, QSizeF size)
{
    const QString cachePath = cachedFilePath(path, size);
    if (cachePath.isEmpty())
        return {};
    // Touch it: the clean-up keeps the most recently used entries.
    ::utimes(QFile::encodeName(cachePath).constData(), nullptr);
    QVariantMap request{{kNoIconMode, true}};
    return renderImageWithQuickLook(cachePath, size, &request);
}

void KPQuickLook::createCacheFile(const QString &path, QSize pixelBox)
{
    if (path.isEmpty() || !useCaching() || pathIsInCacheFolder(path) || XPFileUtils::pathIsOnSlowVolume(path))
        return;
    ensureCache();
    const int side = cacheRenderSize();
    Thumbnailer::Request req;
    req.path = path;
    req.box = QSize(side, side);
    req.iconMode = useIconMode(path, QSizeF(pixelBox));
    req.writeSharedCache = false; // the shared cache got its own copy at its own size
    QImage img = Thumbnailer::create(req).image;
    if (img.isNull())
        img = newCGIconForFile(path, QSize(side, side));
    const QString cachePath = calculatePathForCache(path, QSizeF(pixelBox));
    if (cachePath.isEmpty() || img.isNull())
        return;
    auto cacher = std::make_shared<KPQuickLookCacher>(img, cachePath);
    cacher->setQueuePriority(kLowQueuePriority);
    addItemToList(cacher);
}

void KPQuickLook::cleanCache()
{
    const QString folder = cacheFolder();
    struct Item {
        QString path;
        qint64 mtimeNs;
        bool dir;
    };
    QList<Item> items;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        struct stat st;
        qint64 ns = 0;
        if (::lstat(QFile::encodeName(info.filePath()).constData(), &st) == 0)
            ns = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        items.append({info.filePath(), ns, info.isDir() && !info.isSymLink()});
    }
    const int limit = useCaching() ? 1000 : 0;
    if (items.size() <= limit * 1.1)
        return;
    std::stable_sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.mtimeNs > b.mtimeNs; });
    // Files first, then folders deepest first, so a folder is empty when its turn comes.
    QList<Item> doomed = items.mid(limit);
    std::stable_sort(doomed.begin(), doomed.end(), [](const Item &a, const Item &b) {
        if (a.dir != b.dir)
            return !a.dir;
        return a.path.size() > b.path.size();
    });
    for (const Item &i : doomed) {
        if (i.dir)
            QDir().rmdir(i.path);
        else
            QFile::remove(i.path);
    }
}

bool KPQuickLook::useCaching()
{
    ensureCache();
    return globals().cacheAllowed.load() && globals().cacheSlowImages.load();
}

void KPQuickLook::setCacheAllowed(bool allowed)
{
    ensureCache();
    globals().cacheAllowed = allowed;
}

// ---------------------------------------------------------------------------------------------
// settings

void KPQuickLook::initializeGlobals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        (void)queue();
        updateCachedPrefs();
        Defaults &defaults = Defaults::standard();
        QObject::connect(&defaults, &Defaults::changed, &defaults, [](const QString &key) {
            if (key != kSettingImages && key != kSettingMovies && key != kSettingOther && key != kSettingLarge
                && key != kSettingCache)
                return;
            updateCachedPrefs();
            if (key == kSettingCache) {
                // Off the main thread: the clean-up may delete a thousand files.
                struct CleanUp : KPOperation {
                    void main() override { KPQuickLook::cleanCache(); }
                };
                auto op = std::make_shared<CleanUp>();
                op->setQueuePriority(kLowQueuePriority);
                addItemToList(op);
            }
        });
        // The cache folder is made, the free space checked and the folder listed (up to 1,100
        // names) by the queue's first operation, not on the thread that starts the program.
        struct PrepareCache : KPOperation {
            void main() override { ensureCache(); }
        };
        addItemToList(std::make_shared<PrepareCache>());
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] {
                shutdown();
                cleanCache();
            });
    });
}

void KPQuickLook::updateCachedPrefs()
{
    Globals &g = globals();
    Defaults &d = Defaults::standard();
    g.bordersImages = d.boolForKey(kSettingImages);
    g.bordersMovies = d.boolForKey(kSettingMovies);
    g.bordersOther = d.boolForKey(kSettingOther);
    g.bordersLarge = d.boolForKey(kSettingLarge);
    g.cacheSlowImages = d.boolForKey(kSettingCache);
    double scale = 1.0;
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (QThread::currentThread() == app->thread()) {
            if (QScreen *screen = QGuiApplication::primaryScreen())
                scale = screen->devicePixelRatio();
        }
    }
    g.scale = std::max(1.0, scale);
}

bool KPQuickLook::bordersOnImages()
{
    return globals().bordersImages.load();
}

bool KPQuickLook::bordersOnMovies()
{
    return globals().bordersMovies.load();
}

bool KPQuickLook::bordersOnOthers()
{
    return globals().bordersOther.load();
}

bool KPQuickLook::bordersOnLargeThumbs()
{
    return globals().bordersLarge.load();
}

bool KPQuickLook::noQuickLookBorders()
{
    return !bordersOnImages() && !bordersOnMovies() && !bordersOnOthers();
}

double KPQuickLook::screenScale()
{
    return globals().scale.load();
}

int KPQuickLook::activeLoads()
{
    return globals().activeLoads.load();
}

int KPQuickLook::slowLoads()
{
    return globals().slowLoads.load();
}

int KPQuickLook::renderCount()
{
    return globals().renderCount.load();
}
