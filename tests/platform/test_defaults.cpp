// The user-defaults store: registration, typed reads, persistence across a restart (a new
// store on the same file), change signals, several processes on one domain, and bad files or
// folders.
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QPoint>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Collects warnings so tests can check that a problem is reported, and reported once.
class LogCapture
{
public:
    LogCapture()
    {
        std::lock_guard lock(s_mutex);
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    static QStringList lines()
    {
        std::lock_guard lock(s_mutex);
        return s_lines;
    }
    static int count(const QString &fragment)
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.contains(fragment) ? 1 : 0;
        return n;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        std::lock_guard lock(s_mutex);
        s_lines.append(message);
    }
    QtMessageHandler m_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
};

int g_counter = 0;

// A fresh settings file path in its own folder.
QString freshPath(const QString &name = QStringLiteral("com.example.test.plist"))
{
    const QString folder = KelsoTest::home() + QStringLiteral("/defaults-%1").arg(++g_counter);
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

QStringList corruptCopies(const QString &path)
{
    const QFileInfo info(path);
    return QDir(info.absolutePath()).entryList({info.fileName() + ".corrupt-*"}, QDir::Files, QDir::Name);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList keysOf(const QSignalSpy &spy)
{
    QStringList keys;
    for (const QList<QVariant> &args : spy)
        keys.append(args.value(0).toString());
    return keys;
}

} // namespace

TEST(DefaultsTest, RegistrationNeverOverwritesSavedValues)
{
    const QString path = freshPath();
    {
        Defaults d(path);
        d.setBool("KLFadeIn", true);
        d.setString("name", "saved");
        d.setInteger("zero", 0);
        d.registerDefaults({{"late", 1}});
        d.setInteger("late", 3);
        d.registerDefaults({{"late", 9}}); // registering after a set changes nothing either
        EXPECT_EQ(d.integerForKey("late"), 3);
        ASSERT_TRUE(d.synchronize());
    }
    Defaults d(path); // the next launch
    d.registerDefaults({{"KLFadeIn", false}, {"name", "default"}, {"zero", 5}, {"other", 7}, {"late", 9}});
    EXPECT_TRUE(d.boolForKey("KLFadeIn"));
    EXPECT_EQ(d.stringForKey("name"), "saved");
    EXPECT_EQ(d.integerForKey("zero"), 0) << "a saved 0 is a value, not an absence";
    EXPECT_EQ(d.integerForKey("late"), 3);
    EXPECT_EQ(d.integerForKey("other"), 7);
    EXPECT_FALSE(d.hasSavedValue("other"));
    // The file still holds only what was saved.
    const QVariantMap file = Plist::fromData(readAll(path)).toMap();
    EXPECT_FALSE(file.contains("other"));
    EXPECT_EQ(file.value("name").toString(), "saved");
}

TEST(DefaultsTest, AbsentKeysReadAsFalseZeroOrEmpty)
{
    Defaults d(freshPath());
    d.setString("aString", "text");
    d.setInteger("aNumber", 12);
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_EQ(d.unsignedForKey("missing"), 0u);
    EXPECT_EQ(d.doubleForKey("missing"), 0.0);
    EXPECT_TRUE(d.stringForKey("missing").isEmpty());
    EXPECT_TRUE(d.stringArrayForKey("missing").isEmpty());
    EXPECT_TRUE(d.arrayForKey("missing").isEmpty());
    EXPECT_TRUE(d.dictionaryForKey("missing").isEmpty());
    EXPECT_TRUE(d.dataForKey("missing").isEmpty());
    EXPECT_FALSE(d.value("missing").isValid());
    EXPECT_FALSE(d.contains("missing"));
    // A value of another type reads as empty for the collection and data getters.
    EXPECT_TRUE(d.arrayForKey("aString").isEmpty());
    EXPECT_TRUE(d.dictionaryForKey("aNumber").isEmpty());
    EXPECT_TRUE(d.dataForKey("aString").isEmpty());
    d.setValue("mixed", QVariantList{"a", 1});
    EXPECT_TRUE(d.stringArrayForKey("mixed").isEmpty()) << "an array holding a number is not a string array";
    EXPECT_EQ(d.arrayForKey("mixed").size(), 2);
}

TEST(DefaultsTest, EveryValueTypeSurvivesARestart)
{
    const QString path = freshPath();
    const quint64 allBits = std::numeric_limits<quint64>::max();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123LL, Qt::UTC);
    const QVariantMap dict{{"path", "/home/x"}, {"inner", QVariantMap{{"n", 2}}}, {"list", QVariantList{1, "b"}}};
    {
        Defaults d(path);
        d.setString("string", QString::fromUtf8("Grüße ✓"));
        d.setInteger("int", -1234567890123LL);
        d.setUnsigned("lastHandledFSEvent", allBits);
        d.setUnsigned("bigEventId", quint64(1) << 63);
        d.setDouble("double", 0.30000000000000004);
        d.setBool("yes", true);
        d.setBool("no", false);
        d.setValue("date", when);
        d.setValue("data", QByteArray("\x00\xfe\x01", 3));
        d.setValue("strings", QStringList{"xcodeproj", "tmp"});
        d.setValue("array", QVariantList{QVariantList{1, 2}, QVariantMap{{"k", "v"}}, true});
        d.setValue("dict", dict);
        ASSERT_TRUE(d.synchronize());
    }
    ASSERT_TRUE(Plist::isBinary(readAll(path)));
    Defaults d(path);
    EXPECT_EQ(d.stringForKey("string"), QString::fromUtf8("Grüße ✓"));
    EXPECT_EQ(d.integerForKey("int"), -1234567890123LL);
    EXPECT_EQ(d.unsignedForKey("lastHandledFSEvent"), allBits);
    EXPECT_EQ(d.unsignedForKey("bigEventId"), quint64(1) << 63);
    EXPECT_DOUBLE_EQ(d.doubleForKey("double"), 0.30000000000000004);
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_FALSE(d.boolForKey("no"));
    EXPECT_TRUE(d.hasSavedValue("no"));
    EXPECT_EQ(d.value("date").toDateTime().toMSecsSinceEpoch(), when.toMSecsSinceEpoch());
    EXPECT_EQ(d.dataForKey("data"), QByteArray("\x00\xfe\x01", 3));
    EXPECT_EQ(d.stringArrayForKey("strings"), (QStringList{"xcodeproj", "tmp"}));
    const QVariantList array = d.arrayForKey("array");
    ASSERT_EQ(array.size(), 3);
    EXPECT_EQ(array[0].toList().value(1).toLongLong(), 2);
    EXPECT_EQ(array[1].toMap().value("k").toString(), "v");
    EXPECT_TRUE(array[2].toBool());
    const QVariantMap back = d.dictionaryForKey("dict");
    EXPECT_EQ(back.value("path").toString(), "/home/x");
    EXPECT_EQ(back.value("inner").toMap().value("n").toLongLong(), 2);
    EXPECT_EQ(back.value("list").toList().value(1).toString(), "b");
}

