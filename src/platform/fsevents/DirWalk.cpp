#include "platform/fsevents/DirWalk.h"

#include "platform/Mounts.h"
#include "util/UniqueFd.h"

#include <QFile>
#include <QStringDecoder>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace KLFSEvents {

namespace {
constexpr int kMaxDepth = 200; // deeper trees are cut (and each level holds one descriptor)
std::atomic<int> g_walkDelayMs{0};

const char *const kSystemRoots[] = {"/tmp",  "/proc", "/sys",        "/dev",   "/run",    "/boot", "/bin",
                                    "/sbin", "/lib",  "/lib32",      "/lib64", "/libx32", "/usr",  "/etc",
                                    "/var",  "/snap", "/lost+found", "/net",   "/cores"};

struct Walker {
    const WalkVisitor &v;
    WalkStats *stats;
    QByteArray path; // the current folder; grows and shrinks as the walk goes

    void walk(UniqueFd fd, const struct stat &st, int depth)
    {
        if (v.directory && !v.directory(path, fd.get(), st))
            return;
        ++stats->directories;
        if (v.topOnly && depth >= 0 && v.topOnly->contains(path))
            return; // a slow volume: its top only, never walked file by file
        if (const int delay = g_walkDelayMs.load())
            ::usleep(useconds_t(delay) * 1000);
        DIR *dir = ::fdopendir(fd.get());
        if (!dir) {
            ++stats->unreadable;
            return;
        }
        fd.release(); // the DIR owns it now
        const int dfd = ::dirfd(dir);
        while (dirent *e = ::readdir(dir)) {
            const char *name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            unsigned char type = e->d_type;
            struct stat cst;
            bool haveStat = false;
            if (type == DT_UNKNOWN || (type != DT_DIR && v.file)) {
                if (::fstatat(dfd, name, &cst, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // vanished meanwhile
                haveStat = true;
                type = S_ISDIR(cst.st_mode) ? DT_DIR : DT_REG;
            }
            const qsizetype nameLen = qsizetype(std::strlen(name));
            if (type != DT_DIR) {
                if (v.file && haveStat)
                    v.file(path, name, cst);
                continue;
            }
            if (name[0] == '.')
                continue; // hidden folders are not descended
            if (!isValidUtf8(QByteArray::fromRawData(name, nameLen))) {
                ++stats->skippedNames;
                continue;
            }
            if (depth + 1 > kMaxDepth)
                continue;
            const qsizetype oldLen = path.size();
            if (path.size() > 1)
                path.append('/');
            path.append(name, nameLen);
            if (!isSystemRoot(path) && !(v.cancelled && v.cancelled())) {
                UniqueFd cfd(::openat(dfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
                if (!cfd.valid()) {
                    ++stats->unreadable;
                } else {
                    struct stat dst;
                    if (::fstat(cfd.get(), &dst) == 0)
                        walk(std::move(cfd), dst, depth + 1);
                }
            }
            path.truncate(oldLen);
        }
        ::closedir(dir);
    }
};
} // namespace

bool isSystemRoot(const QByteArray &path)
{
    if (path.size() < 2 || path[0] != '/' || path.indexOf('/', 1) >= 0)
        return false;
    for (const char *r : kSystemRoots)
        if (path == r)
            return true;
    return false;
}

bool isWatchedPath(const QByteArray &path, const QByteArray &root)
{
    if (path == root)
        return true;
    qsizetype pos;
    if (root == "/") {
        pos = 0;
    } else {
        if (!path.startsWith(root) || path.size() <= root.size() || path[root.size()] != '/')
            return false;
        pos = root.size();
    }
    // pos points at the "/" before the next component.
    while (pos < path.size()) {
        const qsizetype next = path.indexOf('/', pos + 1);
        const qsizetype end = next < 0 ? path.size() : next;
        if (end == pos + 1)
            return false; // "//" never occurs in a clean path
        if (path[pos + 1] == '.')
            return false;
        if (isSystemRoot(path.left(end)))
            return false;
        pos = end;
    }
    return true;
}

QByteArray watchedRootOf(const QByteArray &path, const QList<QByteArray> &roots)
{
    for (const QByteArray &r : roots)
        if (isWatchedPath(path, r))
            return r;
    return QByteArray();
}

bool isValidUtf8(const QByteArray &bytes)
{
    for (char c : bytes)
        if (quint8(c) >= 0x80)
            goto slow;
    return true;
slow:
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = dec(bytes);
    return !dec.hasError();
}

bool isSlowFileSystemType(const QString &fsType)
{
    static const QSet<QString> slow = {QStringLiteral("nfs"),
                                       QStringLiteral("nfs4"),
                                       QStringLiteral("cifs"),
                                       QStringLiteral("smb3"),
                                       QStringLiteral("smbfs"),
                                       QStringLiteral("9p"),
                                       QStringLiteral("ceph"),
                                       QStringLiteral("davfs"),
                                       QStringLiteral("fuse.davfs2"),
                                       QStringLiteral("fuse.sshfs"),
                                       QStringLiteral("fuse.rclone"),
                                       QStringLiteral("fuse.s3fs"),
                                       QStringLiteral("fuse.gvfsd-fuse"),
                                       QStringLiteral("webdav")};
    return slow.contains(fsType);
}

QSet<QByteArray> slowMountPoints()
{
    QSet<QByteArray> out;
    for (const MountEntry &m : Mounts::currentMounts())
        if (isSlowFileSystemType(m.fsType))
            out.insert(QFile::encodeName(m.mountPoint));
    return out;
}

void setWalkDelayForTesting(int ms)
{
    g_walkDelayMs = ms;
}

bool walkTree(const QByteArray &root, const WalkVisitor &visitor, WalkStats *stats)
{
    WalkStats local;
    if (!stats)
        stats = &local;
    UniqueFd fd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        ++stats->unreadable;
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return false;
    Walker w{visitor, stats, root};
    w.walk(std::move(fd), st, 0);
    return true;
}

} // namespace KLFSEvents
