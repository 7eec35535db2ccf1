// Moves across file systems behave like mv: data, user attributes, mode and times, folders
// with their links and byte names; the source goes only after the whole copy; a failed copy
// leaves nothing behind; nothing is ever replaced. Each case moves between the test home and a
// file system mounted in it.
#include "fileops/ScratchVolume.h"
#include "fileops/XPRename.h"
#include "platform/FileMove.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QUuid>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QString freshFolder(const QString &under)
{
    const QString dir = under + QStringLiteral("/move-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(dir);
    return dir;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void setAttribute(const QString &path, const char *name, const QByteArray &value)
{
    ASSERT_EQ(::lsetxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0), 0)
        << name << " on " << qPrintable(path) << ": " << std::strerror(errno);
}

QByteArray attribute(const QString &path, const char *name)
{
    char buf[4096];
    const ssize_t n = ::lgetxattr(QFile::encodeName(path).constData(), name, buf, sizeof buf);
    return n < 0 ? QByteArray("<none>") : QByteArray(buf, int(n));
}

struct stat statOf(const QString &path)
{
    struct stat st {
    };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Access and modification times with nanoseconds, not following a link.
void setTimes(const QString &path, time_t atimeSec, time_t mtimeSec, long nsec)
{
    const struct timespec times[2] = {{atimeSec, nsec}, {mtimeSec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

void expectSameTimes(const struct stat &a, const struct stat &b, const char *what)
{
    EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec) << what;
    EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec) << what;
    EXPECT_EQ(a.st_atim.tv_sec, b.st_atim.tv_sec) << what;
}

class CrossFileSystemMove : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!volume.mounted())
            GTEST_SKIP() << qPrintable(volume.why());
        here = freshFolder(KelsoTest::home());
        there = freshFolder(volume.path());
    }
    ScratchVolume volume{QStringLiteral("other-volume")};
    QString here;
    QString there;
};

} // namespace

TEST_F(CrossFileSystemMove, AFileKeepsItsDataAttributesModeAndTimesAndTheSourceGoes)
{
    ASSERT_FALSE(FileMove::sameFileSystem(here, there));
    const QString source = here + QStringLiteral("/Report.pdf");
    QByteArray data(300 * 1024 + 7, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 31 % 251);
    KelsoTest::writeFile(source, data);
    setAttribute(source, "user.xdg.tags", "Red,Blue");
    setAttribute(source, "user.baloo.rating", "7");
    setAttribute(source, "user.kMDItemLTManaged", QByteArray("\x01\x02\x00\x03", 4));
    ASSERT_EQ(::chmod(QFile::encodeName(source).constData(), 0640), 0);
    setTimes(source, 1300000000, 1262304000, 123456789);
    const struct stat before = statOf(source);

    const QString target = there + QStringLiteral("/Report.pdf");
    QSignalSpy moves(XPFileMoveNotifier::instance(), &XPFileMoveNotifier::itemMoved);
    QString why;
    ASSERT_TRUE(XPFileUtils::moveItemWithoutReplacing(source, target, &why)) << qPrintable(why);

    // Times first: reading the data moves the access time on (relatime).
    const struct stat after = statOf(target);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    expectSameTimes(before, after, "file times");
    EXPECT_FALSE(QFileInfo::exists(source)) << "the original is removed after the copy";
    EXPECT_EQ(contents(target), data);
    EXPECT_EQ(attribute(target, "user.xdg.tags"), QByteArray("Red,Blue"));
    EXPECT_EQ(attribute(target, "user.baloo.rating"), QByteArray("7"));
    EXPECT_EQ(attribute(target, "user.kMDItemLTManaged"), QByteArray("\x01\x02\x00\x03", 4));
    ASSERT_EQ(moves.size(), 1) << "a move Kelso made is announced";
    EXPECT_EQ(moves.at(0).at(0).toString(), source);
    EXPECT_EQ(moves.at(0).at(1).toString(), target);

    // And back again, onto the home's file system.
    setTimes(target, 1300000000, 1262304000, 123456789);
    ASSERT_TRUE(XPFileUtils::moveItemWithoutReplacing(target, source, &why)) << qPrintable(why);
    expectSameTimes(before, statOf(source), "file times after the way back");
    EXPECT_EQ(attribute(source, "user.xdg.tags"), QByteArray("Red,Blue"));
}

