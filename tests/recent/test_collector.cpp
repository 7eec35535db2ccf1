// The collector: ranking thresholds and stacks, duplicate events, removal, scan-back windows
// for live and replayed records, the storm guard, the listing cache, folders that vanish
// mid-scan, names that are not UTF-8, the store across a restart and when corrupt, lock
// order under concurrent record handling and ranking, and the command-line tool.
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "prefs/KLSettings.h"
#include "recent/KLRecentCommand.h"
#include "recent/KLRecentFiles.h"
#include "support/TestSupport.h"
#include "util/Localized.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

void setMtime(const QString &path, KLTime t)
{
    const double unix = KLTimeUtil::toUnix(t);
    struct timeval tv[2];
    tv[0].tv_sec = tv[1].tv_sec = time_t(unix);
    tv[0].tv_usec = tv[1].tv_usec = 0;
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), tv), 0);
}

class CollectorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ++s_counter;
        root = home() + "/collector/" + QString::number(s_counter);
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        defaultsPath = root + "/settings.plist";
        storePath = root + "/store/recentItems.plist";
        clock = KLTimeUtil::now();
        currentId = 5000;
        openDefaults();
    }
    void TearDown() override
    {
        collector.reset();
        defaults.reset();
    }
    void openDefaults()
    {
        defaults = std::make_unique<Defaults>(defaultsPath);
        KLSettings::setupDefaults(*defaults);
    }
    KLRecentFiles::Options options()
    {
        KLRecentFiles::Options o;
        o.defaults = defaults.get();
        o.storePath = storePath;
        o.useDefaultStream = false;
        o.startStream = false;
        o.startOpenedFilesQuery = false;
        o.primeListingCache = false;
        o.clock = [this] { return clock.load(); };
        o.currentEventID = [this] { return currentId.load(); };
        return o;
    }
    void makeCollector() { collector = std::make_unique<KLRecentFiles>(options()); }
    // Files that exist, with their times set, as items with their facts known.
    QList<KLItemPtr> files(const QString &dir, int n, KLTime time, const QString &stem = "f")
    {
        QList<KLItemPtr> out;
        for (int i = 0; i < n; ++i) {
            const QString p = dir + "/" + stem + QString::number(i) + ".txt";
            writeFile(p);
            setMtime(p, time);
            KLItemPtr item = KLItem::create(p);
            item->calculateCache();
            out.append(item);
        }
        return out;
    }
    KLRecentEvent event(const QString &dir, const QList<KLItemPtr> &f, KLTime date)
    {
        KLRecentEvent e;
        e.path = dir;
        e.files = f;
        e.date = date;
        return e;
    }
    FileSystemEvent record(const QString &dir, quint64 id = 0)
    {
        return FileSystemEvent(id ? id : ++currentId, dir, 0);
    }

    static inline int s_counter = 0;
    QString root, defaultsPath, storePath;
    std::atomic<double> clock{0};
    std::atomic<quint64> currentId{0};
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<KLRecentFiles> collector;
};

const KLItemPtr *findPath(const QList<KLItemPtr> &items, const QString &path)
{
    for (const KLItemPtr &i : items) {
        if (i->lastKnownPath() == path)
            return &i;
    }
    return nullptr;
}

} // namespace

TEST_F(CollectorTest, BusyFolderThresholdsAreSixWithFewEventsAndFourOtherwise)
{
    makeCollector();
    const KLTime t = clock - 100;
    const QString a = root + "/A", b = root + "/B", c = root + "/C", d = root + "/D";
    // Two events: 6 files stay single, 7 make a stack.
    collector->setPastEventsForTesting({event(a, files(a, 6, t), t), event(b, files(b, 7, t - 10), t - 10)});
    QList<KLItemPtr> ranked = collector->recentFiles({});
    ASSERT_EQ(ranked.size(), 7);
    const KLItemPtr *stack = findPath(ranked, b);
    ASSERT_TRUE(stack);
    EXPECT_EQ((*stack)->stackCount(), 7);
    EXPECT_FALSE(findPath(ranked, a)) << "six files are listed singly";

    // Three or more events: 4 stay single, 5 make a stack.
    collector->setPastEventsForTesting(
        {event(c, files(c, 4, t), t), event(d, files(d, 5, t), t), event(a, files(a, 1, t, "g"), t)});
    ranked = collector->recentFiles({});
    EXPECT_FALSE(findPath(ranked, c));
    ASSERT_TRUE(findPath(ranked, d));
    EXPECT_EQ((*findPath(ranked, d))->stackCount(), 5);
    EXPECT_EQ(ranked.size(), 4 + 1 + 1);
}

TEST_F(CollectorTest, StacksAreDatedByTheMeanOfTheirFirstElevenFiles)
{
    EXPECT_DOUBLE_EQ(KLRecentFiles::moddateForMultipleFiles({}), -100000000.0);
    QList<KLItemPtr> items;
    for (int i = 0; i < 12; ++i) {
        KLItemPtr item = KLItem::create(root + "/m" + QString::number(i));
        item->setDate(i < 11 ? 1000.0 + i : 1e9);
        items.append(item);
    }
    EXPECT_DOUBLE_EQ(KLRecentFiles::moddateForMultipleFiles(items), 1005.0) << "the twelfth is ignored";
    EXPECT_DOUBLE_EQ(KLRecentFiles::moddateForMultipleFiles(items.mid(0, 2)), 1000.5);
}

TEST_F(CollectorTest, RankingSortsByTimeThenTitleAndCapsAtFifty)
{
    makeCollector();
    QList<KLRecentEvent> events;
    const KLTime t = clock - 1000;
    for (int i = 0; i < 60; ++i) {
        const QString dir = root + "/many/" + QString::number(i);
        events.append(event(dir, files(dir, 1, t - i), t - i));
    }
    collector->setPastEventsForTesting(events);
    const QList<KLItemPtr> ranked = collector->recentFiles({});
    ASSERT_EQ(ranked.size(), 50);
    for (int i = 1; i < ranked.size(); ++i)
        EXPECT_GE(ranked[i - 1]->timeOfFile(), ranked[i]->timeOfFile());

    // Equal times: the greater title first.
    const QString tie = root + "/tie";
    QList<KLItemPtr> tied = {KLItem::create(tie + "/alpha.txt"), KLItem::create(tie + "/omega.txt")};
    writeFile(tie + "/alpha.txt");
    writeFile(tie + "/omega.txt");
    for (const KLItemPtr &item : tied) {
        item->calculateCache();
        item->setDate(t);
    }
    collector->setPastEventsForTesting({event(tie, tied, t)});
    const QList<KLItemPtr> tieRanked = collector->recentFiles({});
    ASSERT_EQ(tieRanked.size(), 2);
    EXPECT_EQ(tieRanked[0]->imageTitle(), "omega.txt");
}

