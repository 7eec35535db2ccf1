// Live queries on a real index in a temporary folder: a bad text, gathering in index order with
// scope and maximum count, live additions and removals through the index service's crawler,
// updates held back while disabled, and stopping mid-run.
#include "platform/mdindex/MdStore.h"
#include "search/KLMetadataIndex.h"
#include "search/KLMetadataQuery.h"
#include "search/KLSearchQueryText.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/mount.h>
#include <thread>

using MdIndex::FileRecord;

namespace {

QStringList pathsOf(const QList<FileRecord> &list)
{
    QStringList out;
    for (const FileRecord &r : list)
        out.append(r.path);
    return out;
}

class MetadataQueryTest : public ::testing::Test
{
protected:
    QTemporaryDir tmp{KelsoTest::home() + QStringLiteral("/query-XXXXXX")};
    QString db = tmp.path() + QStringLiteral("/index.sqlite3");
    MdIndex::Store store;

    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(store.open(db, MdIndex::Store::Mode::ReadWrite, &error)) << error.toStdString();
    }
    void add(const QString &path, qint64 modifiedMs = 1000)
    {
        FileRecord r;
        r.path = path;
        r.name = r.displayName = path.section(QLatin1Char('/'), -1);
        r.size = 1;
        r.modifiedMs = modifiedMs;
        ASSERT_NE(store.upsertStat(r, 1), 0);
    }
    void addAll(const QStringList &paths)
    {
        ASSERT_TRUE(store.begin());
        for (const QString &p : paths)
            add(p);
        ASSERT_TRUE(store.commit());
    }
    static bool waitFinished(KLMetadataQuery &q)
    {
        return KelsoTest::waitFor([&q] { return !q.isGathering(); }, 10000);
    }
};

} // namespace

TEST_F(MetadataQueryTest, TextThatDoesNotParseGivesAnErrorAndNoResults)
{
    for (const QString &bad : {QStringLiteral("kMDItemDisplayName == "), QStringLiteral("(( a == \"x\""),
                               QStringLiteral("a === \"x\""), QStringLiteral("x == $time.tomorrow")}) {
        KLMetadataQuery q(bad, db);
        EXPECT_FALSE(q.isValid()) << bad.toStdString();
        EXPECT_FALSE(q.errorString().isEmpty());
        QSignalSpy finished(&q, &KLMetadataQuery::finished);
        EXPECT_FALSE(q.execute());
        QCoreApplication::processEvents();
        EXPECT_EQ(finished.count(), 0);
        EXPECT_TRUE(q.results().isEmpty());
    }
}

TEST_F(MetadataQueryTest, GathersInIndexOrderWithinScopeUpToTheMaximum)
{
    addAll({QStringLiteral("/h/a/report1"), QStringLiteral("/h/b/report2"), QStringLiteral("/h/a/report3"),
            QStringLiteral("/h/ab/report4"), QStringLiteral("/h/a/sub/report5"), QStringLiteral("/h/a/other")});
    const QString text = KLSearchQueryText::nameQuery({QStringLiteral("report"), 0, 0});
    {
        KLMetadataQuery q(text, db);
        QSignalSpy progress(&q, &KLMetadataQuery::progress), finished(&q, &KLMetadataQuery::finished);
        ASSERT_TRUE(q.execute());
        EXPECT_FALSE(q.execute()); // once only
        ASSERT_TRUE(waitFinished(q));
        EXPECT_EQ(progress.count(), 1);
        EXPECT_EQ(finished.count(), 1);
        EXPECT_EQ(pathsOf(q.results()),
                  (QStringList{"/h/a/report1", "/h/b/report2", "/h/a/report3", "/h/ab/report4", "/h/a/sub/report5"}));
    }
    {
        // "/h/a" covers its subfolders but not "/h/ab".
        KLMetadataQuery q(text, db);
        q.setSearchScopes({QStringLiteral("/h/a/")});
        ASSERT_TRUE(q.execute());
        ASSERT_TRUE(waitFinished(q));
        EXPECT_EQ(pathsOf(q.results()), (QStringList{"/h/a/report1", "/h/a/report3", "/h/a/sub/report5"}));
    }
    {
        KLMetadataQuery q(text, db);
        q.setMaxCount(2);
        ASSERT_TRUE(q.execute());
        ASSERT_TRUE(waitFinished(q));
        EXPECT_EQ(pathsOf(q.results()), (QStringList{"/h/a/report1", "/h/b/report2"}));
    }
}

