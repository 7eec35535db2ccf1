#include "platform/FileMove.h"

#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QFile>
#include <QtGlobal>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace FileMove {

namespace {

using Fd = UniqueFd;

QString sysMessage(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString shown(const QByteArray &path)
{
    return QFile::decodeName(path);
}

// "/a/b/c" → ("/a/b", "c"); "/c" → ("/", "c"); "c" → (".", "c").
std::pair<QByteArray, QByteArray> splitPath(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), path};
    if (slash == 0)
        return {QByteArrayLiteral("/"), path.mid(1)};
    return {path.left(slash), path.mid(slash + 1)};
}

// The names in a folder, read completely before anything in it changes.
bool listFolder(int dirFd, std::vector<QByteArray> *names, int *err)
{
    UniqueFd dup(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!dup.valid()) {
        *err = errno;
        return false;
    }
    DIR *dir = ::fdopendir(dup.get());
    if (!dir) {
        *err = errno;
        return false;
    }
    dup.release(); // the DIR owns it now
    ::rewinddir(dir);
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names->emplace_back(entry->d_name);
        errno = 0;
    }
    const int readErr = errno;
    ::closedir(dir);
    if (readErr != 0) {
        *err = readErr;
        return false;
    }
    return true;
}

// Removes `name` in `dirFd` and, for a folder, everything in it, without following links.
// `ours`: the tree was created by this copy, so a folder we made read-only may be opened up.
bool removeTree(int dirFd, const QByteArray &name, bool ours, int *err)
{
    if (::unlinkat(dirFd, name.constData(), 0) == 0)
        return true;
    if (errno != EISDIR && errno != EPERM) {
        *err = errno;
        return false;
    }
    struct stat st;
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
        *err = errno ? errno : EPERM;
        return false;
    }
    if (ours)
        ::fchmodat(dirFd, name.constData(), 0700, 0);
    Fd folder(::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid()) {
        *err = errno;
        return false;
    }
    std::vector<QByteArray> children;
    if (!listFolder(folder.get(), &children, err))
        return false;
    for (const QByteArray &child : children) {
        if (!removeTree(folder.get(), child, ours, err))
            return false;
    }
    if (::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) != 0) {
        *err = errno;
        return false;
    }
    return true;
}

// One copy of a tree: the first failure stops it and is kept in `error`/`message`.
class Copier
{
public:
    int error = 0;
    QString message;
    bool createdTop = false;

