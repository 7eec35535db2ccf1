// Temporary files of store writes cut short by a kill, and reading the recent-items store on
// the event stream's thread at start.
#include "cooler/KLCoolerStore.h"
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "prefs/KLSettings.h"
#include "recent/FileSystemEventStream.h"
#include "recent/KLRecentFiles.h"
#include "recent/KLSaveFileLeftovers.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QThread>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

void makeOld(const QString &path, double secondsAgo = 3600)
{
    const QByteArray p = QFile::encodeName(path);
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= time_t(secondsAgo);
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, p.constData(), times, AT_SYMLINK_NOFOLLOW), 0) << p.constData();
}

QSet<QString> namesIn(const QString &folder)
{
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return QSet<QString>(names.begin(), names.end());
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A recent-items store with one event of one existing file.
QByteArray recentStore(const QString &file)
{
    const QVariantMap item{{QStringLiteral("path"), file}};
    const QVariantMap event{{QStringLiteral("files"), QVariantList{item}},
                            {QStringLiteral("date"), 800000000.0},
                            {QStringLiteral("path"), QFileInfo(file).absolutePath()}};
    QString error;
    const QByteArray data = Plist::toBinary(
        QVariantMap{{QStringLiteral("version"), 1}, {QStringLiteral("events"), QVariantList{event}}}, &error);
    EXPECT_FALSE(data.isEmpty()) << error.toStdString();
    return data;
}

class StoreLeftoversTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = home() + "/leftovers-" + QString::number(++s_counter);
        ASSERT_TRUE(QDir().mkpath(root));
    }
    static inline int s_counter = 0;
    QString root;
};

} // namespace

TEST(StoreLeftoverNames, OnlyQSaveFileNamesOfThatExactStore)
{
    using KLSaveFileLeftovers::isLeftoverName;
    const QString store = "recentItems.plist";
    // What Qt 6.4 names them: the store name, ".", six random ASCII letters.
    EXPECT_TRUE(isLeftoverName("recentItems.plist.HJexjr", store));
    EXPECT_TRUE(isLeftoverName("recentItems.plist.AAAAAA", store));
    EXPECT_TRUE(isLeftoverName("recentItems.plist.zzzzzz", store));
    // Any six letters, also ones that read as words: the sweep then also checks the content.
    EXPECT_TRUE(isLeftoverName("recentItems.plist.backup", store));
    // The store, a copy kept aside for the user, other stores and lookalikes.
    for (const char *name : {"recentItems.plist", "recentItems.plist.corrupt-20261207-110000123",
                             "recentItems.plist.corrupt-20261207T110000", "recentItems.plist.AbCdE",
                             "recentItems.plist.AbCdEfG", "recentItems.plist.AbC1Ef", "recentItems.plist.AbC-Ef",
                             "recentItems.plist.AbCdEf.tmp", "recentItems.plist_AbCdEf", "recentItems.plistAbCdEf",
                             "xrecentItems.plist.AbCdEf", "RecentItems.plist.AbCdEf", "coolerItems.plist.AbCdEf",
                             "recentItems.plist.", "recentItems.plist.AbCdE\xc3\xa9", ".AbCdEf"})
        EXPECT_FALSE(isLeftoverName(QString::fromUtf8(name), store)) << name;
    EXPECT_FALSE(isLeftoverName("recentItems.plist.AbCdEf", QString()));
}

