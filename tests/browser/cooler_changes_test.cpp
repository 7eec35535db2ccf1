// Changes of the Cooler's list reach the disk a moment later (at most one write a second), and
// a full Cooler never loses a kept item without the user saying so.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserView.h"
#include "cooler/KLCoolerStore.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QStringList pathsOf(const QList<KLItemPtr> &items)
{
    QStringList out;
    for (const auto &i : items)
        out.append(i->lastKnownPath());
    return out;
}

QStringList stored(const QString &store)
{
    KLCoolerStore::waitForBackgroundWork();
    return pathsOf(KLCoolerStore::read(store));
}

class CoolerChangesTest : public ::testing::Test
{
protected:
    void SetUp() override { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus"); }
    static QString storeNamed(const QString &name)
    {
        const QString path = KelsoTest::home() + QStringLiteral("/stores/") + name + QStringLiteral(".plist");
        QFile::remove(path);
        return path;
    }
};

TEST_F(CoolerChangesTest, EveryChangeIsWrittenSoonAfterAndABurstCostsOneWrite)
{
    constexpr int kDelay = 300;
    const QString store = storeNamed(QStringLiteral("soon"));
    KLCoolerImageBrowserDelegate pane(store);
    pane.setSaveDelayForTesting(kDelay);
    QSignalSpy writes(&pane, &KLCoolerImageBrowserDelegate::stateWriteStarted);
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("soon"), 4);

    // A burst: three adds and a reorder. Nothing is written on the spot (the main thread never
    // waits for the disk), then one write carries the whole burst.
    QElapsedTimer clock;
    clock.start();
    pane.addPaths({files[0], files[1]}, 0);
    pane.addPath(files[2], 0);
    pane.imageBrowserMoveItemsAtIndexes({0}, 3);
    EXPECT_TRUE(pane.savePending());
    EXPECT_FALSE(QFile::exists(store));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return writes.size() >= 1; }, 5000));
    EXPECT_GE(clock.elapsed(), kDelay - 20);
    QTest::qWait(kDelay + 200);
    EXPECT_EQ(writes.size(), 1) << "one write for the whole burst";
    EXPECT_EQ(stored(store), pane.currentItemPaths());
    EXPECT_EQ(stored(store), (QStringList{files[0], files[1], files[2]}));

    // A removal is a change too; so is a second one right after it, in the same write.
    clock.restart();
    pane.imageBrowserRemoveKLItems({pane.itemAtIndex(1)}, false);
    pane.addPath(files[3], 1);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return writes.size() >= 2; }, 5000));
    EXPECT_GE(clock.elapsed(), kDelay - 20) << "at most one write per delay";
    EXPECT_EQ(stored(store), (QStringList{files[0], files[3], files[2]}));

    // What changes nothing schedules nothing.
    pane.addPath(files[0], 0);
    pane.imageBrowserRemoveKLItems({KLItem::create(files[1])}, false);
    EXPECT_FALSE(pane.savePending());
}

TEST_F(CoolerChangesTest, QuitWritesAtOnceAndAPendingWriteNeverPutsAnOlderListBack)
{
    const QString store = storeNamed(QStringLiteral("quit"));
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("quit"), 3);
    {
        KLCoolerImageBrowserDelegate pane(store);
        pane.setSaveDelayForTesting(200);
        pane.addPaths(files, 0);
        ASSERT_TRUE(pane.savePending());
        pane.applicationWillTerminate();
        EXPECT_FALSE(pane.savePending());
        EXPECT_EQ(stored(store), files);
        QTest::qWait(400);
    }
    KLCoolerImageBrowserDelegate again(store);
    EXPECT_EQ(again.currentItemPaths(), files);
}