TEST_F(MetadataQueryTest, AQueryStartedBeforeTheIndexExistsPicksItUpLater)
{
    store.close();
    QFile::remove(db);
    const QString later = tmp.path() + QStringLiteral("/later.sqlite3");
    KLMetadataQuery q(KLSearchQueryText::nameQuery({QStringLiteral("late"), 0, 0}), later);
    QSignalSpy updated(&q, &KLMetadataQuery::updated);
    ASSERT_TRUE(q.execute());
    ASSERT_TRUE(waitFinished(q));
    EXPECT_TRUE(q.results().isEmpty());
    QString error;
    MdIndex::Store writer;
    ASSERT_TRUE(writer.open(later, MdIndex::Store::Mode::ReadWrite, &error));
    FileRecord r;
    r.path = QStringLiteral("/h/late.txt");
    r.name = r.displayName = QStringLiteral("late.txt");
    ASSERT_NE(writer.upsertStat(r, 1), 0);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return updated.count() > 0; }, 10000));
    EXPECT_EQ(pathsOf(q.results()), QStringList{"/h/late.txt"});
}

TEST_F(MetadataQueryTest, FilesCreatedAndRemovedWhileItRunsComeAndGo)
{
    const QString root = tmp.path() + QStringLiteral("/tree");
    KelsoTest::writeFile(root + QStringLiteral("/Harvest plan.txt"), "autumn");
    KelsoTest::writeFile(root + QStringLiteral("/other.txt"), "nothing");
    store.close();
    const QString indexDb = tmp.path() + QStringLiteral("/live.sqlite3");
    KLMetadataIndex index(indexDb);
    MdIndex::CrawlRules rules;
    rules.roots = {root};
    QSignalSpy crawled(&index, &KLMetadataIndex::firstCrawlFinished);
    index.start(rules);
    EXPECT_TRUE(index.isRunning());
    // The quiet line shows from the start, before the crawler's thread has read a folder.
    EXPECT_TRUE(index.progressText().startsWith(QStringLiteral("Indexing"))) << index.progressText().toStdString();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return crawled.count() == 1; }, 15000));
    EXPECT_GE(index.progress().files, 2);
    EXPECT_TRUE(index.progressText().isEmpty());

    KLMetadataQuery q(KLSearchQueryText::nameQuery({QStringLiteral("harvest"), 0, 0}), indexDb);
    ASSERT_TRUE(q.execute());
    ASSERT_TRUE(waitFinished(q));
    ASSERT_EQ(pathsOf(q.results()), QStringList{root + "/Harvest plan.txt"});

    QSignalSpy updated(&q, &KLMetadataQuery::updated);
    const QString created = root + QStringLiteral("/harvest notes.md");
    KelsoTest::writeFile(created, "x");
    index.enqueue({{created, MdIndex::ChangeKind::Created}});
    ASSERT_TRUE(KelsoTest::waitFor([&] { return q.resultCount() == 2; }, 10000));
    ASSERT_GE(updated.count(), 1);
    EXPECT_EQ(pathsOf(updated.last().at(0).value<QList<FileRecord>>()), QStringList{created});

    QFile::remove(root + QStringLiteral("/Harvest plan.txt"));
    index.enqueue({{root + QStringLiteral("/Harvest plan.txt"), MdIndex::ChangeKind::Removed}});
    ASSERT_TRUE(KelsoTest::waitFor([&] { return q.resultCount() == 1; }, 10000));
    EXPECT_EQ(pathsOf(updated.last().at(2).value<QList<FileRecord>>()), QStringList{root + "/Harvest plan.txt"});
    EXPECT_EQ(pathsOf(q.results()), QStringList{created});
}

TEST_F(MetadataQueryTest, UpdatesWaitWhileDisabledAndArriveWhenEnabled)
{
    addAll({QStringLiteral("/h/one.log")});
    KLMetadataQuery q(KLSearchQueryText::nameQuery({QStringLiteral("log"), 0, 0}), db);
    ASSERT_TRUE(q.execute());
    ASSERT_TRUE(waitFinished(q));
    ASSERT_EQ(q.resultCount(), 1);
    QSignalSpy updated(&q, &KLMetadataQuery::updated);
    q.disableUpdates();
    q.disableUpdates(); // nests
    addAll({QStringLiteral("/h/two.log")});
    // Long enough for several of the worker's checks.
    KelsoTest::waitFor([] { return false; }, 1500);
    EXPECT_EQ(updated.count(), 0);
    EXPECT_EQ(q.resultCount(), 1);
    q.enableUpdates();
    EXPECT_EQ(updated.count(), 0);
    q.enableUpdates();
    ASSERT_EQ(updated.count(), 1);
    EXPECT_EQ(pathsOf(q.results()), (QStringList{"/h/one.log", "/h/two.log"}));
}