    bool copyEntry(int srcDir, const QByteArray &srcName, int dstDir, const QByteArray &dstName,
                   const QByteArray &srcPath, bool top)
    {
        struct stat st;
        if (::fstatat(srcDir, srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno, srcPath, "cannot examine");
        switch (st.st_mode & S_IFMT) {
        case S_IFREG:
            return copyFile(srcDir, srcName, dstDir, dstName, srcPath, st, top);
        case S_IFDIR:
            return copyFolder(srcDir, srcName, dstDir, dstName, srcPath, st, top);
        case S_IFLNK:
            return copyLink(srcDir, srcName, dstDir, dstName, srcPath, st, top);
        case S_IFIFO:
        case S_IFCHR:
        case S_IFBLK:
            return copySpecial(dstDir, dstName, srcPath, st, top);
        default:
            return fail(ENOTSUP, srcPath, "cannot copy a socket");
        }
    }

private:
    bool fail(int err, const QByteArray &path, const char *what)
    {
        error = err;
        message = QStringLiteral("%1 %2: %3").arg(QLatin1String(what), shown(path), sysMessage(err));
        return false;
    }

    bool copyData(int in, int out, const QByteArray &srcPath)
    {
        bool plainCopy = false;
        for (;;) {
            if (!plainCopy) {
                const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
                if (n > 0)
                    continue;
                if (n == 0)
                    return true;
                if (errno == EINTR)
                    continue;
                if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOTSUP &&
                    errno != EBADF && errno != EPERM)
                    return fail(errno, srcPath, "cannot copy the data of");
                plainCopy = true; // this pair of file systems needs read() and write()
            }
            char buffer[1 << 16];
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n == 0)
                return true;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno, srcPath, "cannot read");
            }
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::write(out, buffer + done, size_t(n - done));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    return fail(errno, srcPath, "cannot write the copy of");
                }
                done += w;
            }
        }
    }

    // The user.* attributes (tags, rating, managed mark). A destination without user
    // attributes takes the data alone, as mv does; every other failure fails the copy.
    bool copyUserAttributes(int in, int out, const QByteArray &srcPath)
    {
        std::vector<char> names;
        for (;;) {
            const ssize_t size = ::flistxattr(in, nullptr, 0);
            if (size < 0) {
                if (errno == ENOTSUP || errno == EOPNOTSUPP)
                    return true;
                return fail(errno, srcPath, "cannot list the extended attributes of");
            }
            if (size == 0)
                return true;
            names.resize(size_t(size));
            const ssize_t got = ::flistxattr(in, names.data(), names.size());
            if (got >= 0) {
                names.resize(size_t(got));
                break;
            }
            if (errno != ERANGE)
                return fail(errno, srcPath, "cannot list the extended attributes of");
        }
        std::vector<char> value;
        for (size_t i = 0; i < names.size();) {
            const char *name = names.data() + i;
            i += std::strlen(name) + 1;
            if (std::strncmp(name, "user.", 5) != 0)
                continue;
            ssize_t got;
            for (;;) {
                const ssize_t size = ::fgetxattr(in, name, nullptr, 0);
                if (size < 0)
                    return fail(errno, srcPath, "cannot read an extended attribute of");
                value.resize(size_t(size) + 1);
                got = ::fgetxattr(in, name, value.data(), value.size());
                if (got >= 0 || errno != ERANGE)
                    break;
            }
            if (got < 0)
                return fail(errno, srcPath, "cannot read an extended attribute of");
            if (::fsetxattr(out, name, value.data(), size_t(got), 0) != 0) {
                if (errno == ENOTSUP || errno == EOPNOTSUPP) {
                    if (!m_toldNoAttributes)
                        qCWarning(lcFileOps, "the destination of %s keeps no extended attributes; copied without them",
                                  srcPath.constData());
                    m_toldNoAttributes = true;
                    return true;
                }
                return fail(errno, srcPath, "cannot keep the extended attributes of");
            }
        }
        return true;
    }

    // Owner (where allowed), mode, then times: the order that keeps set-id bits and times.
    bool finishThroughFd(int in, int out, const struct stat &st, const QByteArray &srcPath)
    {
        if (in >= 0 && !copyUserAttributes(in, out, srcPath))
            return false;
        if (::fchown(out, st.st_uid, st.st_gid) != 0) {
            // Not allowed for another owner without privileges: the copy is the mover's, as with mv.
        }
        if (::fchmod(out, st.st_mode & 07777) != 0)
            return fail(errno, srcPath, "cannot set the mode of the copy of");
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(out, times) != 0)
            return fail(errno, srcPath, "cannot set the times of the copy of");
        return true;
    }

    bool copyFile(int srcDir, const QByteArray &srcName, int dstDir, const QByteArray &dstName,
                  const QByteArray &srcPath, const struct stat &st, bool top)
    {
        Fd in(::openat(srcDir, srcName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.valid())
            return fail(errno, srcPath, "cannot open");
        Fd out(::openat(dstDir, dstName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid())
            return fail(errno, srcPath, "cannot create the copy of");
        createdTop = createdTop || top;
        return copyData(in.get(), out.get(), srcPath) && finishThroughFd(in.get(), out.get(), st, srcPath);
    }

    bool copyFolder(int srcDir, const QByteArray &srcName, int dstDir, const QByteArray &dstName,
                    const QByteArray &srcPath, const struct stat &st, bool top)
    {
        Fd in(::openat(srcDir, srcName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.valid())
            return fail(errno, srcPath, "cannot open the folder");
        if (::mkdirat(dstDir, dstName.constData(), 0700) != 0)
            return fail(errno, srcPath, "cannot create the copy of");
        createdTop = createdTop || top;
        Fd out(::openat(dstDir, dstName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!out.valid())
            return fail(errno, srcPath, "cannot open the copy of");
        std::vector<QByteArray> children;
        int err = 0;
        if (!listFolder(in.get(), &children, &err))
            return fail(err, srcPath, "cannot list");
        for (const QByteArray &child : children) {
            if (!copyEntry(in.get(), child, out.get(), child, srcPath + '/' + child, false))
                return false;
        }
        // Last, so that creating the contents does not change the folder's times again.
        return finishThroughFd(in.get(), out.get(), st, srcPath);
    }

    bool copyLink(int srcDir, const QByteArray &srcName, int dstDir, const QByteArray &dstName,
                  const QByteArray &srcPath, const struct stat &st, bool top)
    {
        std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : 255) + 1);
        for (;;) {
            const ssize_t n = ::readlinkat(srcDir, srcName.constData(), target.data(), target.size());
            if (n < 0)
                return fail(errno, srcPath, "cannot read the link");
            if (size_t(n) < target.size()) {
                target[size_t(n)] = '\0';
                break;
            }
            target.resize(target.size() * 2);
        }
        if (::symlinkat(target.data(), dstDir, dstName.constData()) != 0)
            return fail(errno, srcPath, "cannot create the copy of");
        createdTop = createdTop || top;
        (void)::fchownat(dstDir, dstName.constData(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::utimensat(dstDir, dstName.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno, srcPath, "cannot set the times of the copy of");
        return true;
    }

    bool copySpecial(int dstDir, const QByteArray &dstName, const QByteArray &srcPath, const struct stat &st, bool top)
    {
        if (::mknodat(dstDir, dstName.constData(), (st.st_mode & S_IFMT) | 0600, st.st_rdev) != 0)
            return fail(errno, srcPath, "cannot create the copy of");
        createdTop = createdTop || top;
        (void)::fchownat(dstDir, dstName.constData(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
        if (::fchmodat(dstDir, dstName.constData(), st.st_mode & 07777, 0) != 0)
            return fail(errno, srcPath, "cannot set the mode of the copy of");
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::utimensat(dstDir, dstName.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno, srcPath, "cannot set the times of the copy of");
        return true;
    }

    bool m_toldNoAttributes = false;
};

Outcome failed(int err, const QString &message)
{
    Outcome o;
    o.error = err;
    o.message = message;
    return o;
}

Outcome succeeded()
{
    Outcome o;
    o.ok = true;
    return o;
}

// The whole copy; on failure nothing of it is left. With `flush` the destination's file
// system is synced once the copy is complete (before a move removes the source).
Outcome copyTree(const QByteArray &src, const QByteArray &dst, bool flush)
{
    const auto [srcParent, srcName] = splitPath(src);
    const auto [dstParent, dstName] = splitPath(dst);
    if (srcName.isEmpty() || dstName.isEmpty())
        return failed(EINVAL, QStringLiteral("cannot copy %1 to %2").arg(shown(src), shown(dst)));
    Fd srcDir(::open(srcParent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!srcDir.valid())
        return failed(errno, QStringLiteral("cannot open %1: %2").arg(shown(srcParent), sysMessage(errno)));
    Fd dstDir(::open(dstParent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dstDir.valid())
        return failed(errno, QStringLiteral("cannot open %1: %2").arg(shown(dstParent), sysMessage(errno)));
    Copier copier;
    const bool ok = copier.copyEntry(srcDir.get(), srcName, dstDir.get(), dstName, src, true);
    if (!ok) {
        int err = 0;
        if (copier.createdTop && !removeTree(dstDir.get(), dstName, true, &err))
            qCWarning(lcFileOps, "cannot remove the incomplete copy %s: %s", dst.constData(),
                      qUtf8Printable(sysMessage(err)));
        return failed(copier.error, copier.message);
    }
    if (flush && ::syncfs(dstDir.get()) != 0) {
        const int err = errno;
        int err2 = 0;
        removeTree(dstDir.get(), dstName, true, &err2);
        return failed(err, QStringLiteral("cannot write %1 to its disk: %2").arg(shown(dst), sysMessage(err)));
    }
    return succeeded();
}

bool exists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// A file system without RENAME_NOREPLACE: link()+unlink() refuses an existing target for
// files; for a folder an empty placeholder claims the name, and rename() may replace a folder
// only while it is empty, so nothing that appeared meanwhile is lost.
Outcome moveWithoutNoReplaceRename(const QByteArray &src, const QByteArray &dst, bool *crossDevice)
{
    struct stat st;
    if (::lstat(src.constData(), &st) != 0)
        return failed(errno, QStringLiteral("cannot move %1: %2").arg(shown(src), sysMessage(errno)));
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(dst.constData(), 0700) != 0)
            return failed(errno,
                          QStringLiteral("cannot move %1 to %2: %3").arg(shown(src), shown(dst), sysMessage(errno)));
        if (::rename(src.constData(), dst.constData()) == 0)
            return succeeded();
        const int err = errno;
        ::rmdir(dst.constData());
        if (err == EXDEV) {
            *crossDevice = true;
            return failed(err, QString());
        }
        return failed(err, QStringLiteral("cannot move %1 to %2: %3").arg(shown(src), shown(dst), sysMessage(err)));
    }
    if (::link(src.constData(), dst.constData()) == 0) {
        if (::unlink(src.constData()) == 0)
            return succeeded();
        const int err = errno;
        ::unlink(dst.constData());
        return failed(err, QStringLiteral("cannot move %1: %2").arg(shown(src), sysMessage(err)));
    }
    int err = errno;
    if (err == EXDEV) {
        *crossDevice = true;
        return failed(err, QString());
    }
    if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK) {
        // No hard links either (FAT, some network file systems): a check right before the
        // rename is the best this file system allows.
        if (exists(dst))
            err = EEXIST;
        else if (::rename(src.constData(), dst.constData()) == 0)
            return succeeded();
        else
            err = errno;
    }
    return failed(err, QStringLiteral("cannot move %1 to %2: %3").arg(shown(src), shown(dst), sysMessage(err)));
}

} // namespace

Outcome copy(const QString &source, const QString &destination)
{
    return copyTree(QFile::encodeName(source), QFile::encodeName(destination), false);
}

Outcome move(const QString &source, const QString &destination)
{
    const QByteArray src = QFile::encodeName(source);
    const QByteArray dst = QFile::encodeName(destination);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return succeeded();
    int err = errno;
    bool crossDevice = err == EXDEV;
    if (err == EINVAL || err == ENOSYS) {
        const Outcome fallback = moveWithoutNoReplaceRename(src, dst, &crossDevice);
        if (!crossDevice)
            return fallback;
        err = EXDEV;
    }
    if (!crossDevice)
        return failed(err, QStringLiteral("cannot move %1 to %2: %3").arg(source, destination, sysMessage(err)));

    // Across file systems. The source goes only after the whole copy succeeded, so first make
    // sure it could go at all: a copy that cannot be followed by the removal is pointless.
    struct stat st;
    if (::lstat(src.constData(), &st) != 0)
        return failed(errno, QStringLiteral("cannot move %1: %2").arg(source, sysMessage(errno)));
    if (exists(dst))
        return failed(EEXIST, QStringLiteral("cannot move %1 to %2: %3").arg(source, destination, sysMessage(EEXIST)));
    const QByteArray srcParent = splitPath(src).first;
    if (::access(srcParent.constData(), W_OK) != 0) {
        const int why = errno;
        return failed(why,
                      QStringLiteral("cannot remove %1 from %2: %3").arg(source, shown(srcParent), sysMessage(why)));
    }
    const Outcome copied = copyTree(src, dst, true);
    if (!copied.ok)
        return copied;
    int removeErr = 0;
    if (removeTree(AT_FDCWD, src, false, &removeErr))
        return succeeded();
    if (!S_ISDIR(st.st_mode)) {
        // One entry that could not be removed: it is still whole, so take the copy back.
        int err2 = 0;
        removeTree(AT_FDCWD, dst, true, &err2);
        return failed(removeErr, QStringLiteral("cannot remove %1: %2").arg(source, sysMessage(removeErr)));
    }
    Outcome o = failed(removeErr, QStringLiteral("copied %1 to %2, but part of the original could not be removed: %3")
                                      .arg(source, destination, sysMessage(removeErr)));
    o.copiedButSourceKept = true;
    return o;
}

bool sameFileSystem(const QString &a, const QString &b)
{
    auto deviceOf = [](const QString &path, dev_t *dev) {
        QByteArray p = QFile::encodeName(path);
        struct stat st;
        if (::lstat(p.constData(), &st) != 0) {
            p = splitPath(p).first;
            if (::stat(p.constData(), &st) != 0)
                return false;
        }
        *dev = st.st_dev;
        return true;
    };
    dev_t da = 0, db = 0;
    return deviceOf(a, &da) && deviceOf(b, &db) && da == db;
}

} // namespace FileMove
