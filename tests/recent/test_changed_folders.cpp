// Which recorded files an answer for a script looks at again: where the event stream reports
// every change (its roots, less hidden and excluded folders, volumes watched at their top only
// and file systems mounted inside a root), and, there, only files whose folder or a folder above
// it had a record since their last look, or whose look is too old.
#include "recent/KLChangedFolders.h"

#include <gtest/gtest.h>

namespace {

QVariantMap activeStatus(const QStringList &roots, const QStringList &topOnly = {})
{
    return {
        {"active", true}, {"roots", roots}, {"topOnlyRoots", topOnly}, {"unwatchedFolders", 0}, {"problem", QString()}};
}

KLChangedFolders::Coverage homeCoverage()
{
    return KLChangedFolders::coverageOf(activeStatus({"/home/u"}), {"/proc/", "/run/"}, {});
}

} // namespace

TEST(ChangedFolders, CoverageIsTheWatchedRootsLessWhatNoWatchReports)
{
    const auto c =
        KLChangedFolders::coverageOf(activeStatus({"/home/u", "/media/u/USB", "/mnt/nfs"}, {"/mnt/nfs"}),
                                     {"/proc/", "/home/u/skip/"}, {"/", "/home/u/sshfs", "/media/u/USB", "/proc"});
    EXPECT_TRUE(c.covers("/home/u/Documents/a.txt"));
    EXPECT_TRUE(c.covers("/home/u/.bashrc")) << "a hidden file in a watched folder";
    EXPECT_TRUE(c.covers("/home/u")) << "the root itself";
    EXPECT_TRUE(c.covers("/media/u/USB/photo.jpg")) << "a volume that is a root of its own";
    EXPECT_FALSE(c.covers("/home/u/.cache/x/a.txt")) << "hidden folders are not descended";
    EXPECT_FALSE(c.covers("/home/u/Documents/.git/config"));
    EXPECT_FALSE(c.covers("/home/u/skip/a.txt")) << "excluded prefix";
    EXPECT_FALSE(c.covers("/home/u/skip")) << "the excluded folder itself";
    EXPECT_FALSE(c.covers("/home/u/sshfs/a.txt")) << "another file system mounted inside the home";
    EXPECT_FALSE(c.covers("/home/u/sshfs")) << "the mount point: its facts are the other file system's";
    EXPECT_FALSE(c.covers("/mnt/nfs/a.txt")) << "watched at its top only";
    EXPECT_FALSE(c.covers("/home/user2/a.txt")) << "a root's name is not a prefix of another folder";
    EXPECT_FALSE(c.covers("/tmp/a.txt"));
    EXPECT_FALSE(c.covers("relative/a.txt"));

    const auto slash = KLChangedFolders::coverageOf(activeStatus({"/"}), {"/proc/"}, {});
    EXPECT_TRUE(slash.covers("/srv/a.txt"));
    EXPECT_TRUE(slash.covers("/.profile"));
    EXPECT_FALSE(slash.covers("/.cache/a.txt")) << "a hidden folder right under the root";
    EXPECT_FALSE(slash.covers("/proc/1/status"));
}

TEST(ChangedFolders, NoCoverageWhileTheStreamIsStoppedMissesFoldersOrHasAProblem)
{
    QVariantMap stopped = activeStatus({"/home/u"});
    stopped["active"] = false;
    QVariantMap missing = activeStatus({"/home/u"});
    missing["unwatchedFolders"] = 3;
    QVariantMap problem = activeStatus({"/home/u"});
    problem["problem"] = "the inotify watch limit is reached";
    for (const QVariantMap &status : {stopped, missing, problem, QVariantMap()})
        EXPECT_FALSE(KLChangedFolders::coverageOf(status, {}, {}).covers("/home/u/a.txt"));
}

TEST(ChangedFolders, AFileIsLookedAtAgainAfterARecordForItsFolderOrOneAbove)
{
    KLChangedFolders changed(3.0);
    const auto c = homeCoverage();
    const QString file = "/home/u/Documents/report/a.txt";
    EXPECT_FALSE(changed.mayHaveChanged(file, 100, 101, c)) << "nothing reported since the look";
    EXPECT_TRUE(changed.mayHaveChanged(file, 0, 101, c)) << "never looked at";

    changed.noteChanged("/home/u/Downloads", 100.5);
    changed.noteChanged("/home/u/Documents/report2", 100.5);
    EXPECT_FALSE(changed.mayHaveChanged(file, 100, 101, c)) << "other folders, and a name that only starts alike";

    changed.noteChanged("/home/u/Documents/report", 99);
    EXPECT_FALSE(changed.mayHaveChanged(file, 100, 101, c)) << "a record before the look";
    changed.noteChanged("/home/u/Documents/report", 100);
    EXPECT_TRUE(changed.mayHaveChanged(file, 100, 101, c)) << "a record in the same instant as the look";

    EXPECT_FALSE(changed.mayHaveChanged("/home/u/Music/b.mp3", 100, 101, c));
    changed.noteChanged("/home/u", 100.2);
    EXPECT_TRUE(changed.mayHaveChanged("/home/u/Music/b.mp3", 100, 101, c)) << "Music renamed or deleted";

    KLChangedFolders inside(3.0);
    inside.noteChanged("/home/u/Photos", 100.5);
    EXPECT_TRUE(inside.mayHaveChanged("/home/u/Photos", 100, 101, c)) << "a folder item hears of its contents";
}

TEST(ChangedFolders, OldLooksAndLooksOutsideTheCoverageAreAlwaysRepeated)
{
    KLChangedFolders changed(3.0);
    const auto c = homeCoverage();
    EXPECT_FALSE(changed.mayHaveChanged("/home/u/a.txt", 100, 103, c));
    EXPECT_TRUE(changed.mayHaveChanged("/home/u/a.txt", 100, 103.5, c)) << "older than the longest a fact is kept";
    EXPECT_TRUE(changed.mayHaveChanged("/home/u/a.txt", 100, 99, c)) << "the clock went back";
    EXPECT_TRUE(changed.mayHaveChanged("/tmp/a.txt", 100, 100.1, c));
    EXPECT_TRUE(changed.mayHaveChanged("/home/u/a.txt", 100, 100.1, {}));
}

TEST(ChangedFolders, ForgettingKeepsEveryRecordALookMightStillNeed)
{
    KLChangedFolders changed(3.0);
    const auto c = homeCoverage();
    changed.noteChanged("/home/u/old", 90);
    changed.noteChanged("/home/u/recent", 99);
    changed.forgetOld(100);
    EXPECT_EQ(changed.size(), 1);
    // A look at 97.5 is still young enough at 100 to be trusted, and the record at 99 came after it.
    EXPECT_TRUE(changed.mayHaveChanged("/home/u/recent/a.txt", 97.5, 100, c));
    EXPECT_FALSE(changed.mayHaveChanged("/home/u/old/a.txt", 97.5, 100, c));
}
