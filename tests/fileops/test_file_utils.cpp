// File utilities: free destination names, the child-path test, slow volumes from a mount table
// and placeholder attributes, the protected-folder move exclusions, and error texts.
#include "fileops/XPFileUtils.h"
#include "platform/Mounts.h"
#include "platform/Xattr.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace XPFileUtils;

namespace {
int g_folders = 0;
QString freshFolder()
{
    const QString folder = KelsoTest::home() + QStringLiteral("/files-%1").arg(++g_folders);
    QDir().mkpath(folder);
    return folder;
}
} // namespace

TEST(FindUnusedPathTest, AFreePathComesBackWithItsOwnBytes)
{
    const QString folder = freshFolder();
    const QString composed = folder + QString::fromUtf8("/Caf\u00e9 r\u00e9sum\u00e9.pdf");
    const QString result = findUnusedPath(composed);
    EXPECT_EQ(result, composed) << "a composed é stays composed: names are bytes";
    EXPECT_EQ(QFile::encodeName(result), QFile::encodeName(composed));
    EXPECT_EQ(findUnusedPath(folder + "/plain.txt"), folder + "/plain.txt");
}

TEST(FindUnusedPathTest, NumbersAreInsertedBeforeTheExtension)
{
    const QString folder = freshFolder();
    KelsoTest::writeFile(folder + "/Report.pdf");
    EXPECT_EQ(findUnusedPath(folder + "/Report.pdf"), folder + "/Report 1.pdf");
    KelsoTest::writeFile(folder + "/Report 1.pdf");
    EXPECT_EQ(findUnusedPath(folder + "/Report.pdf"), folder + "/Report 2.pdf");
    // A gap is filled first.
    KelsoTest::writeFile(folder + "/Report 3.pdf");
    EXPECT_EQ(findUnusedPath(folder + "/Report.pdf"), folder + "/Report 2.pdf");

    KelsoTest::writeFile(folder + "/Report");
    EXPECT_EQ(findUnusedPath(folder + "/Report"), folder + "/Report 1");
    KelsoTest::writeFile(folder + "/archive.tar.gz");
    EXPECT_EQ(findUnusedPath(folder + "/archive.tar.gz"), folder + "/archive.tar 1.gz");
    QDir().mkpath(folder + "/Photos.app");
    EXPECT_EQ(findUnusedPath(folder + "/Photos.app"), folder + "/Photos 1.app") << "folders count as taken";
}

TEST(FindUnusedPathTest, DotFilesAndDotsInFolderNames)
{
    const QString folder = freshFolder();
    KelsoTest::writeFile(folder + "/.profile");
    EXPECT_EQ(findUnusedPath(folder + "/.profile"), folder + "/.profile 1") << "a leading dot is no extension";
    KelsoTest::writeFile(folder + "/.config.json");
    EXPECT_EQ(findUnusedPath(folder + "/.config.json"), folder + "/.config 1.json");
    KelsoTest::writeFile(folder + "/my.folder/Notes");
    EXPECT_EQ(findUnusedPath(folder + "/my.folder/Notes"), folder + "/my.folder/Notes 1");
    KelsoTest::writeFile(folder + "/trailing.");
    EXPECT_EQ(findUnusedPath(folder + "/trailing."), folder + "/trailing. 1");
}

TEST(FindUnusedPathTest, AClashIsFoundByteForByteAndDanglingLinksCountAsTaken)
{
    const QString folder = freshFolder();
    const QString composed = folder + QString::fromUtf8("/Caf\u00e9.txt");
    KelsoTest::writeFile(composed);
    EXPECT_EQ(findUnusedPath(composed), folder + QString::fromUtf8("/Caf\u00e9 1.txt"))
        << "an existing file of exactly that name is a clash";
    // The decomposed spelling is another name on Linux: free, and kept as typed.
    const QString decomposed = folder + QString::fromUtf8("/Cafe\u0301.txt");
    EXPECT_EQ(findUnusedPath(decomposed), decomposed);
    KelsoTest::writeFile(decomposed);
    EXPECT_EQ(findUnusedPath(decomposed), folder + QString::fromUtf8("/Cafe\u0301 1.txt"));
    ASSERT_TRUE(QFile::link(folder + "/nowhere", folder + "/link.txt"));
    EXPECT_EQ(findUnusedPath(folder + "/link.txt"), folder + "/link 1.txt");
}

