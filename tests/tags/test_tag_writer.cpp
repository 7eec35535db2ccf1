// The many-files write: ratings and tags file by file, the stop flag, failures, time nudges.
#include "TagTestUtil.h"
#include "tags/Lumitag.h"
#include "tags/XPSimpleUtils.h"
#include "tags/XPTagWriter.h"

#include <QDateTime>
#include <cerrno>
#include <sys/stat.h>

using namespace TagTest;
using L = QStringList;

namespace {

struct timespec mtimeOf(const QString &path)
{
    struct stat st {
    };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

void setMTime(const QString &path, qint64 secondsAgo, long nsec = 250000000)
{
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 5 * 86400; // access time: something recognisable
    times[1].tv_sec = time(nullptr) - secondsAgo;
    times[1].tv_nsec = nsec;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

L tagsOf(const QString &p)
{
    return Lumitag::getUserTags(p).value_or(L{QStringLiteral("<unreadable>")});
}

} // namespace

class TagWriter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = freshFolder(QStringLiteral("writer"));
        Defaults::standard().removeObjectForKey(QStringLiteral("KPSetModifiyTimeOnTagsChanging"));
    }
    L files(int n, const L &tags)
    {
        L out;
        for (int i = 0; i < n; ++i) {
            out.append(makeFile(dir, QStringLiteral("f%1").arg(i)));
            EXPECT_FALSE(Lumitag::setUserTags(tags, out.last()));
        }
        return out;
    }
    QString dir;
};

TEST_F(TagWriter, WhatNeedsWriting)
{
    EXPECT_FALSE(XPTagWriter::needToSetTags({}, {}));
    EXPECT_FALSE(XPTagWriter::needToSetTags({"a", "b"}, {"a", "b"}));
    EXPECT_TRUE(XPTagWriter::needToSetTags({"a", "b"}, {"b", "a"}));
    EXPECT_TRUE(XPTagWriter::needToSetTags({"a"}, {"A"}));
    EXPECT_FALSE(XPTagWriter::needToSet({"a"}, {"b"}, {}, std::nullopt));
    EXPECT_TRUE(XPTagWriter::needToSet({}, {}, {"/x"}, std::nullopt));
}

TEST_F(TagWriter, RatingOnlyLeavesTagsAndTagTimesAlone)
{
    const L paths{makeFile(dir, "a"), makeFile(dir, "b"), makeFile(dir, "c")};
    ASSERT_FALSE(Lumitag::setUserTags(L{"x"}, paths[0]));
    ASSERT_FALSE(Lumitag::setUserTags(L{"y", "z"}, paths[1]));
    const QVariant stamp0 = Lumitag::getXAttrMetaData(LumitagKeys::UserTagTime, paths[0]);
    const auto result = XPTagWriter::replaceOriginalTags({}, {}, paths, 4.0);
    EXPECT_TRUE(result.failedPaths.isEmpty());
    EXPECT_EQ(result.processed, 3);
    for (const QString &p : paths)
        EXPECT_EQ(Lumitag::getRating(p), 4.0);
    EXPECT_EQ(tagsOf(paths[0]), L{"x"});
    EXPECT_EQ(tagsOf(paths[1]), (L{"y", "z"}));
    EXPECT_EQ(tagsOf(paths[2]), L{});
    EXPECT_EQ(Lumitag::getXAttrMetaData(LumitagKeys::UserTagTime, paths[0]), stamp0);
    EXPECT_FALSE(Lumitag::getXAttrMetaData(LumitagKeys::UserTagTime, paths[2]).isValid());

    // Rating 0 removes every rating.
    XPTagWriter::replaceOriginalTags({}, {}, paths, 0.0);
    for (const QString &p : paths)
        EXPECT_EQ(Lumitag::getRating(p), 0.0);
}

