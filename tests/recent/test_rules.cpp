// The inclusion and exclusion rules with their Linux constants: folder test order, Library
// folders, cloud folders, app containers, extensions (case), "Never show folders", fragments
// (exact case), system roots, culled record paths, and the ".hidden" flag.
#include "platform/Defaults.h"
#include "recent/KLItem.h"
#include "recent/KLRules.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

class RulesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString file = home() + "/.config/rules-test-" + QString::number(++s_counter) + ".plist";
        defaults = std::make_unique<Defaults>(file);
        defaults->registerDefaults({{"wantedDirectories", QVariantList()},
                                    {"unwantedDirectories", QVariantList()},
                                    {"unwantedExtensions", QVariantList{"xcodeproj", "tmp"}},
                                    {"unwantedItems", QVariantList()},
                                    {"unwantedPathFragments", QVariantList()}});
        rules = std::make_unique<KLRules>(*defaults);
        rules->loadPrefs();
    }
    void set(const QString &key, const QVariantList &value)
    {
        defaults->setValue(key, value);
        rules->loadPrefs();
    }

    static inline int s_counter = 0;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<KLRules> rules;
};

} // namespace

TEST_F(RulesTest, LibraryFoldersAreRefusedExceptMailDownloadsAndCloudFolders)
{
    const QString lib = home() + "/Library";
    EXPECT_TRUE(rules->userWantsFolderIncluded(lib + "/Mail Downloads"));
    EXPECT_TRUE(rules->userWantsFolderIncluded(lib + "/Mail Downloads/attachments"));
    EXPECT_FALSE(rules->userWantsFolderIncluded(lib + "/Caches"));
    EXPECT_TRUE(rules->userWantsFolderIncluded(lib + "/Mobile Documents/com~apple~CloudDocs"));
    EXPECT_TRUE(rules->userWantsFolderIncluded(lib + "/CloudStorage/Drive"));
    EXPECT_FALSE(rules->userWantsFolderIncluded(lib + "/Containers/com.x/Data/Documents"));
    EXPECT_FALSE(rules->userWantsFolderIncluded(lib + "/Containers/com.x"));
    // Linux: per-snap data under the home folder, and anything hidden (~/.cache, ~/.var/app).
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/snap/firefox/common/Downloads"));
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/.cache/thumbnails"));
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/.var/app/org.gimp.GIMP/data"));
    EXPECT_TRUE(rules->userWantsFolderIncluded(home() + "/Documents"));
    EXPECT_TRUE(rules->userWantsFolderIncluded(home() + "/snapshots")) << "only a /snap/ component is a container";
}

TEST_F(RulesTest, WantedFoldersWinOverEverythingElse)
{
    set("wantedDirectories", {"~/Library/Keep", home() + "/Both"});
    set("unwantedDirectories", {"~/Both", "~/Private", "~/Library/Mail Downloads"});
    EXPECT_EQ(rules->wantedDirectories().first(), home() + "/Library/Keep") << "tilde expanded";
    EXPECT_TRUE(rules->userWantsFolderIncluded(home() + "/Library/Keep/sub"));
    EXPECT_TRUE(rules->userWantsFolderIncluded(home() + "/Both")) << "the wanted test runs first";
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/Private/notes"));
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/Library/Mail Downloads"))
        << "the user's unwanted folders win over the hard-coded include";
}

TEST_F(RulesTest, ExtensionRuleLowersTheFileNotTheEntry)
{
    set("unwantedExtensions", {"TMP", "xcodeproj", "log"});
    EXPECT_EQ(rules->filterOutUnwantedExtensions("/a/b.tmp"), "/a/b.tmp") << "an upper-case entry filters nothing";
    EXPECT_TRUE(rules->filterOutUnwantedExtensions("/a/Foo.XCODEPROJ").isEmpty());
    EXPECT_TRUE(rules->filterOutUnwantedExtensions("/a/server.Log").isEmpty());
    EXPECT_EQ(rules->filterOutUnwantedExtensions("/a/catalog"), "/a/catalog");
    EXPECT_EQ(rules->filterOutUnwantedExtensions("/a.log/readme"), "/a.log/readme")
        << "the folder's dot is no extension";
    EXPECT_TRUE(rules->filterOutUnwantedExtensions(QString()).isEmpty());
    set("unwantedExtensions", {});
    EXPECT_EQ(rules->filterOutUnwantedExtensions("/a/Foo.xcodeproj"), "/a/Foo.xcodeproj");
}

