// The request queue, the deliveries, the slow-render cache and the settings it follows.
#include "Requests.h"
#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "platform/Mounts.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"
#include "thumbs/SlowRenderCache.h"
#include "thumbs/ThumbnailRenderer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <sys/time.h>

namespace {

// Records the order in which worker-thread deliveries arrive.
struct Order {
    std::mutex mutex;
    QStringList names;
    KPQuickLook::Callback record(const QString &name)
    {
        return [this, name](const ThumbnailResult &) {
            std::lock_guard lock(mutex);
            names.append(name);
        };
    }
    QStringList get()
    {
        std::lock_guard lock(mutex);
        return names;
    }
};

void setMtime(const QString &path, qint64 seconds)
{
    struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), tv), 0);
}

class QueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KPQuickLook::initializeGlobals();
        KPQuickLook::removeAllRequests();
        ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    }
    void TearDown() override
    {
        KPQuickLook::setSuspended(false);
        KPQuickLook::setMaxThreadCount(4);
        KPQuickLook::removeAllRequests();
        KPQuickLook::waitUntilAllOperationsAreFinished(30000);
        KelsoTest::waitFor([] { return false; }, 50); // let queued deliveries run
    }
};

} // namespace

TEST_F(QueueTest, DuplicatesAreDroppedAndBusyAboveTwelve)
{
    KPQuickLook::setSuspended(true);
    Order order;
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("a")), false);
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("a2")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 1);
    // A different box, thread flag or option count is a different request.
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(64, 64), false),
                                      order.record(QStringLiteral("b")), false);
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("c")), true);
    ThumbnailRequest iconStyle = thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(172, 172), false);
    iconStyle.forceIconMode = true;
    KPQuickLook::thumbnailImageCreate(iconStyle, order.record(QStringLiteral("d")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 4);
    // The same picture for another requester is queued for it too.
    ThumbnailRequest other = thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(172, 172), false);
    other.requester = &order;
    KPQuickLook::thumbnailImageCreate(other, order.record(QStringLiteral("e")), false);
    KPQuickLook::thumbnailImageCreate(other, order.record(QStringLiteral("e2")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 5);
    // A box of 0 × 0 means 1280 × 1280.
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:z"), QSizeF(0, 0), false),
                                      order.record(QStringLiteral("z")), false);
    EXPECT_TRUE(KPQuickLook::isAlreadyQueued(
        KPQuickLook(thumbnailRequest(QStringLiteral("pal_:z"), QSizeF(1280, 1280), false), false, {})));

    for (int i = 0; i < 6; ++i)
        KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:n%1").arg(i), QSizeF(172, 172), false),
                                          order.record(QString()), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 12);
    EXPECT_FALSE(KPQuickLook::busy());
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:n13"), QSizeF(172, 172), false),
                                      order.record(QString()), false);
    EXPECT_TRUE(KPQuickLook::busy());

    KPQuickLook::setSuspended(false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    // "c" is delivered on the main thread: let the event loop run it.
    ASSERT_TRUE(KelsoTest::waitFor([&] { return order.get().contains(QStringLiteral("c")); }, 30000));
    EXPECT_FALSE(order.get().contains(QStringLiteral("a2")));
    EXPECT_FALSE(order.get().contains(QStringLiteral("e2")));
    EXPECT_TRUE(order.get().contains(QStringLiteral("e")));
    EXPECT_TRUE(order.get().contains(QStringLiteral("a")));
    EXPECT_EQ(KPQuickLook::totalRequests(), 0);
    // Once done, the same request may be made again.
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:a"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("again")), false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_TRUE(order.get().contains(QStringLiteral("again")));
}

