// What the preferences' tables do to the never-show lists: removing rows, editing fragments,
// and which drops of files each table takes.
#include "platform/Defaults.h"
#include "prefs/KLExclusionLists.h"
#include "prefs/KLSettings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

class ExclusionLists : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static int n = 0;
        store = std::make_unique<Defaults>(KelsoTest::home() + QStringLiteral("/exclusion-%1.plist").arg(++n));
        KLSettings::setupDefaults(*store);
        home = KelsoTest::home();
        QDir().mkpath(home + "/Projects/old");
        KelsoTest::writeFile(home + "/Projects/Report.PDF");
        KelsoTest::writeFile(home + "/Projects/Makefile");
    }
    std::unique_ptr<Defaults> store;
    QString home;
};

TEST_F(ExclusionLists, RemovingRowsKeepsTheOthersInOrderAndIgnoresRowsThatAreNotThere)
{
    store->setValue("unwantedItems", QStringList{"/a", "/b", "/c", "/d", "/e"});
    QSignalSpy changed(store.get(), &Defaults::changed);

    EXPECT_EQ(KLExclusionLists::removeRows(KLExclusionList::Items, {3, 1, 1, 9, -1}, *store), 2);
    EXPECT_EQ(store->stringArrayForKey("unwantedItems"), (QStringList{"/a", "/c", "/e"}));
    ASSERT_EQ(changed.count(), 1) << "one write of the whole list";
    EXPECT_EQ(changed.at(0).at(0).toString(), QStringLiteral("unwantedItems"));

    // Nothing to remove: the setting is not written at all.
    EXPECT_EQ(KLExclusionLists::removeRows(KLExclusionList::Items, {7}, *store), 0);
    EXPECT_EQ(changed.count(), 1);

    // The registered default of the extensions ("xcodeproj", "tmp") can be emptied for good.
    EXPECT_EQ(KLExclusionLists::removeRows(KLExclusionList::Extensions, {0, 1}, *store), 2);
    EXPECT_TRUE(store->stringArrayForKey("unwantedExtensions").isEmpty());
    EXPECT_TRUE(store->hasSavedValue("unwantedExtensions"));
}

TEST_F(ExclusionLists, EditingAFragmentToBlankRemovesItAndOtherTextReplacesIt)
{
    store->setValue("unwantedPathFragments", QStringList{"cache", "/build/", "tmp"});
    EXPECT_TRUE(KLExclusionLists::setPathFragment(0, "Cache", *store));
    EXPECT_EQ(store->stringArrayForKey("unwantedPathFragments"), (QStringList{"Cache", "/build/", "tmp"}));
    EXPECT_TRUE(KLExclusionLists::setPathFragment(1, "  ", *store));
    EXPECT_EQ(store->stringArrayForKey("unwantedPathFragments"), (QStringList{"Cache", "tmp"}));
    EXPECT_TRUE(KLExclusionLists::setPathFragment(1, "", *store));
    EXPECT_EQ(store->stringArrayForKey("unwantedPathFragments"), QStringList{"Cache"});
    EXPECT_FALSE(KLExclusionLists::setPathFragment(1, "x", *store));
    EXPECT_FALSE(KLExclusionLists::setPathFragment(-1, "x", *store));
    EXPECT_EQ(store->stringArrayForKey("unwantedPathFragments"), QStringList{"Cache"});
}

TEST_F(ExclusionLists, EachTableTakesOnlyTheDropsItCanUse)
{
    const QString folder = home + "/Projects/old";
    const QString pdf = home + "/Projects/Report.PDF";
    const QString bare = home + "/Projects/Makefile";

    // Folders and fragments: the first dragged path must be an existing folder.
    EXPECT_TRUE(KLExclusionLists::acceptsDrop(KLExclusionList::Folders, {folder, pdf}));
    EXPECT_FALSE(KLExclusionLists::acceptsDrop(KLExclusionList::Folders, {pdf, folder}));
    EXPECT_FALSE(KLExclusionLists::acceptsDrop(KLExclusionList::Folders, {home + "/gone"}));
    EXPECT_TRUE(KLExclusionLists::acceptsDrop(KLExclusionList::PathFragments, {folder}));
    EXPECT_FALSE(KLExclusionLists::acceptsDrop(KLExclusionList::PathFragments, {pdf}));
    // Extensions: the first path needs one.
    EXPECT_TRUE(KLExclusionLists::acceptsDrop(KLExclusionList::Extensions, {pdf}));
    EXPECT_FALSE(KLExclusionLists::acceptsDrop(KLExclusionList::Extensions, {bare, pdf}));
    // Items: anything at all, but not nothing.
    EXPECT_TRUE(KLExclusionLists::acceptsDrop(KLExclusionList::Items, {bare}));
    for (KLExclusionList list : {KLExclusionList::Folders, KLExclusionList::Extensions, KLExclusionList::Items,
                                 KLExclusionList::PathFragments}) {
        EXPECT_FALSE(KLExclusionLists::acceptsDrop(list, {}));
        EXPECT_FALSE(KLExclusionLists::acceptsDrop(list, {QString()}));
    }

    // A refused drop writes nothing.
    const QStringList before = store->stringArrayForKey("unwantedDirectories");
    EXPECT_EQ(KLExclusionLists::acceptDrop(KLExclusionList::Folders, {pdf, folder}, *store), 0);
    EXPECT_EQ(store->stringArrayForKey("unwantedDirectories"), before);
}

TEST_F(ExclusionLists, AcceptedDropsAddEachUsablePathOnceInOrder)
{
    const QString folder = home + "/Projects/old";
    const QString pdf = home + "/Projects/Report.PDF";

    // The folder table: the first is a folder; the file after it adds nothing.
    EXPECT_EQ(KLExclusionLists::acceptDrop(KLExclusionList::Folders, {folder, pdf, folder}, *store), 1);
    EXPECT_EQ(store->stringArrayForKey("unwantedDirectories"), QStringList{"~/Projects/old"});
    // The extension table: lower case, after the registered two, and a folder dropped after a
    // file adds the folders entry.
    EXPECT_EQ(KLExclusionLists::acceptDrop(KLExclusionList::Extensions, {pdf, pdf, folder}, *store), 2);
    EXPECT_EQ(store->stringArrayForKey("unwantedExtensions"),
              (QStringList{"xcodeproj", "tmp", "pdf", "Never show folders"}));
    // The fragments table: the whole path becomes a fragment.
    EXPECT_EQ(KLExclusionLists::acceptDrop(KLExclusionList::PathFragments, {folder}, *store), 1);
    EXPECT_EQ(store->stringArrayForKey("unwantedPathFragments"), QStringList{folder});
    // Everything already there: the drop counts as failed.
    EXPECT_EQ(KLExclusionLists::acceptDrop(KLExclusionList::PathFragments, {folder}, *store), 0);
    EXPECT_EQ(KLExclusionLists::acceptDrop(KLExclusionList::Items, {pdf, pdf}, *store), 1);
    EXPECT_EQ(store->stringArrayForKey("unwantedItems"), QStringList{pdf});
}

} // namespace
