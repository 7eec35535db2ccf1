// What the collector tells the window: a signal for each accepted record (none for a record it
// drops), and removed events put back in their places by date (the window's Undo).
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "recent/KLRecentFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <atomic>
#include <gtest/gtest.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

class CollectorNotifyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = home() + "/collector-notify/" + QString::number(++s_counter);
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        defaults = std::make_unique<Defaults>(root + "/settings.plist");
        KLSettings::setupDefaults(*defaults);
        KLRecentFiles::Options o;
        o.defaults = defaults.get();
        o.storePath = root + "/store/recentItems.plist";
        o.useDefaultStream = false;
        o.startStream = false;
        o.startOpenedFilesQuery = false;
        o.primeListingCache = false;
        o.clock = [this] { return clock.load(); };
        o.currentEventID = [this] { return currentId.load(); };
        collector = std::make_unique<KLRecentFiles>(o);
    }
    void TearDown() override
    {
        collector.reset();
        defaults.reset();
    }
    KLRecentEvent event(const QString &dir, const QStringList &names, KLTime date)
    {
        KLRecentEvent e;
        e.path = dir;
        e.date = date;
        for (const QString &n : names)
            e.files.append(KLItem::create(dir + "/" + n));
        return e;
    }

    static inline int s_counter = 0;
    QString root;
    std::atomic<double> clock{KLTimeUtil::now()};
    std::atomic<quint64> currentId{5000};
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<KLRecentFiles> collector;
};

TEST_F(CollectorNotifyTest, AnAcceptedRecordIsAnnouncedADroppedOneIsNot)
{
    QSignalSpy spy(collector.get(), &KLRecentFiles::eventRecorded);
    const QString docs = root + "/Documents";
    writeFile(docs + "/letter.txt");
    collector->fileSystemEvent(FileSystemEvent(++currentId, docs, 0), nullptr);
    ASSERT_EQ(collector->eventCount(), 1);
    EXPECT_EQ(spy.count(), 1);

    // A hidden folder's record is dropped: nothing to announce.
    const QString hidden = root + "/.cache";
    writeFile(hidden + "/blob.bin");
    clock = clock.load() + 60;
    collector->fileSystemEvent(FileSystemEvent(++currentId, hidden, 0), nullptr);
    EXPECT_EQ(collector->eventCount(), 1);
    EXPECT_EQ(spy.count(), 1);

    // An opened file is a record too.
    const QString opened = root + "/Desktop/plan.txt";
    writeFile(opened);
    collector->addPathsToEvents({opened});
    EXPECT_EQ(collector->eventCount(), 2);
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(CollectorNotifyTest, RestoredEventsGoBackInDateOrder)
{
    const KLTime t = clock.load();
    const QString a = root + "/A", b = root + "/B", c = root + "/C";
    collector->setPastEventsForTesting(
        {event(c, {"c.txt"}, t), event(b, {"b1.txt", "b2.txt"}, t - 10), event(a, {"a.txt"}, t - 20)});
    const QList<KLRecentEvent> before = collector->pastEvents();
    collector->removeItems({KLItem::create(b + "/b1.txt")});
    ASSERT_EQ(collector->pastEvents().at(1).files.size(), 1);

    // The removed file comes back with its event's date: between C and A, not at the front.
    collector->restoreEvents({event(b, {"b1.txt"}, t - 10)});
    const QList<KLRecentEvent> after = collector->pastEvents();
    ASSERT_EQ(after.size(), 4);
    EXPECT_EQ(after.at(0).path, c);
    EXPECT_EQ(after.at(1).path, b);
    EXPECT_EQ(after.at(2).path, b);
    EXPECT_EQ(after.at(3).path, a);
    QStringList bFiles;
    for (int i : {1, 2})
        for (const KLItemPtr &f : after.at(i).files)
            bFiles.append(f->lastKnownPath());
    bFiles.sort();
    EXPECT_EQ(bFiles, (QStringList{b + "/b1.txt", b + "/b2.txt"}));
    EXPECT_EQ(before.size(), 3);

    // Empty events are not put back; the list stays capped.
    collector->restoreEvents({KLRecentEvent{{}, t, a}});
    EXPECT_EQ(collector->eventCount(), 4);
    QList<KLRecentEvent> many;
    for (int i = 0; i < KLRecentFiles::kMaxEvents + 20; ++i)
        many.append(event(root + "/M" + QString::number(i), {"m.txt"}, t - 100 - i));
    collector->restoreEvents(many);
    EXPECT_EQ(collector->eventCount(), KLRecentFiles::kMaxEvents + 1);
    EXPECT_EQ(collector->pastEvents().first().path, c) << "the newest stays first";
}

} // namespace
