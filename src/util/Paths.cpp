#include "util/Paths.h"

#include "util/Tilde.h"

#include <QStandardPaths>

namespace KLPaths {

QString stateHome()
{
    const QString env = qEnvironmentVariable("XDG_STATE_HOME");
    if (env.startsWith(QLatin1Char('/')))
        return env;
    return PimsAdditions::realHomeDirectory() + QStringLiteral("/.local/state");
}

QString stateFolder()
{
    return stateHome() + QStringLiteral("/Kelso");
}

QString applicationSupportFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Kelso");
}

QString cacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/com.tallow.kelso");
}

} // namespace KLPaths
