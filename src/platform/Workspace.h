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

// What became of a request that may finish later: an empty text when it was done, else why it
// could not be done (one sentence, for a message to the user). Called exactly once, on the
// thread that asked (the main thread), possibly before the call returns.
using Done = std::function<void(const QString &why)>;

// Asks the file manager (org.freedesktop.FileManager1 on the session bus) to show the
// information window of the files. Without one, or when it answers with an error, opens the
// enclosing folder of each file with the default application for folders instead.
void showItemProperties(const QStringList &paths, const Done &done = {});
// Asks the file manager to show and select the files; the same fallback.
void showItems(const QStringList &paths, const Done &done = {});
// Opens the enclosing folders of the paths (each once) with the default application for
// folders. False with *error set when one could not be opened.
bool openEnclosingFolders(const QStringList &paths, QString *error = nullptr);
// Opens a file or folder with the default application GIO names for its MIME type (the
// source "Open With" uses). False with *error set (a sentence naming the type) when no
// application handles it or the launch fails.
bool openFile(const QString &path, QString *error = nullptr);
// Opens an address with the default application for its scheme (a web browser for https).
bool openUrl(const QString &url, QString *error = nullptr);

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
