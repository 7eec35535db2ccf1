// The searcher behind the search bar: the wait before a search starts, the clear after leaving,
// the "All" placeholder, the two live queries and what they are given, the merge as the grid
// gets it, and result objects reused by path.
#include "FakeSearchIndex.h"
#include "search/KLSpotlightSearcher.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {
QStringList pathsOf(const QList<KLSearchItemPtr> &items)
{
    return KLSearchItem::pathsForItems(items);
}

QStringList numbered(const QString &prefix, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out.append(QStringLiteral("/d/%1%2").arg(prefix).arg(i));
    return out;
}

int kindIndex(const QString &title)
{
    return int(KLSpotlightSearcher::fileTypeTitles().indexOf(title));
}
} // namespace

TEST(SpotlightSearcher, PopUpsHaveFifteenKindsAndSevenTimes)
{
    const QStringList kinds = KLSpotlightSearcher::fileTypeTitles();
    ASSERT_EQ(kinds.size(), 15);
    EXPECT_EQ(kinds.first(), "Any Kind");
    EXPECT_EQ(kinds.at(1), "PDF");
    EXPECT_EQ(kinds.last(), "Folders");
    const QStringList times = KLSpotlightSearcher::dateTitles();
    ASSERT_EQ(times.size(), 7);
    EXPECT_EQ(times.first(), "Any Time");
    EXPECT_EQ(times.at(1), "Today");
}

TEST(SpotlightSearcher, TypingRestartsTheWaitSoOneSearchStarts)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    QElapsedTimer clock;
    clock.start();
    searcher.setSearchText("r");
    QTest::qWait(400);
    searcher.setSearchText("re");
    QTest::qWait(400);
    searcher.setSearchText("rep");
    // 0.8 s after the first letter: nothing has started, the wait began again with each letter.
    EXPECT_TRUE(index.made.isEmpty());
    EXPECT_TRUE(searcher.restartPending());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !index.made.isEmpty(); }, 3000));
    EXPECT_GE(clock.elapsed(), 800 + 650);
    // One search: the name query and the content query, both for the whole word.
    ASSERT_EQ(index.texts.size(), 2);
    EXPECT_TRUE(index.texts.at(0).contains("\"*rep*\"cd")) << index.texts.at(0).toStdString();
    EXPECT_TRUE(index.texts.at(1).contains("kMDItemTextContent")) << index.texts.at(1).toStdString();
    EXPECT_FALSE(index.texts.at(0).contains("kMDItemTextContent"));
    EXPECT_TRUE(searcher.resultsShown());
}

TEST(SpotlightSearcher, QueriesAreLimitedAndScopedToThePickedFolder)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setDelaysForTesting(0, 60000);
    searcher.setFileTypeIndex(kindIndex("PDF"));
    searcher.setLocation("/home/ann/Papers");
    searcher.restartSearch();
    const auto running = index.running();
    ASSERT_EQ(running.size(), 2);
    for (FakeSearchQuery *q : running) {
        EXPECT_EQ(q->maxCount, 100);
        EXPECT_EQ(q->scopes, QStringList{"/home/ann/Papers"});
        EXPECT_TRUE(q->text.contains("kMDItemContentTypeTree")) << q->text.toStdString();
        EXPECT_TRUE(q->text.contains("MDSystemFile"));
    }
    // Everywhere again: no scope.
    searcher.setLocation(QString());
    searcher.restartSearch();
    for (FakeSearchQuery *q : index.running())
        EXPECT_TRUE(q->scopes.isEmpty());
}

TEST(SpotlightSearcher, PickedFolderWithKindPutsAllIntoAnEmptyField)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    QSignalSpy text(&searcher, &KLSpotlightSearcher::searchTextChanged);
    QSignalSpy title(&searcher, &KLSpotlightSearcher::locationChanged);
    // A folder without a kind: no placeholder.
    searcher.setLocation("/home/ann/Papers");
    EXPECT_EQ(searcher.searchText(), "");
    EXPECT_EQ(title.last().at(0).toString(), "Papers");
    searcher.setFileTypeIndex(kindIndex("PDF"));
    searcher.setLocation("/home/ann/Books");
    EXPECT_EQ(searcher.searchText(), "\"All\"");
    EXPECT_EQ(text.last().at(0).toString(), "\"All\"");
    EXPECT_EQ(title.last().at(0).toString(), "Books");
    // The placeholder is no name condition.
    EXPECT_FALSE(searcher.nameQueryText().contains("kMDItemDisplayName")) << searcher.nameQueryText().toStdString();
    EXPECT_FALSE(searcher.contentQueryText().contains("All"));
    // Text the user typed is never replaced.
    searcher.setSearchText("thesis");
    searcher.setLocation("/home/ann/Papers");
    EXPECT_EQ(searcher.searchText(), "thesis");
    searcher.setLocation(QString());
    EXPECT_EQ(title.last().at(0).toString(), "Everywhere");
}

TEST(SpotlightSearcher, ClearsSixtySecondsAfterLeavingUnlessTheUserComesBack)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setDelaysForTesting(10, 300);
    EXPECT_EQ(KLSpotlightSearcher::kClearAfterLeavingMs, 60000);
    searcher.setSearchText("budget");
    searcher.setFileTypeIndex(2);
    searcher.setDateIndex(1);
    searcher.setLocation("/home/ann/Work");
    searcher.resignActive();
    EXPECT_TRUE(searcher.clearPending());
    QTest::qWait(100);
    searcher.becomeActive(); // back in time: the search stays and runs again
    EXPECT_FALSE(searcher.clearPending());
    QTest::qWait(500);
    EXPECT_EQ(searcher.searchText(), "budget");
    EXPECT_EQ(searcher.location(), "/home/ann/Work");
    EXPECT_FALSE(index.running().isEmpty());

    QSignalSpy shown(&searcher, &KLSpotlightSearcher::resultsShownChanged);
    searcher.resignActive();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return searcher.searchText().isEmpty() && !searcher.resultsShown(); }, 3000));
    EXPECT_EQ(searcher.fileTypeIndex(), 0);
    EXPECT_EQ(searcher.dateIndex(), 0);
    EXPECT_EQ(searcher.location(), "");
    EXPECT_EQ(searcher.locationTitle(), "Everywhere");
    EXPECT_TRUE(index.running().isEmpty());
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_FALSE(shown.last().at(0).toBool());
}

