// The request queue, the deliveries, the slow-render cache and the settings it follows.
#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"

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
#include <sys/time.h>

namespace {

class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap> received;
    QList<QThread *> threads;
    Q_INVOKABLE void imageReady(const QVariantMap &request)
    {
        received.append(request);
        threads.append(QThread::currentThread());
    }
};

// Records the order in which worker-thread deliveries arrive.
struct Order {
    std::mutex mutex;
    QStringList names;
    KPQuickLook::Callback record(const QString &name)
    {
        return [this, name](const KPCGImageRef &) {
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
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:a"), QSizeF(172, 172), {}, order.record(QStringLiteral("a")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:a"), QSizeF(172, 172), {}, order.record(QStringLiteral("a2")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 1);
    // A different box, thread flag or option count is a different request.
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:a"), QSizeF(64, 64), {}, order.record(QStringLiteral("b")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:a"), QSizeF(172, 172), {}, order.record(QStringLiteral("c")), true);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:a"), QSizeF(172, 172), {{QStringLiteral("x"), 1}},
                                      order.record(QStringLiteral("d")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 4);
    // A box of 0 × 0 means 1280 × 1280.
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:z"), QSizeF(0, 0), {}, order.record(QStringLiteral("z")), false);
    EXPECT_TRUE(KPQuickLook::isAlreadyQueued(KPQuickLook(QStringLiteral("pal_:z"), QSizeF(1280, 1280), {}, false, {})));

    for (int i = 0; i < 7; ++i)
        KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:n%1").arg(i), QSizeF(172, 172), {}, order.record(QString()), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 12);
    EXPECT_FALSE(KPQuickLook::busy());
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:n13"), QSizeF(172, 172), {}, order.record(QString()), false);
    EXPECT_TRUE(KPQuickLook::busy());

    KPQuickLook::setSuspended(false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    // "c" is delivered on the main thread: let the event loop run it.
    ASSERT_TRUE(KelsoTest::waitFor([&] { return order.get().contains(QStringLiteral("c")); }, 30000));
    EXPECT_FALSE(order.get().contains(QStringLiteral("a2")));
    EXPECT_TRUE(order.get().contains(QStringLiteral("a")));
    EXPECT_EQ(KPQuickLook::totalRequests(), 0);
    // Once done, the same request may be made again.
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:a"), QSizeF(172, 172), {}, order.record(QStringLiteral("again")), false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_TRUE(order.get().contains(QStringLiteral("again")));
}

TEST_F(QueueTest, HighPriorityGoesFirstAndCancelledRequestsNeverDeliver)
{
    KPQuickLook::setMaxThreadCount(1);
    KPQuickLook::setSuspended(true);
    Order order;
    const QVariantMap high{{KPQuickLook::kHighPriority, true}};
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:1"), QSizeF(172, 172), {}, order.record(QStringLiteral("n1")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:2"), QSizeF(172, 172), high, order.record(QStringLiteral("h2")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:3"), QSizeF(172, 172), {}, order.record(QStringLiteral("n3")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:4"), QSizeF(172, 172), high, order.record(QStringLiteral("h4")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:gone"), QSizeF(172, 172), high, order.record(QStringLiteral("gone")), false);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:gone"), QSizeF(64, 64), {}, order.record(QStringLiteral("gone2")), false);
    EXPECT_EQ(KPQuickLook::totalRequests(), 6);
    KPQuickLook::removeItemWithPath(QStringLiteral("pal_:gone"));
    EXPECT_EQ(KPQuickLook::totalRequests(), 4);
    KPQuickLook::setSuspended(false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_EQ(order.get(), (QStringList{QStringLiteral("h2"), QStringLiteral("h4"), QStringLiteral("n1"), QStringLiteral("n3")}));

    KPQuickLook::setSuspended(true);
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:x"), QSizeF(172, 172), {}, order.record(QStringLiteral("x")), false);
    KPQuickLook::removeAllRequests();
    EXPECT_EQ(KPQuickLook::totalRequests(), 0);
    KPQuickLook::setSuspended(false);
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_FALSE(order.get().contains(QStringLiteral("x")));
}

