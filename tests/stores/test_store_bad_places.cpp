// Bad places to write a store: a full disk, a folder, a FIFO or an unreadable file where the
// store should be. Each write fails with a reason naming the trouble and the old content (or
// whatever stands there) is left as it was.
#include "cooler/KLCoolerStore.h"
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "platform/StoreFile.h"
#include "platform/fsevents/EventJournal.h"
#include "recent/KLRecentFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int counter = 0;

QString freshFolder(const char *name)
{
    const QString folder = KelsoTest::home() + QStringLiteral("/%1-%2").arg(QLatin1String(name)).arg(++counter);
    QDir().mkpath(folder);
    return folder;
}

QList<KLItemPtr> itemsIn(const QString &folder, int n)
{
    QList<KLItemPtr> items;
    for (int i = 0; i < n; ++i) {
        const QString path = folder + QStringLiteral("/item-%1-with-a-longish-name-to-take-room.txt").arg(i);
        KelsoTest::writeFile(path);
        items.append(KLItem::create(path, false));
    }
    return items;
}

// A 64 KiB tmpfs as XDG_DATA_HOME, unmounted at the end.
class FullDisk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mountPoint = freshFolder("small-disk");
        if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=64k,mode=0700") != 0)
            GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                         << "); the full-disk cases need root or CAP_SYS_ADMIN";
        mounted = true;
        oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(mountPoint));
    }
    void TearDown() override
    {
        if (!mounted)
            return;
        qputenv("XDG_DATA_HOME", oldDataHome);
        ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
    }
    // Takes every free block left, so the next write meets ENOSPC.
    void fillTheDisk()
    {
        const UniqueFdLike fd{::open(QFile::encodeName(mountPoint + QStringLiteral("/filler")).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)};
        ASSERT_GE(fd.fd, 0);
        const QByteArray block(4096, 'f');
        while (::write(fd.fd, block.constData(), size_t(block.size())) > 0) {
        }
        ASSERT_EQ(errno, ENOSPC);
        const QByteArray byte(1, 'f');
        while (::write(fd.fd, byte.constData(), 1) > 0) {
        }
    }
    struct UniqueFdLike {
        int fd;
        ~UniqueFdLike()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    QString mountPoint;
    QByteArray oldDataHome;
    bool mounted = false;
};

TEST_F(FullDisk, CoolerWriteFailsAndKeepsTheOldStore)
{
    const QString store = mountPoint + QStringLiteral("/Kelso/coolerItems.plist");
    ASSERT_TRUE(StoreFile::preparePrivateFolder(QFileInfo(store).absolutePath()));
    const QString items = freshFolder("cooler-items");
    ASSERT_TRUE(KLCoolerStore::write(store, itemsIn(items, 2)));
    fillTheDisk();
    QString why;
    EXPECT_FALSE(KLCoolerStore::write(store, itemsIn(items, 60), &why));
    EXPECT_TRUE(why.contains(QLatin1String("space"), Qt::CaseInsensitive)) << qPrintable(why);
    KLCoolerStore::ReadStatus status;
    EXPECT_EQ(KLCoolerStore::read(store, &status).size(), 2);
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::Read);
    EXPECT_EQ(QDir(QFileInfo(store).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("coolerItems.plist")})
        << "no half-written file is left beside the store";
}

TEST_F(FullDisk, SettingsWriteFailsAndKeepsTheOldFileAndTheNewValue)
{
    const QString path = mountPoint + QStringLiteral("/com.tallow.kelso.plist");
    {
        Defaults first(path);
        first.setString(QStringLiteral("kept"), QStringLiteral("old"));
        ASSERT_TRUE(first.synchronize());
    }
    fillTheDisk();
    Defaults second(path);
    second.setString(QStringLiteral("kept"), QString(20000, QLatin1Char('n')));
    EXPECT_FALSE(second.synchronize());
    EXPECT_EQ(second.value(QStringLiteral("kept")).toString().size(), 20000);
    Defaults reread(path);
    EXPECT_EQ(reread.value(QStringLiteral("kept")).toString(), QStringLiteral("old"));
}