TEST_F(CollectorTest, ExcludedPathsAreNeverSingleButMayBeInAStack)
{
    makeCollector();
    const KLTime t = clock - 50;
    const QString a = root + "/A", busy = root + "/Busy";
    const QList<KLItemPtr> single = files(a, 2, t);
    const QList<KLItemPtr> many = files(busy, 8, t);
    collector->setPastEventsForTesting({event(a, single, t), event(busy, many, t)});
    const QSet<QString> excluded = {single[0]->lastKnownPath(), many[0]->lastKnownPath()};
    const QList<KLItemPtr> ranked = collector->recentFiles(excluded);
    EXPECT_FALSE(findPath(ranked, single[0]->lastKnownPath()));
    EXPECT_TRUE(findPath(ranked, single[1]->lastKnownPath()));
    ASSERT_TRUE(findPath(ranked, busy));
    EXPECT_EQ((*findPath(ranked, busy))->stackCount(), 8);
}

TEST_F(CollectorTest, RankingNeverChangesTheRecordedItems)
{
    makeCollector();
    const KLTime t = clock - 50;
    // A package recorded as a file, and a newer file inside the same folder tree.
    const QString pkg = root + "/Work/Book.pages";
    QDir().mkpath(pkg);
    KLItemPtr package = KLItem::create(pkg);
    package->calculateCache();
    const QList<KLItemPtr> inner = files(pkg, 1, t);
    collector->setPastEventsForTesting({event(pkg, inner, t), event(root + "/Work", {package}, t - 5)});
    const QList<KLItemPtr> ranked = collector->recentFiles({});
    ASSERT_TRUE(findPath(ranked, pkg));
    EXPECT_EQ((*findPath(ranked, pkg))->stackCount(), 1) << "the ranked copy holds the file inside";
    collector->recentFiles({});
    EXPECT_FALSE(package->isStack()) << "the stored item did not become a stack";
    EXPECT_DOUBLE_EQ(package->overrideDate(), 0.0);
}

TEST_F(CollectorTest, DuplicateEventsMoveToTheFrontAndTheListKeeps151)
{
    makeCollector();
    const QString a = root + "/A", b = root + "/B";
    const QList<KLItemPtr> fa = files(a, 2, clock - 10);
    collector->addEvent(fa, a);
    collector->addEvent(files(b, 1, clock - 10), b);
    // The same folder with equal files (new item objects) replaces the older event.
    collector->addEvent({KLItem::create(fa[0]->lastKnownPath()), KLItem::create(fa[1]->lastKnownPath())}, a);
    QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].path, a);
    EXPECT_EQ(events[1].path, b);
    // Different files in the same folder are a different event.
    collector->addEvent({fa[0]}, a);
    EXPECT_EQ(collector->eventCount(), 3);

    for (int i = 0; i < 200; ++i)
        collector->addEvent({KLItem::create(root + "/n/" + QString::number(i))}, root + "/n");
    EXPECT_EQ(collector->eventCount(), 151);
    EXPECT_EQ(collector->pastEvents().first().files.first()->lastKnownPath(), root + "/n/199");
}

TEST_F(CollectorTest, RemovingItemsAndFolderItems)
{
    makeCollector();
    const QString a = root + "/A", b = root + "/B";
    const QList<KLItemPtr> fa = files(a, 3, clock - 10);
    const QList<KLItemPtr> only = files(b, 1, clock - 10);
    collector->addEvent(fa, a);
    collector->addEvent({fa[0]}, a);
    collector->addEvent(only, b);
    ASSERT_EQ(collector->eventCount(), 3);

    collector->removeItem(KLItem::create(only[0]->lastKnownPath()));
    EXPECT_EQ(collector->eventCount(), 2) << "the only file's event went with it";
    collector->removeItem(fa[0]);
    QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(KLItem::pathsForItems(events[0].files), QStringList({fa[1]->lastKnownPath(), fa[2]->lastKnownPath()}));

    collector->addEvent(files(b, 2, clock - 10, "h"), b);
    collector->removeItems({KLItem::create(a)});
    events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1) << "every event of the folder is gone";
    EXPECT_EQ(events[0].path, b);
}

TEST_F(CollectorTest, LiveRecordsScanBack45SecondsOrFromTheLastScan)
{
    makeCollector();
    const QString dir = root + "/live";
    QDir().mkpath(dir);
    const KLTime start = clock;
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(dir)), start - 45.0);
    clock = start + 0.8;
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(dir)), start - 1.5) << "second record within a second";
    clock = start + 100;
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(dir)), start + 100 - 45.0);
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(root + "/other")), start + 100 - 45.0);
}

TEST_F(CollectorTest, ReplayedRecordsScanBackToTheLastRunOrOneDay)
{
    makeCollector();
    currentId = 100000;
    const QString dir = root + "/replay";
    // No time from the previous run: one day.
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(dir, 100000 - 1001)), clock - 86400.0);
    // Exactly 1,000 behind is still live.
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(root + "/x", 100000 - 1000)), clock - 45.0);
    defaults->setDouble("lastHandledFSEventDate", 700000000.0);
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(root + "/y", 5)), 700000000.0 - 7.5);
}

TEST_F(CollectorTest, ReplayedRecordOfAFolderChangedWhileNotRunningFindsTheFile)
{
    makeCollector();
    currentId = 200000;
    const QString dir = root + "/offline";
    writeFile(dir + "/written-while-away.txt");
    setMtime(dir + "/written-while-away.txt", clock - 3600);
    writeFile(dir + "/ancient.txt");
    setMtime(dir + "/ancient.txt", clock - 3 * 86400);
    collector->fileSystemEvent(record(dir, 150000), nullptr);
    const QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(KLItem::pathsForItems(events[0].files), QStringList{dir + "/written-while-away.txt"});
    EXPECT_EQ(collector->lastEventID(), 150000u);
}

TEST_F(CollectorTest, ListingCacheRecognisesAnOldFileThatNewlyAppeared)
{
    makeCollector();
    const QString downloads = root + "/Downloads";
    writeFile(downloads + "/already-there.pdf");
    setMtime(downloads + "/already-there.pdf", clock - 800 * 86400);
    ASSERT_TRUE(collector->fileNamesAtPath(downloads).has_value());

    writeFile(downloads + "/two-years-old.zip");
    setMtime(downloads + "/two-years-old.zip", clock - 730 * 86400);
    collector->fileSystemEvent(record(downloads), nullptr);
    QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1);
    ASSERT_EQ(events[0].files.size(), 1);
    EXPECT_EQ(events[0].files[0]->lastKnownPath(), downloads + "/two-years-old.zip");
    EXPECT_DOUBLE_EQ(events[0].files[0]->timeOfFile(), clock.load()) << "dated when it was seen";

    // A folder never listed before judges by modification time only.
    const QString fresh = root + "/Unlisted";
    writeFile(fresh + "/old.zip");
    setMtime(fresh + "/old.zip", clock - 730 * 86400);
    clock = clock + 5;
    collector->fileSystemEvent(record(fresh), nullptr);
    EXPECT_EQ(collector->eventCount(), 1);
}

