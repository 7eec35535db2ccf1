// How an item asks for its cell picture: through the thumbnail queue its owner handed in, for a
// 172 × 172 box at high priority, keyed by its path, and taken on the main thread.
#include "fileops/XPFileUtils.h"
#include "platform/Mounts.h"
#include "recent/KLItem.h"
#include "recent/KLItemServices.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"
#include "thumbs/ThumbnailQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using KelsoTest::home;

namespace {

// Records what it is asked; answers at once on a thread of its own when told to.
class FakeQueue : public ThumbnailQueue
{
public:
    struct Asked {
        ThumbnailRequest request;
        bool callMainThread = false;
        ThumbnailCallback done;
    };

    bool busy() const override { return m_busy.load(); }
    void thumbnailImageCreate(const ThumbnailRequest &request, ThumbnailCallback done, bool callMainThread) override
    {
        std::lock_guard lock(m_mutex);
        m_asked.append({request, callMainThread, std::move(done)});
    }

    void setBusy(bool busy) { m_busy = busy; }
    QList<Asked> asked()
    {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }
    // Delivers `picture` for the last request from a worker thread, as a queue that ignores the
    // requested thread would; answers whether the item already had the picture when the
    // callback returned there.
    void answerFromWorker(const QImage &picture, const std::function<bool()> &itemHasIt, bool *hadItOnWorker)
    {
        const Asked last = asked().constLast();
        std::thread worker([&] {
            ThumbnailResult result;
            result.request = last.request;
            result.image = std::make_shared<KPCGImage>(picture);
            last.done(result);
            *hadItOnWorker = itemHasIt();
        });
        worker.join();
    }

private:
    std::mutex m_mutex;
    QList<Asked> m_asked;
    std::atomic<bool> m_busy{false};
};

QString freshFile(const QString &name)
{
    const QString path = home() + QStringLiteral("/item-thumbs/") + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage pic(300, 200, QImage::Format_RGB32);
    pic.fill(Qt::darkGreen);
    EXPECT_TRUE(pic.save(path));
    return path;
}

struct Fixture : ::testing::Test {
    FakeQueue queue;
    KLItemServicesPtr services = std::make_shared<KLItemServices>();
    void SetUp() override { services->thumbnails = &queue; }
};

} // namespace

using ItemThumbnails = Fixture;

TEST_F(ItemThumbnails, AskForA172BoxAtHighPriorityKeyedByThePath)
{
    const QString path = freshFile(QStringLiteral("photo.png"));
    const KLItemPtr item = KLItem::create(path);
    KLItem::waitForBackgroundUpdates();
    item->setServices(services);
    EXPECT_TRUE(item->imageRepresentation().isNull()); // nothing until it arrives
    const QList<FakeQueue::Asked> asked = queue.asked();
    ASSERT_EQ(asked.size(), 1);
    const ThumbnailRequest &r = asked.first().request;
    EXPECT_EQ(r.maxSize, QSizeF(172, 172));
    EXPECT_TRUE(r.highPriority);
    EXPECT_EQ(r.path, path);
    EXPECT_EQ(r.fileToRender, path);
    EXPECT_EQ(r.requester, item.get());
    EXPECT_TRUE(asked.first().callMainThread);
}

TEST_F(ItemThumbnails, APictureFromAWorkerThreadReachesTheItemOnTheMainThread)
{
    const KLItemPtr item = KLItem::create(freshFile(QStringLiteral("worker.png")));
    KLItem::waitForBackgroundUpdates();
    item->setServices(services);
    item->imageRepresentation();
    ASSERT_EQ(queue.asked().size(), 1);
    QImage picture(172, 115, QImage::Format_RGB32);
    picture.fill(Qt::red);
    bool hadItOnWorker = true;
    queue.answerFromWorker(
        picture, [&] { return !item->cachedImage().isNull(); }, &hadItOnWorker);
    EXPECT_FALSE(hadItOnWorker) << "the picture was taken on the worker thread";
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !item->cachedImage().isNull(); }));
    EXPECT_EQ(item->cachedImage().size(), QSize(172, 115));
    EXPECT_EQ(item->imageRepresentation().size(), QSize(172, 115));
    EXPECT_EQ(queue.asked().size(), 1); // a cached picture asks nothing more

    // An empty picture (every way failed) keeps what the item showed.
    ThumbnailResult empty;
    empty.image = std::make_shared<KPCGImage>();
    queue.asked().constLast().done(empty);
    QCoreApplication::processEvents();
    EXPECT_EQ(item->cachedImage().size(), QSize(172, 115));
}