TEST(FindUnusedPathTest, WhenAllThousandAreTakenThePathItselfComesBack)
{
    const QString folder = freshFolder();
    KelsoTest::writeFile(folder + "/Full.txt");
    for (int n = 1; n <= 1000; ++n)
        KelsoTest::writeFile(folder + QStringLiteral("/Full %1.txt").arg(n));
    EXPECT_EQ(findUnusedPath(folder + "/Full.txt"), folder + "/Full.txt");
    QFile::remove(folder + "/Full 1000.txt");
    EXPECT_EQ(findUnusedPath(folder + "/Full.txt"), folder + "/Full 1000.txt");
}

TEST(ChildPathTest, ComponentsDecide)
{
    EXPECT_TRUE(isPathAChildOfPath("/a/b/c", "/a/b"));
    EXPECT_TRUE(isPathAChildOfPath("/a/b/c/d", "/a/b"));
    EXPECT_FALSE(isPathAChildOfPath("/a/b", "/a/b"));
    EXPECT_FALSE(isPathAChildOfPath("/a/bc", "/a/b"));
    EXPECT_FALSE(isPathAChildOfPath("/a", "/a/b"));
    EXPECT_FALSE(isPathAChildOfPath("/x/b/c", "/a/b"));
    EXPECT_TRUE(isPathAChildOfPath("/a/b/c", "/a/b/")) << "a trailing slash changes nothing";
    EXPECT_TRUE(isPathAChildOfPath("/a//b/c", "/a/b"));
}

TEST(ChildPathTest, DotAndDotDotAreResolved)
{
    EXPECT_TRUE(isPathAChildOfPath("/a/b/./c", "/a/b"));
    EXPECT_TRUE(isPathAChildOfPath("/a/x/../b/c", "/a/b"));
    EXPECT_FALSE(isPathAChildOfPath("/a/b/c/..", "/a/b")) << "/a/b/c/.. is /a/b itself";
    EXPECT_FALSE(isPathAChildOfPath("/a/b/../c", "/a/b"));
    EXPECT_TRUE(isPathAChildOfPath("/a/b/c", "/a/b/c/.."));
    EXPECT_TRUE(isPathAChildOfPath("/../a", "/")) << "nothing lies above the root";
}

TEST(ChildPathTest, TheRootIsTheParentOfEverythingButItself)
{
    EXPECT_TRUE(isPathAChildOfPath("/a", "/"));
    EXPECT_TRUE(isPathAChildOfPath("/a/b/c", "/"));
    EXPECT_FALSE(isPathAChildOfPath("/", "/"));
    EXPECT_FALSE(isPathAChildOfPath("/a/..", "/"));
}

TEST(ChildPathTest, Urls)
{
    EXPECT_TRUE(isURL(QUrl::fromLocalFile("/a/b/c"), QUrl::fromLocalFile("/a/b")));
    EXPECT_FALSE(isURL(QUrl::fromLocalFile("/a/b"), QUrl::fromLocalFile("/a/b")));
    EXPECT_FALSE(isURL(QUrl::fromLocalFile("/a/bc"), QUrl::fromLocalFile("/a/b")));
    EXPECT_TRUE(isURL(QUrl::fromLocalFile("/a/b c/d"), QUrl("file:///a/b%20c")));
    EXPECT_TRUE(isURL(QUrl("file:///a/b/../b/c"), QUrl("file:///a/b")));
    EXPECT_FALSE(isURL(QUrl(), QUrl::fromLocalFile("/a")));
    EXPECT_FALSE(isURL(QUrl::fromLocalFile("/a/b"), QUrl()));
}

class SlowVolumesTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        Mounts::setMountInfoPathForTesting(QString());
        rebuildSlowVolumes();
    }
    static void useMountTable(const QByteArray &text)
    {
        const QString path = freshFolder() + "/mountinfo";
        KelsoTest::writeFile(path, text);
        Mounts::setMountInfoPathForTesting(path);
        rebuildSlowVolumes();
    }
};

TEST_F(SlowVolumesTest, NetworkMountsAreSlowAtFolderBoundaries)
{
    useMountTable("22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                  "40 22 0:35 / /mnt/nas rw,relatime shared:20 - nfs server:/export rw\n"
                  "41 22 0:36 / /mnt/my\\040share rw - cifs //host/share rw\n"
                  "42 22 0:37 / /home/u/remote rw - fuse.sshfs u@h:/x rw\n"
                  "43 22 0:38 / /mnt/v4 rw - nfs4 h:/y rw\n"
                  "44 22 0:39 / /mnt/disk rw - ext4 /dev/sdb1 rw\n"
                  "45 22 0:40 / /mnt/fuse rw - fuse /dev/fuse rw\n");
    EXPECT_TRUE(pathIsOnSlowVolume("/mnt/nas/film-a.mkv"));
    EXPECT_TRUE(pathIsOnSlowVolume("/mnt/nas"));
    EXPECT_TRUE(pathIsOnSlowVolume("/mnt/my share/doc-a.txt"));
    EXPECT_TRUE(pathIsOnSlowVolume("/home/u/remote/deep/file-a"));
    EXPECT_TRUE(pathIsOnSlowVolume("/mnt/v4/x-a"));
    EXPECT_FALSE(pathIsOnSlowVolume("/mnt/nasty/file-a")) << "a prefix must end at a folder";
    EXPECT_FALSE(pathIsOnSlowVolume("/mnt/disk/file-a"));
    EXPECT_FALSE(pathIsOnSlowVolume("/mnt/fuse/file-a"));
    EXPECT_FALSE(pathIsOnSlowVolume("/home/u/remotely/file-a"));
    EXPECT_FALSE(pathIsOnSlowVolume(""));
}

TEST_F(SlowVolumesTest, MountingAndUnmountingChangesTheAnswerWithoutARestart)
{
    useMountTable("22 1 254:0 / / rw - ext4 /dev/vda rw\n");
    EXPECT_FALSE(pathIsOnSlowVolume("/mnt/later/file-b"));
    useMountTable("22 1 254:0 / / rw - ext4 /dev/vda rw\n"
                  "50 22 0:50 / /mnt/later rw - smb3 //h/s rw\n");
    EXPECT_TRUE(pathIsOnSlowVolume("/mnt/later/file-c"));
    useMountTable("22 1 254:0 / / rw - ext4 /dev/vda rw\n");
    EXPECT_FALSE(pathIsOnSlowVolume("/mnt/later/file-d"));
}

TEST_F(SlowVolumesTest, AMountTableChangeRebuildsTheTableByItself)
{
    useMountTable("22 1 254:0 / / rw - ext4 /dev/vda rw\n");
    QCoreApplication::processEvents(); // the subscription is made from the event loop
    EXPECT_FALSE(pathIsOnSlowVolume("/mnt/watched/file-e"));
    // The mount table changes; the watcher reports it (as the kernel's poll wake-up would).
    const QString path = KelsoTest::home() + "/mountinfo-watched";
    KelsoTest::writeFile(path, "22 1 254:0 / / rw - ext4 /dev/vda rw\n"
                               "60 22 0:60 / /mnt/watched rw - fuse.sshfs u@h:/ rw\n");
    Mounts::setMountInfoPathForTesting(path);
    Q_EMIT MountWatcher::instance().changed();
    EXPECT_TRUE(KelsoTest::waitFor([] { return pathIsOnSlowVolume("/mnt/watched/file-f"); }));
}

TEST(SlowFileSystemTypesTest, NetworkAndCloudTypes)
{
    for (const char *type : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "ceph", "davfs", "fuse.davfs2", "fuse.sshfs",
                             "fuse.rclone", "fuse.s3fs", "fuse.gvfsd-fuse", "webdav"})
        EXPECT_TRUE(isSlowFileSystemType(type)) << type;
    for (const char *type : {"ext4", "btrfs", "xfs", "tmpfs", "vfat", "fuse", "overlay", "NFS", ""})
        EXPECT_FALSE(isSlowFileSystemType(type)) << type;
}