TEST(DefaultsTest, RemovalSurvivesARestartAndRevealsTheDefault)
{
    const QString path = freshPath();
    {
        Defaults d(path);
        d.registerDefaults({{"count", 4}});
        d.setInteger("count", 10);
        d.setString("gone", "x");
        ASSERT_TRUE(d.synchronize());
        d.removeObjectForKey("count");
        d.removeObjectForKey("gone");
        EXPECT_EQ(d.integerForKey("count"), 4);
        ASSERT_TRUE(d.synchronize());
    }
    Defaults d(path);
    EXPECT_FALSE(d.hasSavedValue("count"));
    EXPECT_FALSE(d.contains("gone"));
    d.registerDefaults({{"count", 4}});
    EXPECT_EQ(d.integerForKey("count"), 4);
}

TEST(DefaultsTest, ChangedIsEmittedForSetRemoveAndRegistration)
{
    Defaults d(freshPath());
    QSignalSpy spy(&d, &Defaults::changed);
    d.setInteger("a", 1);
    EXPECT_EQ(keysOf(spy), QStringList{"a"});
    spy.clear();
    d.removeObjectForKey("a");
    EXPECT_EQ(keysOf(spy), QStringList{"a"});
    spy.clear();
    d.registerDefaults({{"b", true}});
    EXPECT_EQ(keysOf(spy), QStringList{"b"});
    spy.clear();
    // Registering under a saved value changes nothing that an observer could see.
    d.setString("c", "mine");
    spy.clear();
    d.registerDefaults({{"c", "default"}});
    EXPECT_FALSE(keysOf(spy).contains("c"));
    EXPECT_EQ(d.stringForKey("c"), "mine");
    // Removing reveals the registered default: a change.
    d.removeObjectForKey("c");
    EXPECT_EQ(keysOf(spy), QStringList{"c"});
    EXPECT_EQ(d.stringForKey("c"), "default");
}

