// The launch counter and the crash-report consent steps.
#include "app/KLAppState.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using KLAppState::ConsentStep;

namespace {
int g_counter = 0;
QString freshPath()
{
    const QString folder = KelsoTest::home() + QStringLiteral("/state-%1").arg(++g_counter);
    QDir().mkpath(folder);
    return folder + "/com.tallow.kelso.plist";
}

// One launch of the program as far as consent goes: count the launch, then decide.
ConsentStep launch(const QString &path)
{
    Defaults d(path);
    KLAppState::incrementLaunchCount(d);
    const ConsentStep step = KLAppState::consentStepAtLaunch(d);
    EXPECT_TRUE(d.synchronize());
    return step;
}

void answer(const QString &path, bool allowed)
{
    Defaults d(path);
    EXPECT_EQ(KLAppState::recordConsentAnswer(d, allowed), allowed);
    EXPECT_TRUE(d.synchronize());
}

bool reporterStarts(const QString &path)
{
    Defaults d(path);
    return KLAppState::consentStepAtLaunch(d) == ConsentStep::StartReporter && KLAppState::mayStartCrashReporter(d);
}
} // namespace

TEST(AppStateTest, LaunchCountSurvivesRestarts)
{
    const QString path = freshPath();
    for (int i = 1; i <= 4; ++i) {
        Defaults d(path);
        EXPECT_EQ(KLAppState::getLaunchCount(d), i - 1);
        KLAppState::incrementLaunchCount(d);
        EXPECT_EQ(KLAppState::getLaunchCount(d), i);
        ASSERT_TRUE(d.synchronize());
    }
}

TEST(AppStateTest, TheQuestionComesOnTheThirdLaunchAndAYesStartsTheReporterFromThenOn)
{
    const QString path = freshPath();
    EXPECT_EQ(launch(path), ConsentStep::Nothing);
    EXPECT_EQ(launch(path), ConsentStep::Nothing);
    EXPECT_EQ(launch(path), ConsentStep::AskUser);
    answer(path, true);
    EXPECT_TRUE(reporterStarts(path));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(launch(path), ConsentStep::StartReporter);
        EXPECT_TRUE(reporterStarts(path));
    }
}

TEST(AppStateTest, ANoIsNeverAskedAgainAndNeverStartsTheReporter)
{
    const QString path = freshPath();
    launch(path);
    launch(path);
    ASSERT_EQ(launch(path), ConsentStep::AskUser);
    answer(path, false);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(launch(path), ConsentStep::AskUser);
        EXPECT_FALSE(reporterStarts(path));
    }
}

TEST(AppStateTest, AnUnansweredQuestionIsAskedAgainNextLaunch)
{
    const QString path = freshPath();
    launch(path);
    launch(path);
    EXPECT_EQ(launch(path), ConsentStep::AskUser);
    EXPECT_EQ(launch(path), ConsentStep::AskUser) << "quitting without an answer asks again";
}
