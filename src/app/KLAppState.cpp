#include "app/KLAppState.h"

#include "platform/Defaults.h"

namespace KLAppState {

void incrementLaunchCount(Defaults &defaults)
{
    defaults.setInteger(QStringLiteral("launchCount"), getLaunchCount(defaults) + 1);
}

long long getLaunchCount(const Defaults &defaults)
{
    return defaults.integerForKey(QStringLiteral("launchCount"));
}

ConsentStep consentStepAtLaunch(const Defaults &defaults)
{
    if (defaults.boolForKey(QStringLiteral("bugsnagHaveAsked")) ||
        defaults.boolForKey(QStringLiteral("bugsnagCanSendReports")))
        return ConsentStep::StartReporter;
    // askToSendBugsnags: silent while the launch count is 2 or less.
    return getLaunchCount(defaults) <= 2 ? ConsentStep::Nothing : ConsentStep::AskUser;
}

bool recordConsentAnswer(Defaults &defaults, bool allowed)
{
    defaults.setBool(QStringLiteral("bugsnagHaveAsked"), true);
    defaults.setBool(QStringLiteral("bugsnagCanSendReports"), allowed);
    return allowed;
}

bool mayStartCrashReporter(const Defaults &defaults)
{
    return defaults.boolForKey(QStringLiteral("bugsnagCanSendReports"));
}

} // namespace KLAppState
