#include "search/KLFilePicker.h"

#include "fileops/XPFileUtils.h"
#include "fileops/XPRename.h"
#include "platform/Mounts.h"
#include "platform/XPSandboxUtils.h"
#include "recent/KLRules.h"
#include "util/Logging.h"
#include "util/Tilde.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace KLFilePicker {

namespace {

QString rootPath()
{
    const QUrl root = XPSandboxUtils::rootAccessURL();
    const QString p = root.isLocalFile() ? root.toLocalFile() : QString();
    if (p.isEmpty())
        return QStringLiteral("/");
    return p.size() > 1 && p.endsWith(QLatin1Char('/')) ? p.chopped(1) : p;
}

bool insideRoot(const QString &path, const QString &root)
{
    return root == QLatin1String("/") || path == root || XPFileUtils::isPathAChildOfPath(path, root);
}

bool nameIsShowable(const QString &name)
{
    // A name that does not survive the round trip through the file-system encoding is not UTF-8.
    return !name.isEmpty() && !name.contains(QChar::ReplacementCharacter) &&
           QFile::decodeName(QFile::encodeName(name)) == name;
}

QSet<QString> hiddenNamesIn(const QString &folder)
{
    QSet<QString> out;
    QFile f(QDir(folder).filePath(QStringLiteral(".hidden")));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QString name = QString::fromUtf8(line).trimmed();
        if (!name.isEmpty())
            out.insert(name);
    }
    return out;
}

} // namespace

Entry entryForPath(const QString &path, bool foldersOnly, bool *ok)
{
    Entry e;
    *ok = false;
    const QFileInfo info(path);
    if (!info.exists())
        return e;
    e.path = path;
    e.isFolder = info.isDir() && !XPFileUtils::isPackage(path);
    if (foldersOnly && !e.isFolder)
        return e;
    e.title = path == QLatin1String("/") ? QStringLiteral("/") : info.fileName();
    if (!nameIsShowable(e.title))
        return e;
    *ok = true;
    return e;
}

QList<Entry> homeItems(bool showEverywhereItem, bool foldersOnly)
{
    QList<Entry> out;
    if (showEverywhereItem)
        out.append(Entry{QString(), QStringLiteral("Everywhere"), false});
    const QString root = rootPath();
    QStringList places{root};
    for (const char *p : {"~", "~/Documents", "~/Desktop", "~/Downloads"}) {
        const QString expanded = PimsAdditions::stringByExpandingTildeInPathSANDBOX(QString::fromLatin1(p));
        if (insideRoot(expanded, root))
            places.append(expanded);
    }
    for (const QString &volume : mountedLocalVolumePaths()) {
        if (volume.startsWith(QLatin1String("/System/Volumes")) || volume == QLatin1String("/home") ||
            volume == QLatin1String("/net"))
            continue;
        if (insideRoot(volume, root))
            places.append(volume);
    }
    // Each place once ("/" is both the root folder and the first volume), and never a system
    // root (a volume mounted under /run or /var is no place for the user's files).
    QStringList unique;
    for (const QString &place : std::as_const(places)) {
        if (!unique.contains(place) && !KLRules::isUnderSystemRoot(place))
            unique.append(place);
    }
    places = unique;
    for (const QString &place : places) {
        bool ok = false;
        const Entry e = entryForPath(place, foldersOnly, &ok);
        if (ok)
            out.append(e);
    }
    return out;
}

QList<Entry> dirContents(const QString &folder, bool foldersOnly)
{
    QList<Entry> out;
    if (folder.startsWith(QLatin1String("/System")) || folder.startsWith(QLatin1String("/Library")))
        return out;
    const QDir dir(folder);
    const QSet<QString> hidden = hiddenNamesIn(folder);
    QStringList paths;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        if (name.startsWith(QLatin1Char('.')) || hidden.contains(name))
            continue;
        // /proc, /usr, /tmp and the other system roots are not the user's folders.
        if (folder == QLatin1String("/") && KLRules::isUnderSystemRoot(QLatin1Char('/') + name))
            continue;
        if (!nameIsShowable(name)) {
            qCWarning(lcFileOps, "skipping a name that is not UTF-8 in %s", qUtf8Printable(folder));
            continue;
        }
        paths.append(folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(paths.begin(), paths.end(),
              [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    for (const QString &p : paths) {
        bool ok = false;
        const Entry e = entryForPath(p, foldersOnly, &ok);
        if (ok)
            out.append(e);
    }
    return out;
}

QStringList mountedLocalVolumePaths()
{
    QStringList out{QStringLiteral("/")};
    const QString user = qEnvironmentVariable("USER");
    for (const MountEntry &m : Mounts::currentMounts()) {
        const QString &p = m.mountPoint;
        const bool userVolume =
            p.startsWith(QLatin1String("/media/")) || p.startsWith(QLatin1String("/mnt/")) ||
            (!user.isEmpty() && p.startsWith(QLatin1String("/run/media/") + user + QLatin1Char('/')));
        if (!userVolume || XPFileUtils::isSlowFileSystemType(m.fsType) || out.contains(p))
            continue;
        out.append(p);
    }
    return out;
}

int moveFilesToFolder(const QStringList &files, const QString &folder,
                      const std::function<void(const QString &path)> &failed)
{
    int moved = 0;
    for (const QString &file : files) {
        const QString name = file.section(QLatin1Char('/'), -1);
        const QString target =
            folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
        QString why;
        if (!name.isEmpty() && XPFileUtils::moveItemWithoutReplacing(file, target, &why)) {
            ++moved;
            continue;
        }
        qCWarning(lcFileOps, "cannot move %s to %s: %s", qUtf8Printable(file), qUtf8Printable(folder),
                  qUtf8Printable(why));
        if (failed)
            failed(file);
    }
    return moved;
}

} // namespace KLFilePicker
