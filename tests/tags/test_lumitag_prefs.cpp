// Recent tags in the shared domain and the recent tag groups in the program's settings.
#include "TagTestUtil.h"
#include "platform/Plist.h"
#include "tags/LumitagPrefs.h"
#include "tags/XPTagWriter.h"
#include "util/Paths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSaveFile>
#include <QUuid>
#include <csignal>
#include <thread>

using L = QStringList;

namespace {

// Writes the domain's file the way another program would: a whole new file put in place.
void writeDomainFileFromOutside(const QString &domain, const QVariantMap &content)
{
    QSaveFile out(Defaults::pathForDomain(domain));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(Plist::toBinary(content));
    ASSERT_TRUE(out.commit());
}

QVariantMap readDomainFile(const QString &domain)
{
    QFile f(Defaults::pathForDomain(domain));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return Plist::fromData(f.readAll()).toMap();
}

L numbered(const QString &prefix, int count)
{
    L out;
    for (int i = 0; i < count; ++i)
        out.append(prefix + QString::number(i));
    return out;
}

} // namespace

class RecentTags : public ::testing::Test
{
protected:
    void SetUp() override
    {
        domain = QStringLiteral("com.lumitag.test-") + QUuid::createUuid().toString(QUuid::Id128).left(10);
        LumitagPrefs::setPrefsFile(domain);
    }
    void TearDown() override { LumitagPrefs::setPrefsFile(LumitagPrefs::kSharedDomain); }
    void store(const L &tags)
    {
        Defaults::domain(domain).setValue(LumitagPrefs::kRecentTagsKey, QVariant(tags));
        Defaults::domain(domain).synchronize();
    }
    L onDisk() { return readDomainFile(domain).value(LumitagPrefs::kRecentTagsKey).toStringList(); }
    QString domain;
};

TEST_F(RecentTags, AddedTagsMoveToTheFrontWithTheirNewSpelling)
{
    store({"home", "urgent"});
    LumitagPrefs::updatePrefsRecentTags({"work"}, {"work", "Urgent"});
    EXPECT_EQ(onDisk(), (L{"Urgent", "home"})) << "written to the domain's file";
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_EQ(LumitagPrefs::recentTags(), (L{"Urgent", "home"}));
}

