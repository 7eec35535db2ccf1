// The tag editor's thresholds, failure report, rating display and titles, and the tag search's
// query text.
#include "tags/editor/XPTagEditorRules.h"
#include "util/Tilde.h"

#include <gtest/gtest.h>

using namespace XPTagEditorRules;

namespace {

QStringList pathsNamed(int n, const QString &folder = QStringLiteral("/data/photos"))
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out.append(QStringLiteral("%1/file%2.jpg").arg(folder).arg(i));
    return out;
}

TEST(TagEditorThresholdsTest, TwentyFilesAreWrittenAtOnceTwentyOneAskFirst)
{
    EXPECT_EQ(gateForFileCount(1), Gate::WriteAtOnce);
    EXPECT_EQ(gateForFileCount(20), Gate::WriteAtOnce);
    EXPECT_EQ(gateForFileCount(21), Gate::Confirm);
    EXPECT_EQ(gateForFileCount(150000), Gate::Confirm);
    EXPECT_EQ(gateForFileCount(150001), Gate::Refuse);
}

TEST(TagEditorThresholdsTest, TheProgressWindowShowsFromElevenFiles)
{
    EXPECT_FALSE(showsProgress(1));
    EXPECT_FALSE(showsProgress(10));
    EXPECT_TRUE(showsProgress(11));
    EXPECT_TRUE(showsProgress(500));
}

TEST(TagFailureReportTest, ThirteenFailuresListTenNamesAndALeftoversLine)
{
    const QStringList all = pathsNamed(20);
    const QStringList failed = all.mid(0, 13);
    const FailureReport report = failureReport(failed, all);
    ASSERT_EQ(report.nameLines.size(), 11);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(report.nameLines.at(i), QStringLiteral("file%1.jpg").arg(i));
    EXPECT_EQ(report.nameLines.last(), QStringLiteral("and 3 more"));
    EXPECT_FALSE(report.message.contains(QStringLiteral("file10.jpg")));
    EXPECT_TRUE(report.title.contains(QStringLiteral("13"))) << report.title.toStdString();
}

TEST(TagFailureReportTest, ElevenFailuresAreAllNamed)
{
    const QStringList all = pathsNamed(11);
    const FailureReport report = failureReport(all, all);
    ASSERT_EQ(report.nameLines.size(), 11);
    EXPECT_EQ(report.nameLines.last(), QStringLiteral("file10.jpg"));
    for (const QString &line : report.nameLines)
        EXPECT_FALSE(line.contains(QStringLiteral("more")));
    // Every file failed: the "none could be changed" texts.
    EXPECT_EQ(report.title, QStringLiteral("None of the 11 files could be changed"));
}

TEST(TagFailureReportTest, TheTextsFollowHowManyOfHowManyFailed)
{
    EXPECT_TRUE(failureReport({}, pathsNamed(3)).title.isEmpty()) << "no report without a failure";

    const QStringList one = pathsNamed(1);
    EXPECT_EQ(failureReport(one, one).title, QStringLiteral("The tags of \"file0.jpg\" could not be changed"));
    EXPECT_EQ(failureReport(one, pathsNamed(4)).title, QStringLiteral("The tags of one file could not be changed"));
    const FailureReport some = failureReport(pathsNamed(2), pathsNamed(4));
    EXPECT_EQ(some.title, QStringLiteral("2 files could not be changed"));
    EXPECT_TRUE(some.message.contains(QStringLiteral("file0.jpg\nfile1.jpg")));
}

TEST(TagFailureReportTest, EachNameCarriesItsReasonAndTheFirstPathIsAbbreviated)
{
    const QString home = PimsAdditions::realHomeDirectory();
    const QStringList failed{home + QStringLiteral("/Documents/gone.txt"), QStringLiteral("/mnt/locked.txt")};
    const QHash<QString, QString> reasons{{failed.at(0), QStringLiteral("No such file or directory")},
                                          {failed.at(1), QStringLiteral("Operation not permitted")}};
    const FailureReport report = failureReport(failed, failed + pathsNamed(1), reasons);
    EXPECT_EQ(report.nameLines, (QStringList{QStringLiteral("gone.txt (No such file or directory)"),
                                             QStringLiteral("locked.txt (Operation not permitted)")}));
    const FailureReport single = failureReport({failed.at(0)}, {failed.at(0)}, reasons);
    EXPECT_TRUE(single.message.contains(QStringLiteral("~/Documents/gone.txt"))) << single.message.toStdString();
}

