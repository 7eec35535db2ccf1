#include "prefs/KLSettings.h"

#include "platform/Defaults.h"
#include "prefs/KLColours.h"

#include <QColor>

namespace KLSettings {

const QStringList &colourKeys()
{
    static const QStringList keys = {QStringLiteral("KLKelsoBackgroundColour"), QStringLiteral("KLKelsoTextColour"),
                                     QStringLiteral("KLCoolerBackgroundColour"), QStringLiteral("KLCoolerTextColour")};
    return keys;
}

QVariantMap colourDefaults()
{
    return {
        {QStringLiteral("KLKelsoBackgroundColour"), KLColours::encode(QColor::fromRgbF(0.16f, 0.18f, 0.16f, 0.9f))},
        {QStringLiteral("KLKelsoTextColour"), KLColours::encode(QColor::fromRgbF(1, 1, 1, 1))},
        {QStringLiteral("KLCoolerBackgroundColour"), KLColours::encode(QColor::fromRgbF(0.38f, 0.38f, 0.38f, 0.9f))},
        {QStringLiteral("KLCoolerTextColour"), KLColours::encode(QColor::fromRgbF(1, 1, 1, 1))},
    };
}

QVariantMap registeredDefaults()
{
    QVariantMap d = colourDefaults();
    d.insert(QStringLiteral("KLVirginLaunch"), true);
    d.insert(QStringLiteral("KLKelsoShowOnActiveScreen"), false);
    d.insert(QStringLiteral("KLAlwaysCopyOnDrag"), true);
    d.insert(QStringLiteral("KLFadeIn"), false);
    d.insert(QStringLiteral("KPUseCommas"), true);
    d.insert(QStringLiteral("wantedDirectories"), QVariantList());
    d.insert(QStringLiteral("unwantedDirectories"), QVariantList());
    d.insert(QStringLiteral("unwantedExtensions"), QVariantList{QStringLiteral("xcodeproj"), QStringLiteral("tmp")});
    d.insert(QStringLiteral("unwantedItems"), QVariantList());
    d.insert(QStringLiteral("unwantedPathFragments"), QVariantList());
    d.insert(QStringLiteral("XPSkipTagAutoComplete"), false);
    d.insert(QStringLiteral("KLIncludeFileOpenedEvents"), true);
    d.insert(QStringLiteral("lastHandledFSEvent"), QVariant::fromValue<quint64>(kNoEventHandled));
    d.insert(QStringLiteral("XPUseGlobalHotKey"), true);
    // X11 key code of the "/" key on a standard layout; the character is "/" (47).
    d.insert(QStringLiteral("XPHotKeyKeyCode"), qint64(61));
    d.insert(QStringLiteral("XPHotKeyCharacter"), qint64(47));
    // The Command modifier flag (0x100000); on Linux, Command is the Super key.
    d.insert(QStringLiteral("XPModifierFlags"), qint64(1048576));
    d.insert(QStringLiteral("KPShowDropZone2"), true);
    d.insert(QStringLiteral("KPDropZoneLeftEdge"), false);
    d.insert(QStringLiteral("KPDropZoneOverlapWithScreen"), false);
    d.insert(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), false);
    d.insert(QStringLiteral("SUFeedURL"), QStringLiteral("https://kelso.tallow.app/releases/appcast.xml"));
    // Linux-only choices: which file-system event backend and which tag store to use.
    d.insert(QStringLiteral("KLEventBackend"), QStringLiteral("auto"));
    d.insert(QStringLiteral("KLTagStore"), QStringLiteral("system"));
    return d;
}

void setupDefaults(Defaults &defaults)
{
    defaults.registerDefaults(registeredDefaults());
}

void resetColours(Defaults &defaults)
{
    const QVariantMap colours = colourDefaults();
    defaults.registerDefaults(colours);
    for (const QString &key : colourKeys())
        defaults.removeObjectForKey(key);
}

} // namespace KLSettings