TEST_F(CollectorTest, ScanKeepsAtMostTwentyOneFilesAndSkipsDotNamesAndUnwantedOnes)
{
    makeCollector();
    const QString dir = root + "/busy";
    for (int i = 0; i < 30; ++i)
        writeFile(dir + "/file" + QString::number(i) + ".txt");
    writeFile(dir + "/.dotfile");
    writeFile(dir + "/scratch.tmp");
    QDir().mkpath(dir + "/subfolder");
    const QList<KLItemPtr> found = collector->scanDirectoryForChangedFiles(dir, 20, clock - 45);
    EXPECT_EQ(found.size(), 21);
    for (const KLItemPtr &item : found) {
        const QString name = item->lastKnownPath().section('/', -1);
        EXPECT_TRUE(name.startsWith("file")) << qPrintable(name);
    }
}

TEST_F(CollectorTest, FolderThatVanishesOrBecomesAFileMidScanLosesNothing)
{
    makeCollector();
    const QString dir = root + "/vanishing";
    writeFile(dir + "/a.txt");
    ASSERT_TRUE(collector->fileNamesAtPath(dir).has_value());
    ASSERT_TRUE(QDir(dir).removeRecursively());
    EXPECT_FALSE(collector->fileNamesAtPath(dir).has_value());
    ASSERT_TRUE(collector->cachedFileSet(dir).has_value()) << "the old listing is kept";
    EXPECT_TRUE(collector->cachedFileSet(dir)->contains("a.txt"));
    EXPECT_TRUE(collector->scanDirectoryForChangedFiles(dir, 20, clock - 45).isEmpty());
    collector->fileSystemEvent(record(dir), nullptr);

    writeFile(dir, "now a plain file where the folder was");
    EXPECT_TRUE(collector->scanDirectoryForChangedFiles(dir, 20, clock - 45).isEmpty());
    collector->fileSystemEvent(record(dir), nullptr);
    EXPECT_EQ(collector->eventCount(), 0);

    // A file that vanishes between the listing and its examination is judged unchanged.
    bool flag = false;
    EXPECT_FALSE(
        collector->keepFileForRecents(root + "/nothing-here.txt", "nothing-here.txt", std::nullopt, clock - 45, &flag));
    EXPECT_FALSE(flag);
}

TEST_F(CollectorTest, NamesThatAreNotUtf8AreSkipped)
{
    makeCollector();
    const QString dir = root + "/bytes";
    writeFile(dir + "/good.txt");
    const QByteArray bad = QFile::encodeName(dir) + "/bad-\xff\xfe-name.txt";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::optional<QStringList> names = collector->fileNamesAtPath(dir);
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(*names, QStringList{"good.txt"});
    collector->fileSystemEvent(record(dir), nullptr);
    ASSERT_EQ(collector->eventCount(), 1);
    EXPECT_EQ(KLItem::pathsForItems(collector->pastEvents()[0].files), QStringList{dir + "/good.txt"});
}

namespace {

QStringList g_notUtf8Lines;
std::mutex g_notUtf8LinesMutex;

void keepNotUtf8Lines(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::lock_guard lock(g_notUtf8LinesMutex);
    if (message.contains(QLatin1String("not valid UTF-8")))
        g_notUtf8Lines.append(message);
}

void makeRawName(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
}

} // namespace

TEST_F(CollectorTest, NamesThatAreNotUtf8AreLoggedOncePerFolderWithTheirCount)
{
    makeCollector();
    const QString dir = root + "/bytes-logged";
    writeFile(dir + "/good.txt");
    makeRawName(QFile::encodeName(dir) + "/one-\xff.txt");
    makeRawName(QFile::encodeName(dir) + "/two-\xfe.txt");
    g_notUtf8Lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepNotUtf8Lines);
    for (int scan = 0; scan < 3; ++scan)
        ASSERT_TRUE(collector->fileNamesAtPath(dir).has_value());
    const QStringList firstScans = g_notUtf8Lines;
    // A new such name in the folder is told again, with the whole count.
    makeRawName(QFile::encodeName(dir) + "/three-\xfd.txt");
    for (int scan = 0; scan < 3; ++scan)
        ASSERT_TRUE(collector->fileNamesAtPath(dir).has_value());
    qInstallMessageHandler(previous);
    ASSERT_EQ(firstScans.size(), 1) << qPrintable(firstScans.join('\n'));
    EXPECT_TRUE(firstScans.first().contains("skipped 2 ")) << qPrintable(firstScans.first());
    ASSERT_EQ(g_notUtf8Lines.size(), 2) << qPrintable(g_notUtf8Lines.join('\n'));
    EXPECT_TRUE(g_notUtf8Lines.last().contains("skipped 3 ")) << qPrintable(g_notUtf8Lines.last());
    EXPECT_EQ(*collector->fileNamesAtPath(dir), QStringList{"good.txt"});
}

TEST_F(CollectorTest, StormGuardDropsRecordsWhileTheyComeTooFast)
{
    makeCollector();
    const QString dir = root + "/storm";
    QDir().mkpath(dir);
    // During the first ten seconds only the time is tracked.
    for (int i = 0; i < 50; ++i)
        collector->fileSystemEvent(record(dir), nullptr);
    EXPECT_DOUBLE_EQ(collector->averageSecondsBetweenEvents(), 20.0);
    // Afterwards a burst drives the smoothed interval below 0.03 s.
    clock = clock + 11;
    int n = 0;
    while (collector->averageSecondsBetweenEvents() >= 0.03 && n < 1000) {
        collector->fileSystemEvent(record(dir), nullptr);
        ++n;
    }
    ASSERT_LT(collector->averageSecondsBetweenEvents(), 0.03);
    EXPECT_GT(n, 100) << "the smoothing takes many records";
    writeFile(dir + "/during-storm.txt");
    collector->fileSystemEvent(record(dir), nullptr);
    EXPECT_EQ(collector->eventCount(), 0) << "dropped during the storm";
    // One quiet minute later the next record is handled again.
    clock = clock + 60;
    collector->fileSystemEvent(record(dir), nullptr);
    EXPECT_GT(collector->averageSecondsBetweenEvents(), 0.03);
    EXPECT_EQ(collector->eventCount(), 1);
}

