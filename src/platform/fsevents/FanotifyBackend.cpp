// fanotify backend: one FAN_MARK_FILESYSTEM mark per volume holding a watched root, with
// FAN_REPORT_DFID_NAME, so each event names the changed folder by file handle plus the entry
// name. No per-folder setup: new folders are covered at once, and the queue is unlimited.
//
// Folder handles become paths through open_by_handle_at() on a descriptor of the volume and
// the /proc/self/fd link; resolved handles are cached (and the cache dropped when a folder is
// renamed or deleted, since cached paths below it would be wrong). The volume reports every
// change, so events outside the roots, in hidden folders or in system roots are dropped here,
// as the inotify backend would never see them. Events caused by this process are ignored:
// otherwise Kelso's own writes (stores, caches, journal) would feed it forever.
//
// Renames come as one FAN_RENAME event with the old and the new place where the kernel offers
// it (5.17+); without it renames are still reported as changes of both folders.
#include "platform/fsevents/Backend.h"
#include "platform/fsevents/DirWalk.h"
#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QHash>
#include <QSet>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/fanotify.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace KLFSEvents {

namespace {

constexpr quint64 kBaseMask =
    FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM | FAN_MOVED_TO | FAN_MODIFY | FAN_CLOSE_WRITE | FAN_ATTRIB | FAN_ONDIR;
constexpr int kCacheLimit = 16384;

int initGroup()
{
    return ::fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE | FAN_REPORT_DFID_NAME,
                           O_RDONLY | O_LARGEFILE | O_CLOEXEC);
}

class FanotifyBackend final : public Backend
{
public:
    explicit FanotifyBackend(Sink *sink) : m_sink(sink), m_pid(::getpid()) {}
    // The volumes' descriptors close first, then the group's (members go in reverse order).
    ~FanotifyBackend() override = default;

    QString name() const override { return QStringLiteral("fanotify"); }
    int fd() const override { return m_fd.get(); }
    int directoryCount() const override { return m_dirs; }

