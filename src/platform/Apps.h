#pragma once
// Applications that open files, read from the desktop entries and mimeapps.list through GIO.
//
// A desktop entry's file path stands in for an application: it is what Kelso stores as the
// user's preferred application and what it hands back to launch. Every answer is a plain value
// (no GIO types leak out), and a desktop entry that cannot be read answers an empty AppInfo.
//
// GIO caches the desktop entries of a process and refreshes its cache when its file monitors
// report a change, which happens on the main loop; callers on the main thread see additions and
// removals after the event loop has run. A user's entries are found by MIME type only once
// `update-desktop-database` has indexed their folder.
#include <QString>
#include <QStringList>

namespace Apps {

struct AppInfo {
    QString desktopPath;   // the .desktop file, absolute
    QString id;            // the desktop id, e.g. "org.gnome.TextEditor.desktop"
    QString name;          // the application's display name
    QString version;       // "X-AppImage-Version" when the entry has one, else empty
    QString buildVersion;  // "X-AppImage-BuildId"/"X-Build-Version" when present, else empty
    QStringList iconNames; // theme icon names, most specific first
    QString iconFile;      // an icon given as a file path
    bool isValid() const { return !desktopPath.isEmpty(); }
};

// The default application for a MIME type; an empty AppInfo when there is none.
AppInfo defaultAppForType(const QString &mimeType);
// The applications recommended for the type (those that name it exactly, plus the user's
// associations), in GIO's order.
QList<AppInfo> recommendedAppsForType(const QString &mimeType);
// Every application that declares it can handle the type, including by a parent type.
QList<AppInfo> allAppsForType(const QString &mimeType);

// Reads one desktop entry file.
AppInfo appInfoForDesktopFile(const QString &desktopPath);

// The application that opens addresses of a scheme ("https"); an empty AppInfo when none.
AppInfo defaultAppForUriScheme(const QString &scheme);
// Every application the desktop shows in its menus (NoDisplay and OnlyShowIn rules applied),
// in GIO's order.
QList<AppInfo> allApplications();

// Launches the application of `desktopPath` with the files. False with a message in *error
// when the entry cannot be read or the launch fails.
bool launchWithFiles(const QString &desktopPath, const QStringList &filePaths, QString *error = nullptr);

// The same with addresses (encoded URIs) instead of file paths.
bool launchWithUris(const QString &desktopPath, const QStringList &uris, QString *error = nullptr);

// The folders whose "applications" subfolders hold desktop entries, user's first.
QStringList applicationFolders();

} // namespace Apps
