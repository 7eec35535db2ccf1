#pragma once
// The shell's launch counter and the crash-report consent rules. The process-wide flags
// (redraw, shutting down) are in util/KLProcessFlags.h.
class Defaults;

namespace KLAppState {

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