TEST_F(CoolerChangesTest, ScriptsAndAutomaticAddsTakeOnlyWhatFits)
{
    KLCoolerImageBrowserDelegate pane(storeNamed(QStringLiteral("fits")));
    const QStringList kept = KelsoTest::makeFiles(QStringLiteral("fits-kept"), 97);
    pane.addPaths(kept, 0);
    const QStringList fresh = KelsoTest::makeFiles(QStringLiteral("fits-new"), 5);
    QList<KLItemPtr> items;
    for (const QString &p : fresh + QStringList{kept[10]})
        items.append(KLItem::create(p));
    const QStringList refused = pane.addItemsThatFit(items, 0);
    EXPECT_EQ(refused, fresh.mid(3));
    EXPECT_EQ(pane.numberOfItems(), 100);
    EXPECT_EQ(pane.currentItemPaths().mid(0, 4), (fresh.mid(0, 3) + QStringList{kept[10]}));
    for (const QString &p : kept)
        EXPECT_TRUE(pane.hasItemAtPath(p)) << qPrintable(p);
    EXPECT_EQ(pane.addPathsThatFit(fresh, 0), fresh.mid(3));
    EXPECT_EQ(pane.numberOfItems(), 100);
}

TEST_F(CoolerChangesTest, ADropOnAFullCoolerAsksBeforePushingItemsOut)
{
    KLServices services;
    KLCoolerImageBrowserDelegate pane(storeNamed(QStringLiteral("drop")));
    pane.setServices(&services);
    KLImageBrowserView view;
    pane.setImageBrowser(&view);
    const QStringList kept = KelsoTest::makeFiles(QStringLiteral("drop-kept"), 99);
    pane.addPaths(kept, 0);
    const QStringList dropped = KelsoTest::makeFiles(QStringLiteral("drop-new"), 3);

    QList<KLPushOutQuestion> asked;
    bool answer = false;
    services.pushOutPresenter = [&](const KLPushOutQuestion &q) {
        asked.append(q);
        return answer;
    };
    // Declined: nothing changes. The question comes once the drop is over.
    pane.performDrop(dropped + QStringList{kept[0]}, 2);
    EXPECT_EQ(asked.size(), 0);
    EXPECT_EQ(pane.currentItemPaths(), kept);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return asked.size() == 1; }, 5000));
    QApplication::processEvents();
    EXPECT_EQ(asked[0].adding, 3);
    EXPECT_EQ(asked[0].pushedOut, 2);
    EXPECT_EQ(asked[0].message, QStringLiteral("Push the last 2 items out of the Cooler?"));
    EXPECT_TRUE(asked[0].informativeText.contains(QStringLiteral("at most 100 items")));
    EXPECT_EQ(pane.currentItemPaths(), kept);

    // Agreed: the drop goes in at its place and the last two leave.
    answer = true;
    pane.performDrop(dropped, 2);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return asked.size() == 2; }, 5000));
    EXPECT_EQ(pane.numberOfItems(), 100);
    EXPECT_EQ(pane.currentItemPaths().mid(2, 3), dropped);
    EXPECT_FALSE(pane.hasItemAtPath(kept[97]));
    EXPECT_FALSE(pane.hasItemAtPath(kept[98]));

    // A drop that fits, or that only moves kept items, asks nothing.
    pane.performDrop({kept[50], dropped[0]}, 0);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(pane.currentItemPaths().mid(0, 2), (QStringList{kept[50], dropped[0]}));
    EXPECT_EQ(KLCoolerImageBrowserDelegate::pushOutQuestion(1, 1).message,
              QStringLiteral("Push the last item out of the Cooler?"));
}

} // namespace

TEST_F(CoolerChangesTest, ItemsReadDroppedOrAddedAskTheCoolersServices)
{
    const QString store = storeNamed(QStringLiteral("services"));
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("services"), 4);
    {
        KLCoolerImageBrowserDelegate pane(store);
        pane.addPaths(files.mid(0, 2), 0);
        pane.applicationWillTerminate();
    }
    KLCoolerImageBrowserDelegate pane(store);
    ASSERT_EQ(pane.numberOfItems(), 2);
    EXPECT_EQ(pane.items().first()->services(), nullptr);
    auto services = std::make_shared<KLItemServices>();
    pane.setItemServices(services); // the items read from the store
    pane.addPaths({files[2]}, 0);   // a drop
    pane.addItemsThatFit({KLItem::create(files[3])}, 0);
    ASSERT_EQ(pane.numberOfItems(), 4);
    for (const KLItemPtr &item : pane.items())
        EXPECT_EQ(item->services(), services) << item->lastKnownPath().toStdString();
}
