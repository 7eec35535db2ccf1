#pragma once
// Every setting with a registered default, and the keys that are read without one.
#include <QStringList>
#include <QVariantMap>

class Defaults;

namespace KLSettings {

// The registered defaults of the program's domain.
QVariantMap registeredDefaults();
// The four colour keys and their registered defaults (kept for "reset colours").
QVariantMap colourDefaults();
const QStringList &colourKeys();
// Registers registeredDefaults() with the store (saved values are never overwritten).
void setupDefaults(Defaults &defaults);
// Puts the four colours back to their registered defaults; leaves every other key alone.
void resetColours(Defaults &defaults);

// The "none" value of lastHandledFSEvent: all 64 bits set.
constexpr quint64 kNoEventHandled = ~quint64(0);

} // namespace KLSettings