TEST_F(MetadataQueryTest, StoppingMidRunEndsTheWorkerAndDeliversNothing)
{
    ASSERT_TRUE(store.begin());
    for (int i = 0; i < 60000; ++i)
        add(QStringLiteral("/h/f%1/file%2.dat").arg(i % 100).arg(i));
    ASSERT_TRUE(store.commit());
    const int before = KLMetadataQuery::activeWorkers();
    // No name literal: every row is read and checked.
    KLMetadataQuery q(QStringLiteral("kMDItemFSSize > 0 && kMDItemFSName != \"*zz*\""), db);
    QSignalSpy finished(&q, &KLMetadataQuery::finished);
    ASSERT_TRUE(q.execute());
    EXPECT_EQ(KLMetadataQuery::activeWorkers(), before + 1);
    q.stop();
    q.stop();
    EXPECT_FALSE(q.isRunning());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return KLMetadataQuery::activeWorkers() == before; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(q.results().isEmpty());
}

TEST(MetadataIndexRules, ExclusionSettingsBecomeTheCrawlersRules)
{
    KLRules::Snapshot exclusions;
    exclusions.unwantedDirectories = {QStringLiteral("/h/Private/"), QStringLiteral("relative/ignored")};
    exclusions.unwantedItems = {QStringLiteral("/h/one-file.txt")};
    exclusions.unwantedExtensions = {QStringLiteral("tmp"), QString()};
    exclusions.unwantedPathFragments = {QStringLiteral("/node_modules/"), QStringLiteral("cache"),
                                        QStringLiteral("/a/b/"), QStringLiteral("/")};
    const MdIndex::CrawlRules rules = KLMetadataIndex::rulesFor({QStringLiteral("/h")}, exclusions);
    EXPECT_EQ(rules.roots, QStringList{"/h"});
    EXPECT_EQ(rules.excludedFolders, (QStringList{"/h/Private", "/h/one-file.txt"}));
    EXPECT_EQ(rules.excludedNamePatterns, (QStringList{"*.tmp", "node_modules", "*cache*"}));
    EXPECT_FALSE(rules.recentlyUsedFile.isEmpty());

    // An attribute bit in a folder record asks for tags and ratings too.
    EXPECT_EQ(KLMetadataIndex::changeForRecord(QStringLiteral("/h/d"), 0x100).kind, MdIndex::ChangeKind::FolderChanged);
    EXPECT_EQ(KLMetadataIndex::changeForRecord(QStringLiteral("/h/d"), 0x104).kind,
              MdIndex::ChangeKind::FolderAttributesChanged);
    EXPECT_EQ(KLMetadataIndex::changeForRecord(QStringLiteral("/h/d"), 0x4).path, QStringLiteral("/h/d"));
}

TEST(MetadataIndexRules, ExcludedNamesStayOutOfACrawl)
{
    QTemporaryDir tmp(KelsoTest::home() + QStringLiteral("/rules-XXXXXX"));
    const QString root = tmp.path() + QStringLiteral("/tree");
    KelsoTest::writeFile(root + QStringLiteral("/keep.txt"));
    KelsoTest::writeFile(root + QStringLiteral("/junk.tmp"));
    KelsoTest::writeFile(root + QStringLiteral("/node_modules/dep.js"));
    KelsoTest::writeFile(root + QStringLiteral("/mycache1/x.txt"));
    KelsoTest::writeFile(root + QStringLiteral("/Private/secret.txt"));
    KLRules::Snapshot exclusions;
    exclusions.unwantedDirectories = {root + QStringLiteral("/Private")};
    exclusions.unwantedExtensions = {QStringLiteral("tmp")};
    exclusions.unwantedPathFragments = {QStringLiteral("/node_modules/"), QStringLiteral("cache")};
    MdIndex::Crawler crawler(tmp.path() + QStringLiteral("/index.sqlite3"),
                             KLMetadataIndex::rulesFor({root}, exclusions));
    ASSERT_TRUE(crawler.openStore(nullptr));
    ASSERT_TRUE(crawler.crawlNames());
    EXPECT_TRUE(crawler.store().byPath(root + QStringLiteral("/keep.txt")).has_value());
    for (const char *gone : {"/junk.tmp", "/node_modules", "/node_modules/dep.js", "/mycache1/x.txt", "/Private"})
        EXPECT_FALSE(crawler.store().byPath(root + QLatin1String(gone)).has_value()) << gone;
}