    bool start(const QList<QByteArray> &roots, QString *why) override
    {
        m_fd.reset(initGroup());
        if (!m_fd.valid()) {
            if (why)
                *why = QStringLiteral("fanotify_init: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        m_roots = roots;
        m_slow = slowMountPoints();
        for (const QByteArray &root : roots) {
            UniqueFd rfd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!rfd.valid()) {
                qCWarning(lcFsEvents, "cannot watch %s: %s", root.constData(), strerror(errno));
                continue;
            }
            struct statfs sfs;
            if (::fstatfs(rfd.get(), &sfs) != 0)
                continue;
            Volume vol;
            std::memcpy(vol.fsid, &sfs.f_fsid, sizeof vol.fsid);
            if (m_slow.contains(root)) {
                // A slow volume is watched at its top only: a mark on the folder itself, which
                // reports what is made, removed or renamed in it.
                if (::fanotify_mark(m_fd.get(), FAN_MARK_ADD | FAN_MARK_ONLYDIR, kBaseMask, rfd.get(), nullptr) != 0) {
                    qCWarning(lcFsEvents, "cannot watch %s: %s", root.constData(), strerror(errno));
                } else if (volumeFd(vol.fsid) < 0) {
                    vol.fd = std::move(rfd);
                    m_volumes.push_back(std::move(vol)); // its descriptor turns the volume's handles into paths
                }
                continue;
            }
            if (volumeFd(vol.fsid) >= 0)
                continue; // this volume is marked already
            int rc = ::fanotify_mark(m_fd.get(), FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kBaseMask | FAN_RENAME, rfd.get(),
                                     nullptr);
            if (rc != 0 && errno == EINVAL)
                rc = ::fanotify_mark(m_fd.get(), FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kBaseMask, rfd.get(), nullptr);
            if (rc != 0) {
                const int err = errno;
                if (why)
                    *why = QStringLiteral("fanotify_mark on %1: %2")
                               .arg(QString::fromLocal8Bit(root), QString::fromLocal8Bit(strerror(err)));
                // One volume that cannot be marked would leave a hole: let the caller fall back.
                return false;
            }
            vol.fd = std::move(rfd);
            m_volumes.push_back(std::move(vol));
        }
        if (m_volumes.empty()) {
            if (why && why->isEmpty())
                *why = QStringLiteral("no watched root can be read");
            return false;
        }
        return true;
    }

    void readEvents() override
    {
        alignas(struct fanotify_event_metadata) char buf[128 * 1024];
        bool overflow = false;
        for (;;) {
            ssize_t len = ::read(m_fd.get(), buf, sizeof buf);
            if (len < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && !m_warnedRead) {
                    m_warnedRead = true;
                    qCWarning(lcFsEvents, "reading fanotify events failed: %s", strerror(errno));
                }
                break;
            }
            if (len == 0)
                break;
            // Events are only 4-byte aligned in the buffer (info records are padded to 4), and
            // the metadata holds a 64-bit mask: copy each header out instead of casting.
            size_t off = 0;
            while (off + FAN_EVENT_METADATA_LEN <= size_t(len)) {
                struct fanotify_event_metadata meta;
                std::memcpy(&meta, buf + off, sizeof meta);
                if (meta.event_len < FAN_EVENT_METADATA_LEN || off + meta.event_len > size_t(len) ||
                    meta.metadata_len > meta.event_len)
                    break;
                const char *base = buf + off;
                off += meta.event_len;
                if (meta.vers != FANOTIFY_METADATA_VERSION) {
                    if (!m_warnedRead) {
                        m_warnedRead = true;
                        qCWarning(lcFsEvents, "unexpected fanotify metadata version %d", int(meta.vers));
                    }
                    return;
                }
                const UniqueFd notAskedFor(meta.fd); // never asked for, but never leaked either
                if (meta.mask & FAN_Q_OVERFLOW) {
                    overflow = true;
                    continue;
                }
                if (meta.pid == m_pid)
                    continue;
                handle(meta, base);
            }
        }
        if (overflow) {
            qCInfo(lcFsEvents, "the fanotify event queue overflowed; rescanning the watched folders");
            rescanAll(FAN_Q_OVERFLOW);
        }
    }

    void rescanAll(quint32 reasonMask) override
    {
        // Nothing to re-arm: the marks cover every folder. Report every folder (there is no
        // reliable time of the loss), which the client's own scan-back window keeps cheap.
        m_cache.clear();
        std::vector<QByteArray> found;
        WalkVisitor v;
        v.directory = [&](const QByteArray &path, int, const struct stat &) {
            found.push_back(path);
            return true;
        };
        v.cancelled = [this] { return m_sink->stopRequested(); };
        v.topOnly = &m_slow;
        for (const QByteArray &root : m_roots)
            walkTree(root, v, nullptr);
        m_dirs = int(found.size());
        for (const QByteArray &dir : found)
            m_sink->changed(dir, reasonMask | kMaskRescan);
    }

private:
    struct Volume {
        char fsid[8];
        UniqueFd fd;
    };

    int volumeFd(const void *fsid) const
    {
        for (const Volume &v : m_volumes)
            if (std::memcmp(v.fsid, fsid, sizeof v.fsid) == 0)
                return v.fd.get();
        return -1;
    }

    // The kernel's records are trusted, but never read past one: the handle and the
    // NUL-terminated name must fit inside the record's length.
    static bool fidRecordIsSound(const struct fanotify_event_info_fid *fid, size_t len)
    {
        const size_t fixed = sizeof(struct fanotify_event_info_fid) + sizeof(struct file_handle);
        if (len < fixed)
            return false;
        auto *fh = reinterpret_cast<const struct file_handle *>(fid->handle);
        if (fh->handle_bytes > len - fixed)
            return false;
        const size_t nameRoom = len - fixed - fh->handle_bytes;
        if (fid->hdr.info_type == FAN_EVENT_INFO_TYPE_DFID)
            return true;
        const char *name = reinterpret_cast<const char *>(fh->f_handle + fh->handle_bytes);
        return nameRoom > 0 && ::memchr(name, 0, nameRoom) != nullptr;
    }

