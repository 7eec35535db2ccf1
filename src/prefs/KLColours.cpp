#include "prefs/KLColours.h"

#include "platform/Defaults.h"

namespace KLColours {

QVariant encode(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return QVariantList{rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

std::optional<QColor> decode(const QVariant &stored)
{
    if (stored.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList parts = stored.toList();
    if (parts.size() != 4)
        return std::nullopt;
    float c[4];
    for (int i = 0; i < 4; ++i) {
        // Only numbers are components: a string such as "0.5" or a bool is not a colour.
        switch (parts[i].typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            break;
        default:
            return std::nullopt;
        }
        bool ok = false;
        const double v = parts[i].toDouble(&ok);
        if (!ok || !(v >= 0.0 && v <= 1.0))
            return std::nullopt;
        c[i] = float(v);
    }
    return QColor::fromRgbF(c[0], c[1], c[2], c[3]);
}

std::optional<QColor> kpColorFromUserDefaultsForKey(const Defaults &defaults, const QString &key)
{
    return decode(defaults.value(key));
}

std::optional<QColor> kpColorFromUserDefaultsForKey(const QString &key)
{
    return kpColorFromUserDefaultsForKey(Defaults::standard(), key);
}

void setColour(Defaults &defaults, const QString &key, const QColor &colour)
{
    defaults.setValue(key, encode(colour));
}

} // namespace KLColours
