#pragma once
// "Open With": the applications offered for a document, the user's preferred application per
// file-name extension, and opening a document with a chosen application.
//
// An application is named by the path of its desktop entry (the Linux stand-in for an
// application bundle). The preferred application of an extension is stored in the user
// defaults under "prefApp_" + the extension in its own letter case; a preference whose entry
// has gone is dropped the next time it is read. The menu itself is built by the widget layer
// (fileops/gui/XPOpenWithMenu.h) from the entries answered here.
#include "util/FileNames.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class Defaults;

namespace XPFileUtils {

// The extension after the last "." of the last path component (util/FileNames.h).
using KLFileNames::pathExtension;
// The key of the preferred application for a document ("prefApp_pdf"); empty without extension.
QString preferredAppKeyForFile(const QString &path);

// The application (desktop-entry path) a document opens with: the user's preference for its
// extension when its entry still exists, else the system default for its type; empty for an
// application entry itself or when nothing handles the type.
QString getDefaultApplicationForFile(const QString &path, Defaults *defaults = nullptr);
// Stores the preference when the extension has 1 to 11 characters and the entry exists.
void setPreferredAppForFile(const QString &path, const QString &application, Defaults *defaults = nullptr);

// The applications that can open the document: recommended ones only (editors), or every one
// that handles its type (editors and viewers). Duplicates removed, sorted by the entry's file
// name without extension, case-insensitive in the user's locale.
QStringList editorURLsForURL(const QString &path, bool includeViewers);

// True when an application path may be offered in the list (a desktop entry outside mail
// attachments, Library folders and old system copies).
bool applicationPathIsOffered(const QString &appPath);
// The version shown beside an application's name: the short version when it has at most 20
// characters, else the build version (possibly empty).
QString displayVersion(const QString &shortVersion, const QString &buildVersion);
// Case-insensitive comparison that orders digit runs by value ("App 9" before "App 10").
int compareMenuItems(const QString &a, const QString &b);

struct OpenWithEntry {
    enum Kind { Application, Separator, Other };
    Kind kind = Application;
    bool isDefault = false;
    QString title;
    QString toolTip;
    QVariantMap representedObject; // {"path"} or {"path","app"}
    QStringList iconNames;         // theme icon names of the application
    QString iconFile;              // or an icon file
};

// The entries of the "Open With" menu, top to bottom: the default application and a separator
// (when there is one), the other applications sorted by title and a separator (when there are
// any), then "Other…".
QList<OpenWithEntry> openWithEntriesForDocument(const QString &path, Defaults *defaults = nullptr);

// Opens a document with an application (desktop-entry path), or with its default application
// when `application` is empty. False with a message in *error on failure.
bool openFileWithApplication(const QString &path, const QString &application, QString *error = nullptr);

// "Open" and a double-click: the document opens with getDefaultApplicationForFile() (the
// user's preference for the extension, else GIO's default for its type; the same application
// the "Open With" list marks as the default). False with a sentence in *error saying why not.
bool openWithDefaultApplication(const QString &path, QString *error = nullptr, Defaults *defaults = nullptr);

// The open-with action of a menu entry's record {"path", "app"}: nothing for an empty path;
// with an application, records it as preferred for the extension and opens the document with
// it; without one, opens it with getDefaultApplicationForFile().
bool openSelectedWithApp(const QVariantMap &record, Defaults *defaults = nullptr, QString *error = nullptr);

} // namespace XPFileUtils
