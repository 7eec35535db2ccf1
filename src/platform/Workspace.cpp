#include "platform/Workspace.h"

#include "platform/Apps.h"
#include "platform/Mounts.h"
#include "util/Localized.h"
#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Workspace {

namespace {
const char *const kFileManagerService = "org.freedesktop.FileManager1";

std::atomic<bool> g_warnedNoFileManager{false};

// Whether a file manager owns, or can be started for, org.freedesktop.FileManager1. Both are
// questions to the bus daemon itself, which answers at once.
bool fileManagerAvailable(QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusConnectionInterface *daemon = bus.interface();
    if (!daemon)
        return false;
    const QString name = QString::fromLatin1(kFileManagerService);
    if (daemon->isServiceRegistered(name).value())
        return true;
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(name);
}

void noteNoFileManager(const QString &method, const QString &why)
{
    if (!g_warnedNoFileManager.exchange(true))
        qCInfo(lcPlatform, "no file manager answers %s.%s (%s); opening the folder instead", kFileManagerService,
               qUtf8Printable(method), qUtf8Printable(why));
}

void finish(const Done &done, const QString &why)
{
    if (done)
        done(why);
}

void openFoldersInstead(const QStringList &paths, const Done &done)
{
    QString why;
    openEnclosingFolders(paths, &why);
    finish(done, why);
}

// Calls the file manager without waiting for it: the answer (or its absence) arrives on the
// event loop; an error falls back to opening the enclosing folders.
void callFileManager(const QString &method, const QStringList &paths, const Done &done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!fileManagerAvailable(bus)) {
        noteNoFileManager(method, QStringLiteral("no such service on the session bus"));
        openFoldersInstead(paths, done);
        return;
    }
    QStringList uris;
    for (const QString &p : paths)
        uris.append(QUrl::fromLocalFile(p).toString(QUrl::FullyEncoded));
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kFileManagerService),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QString::fromLatin1(kFileManagerService), method);
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, method, paths, done] {
        watcher->deleteLater();
        if (!watcher->isError()) {
            finish(done, QString());
            return;
        }
        noteNoFileManager(method, watcher->error().message());
        openFoldersInstead(paths, done);
    });
}

QString mimeTypeOf(const QString &path)
{
    static QMimeDatabase db;
    return db.mimeTypeForFile(path).name();
}

QString typeDescription(const QString &mimeType)
{
    static QMimeDatabase db;
    const QMimeType type = db.mimeTypeForName(mimeType);
    const QString comment = type.isValid() ? type.comment() : QString();
    return comment.isEmpty() ? mimeType : comment;
}
} // namespace

void showItemProperties(const QStringList &paths, const Done &done)
{
    if (paths.isEmpty()) {
        finish(done, QString());
        return;
    }
    callFileManager(QStringLiteral("ShowItemProperties"), paths, done);
}

void showItems(const QStringList &paths, const Done &done)
{
    if (paths.isEmpty()) {
        finish(done, QString());
        return;
    }
    callFileManager(QStringLiteral("ShowItems"), paths, done);
}

bool openEnclosingFolders(const QStringList &paths, QString *error)
{
    QStringList folders;
    for (const QString &p : paths) {
        const QString folder = QFileInfo(p).absolutePath();
        if (!folders.contains(folder))
            folders.append(folder);
    }
    bool ok = true;
    for (const QString &folder : std::as_const(folders)) {
        QString why;
        if (!openFile(folder, &why)) {
            ok = false;
            if (error && error->isEmpty())
                *error = why;
        }
    }
    return ok;
}

bool openFile(const QString &path, QString *error)
{
    const QString type = mimeTypeOf(path);
    const Apps::AppInfo app = Apps::defaultAppForType(type);
    if (!app.isValid()) {
        if (error)
            *error = type == QLatin1String("inode/directory")
                         ? KLLocalized(QStringLiteral("No application is set up to open folders."))
                         : KLLocalized(QStringLiteral("No application is set up to open files of the type “%1”."),
                                       {typeDescription(type)});
        return false;
    }
    QString why;
    if (Apps::launchWithFiles(app.desktopPath, {path}, &why))
        return true;
    if (error)
        *error =
            KLLocalized(QStringLiteral("%1 could not be started: %2"), {app.name.isEmpty() ? app.id : app.name, why});
    return false;
}

