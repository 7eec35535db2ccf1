// Opened files: the recently-used.xbel reader (current and older formats, broken input, names
// that are not UTF-8), the live source watching the folders, and the collector's update
// handling with its caps, the shutting-down flag and the KLIncludeFileOpenedEvents switch.
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "recent/FileSystemEventStream.h"
#include "recent/KLOpenedFilesSource.h"
#include "recent/KLRecentFiles.h"
#include "support/TestSupport.h"
#include "util/KLProcessFlags.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QUrl>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/time.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

QString iso(KLTime t)
{
    return KLTimeUtil::toDateTime(t).toUTC().toString(Qt::ISODateWithMs);
}

QByteArray bookmark(const QString &path, KLTime visited, KLTime modified = 0)
{
    const QByteArray href = QUrl::fromLocalFile(path).toEncoded();
    return "  <bookmark href=\"" + href + "\" added=\"" + iso(visited - 100).toUtf8() + "\" modified=\"" +
           iso(modified ? modified : visited - 50).toUtf8() + "\" visited=\"" + iso(visited).toUtf8() +
           "\">\n    <info><metadata owner=\"http://freedesktop.org\">\n"
           "      <mime:mime-type type=\"text/plain\"/>\n"
           "      <bookmark:applications><bookmark:application name=\"gedit\" exec=\"&apos;gedit %u&apos;\" "
           "modified=\"" +
           iso(visited - 50).toUtf8() +
           "\" count=\"1\"/></bookmark:applications>\n"
           "    </metadata></info>\n  </bookmark>\n";
}

QByteArray xbel(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<xbel version=\"1.0\" xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\" "
           "xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
           body + "</xbel>\n";
}

// Writers replace the file by rename; so do the tests.
void replaceFile(const QString &path, const QByteArray &content)
{
    writeFile(path + ".new", content);
    ::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData());
}

} // namespace

TEST(RecentlyUsedParseTest, ReadsVisitedModifiedAndApplicationTimes)
{
    const KLTime t = KLTimeUtil::fromUnix(1700000000);
    const QList<KLRecentlyUsedEntry> entries = KLOpenedFilesSource::parseRecentlyUsed(
        xbel(bookmark("/home/u/a b.txt", t) + bookmark("/home/u/modified-later.txt", t, t + 30) +
             "  <bookmark href=\"https://example.org/page\" visited=\"2023-11-14T22:13:20Z\"/>\n"));
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].path, "/home/u/a b.txt");
    EXPECT_NEAR(entries[0].time, t, 0.01);
    EXPECT_NEAR(entries[1].time, t + 30, 0.01) << "the latest of the times";
}

TEST(RecentlyUsedParseTest, ReadsTheOlderPerApplicationTimestamp)
{
    const QByteArray old = xbel(
        "  <bookmark href=\"file:///home/u/old%20style.odt\" added=\"2008-01-01T00:00:00Z\">\n"
        "    <info><metadata owner=\"http://freedesktop.org\"><bookmark:applications>\n"
        "      <bookmark:application name=\"oowriter\" exec=\"ooffice %u\" timestamp=\"1200000000\" count=\"3\"/>\n"
        "      <bookmark:application name=\"abiword\" exec=\"abiword %u\" timestamp=\"1200000500\" count=\"1\"/>\n"
        "    </bookmark:applications></metadata></info>\n  </bookmark>\n");
    const QList<KLRecentlyUsedEntry> entries = KLOpenedFilesSource::parseRecentlyUsed(old);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].path, "/home/u/old style.odt");
    EXPECT_DOUBLE_EQ(entries[0].time, KLTimeUtil::fromUnix(1200000500));
}

