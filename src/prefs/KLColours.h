#pragma once
// Colour settings. A colour is stored as an array of four reals in 0…1: red, green, blue,
// alpha (device RGB). Reading always answers device RGB; a key without a readable colour
// answers none.
#include <QColor>
#include <QVariant>
#include <optional>

class Defaults;

namespace KLColours {
QVariant encode(const QColor &colour);
std::optional<QColor> decode(const QVariant &stored);
std::optional<QColor> kpColorFromUserDefaultsForKey(const QString &key);
std::optional<QColor> kpColorFromUserDefaultsForKey(const Defaults &defaults, const QString &key);
void setColour(Defaults &defaults, const QString &key, const QColor &colour);
} // namespace KLColours
