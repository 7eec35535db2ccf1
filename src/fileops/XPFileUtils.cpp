#include "fileops/XPFileUtils.h"

#include "platform/FileMove.h"
#include "platform/Mounts.h"
#include "platform/Workspace.h"
#include "platform/Xattr.h"
#include "platform/fsevents/DirWalk.h"
#include "platform/typeregistry/TypeRegistry.h"
#include "util/Paths.h"
#include "util/Tilde.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace XPFileUtils {

namespace {
std::mutex g_slowMutex;
bool g_slowTableExists = false;
QHash<QString, QString> g_slowVolumes; // mount point → mount point
std::once_flag g_subscribeOnce;

std::mutex g_placeholderMutex;
QHash<QString, bool> g_placeholderCache;

bool existsNoFollow(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}
} // namespace

QString safariDownloadsFolder()
{
    return QStringLiteral("~/Downloads");
}

QString documentsFolder()
{
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty())
        docs = PimsAdditions::stringByExpandingTildeInPathSANDBOX(QStringLiteral("~/Documents"));
    return docs + QLatin1Char('/');
}

QString ourCacheFolder()
{
    return KLPaths::cacheFolder();
}

bool isSlowFileSystemType(const QString &fsType)
{
    // One list for the file utilities and the event stream's folder walk.
    return KLFSEvents::isSlowFileSystemType(fsType);
}

void rebuildSlowVolumes()
{
    if (QCoreApplication *app = QCoreApplication::instance()) {
        std::call_once(g_subscribeOnce, [app] {
            QMetaObject::invokeMethod(
                app,
                [] {
                    QObject::connect(&MountWatcher::instance(), &MountWatcher::changed,
                                     [] { (void)rebuildSlowVolumesInBackground(); });
                },
                Qt::QueuedConnection);
        });
    }
    const QList<MountEntry> mounts = Mounts::currentMounts();
    std::lock_guard lock(g_slowMutex);
    g_slowTableExists = true;
    g_slowVolumes.clear();
    for (const MountEntry &m : mounts) {
        if (isSlowFileSystemType(m.fsType))
            g_slowVolumes.insert(m.mountPoint, m.mountPoint);
    }
}

QFuture<void> rebuildSlowVolumesInBackground()
{
    return QtConcurrent::run([] { rebuildSlowVolumes(); });
}

bool pathIsOnSlowVolume(const QString &path)
{
    bool exists;
    {
        std::lock_guard lock(g_slowMutex);
        exists = g_slowTableExists;
    }
    if (!exists)
        rebuildSlowVolumes();
    if (path.isEmpty())
        return false;
    {
        std::lock_guard lock(g_slowMutex);
        for (auto it = g_slowVolumes.cbegin(); it != g_slowVolumes.cend(); ++it) {
            // A mount point is a folder: "/mnt/nas" holds "/mnt/nas/x" but not "/mnt/nasty".
            const QString &mp = it.key();
            if (path == mp ||
                (path.startsWith(mp) && (mp.endsWith(QLatin1Char('/')) || path.at(mp.size()) == QLatin1Char('/'))))
                return true;
        }
    }
    return pathIsDropboxOrOtherPlaceholder(path);
}

bool pathIsDropboxOrOtherPlaceholder(const QString &path)
{
    std::lock_guard lock(g_placeholderMutex);
    auto it = g_placeholderCache.constFind(path);
    if (it != g_placeholderCache.cend())
        return it.value();
    const bool placeholder = Xattr::size(path, QStringLiteral("com.dropbox.placeholder")) > 0;
    g_placeholderCache.insert(path, placeholder);
    return placeholder;
}

bool isPackageExtension(const QString &extension)
{
    return TypeRegistry::isPackageExtension(extension);
}

bool isPackage(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return false;
    if (!isPackageExtension(path.mid(dot + 1)))
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFileOrPackage(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return true;
    return isPackage(path);
}

QString findUnusedPath(const QString &path)
{
    // Names are bytes on Linux: a composed "é" and a decomposed one are two different names,
    // so the name is looked up as given, never normalised.
    const QString &q = path;
    if (!existsNoFollow(q))
        return q;
    const qsizetype slash = q.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = q.lastIndexOf(QLatin1Char('.'));
    // A leading dot ("/x/.profile") is part of the name, not an extension separator.
    const bool hasExtension = dot > slash + 1 && dot < q.size() - 1;
    const QString stem = hasExtension ? q.left(dot) : q;
    const QString extension = hasExtension ? q.mid(dot + 1) : QString();
    for (int n = 1; n <= 1000; ++n) {
        QString candidate = stem + QLatin1Char(' ') + QString::number(n);
        if (hasExtension)
            candidate += QLatin1Char('.') + extension;
        if (!existsNoFollow(candidate))
            return candidate;
    }
    return q;
}

bool isInMailOrPhotoLibrary(const QString &path)
{
    return path.contains(QLatin1String("/Library/Mail/")) ||
           path.contains(QLatin1String("Photos Library.photoslibrary"));
}

bool moveItemOnSameFileSystemCheckingForSpecialExclusions(const QString &source, const QString &destination,
                                                          QString *error)
{
    if (isInMailOrPhotoLibrary(source)) {
        if (error)
            *error = QStringLiteral("%1 lies inside a mail or photo library and is not moved").arg(source);
        return false;
    }
    return moveItemOnSameFileSystem(source, destination, error);
}

bool moveItemOnSameFileSystem(const QString &source, const QString &destination, QString *error)
{
    if (!FileMove::sameFileSystem(source, destination)) {
        if (error)
            *error = errnoString(EXDEV);
        return false;
    }
    const FileMove::Outcome outcome = FileMove::move(source, destination);
    if (!outcome.ok && error)
        *error = errnoString(outcome.error);
    return outcome.ok;
}

double GBFreeOnHome()
{
    struct statvfs st;
    const QByteArray home = QFile::encodeName(PimsAdditions::realHomeDirectory() + QLatin1Char('/'));
    if (::statvfs(home.constData(), &st) != 0)
        return -1;
    return double(st.f_bavail) * double(st.f_frsize) / 1e9;
}

namespace {
QStringList standardComponents(const QString &path)
{
    QStringList out;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(part);
    }
    return out;
}
} // namespace

bool isPathAChildOfPath(const QString &child, const QString &parent)
{
    const QStringList c = standardComponents(child);
    const QStringList p = standardComponents(parent);
    if (p.size() >= c.size())
        return false;
    for (qsizetype i = 0; i < p.size(); ++i) {
        if (p[i] != c[i])
            return false;
    }
    return true;
}

bool isURL(const QUrl &child, const QUrl &parent)
{
    if (!child.isValid() || !parent.isValid() || child.isEmpty() || parent.isEmpty())
        return false;
    return isPathAChildOfPath(child.path(), parent.path());
}

QString errnoString(long error)
{
    char buf[1024];
    const char *msg = strerror_r(int(error), buf, sizeof buf);
    return QStringLiteral("errno error: %1, %2").arg(error).arg(QString::fromLocal8Bit(msg));
}

void getInfoInFinderForFilePath(const QString &path, const std::function<void(const QString &why)> &done)
{
    Workspace::showItemProperties({path}, done);
}

} // namespace XPFileUtils