TEST_F(CollectorTest, RecordsForHiddenPackageAndUnwantedFoldersAreDropped)
{
    makeCollector();
    writeFile(root + "/.secret/a.txt");
    writeFile(root + "/Thing.app/Contents/b.txt");
    writeFile(root + "/Library/Caches/c.txt");
    writeFile(root + "/fine/d.txt");
    collector->fileSystemEvent(record(root + "/.secret"), nullptr);
    collector->fileSystemEvent(record(root + "/Thing.app/Contents"), nullptr);
    collector->fileSystemEvent(record(root + "/Library/Caches"), nullptr);
    collector->fileSystemEvent(record(QString()), nullptr);
    EXPECT_EQ(collector->eventCount(), 0);
    collector->fileSystemEvent(record(root + "/fine"), nullptr);
    EXPECT_EQ(collector->eventCount(), 1);
}

TEST_F(CollectorTest, RuleSettingsAreFollowedWhenTheyChange)
{
    makeCollector();
    EXPECT_TRUE(collector->userWantsFolderIncluded(root + "/Projects"));
    defaults->setValue("unwantedDirectories", QVariantList{root + "/Projects"});
    EXPECT_FALSE(collector->userWantsFolderIncluded(root + "/Projects"));
    defaults->setValue("unwantedDirectories", QVariantList());
    EXPECT_TRUE(collector->userWantsFolderIncluded(root + "/Projects"));
}

TEST_F(CollectorTest, StoreSurvivesARestart)
{
    makeCollector();
    EXPECT_EQ(collector->lastEventID(), 10u) << "no handled record yet: the replay start";
    EXPECT_DOUBLE_EQ(collector->lastEventTrackedTime(), clock - 86400.0);
    const QString a = root + "/A";
    QList<KLItemPtr> f = files(a, 2, clock - 100);
    f[1]->setDate(12345.0);
    collector->addEvent(f, a);
    collector->fileSystemEvent(record(root + "/nothing-changed", 4242), nullptr);
    ASSERT_TRUE(collector->writeState());
    collector.reset();

    QFile file(storePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(Plist::isBinary(bytes));
    const QVariantMap saved = Plist::fromData(bytes).toMap();
    EXPECT_EQ(saved.value("version").toInt(), 1);
    ASSERT_EQ(saved.value("events").toList().size(), 1);
    const QVariantMap e = saved.value("events").toList().first().toMap();
    EXPECT_EQ(e.keys(), QStringList({"date", "files", "path"}));

    defaults.reset();
    openDefaults(); // a new process reads the settings from disk
    makeCollector();
    EXPECT_EQ(collector->lastEventID(), 4242u);
    const QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].path, a);
    EXPECT_NEAR(events[0].date, clock.load(), 1.0);
    EXPECT_EQ(KLItem::pathsForItems(events[0].files), KLItem::pathsForItems(f));
    EXPECT_DOUBLE_EQ(events[0].files[1]->timeOfFile(), 12345.0);
}

TEST_F(CollectorTest, CorruptStoreIsMovedAsideAndTheListStartsEmpty)
{
    writeFile(storePath, "bplist00 this is not a property list at all");
    makeCollector();
    EXPECT_EQ(collector->eventCount(), 0);
    EXPECT_FALSE(QFile::exists(storePath));
    const QStringList aside = QDir(QFileInfo(storePath).absolutePath()).entryList({"recentItems.plist.corrupt-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(QFileInfo(storePath).absolutePath() + "/" + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("bplist00 this is not a property list at all")) << "nothing lost";

    collector->addEvent(files(root + "/A", 1, clock - 5), root + "/A");
    ASSERT_TRUE(collector->writeState());
    collector.reset();
    makeCollector();
    EXPECT_EQ(collector->eventCount(), 1);

    // An empty file (a write cut short) is moved aside like a damaged one, not overwritten.
    collector.reset();
    writeFile(storePath, QByteArray());
    makeCollector();
    EXPECT_EQ(collector->eventCount(), 0);
    EXPECT_FALSE(QFile::exists(storePath));
}

TEST_F(CollectorTest, ConcurrentRecordsRankingRemovalAndSavingKeepTheLockOrder)
{
    makeCollector();
    const QString dir = root + "/hammer";
    for (int i = 0; i < 10; ++i)
        writeFile(dir + "/" + QString::number(i) + "/seed.txt");
    std::atomic<bool> stop{false};
    std::atomic<int> recordsHandled{0};
    // The stream's worker: records and new files.
    std::thread worker([&] {
        int n = 0;
        while (!stop) {
            const QString sub = dir + "/" + QString::number(n % 10);
            QFile f(sub + "/w" + QString::number(n % 40) + ".txt");
            if (f.open(QIODevice::WriteOnly))
                f.write("x");
            f.close();
            collector->fileSystemEvent(FileSystemEvent(++currentId, sub, 0), nullptr);
            ++n;
            ++recordsHandled;
        }
    });
    // Opened files arriving on another thread at the same time.
    std::thread opener([&] {
        int n = 0;
        while (!stop) {
            collector->addPathsToEvents({dir + "/" + QString::number(n % 10) + "/seed.txt"});
            ++n;
        }
    });
    // Settings changing under the rules lock.
    std::thread prefs([&] {
        while (!stop)
            collector->loadPrefs();
    });
    int rounds = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline || recordsHandled < 50) {
        const QList<KLItemPtr> ranked = collector->recentFiles({});
        EXPECT_LE(ranked.size(), 50);
        collector->recentFilesInDirectory(dir + "/3");
        if (!ranked.isEmpty() && rounds % 7 == 0)
            collector->removeItem(ranked.last());
        if (rounds % 20 == 0) {
            EXPECT_TRUE(collector->writeState());
        }
        ++rounds;
    }
    stop = true;
    worker.join();
    opener.join();
    prefs.join();
    EXPECT_LE(collector->eventCount(), 151);
    EXPECT_GT(recordsHandled.load(), 0);
    collector.reset();
    makeCollector(); // the last store written in the middle of it all reads back
    EXPECT_GT(collector->eventCount(), 0);
}

TEST_F(CollectorTest, ItemsOfOneFolderAreUniqueAndSorted)
{
    makeCollector();
    const QString a = root + "/A";
    const QList<KLItemPtr> f = files(a, 3, clock - 100);
    f[2]->setDate(clock - 1);
    collector->addEvent({f[0], f[1]}, a);
    collector->addEvent({f[1], f[2]}, a);
    collector->addEvent(files(root + "/B", 1, clock - 5), root + "/B");
    const QList<KLItemPtr> items = collector->recentFilesInDirectory(a);
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->lastKnownPath(), f[2]->lastKnownPath());
    EXPECT_TRUE(collector->recentFilesInDirectory(root + "/none").isEmpty());
}