TEST(TagRatingDisplayTest, RatingsReadAsNotRatedWholeStarsOrVarious)
{
    EXPECT_EQ(ratingText(0), QStringLiteral("not rated"));
    EXPECT_EQ(ratingText(3), QStringLiteral("rated 3/5"));
    EXPECT_EQ(ratingText(3.9), QStringLiteral("rated 3/5")) << "cut, not rounded";
    EXPECT_EQ(ratingText(5), QStringLiteral("rated 5/5"));

    const RatingDisplay differ = ratingDisplay({3, 4});
    EXPECT_EQ(differ.value, 0);
    EXPECT_EQ(differ.text, QStringLiteral("various"));
    const RatingDisplay same = ratingDisplay({4, 4, 4});
    EXPECT_EQ(same.value, 4);
    EXPECT_EQ(same.text, QStringLiteral("rated 4/5"));
    const RatingDisplay unrated = ratingDisplay({0, 0});
    EXPECT_EQ(unrated.text, QStringLiteral("not rated"));
    EXPECT_EQ(ratingDisplay({0, 2}).text, QStringLiteral("various")) << "an unrated file differs from a rated one";
}

TEST(TagEditorTitlesTest, TitlesNameOneFileOrCountSeveral)
{
    EXPECT_EQ(windowTitleForFileCount(0, QString()), QString());
    EXPECT_EQ(windowTitleForFileCount(1, QStringLiteral("a.txt")), QStringLiteral("Tags of a.txt"));
    EXPECT_EQ(windowTitleForFileCount(7, QStringLiteral("a.txt")), QStringLiteral("Tags of 7 files"));
    EXPECT_EQ(fileNameLine(1, QStringLiteral("a.txt")), QStringLiteral("a.txt"));
    EXPECT_EQ(fileNameLine(2, QStringLiteral("a.txt")), QStringLiteral("2 files"));
    EXPECT_NE(tagFieldTitle(1), tagFieldTitle(2));
}

TEST(TagQueryTextTest, TagsAndRatingBecomeTheQuery)
{
    EXPECT_EQ(tagQueryText({}, 0), QString()) << "no tags, no rating: empty";
    EXPECT_EQ(tagQueryText({QStringLiteral("work"), QStringLiteral("two words")}, 3),
              QStringLiteral(" tag: work tag: \"two words\" starrating:>=3"));
    EXPECT_EQ(tagQueryText({QStringLiteral("work")}, 0), QStringLiteral(" tag: work"));
    EXPECT_EQ(tagQueryText({QStringLiteral("work")}, 2.5), QStringLiteral(" tag: work starrating:>=2.5"));
    EXPECT_EQ(tagQueryText({}, 4), QStringLiteral(" starrating:>=4"));
}

TEST(TagQueryTextTest, TheFileManagersWordLosesItsPlural)
{
    EXPECT_EQ(queryTagWord(), QStringLiteral(" tag: "));
    EXPECT_EQ(queryTagWord(QStringLiteral("Tags:")), QStringLiteral(" tag: "));
    EXPECT_EQ(queryTagWord(QStringLiteral("Tags :")), QStringLiteral(" tag: "));
    EXPECT_EQ(queryTagWord(QStringLiteral("Etiketten:")), QStringLiteral(" etiketten: "))
        << "only a plural s before the colon goes";
    EXPECT_EQ(tagQueryText({QStringLiteral("rot")}, 0, QStringLiteral("Stichworts:")),
              QStringLiteral(" stichwort: rot"));
}

} // namespace