    // The watched path of the folder a file-handle record names; empty when outside the roots
    // or gone.
    QByteArray folderOf(const struct fanotify_event_info_fid *fid, const char **name)
    {
        auto *fh = reinterpret_cast<const struct file_handle *>(fid->handle);
        *name = fid->hdr.info_type == FAN_EVENT_INFO_TYPE_DFID
                    ? ""
                    : reinterpret_cast<const char *>(fh->f_handle + fh->handle_bytes);
        QByteArray key(reinterpret_cast<const char *>(&fid->fsid), sizeof fid->fsid);
        key.append(reinterpret_cast<const char *>(&fh->handle_type), sizeof fh->handle_type);
        key.append(reinterpret_cast<const char *>(fh->f_handle), int(fh->handle_bytes));
        auto it = m_cache.constFind(key);
        if (it != m_cache.constEnd())
            return it.value();
        const int mfd = volumeFd(&fid->fsid);
        if (mfd < 0)
            return QByteArray();
        // open_by_handle_at wants a writable struct file_handle.
        std::vector<char> copy(sizeof(struct file_handle) + fh->handle_bytes);
        std::memcpy(copy.data(), fh, copy.size());
        const UniqueFd dfd(
            ::open_by_handle_at(mfd, reinterpret_cast<struct file_handle *>(copy.data()), O_PATH | O_CLOEXEC));
        if (!dfd.valid())
            return QByteArray(); // ESTALE: the folder is gone already
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", dfd.get());
        char target[4096];
        const ssize_t n = ::readlink(link, target, sizeof target - 1);
        if (n <= 0)
            return QByteArray();
        QByteArray path(target, int(n));
        if (path.endsWith(" (deleted)") || !path.startsWith('/'))
            return QByteArray();
        if (watchedRootOf(path, m_roots).isEmpty() || !isValidUtf8(path))
            path = QByteArray(); // cached as "not ours"
        if (m_cache.size() >= kCacheLimit)
            m_cache.clear();
        m_cache.insert(key, path);
        return path;
    }

    void handle(const struct fanotify_event_metadata &meta, const char *base)
    {
        const char *p = base + meta.metadata_len;
        const char *end = base + meta.event_len;
        QByteArray dir, oldDir, newDir;
        QByteArray name, oldName, newName;
        while (p + sizeof(struct fanotify_event_info_header) <= end) {
            auto *hdr = reinterpret_cast<const struct fanotify_event_info_header *>(p);
            if (hdr->len == 0 || p + hdr->len > end)
                break;
            const auto *fid = reinterpret_cast<const struct fanotify_event_info_fid *>(p);
            const char *n = nullptr;
            const bool isFid = hdr->info_type == FAN_EVENT_INFO_TYPE_DFID_NAME ||
                               hdr->info_type == FAN_EVENT_INFO_TYPE_DFID ||
                               hdr->info_type == FAN_EVENT_INFO_TYPE_OLD_DFID_NAME ||
                               hdr->info_type == FAN_EVENT_INFO_TYPE_NEW_DFID_NAME;
            if (isFid && !fidRecordIsSound(fid, hdr->len)) {
                p += hdr->len;
                continue;
            }
            switch (hdr->info_type) {
            case FAN_EVENT_INFO_TYPE_DFID_NAME:
            case FAN_EVENT_INFO_TYPE_DFID:
                dir = folderOf(fid, &n);
                if (hdr->info_type == FAN_EVENT_INFO_TYPE_DFID_NAME)
                    name = n;
                break;
            case FAN_EVENT_INFO_TYPE_OLD_DFID_NAME:
                oldDir = folderOf(fid, &n);
                oldName = n;
                break;
            case FAN_EVENT_INFO_TYPE_NEW_DFID_NAME:
                newDir = folderOf(fid, &n);
                newName = n;
                break;
            default:
                break;
            }
            p += hdr->len;
        }
        const quint64 mask = meta.mask;
        if (mask & FAN_RENAME) {
            if ((mask & FAN_ONDIR))
                m_cache.clear();
            if (!oldDir.isEmpty() && !newDir.isEmpty() && !oldName.isEmpty() && !newName.isEmpty())
                m_sink->renamed(join(oldDir, oldName), join(newDir, newName));
            // A folder renamed inside the roots brings nothing new; one moved in from outside
            // them does (its FAN_MOVED_TO follows this event).
            if ((mask & FAN_ONDIR) && !oldDir.isEmpty() && !newDir.isEmpty() && !newName.isEmpty())
                m_renamedInside = join(newDir, newName);
            // The folders' changes arrive as FAN_MOVED_FROM / FAN_MOVED_TO of their own.
            if (!(mask & ~quint64(FAN_RENAME | FAN_ONDIR)))
                return;
        }
        if ((mask & FAN_ONDIR) && (mask & (FAN_DELETE | FAN_MOVED_FROM)))
            m_cache.clear();
        if (dir.isEmpty())
            return;
        m_sink->changed(dir, quint32(mask & ~quint64(FAN_RENAME)));
        if ((mask & FAN_ONDIR) && (mask & (FAN_CREATE | FAN_MOVED_TO)) && !name.isEmpty() && name != ".") {
            ++m_dirs;
            const QByteArray child = join(dir, name);
            const bool inside = (mask & FAN_MOVED_TO) && child == m_renamedInside;
            m_renamedInside.clear();
            if (!inside)
                newFolder(child);
        }
    }