TEST_F(CollectorTest, RecentCommandRanksTheStoreAsTheProgramDoes)
{
    makeCollector();
    const QString docs = root + "/Docs", busy = root + "/Busy";
    collector->addEvent(files(docs, 1, clock - 100, "report"), docs);
    collector->addEvent(files(busy, 8, clock - 200, "photo"), busy);
    ASSERT_TRUE(collector->writeState());
    collector.reset();

    const QByteArray json = KLRecentCommand::jsonFromStore(QString(), storePath);
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    ASSERT_EQ(array.size(), 2);
    QJsonObject stack, single;
    for (const QJsonValue &v : array)
        (v.toObject().contains("stack") ? stack : single) = v.toObject();
    EXPECT_EQ(single.value("path").toString(), docs + "/report0.txt");
    EXPECT_EQ(single.value("title").toString(), "report0.txt");
    EXPECT_FALSE(single.value("subtitle").toString().isEmpty());
    EXPECT_NEAR(single.value("time").toDouble(), KLTimeUtil::toUnix(clock - 100), 1.0);
    EXPECT_EQ(stack.value("path").toString(), busy);
    EXPECT_EQ(stack.value("stack").toArray().size(), 8);

    const QString plain = KLRecentCommand::render(json, false);
    EXPECT_EQ(plain.count('\n'), 2);
    EXPECT_TRUE(plain.contains("report0.txt\t")) << qPrintable(plain);
    EXPECT_TRUE(plain.contains(KLLocalized("KLStackSubtitleTemplate", {"8"}) + "\t" + busy)) << qPrintable(plain);

    const QJsonArray inFolder = QJsonDocument::fromJson(KLRecentCommand::jsonFromStore(busy, storePath)).array();
    EXPECT_EQ(inFolder.size(), 8);

    KLRecentCommand::Arguments args;
    QString error;
    ASSERT_TRUE(KLRecentCommand::parseArguments({"--json", "--folder", "~/x/"}, &args, &error));
    EXPECT_TRUE(args.json);
    EXPECT_EQ(args.folder, home() + "/x");
    EXPECT_FALSE(KLRecentCommand::parseArguments({"--folder"}, &args, &error));
    EXPECT_FALSE(KLRecentCommand::parseArguments({"--bogus"}, &args, &error));
    EXPECT_EQ(runRecentCommand({"--nonsense"}), 2);
}

TEST_F(CollectorTest, RecordsFromTheRealStreamBecomeEvents)
{
    FileSystemEventStream stream(root + "/.stream-state");
    stream.setBackendPreference("inotify");
    KLRecentFiles::Options o = options();
    o.clock = {};
    o.currentEventID = {};
    o.stream = &stream;
    o.startStream = true;
    collector = std::make_unique<KLRecentFiles>(o);
    // The store is read and the stream started on the stream's own thread.
    ASSERT_TRUE(KelsoTest::waitFor([&] { return stream.isActive(); }, 20000));
    EXPECT_TRUE(collector->storeLoaded());
    EXPECT_EQ(stream.delegate(), collector.get());
    EXPECT_DOUBLE_EQ(stream.latency(), 1.5);

    const QString docs = home() + "/Documents/e2e-" + QString::number(s_counter);
    QDir().mkpath(docs);
    // The new folder gets its watch asynchronously; keep writing until a record arrives.
    auto recorded = [&] {
        for (const KLRecentEvent &e : collector->pastEvents()) {
            if (e.path == docs)
                return true;
        }
        return false;
    };
    int n = 0;
    ASSERT_TRUE(KelsoTest::waitFor(
        [&] {
            if (n < 20)
                writeFile(docs + "/saved" + QString::number(n++) + ".txt", "text");
            return recorded();
        },
        20000));
    EXPECT_GT(collector->lastEventID(), 0u);
    collector.reset(); // detaches from the stream before it goes
    EXPECT_EQ(stream.delegate(), nullptr);
}

// Records a stream hands over, for the run before the collector's.
class RecordCounter : public FileSystemEventStreamDelegate
{
public:
    void fileSystemEvent(const FileSystemEvent &event, FileSystemEventStream *) override
    {
        std::lock_guard lock(mutex);
        ids[event.evPath] = event.evId;
    }
    quint64 idFor(const QString &path)
    {
        std::lock_guard lock(mutex);
        return ids.value(path);
    }
    std::mutex mutex;
    QHash<QString, quint64> ids;
};

TEST_F(CollectorTest, AStartSavesHowFarItsReplayGotWithoutWaitingForAQuit)
{
    // A run that ends without saving (killed, crashed) leaves records after the stored id. The
    // next start replays them; were that not saved until a quit, every start after another kill
    // would replay all of them again, and more each time.
    const QString stateFolder = root + "/.stream-state";
    const QString docs = home() + "/Documents/replay-" + QString::number(s_counter);
    QDir().mkpath(docs);
    quint64 before = 0, missed = 0;
    {
        FileSystemEventStream first(stateFolder);
        first.setBackendPreference("inotify");
        RecordCounter counter;
        first.setDelegate(&counter);
        ASSERT_TRUE(first.start({docs}));
        before = first.currentEventID();
        int n = 0;
        ASSERT_TRUE(KelsoTest::waitFor(
            [&] {
                if (n < 20)
                    writeFile(docs + "/unsaved" + QString::number(n++) + ".txt", "text");
                return counter.idFor(docs) > before;
            },
            20000));
        missed = counter.idFor(docs);
        first.setDelegate(nullptr);
    }
    defaults->setUnsigned("lastHandledFSEvent", before);
    defaults->synchronize();

    FileSystemEventStream stream(stateFolder);
    stream.setBackendPreference("inotify");
    KLRecentFiles::Options o = options();
    o.clock = {};
    o.currentEventID = {};
    o.stream = &stream;
    o.startStream = true;
    collector = std::make_unique<KLRecentFiles>(o);
    // What the settings file on disk says, as the next start would read it.
    auto savedId = [&] {
        QFile f(defaultsPath);
        if (!f.open(QIODevice::ReadOnly))
            return quint64(0);
        return Plist::fromData(f.readAll()).toMap().value("lastHandledFSEvent").toULongLong();
    };
    EXPECT_TRUE(KelsoTest::waitFor([&] { return savedId() >= missed && QFile::exists(storePath); }, 20000))
        << "the store and the replay's end are on disk while the program still runs (saved " << savedId()
        << ", replayed up to " << missed << ")";
    bool listed = false;
    for (const KLRecentEvent &e : collector->pastEvents())
        listed |= e.path == docs;
    EXPECT_TRUE(listed) << "the replayed folder's files are listed";
    collector.reset();
}