bool openUrl(const QString &url, QString *error)
{
    const QString scheme = QUrl(url).scheme();
    const Apps::AppInfo app = Apps::defaultAppForUriScheme(scheme);
    if (!app.isValid()) {
        if (error)
            *error = scheme.startsWith(QLatin1String("http"))
                         ? KLLocalized(QStringLiteral("No web browser is set up to open %1."), {url})
                         : KLLocalized(QStringLiteral("No application is set up to open %1."), {url});
        return false;
    }
    QString why;
    if (Apps::launchWithUris(app.desktopPath, {url}, &why))
        return true;
    if (error)
        *error =
            KLLocalized(QStringLiteral("%1 could not be started: %2"), {app.name.isEmpty() ? app.id : app.name, why});
    return false;
}

namespace {
// Moves `path` into the home trash `trash` (same file system): reserves a name by creating its
// .trashinfo record exclusively, then renames the file into files/. The record is removed
// again when the rename fails, so a failure leaves nothing behind.
bool moveToHomeTrash(const QString &path, const QString &trash, QString *trashedPath, QString *error)
{
    const QString files = trash + QStringLiteral("/files");
    const QString info = trash + QStringLiteral("/info");
    for (const QString &dir : {trash, files, info}) {
        if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) {
            *error = QStringLiteral("cannot create %1: %2").arg(dir, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
    }
    const QString name = QFileInfo(path).fileName();
    const QByteArray record = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(path, "/") +
                              "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() +
                              "\n";
    for (int n = 1; n < 10000; ++n) {
        const QString candidate = n == 1 ? name : name + QLatin1Char('.') + QString::number(n);
        const QByteArray infoPath =
            QFile::encodeName(info + QLatin1Char('/') + candidate + QStringLiteral(".trashinfo"));
        const QByteArray target = QFile::encodeName(files + QLatin1Char('/') + candidate);
        struct stat st;
        if (::lstat(target.constData(), &st) == 0)
            continue;
        bool written = false;
        {
            const UniqueFd fd(::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (!fd.valid()) {
                if (errno == EEXIST)
                    continue;
                *error = QString::fromLocal8Bit(strerror(errno));
                return false;
            }
            written = ::write(fd.get(), record.constData(), size_t(record.size())) == record.size();
        } // closed before the file moves in
        if (written && ::rename(QFile::encodeName(path).constData(), target.constData()) == 0) {
            if (trashedPath)
                *trashedPath = QFile::decodeName(target);
            return true;
        }
        const int saved = errno;
        ::unlink(infoPath.constData());
        *error = QString::fromLocal8Bit(strerror(written ? saved : EIO));
        return false;
    }
    *error = QStringLiteral("no free name in the trash for %1").arg(name);
    return false;
}
} // namespace

bool moveToTrash(const QString &path, QString *trashedPath, QString *error)
{
    QString why;
    struct stat source, home;
    const QByteArray encoded = QFile::encodeName(path);
    if (::lstat(encoded.constData(), &source) != 0) {
        why = QString::fromLocal8Bit(strerror(errno));
    } else {
        const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QDir().mkpath(dataHome);
        if (::stat(QFile::encodeName(dataHome).constData(), &home) == 0 && home.st_dev == source.st_dev) {
            if (moveToHomeTrash(path, dataHome + QStringLiteral("/Trash"), trashedPath, &why))
                return true;
        } else {
            // Another volume: its own top-directory trash, which Qt implements.
            QString inTrash;
            if (QFile::moveToTrash(path, &inTrash)) {
                if (trashedPath)
                    *trashedPath = inTrash;
                return true;
            }
            why = QStringLiteral("the volume of %1 has no usable trash").arg(path);
        }
    }
    if (error)
        *error = why;
    return false;
}

QString homeTrashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict percent-decoding to bytes (QUrl's decoder lets a stray "%" through and its QString
// result cannot hold names that are not UTF-8).
std::optional<QByteArray> percentDecode(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c != '%') {
            if (c == '\0')
                return std::nullopt;
            out.append(c);
            continue;
        }
        if (i + 2 >= in.size())
            return std::nullopt;
        const int high = hexValue(in.at(i + 1));
        const int low = hexValue(in.at(i + 2));
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        out.append(char(high * 16 + low));
        i += 2;
    }
    return out;
}

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// Reads a small regular file without following a symbolic link; none when it is not one.
std::optional<QByteArray> readSmallFile(const QByteArray &path, qsizetype limit)
{
    const UniqueFd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit)
        return std::nullopt;
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    data.truncate(done);
    return data;
}
} // namespace