TEST_F(QueueTest, DeliversToTheMainThreadInBothForms)
{
    const QString file = KelsoTest::home() + QStringLiteral("/deliver/pic.png");
    QDir().mkpath(QFileInfo(file).absolutePath());
    QImage pic(300, 200, QImage::Format_RGB32);
    pic.fill(Qt::darkCyan);
    ASSERT_TRUE(pic.save(file));

    Receiver receiver;
    KPQuickLook::thumbnailImageCreate(file, QSizeF(172, 172), {{KPQuickLook::kFileToRender, file}}, &receiver, "imageReady", true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !receiver.received.isEmpty(); }, 30000));
    const QVariantMap request = receiver.received.first();
    EXPECT_EQ(receiver.threads.first(), QCoreApplication::instance()->thread());
    const KPCGImageRef image = request.value(KPQuickLook::kImage).value<KPCGImageRef>();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().width(), 172);
    EXPECT_NEAR(image->size().height(), 115, 1);
    EXPECT_GE(request.value(KPQuickLook::kSecondsToRender).toDouble(), 0.0);
    EXPECT_TRUE(request.contains(KPQuickLook::kSecondsToRender));
    EXPECT_EQ(request.value(KPQuickLook::kFileToRender).toString(), file); // the caller's options come back

    KPCGImageRef got;
    QThread *thread = nullptr;
    KPQuickLook::thumbnailImageCreate(file, QSizeF(64, 64), {}, [&](const KPCGImageRef &img) {
        got = img;
        thread = QThread::currentThread();
    }, true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return got != nullptr; }, 30000));
    EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    EXPECT_EQ(got->size().width(), 64);
    EXPECT_NEAR(got->size().height(), 43, 1);
    EXPECT_GT(got->lastUsedTime(), -1.0);

    // A request that cannot give anything still delivers, with an empty wrapper.
    KPCGImageRef empty;
    bool delivered = false;
    KPQuickLook::thumbnailImageCreate(QStringLiteral("pal_:nothing"), QSizeF(64, 64), {}, [&](const KPCGImageRef &img) {
        empty = img;
        delivered = true;
    }, true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return delivered; }, 30000));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isNull());

    // A destination file gets the picture too, written by a low-priority cache writer.
    const QString dest = KelsoTest::home() + QStringLiteral("/deliver/copy.png");
    bool done = false;
    KPQuickLook::thumbnailImageCreate(file, QSizeF(100, 100), {{KPQuickLook::kDestinationFile, dest}},
                                      [&](const KPCGImageRef &) { done = true; }, true);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return done && QFileInfo::exists(dest); }, 30000));
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    EXPECT_EQ(QImage(dest).width(), 100);
    EXPECT_NEAR(QImage(dest).height(), 67, 1);
}