TEST_F(CollectorTest, SavingInTheBackgroundLeavesTheCallerFreeAndWritesOnTheStreamsThread)
{
    FileSystemEventStream stream(root + "/.stream-state");
    KLRecentFiles::Options o = options();
    o.stream = &stream;
    collector = std::make_unique<KLRecentFiles>(o);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return collector->storeLoaded(); }, 20000));
    const QString dir = root + "/saved";
    collector->addEvent(files(dir, 2, clock - 5), dir);

    // The stream's thread is busy (a slow disk, a long replay): the caller does not wait.
    std::mutex gate;
    std::unique_lock held(gate);
    std::atomic<bool> busy{false};
    stream.performOnWorkerThread([&] {
        busy = true;
        std::lock_guard wait(gate);
    });
    ASSERT_TRUE(KelsoTest::waitFor([&] { return busy.load(); }, 20000));
    collector->writeStateInBackground();
    EXPECT_FALSE(QFile::exists(storePath)) << "nothing is written on the calling thread";
    held.unlock();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return QFile::exists(storePath); }, 20000));

    // What was written is the list, as a restart reads it.
    collector.reset();
    makeCollector();
    ASSERT_EQ(collector->eventCount(), 1);
    EXPECT_EQ(collector->pastEvents()[0].path, dir);
}

TEST_F(CollectorTest, ListingCacheStaysBoundedAndKeepsWorking)
{
    makeCollector();
    const QString base = root + "/many-folders";
    const int n = KLRecentFiles::kMaxCachedFolders + 200;
    for (int i = 0; i < n; ++i) {
        const QString dir = base + "/" + QString::number(i);
        ASSERT_TRUE(QDir().mkpath(dir));
        ASSERT_TRUE(collector->fileNamesAtPath(dir).has_value());
    }
    EXPECT_LE(collector->cachedFolderCount(), KLRecentFiles::kMaxCachedFolders);
    // The folder listed last is cached, so a new old file there is still recognised.
    const QString last = base + "/" + QString::number(n - 1);
    ASSERT_TRUE(collector->cachedFileSet(last).has_value());
    writeFile(last + "/copied-in.jpg");
    setMtime(last + "/copied-in.jpg", clock - 400 * 86400);
    EXPECT_EQ(collector->scanDirectoryForChangedFiles(last, 20, clock - 45).size(), 1);
}

// ---- folders filled at once, deleted folders, past records, dates ---------------------------

TEST_F(CollectorTest, FolderFilledAtOnceBecomesAStackOfItsFiles)
{
    makeCollector();
    const QString parent = root + "/Documents";
    QDir().mkpath(parent);
    ASSERT_TRUE(collector->fileNamesAtPath(parent).has_value()); // listed before, as at start-up
    const QString d = parent + "/unpacked";
    QStringList made;
    for (int i = 0; i < 12; ++i) {
        const QString p = d + "/part" + QString::number(i) + ".txt";
        writeFile(p);
        made.append(p);
    }
    // The records come as the stream hands them on: the parent (where the folder appeared),
    // then the new folder itself.
    collector->fileSystemEvent(FileSystemEvent(++currentId, parent, 0x40000100), nullptr);
    collector->fileSystemEvent(FileSystemEvent(++currentId, d, 0x40000100 | FileSystemEvent::kFlagNewFolder), nullptr);
    const QList<KLItemPtr> ranked = collector->recentFiles({});
    const KLItemPtr *stack = findPath(ranked, d);
    ASSERT_TRUE(stack) << "the new folder is listed";
    ASSERT_TRUE((*stack)->isStack()) << "the new folder is a stack, not a plain folder item";
    QStringList inStack = KLItem::pathsForItems((*stack)->stack());
    inStack.sort();
    made.sort();
    EXPECT_EQ(inStack, made);
    EXPECT_GT((*stack)->timeOfFile(), clock - 60) << "dated now, not at the epoch";
}

TEST_F(CollectorTest, NewFolderRecordListsFilesWithOldTimesAsNew)
{
    makeCollector();
    // An archive unpacked or a tree copied with its dates: every file is years old.
    const QString d = root + "/clone";
    for (int i = 0; i < 3; ++i) {
        writeFile(d + "/old" + QString::number(i) + ".txt");
        setMtime(d + "/old" + QString::number(i) + ".txt", clock - 700 * 86400);
    }
    collector->fileSystemEvent(FileSystemEvent(++currentId, d, 0x40000100 | FileSystemEvent::kFlagNewFolder), nullptr);
    ASSERT_EQ(collector->eventCount(), 1);
    const QList<KLItemPtr> got = collector->pastEvents()[0].files;
    EXPECT_EQ(got.size(), 3);
    for (const KLItemPtr &f : got)
        EXPECT_DOUBLE_EQ(f->timeOfFile(), clock.load()) << "dated when it was seen";

    // Files written into it after that listing are new to it as well.
    writeFile(d + "/later.txt");
    setMtime(d + "/later.txt", clock - 700 * 86400);
    clock = clock + 2;
    collector->fileSystemEvent(record(d), nullptr);
    EXPECT_EQ(KLItem::pathsForItems(collector->pastEvents()[0].files), QStringList{d + "/later.txt"});

    // A replayed record of a folder that was new in an earlier run is judged by its times.
    const QString e = root + "/earlier";
    writeFile(e + "/old.txt");
    setMtime(e + "/old.txt", clock - 700 * 86400);
    currentId = 900000;
    collector->fileSystemEvent(FileSystemEvent(5, e, FileSystemEvent::kFlagNewFolder | FileSystemEvent::kFlagReplayed),
                               nullptr);
    EXPECT_EQ(collector->eventCount(), 2);
}

TEST_F(CollectorTest, DeletedFoldersAreForgottenAlsoAfterARestart)
{
    makeCollector();
    const QString gone = root + "/gone", kept = root + "/kept";
    collector->addEvent(files(gone, 8, clock - 50), gone);
    collector->addEvent(files(kept, 1, clock - 40), kept);
    KLItemPtr folderItem = KLItem::create(gone);
    folderItem->calculateCache();
    collector->addEvent({folderItem}, root);
    ASSERT_TRUE(findPath(collector->recentFiles({}), gone));
    ASSERT_TRUE(collector->writeState());

    ASSERT_TRUE(QDir(gone).removeRecursively());
    for (const KLRecentEvent &e : collector->pastEvents())
        for (const KLItemPtr &f : e.files)
            f->calculateCache();
    QList<KLItemPtr> ranked = collector->recentFiles({});
    EXPECT_FALSE(findPath(ranked, gone)) << "a deleted folder is not listed (missing)";
    EXPECT_TRUE(findPath(ranked, kept + "/f0.txt"));

    // After a restart the stored items learn that their files are gone before the first list.
    collector.reset();
    makeCollector();
    ranked = collector->recentFiles({});
    EXPECT_FALSE(findPath(ranked, gone)) << "a deleted folder is not listed after a restart";
    EXPECT_TRUE(findPath(ranked, kept + "/f0.txt"));
    for (const KLItemPtr &item : ranked)
        EXPECT_GT(item->timeOfFile(), 0.0) << qPrintable(item->lastKnownPath()) << " ranked at the epoch";
}

