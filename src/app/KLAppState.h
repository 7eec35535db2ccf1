#pragma once
// Process-wide state shared by the shell and the subsystems: the redraw flag (set from any
// thread when a thumbnail arrives, polled on the main thread every 0.5 s), the shutting-down
// flag, the launch counter and the crash-report consent rules.
#include <atomic>

class Defaults;

namespace KLAppState {

void setNeedsRedraw();
// Answers the flag and clears it.
bool takeNeedsRedraw();

void setShuttingDown(bool value);
bool isShuttingDown();

void incrementLaunchCount(Defaults &defaults);
long long getLaunchCount(const Defaults &defaults);

// Crash-report consent.
enum class ConsentStep { StartReporter, AskUser, Nothing };
// What launchBugsnagger decides: start the reporter when it was already answered or allowed,
// ask from the third launch on, otherwise nothing.
ConsentStep consentStepAtLaunch(const Defaults &defaults);
// Records the user's answer; answers whether the reporter should start.
bool recordConsentAnswer(Defaults &defaults, bool allowed);
bool mayStartCrashReporter(const Defaults &defaults);

} // namespace KLAppState