TEST_F(TagWriter, FailedFilesAreListedAndTheOthersWritten)
{
    // As root, permission bits stop nothing: an immutable file and a vanished path fail for real.
    const L paths = files(4, {"A"});
    ImmutableGuard guard(paths[1]);
    if (!guard.active)
        GTEST_SKIP() << "cannot set the immutable flag here";
    ASSERT_TRUE(QFile::remove(paths[3]));
    const auto result = XPTagWriter::replaceOriginalTags({"A"}, {"B"}, paths, std::nullopt);
    EXPECT_EQ(result.failedPaths, (L{paths[1], paths[3]}));
    EXPECT_TRUE(result.errors.value(paths[1]).isPOSIX(EPERM));
    EXPECT_TRUE(result.errors.value(paths[3]).isPOSIX(ENOENT));
    EXPECT_EQ(tagsOf(paths[0]), L{"B"});
    EXPECT_EQ(tagsOf(paths[2]), L{"B"});
    EXPECT_EQ(tagsOf(paths[1]), L{"A"});
}

TEST_F(TagWriter, StoppingKeepsWhatWasWrittenAndTouchesNothingElse)
{
    const L paths = files(50, {"old"});
    const auto result = XPTagWriter::replaceOriginalTags({"old"}, {"new"}, paths, std::nullopt, [](int done) {
        if (done == 20)
            XPTagWriter::stopWritingTags();
    });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.processed, 20);
    for (int i = 0; i < paths.size(); ++i)
        EXPECT_EQ(tagsOf(paths[i]), i < 20 ? L{"new"} : L{"old"}) << i;

    // A new write clears the flag.
    const auto again = XPTagWriter::replaceOriginalTags({"old"}, {"new"}, paths, std::nullopt);
    EXPECT_FALSE(again.stopped);
    EXPECT_EQ(tagsOf(paths.last()), L{"new"});
}

TEST_F(TagWriter, ModificationTimesMoveOnlyWhenAskedAndOnlyForOldFiles)
{
    const L paths = files(2, {"a"});
    setMTime(paths[0], 2 * 86400);
    setMTime(paths[1], 600);
    const auto oldTime = mtimeOf(paths[0]);
    const auto recentTime = mtimeOf(paths[1]);

    XPTagWriter::replaceOriginalTags({"a"}, {"b"}, paths, std::nullopt);
    EXPECT_EQ(mtimeOf(paths[0]).tv_sec, oldTime.tv_sec) << "setting off: no bump";

    Defaults::standard().setValue(QStringLiteral("KPSetModifiyTimeOnTagsChanging"), true);
    XPTagWriter::replaceOriginalTags({"b"}, {"c"}, paths, std::nullopt);
    EXPECT_EQ(mtimeOf(paths[0]).tv_sec, oldTime.tv_sec + 2);
    EXPECT_EQ(mtimeOf(paths[0]).tv_nsec, oldTime.tv_nsec);
    EXPECT_EQ(mtimeOf(paths[1]).tv_sec, recentTime.tv_sec);
    EXPECT_EQ(mtimeOf(paths[1]).tv_nsec, recentTime.tv_nsec);
    Defaults::standard().removeObjectForKey(QStringLiteral("KPSetModifiyTimeOnTagsChanging"));
}

TEST(AdjustModificationDate, MovesOldFilesTwoSecondsAndKeepsTheAccessTime)
{
    const QString dir = freshFolder(QStringLiteral("mtime"));
    const QString old = makeFile(dir, QStringLiteral("old"));
    setMTime(old, 3600 + 30);
    struct stat before {
    };
    ::lstat(QFile::encodeName(old).constData(), &before);
    EXPECT_TRUE(XPSimpleUtils::adjustModifictionDate(old));
    struct stat after {
    };
    ::lstat(QFile::encodeName(old).constData(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec + 2);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);

    const QString recent = makeFile(dir, QStringLiteral("recent"));
    setMTime(recent, 3500);
    EXPECT_FALSE(XPSimpleUtils::adjustModifictionDate(recent));
    EXPECT_FALSE(XPSimpleUtils::adjustModifictionDate(QString()));
    EXPECT_FALSE(XPSimpleUtils::adjustModifictionDate(dir + QStringLiteral("/missing")));

    // A link's own time moves; its target's does not.
    const QString target = makeFile(dir, QStringLiteral("target"));
    setMTime(target, 86400);
    const QString link = dir + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 86400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(link).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
    const auto targetBefore = mtimeOf(target);
    XPSimpleUtils::adjustModifictionDate(link);
    EXPECT_EQ(mtimeOf(target).tv_sec, targetBefore.tv_sec);
}