    // A folder made or moved in: it (and every folder below it) is listed and reported as
    // new, so that files written into it before its events were read, and the contents of a
    // tree moved in whole (which brings no event of its own), are seen.
    void newFolder(const QByteArray &path)
    {
        if (watchedRootOf(path, m_roots).isEmpty() || !isValidUtf8(path))
            return;
        for (const QByteArray &mp : m_slow)
            if (path.startsWith(mp) && path.size() > mp.size() && path[mp.size()] == '/')
                return; // a slow volume is watched at its top only
        std::vector<QByteArray> found;
        WalkVisitor v;
        v.directory = [&](const QByteArray &p, int, const struct stat &) {
            found.push_back(p);
            return true;
        };
        v.cancelled = [this] { return m_sink->stopRequested(); };
        v.topOnly = &m_slow;
        walkTree(path, v, nullptr);
        m_dirs += int(found.size()) - 1;
        for (const QByteArray &p : found)
            m_sink->changed(p, FAN_CREATE | FAN_ONDIR | kMaskRescan | kMaskNewFolder);
    }

    static QByteArray join(const QByteArray &dir, const QByteArray &name)
    {
        if (name.isEmpty() || name == ".")
            return dir;
        return dir.size() > 1 ? dir + '/' + name : dir + name;
    }

    Sink *m_sink;
    pid_t m_pid;
    UniqueFd m_fd;
    int m_dirs = 0;
    QList<QByteArray> m_roots;
    std::vector<Volume> m_volumes;
    QSet<QByteArray> m_slow;
    QByteArray m_renamedInside; // the target of the last folder rename inside the roots
    QHash<QByteArray, QByteArray> m_cache;
    bool m_warnedRead = false;
};

} // namespace

std::unique_ptr<Backend> makeFanotifyBackend(Sink *sink)
{
    return std::make_unique<FanotifyBackend>(sink);
}

bool fanotifyPermitted()
{
    static const bool permitted = [] {
        const UniqueFd fd(initGroup());
        if (!fd.valid())
            return false;
        // Creating the group is allowed to unprivileged users on new kernels; filesystem marks
        // are what needs CAP_SYS_ADMIN, so try one on the root folder.
        return ::fanotify_mark(fd.get(), FAN_MARK_ADD | FAN_MARK_FILESYSTEM, FAN_CREATE | FAN_ONDIR, AT_FDCWD, "/") ==
               0;
    }();
    return permitted;
}

} // namespace KLFSEvents