TEST_F(StoreLeftoversTest, SweepRemovesOnlyAbandonedTemporaryFiles)
{
    const QString store = root + "/recentItems.plist";
    writeFile(store, "bplist00-the-store");
    const QString corrupt = store + ".corrupt-20261207-110000123";
    writeFile(corrupt, "garbage kept for the user");
    const QString emptyLeftover = store + ".HJexjr";
    writeFile(emptyLeftover, QByteArray());
    const QString cutLeftover = store + ".sbxrSq";
    writeFile(cutLeftover, "bplist00\x01\x02");
    const QString shortLeftover = store + ".QWErty";
    writeFile(shortLeftover, "bpl"); // cut inside the magic
    for (const QString &p : {store, corrupt, emptyLeftover, cutLeftover, shortLeftover})
        makeOld(p);

    // Kept: a write that may still be going on, a folder, a symbolic link (and its target), a
    // file with foreign content, a lookalike name, another store's temporary file.
    const QString fresh = store + ".FrEsHh";
    writeFile(fresh, QByteArray());
    const QString folder = store + ".FoLdEr";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = root + "/target.txt";
    writeFile(target, QByteArray());
    const QString link = store + ".LiNkKk";
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    const QString foreign = store + ".backup";
    writeFile(foreign, "the user's own notes");
    const QString lookalike = store + ".AbCdEfG";
    writeFile(lookalike, QByteArray());
    const QString otherStore = root + "/coolerItems.plist.AbCdEf";
    writeFile(otherStore, QByteArray());
    for (const QString &p : {folder, target, link, foreign, lookalike, otherStore})
        makeOld(p);

    EXPECT_EQ(KLSaveFileLeftovers::removeLeftovers(store), 3);
    const QSet<QString> expected{"recentItems.plist",
                                 "recentItems.plist.corrupt-20261207-110000123",
                                 "recentItems.plist.FrEsHh",
                                 "recentItems.plist.FoLdEr",
                                 "target.txt",
                                 "recentItems.plist.LiNkKk",
                                 "recentItems.plist.backup",
                                 "recentItems.plist.AbCdEfG",
                                 "coolerItems.plist.AbCdEf"};
    EXPECT_EQ(namesIn(root), expected);
    EXPECT_EQ(readAll(store), QByteArray("bplist00-the-store"));

    // Once it is old enough, the fresh one goes too; a second sweep finds nothing else.
    makeOld(fresh);
    EXPECT_EQ(KLSaveFileLeftovers::removeLeftovers(store), 1);
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(KLSaveFileLeftovers::removeLeftovers(store), 0);
    // A store in a folder that does not exist yet: nothing to do, no error.
    EXPECT_EQ(KLSaveFileLeftovers::removeLeftovers(root + "/missing/recentItems.plist"), 0);
}

TEST_F(StoreLeftoversTest, CollectorSweepsAndStillLoadsTheStore)
{
    const QString file = root + "/docs/report.txt";
    writeFile(file, "report");
    const QString store = root + "/recentItems.plist";
    writeFile(store, recentStore(file));
    const QString corrupt = store + ".corrupt-20261207-110000123";
    writeFile(corrupt, "not a plist");
    const QString leftover = store + ".AbCdEf";
    writeFile(leftover, recentStore(file).left(40));
    makeOld(leftover);

    Defaults defaults(root + "/settings.plist");
    KLSettings::setupDefaults(defaults);
    KLRecentFiles::Options o;
    o.defaults = &defaults;
    o.storePath = store;
    o.useDefaultStream = false;
    o.startStream = false;
    o.startOpenedFilesQuery = false;
    o.primeListingCache = false;
    KLRecentFiles collector(o);
    EXPECT_TRUE(collector.storeLoaded());
    ASSERT_EQ(collector.eventCount(), 1);
    EXPECT_EQ(collector.pastEvents().first().files.first()->lastKnownPath(), file);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(corrupt));
    // Written again and read back: nothing lost, still no temporary file.
    ASSERT_TRUE(collector.writeState());
    EXPECT_EQ(namesIn(root), (QSet<QString>{"docs", "settings.plist", "recentItems.plist",
                                            "recentItems.plist.corrupt-20261207-110000123"}));
}

TEST_F(StoreLeftoversTest, CoolerStoreSweepKeepsTheStoreReadable)
{
    const QString file = root + "/kept.txt";
    writeFile(file, "kept");
    const QString store = root + "/coolerItems.plist";
    ASSERT_TRUE(KLCoolerStore::write(store, {KLItem::create(file)}));
    const QString leftover = store + ".XyZabc";
    writeFile(leftover, readAll(store).left(10));
    makeOld(leftover);
    const QString recentLeftover = root + "/recentItems.plist.XyZabc";
    writeFile(recentLeftover, QByteArray());
    makeOld(recentLeftover);

    EXPECT_EQ(KLCoolerStore::removeLeftovers(store), 1);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(recentLeftover)); // not this store's
    KLCoolerStore::ReadStatus status;
    const QList<KLItemPtr> items = KLCoolerStore::read(store, &status);
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::Read);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first()->lastKnownPath(), file);

    // The background form, as the Cooler pane calls it from the main thread.
    writeFile(leftover, QByteArray());
    makeOld(leftover);
    KLCoolerStore::removeLeftoversInBackground(store);
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !QFile::exists(leftover); }, 20000));
    EXPECT_TRUE(QFile::exists(store));
}

