#pragma once
// Local crash records: after the user agreed to crash reporting, a fatal signal writes a small
// record (signal, time, backtrace) to $XDG_STATE_HOME/Kelso/crashes/ before the process dies.
// Nothing is sent anywhere.
#include <QString>

namespace CrashRecorder {
QString crashFolder();
// Installs the fatal-signal handlers (idempotent).
void start();
bool isStarted();
} // namespace CrashRecorder
