#include "thumbs/SlowRenderCache.h"

#include "fileops/XPFileUtils.h"
#include "platform/StoreFile.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "thumbs/KPImageUtils.h"
#include "thumbs/ThumbnailRenderer.h"
#include "util/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <sys/stat.h>
#include <sys/time.h>

namespace {
struct CacheState {
    std::atomic<bool> cacheSlowImages{false};
    std::atomic<bool> cacheAllowed{true};
    std::atomic<int> cacheRenderSize{1024};
    std::mutex namesMutex;
    QSet<QString> cachedNames;
    std::once_flag cacheOnce;
};

CacheState &state()
{
    static CacheState s;
    return s;
}

void ensureCache()
{
    std::call_once(state().cacheOnce, [] { SlowRenderCache::initializeCache(); });
}
} // namespace

namespace SlowRenderCache {

QString cacheFolder()
{
    return XPFileUtils::ourCacheFolder() + QStringLiteral("/QuickLook/.cache/");
}

bool pathIsInCacheFolder(const QString &path)
{
    return path.startsWith(cacheFolder());
}

void initializeCache()
{
    CacheState &g = state();
    const QString folder = cacheFolder();
    StoreFile::preparePrivateFolder(folder);
    {
        std::lock_guard lock(g.namesMutex);
        g.cachedNames.clear();
    }
    const double gb = XPFileUtils::GBFreeOnHome();
    if (gb >= 0 && gb < 8) {
        g.cacheAllowed = false;
        qCWarning(lcThumbs, "Less than 8 GB free on the home volume: the thumbnail cache is off for this run");
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

void setupImageCacheSize()
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
    state().cacheRenderSize = size;
}

int cacheRenderSize()
{
    return state().cacheRenderSize.load();
}

QString calculatePathForCache(const QString &path, QSizeF size)
{
    if (path.isEmpty())
        return {};
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name.size() > 100)
        return {};
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const QString file = name + QStringLiteral("_xxUc_%1_%2_%3_.png")
                                    .arg(qint64(st.st_size))
                                    .arg(qint64(st.st_mtim.tv_sec))
                                    .arg(ThumbnailRenderer::useIconMode(path, size) ? 1 : 0);
    return cacheFolder() + file;
}

QString cachedFilePath(const QString &path, QSizeF size)
{
    ensureCache();
    const QString name = QFileInfo(path).fileName();
    {
        CacheState &g = state();
        std::lock_guard lock(g.namesMutex);
        if (!g.cachedNames.contains(name))
            return {};
    }
    const QString cachePath = calculatePathForCache(path, size);
    if (cachePath.isEmpty() || !QFileInfo::exists(cachePath))
        return {};
    return cachePath;
}

QImage createCachedImage(const QString &path, QSizeF size)
{
    const QString cachePath = cachedFilePath(path, size);
    if (cachePath.isEmpty())
        return {};
    // Touch it: the clean-up keeps the most recently used entries.
    ::utimes(QFile::encodeName(cachePath).constData(), nullptr);
    ThumbnailRequest request;
    request.path = cachePath;
    request.maxSize = size;
    request.isCacheEntry = true;
    return ThumbnailRenderer::renderImageWithQuickLook(request);
}

void createCacheFile(const QString &path, QSize pixelBox)
{
    if (path.isEmpty() || !useCaching() || pathIsInCacheFolder(path) || XPFileUtils::pathIsOnSlowVolume(path))
        return;
    ensureCache();
    const int side = cacheRenderSize();
    Thumbnailer::Request req;
    req.path = path;
    req.box = QSize(side, side);
    req.iconMode = ThumbnailRenderer::useIconMode(path, QSizeF(pixelBox));
    req.writeSharedCache = false; // the shared cache got its own copy at its own size
    QImage img = Thumbnailer::create(req).image;
    if (img.isNull())
        img = ThumbnailRenderer::newCGIconForFile(path, QSize(side, side));
    const QString cachePath = calculatePathForCache(path, QSizeF(pixelBox));
    if (cachePath.isEmpty() || img.isNull())
        return;
    auto cacher = std::make_shared<KPQuickLookCacher>(img, cachePath);
    cacher->setQueuePriority(KPQuickLook::kLowQueuePriority);
    KPQuickLook::addItemToList(cacher);
}

void cleanCache()
{
    const QString folder = cacheFolder();
    struct Item {
        QString path;
        qint64 mtimeNs;
        bool dir;
    };
    QList<Item> items;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
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

bool useCaching()
{
    ensureCache();
    return state().cacheAllowed.load() && state().cacheSlowImages.load();
}

void setCacheSlowImages(bool on)
{
    state().cacheSlowImages = on;
}

void setCacheAllowed(bool allowed)
{
    ensureCache();
    state().cacheAllowed = allowed;
}

} // namespace SlowRenderCache

KPQuickLookCacher::KPQuickLookCacher(const QImage &image, const QString &path) : _image(image), _path(path) {}

void KPQuickLookCacher::main()
{
    const QByteArray data = KPImageUtils::dataForCGImage(_image, false, 1.0);
    _image = QImage();
    if (data.isEmpty())
        return;
    QSaveFile f(_path);
    if (!StoreFile::open(f, true) || f.write(data) != data.size() || !f.commit())
        return;
    const QString name = QFileInfo(_path).fileName();
    const int mark = name.indexOf(QLatin1String("_xxUc_"));
    if (mark > 0) {
        CacheState &g = state();
        std::lock_guard lock(g.namesMutex);
        g.cachedNames.insert(name.left(mark));
    }
}
