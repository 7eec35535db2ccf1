#include "prefs/KLUnwanted.h"

#include "platform/Defaults.h"
#include "util/FileNames.h"
#include "util/Tilde.h"

#include <QFileInfo>

namespace KLUnwanted {

namespace {

Defaults &store(Defaults *defaults)
{
    return defaults ? *defaults : Defaults::standard();
}

bool isFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isDir();
}

// Appends `entry` unless one of `alreadyThere` is listed.
bool appendUnlessPresent(Defaults &d, const QString &key, const QString &entry, const QStringList &alreadyThere)
{
    if (entry.isEmpty())
        return false;
    QStringList list = d.stringArrayForKey(key);
    for (const QString &form : alreadyThere)
        if (list.contains(form))
            return false;
    list.append(entry);
    d.setValue(key, list);
    return true;
}

} // namespace

bool addUnwantedDirectory(const QString &path, Defaults *defaults)
{
    if (path.isEmpty())
        return false;
    const QString expanded = PimsAdditions::stringByExpandingTildeInPathSANDBOX(path);
    if (!isFolder(expanded))
        return false;
    const QString abbreviated = PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(expanded);
    return appendUnlessPresent(store(defaults), QStringLiteral("unwantedDirectories"), abbreviated,
                               {abbreviated, expanded});
}

bool addUnwantedExtensionFromFilePath(const QString &path, Defaults *defaults)
{
    if (path.isEmpty())
        return false;
    const QString expanded = PimsAdditions::stringByExpandingTildeInPathSANDBOX(path);
    const QString entry = isFolder(expanded) ? kNeverShowFolders : KLFileNames::pathExtension(expanded).toLower();
    return appendUnlessPresent(store(defaults), QStringLiteral("unwantedExtensions"), entry, {entry});
}

bool addUnwantedItem(const QString &path, Defaults *defaults)
{
    return appendUnlessPresent(store(defaults), QStringLiteral("unwantedItems"), path, {path});
}

bool addUnwantedPathFragment(const QString &text, Defaults *defaults)
{
    return appendUnlessPresent(store(defaults), QStringLiteral("unwantedPathFragments"), text, {text});
}

} // namespace KLUnwanted
