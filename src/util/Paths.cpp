#include "util/Paths.h"

#include "util/Tilde.h"

#include <QCoreApplication>
#include <QFileInfo>
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
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/com.tallow.kelso");
}

QString modulePath(const char *overrideVariable, const QString &fileName, const QString &builtPath)
{
    const QString fromEnv = qEnvironmentVariable(overrideVariable);
    if (!fromEnv.isEmpty())
        return fromEnv;
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/kelso/") + fileName;
        if (QFileInfo::exists(beside))
            return beside;
    }
    return builtPath;
}

} // namespace KLPaths