TEST(RecentlyUsedParseTest, BrokenInputKeepsWhatParsedAndSkipsBadNames)
{
    const KLTime t = KLTimeUtil::fromUnix(1700000000);
    QByteArray truncated = xbel(bookmark("/home/u/first.txt", t) + bookmark("/home/u/second.txt", t));
    truncated.chop(truncated.size() - truncated.lastIndexOf("<bookmark:applications>", truncated.size() - 30));
    const QList<KLRecentlyUsedEntry> entries = KLOpenedFilesSource::parseRecentlyUsed(truncated);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].path, "/home/u/first.txt");

    int skipped = 0;
    const QList<KLRecentlyUsedEntry> bad = KLOpenedFilesSource::parseRecentlyUsed(
        xbel("  <bookmark href=\"file:///home/u/bad-%FF%FE.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"
             "  <bookmark href=\"file:///home/u/ok-%C3%A9.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"),
        &skipped);
    ASSERT_EQ(bad.size(), 1);
    EXPECT_EQ(bad[0].path, QString("/home/u/ok-") + QChar(0xE9) + ".txt");
    EXPECT_EQ(skipped, 1);

    EXPECT_TRUE(KLOpenedFilesSource::parseRecentlyUsed("not xml at all <<<").isEmpty());
    EXPECT_TRUE(KLOpenedFilesSource::parseRecentlyUsed(QByteArray()).isEmpty());
}

TEST(RecentlyUsedParseTest, OnlyThisMachinesFilesAreLocal)
{
    // "file:///p" and "file://localhost/p" name this machine's files; a URL with another host
    // names a file over there, whose path here may well be some other file.
    int skipped = 0;
    const QList<KLRecentlyUsedEntry> entries = KLOpenedFilesSource::parseRecentlyUsed(
        xbel("  <bookmark href=\"file:///home/u/here.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"
             "  <bookmark href=\"file://localhost/home/u/local.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"
             "  <bookmark href=\"file://LOCALHOST/home/u/upper.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"
             "  <bookmark href=\"file://otherhost/home/u/there.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"
             "  <bookmark href=\"file://nas.example.org/etc/passwd\" visited=\"2023-11-14T22:13:20Z\"/>\n"
             "  <bookmark href=\"file://otherhost/home/u/bad-%FF.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n"),
        &skipped);
    QStringList paths;
    for (const KLRecentlyUsedEntry &e : entries)
        paths.append(e.path);
    EXPECT_EQ(paths.join(' ').toStdString(), "/home/u/here.txt /home/u/local.txt /home/u/upper.txt");
    EXPECT_EQ(skipped, 0) << "another host's names are not counted as names that are not UTF-8";
}

// The opened-files query, started, with a spy on its updates, and read once more (what was
// there before the start is not an update).
struct StartedQuery {
    std::unique_ptr<KLOpenedFilesQuery> query;
    std::unique_ptr<QSignalSpy> spy;
    KLOpenedFilesSource *source() const { return static_cast<KLOpenedFilesSource *>(query.get()); }
    void start()
    {
        query = KLOpenedFilesQuery::create(KLOpenedFilesQuery::kOpenedFilesQueryText);
        ASSERT_TRUE(query);
        spy = std::make_unique<QSignalSpy>(query.get(), &KLOpenedFilesQuery::updated);
        ASSERT_TRUE(query->execute());
        source()->rereadNow();
    }
};