TEST_F(CollectorTest, ItemsWhoseFactsAreNotKnownRankByTheirEventNotTheEpoch)
{
    makeCollector();
    const QString dir = root + "/unknown";
    writeFile(dir + "/a.txt");
    const QList<KLItemPtr> old = files(root + "/old", 1, clock - 5000);
    KLItem::pauseBackgroundUpdatesForTesting(true);
    KLItemPtr raw = KLItem::create(dir + "/a.txt"); // no background update runs meanwhile
    KLRecentEvent e = event(dir, {raw}, clock - 30);
    collector->setPastEventsForTesting({e, event(root + "/old", old, clock - 5000)});
    const QList<KLItemPtr> ranked = collector->recentFiles({});
    const QList<KLItemPtr> inFolder = collector->recentFilesInDirectory(dir);
    KLItem::pauseBackgroundUpdatesForTesting(false);
    ASSERT_EQ(inFolder.size(), 1);
    EXPECT_DOUBLE_EQ(inFolder[0]->timeOfFile(), clock - 30) << "a folder's items are dated alike";
    ASSERT_EQ(ranked.size(), 2);
    EXPECT_EQ(ranked[0]->lastKnownPath(), dir + "/a.txt") << "ranked by its event's date";
    EXPECT_DOUBLE_EQ(ranked[0]->timeOfFile(), clock - 30);
    EXPECT_DOUBLE_EQ(raw->overrideDate(), 0.0) << "the recorded item is left as it was";
}

TEST_F(CollectorTest, ReplayedAndCaughtUpRecordsNeverCountTowardsAStorm)
{
    makeCollector();
    currentId = 500000;
    clock = clock + 11; // past the warm-up
    const QString base = root + "/offline";
    // Thousands of past records handed over in one go, as after a long setup.
    for (int i = 0; i < 400; ++i) {
        const QString dir = base + "/" + QString::number(i);
        writeFile(dir + "/changed.txt");
        const quint32 flag = i % 2 ? FileSystemEvent::kFlagReplayed : FileSystemEvent::kFlagCatchUp;
        collector->fileSystemEvent(FileSystemEvent(quint64(1000 + i), dir, flag), nullptr);
    }
    EXPECT_EQ(collector->eventCount(), KLRecentFiles::kMaxEvents + 1) << "none was dropped as a storm";
    EXPECT_GE(collector->averageSecondsBetweenEvents(), 0.03);
    const QStringList found = KLItem::pathsForItems(collector->pastEvents()[0].files);
    EXPECT_EQ(found, QStringList{base + "/399/changed.txt"});
}

TEST_F(CollectorTest, ARunWithoutRecordsKeepsThePreviousLastEventDate)
{
    defaults->setUnsigned("lastHandledFSEvent", 4242);
    defaults->setDouble("lastHandledFSEventDate", 777000000.0);
    makeCollector();
    ASSERT_TRUE(collector->writeState());
    EXPECT_DOUBLE_EQ(defaults->doubleForKey("lastHandledFSEventDate"), 777000000.0);
    EXPECT_EQ(defaults->unsignedForKey("lastHandledFSEvent"), 4242u);
}

TEST_F(CollectorTest, PlainOutputKeepsEachItemOnOneLine)
{
    makeCollector();
    const QString dir = root + "/odd names";
    const QString newline = dir + "/two\nlines.txt", tab = dir + "/tab\there.txt", slash = dir + "/back\\slash.txt";
    for (const QString &p : {newline, tab, slash}) {
        writeFile(p);
        KLItemPtr item = KLItem::create(p);
        item->calculateCache();
        collector->addEvent({item}, dir);
    }
    ASSERT_TRUE(collector->writeState());
    const QString plain = KLRecentCommand::render(KLRecentCommand::jsonFromStore(QString(), storePath), false);
    const QStringList lines = plain.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << qPrintable(plain);
    for (const QString &line : lines)
        EXPECT_EQ(line.count('\t'), 2) << "three fields: " << qPrintable(line);
    EXPECT_TRUE(plain.contains(dir + "/two\\nlines.txt")) << qPrintable(plain);
    EXPECT_TRUE(plain.contains(dir + "/tab\\there.txt")) << qPrintable(plain);
    EXPECT_TRUE(plain.contains(dir + "/back\\\\slash.txt")) << qPrintable(plain);
    // JSON keeps the names as they are.
    const QJsonArray json = QJsonDocument::fromJson(KLRecentCommand::jsonFromStore(QString(), storePath)).array();
    QStringList paths;
    for (const QJsonValue &v : json)
        paths.append(v.toObject().value("path").toString());
    EXPECT_TRUE(paths.contains(newline));

    KLRecentCommand::Arguments args;
    QString error;
    ASSERT_TRUE(KLRecentCommand::parseArguments({"--status", "--json"}, &args, &error));
    EXPECT_TRUE(args.status);
    EXPECT_FALSE(KLRecentCommand::parseArguments({"--status", "--folder", "/x"}, &args, &error));
    const QString status =
        KLRecentCommand::renderStatus({{"active", false}, {"problem", "no watched root can be read (/x)"}});
    EXPECT_EQ(status, "watching nothing: no watched root can be read (/x)\n");
}

TEST_F(CollectorTest, TheAnswerForScriptsIsTheCurrentListWithFactsLoaded)
{
    makeCollector();
    const QString dir = root + "/now";
    KLItem::pauseBackgroundUpdatesForTesting(true);
    writeFile(dir + "/fresh.txt");
    setMtime(dir + "/fresh.txt", clock - 20);
    collector->addEvent({KLItem::create(dir + "/fresh.txt")}, dir);
    QByteArray got;
    collector->answerRankedList(QString(), {}, [&](const QByteArray &json) { got = json; });
    KLItem::pauseBackgroundUpdatesForTesting(false);
    const QJsonArray array = QJsonDocument::fromJson(got).array();
    ASSERT_EQ(array.size(), 1) << got.constData();
    const QJsonObject o = array[0].toObject();
    EXPECT_EQ(o.value("path").toString(), dir + "/fresh.txt");
    EXPECT_NEAR(o.value("time").toDouble(), KLTimeUtil::toUnix(clock - 20), 1.0) << "the file's own time";
    EXPECT_FALSE(o.value("subtitle").toString().contains("2001")) << got.constData();
    EXPECT_FALSE(o.value("subtitle").toString().isEmpty()) << got.constData();
}