TEST_F(CrossFileSystemMove, AFolderMovesWholeWithLinksAsLinksAndNamesAsBytes)
{
    const QString tree = here + QStringLiteral("/Project");
    KelsoTest::writeFile(tree + QStringLiteral("/a.txt"), "alpha");
    KelsoTest::writeFile(tree + QStringLiteral("/sub/deeper/b.txt"), "beta");
    QDir().mkpath(tree + QStringLiteral("/empty"));
    setAttribute(tree + QStringLiteral("/sub/deeper/b.txt"), "user.xdg.tags", "Deep");
    setAttribute(tree + QStringLiteral("/sub"), "user.xdg.tags", "Folder");
    ASSERT_TRUE(QFile::link(QStringLiteral("../a.txt"), tree + QStringLiteral("/sub/to-a")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nowhere/at/all"), tree + QStringLiteral("/dangling")));
    // A name that is not UTF-8, made with the raw bytes: it must arrive byte for byte.
    const QByteArray oddName = QByteArrayLiteral("caf\xe9-latin1.txt");
    const QByteArray oddPath = QFile::encodeName(tree) + '/' + oddName;
    const int fd = ::open(oddPath.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "odd", 3), 3);
    ::close(fd);
    ASSERT_EQ(::chmod(QFile::encodeName(tree + QStringLiteral("/sub/deeper")).constData(), 0555), 0);
    setTimes(tree + QStringLiteral("/sub/deeper"), 1200000000, 1100000000, 5);
    setTimes(tree + QStringLiteral("/sub/to-a"), 1200000000, 1000000000, 0);
    setTimes(tree, 1200000000, 1150000000, 0);
    const struct stat deeperBefore = statOf(tree + QStringLiteral("/sub/deeper"));
    const struct stat treeBefore = statOf(tree);

    const QString target = there + QStringLiteral("/Project");
    QString why;
    ASSERT_TRUE(XPFileUtils::moveItemWithoutReplacing(tree, target, &why)) << qPrintable(why);

    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_EQ(contents(target + QStringLiteral("/a.txt")), QByteArray("alpha"));
    EXPECT_EQ(contents(target + QStringLiteral("/sub/deeper/b.txt")), QByteArray("beta"));
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/empty")).isDir());
    EXPECT_EQ(attribute(target + QStringLiteral("/sub/deeper/b.txt"), "user.xdg.tags"), QByteArray("Deep"));
    EXPECT_EQ(attribute(target + QStringLiteral("/sub"), "user.xdg.tags"), QByteArray("Folder"));
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/sub/to-a")).isSymLink());
    EXPECT_EQ(QFile::symLinkTarget(target + QStringLiteral("/sub/to-a")), target + QStringLiteral("/a.txt"));
    char link[256] = {};
    ASSERT_GT(::readlink(QFile::encodeName(target + QStringLiteral("/dangling")).constData(), link, sizeof link - 1), 0)
        << "a dangling link is copied as the link it is";
    EXPECT_STREQ(link, "/nowhere/at/all");
    EXPECT_EQ(statOf(target + QStringLiteral("/sub/to-a")).st_mtim.tv_sec, 1000000000) << "a link keeps its own time";
    struct stat odd {
    };
    EXPECT_EQ(::lstat((QFile::encodeName(target) + '/' + oddName).constData(), &odd), 0)
        << "the name arrives as the same bytes";
    const struct stat deeperAfter = statOf(target + QStringLiteral("/sub/deeper"));
    EXPECT_EQ(deeperAfter.st_mode & 07777, 0555u);
    expectSameTimes(deeperBefore, deeperAfter, "folder times are set after its contents");
    expectSameTimes(treeBefore, statOf(target), "the moved folder's own times");
}

TEST_F(CrossFileSystemMove, AFailedCopyLeavesNothingBehindAndTheSourceUntouched)
{
    // Room for the first file only: the second one fails with ENOSPC half-way through.
    ScratchVolume tiny(QStringLiteral("tiny-volume"), "tmpfs", "size=1m");
    if (!tiny.mounted())
        GTEST_SKIP() << qPrintable(tiny.why());
    const QString tree = here + QStringLiteral("/Big");
    KelsoTest::writeFile(tree + QStringLiteral("/1.bin"), QByteArray(700 * 1024, 'a'));
    KelsoTest::writeFile(tree + QStringLiteral("/2.bin"), QByteArray(700 * 1024, 'b'));
    setAttribute(tree + QStringLiteral("/1.bin"), "user.xdg.tags", "Keep");

    QSignalSpy moves(XPFileMoveNotifier::instance(), &XPFileMoveNotifier::itemMoved);
    QString why;
    EXPECT_FALSE(XPFileUtils::moveItemWithoutReplacing(tree, tiny.path() + QStringLiteral("/Big"), &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(QDir(tiny.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
        << "the partial copy is removed";
    EXPECT_EQ(contents(tree + QStringLiteral("/1.bin")), QByteArray(700 * 1024, 'a'));
    EXPECT_EQ(contents(tree + QStringLiteral("/2.bin")), QByteArray(700 * 1024, 'b'));
    EXPECT_EQ(attribute(tree + QStringLiteral("/1.bin"), "user.xdg.tags"), QByteArray("Keep"));
    EXPECT_EQ(moves.size(), 0) << "a failed move is not announced";

    // A single file that does not fit either.
    const QString big = here + QStringLiteral("/huge.bin");
    KelsoTest::writeFile(big, QByteArray(1500 * 1024, 'c'));
    const FileMove::Outcome outcome = FileMove::move(big, tiny.path() + QStringLiteral("/huge.bin"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, ENOSPC);
    EXPECT_FALSE(QFileInfo::exists(tiny.path() + QStringLiteral("/huge.bin")));
    EXPECT_EQ(QFileInfo(big).size(), 1500 * 1024);
}

TEST_F(CrossFileSystemMove, NothingIsReplacedAndAnOriginalThatCannotGoIsNotCopied)
{
    KelsoTest::writeFile(here + QStringLiteral("/clash.txt"), "mine");
    KelsoTest::writeFile(there + QStringLiteral("/clash.txt"), "theirs");
    QString why;
    EXPECT_FALSE(XPFileUtils::moveItemWithoutReplacing(here + QStringLiteral("/clash.txt"),
                                                       there + QStringLiteral("/clash.txt"), &why));
    EXPECT_EQ(contents(there + QStringLiteral("/clash.txt")), QByteArray("theirs"));
    EXPECT_EQ(contents(here + QStringLiteral("/clash.txt")), QByteArray("mine"));
    // A folder onto an existing folder of the same name: refused too, nothing merged.
    KelsoTest::writeFile(here + QStringLiteral("/Docs/new.txt"), "new");
    KelsoTest::writeFile(there + QStringLiteral("/Docs/old.txt"), "old");
    EXPECT_FALSE(
        XPFileUtils::moveItemWithoutReplacing(here + QStringLiteral("/Docs"), there + QStringLiteral("/Docs")));
    EXPECT_FALSE(QFileInfo::exists(there + QStringLiteral("/Docs/new.txt")));
    EXPECT_TRUE(QFileInfo::exists(here + QStringLiteral("/Docs/new.txt")));

    // A source on a read-only volume cannot be removed: it is not copied at all.
    ScratchVolume readOnly(QStringLiteral("read-only-volume"));
    ASSERT_TRUE(readOnly.mounted()) << qPrintable(readOnly.why());
    KelsoTest::writeFile(readOnly.path() + QStringLiteral("/stuck.txt"), "stuck");
    ASSERT_TRUE(readOnly.makeReadOnly());
    const FileMove::Outcome outcome =
        FileMove::move(readOnly.path() + QStringLiteral("/stuck.txt"), here + QStringLiteral("/stuck.txt"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, EROFS) << qPrintable(outcome.message);
    EXPECT_FALSE(QFileInfo::exists(here + QStringLiteral("/stuck.txt"))) << "no copy is left behind";
    EXPECT_EQ(contents(readOnly.path() + QStringLiteral("/stuck.txt")), QByteArray("stuck"));
}

TEST_F(CrossFileSystemMove, AVolumeWithoutUserAttributesTakesTheDataAsMvDoes)
{
    ScratchVolume plain(QStringLiteral("ramfs-volume"), "ramfs", "");
    if (!plain.mounted())
        GTEST_SKIP() << qPrintable(plain.why());
    const QString source = here + QStringLiteral("/tagged.txt");
    KelsoTest::writeFile(source, "data");
    setAttribute(source, "user.xdg.tags", "Red");
    setTimes(source, 1300000000, 1262304000, 0);
    const QString target = plain.path() + QStringLiteral("/tagged.txt");
    const FileMove::Outcome outcome = FileMove::move(source, target);
    ASSERT_TRUE(outcome.ok) << qPrintable(outcome.message);
    EXPECT_EQ(contents(target), QByteArray("data"));
    EXPECT_EQ(statOf(target).st_mtim.tv_sec, 1262304000);
    EXPECT_FALSE(QFileInfo::exists(source));
}

TEST(FileCopy, ACopyKeepsTheSourceAndItsAttributes)
{
    const QString dir = freshFolder(KelsoTest::home());
    const QString source = dir + QStringLiteral("/a.txt");
    KelsoTest::writeFile(source, "copy me");
    setAttribute(source, "user.xdg.tags", "Green");
    setTimes(source, 1300000000, 1262304000, 42);
    const FileMove::Outcome outcome = FileMove::copy(source, dir + QStringLiteral("/b.txt"));
    ASSERT_TRUE(outcome.ok) << qPrintable(outcome.message);
    EXPECT_EQ(contents(source), QByteArray("copy me"));
    EXPECT_EQ(contents(dir + QStringLiteral("/b.txt")), QByteArray("copy me"));
    EXPECT_EQ(attribute(dir + QStringLiteral("/b.txt"), "user.xdg.tags"), QByteArray("Green"));
    expectSameTimes(statOf(source), statOf(dir + QStringLiteral("/b.txt")), "copy times");
    EXPECT_FALSE(FileMove::copy(source, dir + QStringLiteral("/b.txt")).ok) << "never onto an existing file";
    EXPECT_FALSE(FileMove::copy(dir + QStringLiteral("/missing"), dir + QStringLiteral("/c.txt")).ok);
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/c.txt")));
}