TEST(OpenedFilesSourceTest, ReportsOpeningsAfterTheStartFromAllFiles)
{
    EXPECT_FALSE(KLOpenedFilesQuery::create("kMDItemFSName == 'x'")) << "only the opened-files query is answered";
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    const QString mainFile = dataHome + "/recently-used.xbel";
    const QString flatpakFile = home() + "/.var/app/org.example.Editor/data/recently-used.xbel";
    const KLTime before = KLTimeUtil::now() - 3600;
    replaceFile(mainFile, xbel(bookmark(home() + "/Documents/opened-before.txt", before)));
    QDir().mkpath(QFileInfo(flatpakFile).absolutePath());

    StartedQuery started;
    ASSERT_NO_FATAL_FAILURE(started.start());
    KLOpenedFilesQuery *query = started.query.get();
    KLOpenedFilesSource *source = started.source();
    QSignalSpy &spy = *started.spy;
    EXPECT_EQ(spy.count(), 0) << "what was opened before the start is not reported";

    // Opened now in a desktop application and in a sandboxed one; the folder watch notices.
    const KLTime now = KLTimeUtil::now() + 1;
    replaceFile(mainFile,
                xbel(bookmark(home() + "/Documents/opened-before.txt", before) +
                     bookmark(home() + "/Documents/letter.odt", now) + bookmark("/srv/outside-home.txt", now)));
    replaceFile(flatpakFile, xbel(bookmark(home() + "/Pictures/photo.jpg", now)));
    auto reportedPaths = [&] {
        QStringList paths;
        for (const QList<QVariant> &args : std::as_const(spy)) {
            const QVariantMap info = args.at(0).toMap();
            for (const QString &key : {KLOpenedFilesQuery::kUpdateAddedItems, KLOpenedFilesQuery::kUpdateChangedItems})
                for (const QVariant &item : info.value(key).toList())
                    paths.append(KLRecentFiles::mdItemToPath(item));
        }
        paths.sort();
        return paths;
    };
    ASSERT_TRUE(KelsoTest::waitFor([&] { return reportedPaths().size() >= 2; }, 20000));
    EXPECT_EQ(reportedPaths(), QStringList({home() + "/Documents/letter.odt", home() + "/Pictures/photo.jpg"}));

    // The same entries again: nothing new. A later visit: a change.
    spy.clear();
    source->rereadNow();
    replaceFile(mainFile, xbel(bookmark(home() + "/Documents/letter.odt", now)));
    source->rereadNow();
    EXPECT_EQ(spy.count(), 0);
    replaceFile(mainFile, xbel(bookmark(home() + "/Documents/letter.odt", now + 20)));
    source->rereadNow();
    ASSERT_EQ(spy.count(), 1);
    const QVariantMap info = spy.first().at(0).toMap();
    EXPECT_TRUE(info.value(KLOpenedFilesQuery::kUpdateAddedItems).toList().isEmpty());
    ASSERT_EQ(info.value(KLOpenedFilesQuery::kUpdateChangedItems).toList().size(), 1);
    query->stop();
}

namespace {

QStringList g_badNameLines;
std::mutex g_badNameLinesMutex;

void keepBadNameLines(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::lock_guard lock(g_badNameLinesMutex);
    if (message.contains(QLatin1String("not valid UTF-8")))
        g_badNameLines.append(message);
}

} // namespace

TEST(OpenedFilesSourceTest, EntriesThatAreNotUtf8AreLoggedOnceForEachCount)
{
    const QString mainFile = qEnvironmentVariable("XDG_DATA_HOME") + "/recently-used.xbel";
    const QByteArray bad = "  <bookmark href=\"file:///home/u/bad-%FF.txt\" visited=\"2023-11-14T22:13:20Z\"/>\n";
    replaceFile(mainFile, xbel(bad));
    g_badNameLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepBadNameLines);
    StartedQuery started;
    ASSERT_NO_FATAL_FAILURE(started.start());
    // Every program's opening rewrites the file; the same bad entry is still in it.
    for (int i = 1; i <= 3; ++i) {
        replaceFile(mainFile, xbel(bad + bookmark(home() + "/Documents/o" + QString::number(i), KLTimeUtil::now())));
        started.source()->rereadNow();
    }
    const QStringList sameEntry = g_badNameLines;
    replaceFile(mainFile, xbel(bad + bad));
    started.source()->rereadNow();
    started.query->stop();
    qInstallMessageHandler(previous);
    ASSERT_EQ(sameEntry.size(), 1) << qPrintable(sameEntry.join('\n'));
    EXPECT_TRUE(sameEntry.first().contains("skipped 1 ")) << qPrintable(sameEntry.first());
    ASSERT_EQ(g_badNameLines.size(), 2) << qPrintable(g_badNameLines.join('\n'));
    EXPECT_TRUE(g_badNameLines.last().contains("skipped 2 ")) << qPrintable(g_badNameLines.last());
}