TEST_F(QueueTest, HighPriorityGoesFirstAndCancelledRequestsNeverDeliver)
{
    KPQuickLook::setMaxThreadCount(1);
    KPQuickLook::setSuspended(true);
    Order order;
    auto high = [](const QString &path) {
        ThumbnailRequest request = thumbnailRequest(path, QSizeF(172, 172), false);
        request.highPriority = true;
        return request;
    };
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:1"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("n1")), false);
    KPQuickLook::thumbnailImageCreate(high(QStringLiteral("pal_:2")), order.record(QStringLiteral("h2")), false);
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:3"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("n3")), false);
    KPQuickLook::thumbnailImageCreate(high(QStringLiteral("pal_:4")), order.record(QStringLiteral("h4")), false);
    KPQuickLook::thumbnailImageCreate(high(QStringLiteral("pal_:gone")), order.record(QStringLiteral("gone")), false);
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:gone"), QSizeF(64, 64), false),
                                      order.record(QStringLiteral("gone2")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 6);
    KPQuickLook::removeItemWithPath(QStringLiteral("pal_:gone"));
    EXPECT_EQ(KPQuickLook::totalRequests(), 4);
    KPQuickLook::setSuspended(false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_EQ(order.get(),
              (QStringList{QStringLiteral("h2"), QStringLiteral("h4"), QStringLiteral("n1"), QStringLiteral("n3")}));

    KPQuickLook::setSuspended(true);
    KPQuickLook::thumbnailImageCreate(thumbnailRequest(QStringLiteral("pal_:x"), QSizeF(172, 172), false),
                                      order.record(QStringLiteral("x")), false);
    KPQuickLook::removeAllRequests();
    EXPECT_EQ(KPQuickLook::totalRequests(), 0);
    KPQuickLook::setSuspended(false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_FALSE(order.get().contains(QStringLiteral("x")));
}

TEST_F(QueueTest, DeliversTheResultOnTheThreadAskedFor)
{
    const QString file = KelsoTest::home() + QStringLiteral("/deliver/pic.png");
    QDir().mkpath(QFileInfo(file).absolutePath());
    QImage pic(300, 200, QImage::Format_RGB32);
    pic.fill(Qt::darkCyan);
    ASSERT_TRUE(pic.save(file));

    std::optional<ThumbnailResult> result;
    QThread *thread = nullptr;
    KPQuickLook::thumbnailImageCreate(
        thumbnailRequest(file, QSizeF(172, 172)),
        [&](const ThumbnailResult &r) {
            result = r;
            thread = QThread::currentThread();
        },
        true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return result.has_value(); }, 30000));
    EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    ASSERT_TRUE(result->image);
    EXPECT_EQ(result->image->size().width(), 172);
    EXPECT_NEAR(result->image->size().height(), 115, 1);
    EXPECT_GE(result->secondsToRender, 0.0);
    EXPECT_FALSE(result->renderPath.isEmpty());
    EXPECT_EQ(result->request.fileToRender, file); // the caller's request comes back
    EXPECT_GT(result->image->lastUsedTime(), -1.0);

    // On the worker thread when asked so.
    std::atomic<QThread *> workerThread{nullptr};
    KPQuickLook::thumbnailImageCreate(
        thumbnailRequest(file, QSizeF(64, 64)),
        [&](const ThumbnailResult &r) {
            if (r.image && r.image->size().width() == 64)
                workerThread = QThread::currentThread();
        },
        false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    ASSERT_NE(workerThread.load(), nullptr);
    EXPECT_NE(workerThread.load(), QCoreApplication::instance()->thread());

    // A request that cannot give anything still delivers, with an empty wrapper.
    KPCGImageRef empty;
    bool delivered = false;
    KPQuickLook::thumbnailImageCreate(
        thumbnailRequest(QStringLiteral("pal_:nothing"), QSizeF(64, 64), false),
        [&](const ThumbnailResult &r) {
            empty = r.image;
            delivered = true;
        },
        true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return delivered; }, 30000));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isNull());

    // A destination file gets the picture too, written by a low-priority cache writer.
    const QString dest = KelsoTest::home() + QStringLiteral("/deliver/copy.png");
    bool done = false;
    ThumbnailRequest copy = thumbnailRequest(file, QSizeF(100, 100), false);
    copy.destinationFile = dest;
    KPQuickLook::thumbnailImageCreate(
        copy, [&](const ThumbnailResult &) { done = true; }, true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return done && QFileInfo::exists(dest); }, 30000));
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_EQ(QImage(dest).width(), 100);
    EXPECT_NEAR(QImage(dest).height(), 67, 1);
}

namespace {
// Makes `folder` a network mount (slow volume) for the rest of the test.
void markSlowVolume(const QString &folder)
{
    const QString table = KelsoTest::home() + QStringLiteral("/mountinfo");
    KelsoTest::writeFile(table, "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                                "40 22 0:51 / " +
                                    QFile::encodeName(folder) + " rw,relatime shared:9 - nfs4 nas:/share rw\n");
    Mounts::setMountInfoPathForTesting(table);
    XPFileUtils::rebuildSlowVolumes();
}
} // namespace

