// The `kelso open-with`, `rename` and `never-show` tools.
#include "fileops/XPFileOpsCommands.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

TEST(FileOpsCommands, NeverShowAddsToTheListsAndKeepsTheRegisteredEntries)
{
    const QString home = KelsoTest::home();
    KelsoTest::writeFile(home + "/Docs/report.pdf");
    KelsoTest::writeFile(home + "/Docs/README");
    EXPECT_EQ(runNeverShowCommand({"extension", home + "/Docs/report.pdf"}), 0);
    EXPECT_EQ(runNeverShowCommand({"folder", home + "/Docs"}), 0);
    EXPECT_EQ(runNeverShowCommand({"item", home + "/Docs/README"}), 0);
    EXPECT_EQ(runNeverShowCommand({"fragment", "node_modules"}), 0);
    // Saved to the settings file, readable by a fresh store (as the running program would).
    Defaults reread(Defaults::standard().filePath());
    EXPECT_EQ(reread.stringArrayForKey("unwantedExtensions"), (QStringList{"xcodeproj", "tmp", "pdf"}));
    EXPECT_EQ(reread.stringArrayForKey("unwantedDirectories"), QStringList{"~/Docs"});
    EXPECT_EQ(reread.stringArrayForKey("unwantedItems"), QStringList{home + "/Docs/README"});
    EXPECT_EQ(reread.stringArrayForKey("unwantedPathFragments"), QStringList{"node_modules"});

    EXPECT_EQ(runNeverShowCommand({"extension", home + "/Docs/README"}), 1); // no extension
    EXPECT_EQ(runNeverShowCommand({"folder", home + "/Docs/README"}), 1);    // not a folder
    EXPECT_EQ(runNeverShowCommand({"colour", "x"}), 2);
    EXPECT_EQ(runNeverShowCommand({"item"}), 2);
}

TEST(FileOpsCommands, RenameFollowsTheSheetRules)
{
    const QString dir = KelsoTest::home() + "/cmd-rename";
    KelsoTest::writeFile(dir + "/Report.pdf");
    KelsoTest::writeFile(dir + "/Taken.pdf");
    EXPECT_EQ(runRenameCommand({dir + "/Report.pdf", "a/b"}), 1);
    EXPECT_EQ(runRenameCommand({dir + "/Report.pdf", "Taken"}), 1);
    EXPECT_EQ(runRenameCommand({dir + "/Report.pdf", "X"}), 1);
    EXPECT_TRUE(QFileInfo::exists(dir + "/Report.pdf"));
    EXPECT_EQ(runRenameCommand({dir + "/Report.pdf", "Summary"}), 0);
    EXPECT_TRUE(QFileInfo::exists(dir + "/Summary.pdf"));
    EXPECT_EQ(runRenameCommand({dir + "/missing.pdf", "Other"}), 1);
    EXPECT_EQ(runRenameCommand({dir + "/Summary.pdf"}), 2);
}

TEST(FileOpsCommands, OpenWithChecksItsArguments)
{
    EXPECT_EQ(runOpenWithCommand({}), 2);
    EXPECT_EQ(runOpenWithCommand({KelsoTest::home() + "/nothing.txt"}), 1);
    KelsoTest::writeFile(KelsoTest::home() + "/some.txt");
    EXPECT_EQ(runOpenWithCommand({KelsoTest::home() + "/some.txt", KelsoTest::home() + "/no.desktop"}), 1);
    EXPECT_EQ(runOpenWithCommand({KelsoTest::home() + "/some.txt"}), 0);
}