TEST(OpenedFilesSourceTest, SandboxedApplicationInstalledLaterIsFoundAndWatched)
{
    // ~/.var/app is listed by the reads on the worker; a folder found there is watched from
    // then on, so later changes in it are noticed without waiting for the minutely look-again.
    const QString apps = home() + "/.var/app";
    // Nothing of the earlier tests of this process: their lists would come in as updates.
    QDir(apps).removeRecursively();
    QFile::remove(qEnvironmentVariable("XDG_DATA_HOME", home() + "/.local/share") + "/recently-used.xbel");
    QDir().mkpath(apps);
    StartedQuery started;
    ASSERT_NO_FATAL_FAILURE(started.start());
    KLOpenedFilesQuery *query = started.query.get();
    QSignalSpy &spy = *started.spy;
    ASSERT_EQ(spy.count(), 0);

    const QString file = apps + "/org.example.Later/data/recently-used.xbel";
    QDir().mkpath(QFileInfo(file).absolutePath());
    replaceFile(file, xbel(bookmark(home() + "/Documents/later.txt", KLTimeUtil::now() + 1)));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return spy.count() >= 1; }, 20000)) << "the new application was not found";

    const int seen = int(spy.count());
    replaceFile(file, xbel(bookmark(home() + "/Documents/later.txt", KLTimeUtil::now() + 30)));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return spy.count() > seen; }, 20000)) << "its folder is not watched";
    const QVariantMap info = spy.last().at(0).toMap();
    ASSERT_EQ(info.value(KLOpenedFilesQuery::kUpdateChangedItems).toList().size(), 1);
    EXPECT_EQ(KLRecentFiles::mdItemToPath(info.value(KLOpenedFilesQuery::kUpdateChangedItems).toList().first()),
              home() + "/Documents/later.txt");
    query->stop();
}

namespace {

class OpenedEventsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ++s_counter;
        root = home() + "/opened/" + QString::number(s_counter);
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        defaults = std::make_unique<Defaults>(root + "/settings.plist");
        KLSettings::setupDefaults(*defaults);
        collector = std::make_unique<KLRecentFiles>(quietOptions(root + "/recentItems.plist"));
    }
    void TearDown() override { KLProcessFlags::setShuttingDown(false); }
    // A collector on this test's settings and store, with no stream, query or priming of its own.
    KLRecentFiles::Options quietOptions(const QString &storePath) const
    {
        KLRecentFiles::Options o;
        o.defaults = defaults.get();
        o.storePath = storePath;
        o.useDefaultStream = false;
        o.startStream = false;
        o.startOpenedFilesQuery = false;
        o.primeListingCache = false;
        return o;
    }
    static QVariantMap update(const QStringList &added, const QStringList &changed = {})
    {
        QVariantList a, c;
        for (const QString &p : added)
            a.append(QVariantMap{{KLOpenedFilesQuery::kItemPath, p}});
        for (const QString &p : changed)
            c.append(QVariantMap{{KLOpenedFilesQuery::kItemPath, p}});
        return {{KLOpenedFilesQuery::kUpdateAddedItems, a}, {KLOpenedFilesQuery::kUpdateChangedItems, c}};
    }
    QStringList makeFiles(int n, const QString &stem = "doc")
    {
        QStringList out;
        for (int i = 0; i < n; ++i) {
            out.append(root + "/Documents/" + stem + QString::number(i) + ".txt");
            writeFile(out.last());
        }
        return out;
    }

    static inline int s_counter = 0;
    QString root;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<KLRecentFiles> collector;
};

} // namespace

TEST_F(OpenedEventsTest, AnOldDocumentOpenedNowIsListedUnderItsFolderDatedNow)
{
    const QString doc = root + "/Documents/2019 taxes.pdf";
    writeFile(doc);
    struct timeval tv[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(doc).constData(), tv), 0);
    const KLTime before = KLTimeUtil::now();
    collector->updatedMDQuery(update({doc}));
    const QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].path, root + "/Documents");
    EXPECT_GE(events[0].files[0]->timeOfFile(), before);
    const QList<KLItemPtr> ranked = collector->recentFiles({});
    ASSERT_EQ(ranked.size(), 1);
    EXPECT_EQ(ranked[0]->lastKnownPath(), doc);
}