TEST_F(QueueTest, AtMostTenSlowVolumeRendersRunAtOnce)
{
    const QString slowFolder = KelsoTest::home() + QStringLiteral("/nas");
    const QString slowFile = slowFolder + QStringLiteral("/film.mkv");
    const QString localFile = KelsoTest::home() + QStringLiteral("/local/notes.txt");
    KelsoTest::writeFile(slowFile, "x");
    KelsoTest::writeFile(localFile, "x");
    markSlowVolume(slowFolder);
    ASSERT_TRUE(XPFileUtils::pathIsOnSlowVolume(slowFile));

    // Ten slow renders hold every slot.
    for (int i = 0; i < KPQuickLook::kSlowLoadLimit; ++i)
        KPQuickLook::acquireSlowLoad();
    EXPECT_EQ(KPQuickLook::slowLoads(), 10);
    std::atomic<bool> slowDone{false}, localDone{false};
    KPQuickLook::thumbnailImageCreate(
        thumbnailRequest(slowFile, QSizeF(172, 172)), [&](const ThumbnailResult &) { slowDone = true; }, false);
    KPQuickLook::thumbnailImageCreate(
        thumbnailRequest(localFile, QSizeF(172, 172)), [&](const ThumbnailResult &) { localDone = true; }, false);
    // The local file is not held back by the slow ones...
    ASSERT_TRUE(KelsoTest::waitFor([&] { return localDone.load(); }, 30000));
    // ...the eleventh slow render waits for a slot.
    EXPECT_FALSE(KPQuickLook::waitUntilAllOperationsAreFinished(300));
    EXPECT_FALSE(slowDone.load());
    EXPECT_EQ(KPQuickLook::slowLoads(), 10);
    KPQuickLook::releaseSlowLoad();
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_TRUE(slowDone.load());
    EXPECT_EQ(KPQuickLook::slowLoads(), 9);
    for (int i = 1; i < KPQuickLook::kSlowLoadLimit; ++i)
        KPQuickLook::releaseSlowLoad();
    EXPECT_EQ(KPQuickLook::slowLoads(), 0);

    // Without the file key, the request is not counted as a slow-volume render.
    for (int i = 0; i < KPQuickLook::kSlowLoadLimit; ++i)
        KPQuickLook::acquireSlowLoad();
    slowDone = false;
    KPQuickLook::thumbnailImageCreate(
        thumbnailRequest(slowFile, QSizeF(64, 64), false), [&](const ThumbnailResult &) { slowDone = true; }, false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_TRUE(slowDone.load());
    for (int i = 0; i < KPQuickLook::kSlowLoadLimit; ++i)
        KPQuickLook::releaseSlowLoad();
    Mounts::setMountInfoPathForTesting(QString());
    XPFileUtils::rebuildSlowVolumes();
}

TEST_F(QueueTest, CacheNamesFollowTheFileVersion)
{
    const QString dir = KelsoTest::home() + QStringLiteral("/names");
    const QString pdf = dir + QStringLiteral("/a.pdf");
    KelsoTest::writeFile(pdf, QByteArray(52311, 'x'));
    setMtime(pdf, 1700000000);
    Defaults::standard().setBool(QStringLiteral("KPQuicklookBordersOther"), true);
    ASSERT_TRUE(ThumbnailRenderer::bordersOnOthers()); // followed through the settings observation
    EXPECT_EQ(SlowRenderCache::calculatePathForCache(pdf, QSizeF(172, 172)),
              SlowRenderCache::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000000_1_.png"));
    // Icon mode is off for large boxes unless borders on large thumbnails are wanted.
    EXPECT_EQ(SlowRenderCache::calculatePathForCache(pdf, QSizeF(512, 512)),
              SlowRenderCache::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000000_0_.png"));
    Defaults::standard().setBool(QStringLiteral("KPQuicklookBordersOther"), false);
    EXPECT_FALSE(ThumbnailRenderer::useIconMode(pdf, QSizeF(16, 16))); // all three border settings off
    EXPECT_EQ(SlowRenderCache::calculatePathForCache(pdf, QSizeF(172, 172)),
              SlowRenderCache::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000000_0_.png"));
    setMtime(pdf, 1700000500);
    EXPECT_EQ(SlowRenderCache::calculatePathForCache(pdf, QSizeF(172, 172)),
              SlowRenderCache::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000500_0_.png"));

    const QString longName =
        dir + QLatin1Char('/') + QString(97, QLatin1Char('n')) + QStringLiteral(".jpg"); // 101 characters
    KelsoTest::writeFile(longName, "x");
    EXPECT_TRUE(SlowRenderCache::calculatePathForCache(longName, QSizeF(172, 172)).isEmpty());
    const QString okName = dir + QLatin1Char('/') + QString(96, QLatin1Char('n')) + QStringLiteral(".jpg"); // 100
    KelsoTest::writeFile(okName, "x");
    EXPECT_FALSE(SlowRenderCache::calculatePathForCache(okName, QSizeF(172, 172)).isEmpty());
    EXPECT_TRUE(
        SlowRenderCache::calculatePathForCache(dir + QStringLiteral("/missing.pdf"), QSizeF(172, 172)).isEmpty());
    EXPECT_TRUE(SlowRenderCache::calculatePathForCache(QString(), QSizeF(172, 172)).isEmpty());
}

TEST_F(QueueTest, SlowRenderCacheServesTheVersionItWasMadeFor)
{
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), true);
    SlowRenderCache::setCacheAllowed(true);
    ASSERT_TRUE(SlowRenderCache::useCaching());
    const QString file = KelsoTest::home() + QStringLiteral("/cached/photo.png");
    QDir().mkpath(QFileInfo(file).absolutePath());
    QImage pic(800, 400, QImage::Format_RGB32);
    pic.fill(Qt::magenta);
    ASSERT_TRUE(pic.save(file));
    setMtime(file, 1700000000);
    EXPECT_TRUE(SlowRenderCache::cachedFilePath(file, QSizeF(172, 172)).isEmpty());
    SlowRenderCache::createCacheFile(file, QSize(172, 172));
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    const QString entry = SlowRenderCache::cachedFilePath(file, QSizeF(172, 172));
    ASSERT_FALSE(entry.isEmpty());
    // Rendered at the cache render size (1024 or 768), never enlarged.
    EXPECT_EQ(SlowRenderCache::cacheRenderSize(), 1024);
    EXPECT_EQ(QImage(entry).size(), QSize(800, 400));
    ThumbnailResult request;
    const QImage img =
        ThumbnailRenderer::kpThumbnailImageCreateSync(thumbnailRequest(file, QSizeF(172, 172)), &request);
    EXPECT_EQ(request.renderPath, QStringLiteral("kelso-cache"));
    EXPECT_EQ(img.size(), QSize(172, 86));

    // A new version of the file does not use the old entry.
    setMtime(file, 1700000900);
    EXPECT_TRUE(SlowRenderCache::cachedFilePath(file, QSizeF(172, 172)).isEmpty());
    request = {};
    ThumbnailRenderer::kpThumbnailImageCreateSync(thumbnailRequest(file, QSizeF(172, 172)), &request);
    EXPECT_NE(request.renderPath, QStringLiteral("kelso-cache"));
    EXPECT_TRUE(QFileInfo::exists(entry)); // the stale entry waits for the clean-up

    // The cache folder never caches its own files.
    const int before = KPQuickLook::totalRequests();
    SlowRenderCache::createCacheFile(entry, QSize(172, 172));
    EXPECT_EQ(KPQuickLook::totalRequests(), before);
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), false);
    ASSERT_TRUE(KelsoTest::waitFor([] { return KPQuickLook::totalRequests() == 0; }, 30000));
}

TEST_F(QueueTest, CleanUpKeepsTheThousandMostRecentlyUsed)
{
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), true);
    SlowRenderCache::setCacheAllowed(true);
    const QString folder = SlowRenderCache::cacheFolder();
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    auto fill = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const QString f = folder + QStringLiteral("f%1.jpg_xxUc_1_1_0_.png").arg(i, 4, 10, QLatin1Char('0'));
            QFile file(f);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.close();
            setMtime(f, 1600000000 + i); // higher number: used more recently
        }
    };
    auto count = [&] {
        int n = 0;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++n;
        }
        return n;
    };
    fill(1100);
    SlowRenderCache::cleanCache();
    EXPECT_EQ(count(), 1100); // up to 1100 tolerated
    fill(1101);
    SlowRenderCache::cleanCache();
    EXPECT_EQ(count(), 1000);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("f0100.jpg_xxUc_1_1_0_.png")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("f0101.jpg_xxUc_1_1_0_.png")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("f1100.jpg_xxUc_1_1_0_.png")));

    // Switching the cache setting off empties the folder at once (off the main thread).
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), false);
    EXPECT_FALSE(SlowRenderCache::useCaching());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return count() == 0; }, 30000));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}