TEST_F(RulesTest, NeverShowFoldersKeepsPackagesAndFiles)
{
    const QString dir = home() + "/rules/folders";
    QDir().mkpath(dir + "/Plain");
    QDir().mkpath(dir + "/Tool.app/Contents");
    writeFile(dir + "/file.txt");
    set("unwantedExtensions", {"Never show folders"});
    EXPECT_TRUE(rules->filterOutUnwantedExtensions(dir + "/Plain").isEmpty());
    EXPECT_EQ(rules->filterOutUnwantedExtensions(dir + "/Tool.app"), dir + "/Tool.app");
    EXPECT_EQ(rules->filterOutUnwantedExtensions(dir + "/file.txt"), dir + "/file.txt");
    EXPECT_EQ(rules->filterOutUnwantedExtensions(dir + "/missing"), dir + "/missing");
}

TEST_F(RulesTest, NeverShowFoldersOnItemsUsesWhatTheWorkerFound)
{
    const QString dir = home() + "/rules/folder-items";
    QDir(dir).removeRecursively();
    QDir().mkpath(dir + "/Plain");
    QDir().mkpath(dir + "/Tool.app/Contents");
    writeFile(dir + "/file.txt");
    QFile::link(dir + "/Plain", dir + "/link-to-folder");
    set("unwantedExtensions", {"Never show folders"});
    const KLItemPtr plain = KLItem::create(dir + "/Plain");
    const KLItemPtr tool = KLItem::create(dir + "/Tool.app");
    const KLItemPtr file = KLItem::create(dir + "/file.txt");
    const KLItemPtr link = KLItem::create(dir + "/link-to-folder");
    KLItem::waitForBackgroundUpdates();
    EXPECT_FALSE(rules->userWantsItemIncluded(plain));
    EXPECT_FALSE(rules->userWantsItemIncluded(link)) << "a link to a folder is a folder, as before";
    EXPECT_TRUE(rules->userWantsItemIncluded(tool)) << "packages are documents";
    EXPECT_TRUE(rules->userWantsItemIncluded(file));

    // The folder becomes a file: the next background update tells the rule.
    QDir(dir + "/Plain").removeRecursively();
    writeFile(dir + "/Plain");
    plain->calculateCache();
    EXPECT_TRUE(rules->userWantsItemIncluded(plain));
    set("unwantedExtensions", {});
    EXPECT_TRUE(rules->userWantsItemIncluded(link));
}

TEST_F(RulesTest, FragmentsMatchExactlyAndFolderTestsAppendASlash)
{
    set("unwantedPathFragments", {"cache", "/build/"});
    EXPECT_EQ(rules->filterOutUnwantedPathFragments("/p/Cache/x"), "/p/Cache/x");
    EXPECT_TRUE(rules->filterOutUnwantedPathFragments("/p/cache/x").isEmpty());
    EXPECT_TRUE(rules->filterOutUnwantedPathFragments(QString()).isEmpty());
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/src/build")) << "tested as \".../build/\"";
    EXPECT_TRUE(rules->userWantsFolderIncluded(home() + "/src/builder"));
}

TEST_F(RulesTest, SingleItemsAndPhotoLibraries)
{
    set("unwantedItems", {"~/secret.txt"});
    EXPECT_TRUE(rules->userExcludesSingleFile(home() + "/secret.txt"));
    EXPECT_FALSE(rules->userExcludesSingleFile(home() + "/secret.txt.bak"));
    EXPECT_TRUE(rules->userExcludesSingleFile(home() + "/Pictures/Photos Library.photoslibrary"));
    EXPECT_TRUE(KLRules::filterOutUnwantedPackages(home() + "/Pictures/Photos Library.photoslibrary").isEmpty());
    EXPECT_TRUE(KLRules::filterOutUnwantedPackages(home() + "/Old.aplibrary").isEmpty());
    EXPECT_FALSE(rules->userWantsFolderIncluded(home() + "/secret.txt"));
}

TEST_F(RulesTest, SettingsThatAreNotArraysIncludeAndExcludeNothing)
{
    defaults->setValue("unwantedDirectories", "~/not-a-list");
    defaults->setValue("unwantedExtensions", QVariantList{42, "pdf"});
    rules->loadPrefs();
    EXPECT_TRUE(rules->unwantedDirectories().isEmpty());
    EXPECT_EQ(rules->unwantedExtensions(), QStringList{"pdf"});
    EXPECT_TRUE(rules->userWantsFolderIncluded(home() + "/not-a-list"));
}

