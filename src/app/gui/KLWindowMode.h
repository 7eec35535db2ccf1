#pragma once
// The decisions behind Kelso's two ways of being on the desktop: a tray icon with a pop-up band
// (tray mode), or a normal window with a taskbar entry (dock mode, chosen with KPRunInDock or
// taken when the desktop has no tray).
class Defaults;

namespace KLWindowMode {
// How often a Kelso that fell back to dock mode looks whether a tray has appeared.
inline constexpr int kTrayWatchMs = 3000;

// Tray mode only when the user did not choose dock mode and a tray is there to hold the icon.
bool useTray(bool runInDock, bool trayAvailable);
// Looking for a tray is worth it only when Kelso fell back to dock mode on its own.
bool shouldWatchForTray(bool runInDock, bool inTrayMode);
// True the first time it is asked on this settings file, false ever after: the first start's
// hint ("Kelso is running. Open it from …") shows once.
bool takeStartHint(Defaults &defaults);
} // namespace KLWindowMode