std::optional<TrashInfo> parseTrashInfo(const QByteArray &content)
{
    const QList<QByteArray> lines = content.split('\n');
    bool inGroup = false;
    bool sawGroup = false;
    std::optional<QByteArray> path;
    std::optional<QByteArray> date;
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            // The record's own group must come first; later groups are someone's extensions.
            if (!sawGroup && line != "[Trash Info]")
                return std::nullopt;
            inGroup = !sawGroup;
            sawGroup = true;
            continue;
        }
        if (!sawGroup)
            return std::nullopt;
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "Path" && !path)
            path = value;
        else if (key == "DeletionDate" && !date)
            date = value;
    }
    if (!path || !date || path->isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> decoded = percentDecode(*path);
    if (!decoded || decoded->isEmpty())
        return std::nullopt;
    // A relative path must stay below the trash's parent folder.
    if (!decoded->startsWith('/')) {
        for (const QByteArray &part : decoded->split('/')) {
            if (part == "..")
                return std::nullopt;
        }
    }
    const QDateTime when =
        QDateTime::fromString(QString::fromLatin1(date->left(19)), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    if (date->size() < 19 || !when.isValid())
        return std::nullopt;
    return TrashInfo{withoutTrailingSlashes(*decoded), when};
}

namespace {

// Marks the gone paths that `trash` records as trashed (see fatesOfMovedPaths); answers how
// many gone paths it newly found.
qsizetype findInTrash(const TrashLocation &trash, const QHash<QByteArray, QList<qsizetype>> &gone,
                      const QDateTime &earliest, QList<MovedPathFate> &fates)
{
    const QByteArray infoFolder = trash.folder + "/info";
    // Names are read as bytes: a trashed file whose name is not UTF-8 has a record whose name
    // is not UTF-8 either, and a decoded QString could not be turned back into it.
    DIR *dir = ::opendir(infoFolder.constData());
    if (!dir)
        return 0;
    qsizetype found = 0;
    const QByteArray suffix = ".trashinfo";
    while (found < gone.size()) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (name.size() <= suffix.size() || !name.endsWith(suffix))
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        // A trash can hold thousands of records: skip those written long before the drag
        // without reading them (an hour of slack for a home on a server with another clock;
        // the deletion date inside decides).
        if (earliest.isValid()) {
            struct stat info;
            if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                qint64(info.st_mtime) < earliest.toSecsSinceEpoch() - 3600)
                continue;
        }
        const std::optional<QByteArray> content = readSmallFile(infoFolder + '/' + name, 64 * 1024);
        if (!content)
            continue;
        const std::optional<TrashInfo> record = parseTrashInfo(*content);
        if (!record)
            continue;
        const QByteArray original = record->path.startsWith('/') ? record->path : trash.topDir + '/' + record->path;
        const auto it = gone.constFind(original);
        if (it == gone.cend())
            continue;
        if (earliest.isValid() && record->deletionDate < earliest)
            continue;
        const QByteArray trashed = trash.folder + "/files/" + name.left(name.size() - suffix.size());
        struct stat st;
        if (::lstat(trashed.constData(), &st) != 0)
            continue;
        bool newlyFound = false;
        for (qsizetype i : it.value()) {
            if (fates.at(i) != MovedPathFate::InTrash) {
                fates[i] = MovedPathFate::InTrash;
                newlyFound = true;
            }
        }
        if (newlyFound)
            ++found;
    }
    ::closedir(dir);
    return found;
}

