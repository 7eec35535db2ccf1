#include "fileops/XPRename.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace XPFileUtils;

namespace {
QString folder()
{
    static int n = 0;
    const QString f = KelsoTest::home() + QStringLiteral("/rename-%1").arg(++n);
    QDir().mkpath(f);
    return f;
}
QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

TEST(Rename, KeepsTheExtensionUnlessANewOneIsTyped)
{
    const QString dir = folder();
    KelsoTest::writeFile(dir + "/Report.pdf", "report");
    RenamePlan plan = renameFile(dir + "/Report.pdf", "Summary");
    ASSERT_EQ(plan.status, RenamePlan::Ready);
    EXPECT_EQ(plan.target, dir + "/Summary.pdf");
    EXPECT_EQ(contents(dir + "/Summary.pdf"), "report");
    EXPECT_FALSE(QFileInfo::exists(dir + "/Report.pdf"));

    plan = renameFile(dir + "/Summary.pdf", "Summary.txt");
    ASSERT_EQ(plan.status, RenamePlan::Ready);
    EXPECT_EQ(contents(dir + "/Summary.txt"), "report");

    // A file without extension keeps having none.
    KelsoTest::writeFile(dir + "/README", "r");
    EXPECT_EQ(renameFile(dir + "/README", "NOTES").target, dir + "/NOTES");
    EXPECT_TRUE(QFileInfo::exists(dir + "/NOTES"));
}

TEST(Rename, ShortStemsLeadingDotsAndTheSameNameDoNothing)
{
    const QString dir = folder();
    KelsoTest::writeFile(dir + "/Report.pdf", "report");
    for (const QString &name :
         {QStringLiteral("A"), QStringLiteral("A.pdf"), QStringLiteral(".hidden"), QStringLiteral(".pdf"), QString()}) {
        const RenamePlan plan = renameFile(dir + "/Report.pdf", name);
        EXPECT_EQ(plan.status, RenamePlan::Refused) << qPrintable(name);
        EXPECT_TRUE(plan.message.isEmpty()) << qPrintable(name);
    }
    EXPECT_EQ(renameFile(dir + "/Report.pdf", "Report.pdf").status, RenamePlan::Unchanged);
    // Typing the stem alone gives back the same name.
    EXPECT_EQ(renameFile(dir + "/Report.pdf", "Report").status, RenamePlan::Unchanged);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"Report.pdf"});
    // Two characters are enough.
    EXPECT_EQ(renameFile(dir + "/Report.pdf", "AB").status, RenamePlan::Ready);
    EXPECT_TRUE(QFileInfo::exists(dir + "/AB.pdf"));
}

TEST(Rename, AnExistingNameIsRefusedAndBothFilesStay)
{
    const QString dir = folder();
    KelsoTest::writeFile(dir + "/Report.pdf", "report");
    KelsoTest::writeFile(dir + "/Summary.pdf", "summary");
    const RenamePlan plan = renameFile(dir + "/Report.pdf", "Summary");
    EXPECT_EQ(plan.status, RenamePlan::Refused);
    EXPECT_FALSE(plan.message.isEmpty());
    EXPECT_EQ(contents(dir + "/Report.pdf"), "report");
    EXPECT_EQ(contents(dir + "/Summary.pdf"), "summary");

    // A folder of that name counts too.
    QDir().mkpath(dir + "/Notes.pdf");
    EXPECT_EQ(renameFile(dir + "/Report.pdf", "Notes").status, RenamePlan::Refused);
    EXPECT_EQ(contents(dir + "/Report.pdf"), "report");
}

TEST(Rename, SlashesAndNulsAreRefusedWithAMessage)
{
    const QString dir = folder();
    QDir().mkpath(dir + "/sub");
    KelsoTest::writeFile(dir + "/Report.pdf", "report");
    for (const QString &name : {QStringLiteral("sub/Report"), QStringLiteral("../Escaped"), QStringLiteral("/etc/x"),
                                QStringLiteral("bad") + QChar(0) + QStringLiteral("name")}) {
        const RenamePlan plan = renameFile(dir + "/Report.pdf", name);
        EXPECT_EQ(plan.status, RenamePlan::Refused);
        EXPECT_FALSE(plan.message.isEmpty());
    }
    EXPECT_EQ(contents(dir + "/Report.pdf"), "report");
    EXPECT_TRUE(QDir(dir + "/sub").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(KelsoTest::home() + "/Escaped.pdf"));
}

TEST(Rename, MovingNeverReplacesAnExistingItem)
{
    const QString dir = folder();
    KelsoTest::writeFile(dir + "/a.txt", "a");
    KelsoTest::writeFile(dir + "/b.txt", "b");
    QString why;
    EXPECT_FALSE(moveItemWithoutReplacing(dir + "/a.txt", dir + "/b.txt", &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(contents(dir + "/a.txt"), "a");
    EXPECT_EQ(contents(dir + "/b.txt"), "b");
    EXPECT_TRUE(moveItemWithoutReplacing(dir + "/a.txt", dir + "/c.txt"));
    EXPECT_EQ(contents(dir + "/c.txt"), "a");
    EXPECT_FALSE(moveItemWithoutReplacing(dir + "/gone.txt", dir + "/d.txt"));
}

TEST(Rename, MovingAcrossFileSystemsCopiesFilesAndStillNeverReplaces)
{
    // /dev/shm is a separate tmpfs on most systems; skip where it is not.
    struct stat shm, home;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(QFile::encodeName(KelsoTest::home()).constData(), &home) != 0 ||
        shm.st_dev == home.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const QString other = QStringLiteral("/dev/shm/kelso-move-%1").arg(QCoreApplication::applicationPid());
    QDir().mkpath(other);
    const QString dir = folder();
    KelsoTest::writeFile(other + "/far.txt", "far");
    KelsoTest::writeFile(other + "/clash.txt", "mine");
    KelsoTest::writeFile(dir + "/clash.txt", "theirs");
    QDir().mkpath(other + "/sub");

    EXPECT_TRUE(moveItemWithoutReplacing(other + "/far.txt", dir + "/far.txt"));
    EXPECT_EQ(contents(dir + "/far.txt"), "far");
    EXPECT_FALSE(QFileInfo::exists(other + "/far.txt"));
    EXPECT_FALSE(moveItemWithoutReplacing(other + "/clash.txt", dir + "/clash.txt"));
    EXPECT_EQ(contents(dir + "/clash.txt"), "theirs");
    EXPECT_EQ(contents(other + "/clash.txt"), "mine");
    // Folders move across file systems too, as with mv.
    KelsoTest::writeFile(other + "/sub/inner.txt", "inner");
    EXPECT_TRUE(moveItemWithoutReplacing(other + "/sub", dir + "/sub"));
    EXPECT_FALSE(QFileInfo::exists(other + "/sub"));
    EXPECT_EQ(contents(dir + "/sub/inner.txt"), "inner");
    QDir(other).removeRecursively();
}
