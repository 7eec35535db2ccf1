// The never-show lists: one entry added per call, written back whole to the setting.
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "prefs/KLUnwanted.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {
class Unwanted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static int n = 0;
        store = std::make_unique<Defaults>(KelsoTest::home() + QStringLiteral("/unwanted-%1.plist").arg(++n));
        KLSettings::setupDefaults(*store);
    }
    std::unique_ptr<Defaults> store;
};
} // namespace

TEST_F(Unwanted, FoldersAreStoredWithTildeAndNotTwiceInEitherForm)
{
    const QString home = KelsoTest::home();
    QDir().mkpath(home + "/Projects/old");
    QDir().mkpath(home + "/Music");
    KelsoTest::writeFile(home + "/plain.txt");

    EXPECT_TRUE(KLUnwanted::addUnwantedDirectory(home + "/Projects/old", store.get()));
    EXPECT_EQ(store->stringArrayForKey("unwantedDirectories"), QStringList{"~/Projects/old"});
    EXPECT_FALSE(KLUnwanted::addUnwantedDirectory(home + "/Projects/old", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedDirectory("~/Projects/old", store.get()));

    // The expanded form already listed also counts.
    store->setValue("unwantedDirectories", QStringList{home + "/Music"});
    EXPECT_FALSE(KLUnwanted::addUnwantedDirectory(home + "/Music", store.get()));
    EXPECT_TRUE(KLUnwanted::addUnwantedDirectory(home + "/Projects", store.get()));
    EXPECT_EQ(store->stringArrayForKey("unwantedDirectories"), (QStringList{home + "/Music", "~/Projects"}));

    // Files and missing folders add nothing.
    EXPECT_FALSE(KLUnwanted::addUnwantedDirectory(home + "/plain.txt", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedDirectory(home + "/nowhere", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedDirectory(QString(), store.get()));
}

TEST_F(Unwanted, ExtensionsAreLowerCaseAndFoldersBecomeOneEntry)
{
    const QString home = KelsoTest::home();
    QDir().mkpath(home + "/SomeFolder");
    QDir().mkpath(home + "/Other.d");
    QSignalSpy changed(store.get(), &Defaults::changed);

    // The registered defaults come first, the new entry last.
    EXPECT_TRUE(KLUnwanted::addUnwantedExtensionFromFilePath(home + "/Report.PDF", store.get()));
    EXPECT_EQ(store->stringArrayForKey("unwantedExtensions"), (QStringList{"xcodeproj", "tmp", "pdf"}));
    EXPECT_FALSE(KLUnwanted::addUnwantedExtensionFromFilePath(home + "/other.pdf", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedExtensionFromFilePath(home + "/README", store.get()));
    EXPECT_TRUE(KLUnwanted::addUnwantedExtensionFromFilePath(home + "/SomeFolder", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedExtensionFromFilePath(home + "/Other.d", store.get()));
    EXPECT_EQ(store->stringArrayForKey("unwantedExtensions"),
              (QStringList{"xcodeproj", "tmp", "pdf", "Never show folders"}));
    EXPECT_EQ(changed.count(), 2); // observers hear each addition
    EXPECT_EQ(changed.at(0).at(0).toString(), "unwantedExtensions");
}

TEST_F(Unwanted, ItemsAndFragmentsAreKeptAsGivenOnce)
{
    EXPECT_TRUE(KLUnwanted::addUnwantedItem("/a/b.txt", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedItem("/a/b.txt", store.get()));
    EXPECT_TRUE(KLUnwanted::addUnwantedItem("/a/B.txt", store.get()));
    EXPECT_EQ(store->stringArrayForKey("unwantedItems"), (QStringList{"/a/b.txt", "/a/B.txt"}));

    EXPECT_TRUE(KLUnwanted::addUnwantedPathFragment("node_modules", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedPathFragment("node_modules", store.get()));
    EXPECT_TRUE(KLUnwanted::addUnwantedPathFragment("Node_Modules", store.get()));
    EXPECT_FALSE(KLUnwanted::addUnwantedPathFragment(QString(), store.get()));
    EXPECT_EQ(store->stringArrayForKey("unwantedPathFragments"), (QStringList{"node_modules", "Node_Modules"}));
}

TEST_F(Unwanted, ListsSurviveARestart)
{
    KLUnwanted::addUnwantedItem("/a/keep.txt", store.get());
    ASSERT_TRUE(store->synchronize());
    Defaults reread(store->filePath());
    EXPECT_EQ(reread.stringArrayForKey("unwantedItems"), QStringList{"/a/keep.txt"});
}
