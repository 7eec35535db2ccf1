// Renames and moves with the names and paths that programs trip over: 255-byte names and one
// byte more, names holding a newline, paths over PATH_MAX, files that vanish or become a folder
// before the move, and a read-only file system. Each failure must say why and leave the file.
#include "ScratchVolume.h"
#include "fileops/XPRename.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace XPFileUtils;

namespace {

QString freshFolder()
{
    static int n = 0;
    const QString f = KelsoTest::home() + QStringLiteral("/bad-names-%1").arg(++n);
    QDir().mkpath(f);
    return f;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool exists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// A chain of folders made with relative calls, so that the whole path may pass PATH_MAX;
// answers the deepest folder's full path.
QString deepFolder(const QString &top, int levels)
{
    int fd = ::open(QFile::encodeName(top).constData(), O_RDONLY | O_DIRECTORY);
    QString path = top;
    for (int i = 0; i < levels && fd >= 0; ++i) {
        const QByteArray name = QByteArray::number(i).rightJustified(3, '0') + '-' + QByteArray(196, 'd');
        ::mkdirat(fd, name.constData(), 0755);
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path += QLatin1Char('/') + QString::fromUtf8(name);
    }
    if (fd >= 0) {
        const int f = ::openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0644);
        if (f >= 0) {
            EXPECT_EQ(::write(f, "deep", 4), 4);
            ::close(f);
        }
        ::close(fd);
    }
    return path;
}

} // namespace

TEST(BadNames, A255ByteNameIsTakenAndOneByteMoreIsRefusedSayingTheLimit)
{
    const QString dir = freshFolder();
    KelsoTest::writeFile(dir + "/short.txt", "short");
    const QString longest = QString(251, QLatin1Char('a')) + QStringLiteral(".txt");
    ASSERT_EQ(longest.toUtf8().size(), 255);
    RenamePlan plan = renameFile(dir + "/short.txt", longest);
    ASSERT_EQ(plan.status, RenamePlan::Ready) << qPrintable(plan.message);
    EXPECT_EQ(contents(dir + QLatin1Char('/') + longest), "short");

    // 256 bytes: refused before anything is tried, with a message that gives the limit.
    const QString tooLong = QString(252, QLatin1Char('b')) + QStringLiteral(".txt");
    plan = renameFile(dir + QLatin1Char('/') + longest, tooLong);
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_TRUE(plan.message.contains(QStringLiteral("255"))) << qPrintable(plan.message);
    EXPECT_EQ(contents(dir + QLatin1Char('/') + longest), "short");

    // Bytes count, not characters: 128 two-byte letters are 256 bytes.
    plan = renameFile(dir + QLatin1Char('/') + longest, QString(126, QChar(0xe9)) + QStringLiteral(".txt"));
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_TRUE(plan.message.contains(QStringLiteral("255"))) << qPrintable(plan.message);

    // The kept extension counts too: 252 typed bytes plus ".txt" is too long.
    plan = planRename(dir + QLatin1Char('/') + longest, QString(252, QLatin1Char('c')));
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_FALSE(plan.message.isEmpty());
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{longest});
}

TEST(BadNames, NamesWithNewlinesRenameWithTheirBytes)
{
    const QString dir = freshFolder();
    KelsoTest::writeFile(dir + "/two\nlines.txt", "two");
    const RenamePlan plan = renameFile(dir + "/two\nlines.txt", QStringLiteral("three\nlines\n.txt"));
    ASSERT_EQ(plan.status, RenamePlan::Ready) << qPrintable(plan.message);
    EXPECT_EQ(contents(dir + "/three\nlines\n.txt"), "two");
    EXPECT_FALSE(exists(dir + "/two\nlines.txt"));
}

TEST(BadNames, AVanishedFileIsReportedAndNothingAppears)
{
    const QString dir = freshFolder();
    KelsoTest::writeFile(dir + "/here.txt", "here");
    ::unlink(QFile::encodeName(dir + "/here.txt").constData());
    const RenamePlan plan = renameFile(dir + "/here.txt", QStringLiteral("there"));
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_TRUE(plan.message.contains(QStringLiteral("here.txt"))) << qPrintable(plan.message);
    EXPECT_TRUE(QDir(dir).isEmpty());
}

TEST(BadNames, AFileThatBecameAFolderMovesWholeAndNeverOntoAFile)
{
    const QString dir = freshFolder();
    KelsoTest::writeFile(dir + "/item.txt", "file");
    ::unlink(QFile::encodeName(dir + "/item.txt").constData());
    QDir().mkpath(dir + "/item.txt");
    KelsoTest::writeFile(dir + "/item.txt/inside", "inside");
    KelsoTest::writeFile(dir + "/taken.txt", "taken");
    QString why;
    EXPECT_FALSE(moveItemWithoutReplacing(dir + "/item.txt", dir + "/taken.txt", &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(contents(dir + "/taken.txt"), "taken");
    EXPECT_TRUE(moveItemWithoutReplacing(dir + "/item.txt", dir + "/moved", &why)) << qPrintable(why);
    EXPECT_EQ(contents(dir + "/moved/inside"), "inside");
}

TEST(BadNames, PathsOverPathMaxAreRefusedSayingTheyAreTooLongAndStay)
{
    const QString dir = freshFolder();
    const QString deep = deepFolder(dir, 22); // 22 × 201 bytes: past 4096
    ASSERT_GT(deep.toUtf8().size(), 4096);
    const QString file = deep + QStringLiteral("/deep.txt");
    QString why;
    EXPECT_FALSE(moveItemWithoutReplacing(file, dir + "/out.txt", &why));
    EXPECT_TRUE(why.contains(QStringLiteral("too long"), Qt::CaseInsensitive)) << qPrintable(why);
    EXPECT_FALSE(exists(dir + "/out.txt"));
    const RenamePlan plan = renameFile(file, QStringLiteral("renamed"));
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_TRUE(plan.message.contains(QStringLiteral("too long"), Qt::CaseInsensitive)) << qPrintable(plan.message);
    // The file is still at the bottom of the tree, reached one folder at a time.
    int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    for (const QString &part : deep.mid(dir.size() + 1).split(QLatin1Char('/'))) {
        const int next = ::openat(fd, QFile::encodeName(part).constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    struct stat st;
    EXPECT_EQ(::fstatat(fd, "deep.txt", &st, 0), 0) << "the deep file went";
    ::close(fd);
}

TEST(BadNames, ARenameOnAReadOnlyFileSystemSaysSoAndTheFileStays)
{
    ScratchVolume volume(QStringLiteral("ro"));
    if (!volume.mounted())
        GTEST_SKIP() << qPrintable(volume.why());
    KelsoTest::writeFile(volume.path() + "/locked.txt", "locked");
    ASSERT_TRUE(volume.makeReadOnly());
    const RenamePlan plan = renameFile(volume.path() + "/locked.txt", QStringLiteral("open"));
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_TRUE(plan.message.contains(QStringLiteral("locked.txt"))) << qPrintable(plan.message);
    EXPECT_TRUE(plan.message.contains(QStringLiteral("read-only"), Qt::CaseInsensitive)) << qPrintable(plan.message);
    EXPECT_EQ(contents(volume.path() + "/locked.txt"), "locked");
}