// The trash folders of a volume other than the home's, for this user: "$top/.Trash/$uid" when
// "$top/.Trash" is a real folder with the sticky bit (a shared trash an administrator made),
// and "$top/.Trash-$uid".
QList<TrashLocation> volumeTrashes(const QByteArray &top)
{
    const QByteArray uid = QByteArray::number(::getuid());
    QList<TrashLocation> out;
    struct stat shared;
    if (::lstat((top + "/.Trash").constData(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX))
        out.append({top + "/.Trash/" + uid, top});
    out.append({top + "/.Trash-" + uid, top});
    return out;
}

} // namespace

QList<MovedPathFate> fatesOfMovedPathsIn(const QList<QByteArray> &nativePaths, const QDateTime &notBefore,
                                         const std::function<QList<TrashLocation>(const QByteArray &path)> &trashesOf)
{
    QList<MovedPathFate> fates(nativePaths.size(), MovedPathFate::StillThere);
    // Which paths are gone (by the bytes of each, with trailing slashes dropped).
    QHash<QByteArray, QList<qsizetype>> gone;
    for (qsizetype i = 0; i < nativePaths.size(); ++i) {
        const QByteArray &p = nativePaths.at(i);
        struct stat st;
        if (p.isEmpty() || ::lstat(p.constData(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR))
            continue;
        fates[i] = MovedPathFate::GoneElsewhere;
        gone[withoutTrailingSlashes(p)].append(i);
    }
    if (gone.isEmpty())
        return fates;
    QDateTime earliest;
    if (notBefore.isValid())
        earliest = notBefore.addMSecs(-notBefore.time().msec()).addSecs(-2);
    // Each trash that may hold one of the paths is read once, whatever the number of paths.
    QList<TrashLocation> trashes;
    for (auto it = gone.cbegin(); it != gone.cend(); ++it) {
        for (const TrashLocation &t : trashesOf(it.key())) {
            if (!trashes.contains(t))
                trashes.append(t);
        }
    }
    qsizetype found = 0;
    for (const TrashLocation &t : std::as_const(trashes)) {
        if (found >= gone.size())
            break;
        found += findInTrash(t, gone, earliest, fates);
    }
    return fates;
}

QList<MovedPathFate> fatesOfMovedPaths(const QList<QByteArray> &nativePaths, const QDateTime &notBefore)
{
    // A file goes to the home trash when it is on the home trash's volume, else to the trash of
    // its own volume; some file managers use the home trash for every volume they can.
    const QByteArray dataHome =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    const TrashLocation home{dataHome + "/Trash", dataHome};
    const QList<MountEntry> mounts = Mounts::currentMounts();
    const QString homeVolume = Mounts::mountPointOfPath(QFile::decodeName(dataHome), mounts);
    return fatesOfMovedPathsIn(nativePaths, notBefore, [&](const QByteArray &path) {
        QList<TrashLocation> trashes{home};
        const QString volume = Mounts::mountPointOfPath(QFile::decodeName(path), mounts);
        if (!volume.isEmpty() && volume != homeVolume)
            trashes += volumeTrashes(volume == QLatin1String("/") ? QByteArray() : QFile::encodeName(volume));
        return trashes;
    });
}

QList<MovedPathFate> fatesOfMovedPaths(const QStringList &paths, const QDateTime &notBefore)
{
    QList<QByteArray> native;
    native.reserve(paths.size());
    for (const QString &p : paths)
        native.append(QFile::encodeName(p));
    return fatesOfMovedPaths(native, notBefore);
}

} // namespace Workspace
