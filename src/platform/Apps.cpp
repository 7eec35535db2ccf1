#include "platform/Apps.h"

#include "platform/AppsModule.h"
#include "util/Logging.h"
#include "util/Paths.h"

#include <QDir>
#include <QLibrary>
#include <QStandardPaths>

namespace Apps {

namespace {

// Loaded once, at the first question, and never unloaded (GLib's types cannot be unloaded).
// Null when the module is missing or stale: every question then answers "no application".
const AppsModuleApi *module()
{
    static const AppsModuleApi *const api = []() -> const AppsModuleApi * {
        QLibrary library(KLPaths::modulePath("KELSO_APPS_MODULE", QStringLiteral("libkelso_apps.so"),
                                             QStringLiteral(KELSO_APPS_MODULE)));
        const auto entry = reinterpret_cast<KelsoAppsModuleEntry>(library.resolve("kelsoAppsModule"));
        const AppsModuleApi *found = entry ? entry() : nullptr;
        if (!found) {
            qCWarning(lcPlatform, "cannot load the applications module (%s); \"Open With\" lists no applications",
                      qUtf8Printable(library.errorString()));
            return nullptr;
        }
        if (found->version != kAppsModuleVersion) {
            qCWarning(lcPlatform,
                      "the applications module %s is version %d, not %d; \"Open With\" lists no applications",
                      qUtf8Printable(library.fileName()), found->version, kAppsModuleVersion);
            return nullptr;
        }
        return found;
    }();
    return api;
}

} // namespace

AppInfo defaultAppForType(const QString &mimeType)
{
    const AppsModuleApi *api = module();
    return api && !mimeType.isEmpty() ? api->defaultAppForType(mimeType) : AppInfo();
}

QList<AppInfo> recommendedAppsForType(const QString &mimeType)
{
    const AppsModuleApi *api = module();
    return api && !mimeType.isEmpty() ? api->recommendedAppsForType(mimeType) : QList<AppInfo>();
}

QList<AppInfo> allAppsForType(const QString &mimeType)
{
    const AppsModuleApi *api = module();
    return api && !mimeType.isEmpty() ? api->allAppsForType(mimeType) : QList<AppInfo>();
}

AppInfo appInfoForDesktopFile(const QString &desktopPath)
{
    const AppsModuleApi *api = module();
    return api && !desktopPath.isEmpty() ? api->appInfoForDesktopFile(desktopPath) : AppInfo();
}

bool launchWithFiles(const QString &desktopPath, const QStringList &filePaths, QString *error)
{
    if (const AppsModuleApi *api = module())
        return api->launchWithFiles(desktopPath, filePaths, error);
    if (error)
        *error = QStringLiteral("the applications module cannot be loaded");
    return false;
}

bool launchWithUris(const QString &desktopPath, const QStringList &uris, QString *error)
{
    if (const AppsModuleApi *api = module())
        return api->launchWithUris(desktopPath, uris, error);
    if (error)
        *error = QStringLiteral("the applications module cannot be loaded");
    return false;
}

AppInfo defaultAppForUriScheme(const QString &scheme)
{
    const AppsModuleApi *api = module();
    return api && !scheme.isEmpty() ? api->defaultAppForUriScheme(scheme) : AppInfo();
}

QList<AppInfo> allApplications()
{
    const AppsModuleApi *api = module();
    return api ? api->allApplications() : QList<AppInfo>();
}

QStringList applicationFolders()
{
    QStringList out;
    for (const QString &dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        out.append(QDir(dir).filePath(QStringLiteral("applications")));
    return out;
}

} // namespace Apps
