// The services the shell makes once at start-up: the tag editor and the preferences window are
// wired, the rest take the plain defaults (no drop zone yet).
#include "app/gui/KLAppDelegate.h"
#include "app/gui/prefs/KLPreferencesController.h"
#include "browser/KLServices.h"
#include "support/TestSupport.h"
#include "tags/editor/KLSimpleTagEditor.h"

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
    ASSERT_EQ(KLSimpleTagEditor::current(), nullptr);
    services.openTagEditor(files);
    KLSimpleTagEditor *editor = KLSimpleTagEditor::current();
    ASSERT_NE(editor, nullptr) << "no tag editor opened";
    EXPECT_EQ(editor->paths(), files);
    EXPECT_TRUE(editor->isVisible());
    editor->close();
}

} // namespace
