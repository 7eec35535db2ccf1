// Tray or dock mode, watching for a tray, and the first start's hint.
#include "app/gui/KLWindowMode.h"
#include "platform/Defaults.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowModeTest, TrayOnlyWhenWantedAndThere)
{
    EXPECT_TRUE(KLWindowMode::useTray(false, true));
    EXPECT_FALSE(KLWindowMode::useTray(false, false)) << "no tray: a window";
    EXPECT_FALSE(KLWindowMode::useTray(true, true)) << "the user chose dock mode";
    EXPECT_FALSE(KLWindowMode::useTray(true, false));
}

TEST(WindowModeTest, OnlyAFallbackLooksForALaterTray)
{
    EXPECT_TRUE(KLWindowMode::shouldWatchForTray(false, false));
    EXPECT_FALSE(KLWindowMode::shouldWatchForTray(true, false)) << "a chosen dock mode stays";
    EXPECT_FALSE(KLWindowMode::shouldWatchForTray(false, true));
}

TEST(WindowModeTest, TheStartHintShowsOnceAndTheAnswerIsKept)
{
    Defaults &d = Defaults::standard();
    d.removeObjectForKey(QStringLiteral("KLStartHintShown"));
    EXPECT_TRUE(KLWindowMode::takeStartHint(d));
    EXPECT_FALSE(KLWindowMode::takeStartHint(d));
    // Across a restart: the settings file holds it.
    d.synchronize();
    Defaults reread(Defaults::pathForDomain(QStringLiteral("com.tallow.kelso")));
    EXPECT_FALSE(KLWindowMode::takeStartHint(reread));
}

} // namespace