TEST_F(QueueTest, CacheNamesFollowTheFileVersion)
{
    const QString dir = KelsoTest::home() + QStringLiteral("/names");
    const QString pdf = dir + QStringLiteral("/a.pdf");
    KelsoTest::writeFile(pdf, QByteArray(52311, 'x'));
    setMtime(pdf, 1700000000);
    Defaults::standard().setBool(QStringLiteral("KPQuicklookBordersOther"), true);
    ASSERT_TRUE(KPQuickLook::bordersOnOthers()); // followed through the settings observation
    EXPECT_EQ(KPQuickLook::calculatePathForCache(pdf, QSizeF(172, 172)),
              KPQuickLook::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000000_1_.png"));
    // Icon mode is off for large boxes unless borders on large thumbnails are wanted.
    EXPECT_EQ(KPQuickLook::calculatePathForCache(pdf, QSizeF(512, 512)),
              KPQuickLook::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000000_0_.png"));
    Defaults::standard().setBool(QStringLiteral("KPQuicklookBordersOther"), false);
    EXPECT_FALSE(KPQuickLook::useIconMode(pdf, QSizeF(16, 16))); // all three border settings off
    EXPECT_EQ(KPQuickLook::calculatePathForCache(pdf, QSizeF(172, 172)),
              KPQuickLook::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000000_0_.png"));
    setMtime(pdf, 1700000500);
    EXPECT_EQ(KPQuickLook::calculatePathForCache(pdf, QSizeF(172, 172)),
              KPQuickLook::cacheFolder() + QStringLiteral("a.pdf_xxUc_52311_1700000500_0_.png"));

    const QString longName = dir + QLatin1Char('/') + QString(97, QLatin1Char('n')) + QStringLiteral(".jpg"); // 101 characters
    KelsoTest::writeFile(longName, "x");
    EXPECT_TRUE(KPQuickLook::calculatePathForCache(longName, QSizeF(172, 172)).isEmpty());
    const QString okName = dir + QLatin1Char('/') + QString(96, QLatin1Char('n')) + QStringLiteral(".jpg"); // 100
    KelsoTest::writeFile(okName, "x");
    EXPECT_FALSE(KPQuickLook::calculatePathForCache(okName, QSizeF(172, 172)).isEmpty());
    EXPECT_TRUE(KPQuickLook::calculatePathForCache(dir + QStringLiteral("/missing.pdf"), QSizeF(172, 172)).isEmpty());
    EXPECT_TRUE(KPQuickLook::calculatePathForCache(QString(), QSizeF(172, 172)).isEmpty());
}

TEST_F(QueueTest, SlowRenderCacheServesTheVersionItWasMadeFor)
{
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), true);
    KPQuickLook::setCacheAllowed(true);
    ASSERT_TRUE(KPQuickLook::useCaching());
    const QString file = KelsoTest::home() + QStringLiteral("/cached/photo.png");
    QDir().mkpath(QFileInfo(file).absolutePath());
    QImage pic(800, 400, QImage::Format_RGB32);
    pic.fill(Qt::magenta);
    ASSERT_TRUE(pic.save(file));
    setMtime(file, 1700000000);
    EXPECT_TRUE(KPQuickLook::cachedFilePath(file, QSizeF(172, 172)).isEmpty());
    KPQuickLook::createCacheFile(file, QSize(172, 172));
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    const QString entry = KPQuickLook::cachedFilePath(file, QSizeF(172, 172));
    ASSERT_FALSE(entry.isEmpty());
    // Rendered at the cache render size (1024 or 768), never enlarged.
    EXPECT_EQ(KPQuickLook::cacheRenderSize(), 1024);
    EXPECT_EQ(QImage(entry).size(), QSize(800, 400));
    QVariantMap request;
    const QImage img = KPQuickLook::kpThumbnailImageCreateSync(file, &request, QSizeF(172, 172));
    EXPECT_EQ(request.value(KPQuickLook::kRenderPath).toString(), QStringLiteral("kelso-cache"));
    EXPECT_EQ(img.size(), QSize(172, 86));

    // A new version of the file does not use the old entry.
    setMtime(file, 1700000900);
    EXPECT_TRUE(KPQuickLook::cachedFilePath(file, QSizeF(172, 172)).isEmpty());
    request.clear();
    KPQuickLook::kpThumbnailImageCreateSync(file, &request, QSizeF(172, 172));
    EXPECT_NE(request.value(KPQuickLook::kRenderPath).toString(), QStringLiteral("kelso-cache"));
    EXPECT_TRUE(QFileInfo::exists(entry)); // the stale entry waits for the clean-up

    // The cache folder never caches its own files.
    const int before = KPQuickLook::totalRequests();
    KPQuickLook::createCacheFile(entry, QSize(172, 172));
    EXPECT_EQ(KPQuickLook::totalRequests(), before);
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), false);
    ASSERT_TRUE(KelsoTest::waitFor([] { return KPQuickLook::totalRequests() == 0; }, 30000));
}

TEST_F(QueueTest, CleanUpKeepsTheThousandMostRecentlyUsed)
{
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), true);
    KPQuickLook::setCacheAllowed(true);
    const QString folder = KPQuickLook::cacheFolder();
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
    KPQuickLook::cleanCache();
    EXPECT_EQ(count(), 1100); // up to 1100 tolerated
    fill(1101);
    KPQuickLook::cleanCache();
    EXPECT_EQ(count(), 1000);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("f0100.jpg_xxUc_1_1_0_.png")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("f0101.jpg_xxUc_1_1_0_.png")));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("f1100.jpg_xxUc_1_1_0_.png")));

    // Switching the cache setting off empties the folder at once (off the main thread).
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), false);
    EXPECT_FALSE(KPQuickLook::useCaching());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return count() == 0; }, 30000));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

#include "test_thumbs_queue.moc"