TEST(SpotlightSearcher, ClearingTheFieldHidesTheResults)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setSearchText("x");
    searcher.restartSearch();
    EXPECT_TRUE(searcher.resultsShown());
    searcher.setSearchText("   ");
    searcher.restartSearch();
    EXPECT_FALSE(searcher.resultsShown());
    EXPECT_TRUE(index.running().isEmpty());
    // Only a time: both queries run with the time and system-file conditions alone.
    index.texts.clear();
    searcher.setSearchText("");
    searcher.setDateIndex(1);
    searcher.restartSearch();
    EXPECT_TRUE(searcher.resultsShown());
    ASSERT_EQ(index.texts.size(), 2);
    EXPECT_EQ(index.texts.at(0), index.texts.at(1));
    EXPECT_TRUE(index.texts.at(0).contains("$time.today"));
    EXPECT_FALSE(index.texts.at(0).contains("kMDItemDisplayName"));
}

TEST(SpotlightSearcher, MergedResultsLeadWithFiveNamesThenAlternate)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setSearchText("plan");
    searcher.restartSearch();
    auto running = index.running();
    ASSERT_EQ(running.size(), 2);
    FakeSearchQuery *names = running.at(0);
    FakeSearchQuery *contents = running.at(1);
    QStringList n = numbered("n", 7);
    QStringList c = numbered("c", 3);
    c.insert(1, n.at(6)); // found by both: shown once, at its name position
    names->report(n);
    contents->report(c);
    EXPECT_EQ(pathsOf(searcher.currentResults()),
              (QStringList{"/d/n0", "/d/n1", "/d/n2", "/d/n3", "/d/n4", "/d/n5", "/d/c0", "/d/n6", "/d/c1", "/d/c2"}));
    // Copied while the queries' updates were paused.
    EXPECT_FALSE(names->readWhileUpdating);
    EXPECT_FALSE(contents->readWhileUpdating);
    EXPECT_EQ(names->updatesDisabled, 0);
}

TEST(SpotlightSearcher, ResultsKeepTheirObjectsByPathAcrossUpdates)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setSearchText("plan");
    searcher.restartSearch();
    FakeSearchQuery *names = index.running().at(0);
    names->report({"/d/a", "/d/b", "/d/c"});
    const KLSearchItemPtr b = searcher.itemAtIndex(1);
    const KLItemPtr bGrid = b->gridItem();
    QSignalSpy changed(&searcher, &KLSpotlightSearcher::resultsChanged);
    // A file created while the search runs comes first; one deleted leaves.
    names->report({"/d/new", "/d/b", "/d/c"});
    EXPECT_EQ(pathsOf(searcher.currentResults()), (QStringList{"/d/new", "/d/b", "/d/c"}));
    EXPECT_EQ(searcher.itemAtIndex(1), b);
    EXPECT_EQ(searcher.itemAtIndex(1)->gridItem(), bGrid);
    EXPECT_EQ(changed.size(), 1);
    // The same list again is no change for the grid.
    names->report({"/d/new", "/d/b", "/d/c"});
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(searcher.itemAtIndex(5), nullptr);
    EXPECT_EQ(searcher.itemAtIndex(-1), nullptr);
}

TEST(SpotlightSearcher, OneQueryFailingToStartLeavesTheOther)
{
    FakeSearchIndex index;
    index.failing = "kMDItemTextContent";
    KLSpotlightSearcher searcher(index.factory());
    searcher.setSearchText("plan");
    searcher.restartSearch();
    const auto running = index.running();
    ASSERT_EQ(running.size(), 1);
    running.at(0)->report({"/d/a"});
    EXPECT_EQ(pathsOf(searcher.currentResults()), QStringList{"/d/a"});
}

TEST(SpotlightSearcher, AStoppedQueryNoLongerFillsTheResults)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setSearchText("plan");
    searcher.restartSearch();
    QPointer<FakeSearchQuery> old = index.running().at(0);
    searcher.setSearchText("plans"); // stops at once, restarts later
    EXPECT_TRUE(searcher.currentResults().isEmpty());
    EXPECT_TRUE(old.isNull() || old->stopped);
}

TEST(SpotlightSearcher, RawQueryTextRunsAsWrittenUntilEdited)
{
    FakeSearchIndex index;
    KLSpotlightSearcher searcher(index.factory());
    searcher.setDelaysForTesting(0, 60000);
    searcher.setFileTypeIndex(3);
    const QString raw = "(kMDItemUserTags == \"red\"cd)";
    searcher.runQueryText(raw);
    EXPECT_EQ(searcher.searchText(), raw);
    EXPECT_EQ(searcher.fileTypeIndex(), 0);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !index.running().isEmpty(); }, 2000));
    ASSERT_EQ(index.running().size(), 1);
    EXPECT_TRUE(index.running().at(0)->text.startsWith(raw)) << index.running().at(0)->text.toStdString();
    // Typed by the user: an ordinary search again.
    searcher.setSearchText("red");
    searcher.restartSearch();
    EXPECT_EQ(index.running().size(), 2);
}