TEST_F(FullDisk, RecentStoreWriteFailsAndKeepsTheOldStore)
{
    const QString store = mountPoint + QStringLiteral("/Kelso/recentItems.plist");
    Defaults defaults(KelsoTest::home() + QStringLiteral("/full-disk-settings-%1.plist").arg(counter));
    KLRecentFiles::Options o;
    o.defaults = &defaults;
    o.storePath = store;
    o.useDefaultStream = false;
    o.startStream = false;
    o.startOpenedFilesQuery = false;
    o.primeListingCache = false;
    {
        KLRecentFiles recent(o);
        ASSERT_TRUE(recent.writeState());
    }
    QFile before(store);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray old = before.readAll();
    before.close();
    fillTheDisk();
    {
        KLRecentFiles recent(o);
        const QString folder = freshFolder("full-disk-recent");
        recent.addEvent(itemsIn(folder, 200), folder);
        EXPECT_FALSE(recent.writeState());
    }
    QFile after(store);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), old);
}

// ---- a folder, a FIFO, an unreadable file in the store's place ------------------------------

TEST(StoreInTheWay, AFolderInTheStorePlaceIsNotReplaced)
{
    const QString folder = freshFolder("folder-store");
    const QString store = folder + QStringLiteral("/coolerItems.plist");
    KelsoTest::writeFile(store + QStringLiteral("/inside.txt"), "kept");
    QString why;
    EXPECT_FALSE(KLCoolerStore::write(store, itemsIn(folder, 1), &why));
    EXPECT_TRUE(why.contains(QLatin1String("folder"))) << qPrintable(why);
    EXPECT_TRUE(QFileInfo(store).isDir());
    EXPECT_TRUE(QFileInfo::exists(store + QStringLiteral("/inside.txt")));

    Defaults settings(folder + QStringLiteral("/coolerItems.plist"));
    settings.setString(QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_FALSE(settings.synchronize());
    EXPECT_TRUE(QFileInfo::exists(store + QStringLiteral("/inside.txt")));
}

TEST(StoreInTheWay, AFifoInTheStorePlaceIsRefusedWithoutWaiting)
{
    const QString folder = freshFolder("fifo-store");
    for (const QString &name : {QStringLiteral("coolerItems.plist"), QStringLiteral("fsevents.journal")}) {
        const QString fifo = folder + QLatin1Char('/') + name;
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    }
    const QString store = folder + QStringLiteral("/coolerItems.plist");
    QString why;
    EXPECT_FALSE(StoreFile::mayReplace(store, true, &why));
    EXPECT_TRUE(why.contains(QLatin1String("FIFO"))) << qPrintable(why);
    EXPECT_FALSE(KLCoolerStore::write(store, itemsIn(folder, 1)));
    struct stat st {
    };
    ASSERT_EQ(::lstat(QFile::encodeName(store).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is left where it was";

    // Opening the journal reads it: a FIFO there must not block (no writer ever comes).
    KLFSEvents::EventJournal journal(folder);
    EXPECT_FALSE(journal.open());
    ASSERT_EQ(::lstat(QFile::encodeName(folder + QStringLiteral("/fsevents.journal")).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Runs `body` in a child process as the user "nobody" (root can read anything, so an
// unreadable file needs another user); answers the child's exit status, or -1.
int runAsNobody(const std::function<int()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(StoreInTheWay, AnUnreadableSettingsFileIsNeverReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    // Outside the test home, which only root may enter.
    char tmpl[] = "/tmp/kelso-unreadable-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const QString folder = QString::fromLocal8Bit(tmpl);
    const QString path = folder + QStringLiteral("/com.tallow.kelso.plist");
    {
        Defaults first(path);
        first.setString(QStringLiteral("kept"), QStringLiteral("old"));
        ASSERT_TRUE(first.synchronize());
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();
    ASSERT_EQ(::chown(tmpl, 65534, 65534), 0);
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0000), 0);
    const int status = runAsNobody([&] {
        if (::access(QFile::encodeName(path).constData(), R_OK) == 0)
            return 101; // the file can be read after all: the test proves nothing
        Defaults settings(path);
        settings.setString(QStringLiteral("kept"), QStringLiteral("new"));
        return settings.synchronize() ? 1 : 0;
    });
    EXPECT_EQ(status, 0) << "0: write refused; 1: the unreadable file was replaced";
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    QDir(folder).removeRecursively();
}

} // namespace