namespace {

class MetadataIndexRestart : public ::testing::Test
{
protected:
    QTemporaryDir tmp{KelsoTest::home() + QStringLiteral("/restart-XXXXXX")};
    QString root = tmp.path() + QStringLiteral("/tree");
    QString indexDb = tmp.path() + QStringLiteral("/index.sqlite3");

    void SetUp() override
    {
        KelsoTest::writeFile(root + QStringLiteral("/keep.txt"), "kept");
        KelsoTest::writeFile(root + QStringLiteral("/Private/secret.txt"), "secret");
    }
    MdIndex::CrawlRules rules(const QStringList &excluded = {}) const
    {
        MdIndex::CrawlRules r;
        r.roots = {root};
        r.excludedFolders = excluded;
        return r;
    }
    static bool indexed(const QString &db, const QString &path)
    {
        MdIndex::Store reader;
        return reader.open(db, MdIndex::Store::Mode::ReadOnly, nullptr) && reader.byPath(path).has_value();
    }
};

} // namespace

TEST_F(MetadataIndexRestart, AnExclusionChangeReturnsAtOnceWhileTheOldCrawlerIsBusy)
{
    KLMetadataIndex index(indexDb);
    QSignalSpy crawled(&index, &KLMetadataIndex::firstCrawlFinished);
    index.start(rules());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return crawled.count() == 1; }, 15000));
    ASSERT_TRUE(indexed(indexDb, root + QStringLiteral("/Private/secret.txt")));

    // Another connection holds the write lock: the crawler, handed a change, waits for it
    // (up to SQLite's busy timeout of five seconds) and cannot stop before that.
    MdIndex::Store holder;
    ASSERT_TRUE(holder.open(indexDb, MdIndex::Store::Mode::ReadWrite, nullptr));
    ASSERT_TRUE(holder.begin());
    index.enqueue({{root + QStringLiteral("/keep.txt"), MdIndex::ChangeKind::Modified}});
    QThread::msleep(300);

    QElapsedTimer t;
    t.start();
    index.start(rules({root + QStringLiteral("/Private")}));
    const qint64 ms = t.elapsed();
    holder.commit();
    EXPECT_LT(ms, 1000) << "the caller waited for the old crawler";
    EXPECT_TRUE(index.isRunning());

    // The new crawler runs with the new exclusion, and its walk removes what it now leaves out.
    ASSERT_TRUE(KelsoTest::waitFor([&] { return crawled.count() == 2; }, 20000));
    EXPECT_EQ(index.rules().excludedFolders, QStringList{root + QStringLiteral("/Private")});
    EXPECT_FALSE(indexed(indexDb, root + QStringLiteral("/Private/secret.txt")));
    EXPECT_TRUE(indexed(indexDb, root + QStringLiteral("/keep.txt")));
}

TEST_F(MetadataIndexRestart, TheRulesAndRootsAreMadeOffTheCallersThread)
{
    KLMetadataIndex index(indexDb);
    std::atomic<bool> made{false};
    std::atomic<bool> onCaller{true};
    const std::thread::id caller = std::this_thread::get_id();
    QSignalSpy crawled(&index, &KLMetadataIndex::firstCrawlFinished);
    index.start([&, r = rules()] {
        onCaller = std::this_thread::get_id() == caller;
        made = true;
        return r;
    });
    ASSERT_TRUE(KelsoTest::waitFor([&] { return crawled.count() == 1; }, 15000));
    EXPECT_TRUE(made);
    EXPECT_FALSE(onCaller);
    EXPECT_TRUE(indexed(indexDb, root + QStringLiteral("/keep.txt")));

    // The same rules again: the running crawler is kept (no second walk).
    const qint64 files = index.progress().files;
    index.start(rules());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !index.isFirstCrawlRunning(); }, 5000));
    EXPECT_EQ(index.progress().files, files);
    index.stop();
    EXPECT_FALSE(index.isRunning());
}

namespace {

// Warnings of the index's log category, from any thread.
std::mutex g_logMutex;
QStringList g_indexWarnings;
QtMessageHandler g_previousHandler = nullptr;

void collectIndexWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && context.category && QByteArray(context.category) == "kelso.mdindex") {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_indexWarnings.append(message);
    }
    g_previousHandler(type, context, message);
}