TEST(RulesFixedTest, SystemRootsAreWholeComponents)
{
    EXPECT_TRUE(KLRules::isUnderSystemRoot("/tmp"));
    EXPECT_TRUE(KLRules::isUnderSystemRoot("/tmp/x/y"));
    EXPECT_FALSE(KLRules::isUnderSystemRoot("/tmpfiles"));
    EXPECT_TRUE(KLRules::isUnderSystemRoot("/usr/share/doc"));
    EXPECT_TRUE(KLRules::isUnderSystemRoot("/var/tmp"));
    EXPECT_TRUE(KLRules::isUnderSystemRoot("/lost+found"));
    for (const char *p : {"/home/u/x", "/root/x", "/media/u/stick/x", "/mnt/nas/x", "/run/media/u/stick/x", "/"})
        EXPECT_FALSE(KLRules::isUnderSystemRoot(p)) << p;
    EXPECT_TRUE(KLRules::isInvisible("/etc/hosts"));
    EXPECT_TRUE(KLRules::isInvisible(QString()));
}

TEST(RulesFixedTest, CulledRecordPaths)
{
    for (const char *p : {"/proc/1/fd", "/sys/class", "/dev/shm/x", "/run/user/0", "/home/u/.cache/x",
                          "/home/u/Downloads/file.inProgress"})
        EXPECT_TRUE(KLRules::cullPrivateAndInvisibleEtc(p)) << p;
    for (const char *p : {"/home/u/dev/project", "/home/u/run/logs", "/run/media/u/stick/photos", "/home/u/Documents"})
        EXPECT_FALSE(KLRules::cullPrivateAndInvisibleEtc(p)) << p;
}

TEST(RulesFixedTest, HiddenFileListDecidesOutsideTheLibraryFolder)
{
    const QString dir = KelsoTest::home() + "/rules/hidden";
    QDir(dir).removeRecursively();
    writeFile(dir + "/secret.txt");
    writeFile(dir + "/plain.txt");
    writeFile(dir + "/.hidden", "secret.txt\nnot-here.txt\n");
    EXPECT_TRUE(KLRules::isInvisible(dir + "/secret.txt"));
    EXPECT_FALSE(KLRules::isInvisible(dir + "/plain.txt"));
    EXPECT_TRUE(KLRules::isInvisible(dir + "/.hidden"));
    // The list is re-read when it changes.
    writeFile(dir + "/.hidden", "plain.txt\n");
    EXPECT_FALSE(KLRules::isInvisible(dir + "/secret.txt"));
    EXPECT_TRUE(KLRules::isInvisible(dir + "/plain.txt"));
    QFile::remove(dir + "/.hidden");
    EXPECT_FALSE(KLRules::isInvisible(dir + "/plain.txt"));

    // Inside the user's own Library folder the hidden flag is never asked.
    const QString lib = KelsoTest::home() + "/Library/Stuff";
    writeFile(lib + "/x.txt");
    writeFile(lib + "/.hidden", "x.txt\n");
    EXPECT_FALSE(KLRules::isInvisible(lib + "/x.txt"));
}

TEST_F(RulesTest, ItemTestNeedsAVisibleExistingWantedFile)
{
    const QString dir = home() + "/rules/items";
    QDir(dir).removeRecursively();
    writeFile(dir + "/keep.txt");
    writeFile(dir + "/hidden.txt");
    writeFile(dir + "/.hidden", "hidden.txt\n");
    writeFile(dir + "/gone.txt");
    writeFile(dir + "/scratch.tmp");
    KLItemPtr keep = KLItem::create(dir + "/keep.txt");
    KLItemPtr hidden = KLItem::create(dir + "/hidden.txt");
    KLItemPtr gone = KLItem::create(dir + "/gone.txt");
    EXPECT_TRUE(rules->userWantsItemIncluded(gone)) << "existence not yet known counts as existing";
    QFile::remove(dir + "/gone.txt");
    gone->calculateCache();
    // Made on the main thread, the hidden flag is settled by the item worker.
    KLItem::waitForBackgroundUpdates();
    EXPECT_TRUE(rules->userWantsItemIncluded(keep));
    EXPECT_FALSE(rules->userWantsItemIncluded(hidden));
    EXPECT_FALSE(rules->userWantsItemIncluded(gone));
    EXPECT_FALSE(rules->userWantsItemIncluded(KLItem::create(dir + "/scratch.tmp")));
    EXPECT_FALSE(rules->userWantsItemIncluded(nullptr));
    EXPECT_FALSE(KLRules::isSystemFile(keep));
    EXPECT_TRUE(KLRules::isSystemFile(nullptr));
}
