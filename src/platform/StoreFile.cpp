#include "platform/StoreFile.h"

#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace StoreFile {

namespace {

void setWhy(QString *why, const QString &text)
{
    if (why)
        *why = text;
}

// What stands at `path` that a store must not be replaced through, or an empty string.
QString hazardAt(const QByteArray &path, bool *missing)
{
    struct stat st {
    };
    *missing = false;
    if (::lstat(path.constData(), &st) != 0) {
        if (errno == ENOENT) {
            *missing = true;
            return {};
        }
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("it is a symbolic link");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a FIFO");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    return {};
}

// True the first time a refusal of `path` for `reason` is seen in this run.
bool firstTimeTold(const QString &path, const QString &reason)
{
    static std::mutex mutex;
    static QSet<QString> told;
    std::lock_guard lock(mutex);
    const QString key = path + QLatin1Char('\n') + reason;
    if (told.contains(key))
        return false;
    told.insert(key);
    return true;
}

bool makeFolders(const QByteArray &path)
{
    struct stat st {
    };
    if (::lstat(path.constData(), &st) == 0)
        return true; // checked by the caller
    const int slash = path.lastIndexOf('/');
    if (slash > 0 && !makeFolders(path.left(slash)))
        return false;
    return ::mkdir(path.constData(), 0700) == 0 || errno == EEXIST;
}

} // namespace

bool preparePrivateFolder(const QString &folder, QString *why)
{
    QByteArray path = QFile::encodeName(folder);
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (!makeFolders(path)) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        qCWarning(lcPlatform, "cannot create the folder %s: %s", path.constData(), qUtf8Printable(reason));
        setWhy(why, reason);
        return false;
    }
    struct stat st {
    };
    if (::lstat(path.constData(), &st) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        qCWarning(lcPlatform, "cannot use the folder %s: %s", path.constData(), qUtf8Printable(reason));
        setWhy(why, reason);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        const QString reason =
            S_ISLNK(st.st_mode) ? QStringLiteral("it is a symbolic link") : QStringLiteral("it is not a folder");
        // Callers come back for every file they write (the thumbnail cache does so per picture):
        // one line per folder and reason.
        if (firstTimeTold(QFile::decodeName(path), reason))
            qCWarning(lcPlatform, "refusing to keep Kelso's files in %s: %s", path.constData(), qUtf8Printable(reason));
        setWhy(why, reason);
        return false;
    }
    if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        qCWarning(lcPlatform, "cannot make the folder %s private: %s", path.constData(), std::strerror(errno));
    return true;
}

bool mayReplace(const QString &path, bool privateFolder, QString *why)
{
    const QByteArray native = QFile::encodeName(path);
    bool missing = false;
    QString hazard = hazardAt(native, &missing);
    if (hazard.isEmpty() && privateFolder) {
        const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
        struct stat st {
        };
        if (::lstat(folder.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            hazard = QStringLiteral("its folder %1 is a symbolic link").arg(QFile::decodeName(folder));
    }
    if (hazard.isEmpty())
        return true;
    // Writers try again later (the settings retry while changes are pending): one line per
    // path and reason is enough.
    if (firstTimeTold(path, hazard))
        qCWarning(lcPlatform, "refusing to write the store %s: %s", native.constData(), qUtf8Printable(hazard));
    setWhy(why, hazard);
    return false;
}

bool folderIsLink(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat st {
    };
    if (::lstat(folder.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    return !mayReplace(path, true);
}

bool open(QSaveFile &file, bool privateFolder, QString *why)
{
    if (!mayReplace(file.fileName(), privateFolder, why))
        return false;
    if (!file.open(QIODevice::WriteOnly)) {
        setWhy(why, file.errorString());
        return false;
    }
    // QSaveFile copies the old file's mode onto the new one; a store is private whatever the
    // old mode was.
    if (::fchmod(file.handle(), 0600) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        setWhy(why, reason);
        return false;
    }
    return true;
}

bool write(QSaveFile &file, const QByteArray &data, bool privateFolder, QString *why)
{
    if (!open(file, privateFolder, why))
        return false;
    if (file.write(data) != data.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        setWhy(why, file.error() != QFileDevice::NoError ? file.errorString()
                                                         : QString::fromLocal8Bit(std::strerror(errno)));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setWhy(why, file.errorString());
        return false;
    }
    return true;
}

void tightenMode(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {
    };
    if (::lstat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) == 0)
        return;
    // Opened without following a link, so a link swapped in after lstat is not changed.
    const UniqueFd fd(::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {
    };
    if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return;
    if (::fchmod(fd.get(), opened.st_mode & 0700) != 0)
        qCWarning(lcPlatform, "cannot make %s private: %s", native.constData(), std::strerror(errno));
}

int openForAppend(const QString &path)
{
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return -1;
    struct stat st {
    };
    if (::fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return fd.release();
}

bool readAll(const QString &path, QByteArray *out, QString *why, qint64 maxBytes)
{
    out->clear();
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        setWhy(why,
               errno == ELOOP ? QStringLiteral("it is a symbolic link") : QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st {
    };
    if (::fstat(fd.get(), &st) != 0) {
        setWhy(why, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setWhy(why, S_ISDIR(st.st_mode)    ? QStringLiteral("it is a folder")
                    : S_ISFIFO(st.st_mode) ? QStringLiteral("it is a FIFO")
                                           : QStringLiteral("it is not a regular file"));
        return false;
    }
    if (st.st_size > maxBytes) {
        setWhy(why, QStringLiteral("it is too large (%1 bytes)").arg(qint64(st.st_size)));
        return false;
    }
    QByteArray data;
    data.reserve(qsizetype(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            setWhy(why, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (n == 0)
            break;
        if (data.size() + n > maxBytes) {
            setWhy(why, QStringLiteral("it is too large"));
            return false;
        }
        data.append(buffer, n);
    }
    *out = data;
    return true;
}

} // namespace StoreFile
