#pragma once
// The table of entry points that the GIO module (libkelso_apps.so) hands to Apps. The module
// is built from the same sources and Qt as the program, so Qt types cross the boundary as they
// are; the version guards against a stale module left beside a newer program.
#include "platform/Apps.h"

namespace Apps {

inline constexpr int kAppsModuleVersion = 2;

struct AppsModuleApi {
    int version;
    AppInfo (*defaultAppForType)(const QString &mimeType);
    QList<AppInfo> (*recommendedAppsForType)(const QString &mimeType);
    QList<AppInfo> (*allAppsForType)(const QString &mimeType);
    AppInfo (*appInfoForDesktopFile)(const QString &desktopPath);
    bool (*launchWithFiles)(const QString &desktopPath, const QStringList &filePaths, QString *error);
    bool (*launchWithUris)(const QString &desktopPath, const QStringList &uris, QString *error);
    AppInfo (*defaultAppForUriScheme)(const QString &scheme);
    QList<AppInfo> (*allApplications)();
};

} // namespace Apps

// The module's one exported symbol.
using KelsoAppsModuleEntry = const Apps::AppsModuleApi *(*)();
