#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>

namespace Workspace {

namespace {
std::atomic<bool> g_warnedNoFileManager{false};

bool callFileManager(const QString &method, const QStringList &paths)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QStringList uris;
        for (const QString &p : paths)
            uris.append(QUrl::fromLocalFile(p).toString(QUrl::FullyEncoded));
        QDBusInterface fm(QStringLiteral("org.freedesktop.FileManager1"),
                          QStringLiteral("/org/freedesktop/FileManager1"),
                          QStringLiteral("org.freedesktop.FileManager1"), bus);
        if (fm.isValid()) {
            QDBusMessage reply = fm.call(method, uris, QString());
            if (reply.type() == QDBusMessage::ReplyMessage)
                return true;
        }
    }
    if (!g_warnedNoFileManager.exchange(true))
        qWarning("Kelso: no file manager answers org.freedesktop.FileManager1.%s on the session bus",
                 qUtf8Printable(method));
    return false;
}
} // namespace

bool showItemProperties(const QString &path)
{
    return callFileManager(QStringLiteral("ShowItemProperties"), {path});
}

bool showItems(const QStringList &paths)
{
    if (paths.isEmpty())
        return false;
    if (callFileManager(QStringLiteral("ShowItems"), paths))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(paths.first()).absolutePath()));
}

bool openFile(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
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
    const QByteArray record = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(path, "/") + "\nDeletionDate=" +
                              QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() + "\n";
    for (int n = 1; n < 10000; ++n) {
        const QString candidate = n == 1 ? name : name + QLatin1Char('.') + QString::number(n);
        const QByteArray infoPath = QFile::encodeName(info + QLatin1Char('/') + candidate + QStringLiteral(".trashinfo"));
        const QByteArray target = QFile::encodeName(files + QLatin1Char('/') + candidate);
        struct stat st;
        if (::lstat(target.constData(), &st) == 0)
            continue;
        const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *error = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        const bool written = ::write(fd, record.constData(), size_t(record.size())) == record.size();
        ::close(fd);
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

} // namespace Workspace