TEST_F(ItemThumbnails, ABusyQueueOrNoQueueIsNotAsked)
{
    const KLItemPtr item = KLItem::create(freshFile(QStringLiteral("busy.png")));
    KLItem::waitForBackgroundUpdates();
    item->imageRepresentation(); // no services yet
    item->setServices(services);
    queue.setBusy(true);
    item->imageRepresentation();
    item->reqestImage();
    EXPECT_TRUE(queue.asked().isEmpty());
    queue.setBusy(false); // the next draw asks
    item->imageRepresentation();
    EXPECT_EQ(queue.asked().size(), 1);
}

TEST_F(ItemThumbnails, StacksHandTheirServicesToTheirSubItems)
{
    const KLItemPtr stack = KLItem::create(home() + QStringLiteral("/item-thumbs"), false);
    const KLItemPtr early = KLItem::create(freshFile(QStringLiteral("early.png")));
    stack->addSubItem(early);
    EXPECT_EQ(early->services(), nullptr);
    stack->setServices(services);
    EXPECT_EQ(early->services(), services);
    const KLItemPtr late = KLItem::create(freshFile(QStringLiteral("late.png")));
    stack->addSubItem(late);
    EXPECT_EQ(late->services(), services);
    // A sub-item with services of its own keeps them.
    auto own = std::make_shared<KLItemServices>();
    const KLItemPtr owned = KLItem::create(freshFile(QStringLiteral("owned.png")));
    owned->setServices(own);
    stack->addSubItem(owned);
    EXPECT_EQ(owned->services(), own);
    // A copy asks the same program.
    EXPECT_EQ(late->copyItem()->services(), services);
}

TEST(ItemThumbnailsWithTheQueue, TheItemGetsA172PicturePerSide)
{
    KPQuickLook::initializeGlobals();
    auto services = std::make_shared<KLItemServices>();
    services->thumbnails = &KPQuickLook::sharedQueue();
    const KLItemPtr item = KLItem::create(freshFile(QStringLiteral("real.png")));
    KLItem::waitForBackgroundUpdates();
    item->setServices(services);
    item->imageRepresentation();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !item->cachedImage().isNull(); }, 30000));
    EXPECT_EQ(item->cachedImage().width(), 172);
    EXPECT_NEAR(item->cachedImage().height(), 115, 1);
}

// Renders of files on slow volumes take a slot of the limit of ten, item requests too.
TEST(ItemThumbnailsWithTheQueue, ItemRequestsOnSlowVolumesWaitForASlot)
{
    KPQuickLook::initializeGlobals();
    const QString slowFolder = home() + QStringLiteral("/item-thumbs-nas");
    const QString table = home() + QStringLiteral("/item-thumbs-mountinfo");
    KelsoTest::writeFile(table, "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                                "40 22 0:51 / " +
                                    QFile::encodeName(slowFolder) + " rw,relatime shared:9 - cifs //nas/share rw\n");
    KelsoTest::writeFile(slowFolder + QStringLiteral("/clip.mkv"), "x");
    Mounts::setMountInfoPathForTesting(table);
    XPFileUtils::rebuildSlowVolumes();
    ASSERT_TRUE(XPFileUtils::pathIsOnSlowVolume(slowFolder + QStringLiteral("/clip.mkv")));

    auto services = std::make_shared<KLItemServices>();
    services->thumbnails = &KPQuickLook::sharedQueue();
    const KLItemPtr item = KLItem::create(slowFolder + QStringLiteral("/clip.mkv"));
    KLItem::waitForBackgroundUpdates();
    item->setServices(services);
    for (int i = 0; i < KPQuickLook::kSlowLoadLimit; ++i)
        KPQuickLook::acquireSlowLoad();
    item->imageRepresentation();
    EXPECT_FALSE(KPQuickLook::waitUntilAllOperationsAreFinished(300)) << "the render did not wait for a slot";
    EXPECT_EQ(KPQuickLook::totalRequests(), 1);
    KPQuickLook::releaseSlowLoad();
    EXPECT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    for (int i = 1; i < KPQuickLook::kSlowLoadLimit; ++i)
        KPQuickLook::releaseSlowLoad();
    Mounts::setMountInfoPathForTesting(QString());
    XPFileUtils::rebuildSlowVolumes();
}