TEST_F(CollectorTest, ItemsHandedOutAskTheCollectorsServices)
{
    auto services = std::make_shared<KLItemServices>();
    KLRecentFiles::Options o = options();
    o.itemServices = services;
    collector = std::make_unique<KLRecentFiles>(o);
    const KLTime t = clock - 100;
    const QString a = root + "/A", b = root + "/B";
    collector->setPastEventsForTesting({event(a, files(a, 2, t), t), event(b, files(b, 7, t - 10), t - 10)});
    const QList<KLItemPtr> ranked = collector->recentFiles({});
    ASSERT_EQ(ranked.size(), 3);
    for (const KLItemPtr &item : ranked) {
        EXPECT_EQ(item->services(), services) << item->lastKnownPath().toStdString();
        for (const KLItemPtr &sub : item->stack())
            EXPECT_EQ(sub->services(), services) << sub->lastKnownPath().toStdString();
    }
    const QList<KLItemPtr> inside = collector->recentFilesInDirectory(b);
    ASSERT_EQ(inside.size(), 7);
    for (const KLItemPtr &item : inside)
        EXPECT_EQ(item->services(), services);
}

TEST_F(CollectorTest, TheAnswerForScriptsLooksAgainOnlyWhereTheStreamReportedAChange)
{
    // Every answer used to look at every recorded file again, thousands after a busy day. Where
    // the stream watches, only files in folders with a record since their last look are looked
    // at; a deleted file still leaves the very next answer.
    FileSystemEventStream stream(root + "/.stream-state");
    stream.setBackendPreference("inotify");
    KLRecentFiles::Options o = options();
    o.currentEventID = {};
    o.stream = &stream;
    o.startStream = true;
    collector = std::make_unique<KLRecentFiles>(o);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return stream.isActive(); }, 20000));

    const QString base = home() + "/Documents/answers-" + QString::number(s_counter);
    const QString changing = base + "/changing", quiet = base + "/quiet", hidden = base + "/.hidden";
    // The folders' watches are set asynchronously: each is written to until a record arrives.
    for (const QString &dir : {changing, quiet}) {
        QDir().mkpath(dir);
        int n = 0;
        ASSERT_TRUE(KelsoTest::waitFor(
            [&] {
                if (n < 20)
                    writeFile(dir + "/warm" + QString::number(n++) + ".txt", "text");
                for (const KLRecentEvent &e : collector->pastEvents())
                    if (e.path == dir)
                        return true;
                return false;
            },
            20000))
            << qPrintable(dir);
    }
    const QString gone = changing + "/gone.txt", stays = changing + "/stays.txt";
    const QString untouched = quiet + "/untouched.txt", unwatched = hidden + "/unwatched.txt";
    for (const QString &p : {gone, stays, untouched, unwatched})
        writeFile(p);
    // Hidden folders send no records: that file is recorded by hand (as an opened file would be).
    collector->addEvent({KLItem::create(unwatched)}, hidden);

    // The folder's items (a ranked list would stack the busy folder).
    auto answer = [&] {
        std::atomic<bool> done{false};
        QByteArray json;
        collector->answerRankedList(changing, {}, [&](const QByteArray &j) {
            json = j;
            done = true;
        });
        EXPECT_TRUE(KelsoTest::waitFor([&] { return done.load(); }, 20000));
        QStringList paths;
        for (const QJsonValue &v : QJsonDocument::fromJson(json).array())
            paths.append(v.toObject().value("path").toString());
        return paths;
    };
    // The recorded item of a path (the newest record of a file replaces older ones).
    auto recorded = [&](const QString &path) -> KLItemPtr {
        for (const KLRecentEvent &e : collector->pastEvents())
            if (const KLItemPtr *item = findPath(e.files, path))
                return *item;
        return nullptr;
    };
    auto lookedAt = [&](const QString &path) {
        const KLItemPtr item = recorded(path);
        return item ? item->factsCheckedAt() : -1.0;
    };
    // The first answer hands over the records the writes left (their files are looked at as
    // they are recorded); the second looks at everything those records touched.
    answer();
    clock = clock + 0.5;
    const QStringList first = answer();
    ASSERT_TRUE(first.contains(gone)) << qPrintable(first.join(' '));
    const KLTime firstLook = clock;
    EXPECT_EQ(lookedAt(untouched), firstLook);
    EXPECT_EQ(lookedAt(unwatched), firstLook);

    clock = clock + 0.5;
    ASSERT_TRUE(QFile::remove(gone));
    const QStringList listed = answer();
    EXPECT_FALSE(listed.contains(gone)) << "the deletion the kernel reported is in the answer";
    EXPECT_TRUE(listed.contains(stays));
    EXPECT_EQ(lookedAt(stays), clock.load()) << "its folder had a record";
    EXPECT_EQ(lookedAt(untouched), firstLook) << "no record for its folder since its last look";
    EXPECT_EQ(lookedAt(unwatched), clock.load()) << "hidden folders are not watched: looked at every time";

    clock = clock + KLItem::kCacheInterval;
    answer();
    EXPECT_EQ(lookedAt(untouched), clock.load()) << "a look older than the longest a fact is kept";
    collector.reset();
}

TEST_F(CollectorTest, CaughtUpAndReplayedRecordsScanBackToTheLastRunWhateverTheirId)
{
    // The journal numbers its records one by one: after a short pause the replayed and caught-up
    // records are within 1,000 of the current id, and used to be scanned back 45 s only.
    makeCollector();
    const KLTime created = clock;
    clock = clock + 120;
    currentId = 20;
    const QString dir = root + "/paused";
    const auto caughtUp = [&](const QString &d) { return FileSystemEvent(19, d, FileSystemEvent::kFlagCatchUp); };
    const auto replayed = [&](const QString &d) { return FileSystemEvent(18, d, FileSystemEvent::kFlagReplayed); };
    // A first start: the catch-up covers the time since the collector was made; a replay one day.
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(caughtUp(root + "/a")), created - 7.5);
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(replayed(root + "/b")), clock - 86400.0);
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(record(root + "/c", 17)), clock - 45.0) << "a live record";

    // After a run: from its last handled record, which a file saved during the pause follows.
    defaults->setDouble("lastHandledFSEventDate", clock - 600);
    EXPECT_DOUBLE_EQ(collector->dateToScanBackTo(caughtUp(root + "/d")), clock - 600 - 7.5);
    writeFile(dir + "/saved-in-the-pause.txt");
    setMtime(dir + "/saved-in-the-pause.txt", clock - 300);
    writeFile(dir + "/before-the-last-run.txt");
    setMtime(dir + "/before-the-last-run.txt", clock - 3600);
    collector->fileSystemEvent(caughtUp(dir), nullptr);
    const QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(KLItem::pathsForItems(events[0].files), QStringList{dir + "/saved-in-the-pause.txt"});
}
