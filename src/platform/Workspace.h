#pragma once
// The desktop's file manager and default applications, through the session bus
// (org.freedesktop.FileManager1) and Qt's desktop services.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

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

// The home trash: $XDG_DATA_HOME/Trash (files/ holds the trashed files, info/ their records).
QString homeTrashFolder();

// One .trashinfo record of the freedesktop trash.
struct TrashInfo {
    // The original location, percent-decoded to the bytes the file system uses: absolute, or
    // relative to the folder that holds the trash folder.
    QByteArray path;
    // When it was trashed (local time, to the second).
    QDateTime deletionDate;
};
// Parses a record: the first line "[Trash Info]", and in that group "Path=" (percent-encoded;
// a stray "%", a bad escape or an encoded NUL make the record malformed) and "DeletionDate="
// (yyyy-MM-ddThh:mm:ss). None for anything else.
std::optional<TrashInfo> parseTrashInfo(const QByteArray &content);

// What a drop target did with a path that was dragged out and moved.
enum class MovedPathFate {
    StillThere,    // still at its place (or cannot be looked at)
    InTrash,       // gone, and a trash records it as trashed from exactly this path
    GoneElsewhere, // gone, with no such record
};
// Looks at each path (spelled as the file system spells it: raw bytes, which need not be
// UTF-8). A path counts as trashed only when info/NAME.trashinfo of a trash holds it as Path,
// NAME is present in files/, and the record's DeletionDate is not before `notBefore` (taken to
// the second, less 2 s of slack; an invalid `notBefore` accepts any date), so an old record of
// an earlier file at the same path is not mistaken for this one. The trashes looked into: the
// home trash, and for a path on another volume that volume's trashes ($top/.Trash/$uid when
// $top/.Trash is a sticky folder, and $top/.Trash-$uid), whose records are relative to $top.
// Reads the disk: call it off the main thread.
QList<MovedPathFate> fatesOfMovedPaths(const QList<QByteArray> &nativePaths, const QDateTime &notBefore);
// One trash folder (holding files/ and info/) and the folder its relative records start from.
struct TrashLocation {
    QByteArray folder;
    QByteArray topDir;
    bool operator==(const TrashLocation &) const = default;
};
// The same with the trashes to look into for each gone path given by the caller.
QList<MovedPathFate> fatesOfMovedPathsIn(const QList<QByteArray> &nativePaths, const QDateTime &notBefore,
                                         const std::function<QList<TrashLocation>(const QByteArray &path)> &trashesOf);
QList<MovedPathFate> fatesOfMovedPaths(const QStringList &paths, const QDateTime &notBefore);

} // namespace Workspace