TEST_F(RecentTags, OnlyRemovingTagsChangesNothing)
{
    store({"home"});
    const QByteArray before = [&] {
        QFile f(Defaults::pathForDomain(domain));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    LumitagPrefs::updatePrefsRecentTags({"a", "b"}, {"a"});
    QFile f(Defaults::pathForDomain(domain));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(RecentTags, TheListIsCutAt1401Entries)
{
    const L stored = numbered(QStringLiteral("t"), 1400);
    store(stored);
    LumitagPrefs::updatePrefsRecentTags({}, {"new1"});
    L now = onDisk();
    ASSERT_EQ(now.size(), 1401);
    EXPECT_EQ(now.first(), QStringLiteral("new1"));
    EXPECT_EQ(now.last(), QStringLiteral("t1399"));

    store(stored);
    LumitagPrefs::updatePrefsRecentTags({}, {"n1", "n2"});
    now = onDisk();
    ASSERT_EQ(now.size(), 1401);
    EXPECT_EQ(now.mid(0, 3), (L{"n1", "n2", "t0"}));
    EXPECT_EQ(now.last(), QStringLiteral("t1398"));
}

TEST_F(RecentTags, RemovingIsCaseInsensitiveAndDropsLaterDuplicates)
{
    store({"home", "work", "Work", "play"});
    LumitagPrefs::removeTagsFromRecents({"HOME"});
    EXPECT_EQ(onDisk(), (L{"work", "play"}));
}

TEST_F(RecentTags, SynchronisationPicksUpAnotherProgramsWritesAtMostEveryTenSeconds)
{
    store({"mine"});
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_EQ(LumitagPrefs::recentTags(), L{"mine"});
    writeDomainFileFromOutside(domain, {{LumitagPrefs::kRecentTagsKey, QVariantList{QStringLiteral("theirs")}}});
    EXPECT_EQ(LumitagPrefs::recentTags(), L{"mine"}) << "second call within 10 s does not synchronise";
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_EQ(LumitagPrefs::recentTags(), L{"theirs"});

    // A change merges onto what the other program wrote.
    writeDomainFileFromOutside(domain, {{LumitagPrefs::kRecentTagsKey, QVariantList{QStringLiteral("other")}},
                                        {QStringLiteral("unrelated"), 5}});
    LumitagPrefs::updatePrefsRecentTags({}, {"fresh"});
    EXPECT_EQ(onDisk(), (L{"fresh", "other"}));
    EXPECT_EQ(readDomainFile(domain).value(QStringLiteral("unrelated")).toInt(), 5) << "other keys survive";
}

TEST_F(RecentTags, ACorruptFileCountsAsEmpty)
{
    QDir().mkpath(QFileInfo(Defaults::pathForDomain(domain)).absolutePath());
    QFile f(Defaults::pathForDomain(domain));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("garbage that is no plist");
    f.close();
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_EQ(LumitagPrefs::recentTags(), L{});
    LumitagPrefs::updatePrefsRecentTags({}, {"x"});
    EXPECT_EQ(onDisk(), L{"x"});
}

// ---- the lock around a change

namespace {

// A process of its own holding an exclusive flock on `lockPath`, until destroyed.
class LockHolder
{
public:
    explicit LockHolder(const QString &lockPath)
    {
        m_process.start(QStringLiteral(LOCK_HOLDER), {lockPath});
        EXPECT_TRUE(m_process.waitForReadyRead(10000)) << "lock holder did not start";
        EXPECT_EQ(m_process.readLine().trimmed(), QByteArray("locked"));
    }
    ~LockHolder()
    {
        ::kill(pid_t(m_process.processId()), SIGCONT);
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    void stop() { ::kill(pid_t(m_process.processId()), SIGSTOP); }

private:
    QProcess m_process;
};

QString changeLockPath(const QString &domain)
{
    return KLPaths::applicationSupportFolder() + QLatin1Char('/') + domain + QStringLiteral(".tags-lock");
}

mode_t modeOf(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

} // namespace

TEST_F(RecentTags, AChangeThatCannotTakeItsLockIsNotWritten)
{
    store({"before"});
    const QString lock = changeLockPath(domain);

    // Something that is no lock file stands where the lock goes: the lock cannot be made.
    ASSERT_TRUE(QDir().mkpath(lock));
    EXPECT_FALSE(LumitagPrefs::updatePrefsRecentTags({}, {"added"}));
    EXPECT_FALSE(LumitagPrefs::removeTagsFromRecents({"before"}));
    EXPECT_EQ(onDisk(), L{"before"}) << "written without the lock";
    ASSERT_TRUE(QDir().rmdir(lock));

    // Another Kelso holds the lock and is stopped: refused at once, not waited for.
    {
        LockHolder holder(lock);
        holder.stop();
        EXPECT_FALSE(LumitagPrefs::updatePrefsRecentTags({}, {"added"}));
        EXPECT_EQ(onDisk(), L{"before"}) << "written while another process held the lock";
    }

    // Once the lock is free the same change goes through.
    EXPECT_TRUE(LumitagPrefs::updatePrefsRecentTags({}, {"added"}));
    EXPECT_EQ(onDisk(), (L{"added", "before"}));
    EXPECT_TRUE(LumitagPrefs::removeTagsFromRecents({"before"}));
    EXPECT_EQ(onDisk(), L{"added"});
}

TEST_F(RecentTags, TheChangeLockIsPrivate)
{
    store({"before"});
    // The settings store's own lock is held by a busy process: the change waits inside its
    // lock, long enough to look at the lock file.
    auto settingsHolder = std::make_unique<LockHolder>(Defaults::pathForDomain(domain) + QStringLiteral(".lock"));
    std::thread change([] { LumitagPrefs::updatePrefsRecentTags({}, {"added"}); });
    const QString lock = changeLockPath(domain);
    const bool seen = KelsoTest::waitFor([&] { return QFileInfo::exists(lock); }, 4000);
    const mode_t lockMode = modeOf(lock);
    const mode_t folderMode = modeOf(QFileInfo(lock).absolutePath());
    settingsHolder.reset();
    change.join();
    ASSERT_TRUE(seen) << "no lock file at " << qPrintable(lock);
    EXPECT_TRUE(S_ISREG(lockMode));
    EXPECT_EQ(lockMode & 07777, mode_t(0600));
    EXPECT_EQ(folderMode & 07777, mode_t(0700));
    EXPECT_FALSE(QFileInfo::exists(Defaults::pathForDomain(domain) + QStringLiteral(".tags-lock")))
        << "a lock beside the settings, in the shared config folder";
}

TEST(TagPrefsFile, SharedFileExistence)
{
    QFile::remove(Defaults::pathForDomain(LumitagPrefs::kSharedDomain));
    EXPECT_FALSE(LumitagPrefs::lumitagPrefsFileExists());
    KelsoTest::writeFile(Defaults::pathForDomain(LumitagPrefs::kSharedDomain), Plist::toBinary(QVariantMap()));
    EXPECT_TRUE(LumitagPrefs::lumitagPrefsFileExists());
    QFile::remove(Defaults::pathForDomain(LumitagPrefs::kSharedDomain));
}

TEST(TagPrefsFile, StartUpKeepsRecentTagsInTheOwnDomainUntilASharedFileExists)
{
    const QString shared = Defaults::pathForDomain(LumitagPrefs::kSharedDomain);
    QFile::remove(shared);
    EXPECT_EQ(LumitagPrefs::chooseDomainAtStartup(), LumitagPrefs::kOwnDomain);
    EXPECT_EQ(LumitagPrefs::prefsDomain(), LumitagPrefs::kOwnDomain);
    const QString tag = QStringLiteral("own-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    LumitagPrefs::updatePrefsRecentTags({}, {tag});
    // Written to the program's own settings file; the shared file is not created.
    EXPECT_TRUE(
        readDomainFile(LumitagPrefs::kOwnDomain).value(LumitagPrefs::kRecentTagsKey).toStringList().contains(tag));
    EXPECT_FALSE(QFile::exists(shared));

    // Another tagging program made the shared file: the next start uses it.
    KelsoTest::writeFile(shared, Plist::toBinary(QVariantMap{{LumitagPrefs::kRecentTagsKey, QVariantList{"theirs"}}}));
    EXPECT_EQ(LumitagPrefs::chooseDomainAtStartup(), LumitagPrefs::kSharedDomain);
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_EQ(LumitagPrefs::recentTags(), L{"theirs"});
    QFile::remove(shared);
    LumitagPrefs::setPrefsFile(LumitagPrefs::kSharedDomain);
}

// ---- recent tag groups

class TagGroups : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Defaults::standard().removeObjectForKey(XPTagWriter::kRecentTagGroupsKey);
        Defaults::standard().removeObjectForKey(XPTagWriter::kMaxTagGroupsKey);
    }
    QVariantMap groups() { return Defaults::standard().dictionaryForKey(XPTagWriter::kRecentTagGroupsKey); }
    void seed(int count)
    {
        QVariantMap g;
        const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-30);
        for (int i = 0; i < count; ++i) {
            const QString key = QStringLiteral("g%1").arg(i);
            // The alphabetically last key is the oldest, so key order and date order differ.
            g.insert(key, QVariantMap{{QStringLiteral("tags"), QVariantList{key}},
                                      {QStringLiteral("date"), base.addSecs(3600 * (count - i))}});
        }
        Defaults::standard().setValue(XPTagWriter::kRecentTagGroupsKey, g);
    }
};

TEST_F(TagGroups, GroupsAreKeyedByTheJoinedTags)
{
    XPTagWriter::addNewTagsToRecentGroups({"a", "b c"});
    const QVariantMap g = groups();
    ASSERT_EQ(g.size(), 1);
    const QVariantMap entry = g.value(QStringLiteral("a,b c")).toMap();
    EXPECT_EQ(entry.value(QStringLiteral("tags")).toStringList(), (L{"a", "b c"}));
    EXPECT_TRUE(entry.value(QStringLiteral("date")).toDateTime().isValid());

    XPTagWriter::addNewTagsToRecentGroups({});
    XPTagWriter::addNewTagsToRecentGroups({""});
    EXPECT_EQ(groups().size(), 1) << "empty lists are not recorded";
}

TEST_F(TagGroups, TheSeventhGroupPushesOutTheOldest)
{
    seed(6);
    XPTagWriter::addNewTagsToRecentGroups({"seventh"});
    const QVariantMap g = groups();
    EXPECT_EQ(g.size(), 6);
    EXPECT_FALSE(g.contains(QStringLiteral("g5"))) << "g5 has the oldest date";
    EXPECT_TRUE(g.contains(QStringLiteral("g0")));
    EXPECT_TRUE(g.contains(QStringLiteral("seventh")));
}

TEST_F(TagGroups, WritingTheSameTagsAgainRefreshesTheDate)
{
    seed(6);
    XPTagWriter::addNewTagsToRecentGroups({"g5"});
    const QVariantMap g = groups();
    EXPECT_EQ(g.size(), 6);
    EXPECT_GT(g.value(QStringLiteral("g5")).toMap().value(QStringLiteral("date")).toDateTime(),
              QDateTime::currentDateTimeUtc().addSecs(-60));
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(g.contains(QStringLiteral("g%1").arg(i))) << i;
}

TEST_F(TagGroups, TheLimitFollowsTheSetting)
{
    Defaults::standard().setValue(XPTagWriter::kMaxTagGroupsKey, 2);
    seed(4);
    XPTagWriter::addNewTagsToRecentGroups({"new"});
    const QVariantMap g = groups();
    EXPECT_EQ(g.keys(), (L{"g0", "new"}));
}

// ---- several Kelso processes entering tags at the same time

namespace {
const char *kParentConfigEnv = "KELSO_TAGS_TEST_PARENT_CONFIG";
const char *kParentDataEnv = "KELSO_TAGS_TEST_PARENT_DATA";
const char *kDomainEnv = "KELSO_TAGS_TEST_DOMAIN";
const char *kPrefixEnv = "KELSO_TAGS_TEST_PREFIX";
constexpr int kTagsPerWriter = 25;
} // namespace

// Runs only inside the child processes started by the test below.
TEST(DISABLED_RecentTagsWriter, EntersTagsOneByOne)
{
    const QString parentConfig = qEnvironmentVariable(kParentConfigEnv);
    ASSERT_FALSE(parentConfig.isEmpty());
    // Share the parent's settings folder: this process's config folder becomes a link to it.
    const QString ownConfig = QFileInfo(Defaults::pathForDomain(QStringLiteral("x"))).absolutePath();
    QDir(ownConfig).removeRecursively();
    ASSERT_TRUE(QFile::link(parentConfig, ownConfig));
    // And the data folder, where Kelso's private folder holds the lock around each change.
    const QString ownData = QFileInfo(KLPaths::applicationSupportFolder()).absolutePath();
    QDir(ownData).removeRecursively();
    QDir().mkpath(QFileInfo(ownData).absolutePath());
    ASSERT_TRUE(QFile::link(qEnvironmentVariable(kParentDataEnv), ownData));
    LumitagPrefs::setPrefsFile(qEnvironmentVariable(kDomainEnv));
    const QString prefix = qEnvironmentVariable(kPrefixEnv);
    for (int i = 0; i < kTagsPerWriter; ++i)
        EXPECT_TRUE(LumitagPrefs::updatePrefsRecentTags({}, {prefix + QString::number(i)})) << i;
}

TEST_F(RecentTags, ConcurrentWritersInSeveralProcessesLoseNoTag)
{
    store({"before"});
    const QString config = QFileInfo(Defaults::pathForDomain(domain)).absolutePath();
    // The writers link their data folder to this one: it must exist when the test runs alone.
    ASSERT_TRUE(QDir().mkpath(KLPaths::applicationSupportFolder()));
    QList<QProcess *> writers;
    for (const QString &prefix : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}) {
        auto *p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kParentConfigEnv), config);
        env.insert(QString::fromLatin1(kParentDataEnv), QFileInfo(KLPaths::applicationSupportFolder()).absolutePath());
        env.insert(QString::fromLatin1(kDomainEnv), domain);
        env.insert(QString::fromLatin1(kPrefixEnv), prefix);
        p->setProcessEnvironment(env);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=DISABLED_RecentTagsWriter.*")});
        writers.append(p);
    }
    for (QProcess *p : writers) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAll().constData();
        delete p;
    }
    const L now = onDisk();
    EXPECT_EQ(now.size(), 3 * kTagsPerWriter + 1) << qPrintable(now.join(QLatin1Char(' ')));
    for (const QString &prefix : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
        for (int i = 0; i < kTagsPerWriter; ++i)
            EXPECT_TRUE(now.contains(prefix + QString::number(i))) << qPrintable(prefix) << i;
    EXPECT_EQ(now.last(), QStringLiteral("before"));
}
