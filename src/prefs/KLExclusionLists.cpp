#include "prefs/KLExclusionLists.h"

#include "platform/Defaults.h"
#include "prefs/KLUnwanted.h"
#include "util/FileNames.h"
#include "util/Tilde.h"

#include <QFileInfo>
#include <algorithm>

namespace KLExclusionLists {

QString settingsKey(KLExclusionList list)
{
    switch (list) {
    case KLExclusionList::Folders:
        return QStringLiteral("unwantedDirectories");
    case KLExclusionList::Extensions:
        return QStringLiteral("unwantedExtensions");
    case KLExclusionList::Items:
        return QStringLiteral("unwantedItems");
    case KLExclusionList::PathFragments:
        return QStringLiteral("unwantedPathFragments");
    }
    return QString();
}

QStringList entries(KLExclusionList list, Defaults &defaults)
{
    return defaults.stringArrayForKey(settingsKey(list));
}

int removeRows(KLExclusionList list, QList<int> rows, Defaults &defaults)
{
    QStringList current = entries(list, defaults);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    int removed = 0;
    // From the end, so that the earlier rows keep their numbers.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        if (*it < 0 || *it >= current.size())
            continue;
        current.removeAt(*it);
        ++removed;
    }
    if (removed > 0)
        defaults.setValue(settingsKey(list), current);
    return removed;
}

bool setPathFragment(int row, const QString &text, Defaults &defaults)
{
    QStringList current = entries(KLExclusionList::PathFragments, defaults);
    if (row < 0 || row >= current.size())
        return false;
    if (text.trimmed().isEmpty())
        current.removeAt(row);
    else
        current[row] = text;
    defaults.setValue(settingsKey(KLExclusionList::PathFragments), current);
    return true;
}

bool addPath(KLExclusionList list, const QString &path, Defaults &defaults)
{
    switch (list) {
    case KLExclusionList::Folders:
        return KLUnwanted::addUnwantedDirectory(path, &defaults);
    case KLExclusionList::Extensions:
        return KLUnwanted::addUnwantedExtensionFromFilePath(path, &defaults);
    case KLExclusionList::Items:
        return KLUnwanted::addUnwantedItem(path, &defaults);
    case KLExclusionList::PathFragments:
        return KLUnwanted::addUnwantedPathFragment(path, &defaults);
    }
    return false;
}

bool acceptsDrop(KLExclusionList list, const QStringList &paths)
{
    if (paths.isEmpty() || paths.first().isEmpty())
        return false;
    const QFileInfo first(PimsAdditions::stringByExpandingTildeInPathSANDBOX(paths.first()));
    switch (list) {
    case KLExclusionList::Folders:
    case KLExclusionList::PathFragments:
        return first.exists() && first.isDir();
    case KLExclusionList::Extensions:
        return !KLFileNames::pathExtension(first.filePath()).isEmpty();
    case KLExclusionList::Items:
        return true;
    }
    return false;
}

int acceptDrop(KLExclusionList list, const QStringList &paths, Defaults &defaults)
{
    if (!acceptsDrop(list, paths))
        return 0;
    int added = 0;
    for (const QString &path : paths)
        if (addPath(list, path, defaults))
            ++added;
    return added;
}

} // namespace KLExclusionLists
