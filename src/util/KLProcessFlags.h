#pragma once
// Process-wide flags read by every layer: the redraw flag (set from any thread when a picture
// arrives, polled on the main thread every 0.5 s) and the shutting-down flag (set once quitting
// has begun, so that late work is skipped).
namespace KLProcessFlags {

void setNeedsRedraw();
// Answers the flag and clears it.
bool takeNeedsRedraw();

void setShuttingDown(bool value);
bool isShuttingDown();

} // namespace KLProcessFlags