TEST(DefaultsTest, SynchronizePicksUpAnotherWritersValues)
{
    const QString path = freshPath();
    Defaults mine(path);
    mine.setInteger("kept", 1);
    mine.setString("theirs", "old");
    mine.setString("removedThere", "x");
    ASSERT_TRUE(mine.synchronize());

    Defaults other(path); // another process, in effect
    EXPECT_EQ(other.stringForKey("theirs"), "old");
    other.setString("theirs", "new");
    other.setBool("added", true);
    other.removeObjectForKey("removedThere");
    ASSERT_TRUE(other.synchronize());

    QSignalSpy spy(&mine, &Defaults::changed);
    ASSERT_TRUE(mine.synchronize());
    const QStringList keys = keysOf(spy);
    EXPECT_TRUE(keys.contains("theirs"));
    EXPECT_TRUE(keys.contains("added"));
    EXPECT_TRUE(keys.contains("removedThere"));
    EXPECT_FALSE(keys.contains("kept"));
    EXPECT_EQ(mine.stringForKey("theirs"), "new");
    EXPECT_TRUE(mine.boolForKey("added"));
    EXPECT_FALSE(mine.contains("removedThere"));
    EXPECT_EQ(mine.integerForKey("kept"), 1);

    // reloadIfChanged follows too, and a pending local change wins over the file.
    other.setString("theirs", "newer");
    ASSERT_TRUE(other.synchronize());
    mine.setInteger("kept", 2);
    spy.clear();
    mine.reloadIfChanged();
    EXPECT_EQ(mine.stringForKey("theirs"), "newer");
    EXPECT_EQ(keysOf(spy), QStringList{"theirs"});
    EXPECT_EQ(mine.integerForKey("kept"), 2);
    ASSERT_TRUE(mine.synchronize());
    EXPECT_EQ(Defaults(path).integerForKey("kept"), 2);
}

TEST(DefaultsTest, AChangeIsWrittenSoonWithoutAnExplicitSynchronize)
{
    const QString path = freshPath();
    Defaults d(path);
    d.setString("auto", "written");
    EXPECT_TRUE(KelsoTest::waitFor([&] { return Defaults(path).stringForKey("auto") == "written"; }, 20000));
    // and again after the first write
    d.setString("auto", "again");
    EXPECT_TRUE(KelsoTest::waitFor([&] { return Defaults(path).stringForKey("auto") == "again"; }, 20000));
}

// Another process may hold the settings lock for a while (here: the test itself): the write
// that a change schedules waits for it on the store's own thread, and the event loop goes on.
TEST(DefaultsTest, AScheduledWriteWaitsForTheLockWithoutHoldingUpTheEventLoop)
{
    const QString path = freshPath();
    Defaults d(path);
    QLockFile held(path + QStringLiteral(".lock"));
    ASSERT_TRUE(held.tryLock(1000));
    d.setString("waiting", "for the lock");
    QElapsedTimer loop;
    loop.start();
    QTest::qWait(1500); // the write starts after half a second and then waits for the lock
    EXPECT_LT(loop.elapsed(), 10000) << "the event loop waited for the lock";
    EXPECT_FALSE(Defaults(path).hasSavedValue("waiting"));
    held.unlock();
    EXPECT_TRUE(KelsoTest::waitFor([&] { return Defaults(path).stringForKey("waiting") == "for the lock"; }, 40000));
    d.waitForBackgroundSync();
}

TEST(DefaultsTest, ManyThreadsSettingKeysLoseNothing)
{
    const QString path = freshPath();
    Defaults d(path);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([&d, t] {
            for (int i = 0; i < 200; ++i)
                d.setInteger(QStringLiteral("t%1-%2").arg(t).arg(i), i);
        }));
        threads.back()->start();
    }
    for (int i = 0; i < 20; ++i)
        d.synchronize();
    for (auto &t : threads)
        ASSERT_TRUE(t->wait(60000));
    ASSERT_TRUE(d.synchronize());
    Defaults reread(path);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(reread.integerForKey(QStringLiteral("t%1-%2").arg(t).arg(i)), i) << t << " " << i;
}

