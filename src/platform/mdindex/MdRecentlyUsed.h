#pragma once
// The desktop's record of opened files ($XDG_DATA_HOME/recently-used.xbel, written by GTK and
// KDE programs): the last-used dates the index keeps beside Kelso's own opens.
#include <QList>
#include <QString>

namespace MdIndex {

struct RecentlyUsed {
    QString path;
    qint64 usedMs = 0; // the later of "visited" and "modified"
};

// $XDG_DATA_HOME/recently-used.xbel
QString recentlyUsedPath();
// Local files of the record, as absolute paths; links to other hosts, relative paths and names
// that are not UTF-8 are left out. An unreadable or malformed file gives what was read before
// the fault (nothing at worst). Blocks on the disk.
QList<RecentlyUsed> readRecentlyUsed(const QString &xbelPath);

} // namespace MdIndex
