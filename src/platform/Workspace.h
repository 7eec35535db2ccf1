#pragma once
// The desktop's file manager and default applications, through the session bus
// (org.freedesktop.FileManager1) and Qt's desktop services.
#include <QString>
#include <QStringList>

namespace Workspace {

// Asks the file manager to show the information window of a file. False (and one log line per
// process) when no file manager answers on the session bus.
bool showItemProperties(const QString &path);
// Asks the file manager to show and select the files; falls back to opening the folder.
bool showItems(const QStringList &paths);
// Opens a file with its default application.
bool openFile(const QString &path);
// Moves a file or folder to the trash as the freedesktop trash convention says: the home trash
// ($XDG_DATA_HOME/Trash) for files on the home file system, else the volume's own trash.
// *trashedPath gets where it went. False with *error set when nothing was moved.
bool moveToTrash(const QString &path, QString *trashedPath = nullptr, QString *error = nullptr);

} // namespace Workspace
