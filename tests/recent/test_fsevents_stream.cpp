// The file-system event stream against real files in the test home, with each backend the
// machine allows (fanotify needs root; it is skipped otherwise). Files are changed by child
// processes: the fanotify backend ignores Kelso's own writes on purpose.
#include "platform/Defaults.h"
#include "platform/Mounts.h"
#include "platform/fsevents/Backend.h"
#include "platform/fsevents/DirWalk.h"
#include "recent/FileSystemEventStream.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <thread>

// Readable parameter names in test listings.
void PrintTo(const QString &s, std::ostream *os)
{
    *os << s.toStdString();
}

namespace {

constexpr quint32 kInCreate = 0x100;    // IN_CREATE / FAN_CREATE
constexpr quint32 kInOverflow = 0x4000; // IN_Q_OVERFLOW
constexpr int kWaitMs = 20000;          // generous: the CI machine may be loaded

void sh(const QString &script)
{
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    ASSERT_TRUE(p.waitForFinished(120000)) << qPrintable(script);
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(p.exitCode(), 0) << qPrintable(script) << p.readAllStandardError().constData();
}

QString q(const QString &path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

class Recorder : public FileSystemEventStreamDelegate
{
public:
    void fileSystemEvent(const FileSystemEvent &event, FileSystemEventStream *) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(event);
            m_threadNames.insert(QThread::currentThread()->objectName());
            m_wrongOrder |= m_events.size() > 1 && m_events[m_events.size() - 2].evId >= event.evId &&
                            !(event.evFlag & FileSystemEvent::kFlagReplayed);
        }
        if (m_block.load()) {
            m_blocked = true;
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return !m_block.load(); });
        }
    }

    std::vector<FileSystemEvent> events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<FileSystemEvent> eventsFor(const QString &path) const
    {
        std::vector<FileSystemEvent> out;
        for (const FileSystemEvent &e : events())
            if (e.evPath == path)
                out.push_back(e);
        return out;
    }
    // The first record for `path` with an id above `afterId` (and all of `flags`), waiting.
    std::optional<FileSystemEvent> waitForRecord(const QString &path, quint64 afterId = 0, quint32 flags = 0,
                                                 int timeoutMs = kWaitMs) const
    {
        std::optional<FileSystemEvent> found;
        KelsoTest::waitFor(
            [&] {
                for (const FileSystemEvent &e : events())
                    if (e.evPath == path && e.evId > afterId && (e.evFlag & flags) == flags) {
                        found = e;
                        return true;
                    }
                return false;
            },
            timeoutMs);
        return found;
    }
    quint64 maxId() const
    {
        quint64 m = 0;
        for (const FileSystemEvent &e : events())
            m = std::max(m, e.evId);
        return m;
    }
    QSet<QString> threadNames() const
    {
        std::lock_guard lock(m_mutex);
        return m_threadNames;
    }
    bool wrongOrder() const
    {
        std::lock_guard lock(m_mutex);
        return m_wrongOrder;
    }
    void setBlocking(bool on)
    {
        {
            std::lock_guard lock(m_mutex);
            m_block = on;
        }
        m_cv.notify_all();
    }
    std::atomic<bool> m_blocked{false};

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<FileSystemEvent> m_events;
    QSet<QString> m_threadNames;
    bool m_wrongOrder = false;
    std::atomic<bool> m_block{false};
};

int g_counter = 0;

class FsEventStreamTest : public ::testing::TestWithParam<QString>
{
protected:
    void SetUp() override
    {
        if (GetParam() == QLatin1String("fanotify") && !KLFSEvents::fanotifyPermitted())
            GTEST_SKIP() << "fanotify filesystem marks are not permitted for this process";
        const QString name = QStringLiteral("%1-%2").arg(GetParam()).arg(++g_counter);
        root = KelsoTest::home() + QStringLiteral("/watch-") + name;
        state = KelsoTest::home() + QStringLiteral("/.state-") + name;
        QDir().mkpath(root);
        QDir().mkpath(state);
    }
    void TearDown() override
    {
        if (stream)
            stream->setDelegate(nullptr);
        stream.reset();
    }

    // A stream on `root` with this test's backend and journal.
    std::unique_ptr<FileSystemEventStream> makeStream(double latency = 0.2)
    {
        auto s = std::make_unique<FileSystemEventStream>(state);
        s->setBackendPreference(GetParam());
        s->setLatency(latency);
        return s;
    }
    void startStream(double latency = 0.2, quint64 since = FileSystemEventStream::kNoReplay)
    {
        stream = makeStream(latency);
        stream->setDelegate(&rec);
        stream->setStartEventID(since);
        ASSERT_TRUE(stream->start({root}));
        ASSERT_EQ(stream->backendName(), GetParam()) << "the chosen backend must be the one in use";
    }

    QString root, state;
    Recorder rec;
    std::unique_ptr<FileSystemEventStream> stream;
};

} // namespace