QStringList indexWarnings()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_indexWarnings;
}

} // namespace

TEST(MetadataIndexFullDisk, AFullDiskStopsIndexingWithOneLineAndTheOldIndexStaysReadable)
{
    QTemporaryDir tmp(KelsoTest::home() + QStringLiteral("/fulldisk-XXXXXX"));
    const QString cache = tmp.path() + QStringLiteral("/cache");
    QDir().mkpath(cache);
    if (::mount("tmpfs", QFile::encodeName(cache).constData(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << strerror(errno) << "): the full-disk case needs root";
    struct Unmount {
        QString at;
        ~Unmount() { ::umount2(QFile::encodeName(at).constData(), MNT_DETACH); }
    } unmount{cache};
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    struct RestoreEnv {
        QByteArray value;
        ~RestoreEnv() { qputenv("XDG_CACHE_HOME", value); }
    } restore{oldCache};
    ASSERT_TRUE(MdIndex::Store::defaultPath().startsWith(cache));

    const QString root = tmp.path() + QStringLiteral("/tree");
    for (int i = 0; i < 20; ++i)
        KelsoTest::writeFile(root + QStringLiteral("/old/harvest %1.txt").arg(i), "autumn");
    auto harvestCount = [&] {
        KLMetadataQuery q(KLSearchQueryText::nameQuery({QStringLiteral("harvest"), 0, 0}),
                          MdIndex::Store::defaultPath());
        q.setMaxCount(100);
        q.setLive(false);
        EXPECT_TRUE(q.execute());
        EXPECT_TRUE(KelsoTest::waitFor([&q] { return !q.isGathering(); }, 10000));
        return q.resultCount();
    };
    MdIndex::CrawlRules rules;
    rules.roots = {root};
    g_previousHandler = qInstallMessageHandler(collectIndexWarnings);
    struct RestoreHandler {
        ~RestoreHandler() { qInstallMessageHandler(g_previousHandler); }
    } restoreHandler;
    {
        KLMetadataIndex index; // the index under XDG_CACHE_HOME
        QSignalSpy crawled(&index, &KLMetadataIndex::firstCrawlFinished);
        index.start(rules);
        ASSERT_TRUE(KelsoTest::waitFor([&] { return crawled.count() == 1; }, 15000));
        ASSERT_FALSE(index.progress().diskFull);
        ASSERT_TRUE(indexWarnings().isEmpty()) << indexWarnings().join(QLatin1Char('\n')).toStdString();

        // The disk fills while Kelso runs; then a folder of many files arrives.
        {
            QFile filler(cache + QStringLiteral("/filler"));
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
        for (int i = 0; i < 3000; ++i)
            KelsoTest::writeFile(root + QStringLiteral("/new/a rather long file name to fill the pages %1.txt").arg(i));
        index.enqueue({{root + QStringLiteral("/new"), MdIndex::ChangeKind::Created}});
        ASSERT_TRUE(KelsoTest::waitFor([&] { return index.progress().diskFull; }, 20000)) << "the disk never filled";
        // Live changes after that write nothing and log nothing more.
        index.enqueue({{root + QStringLiteral("/new"), MdIndex::ChangeKind::FolderChanged},
                       {root + QStringLiteral("/old/harvest 1.txt"), MdIndex::ChangeKind::Modified}});
        QThread::msleep(500);
        const QStringList lines = indexWarnings();
        EXPECT_EQ(lines.size(), 1) << lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(!lines.isEmpty() && lines.first().contains(QStringLiteral("full")));
        // The index as it was is still there to read, from another connection too.
        EXPECT_EQ(harvestCount(), 20);
        index.stop();
    }

    // Started again on the full disk: the crawler cannot open the index, says so once, and
    // leaves the file alone (it is not taken for a damaged one and made anew).
    {
        KLMetadataIndex index;
        QSignalSpy crawled(&index, &KLMetadataIndex::firstCrawlFinished);
        index.start(rules);
        ASSERT_TRUE(KelsoTest::waitFor([&] { return crawled.count() == 1; }, 15000));
        EXPECT_TRUE(index.progressText().isEmpty()); // no quiet line stuck at "Indexing…"
        index.stop();
    }
    EXPECT_EQ(indexWarnings().size(), 2) << indexWarnings().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(QFile::remove(cache + QStringLiteral("/filler")));
    EXPECT_EQ(harvestCount(), 20);
}