TEST_F(OpenedEventsTest, AtMostSixOfAHundredAreRecordedAndAtMostFiftyOneTaken)
{
    const QStringList hundred = makeFiles(100);
    collector->updatedMDQuery(update(hundred));
    EXPECT_EQ(collector->eventCount(), 6);

    // The 50-path cap of the update: with 60 unusable added paths and one good changed path,
    // the good one is never reached.
    collector->setPastEventsForTesting({});
    QStringList apps;
    for (int i = 0; i < 60; ++i)
        apps.append(root + "/Apps/Tool" + QString::number(i) + ".app");
    collector->updatedMDQuery(update(apps, {hundred[0]}));
    EXPECT_EQ(collector->eventCount(), 0);
    collector->updatedMDQuery(update(apps.mid(0, 10), {hundred[0]}));
    EXPECT_EQ(collector->eventCount(), 1);
}

TEST_F(OpenedEventsTest, ApplicationsHiddenAndUnwantedFilesAreSkipped)
{
    QDir().mkpath(root + "/Apps/Editor.app/Contents");
    writeFile(root + "/Apps/Editor.app/Contents/Info.plist");
    writeFile(root + "/Documents/.private.txt");
    writeFile(root + "/Documents/scratch.tmp");
    QDir().mkpath(root + "/Documents/Folder");
    collector->addPathsToEvents({root + "/Apps/Editor.app", root + "/Apps/Editor.app/Contents/Info.plist",
                                 root + "/Documents/.private.txt", root + "/Documents/scratch.tmp",
                                 root + "/Documents/Folder", home() + "/.cache/x.txt"});
    EXPECT_EQ(collector->eventCount(), 0);
}

TEST_F(OpenedEventsTest, SwitchAndShutdownFlagStopRecording)
{
    const QStringList docs = makeFiles(2);
    defaults->setBool("KLIncludeFileOpenedEvents", false);
    collector->updatedMDQuery(update({docs[0]}));
    EXPECT_EQ(collector->eventCount(), 0);
    defaults->setBool("KLIncludeFileOpenedEvents", true);
    KLProcessFlags::setShuttingDown(true);
    collector->updatedMDQuery(update({docs[0]}));
    EXPECT_EQ(collector->eventCount(), 0);
    KLProcessFlags::setShuttingDown(false);
    collector->updatedMDQuery(update({docs[0]}));
    EXPECT_EQ(collector->eventCount(), 1);
}

TEST_F(OpenedEventsTest, OpeningTheSameFileTwiceLeavesOneEventAtTheFront)
{
    const QStringList docs = makeFiles(2);
    collector->updatedMDQuery(update({docs[0]}));
    collector->updatedMDQuery(update({docs[1]}));
    collector->updatedMDQuery(update({docs[0]}));
    const QList<KLRecentEvent> events = collector->pastEvents();
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].files[0]->lastKnownPath(), docs[0]);
    EXPECT_EQ(events[1].files[0]->lastKnownPath(), docs[1]);
}

// With an event stream, an update of opened files returns at once: the files are looked at on
// the stream's thread (behind whatever that thread is doing), never on the caller's.
TEST_F(OpenedEventsTest, WithAStreamOpenedFilesAreLookedAtOnTheStreamsThread)
{
    const QStringList docs = makeFiles(2);
    FileSystemEventStream stream(root + "/.state");
    KLRecentFiles::Options o = quietOptions(root + "/streamed.plist");
    o.stream = &stream;
    auto streamed = std::make_unique<KLRecentFiles>(o);

    // Hold the stream's thread until the update has returned.
    std::mutex hold;
    std::unique_lock held(hold);
    std::atomic<bool> busy{false};
    stream.performOnWorkerThread([&] {
        busy = true;
        std::lock_guard wait(hold);
    });
    ASSERT_TRUE(KelsoTest::waitFor([&] { return busy.load(); }));
    streamed->updatedMDQuery(update({docs[0]}));
    EXPECT_EQ(streamed->eventCount(), 0) << "the caller did the disk work itself";
    held.unlock();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return streamed->eventCount() == 1; }));
    EXPECT_EQ(streamed->pastEvents().first().files.first()->lastKnownPath(), docs[0]);
    streamed.reset(); // waits for a job that runs, drops those still queued
    stream.shutdown();
}