TEST_P(FsEventStreamTest, RealChangesReachTheDelegateOnTheWorkerThread)
{
    QDir().mkpath(root + QStringLiteral("/Documents/deep/er"));
    ASSERT_NO_FATAL_FAILURE(startStream());
    EXPECT_TRUE(stream->isActive());
    EXPECT_EQ(stream->watchedRoots(), QStringList{root});

    sh(QStringLiteral("echo hi > %1").arg(q(root + QStringLiteral("/Documents/a.txt"))));
    auto ev = rec.waitForRecord(root + QStringLiteral("/Documents"));
    ASSERT_TRUE(ev) << "a created file reports its folder";
    EXPECT_TRUE(ev->evFlag & kInCreate) << ev->evFlag;
    EXPECT_GT(ev->evId, 0u);
    EXPECT_LE(ev->evId, stream->currentEventID());

    sh(QStringLiteral("echo deeper > %1").arg(q(root + QStringLiteral("/Documents/deep/er/b.txt"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/Documents/deep/er"), ev->evId));

    sh(QStringLiteral("rm %1").arg(q(root + QStringLiteral("/Documents/a.txt"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/Documents"), rec.maxId()));

    EXPECT_EQ(rec.threadNames(), QSet<QString>{QStringLiteral("kelso-fsevents")});
    EXPECT_FALSE(rec.wrongOrder()) << "ids grow in delivery order";
    for (const FileSystemEvent &e : rec.events())
        EXPECT_FALSE(e.evPath.endsWith(QLatin1Char('/')));

    EXPECT_TRUE(stream->stop());
    EXPECT_FALSE(stream->isActive());
    EXPECT_TRUE(stream->backendName().isEmpty());
    EXPECT_FALSE(stream->flushSync()) << "flushing an inactive stream answers false";
}

TEST_P(FsEventStreamTest, ChangesWithinTheLatencyAreCoalescedPerFolder)
{
    QDir().mkpath(root + QStringLiteral("/busy"));
    QDir().mkpath(root + QStringLiteral("/other"));
    ASSERT_NO_FATAL_FAILURE(startStream(/*latency*/ 4.0));

    // After a quiet period the first change goes out at once (no waiting for the latency)...
    QElapsedTimer t;
    t.start();
    sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/busy/first"))));
    auto first = rec.waitForRecord(root + QStringLiteral("/busy"));
    ASSERT_TRUE(first);
    // ...and everything in the next few seconds becomes one record per folder, in one batch.
    sh(QStringLiteral("cd %1 && for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do echo $i > f$i; done; "
                      "echo x > ../other/o1; echo y > ../other/o2")
           .arg(q(root + QStringLiteral("/busy"))));
    auto second = rec.waitForRecord(root + QStringLiteral("/busy"), first->evId);
    ASSERT_TRUE(second);
    auto other = rec.waitForRecord(root + QStringLiteral("/other"));
    ASSERT_TRUE(other);
    EXPECT_EQ(std::max(second->evId, other->evId) - std::min(second->evId, other->evId), 1u)
        << "one batch: consecutive ids";
    // Nothing more trickles in for those changes.
    QThread::msleep(500);
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 800);
    EXPECT_EQ(rec.eventsFor(root + QStringLiteral("/busy")).size(), 2u);
    EXPECT_EQ(rec.eventsFor(root + QStringLiteral("/other")).size(), 1u);
}

TEST_P(FsEventStreamTest, FlushDeliversPendingRecordsBeforeTheLatency)
{
    ASSERT_NO_FATAL_FAILURE(startStream(/*latency*/ 30.0));
    sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/one"))));
    auto first = rec.waitForRecord(root);
    ASSERT_TRUE(first);
    sh(QStringLiteral("echo 2 > %1").arg(q(root + QStringLiteral("/two"))));
    // Without a flush this would wait 30 seconds; make sure the change was read first.
    QThread::msleep(200);
    ASSERT_TRUE(stream->flushSync());
    ASSERT_TRUE(rec.waitForRecord(root, first->evId, 0, 10000));
}

TEST_P(FsEventStreamTest, NewFoldersAreWatchedHiddenFoldersAreNot)
{
    QDir().mkpath(root + QStringLiteral("/.hidden/inner"));
    QDir().mkpath(root + QStringLiteral("/visible"));
    ASSERT_NO_FATAL_FAILURE(startStream());
    const int before = stream->watchedDirectoryCount();

    // A folder tree made after the start gets watched, and its folders are reported.
    sh(QStringLiteral("mkdir -p %1 && echo a > %2")
           .arg(q(root + QStringLiteral("/new/deeper/deepest")),
                q(root + QStringLiteral("/new/deeper/deepest/early.txt"))));
    auto made = rec.waitForRecord(root + QStringLiteral("/new/deeper/deepest"));
    ASSERT_TRUE(made) << "a new folder's own changes are reported";
    sh(QStringLiteral("echo b > %1").arg(q(root + QStringLiteral("/new/deeper/deepest/later.txt"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/new/deeper/deepest"), rec.maxId()))
        << "the new folder is watched";

    // Changes inside hidden folders (old or new) are never reported; the sentinel after them
    // proves they had their chance.
    sh(QStringLiteral("echo h > %1; mkdir -p %2; echo h > %3; echo s > %4")
           .arg(q(root + QStringLiteral("/.hidden/inner/x.txt")), q(root + QStringLiteral("/visible/.made")),
                q(root + QStringLiteral("/visible/.made/y.txt")), q(root + QStringLiteral("/visible/sentinel.txt"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/visible")));
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 500);
    for (const FileSystemEvent &e : rec.events())
        EXPECT_FALSE(e.evPath.contains(QStringLiteral("/."))) << qPrintable(e.evPath);
    if (GetParam() == QLatin1String("inotify")) {
        EXPECT_GT(stream->watchedDirectoryCount(), before) << "the new folders hold watches";
    }
}

TEST_P(FsEventStreamTest, LinksAndNamesThatAreNotUtf8AreNotFollowed)
{
    const QString outside = KelsoTest::home() + QStringLiteral("/outside-") + GetParam();
    QDir().mkpath(outside);
    QDir().mkpath(root + QStringLiteral("/plain"));
    sh(QStringLiteral("ln -s %1 %2 && mkdir %3/$(printf 'bad\\377name')")
           .arg(q(outside), q(root + QStringLiteral("/link")), q(root)));
    ASSERT_NO_FATAL_FAILURE(startStream());
    sh(QStringLiteral("echo 1 > %1; echo 2 > %2/$(printf 'bad\\377name')/f; echo 3 > %3")
           .arg(q(outside + QStringLiteral("/through-link.txt")), q(root),
                q(root + QStringLiteral("/plain/sentinel"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/plain")));
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 500);
    for (const FileSystemEvent &e : rec.events()) {
        EXPECT_FALSE(e.evPath.startsWith(outside)) << "outside the root: " << qPrintable(e.evPath);
        EXPECT_FALSE(e.evPath.startsWith(root + QStringLiteral("/link"))) << "a link is not a folder to watch";
        EXPECT_FALSE(e.evPath.contains(QChar::ReplacementCharacter)) << "names are never mangled";
        EXPECT_FALSE(e.evPath.contains(QStringLiteral("bad"))) << qPrintable(e.evPath);
    }
}

TEST_P(FsEventStreamTest, RenamesAreRecordedForBookmarks)
{
    QDir().mkpath(root + QStringLiteral("/docs/sub"));
    KelsoTest::writeFile(root + QStringLiteral("/docs/a.txt"));
    KelsoTest::writeFile(root + QStringLiteral("/docs/sub/inner.txt"));
    ASSERT_NO_FATAL_FAILURE(startStream());

    sh(QStringLiteral("cd %1 && mv a.txt b.txt && mv b.txt c.txt && mv sub renamed")
           .arg(q(root + QStringLiteral("/docs"))));
    ASSERT_TRUE(KelsoTest::waitFor(
        [&] { return !stream->renamedPathFor(root + QStringLiteral("/docs/sub")).isEmpty(); }, kWaitMs));
    EXPECT_EQ(stream->renamedPathFor(root + QStringLiteral("/docs/a.txt")), root + QStringLiteral("/docs/c.txt"))
        << "chains are followed";
    EXPECT_EQ(stream->renamedPathFor(root + QStringLiteral("/docs/sub/inner.txt")),
              root + QStringLiteral("/docs/renamed/inner.txt"))
        << "a file inside a renamed folder";
    EXPECT_TRUE(stream->renamedPathFor(root + QStringLiteral("/docs/never")).isEmpty());
    EXPECT_TRUE(stream->renamedPathFor(root + QStringLiteral("/docs/subway")).isEmpty()) << "a prefix is not a parent";

    // The renamed folder is reported under its new path from now on.
    const quint64 seen = rec.maxId();
    sh(QStringLiteral("echo n > %1").arg(q(root + QStringLiteral("/docs/renamed/new.txt"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/docs/renamed"), seen));
    EXPECT_TRUE(rec.eventsFor(root + QStringLiteral("/docs/sub")).empty());
}

TEST_P(FsEventStreamTest, ExclusionPrefixesDropRecords)
{
    QDir().mkpath(root + QStringLiteral("/skip/sub"));
    stream = makeStream();
    stream->setDelegate(&rec);
    // The second prefix holds the watched root itself: a root inside an excluded prefix (as
    // removable volumes under /run/media are) keeps its records.
    stream->setPathsToExclude({root + QStringLiteral("/skip/"), KelsoTest::home() + QStringLiteral("/")});
    ASSERT_TRUE(stream->start({root + QStringLiteral("/")})) << "a trailing slash on a root is fine";
    EXPECT_EQ(stream->watchedRoots(), QStringList{root});
    sh(QStringLiteral("echo 1 > %1; echo 2 > %2")
           .arg(q(root + QStringLiteral("/skip/sub/f")), q(root + QStringLiteral("/sentinel"))));
    ASSERT_TRUE(rec.waitForRecord(root));
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 500);
    EXPECT_TRUE(rec.eventsFor(root + QStringLiteral("/skip/sub")).empty());
    EXPECT_TRUE(stream->description().contains(root + QStringLiteral("/skip/")));
}

TEST_P(FsEventStreamTest, ReplayAcrossARestart)
{
    QDir().mkpath(root + QStringLiteral("/one"));
    QDir().mkpath(root + QStringLiteral("/two"));
    quint64 handled = 0, missed = 0, currentBefore = 0;
    {
        ASSERT_NO_FATAL_FAILURE(startStream());
        sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/one/f"))));
        auto a = rec.waitForRecord(root + QStringLiteral("/one"));
        ASSERT_TRUE(a);
        handled = rec.maxId(); // what a client would have stored
        sh(QStringLiteral("echo 2 > %1").arg(q(root + QStringLiteral("/two/f"))));
        auto b = rec.waitForRecord(root + QStringLiteral("/two"), handled);
        ASSERT_TRUE(b);
        missed = b->evId;
        stream->setDelegate(nullptr);
        stream.reset(); // the program ends
        currentBefore = missed;
    }
    Recorder second;
    auto s = makeStream();
    s->setDelegate(&second);
    s->setStartEventID(handled);
    ASSERT_TRUE(s->start({root}));
    auto replayed = second.waitForRecord(root + QStringLiteral("/two"), handled, FileSystemEvent::kFlagReplayed);
    ASSERT_TRUE(replayed) << "a record after the stored id comes again";
    EXPECT_EQ(replayed->evId, missed);
    for (const FileSystemEvent &e : second.events())
        EXPECT_GT(e.evId, handled) << "nothing at or before the start id is replayed";
    EXPECT_GT(s->currentEventID(), currentBefore + FileSystemEventStream::kCatchUpIdGap)
        << "a new run starts more than the gap above the previous one";
    // New records continue above.
    sh(QStringLiteral("echo 3 > %1").arg(q(root + QStringLiteral("/one/g"))));
    auto live = second.waitForRecord(root + QStringLiteral("/one"), s->currentEventID() - 1);
    ASSERT_TRUE(live);
    EXPECT_FALSE(live->evFlag & FileSystemEvent::kFlagReplayed);
    s->setDelegate(nullptr);
}

TEST_P(FsEventStreamTest, CatchUpReportsChangesMadeWhileNotRunning)
{
    QDir().mkpath(root + QStringLiteral("/quiet"));
    KelsoTest::writeFile(root + QStringLiteral("/quiet/old.txt"));
    KelsoTest::writeFile(root + QStringLiteral("/edited/doc.txt"), "v1");
    // Let the quiet folder's times fall clearly before the end of the run below.
    sh(QStringLiteral("touch -d '2020-01-01' %1 %2 %3 %4")
           .arg(q(root + QStringLiteral("/quiet/old.txt")), q(root + QStringLiteral("/quiet")),
                q(root + QStringLiteral("/edited/doc.txt")), q(root + QStringLiteral("/edited"))));
    QThread::msleep(1300); // ctime cannot be set back: keep it more than the 1 s slack before the stop
    quint64 lastSeen = 0;
    {
        ASSERT_NO_FATAL_FAILURE(startStream());
        lastSeen = stream->currentEventID();
        stream->setDelegate(nullptr);
        stream.reset();
    }
    // While nothing runs: a new file in a new folder and an edit in place (folder time unchanged).
    sh(QStringLiteral("mkdir %1 && echo n > %2 && echo v2 >> %3")
           .arg(q(root + QStringLiteral("/added")), q(root + QStringLiteral("/added/new.txt")),
                q(root + QStringLiteral("/edited/doc.txt"))));
    Recorder second;
    auto s = makeStream();
    s->setDelegate(&second);
    s->setStartEventID(lastSeen);
    ASSERT_TRUE(s->start({root}));
    auto added = second.waitForRecord(root + QStringLiteral("/added"), lastSeen, FileSystemEvent::kFlagCatchUp);
    auto edited = second.waitForRecord(root + QStringLiteral("/edited"), lastSeen, FileSystemEvent::kFlagCatchUp);
    ASSERT_TRUE(added);
    ASSERT_TRUE(edited) << "a file edited in place is found by its own time";
    EXPECT_TRUE(second.waitForRecord(root, lastSeen, FileSystemEvent::kFlagCatchUp))
        << "the folder that received the new folder";
    for (const FileSystemEvent &e : second.events()) {
        EXPECT_NE(e.evPath, root + QStringLiteral("/quiet")) << "an unchanged folder is not reported";
        if (e.evFlag & FileSystemEvent::kFlagCatchUp) {
            EXPECT_GT(s->currentEventID() - e.evId, FileSystemEventStream::kCatchUpIdGap)
                << "caught-up records count as past ones";
        }
    }
    s->setDelegate(nullptr);
}

TEST_P(FsEventStreamTest, AFirstStartCatchesUpWhatChangedWhileItWasBeingSetUp)
{
    QDir().mkpath(root + QStringLiteral("/quiet"));
    QDir().mkpath(root + QStringLiteral("/early"));
    sh(QStringLiteral("touch -d '2020-01-01' %1 %2")
           .arg(q(root + QStringLiteral("/quiet")), q(root + QStringLiteral("/early"))));
    QThread::msleep(1300); // ctime cannot be set back: keep it more than the 1 s slack before the stream
    // No journal yet: the program's first start. A file is saved after the program started
    // but before its watches are in place.
    stream = makeStream();
    stream->setDelegate(&rec);
    // As the recent list asks without a stored id: from the "past" id, which lies above the
    // first records of a new journal (the catch-up's were never handed over).
    stream->setStartEventID(stream->pastEventID());
    ASSERT_GT(stream->pastEventID(), 0u);
    KelsoTest::writeFile(root + QStringLiteral("/early/saved.txt"));
    ASSERT_TRUE(stream->start({root}));
    EXPECT_TRUE(rec.waitForRecord(root + QStringLiteral("/early"), 0, FileSystemEvent::kFlagCatchUp))
        << "the folder of the file saved meanwhile";
    for (const FileSystemEvent &e : rec.events())
        EXPECT_NE(e.evPath, root + QStringLiteral("/quiet")) << "a folder unchanged since before the start";
    stream->setDelegate(nullptr);
}

TEST_P(FsEventStreamTest, ACatchUpReachesAClientWhoseIdIsAboveTheJournals)
{
    // The journal was lost (or started afresh) while the client kept its id from before.
    stream = makeStream();
    stream->setDelegate(&rec);
    stream->setStartEventID(50000);
    KelsoTest::writeFile(root + QStringLiteral("/lost/saved.txt"));
    ASSERT_TRUE(stream->start({root}));
    EXPECT_TRUE(rec.waitForRecord(root + QStringLiteral("/lost"), 0, FileSystemEvent::kFlagCatchUp));
    EXPECT_GE(stream->currentEventID(), 50000u) << "the ids go on from the client's";
    sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/lost/later.txt"))));
    const auto live = rec.waitForRecord(root + QStringLiteral("/lost"), 50000);
    ASSERT_TRUE(live) << "live records continue above the client's id";
    stream->setDelegate(nullptr);
}

TEST_P(FsEventStreamTest, DamagedJournalStartsFreshAndKeepsWorking)
{
    KelsoTest::writeFile(state + QStringLiteral("/fsevents.journal"), QByteArray(100, '\x07'));
    ASSERT_NO_FATAL_FAILURE(startStream());
    EXPECT_EQ(QDir(state).entryList({QStringLiteral("fsevents.journal.corrupt-*")}).size(), 1);
    sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/f"))));
    auto ev = rec.waitForRecord(root);
    ASSERT_TRUE(ev);
    EXPECT_GT(ev->evId, FileSystemEventStream::kCatchUpIdGap);
}

TEST_P(FsEventStreamTest, SimulatedOverflowRescansAndKeepsGoing)
{
    QDir().mkpath(root + QStringLiteral("/a"));
    ASSERT_NO_FATAL_FAILURE(startStream());
    sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/a/f"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/a")));
    const quint64 seen = rec.maxId();
    stream->simulateOverflowForTesting();
    auto rescanned = rec.waitForRecord(root + QStringLiteral("/a"), seen, kInOverflow | FileSystemEvent::kFlagRescan);
    ASSERT_TRUE(rescanned) << "a recently changed folder is reported after the overflow";
    EXPECT_TRUE(stream->isActive());
    sh(QStringLiteral("echo 2 > %1").arg(q(root + QStringLiteral("/a/g"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/a"), rec.maxId())) << "live records continue";
}

// fanotify sees every writer of the volume, Kelso included; Kelso's own writes (its stores,
// caches and journal) must not come back to it as changes.
TEST_P(FsEventStreamTest, OwnWritesAreNotReportedByFanotify)
{
    if (GetParam() != QLatin1String("fanotify"))
        GTEST_SKIP() << "inotify cannot tell writers apart; Kelso keeps its files in hidden folders";
    QDir().mkpath(root + QStringLiteral("/mine"));
    QDir().mkpath(root + QStringLiteral("/theirs"));
    ASSERT_NO_FATAL_FAILURE(startStream());
    KelsoTest::writeFile(root + QStringLiteral("/mine/written-by-kelso.txt"));
    sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/theirs/f"))));
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/theirs")));
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 500);
    EXPECT_TRUE(rec.eventsFor(root + QStringLiteral("/mine")).empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, FsEventStreamTest,
                         ::testing::Values(QStringLiteral("inotify"), QStringLiteral("fanotify")),
                         [](const ::testing::TestParamInfo<QString> &backend) { return backend.param.toStdString(); });

// A real kernel queue overflow: the worker is held inside the delegate while far more changes
// than the inotify queue holds are made, and a folder is created while events are being lost.
TEST(FsEventStreamInotify, RealQueueOverflowRescansAndWatchesLostFolders)
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    ASSERT_TRUE(limitFile.open(QIODevice::ReadOnly));
    const int queue = limitFile.readAll().trimmed().toInt();
    if (queue <= 0 || queue > 200000)
        GTEST_SKIP() << "the inotify queue is too large to overflow quickly here";
    const QString root = KelsoTest::home() + QStringLiteral("/overflow");
    QDir().mkpath(root + QStringLiteral("/many"));
    Recorder rec;
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-overflow"));
    stream.setBackendPreference(QStringLiteral("inotify"));
    stream.setLatency(0.1);
    stream.setDelegate(&rec);
    ASSERT_TRUE(stream.start({root}));

    rec.setBlocking(true);
    sh(QStringLiteral("echo t > %1").arg(q(root + QStringLiteral("/trigger"))));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return rec.m_blocked.load(); }, kWaitMs));
    // Each touched file queues at least two events (create, close); leave a wide margin.
    sh(QStringLiteral(
           "cd %1 && seq 1 %2 | sed 's/^/f/' | xargs touch && mkdir -p ../late/deeper && echo x > ../late/deeper/x.txt")
           .arg(q(root + QStringLiteral("/many")))
           .arg(queue));
    rec.setBlocking(false);

    auto overflow =
        rec.waitForRecord(root + QStringLiteral("/many"), 0, kInOverflow | FileSystemEvent::kFlagRescan, 60000);
    ASSERT_TRUE(overflow) << "the overflow is reported as a rescan";
    ASSERT_TRUE(rec.waitForRecord(root + QStringLiteral("/late/deeper"), 0, FileSystemEvent::kFlagRescan, 60000))
        << "a folder made while events were lost is found by the rescan";
    EXPECT_TRUE(stream.isActive());
    const quint64 seen = rec.maxId();
    sh(QStringLiteral("echo y > %1").arg(q(root + QStringLiteral("/late/deeper/y.txt"))));
    auto live = rec.waitForRecord(root + QStringLiteral("/late/deeper"), seen);
    ASSERT_TRUE(live) << "and watched from then on";
    EXPECT_FALSE(live->evFlag & FileSystemEvent::kFlagRescan);
    stream.setDelegate(nullptr);
}

namespace {
std::mutex g_logMutex;
QStringList g_log;
void captureLog(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::lock_guard lock(g_logMutex);
    g_log.append(msg);
}
int logLinesWith(const QString &text)
{
    std::lock_guard lock(g_logMutex);
    return int(g_log.filter(text).size());
}
} // namespace

// The kernel refuses watches beyond fs.inotify.max_user_watches (ENOSPC); stand in for it with
// a small budget. The stream says once what to raise the limit to, and keeps going.
TEST(FsEventStreamInotify, RunningOutOfWatchesIsLoggedOnceAndKeepsGoing)
{
    const QString root = KelsoTest::home() + QStringLiteral("/budget");
    for (int i = 0; i < 10; ++i)
        QDir().mkpath(root + QStringLiteral("/f%1").arg(i));
    KLFSEvents::setInotifyWatchBudgetForTesting(4);
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    Recorder rec;
    {
        FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-budget"));
        stream.setBackendPreference(QStringLiteral("inotify"));
        stream.setLatency(0.1);
        stream.setDelegate(&rec);
        ASSERT_TRUE(stream.start({root})) << "a partial set of watches still runs";
        EXPECT_EQ(stream.watchedDirectoryCount(), 4);
        EXPECT_EQ(logLinesWith(QStringLiteral("fs.inotify.max_user_watches")), 1);
        EXPECT_EQ(logLinesWith(QStringLiteral("7 folders are not watched")), 1);
        sh(QStringLiteral("echo 1 > %1").arg(q(root + QStringLiteral("/top.txt"))));
        ASSERT_TRUE(rec.waitForRecord(root)) << "the folders that have watches keep reporting";
        sh(QStringLiteral("mkdir %1 && echo 2 > %2")
               .arg(q(root + QStringLiteral("/later")), q(root + QStringLiteral("/top2.txt"))));
        ASSERT_TRUE(rec.waitForRecord(root, rec.maxId()));
        stream.flushSync();
        KelsoTest::waitFor([] { return false; }, 300);
        EXPECT_EQ(logLinesWith(QStringLiteral("fs.inotify.max_user_watches")), 1) << "logged once only";
        EXPECT_TRUE(stream.isActive());
        stream.setDelegate(nullptr);
    }
    qInstallMessageHandler(previous);
    KLFSEvents::setInotifyWatchBudgetForTesting(-1);
}

// When the limit is reached, the folders right under a root (Downloads, Desktop, …), where new
// files mostly arrive, keep their watches; the deep trees below them go without.
TEST(FsEventStreamInotify, TheFoldersUnderARootAreWatchedBeforeDeepTrees)
{
    const QString root = KelsoTest::home() + QStringLiteral("/budget-top");
    const QStringList tops = {QStringLiteral("Desktop"), QStringLiteral("Documents"), QStringLiteral("Downloads"),
                              QStringLiteral("Music"),   QStringLiteral("Pictures"),  QStringLiteral("Videos")};
    for (const QString &top : tops)
        for (int i = 0; i < 10; ++i)
            QDir().mkpath(root + QLatin1Char('/') + top + QStringLiteral("/tree/f%1").arg(i));
    KLFSEvents::setInotifyWatchBudgetForTesting(1 + int(tops.size()));
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    Recorder rec;
    {
        FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-budget-top"));
        stream.setBackendPreference(QStringLiteral("inotify"));
        stream.setLatency(0.1);
        stream.setDelegate(&rec);
        ASSERT_TRUE(stream.start({root}));
        for (const QString &top : tops) {
            const QString folder = root + QLatin1Char('/') + top;
            sh(QStringLiteral("echo 1 > %1").arg(q(folder + QStringLiteral("/new.txt"))));
            EXPECT_TRUE(rec.waitForRecord(folder)) << qPrintable(top) << " is not watched";
        }
        stream.setDelegate(nullptr);
    }
    qInstallMessageHandler(previous);
    KLFSEvents::setInotifyWatchBudgetForTesting(-1);
}

TEST(FsEventStreamLifecycle, EmptyPathListStaysInactive)
{
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-empty"));
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(stream.start({}));
    EXPECT_GE(t.elapsed(), 900) << "start waits about a second for the stream";
    EXPECT_FALSE(stream.isActive());
    EXPECT_FALSE(stream.flushAsync());
    EXPECT_TRUE(stream.stop());
}

TEST(FsEventStreamLifecycle, WorkerOnlyCallsRefuseOtherThreads)
{
    const QString root = KelsoTest::home() + QStringLiteral("/workeronly");
    QDir().mkpath(root);
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-workeronly"));
    stream.startOnThread({root}); // logged, no effect
    QThread::msleep(100);
    EXPECT_FALSE(stream.isActive());
    ASSERT_TRUE(stream.start({root}));
    stream.stopOnThread(); // logged, no effect
    EXPECT_TRUE(stream.isActive());
    // Restarting while active replaces the subscription.
    const QString other = KelsoTest::home() + QStringLiteral("/workeronly2");
    QDir().mkpath(other);
    ASSERT_TRUE(stream.start({other}));
    EXPECT_EQ(stream.watchedRoots(), QStringList{other});
    stream.shutdown();
    EXPECT_FALSE(stream.isActive());
    EXPECT_FALSE(stream.start({root})) << "no start after shutdown";
}

TEST(FsEventStreamLifecycle, PastEventIdWindow)
{
    FileSystemEventStream fresh(KelsoTest::home() + QStringLiteral("/.state-past1"));
    EXPECT_LT(fresh.currentEventID(), 1000000u);
    EXPECT_EQ(fresh.pastEventID(), 10u);

    // A client that holds a higher id (its journal was lost) raises the counter to it.
    const QString root = KelsoTest::home() + QStringLiteral("/pastroot");
    QDir().mkpath(root);
    FileSystemEventStream s(KelsoTest::home() + QStringLiteral("/.state-past2"));
    s.setStartEventID(5000000);
    ASSERT_TRUE(s.start({root}));
    // (The ids go on from there: a first start's catch-up and gap may follow at once.)
    const quint64 current = s.currentEventID();
    EXPECT_GE(current, 5000000u);
    EXPECT_LE(current, 5000000u + 2 * FileSystemEventStream::kCatchUpIdGap);
    EXPECT_EQ(s.pastEventID(), s.currentEventID() - 1000000u);
}

TEST(FsEventStreamLifecycle, WatchingTheRootFollowsWantedFolders)
{
    // Wanted folders outside the home (and inside its hidden folders) become roots of their own.
    const QString outside = KelsoTest::home() + QStringLiteral("-wanted-a");
    const QString hiddenWanted = KelsoTest::home() + QStringLiteral("/.local/wanted");
    QDir().mkpath(outside);
    QDir().mkpath(hiddenWanted);
    Defaults::standard().setValue(QStringLiteral("wantedDirectories"), QStringList{outside, hiddenWanted});
    Recorder rec;
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-wanted"));
    stream.setBackendPreference(QStringLiteral("inotify"));
    stream.setLatency(0.1);
    stream.setDelegate(&rec);
    ASSERT_TRUE(stream.start({QStringLiteral("/")}));
    EXPECT_TRUE(stream.watchedRoots().contains(KelsoTest::home()));
    EXPECT_TRUE(stream.watchedRoots().contains(outside));
    EXPECT_TRUE(stream.watchedRoots().contains(hiddenWanted));
    sh(QStringLiteral("echo 1 > %1").arg(q(hiddenWanted + QStringLiteral("/f"))));
    ASSERT_TRUE(rec.waitForRecord(hiddenWanted));

    // A folder added to the setting later is watched without a restart by the caller.
    const QString later = KelsoTest::home() + QStringLiteral("-wanted-b");
    QDir().mkpath(later);
    Defaults::standard().setValue(QStringLiteral("wantedDirectories"), QStringList{outside, later});
    // (The stream restarts: inactive for the moment its watches are set up again.)
    ASSERT_TRUE(
        KelsoTest::waitFor([&] { return stream.watchedRoots().contains(later) && stream.isActive(); }, kWaitMs));
    EXPECT_FALSE(stream.watchedRoots().contains(hiddenWanted));
    sh(QStringLiteral("echo 2 > %1").arg(q(later + QStringLiteral("/g"))));
    EXPECT_TRUE(rec.waitForRecord(later));
    stream.setDelegate(nullptr);
    stream.shutdown();
    Defaults::standard().removeObjectForKey(QStringLiteral("wantedDirectories"));
    QDir(outside).removeRecursively();
    QDir(later).removeRecursively();
}

TEST(FsEventStreamLifecycle, BackendFollowsTheSetting)
{
    const QString root = KelsoTest::home() + QStringLiteral("/backendroot");
    QDir().mkpath(root);
    const QString expectedAuto =
        KLFSEvents::fanotifyPermitted() ? QStringLiteral("fanotify") : QStringLiteral("inotify");
    struct Case {
        QString setting, expected;
    };
    const Case cases[] = {{QStringLiteral("inotify"), QStringLiteral("inotify")},
                          {QStringLiteral("auto"), expectedAuto},
                          {QStringLiteral("no-such-backend"), expectedAuto},
                          {QStringLiteral("fanotify"), expectedAuto}}; // falls back where not permitted
    int n = 0;
    for (const Case &c : cases) {
        Defaults::standard().setValue(QStringLiteral("KLEventBackend"), c.setting);
        FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-backend-%1").arg(++n));
        ASSERT_TRUE(stream.start({root})) << qPrintable(c.setting);
        EXPECT_EQ(stream.backendName(), c.expected) << qPrintable(c.setting);
    }
    Defaults::standard().removeObjectForKey(QStringLiteral("KLEventBackend"));
}

TEST(FsEventStreamLifecycle, DefaultRootsCoverHomeAndWantedFolders)
{
    const QStringList roots = FileSystemEventStream::defaultWatchRoots();
    ASSERT_FALSE(roots.isEmpty());
    EXPECT_TRUE(roots.contains(KelsoTest::home()));
    for (const QString &r : roots)
        EXPECT_FALSE(r.startsWith(KelsoTest::home() + QLatin1Char('/')) && !r.contains(QStringLiteral("/.")))
            << "a folder inside the home is covered by it: " << qPrintable(r);
}

// ---- new folders listed whole, watching nothing, slow volumes, quitting during a walk -------

namespace {
class NewFolderTest : public FsEventStreamTest
{
protected:
    // The first record for `path` that says its folder is new.
    bool reportedNew(const QString &path)
    {
        return rec.waitForRecord(path, 0, FileSystemEvent::kFlagNewFolder).has_value();
    }
};
} // namespace

TEST_P(NewFolderTest, FoldersFilledAtOnceCopiedOrMovedInAreReportedAsNew)
{
    const QString outside = KelsoTest::home() + QStringLiteral("/outside-new-") + GetParam();
    QDir().mkpath(outside + QStringLiteral("/tree/level2/level3"));
    for (const QString &d :
         {QStringLiteral("/tree"), QStringLiteral("/tree/level2"), QStringLiteral("/tree/level2/level3")})
        KelsoTest::writeFile(outside + d + QStringLiteral("/file.txt"));
    QDir().mkpath(outside + QStringLiteral("/moved/inner"));
    KelsoTest::writeFile(outside + QStringLiteral("/moved/inner/deep.txt"));
    ASSERT_NO_FATAL_FAILURE(startStream());

    // A folder made and filled in one go.
    sh(QStringLiteral("mkdir %1 && for i in $(seq 1 12); do echo $i > %1/f$i.txt; done")
           .arg(q(root + QStringLiteral("/filled"))));
    EXPECT_TRUE(reportedNew(root + QStringLiteral("/filled")));
    // A three-level tree copied in.
    sh(QStringLiteral("cp -r %1 %2").arg(q(outside + QStringLiteral("/tree")), q(root + QStringLiteral("/copied"))));
    EXPECT_TRUE(reportedNew(root + QStringLiteral("/copied")));
    EXPECT_TRUE(reportedNew(root + QStringLiteral("/copied/level2")));
    EXPECT_TRUE(reportedNew(root + QStringLiteral("/copied/level2/level3")));
    // A folder moved in from outside the watched roots: no event names what is inside it.
    sh(QStringLiteral("mv %1 %2").arg(q(outside + QStringLiteral("/moved")), q(root + QStringLiteral("/arrived"))));
    EXPECT_TRUE(reportedNew(root + QStringLiteral("/arrived")));
    EXPECT_TRUE(reportedNew(root + QStringLiteral("/arrived/inner")));

    // A folder renamed inside the roots is not new.
    QDir().mkpath(root + QStringLiteral("/before"));
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 300);
    const quint64 seen = rec.maxId();
    sh(QStringLiteral("mv %1 %2").arg(q(root + QStringLiteral("/before")), q(root + QStringLiteral("/after"))));
    ASSERT_TRUE(rec.waitForRecord(root, seen));
    stream->flushSync();
    KelsoTest::waitFor([] { return false; }, 300);
    for (const FileSystemEvent &e : rec.eventsFor(root + QStringLiteral("/after")))
        EXPECT_FALSE(e.evFlag & FileSystemEvent::kFlagNewFolder) << "a rename inside the roots";
}

INSTANTIATE_TEST_SUITE_P(Backends, NewFolderTest,
                         ::testing::Values(QStringLiteral("inotify"), QStringLiteral("fanotify")),
                         [](const ::testing::TestParamInfo<QString> &backend) { return backend.param.toStdString(); });

TEST(FsEventStreamLifecycle, WatchingNothingIsSaidInTheLogAndTheStatus)
{
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    {
        FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-nothing"));
        stream.setBackendPreference(QStringLiteral("inotify"));
        EXPECT_FALSE(stream.start({KelsoTest::home() + QStringLiteral("/no-such-folder")}));
        EXPECT_FALSE(stream.isActive());
        const QVariantMap st = stream.status();
        EXPECT_FALSE(st.value("active").toBool());
        EXPECT_TRUE(st.value("problem").toString().contains("no watched root can be read"))
            << qPrintable(st.value("problem").toString());
        EXPECT_EQ(logLinesWith(QStringLiteral("watches nothing")), 1);
    }
    {
        // The watch limit reached before the first folder.
        const QString root = KelsoTest::home() + QStringLiteral("/nothing-budget");
        QDir().mkpath(root + QStringLiteral("/a"));
        KLFSEvents::setInotifyWatchBudgetForTesting(0);
        FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-nothing2"));
        stream.setBackendPreference(QStringLiteral("inotify"));
        EXPECT_FALSE(stream.start({root}));
        KLFSEvents::setInotifyWatchBudgetForTesting(-1);
        EXPECT_TRUE(stream.status().value("problem").toString().contains("max_user_watches"))
            << qPrintable(stream.status().value("problem").toString());
        // Once folders can be watched again, a start watches and the problem is gone.
        EXPECT_TRUE(stream.start({root}));
        EXPECT_TRUE(stream.status().value("problem").toString().isEmpty());
        EXPECT_EQ(stream.status().value("watchedFolders").toInt(), 2);
    }
    qInstallMessageHandler(previous);
}

TEST(FsEventStreamInotify, RunningOutOfWatchesPartWayNamesTheFoldersLeftOut)
{
    const QString root = KelsoTest::home() + QStringLiteral("/budget-names");
    for (int i = 0; i < 6; ++i)
        QDir().mkpath(root + QStringLiteral("/f%1").arg(i));
    KLFSEvents::setInotifyWatchBudgetForTesting(3);
    {
        std::lock_guard lock(g_logMutex);
        g_log.clear();
    }
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-budget-names"));
    stream.setBackendPreference(QStringLiteral("inotify"));
    EXPECT_TRUE(stream.start({root}));
    KLFSEvents::setInotifyWatchBudgetForTesting(-1);
    qInstallMessageHandler(previous);
    QStringList lines;
    {
        std::lock_guard lock(g_logMutex);
        lines = g_log.filter(QStringLiteral("max_user_watches"));
    }
    ASSERT_EQ(lines.size(), 1);
    int named = 0;
    for (int i = 0; i < 6; ++i)
        named += lines[0].contains(root + QStringLiteral("/f%1").arg(i)) ? 1 : 0;
    EXPECT_EQ(named, 4) << "the folders left unwatched are named: " << qPrintable(lines[0]);
    EXPECT_EQ(stream.status().value("unwatchedFolders").toInt(), 4);
    EXPECT_TRUE(stream.isActive());
}

TEST(FsEventStreamLifecycle, SlowVolumesAreWatchedAtTheirTopOnly)
{
    const QString root = KelsoTest::home() + QStringLiteral("/slow-home");
    const QString nas = root + QStringLiteral("/nas");
    QDir().mkpath(nas + QStringLiteral("/share/deep"));
    QDir().mkpath(root + QStringLiteral("/local/deep"));
    // The mount table says the folder is an NFS volume.
    const QString table = KelsoTest::home() + QStringLiteral("/mountinfo-slow");
    KelsoTest::writeFile(table, QStringLiteral("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                               "90 22 0:50 / %1 rw - nfs4 server:/export rw\n")
                                    .arg(nas)
                                    .toUtf8());
    Mounts::setMountInfoPathForTesting(table);
    Recorder rec;
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-slow"));
    stream.setBackendPreference(QStringLiteral("inotify"));
    stream.setLatency(0.1);
    stream.setDelegate(&rec);
    ASSERT_TRUE(stream.start({root}));
    EXPECT_EQ(stream.watchedDirectoryCount(), 4) << "root, local, local/deep and the volume's top";
    sh(QStringLiteral("echo 1 > %1; echo 2 > %2")
           .arg(q(nas + QStringLiteral("/share/deep/x.txt")), q(nas + QStringLiteral("/top.txt"))));
    EXPECT_TRUE(rec.waitForRecord(nas)) << "the top of the volume is watched";
    sh(QStringLiteral("mkdir %1 && echo 3 > %1/y.txt").arg(q(nas + QStringLiteral("/newdir"))));
    ASSERT_TRUE(rec.waitForRecord(nas, rec.maxId()));
    stream.flushSync();
    KelsoTest::waitFor([] { return false; }, 400);
    for (const FileSystemEvent &e : rec.events())
        EXPECT_FALSE(e.evPath.startsWith(nas + QStringLiteral("/")))
            << "walked below the top: " << qPrintable(e.evPath);
    EXPECT_EQ(stream.status().value("topOnlyRoots").toStringList(), QStringList());
    stream.setDelegate(nullptr);
    Mounts::setMountInfoPathForTesting(QString());
}

TEST(FsEventStreamLifecycle, AQuitNeverWaitsForAWalkToFinish)
{
    const QString root = KelsoTest::home() + QStringLiteral("/slow-walk");
    for (int i = 0; i < 100; ++i)
        QDir().mkpath(root + QStringLiteral("/d%1").arg(i));
    KLFSEvents::setWalkDelayForTesting(100); // ten seconds for the whole tree
    auto stream = std::make_unique<FileSystemEventStream>(KelsoTest::home() + QStringLiteral("/.state-slow-walk"));
    stream->setBackendPreference(QStringLiteral("inotify"));
    std::thread starter([&] { stream->start({root}); });
    QThread::msleep(500); // the walk is under way
    QElapsedTimer t;
    t.start();
    stream->shutdown();
    const qint64 took = t.elapsed();
    starter.join();
    KLFSEvents::setWalkDelayForTesting(0);
    EXPECT_LT(took, 2500) << "the shutdown waited for the walk";
}
