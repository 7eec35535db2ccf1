#pragma once
// The four lists that keep files out of the recent list, as the preferences' tables edit them:
// reading a list, removing rows, editing a path fragment in place, and what a drop of files
// onto a table may add. Every change writes the whole list back to its setting, so that the
// rules and the recent-files pane (both observe the settings) follow at once.
#include <QList>
#include <QString>
#include <QStringList>

class Defaults;

enum class KLExclusionList { Folders, Extensions, Items, PathFragments };

namespace KLExclusionLists {

// The setting a list is kept in ("unwantedDirectories", "unwantedExtensions", …).
QString settingsKey(KLExclusionList list);
QStringList entries(KLExclusionList list, Defaults &defaults);

// Removes the entries at `rows` (out-of-range rows are ignored), keeping the rest in order.
// Answers how many were removed.
int removeRows(KLExclusionList list, QList<int> rows, Defaults &defaults);

// A path fragment edited in its row: an empty (or all-blank) text removes the row, any other
// text replaces it. False when the row does not exist.
bool setPathFragment(int row, const QString &text, Defaults &defaults);

// Adds one path as the list's add operation does (the folder, the extension, the item, or the
// whole path as a fragment); true when an entry was added.
bool addPath(KLExclusionList list, const QString &path, Defaults &defaults);

// Whether a drop of these paths on the list's table is taken: the folder and fragment tables
// want the first path to be an existing folder, the extension table a first path with an
// extension, the item table any path at all.
bool acceptsDrop(KLExclusionList list, const QStringList &paths);
// Adds each dropped path in order; answers how many entries were added (0: the drop failed).
int acceptDrop(KLExclusionList list, const QStringList &paths, Defaults &defaults);

} // namespace KLExclusionLists
