#include "app/gui/KLWindowMode.h"

#include "platform/Defaults.h"

#include <QString>

namespace KLWindowMode {

bool useTray(bool runInDock, bool trayAvailable)
{
    return !runInDock && trayAvailable;
}

bool shouldWatchForTray(bool runInDock, bool inTrayMode)
{
    return !runInDock && !inTrayMode;
}

bool takeStartHint(Defaults &defaults)
{
    const QString key = QStringLiteral("KLStartHintShown");
    if (defaults.boolForKey(key))
        return false;
    defaults.setBool(key, true);
    return true;
}

} // namespace KLWindowMode
