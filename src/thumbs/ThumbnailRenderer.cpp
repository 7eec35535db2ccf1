#include "thumbs/ThumbnailRenderer.h"

#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "thumbs/KPFileType.h"
#include "thumbs/KPImageUtils.h"
#include "thumbs/KPQuickLook.h"
#include "thumbs/SlowRenderCache.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
const QString kSettingImages = QStringLiteral("KPQuicklookBordersImages");
const QString kSettingMovies = QStringLiteral("KPQuicklookBordersMovies");
const QString kSettingOther = QStringLiteral("KPQuicklookBordersOther");
const QString kSettingLarge = QStringLiteral("KPQuicklookBordersOnLargeThumbs");
const QString kSettingCache = QStringLiteral("KPQuicklookCacheSlowImages");

struct Settings {
    std::atomic<bool> bordersImages{false};
    std::atomic<bool> bordersMovies{false};
    std::atomic<bool> bordersOther{false};
    std::atomic<bool> bordersLarge{false};
    std::atomic<double> scale{1.0};
    std::atomic<int> renderCount{0};
};

Settings &settings()
{
    static Settings s;
    return s;
}

QString extensionOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? path.mid(dot + 1) : QString();
}
} // namespace

namespace ThumbnailRenderer {

QImage kpThumbnailImageCreateSync(const ThumbnailRequest &request, ThumbnailResult *result)
{
    if (SlowRenderCache::useCaching() && !SlowRenderCache::cachedFilePath(request.path, request.maxSize).isEmpty()) {
        QImage img = SlowRenderCache::createCachedImage(request.path, request.maxSize);
        if (!img.isNull()) {
            if (result)
                result->renderPath = Thumbnailer::sourceName(Thumbnailer::Source::KelsoCache);
            return img;
        }
    }
    return renderImageWithQuickLook(request, result);
}

QImage renderImageWithQuickLook(const ThumbnailRequest &request, ThumbnailResult *resultIn)
{
    const QString &path = request.path;
    if (path.isEmpty())
        return {};
    ThumbnailResult scratch;
    ThumbnailResult &out = resultIn ? *resultIn : scratch;
    QElapsedTimer timer;
    timer.start();
    const bool hasScaleFactor = request.scaleFactor.has_value();
    const double extraScale = hasScaleFactor ? std::max(0.01, *request.scaleFactor) : 1.0;
    double w = request.maxSize.width(), h = request.maxSize.height();
    if (w < 0 || h < 0) {
        w = 1280;
        h = 1280;
    }
    const bool slow = XPFileUtils::pathIsOnSlowVolume(path);
    const bool fastEligible = !bordersOnLargeThumbs() && (w > 256 || h > 256) && !hasScaleFactor && !slow;
    const bool iconMode = !request.isCacheEntry && (request.forceIconMode || useIconMode(path, QSizeF(w, h)));
    out.iconMode = iconMode;
    const double s = std::max(1.0, screenScale()) * extraScale;
    const QSize pixelBox(std::max(1, int(w * s)), std::max(1, int(h * s)));
    if (!path.startsWith(QLatin1Char('/')))
        return {}; // no file URL for a relative path

    QImage result;
    Thumbnailer::Source source = Thumbnailer::Source::None;
    QString failure; // a decoder tried and failed: no second try, the icon
    const QString ext = extensionOf(path);
    if (fastEligible && extensionOKForHomeBrew(ext)) {
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
        req.writeSharedCache = !SlowRenderCache::pathIsInCacheFolder(path);
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
        out.failure = failure;
    if (result.isNull()) {
        result = newCGIconForFile(path, pixelBox);
        if (!result.isNull())
            source = Thumbnailer::Source::Icon;
    }
    const double elapsed = timer.nsecsElapsed() / 1e9;
    out.secondsToRender = elapsed;
    out.renderPath = Thumbnailer::sourceName(source);
    const int renders = ++settings().renderCount;

    // Renders slower than the machine's current pace are worth keeping on disk.
    const int processors = std::max(1, QThread::idealThreadCount());
    const int a = std::max(1, std::abs(KPQuickLook::activeLoads() * 2 / processors));
    const double threshold = std::min(a, 3) * 1.3;
    if (elapsed > threshold && renders > 20)
        SlowRenderCache::createCacheFile(path, pixelBox);

    if (!request.destinationFile.isEmpty() && !result.isNull()) {
        auto cacher = std::make_shared<KPQuickLookCacher>(result, request.destinationFile);
        cacher->setQueuePriority(KPQuickLook::kLowQueuePriority);
        KPQuickLook::addItemToList(cacher);
    }
    return result;
}

QImage copyThumbOfImageFromFile(const QString &path, QSize pixelBox)
{
    // Requests are square: the side is the thumbnail's largest dimension.
    const int side = std::max(pixelBox.width(), pixelBox.height());
    return Thumbnailer::fastImage(path, side).image;
}

QImage newCGIconForFile(const QString &path, QSize size)
{
    const QSizeF capped(std::min(size.width(), 512), std::min(size.height(), 512));
    KPCGImageRef icon;
    if (XPFileUtils::pathIsOnSlowVolume(path))
        icon = KPImageUtils::newCGIconForFileType(KPFileType::utiForFile(path), capped);
    else
        icon = KPImageUtils::newCGIconForFile(path, capped);
    return icon ? icon->peekImage() : QImage();
}

bool useIconMode(const QString &path, QSizeF size)
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

bool extensionOKForHomeBrew(const QString &extension)
{
    return extension == QLatin1String("JPG") || extension == QLatin1String("jpg") || extension == QLatin1String("png");
}

void updateCachedPrefs()
{
    Settings &g = settings();
    Defaults &d = Defaults::standard();
    g.bordersImages = d.boolForKey(kSettingImages);
    g.bordersMovies = d.boolForKey(kSettingMovies);
    g.bordersOther = d.boolForKey(kSettingOther);
    g.bordersLarge = d.boolForKey(kSettingLarge);
    SlowRenderCache::setCacheSlowImages(d.boolForKey(kSettingCache));
    double scale = 1.0;
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (QThread::currentThread() == app->thread()) {
            if (QScreen *screen = QGuiApplication::primaryScreen())
                scale = screen->devicePixelRatio();
        }
    }
    g.scale = std::max(1.0, scale);
}

bool isRendererSetting(const QString &key)
{
    return key == kSettingImages || key == kSettingMovies || key == kSettingOther || key == kSettingLarge ||
           key == kSettingCache;
}

bool bordersOnImages()
{
    return settings().bordersImages.load();
}

bool bordersOnMovies()
{
    return settings().bordersMovies.load();
}

bool bordersOnOthers()
{
    return settings().bordersOther.load();
}

bool bordersOnLargeThumbs()
{
    return settings().bordersLarge.load();
}

bool noQuickLookBorders()
{
    return !bordersOnImages() && !bordersOnMovies() && !bordersOnOthers();
}

double screenScale()
{
    return settings().scale.load();
}

int renderCount()
{
    return settings().renderCount.load();
}

} // namespace ThumbnailRenderer
