// Operations on a symbolic link act on the link, never on the file it points at: tags and
// ratings, rename, trash, Move To (on one file system and across two), and filing into the
// dated folders (where a dated folder the user made a link is followed, but replaces nothing).
#include "fileops/XPFileUtils.h"
#include "fileops/XPRename.h"
#include "platform/Defaults.h"
#include "platform/FileMove.h"
#include "platform/Workspace.h"
#include "platform/Xattr.h"
#include "support/TestSupport.h"
#include "tags/Lumitag.h"
#include "tags/XPFiledDocuments.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int counter = 0;

bool isLinkTo(const QString &path, const QString &target)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode) &&
           QFile::symLinkTarget(path) == target;
}

class OperationsOnLinks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = KelsoTest::home() + QStringLiteral("/ops-%1").arg(++counter);
        QDir().mkpath(base + QStringLiteral("/elsewhere"));
        QDir().mkpath(base + QStringLiteral("/work"));
        victim = base + QStringLiteral("/elsewhere/victim.txt");
        KelsoTest::writeFile(victim, "the user's own file");
        link = base + QStringLiteral("/work/shortcut.txt");
        ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(link).constData()), 0);
        struct stat st {
        };
        ::stat(QFile::encodeName(victim).constData(), &st);
        victimInode = st.st_ino;
    }
    void expectVictimUntouched()
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the file the link points at is gone";
        EXPECT_EQ(f.readAll(), QByteArray("the user's own file"));
        struct stat st {
        };
        ::stat(QFile::encodeName(victim).constData(), &st);
        EXPECT_EQ(st.st_ino, victimInode) << "the file was replaced";
        QStringList names;
        int err = 0;
        Xattr::list(victim, &names, &err);
        EXPECT_TRUE(names.isEmpty()) << qPrintable(names.join(' '));
    }
    QString base, victim, link;
    ino_t victimInode = 0;
};

TEST_F(OperationsOnLinks, TagsAndRatingsAreNotWrittenThroughALink)
{
    Lumitag::setUserTags(QStringList{QStringLiteral("Red")}, link);
    Lumitag::setAppleTags({QStringLiteral("Blue")}, link);
    Lumitag::setRating(4, link);
    expectVictimUntouched();
    EXPECT_TRUE(isLinkTo(link, victim));
}

TEST_F(OperationsOnLinks, RenameRenamesTheLink)
{
    const XPFileUtils::RenamePlan plan = XPFileUtils::renameFile(link, QStringLiteral("renamed.txt"));
    ASSERT_EQ(plan.status, XPFileUtils::RenamePlan::Ready) << qPrintable(plan.message);
    EXPECT_TRUE(isLinkTo(base + QStringLiteral("/work/renamed.txt"), victim));
    EXPECT_TRUE(QFileInfo::exists(victim));
    expectVictimUntouched();
}

TEST_F(OperationsOnLinks, TrashTakesTheLink)
{
    QString trashed, error;
    ASSERT_TRUE(Workspace::moveToTrash(link, &trashed, &error)) << qPrintable(error);
    EXPECT_TRUE(isLinkTo(trashed, victim)) << qPrintable(trashed);
    expectVictimUntouched();
}

TEST_F(OperationsOnLinks, MoveToMovesTheLinkOnOneFileSystem)
{
    const QString dest = base + QStringLiteral("/elsewhere/moved.txt");
    const FileMove::Outcome out = FileMove::move(link, dest);
    ASSERT_TRUE(out.ok) << qPrintable(out.message);
    EXPECT_TRUE(isLinkTo(dest, victim));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    expectVictimUntouched();
}

TEST_F(OperationsOnLinks, MoveToAnotherFileSystemCopiesTheLinkNotItsTarget)
{
    const QString mountPoint = base + QStringLiteral("/other-disk");
    QDir().mkpath(mountPoint);
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs for a second file system (" << std::strerror(errno) << ")";
    const QString dest = mountPoint + QStringLiteral("/moved.txt");
    const FileMove::Outcome out = FileMove::move(link, dest);
    EXPECT_TRUE(out.ok) << qPrintable(out.message);
    EXPECT_TRUE(isLinkTo(dest, victim)) << "a copy of the target, not the link, arrived";
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the source link stays after a move";
    expectVictimUntouched();
    ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
}

TEST_F(OperationsOnLinks, FilingALinkNeverMovesOrChangesItsTarget)
{
    Defaults::standard().setString(XPFiledDocuments::kFiledDocumentsPathKey, base + QStringLiteral("/Filed"));
    QDir().mkpath(base + QStringLiteral("/Filed"));
    XPFiledDocuments::forgetRoot();
    QList<XPFiledDocuments::FilingOutcome> outcomes;
    XPFiledDocuments::putFilesIntoFiledDocuments({link}, true, &outcomes);
    ASSERT_EQ(outcomes.size(), 1);
    if (outcomes.first().kind == XPFiledDocuments::FilingOutcome::Moved) {
        EXPECT_TRUE(isLinkTo(outcomes.first().destination, victim)) << qPrintable(outcomes.first().destination);
    }
    expectVictimUntouched();
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);
    XPFiledDocuments::forgetRoot();
}

TEST_F(OperationsOnLinks, FilingThroughALinkedDatedFolderReplacesNothingThere)
{
    // A dated folder the user pointed at another disk is followed like `mv` would; what is
    // there already keeps its content and the filed file gets a free name.
    const QString root = base + QStringLiteral("/Filed");
    Defaults::standard().setString(XPFiledDocuments::kFiledDocumentsPathKey, root);
    QDir().mkpath(root);
    XPFiledDocuments::forgetRoot();
    const QString today = XPFiledDocuments::filedDocumentsPathForDate(QDateTime::currentDateTime());
    ASSERT_TRUE(today.startsWith(root)) << qPrintable(today);
    QDir().mkpath(QFileInfo(today).absolutePath());
    const QString linked = base + QStringLiteral("/elsewhere");
    ASSERT_EQ(::symlink(QFile::encodeName(linked).constData(), QFile::encodeName(today).constData()), 0);
    KelsoTest::writeFile(linked + QStringLiteral("/report.pdf"), "%PDF-1.4 the one already there");
    const QString doc = base + QStringLiteral("/work/report.pdf");
    KelsoTest::writeFile(doc, "%PDF-1.4 the new report");
    QList<XPFiledDocuments::FilingOutcome> outcomes;
    XPFiledDocuments::putFilesIntoFiledDocuments({doc}, true, &outcomes);
    ASSERT_EQ(outcomes.size(), 1);
    QFile there(linked + QStringLiteral("/report.pdf"));
    ASSERT_TRUE(there.open(QIODevice::ReadOnly));
    EXPECT_EQ(there.readAll(), QByteArray("%PDF-1.4 the one already there"));
    const QString landed =
        outcomes.first().kind == XPFiledDocuments::FilingOutcome::Failed ? doc : outcomes.first().destination;
    QFile filed(landed);
    ASSERT_TRUE(filed.open(QIODevice::ReadOnly)) << qPrintable(landed);
    EXPECT_EQ(filed.readAll(), QByteArray("%PDF-1.4 the new report"));
    expectVictimUntouched();
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);
    XPFiledDocuments::forgetRoot();
}

} // namespace