TEST(PlaceholderTest, NonEmptyDropboxAttributeMakesAFileSlow)
{
    // The test home is on the machine's disk; root may set user attributes there and on tmpfs.
    for (const QString &base : {freshFolder(), QStringLiteral("/dev/shm")}) {
        const QString stem = base + QStringLiteral("/kelso-placeholder-%1-").arg(::getpid());
        const QString placeholder = stem + "cloud.docx";
        const QString local = stem + "local.docx";
        const QString empty = stem + "empty.docx";
        KelsoTest::writeFile(placeholder);
        KelsoTest::writeFile(local);
        KelsoTest::writeFile(empty);
        int err = 0;
        if (!Xattr::set(placeholder, "com.dropbox.placeholder", "1", &err)) {
            ADD_FAILURE() << "cannot set a user attribute under " << qPrintable(base) << ": errno " << err;
            continue;
        }
        ASSERT_TRUE(Xattr::set(empty, "com.dropbox.placeholder", QByteArray(), &err));
        EXPECT_TRUE(pathIsDropboxOrOtherPlaceholder(placeholder)) << qPrintable(base);
        EXPECT_TRUE(pathIsOnSlowVolume(placeholder)) << qPrintable(base);
        EXPECT_FALSE(pathIsOnSlowVolume(local)) << qPrintable(base);
        EXPECT_FALSE(pathIsOnSlowVolume(empty)) << "an empty attribute is no placeholder";
        EXPECT_FALSE(pathIsOnSlowVolume(stem + "missing.docx"));
        QFile::remove(placeholder);
        QFile::remove(local);
        QFile::remove(empty);
    }
}

TEST(FileUtilsMoveTest, MailAndPhotoLibrariesAreNeverMoved)
{
    const QString folder = freshFolder();
    const QString mail = folder + "/Library/Mail/V10/INBOX/1.emlx";
    const QString photo = folder + "/Pictures/Photos Library.photoslibrary/originals/a.jpg";
    KelsoTest::writeFile(mail, "mail");
    KelsoTest::writeFile(photo, "photo");
    QString error;
    EXPECT_FALSE(moveItemOnSameFileSystemCheckingForSpecialExclusions(mail, folder + "/moved.emlx", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFile::exists(mail));
    EXPECT_FALSE(QFile::exists(folder + "/moved.emlx"));
    EXPECT_FALSE(moveItemOnSameFileSystemCheckingForSpecialExclusions(photo, folder + "/a.jpg", &error));
    EXPECT_TRUE(QFile::exists(photo));
    EXPECT_FALSE(QFile::exists(folder + "/a.jpg"));
    // The whole library folder is refused too.
    EXPECT_FALSE(moveItemOnSameFileSystemCheckingForSpecialExclusions(folder + "/Pictures/Photos Library.photoslibrary",
                                                                      folder + "/lib", &error));
    EXPECT_TRUE(QFileInfo(folder + "/Pictures/Photos Library.photoslibrary").isDir());
}

TEST(FileUtilsMoveTest, OtherItemsMoveAndTheSearchIsCaseSensitive)
{
    const QString folder = freshFolder();
    const QString lower = folder + "/library/mail/note.txt";
    KelsoTest::writeFile(lower, "note");
    QString error;
    EXPECT_TRUE(moveItemOnSameFileSystemCheckingForSpecialExclusions(lower, folder + "/note.txt", &error))
        << qPrintable(error);
    EXPECT_FALSE(QFile::exists(lower));
    EXPECT_TRUE(QFile::exists(folder + "/note.txt"));

    EXPECT_FALSE(moveItemOnSameFileSystem(folder + "/missing.txt", folder + "/x.txt", &error));
    EXPECT_EQ(error, "errno error: 2, No such file or directory");
}

TEST(FileUtilsMoveTest, AMoveNeverReplacesWhatIsThere)
{
    const QString folder = freshFolder();
    KelsoTest::writeFile(folder + "/a.txt", "a");
    KelsoTest::writeFile(folder + "/b.txt", "b");
    QString error;
    EXPECT_FALSE(moveItemOnSameFileSystem(folder + "/a.txt", folder + "/b.txt", &error));
    EXPECT_EQ(error, "errno error: 17, File exists");
    QFile b(folder + "/b.txt");
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), QByteArray("b"));
    EXPECT_TRUE(QFile::exists(folder + "/a.txt"));
    EXPECT_FALSE(moveItemOnSameFileSystemCheckingForSpecialExclusions(folder + "/a.txt", folder + "/b.txt", &error));
    EXPECT_TRUE(QFile::exists(folder + "/a.txt"));
}

