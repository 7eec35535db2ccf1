// The services the shell makes once at start-up: the tag editor and the preferences window are
// wired, the rest take the plain defaults (no drop zone yet).
#include "app/gui/KLAppDelegate.h"
#include "app/gui/prefs/KLPreferencesController.h"
#include "browser/KLServices.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "tags/LumitagPrefs.h"
#include "tags/editor/XPTagEditorController.h"
#include "tags/editor/XPTagSearchController.h"

#include <QFile>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

TEST(ShellServicesTest, TheShellsServicesOpenTheTagEditorOnTheFilesAndThePreferences)
{
    KLAppDelegate shell;
    const KLServices &services = shell.services();
    EXPECT_NE(&services, &KLServices::defaults()) << "the shell makes its own";
    ASSERT_TRUE(services.hasPreferencesWindow());
    // "Edit Unwanted Folders…" opens the window on the folders pane; "Preferences…" keeps the pane.
    services.openPreferences(KLPreferencesPage::HiddenFolders);
    ASSERT_TRUE(KLPreferencesController::hasInstance());
    KLPreferencesController *prefs = KLPreferencesController::singleInstance();
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_EQ(prefs->currentPane(), KLPreferencesController::UnwantedDirectories);
    prefs->close();
    services.openPreferences(KLPreferencesPage::General);
    EXPECT_EQ(KLPreferencesController::singleInstance(), prefs) << "one window per process";
    EXPECT_TRUE(prefs->isVisible());
    prefs->close();
    EXPECT_FALSE(services.dragEndedOnDropZone());

    const QStringList files = KelsoTest::makeFiles(QStringLiteral("shell-services"), 2);
    services.openTagEditor(files);
    XPTagEditorController *editor = shell.tagEditor();
    EXPECT_EQ(editor->referenceObject(), files);
    EXPECT_TRUE(editor->isVisible());

    // The program's single editor: a second request reuses the open window.
    services.openTagEditor({files.first()});
    EXPECT_EQ(shell.tagEditor(), editor);
    EXPECT_EQ(editor->referenceObject(), QStringList{files.first()});
    editor->close();
    EXPECT_FALSE(editor->isVisible());
}

TEST(ShellServicesTest, TheTagSearchHandsItsQueryToTheServicesRunner)
{
    KLAppDelegate shell;
    QStringList queries;
    // The shell's services are its own; the search developer's runner is set on them.
    const_cast<KLServices &>(shell.services()).tagQueryRunner = [&](const QString &q) { queries.append(q); };
    XPTagSearchController *search = shell.tagSearch();
    search->searchField()->setText(QStringLiteral("work \"two words\""));
    search->searchButtonAction();
    EXPECT_EQ(queries, QStringList{QStringLiteral(" tag: work tag: \"two words\"")});
    EXPECT_EQ(shell.tagSearch(), search) << "one window for the program";
}

} // namespace

namespace {

TEST(ShellTaggingPrefsTest, StartUpChoosesTheRecentTagsDomainLikeTheCommandLine)
{
    const QString shared = Defaults::pathForDomain(LumitagPrefs::kSharedDomain);
    QFile::remove(shared);
    LumitagPrefs::setPrefsFile(LumitagPrefs::kSharedDomain);
    EXPECT_EQ(KLAppDelegate::setupTaggingPrefs(), LumitagPrefs::kOwnDomain);
    EXPECT_EQ(LumitagPrefs::prefsDomain(), LumitagPrefs::kOwnDomain);

    KelsoTest::writeFile(shared, QByteArray("bplist00"));
    EXPECT_EQ(KLAppDelegate::setupTaggingPrefs(), LumitagPrefs::kSharedDomain);
    EXPECT_EQ(LumitagPrefs::prefsDomain(), LumitagPrefs::kSharedDomain);
    QFile::remove(shared);
}

} // namespace
