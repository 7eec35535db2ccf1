// The services the shell makes once at start-up: the tag editor is wired, the rest take the
// plain defaults (no preferences window and no drop zone yet).
#include "app/gui/KLAppDelegate.h"
#include "browser/KLServices.h"
#include "support/TestSupport.h"
#include "tags/editor/KLSimpleTagEditor.h"

#include <gtest/gtest.h>

namespace {

TEST(ShellServicesTest, TheShellsServicesOpenTheTagEditorOnTheFilesAndOfferNoPreferences)
{
    KLAppDelegate shell;
    const KLServices &services = shell.services();
    EXPECT_NE(&services, &KLServices::defaults()) << "the shell makes its own";
    EXPECT_FALSE(services.hasPreferencesWindow());
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