TEST(DefaultsTest, ProcessesWritingDifferentKeysOfOneDomainKeepEachOthersKeys)
{
    const QString path = freshPath();
    constexpr int kWriters = 4;
    constexpr int kRounds = 25;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(DEFAULTS_WRITER), {path, QStringLiteral("writer%1").arg(w), QString::number(kRounds)});
        writers.push_back(std::move(p));
    }
    for (auto &p : writers)
        ASSERT_TRUE(p->waitForStarted(30000));
    // This process writes its own key meanwhile.
    Defaults mine(path);
    int round = 0;
    auto running = [&] {
        for (auto &p : writers)
            if (p->state() != QProcess::NotRunning)
                return true;
        return false;
    };
    while (running() && round < 10000) {
        mine.setInteger("mine", ++round);
        EXPECT_TRUE(mine.synchronize());
        for (auto &p : writers)
            p->waitForFinished(5);
    }
    for (auto &p : writers) {
        if (p->state() != QProcess::NotRunning) {
            ASSERT_TRUE(p->waitForFinished(120000));
        }
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
    mine.setInteger("mine", ++round);
    ASSERT_TRUE(mine.synchronize());
    Defaults reread(path);
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(reread.integerForKey(QStringLiteral("writer%1").arg(w)), kRounds) << "writer " << w;
    EXPECT_EQ(reread.integerForKey("mine"), round);
    EXPECT_EQ(mine.integerForKey("writer0"), kRounds) << "this process sees the others' keys too";
}

TEST(DefaultsTest, CorruptFileIsMovedAsideAndDefaultsAreUsed)
{
    const QString path = freshPath("com.tallow.kelso.plist");
    const QByteArray garbage("this is not a property list \x01\x02\x03");
    KelsoTest::writeFile(path, garbage);
    LogCapture log;
    Defaults d(path);
    d.registerDefaults({{"KLVirginLaunch", true}, {"count", 3}});
    EXPECT_TRUE(d.boolForKey("KLVirginLaunch"));
    EXPECT_EQ(d.integerForKey("count"), 3);
    EXPECT_FALSE(QFile::exists(path));
    const QStringList aside = corruptCopies(path);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(QFileInfo(path).absolutePath() + "/" + aside.first()), garbage) << "the bad file is kept";
    EXPECT_EQ(LogCapture::count(path), 1) << qPrintable(LogCapture::lines().join('\n'));

    // The store goes on working and writes a good file.
    d.setInteger("count", 8);
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(Defaults(path).integerForKey("count"), 8);
    EXPECT_EQ(corruptCopies(path).size(), 1);
}

TEST(DefaultsTest, AFileOfTheWrongShapeCountsAsCorrupt)
{
    const QString path = freshPath();
    KelsoTest::writeFile(path, Plist::toBinary(QVariantList{1, 2, 3}));
    Defaults d(path);
    EXPECT_FALSE(d.contains("0"));
    EXPECT_EQ(corruptCopies(path).size(), 1);
    // An empty file is simply an empty store.
    const QString empty = freshPath();
    KelsoTest::writeFile(empty, QByteArray());
    Defaults e(empty);
    e.setInteger("x", 1);
    EXPECT_TRUE(e.synchronize());
    EXPECT_TRUE(corruptCopies(empty).isEmpty());
}

TEST(DefaultsTest, CorruptionWhileRunningLosesNoValue)
{
    const QString path = freshPath();
    {
        Defaults first(path);
        first.setString("fromDisk", "kept");
        first.setInteger("number", 5);
        ASSERT_TRUE(first.synchronize());
    }
    Defaults d(path);
    ASSERT_EQ(d.stringForKey("fromDisk"), "kept");
    // Another writer leaves garbage behind, twice within the same second.
    LogCapture log;
    for (int i = 0; i < 2; ++i) {
        KelsoTest::writeFile(path, QByteArray("garbage ") + QByteArray::number(i));
        d.setInteger("local", i);
        EXPECT_TRUE(d.synchronize());
        EXPECT_EQ(d.stringForKey("fromDisk"), "kept");
    }
    EXPECT_EQ(corruptCopies(path).size(), 2) << "each bad file is kept under its own name";
    Defaults reread(path);
    EXPECT_EQ(reread.stringForKey("fromDisk"), "kept");
    EXPECT_EQ(reread.integerForKey("number"), 5);
    EXPECT_EQ(reread.integerForKey("local"), 1);
}