// With a stream, the store is read on the stream's thread: the constructor does not wait for a
// busy disk, the list fills in afterwards, and until then the store is never overwritten.
TEST_F(StoreLeftoversTest, StoreIsReadOnTheStreamThreadAndNeverOverwrittenBeforeThat)
{
    const QString file = root + "/docs/report.txt";
    writeFile(file, "report");
    const QString store = root + "/recentItems.plist";
    const QByteArray stored = recentStore(file);
    writeFile(store, stored);
    const QString leftover = store + ".AbCdEf";
    writeFile(leftover, QByteArray());
    makeOld(leftover);

    FileSystemEventStream stream(root + "/.stream-state");
    // Keep the stream's thread busy, as a slow disk would.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> blocked{false};
    QThread *streamThread = nullptr;
    stream.performOnWorkerThread([&, released] {
        streamThread = QThread::currentThread();
        blocked = true;
        released.wait();
    });
    ASSERT_TRUE(KelsoTest::waitFor([&] { return blocked.load(); }, 20000));

    Defaults defaults(root + "/settings.plist");
    KLSettings::setupDefaults(defaults);
    KLRecentFiles::Options o;
    o.defaults = &defaults;
    o.storePath = store;
    o.stream = &stream;
    o.startStream = false;
    o.startOpenedFilesQuery = false;
    o.primeListingCache = false;
    auto collector = std::make_unique<KLRecentFiles>(o);
    EXPECT_NE(streamThread, QThread::currentThread());
    EXPECT_FALSE(collector->storeLoaded());
    EXPECT_EQ(collector->eventCount(), 0);
    EXPECT_TRUE(QFile::exists(leftover));
    // An opened file noticed meanwhile is kept when the store arrives.
    const QString opened = root + "/docs/opened.txt";
    writeFile(opened, "opened");
    collector->addPathsToEvents({opened});
    EXPECT_EQ(collector->eventCount(), 1);
    // A deactivation now must not replace the store by the partial list.
    EXPECT_FALSE(collector->writeState());
    EXPECT_EQ(readAll(store), stored);

    release.set_value();
    ASSERT_TRUE(collector->waitForStoreLoaded(20000));
    EXPECT_FALSE(QFile::exists(leftover));
    ASSERT_EQ(collector->eventCount(), 2);
    QSet<QString> paths;
    for (const KLRecentEvent &e : collector->pastEvents())
        paths.insert(e.files.first()->lastKnownPath());
    EXPECT_EQ(paths, (QSet<QString>{file, opened}));
    EXPECT_EQ(collector->pastEvents().first().files.first()->lastKnownPath(), opened); // newest first
    ASSERT_TRUE(collector->writeState());
    EXPECT_NE(readAll(store), stored);
    collector.reset();
}

// A collector destroyed while its start-up job still waits in the stream's queue: the job
// never runs on the destroyed object.
TEST_F(StoreLeftoversTest, CollectorGoneBeforeItsStartUpRan)
{
    FileSystemEventStream stream(root + "/.stream-state");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> blocked{false};
    stream.performOnWorkerThread([&, released] {
        blocked = true;
        released.wait();
    });
    ASSERT_TRUE(KelsoTest::waitFor([&] { return blocked.load(); }, 20000));
    Defaults defaults(root + "/settings.plist");
    KLSettings::setupDefaults(defaults);
    KLRecentFiles::Options o;
    o.defaults = &defaults;
    o.storePath = root + "/recentItems.plist";
    o.stream = &stream;
    o.startStream = false;
    o.startOpenedFilesQuery = false;
    o.primeListingCache = false;
    auto collector = std::make_unique<KLRecentFiles>(o);
    collector.reset();
    release.set_value();
    std::atomic<bool> after{false};
    stream.performOnWorkerThread([&] { after = true; });
    EXPECT_TRUE(KelsoTest::waitFor([&] { return after.load(); }, 20000));
    EXPECT_FALSE(QFile::exists(root + "/recentItems.plist"));
}
