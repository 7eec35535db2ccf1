// The services the shell makes once at start-up: the tag editor is wired, the rest take the
// plain defaults (no preferences window and no drop zone yet).
#include "app/gui/KLAppDelegate.h"
#include "browser/KLServices.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "tags/LumitagPrefs.h"
#include "tags/editor/KLSimpleTagEditor.h"

#include <QFile>
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