TEST(DefaultsTest, UnreadableFileKeepsTheProgramRunningAndIsNotOverwritten)
{
    // Tests run as root, so permissions do not block reading: a folder in the file's place does.
    const QString path = freshPath();
    ASSERT_TRUE(QDir().mkpath(path));
    LogCapture log;
    Defaults d(path);
    d.registerDefaults({{"flag", true}});
    EXPECT_TRUE(d.boolForKey("flag"));
    EXPECT_EQ(LogCapture::count(path), 1) << qPrintable(LogCapture::lines().join('\n'));
    d.setInteger("count", 4);
    EXPECT_EQ(d.integerForKey("count"), 4) << "values are kept in memory";
    EXPECT_FALSE(d.synchronize());
    EXPECT_FALSE(d.synchronize());
    EXPECT_TRUE(QFileInfo(path).isDir()) << "the unreadable item is left alone";
    EXPECT_LE(LogCapture::count(path), 2) << "no log line per attempt";

    // Once the obstacle is gone nothing has been lost.
    ASSERT_TRUE(QDir(path).removeRecursively());
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(Defaults(path).integerForKey("count"), 4);
}

TEST(DefaultsTest, UnwritableFolderIsReportedOnceAndValuesStayInMemory)
{
    // The settings folder's place is taken by a regular file.
    const QString blocker = KelsoTest::home() + QStringLiteral("/blocked-config-%1").arg(++g_counter);
    KelsoTest::writeFile(blocker, "not a folder");
    const QString path = blocker + "/com.tallow.kelso.plist";
    LogCapture log;
    Defaults d(path);
    d.registerDefaults({{"KLVirginLaunch", true}});
    EXPECT_TRUE(d.boolForKey("KLVirginLaunch"));
    d.setBool("KLVirginLaunch", false);
    d.setString("name", "value");
    EXPECT_FALSE(d.synchronize());
    EXPECT_FALSE(d.synchronize());
    EXPECT_FALSE(d.boolForKey("KLVirginLaunch"));
    EXPECT_EQ(d.stringForKey("name"), "value");
    EXPECT_EQ(LogCapture::count(blocker), 1) << qPrintable(LogCapture::lines().join('\n'));

    // Let the automatic write run into the blocked folder too; later changes must still be
    // written automatically once the folder can be made.
    QTest::qWait(1500);
    EXPECT_EQ(LogCapture::count(blocker), 1);
    ASSERT_TRUE(QFile::remove(blocker));
    d.setString("name", "later");
    EXPECT_TRUE(KelsoTest::waitFor([&] { return Defaults(path).stringForKey("name") == "later"; }, 20000));
    const Defaults reread(path);
    EXPECT_FALSE(reread.boolForKey("KLVirginLaunch"));
}

TEST(DefaultsTest, AValueWithoutAFileFormIsRefusedAndDoesNotBlockOtherWrites)
{
    const QString path = freshPath();
    Defaults d(path);
    d.setString("bad", "before");
    LogCapture log;
    d.setValue("bad", QVariant(QPoint(1, 2)));
    d.setValue("badInside", QVariantList{1, QVariant(QPoint(3, 4))});
    EXPECT_EQ(d.stringForKey("bad"), "before");
    EXPECT_FALSE(d.contains("badInside"));
    EXPECT_EQ(LogCapture::count("bad"), 2);
    d.setInteger("good", 1);
    ASSERT_TRUE(d.synchronize());
    const Defaults reread(path);
    EXPECT_EQ(reread.integerForKey("good"), 1);
    EXPECT_EQ(reread.stringForKey("bad"), "before");
}

TEST(DefaultsTest, NamedDomainsLiveInTheConfigFolder)
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    EXPECT_EQ(Defaults::standard().filePath(), config + "/com.tallow.kelso.plist");
    EXPECT_EQ(Defaults::domain("com.lumitag.shared").filePath(), config + "/com.lumitag.shared.plist");
    EXPECT_EQ(&Defaults::domain("com.lumitag.shared"), &Defaults::domain("com.lumitag.shared"));
    EXPECT_EQ(&Defaults::domain("com.tallow.kelso"), &Defaults::standard());
    EXPECT_NE(&Defaults::domain("com.lumitag.shared"), &Defaults::standard());
}