TEST(FileUtilsErrnoStringTest, NumberAndSystemMessage)
{
    EXPECT_EQ(errnoString(ENOENT), "errno error: 2, No such file or directory");
    EXPECT_EQ(errnoString(EACCES), "errno error: 13, Permission denied");
    EXPECT_TRUE(errnoString(-5).startsWith("errno error: -5, ")) << qPrintable(errnoString(-5));
    EXPECT_TRUE(errnoString(123456).startsWith("errno error: 123456, "));
}

TEST(FileUtilsFoldersTest, StandardFolders)
{
    EXPECT_EQ(safariDownloadsFolder(), "~/Downloads");
    EXPECT_TRUE(documentsFolder().endsWith('/'));
    EXPECT_TRUE(documentsFolder().startsWith(KelsoTest::home())) << qPrintable(documentsFolder());
    EXPECT_EQ(ourCacheFolder(), qEnvironmentVariable("XDG_CACHE_HOME") + "/com.tallow.kelso");
    EXPECT_GT(GBFreeOnHome(), 0.0);
}

TEST(FileUtilsPackagesTest, FoldersWithPackageExtensions)
{
    const QString folder = freshFolder();
    QDir().mkpath(folder + "/Kelso.app/Contents");
    QDir().mkpath(folder + "/Notes.RTFD");
    QDir().mkpath(folder + "/plain");
    KelsoTest::writeFile(folder + "/file.app");
    EXPECT_TRUE(isFileOrPackage(folder + "/Kelso.app"));
    EXPECT_TRUE(isFileOrPackage(folder + "/Notes.RTFD"));
    EXPECT_FALSE(isFileOrPackage(folder + "/plain"));
    EXPECT_TRUE(isFileOrPackage(folder + "/file.app"));
    EXPECT_TRUE(isFileOrPackage(folder + "/does-not-exist"));
    EXPECT_FALSE(isPackage(folder + "/file.app")) << "a package is a folder";
    EXPECT_FALSE(isPackage(folder + "/.app"));
}

TEST_F(SlowVolumesTest, TheStartUpAndMountChangeRebuildDoesNotWaitOnTheMountListInTheCallersThread)
{
    // A mount list that answers only when something writes into it: a FIFO, written half a
    // second later by another thread. The rebuild meant for the GUI thread must come back at
    // once and read the list on a thread of its own.
    const QString fifo = freshFolder() + "/mountinfo-slow";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Mounts::setMountInfoPathForTesting(fifo);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        written = true;
        QFile f(fifo);
        if (f.open(QIODevice::WriteOnly)) {
            f.write("22 1 254:0 / / rw - ext4 /dev/vda rw\n"
                    "70 22 0:70 / /mnt/slowlist rw - nfs4 h:/z rw\n");
            f.close();
        }
    });
    QFuture<void> rebuilt = rebuildSlowVolumesInBackground();
    const bool returnedBeforeTheListWasWritten = !written;
    rebuilt.waitForFinished();
    writer.join();
    Mounts::setMountInfoPathForTesting(QString());
    EXPECT_TRUE(returnedBeforeTheListWasWritten) << "the caller waited for the mount list";
    EXPECT_TRUE(pathIsOnSlowVolume("/mnt/slowlist/file-g")) << "the table was rebuilt from the list read";
}
