#pragma once
// The file-system side of the cascading file picker menus (search location, "Move To", the main
// window's file picker): the starting places, a folder's listing, and moving files into a
// chosen folder. The menus themselves are in search/gui/KLFilePickerMenu.h.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace KLFilePicker {

struct Entry {
    QString path;          // empty for "Everywhere"
    QString title;         // the name shown
    bool isFolder = false; // a directory that is not a package: gets a submenu
    bool isEverywhere() const { return path.isEmpty(); }
};

// One entry for a path; nullopt-like (empty title) when its name cannot be shown or, with
// foldersOnly, when it is not a folder.
Entry entryForPath(const QString &path, bool foldersOnly, bool *ok);

// The top level: "Everywhere" (when asked), the root folder Kelso may read, "~", "~/Documents",
// "~/Desktop", "~/Downloads" and the mounted local volumes, each only when it exists and lies
// inside the root folder, each once, and none that is a system root (/proc, /usr, …).
QList<Entry> homeItems(bool showEverywhereItem, bool foldersOnly);

// The direct contents of a folder sorted by path (case-insensitive, in the user's locale),
// without hidden items (dot names and names listed in the folder's ".hidden" file) and without
// names that are not valid UTF-8; folders under "/System" or "/Library" list nothing, and "/"
// does not list the system roots (/proc, /sys, /usr, /tmp, … as KLRules has them).
QList<Entry> dirContents(const QString &folder, bool foldersOnly);

// Mount points of local volumes the user may browse: "/" and the removable and internal disks
// under /media, /run/media and /mnt, leaving out network file systems, "/home" and "/net".
QStringList mountedLocalVolumePaths();

// Moves each file into `folder` under its own name, one by one, never replacing anything that is
// there; calls `failed(path)` for each file that could not be moved and carries on. Answers the
// number of files moved.
int moveFilesToFolder(const QStringList &files, const QString &folder,
                      const std::function<void(const QString &path)> &failed);

} // namespace KLFilePicker
