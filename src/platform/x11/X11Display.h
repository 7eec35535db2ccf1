#pragma once
// Checks, before any Qt GUI object exists, whether the display named by $DISPLAY can be
// opened, so Kelso can say so in one line instead of aborting inside the platform plugin.
#include <QString>

namespace X11Display {
// True when the session looks graphical and the X display (if X11 is used) answers.
// *why gets "cannot open display :N" (or "no display: neither DISPLAY nor WAYLAND_DISPLAY is set").
bool displayAvailable(QString *why);
} // namespace X11Display
