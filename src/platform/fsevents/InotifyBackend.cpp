// inotify backend: one watch per folder under the watched roots.
//
// Bookkeeping: wd → path and path → wd. Watches follow inodes, so a renamed folder keeps its
// watches and only the paths under it are rewritten; a folder moved out of the roots has its
// watches removed (else they would report paths that no longer exist). New folders are
// walked and watched as they appear, and reported together with every folder below them,
// because files may have been created in them before their watch existed.
//
// A full kernel queue (IN_Q_OVERFLOW) loses events, so the roots are walked again: watches
// are added for folders that are new, dropped for folders that are gone, and every folder
// with a time after the last complete read is reported. The stream never stops over it.
//
// Running out of watches (ENOSPC, fs.inotify.max_user_watches) is logged once, with the
// number the limit must be raised to; the folders already watched keep working.
#include "platform/fsevents/Backend.h"
#include "platform/fsevents/DirWalk.h"
#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace KLFSEvents {

namespace {

constexpr quint32 kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY |
                               IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::atomic<int> g_watchBudget{-1};

double nowUnix()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

double newestTime(const struct stat &st)
{
    const double m = double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    const double c = double(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9;
    return m > c ? m : c;
}

QByteArray join(const QByteArray &dir, const char *name)
{
    QByteArray p = dir;
    if (p.size() > 1)
        p.append('/');
    p.append(name);
    return p;
}

bool isAtOrBelow(const QByteArray &path, const QByteArray &dir)
{
    return path == dir || (path.startsWith(dir) && path.size() > dir.size() && (path[dir.size()] == '/' || dir == "/"));
}

long readWatchLimit()
{
    QFile f(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().trimmed().toLong();
}

class InotifyBackend final : public Backend
{
public:
    explicit InotifyBackend(Sink *sink) : m_sink(sink) {}
    ~InotifyBackend() override = default;

    QString name() const override { return QStringLiteral("inotify"); }
    int fd() const override { return m_fd.get(); }
    int directoryCount() const override { return int(m_pathOfWd.size()); }

    bool start(const QList<QByteArray> &roots, QString *why) override
    {
        m_fd.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!m_fd.valid()) {
            if (why)
                *why = QStringLiteral("inotify_init1: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        m_roots = roots;
        m_slow = slowMountPoints();
        m_lastCompleteRead = nowUnix();
        QStringList unreadable;
        for (const QByteArray &root : roots) {
            watchTopFolders(root);
            WalkStats stats;
            if (!walkTree(root, watchVisitor(), &stats)) {
                qCWarning(lcFsEvents, "cannot watch %s: %s", root.constData(), strerror(errno));
                unreadable.append(QString::fromLocal8Bit(root));
            }
            noteSkipped(stats);
        }
        const bool limitAtOnce = m_outOfWatches && m_pathOfWd.isEmpty();
        const int missed = m_missed;
        reportMissedWatches();
        if (m_pathOfWd.isEmpty() && !m_sink->stopRequested()) {
            // Nothing to report changes from: say so rather than run as if all were well.
            if (why) {
                if (limitAtOnce)
                    *why = QStringLiteral("the inotify watch limit (fs.inotify.max_user_watches = %1) is reached; "
                                          "none of %2 folders could be watched")
                               .arg(readWatchLimit())
                               .arg(missed);
                else
                    *why =
                        QStringLiteral("no watched root can be read (%1)").arg(unreadable.join(QStringLiteral(", ")));
            }
            return false;
        }
        return true;
    }

    int unwatchedCount() const override { return m_unwatched; }

    void readEvents() override
    {
        alignas(struct inotify_event) char buf[64 * 1024];
        bool overflow = false;
        const double readStart = nowUnix();
        for (;;) {
            const ssize_t n = ::read(m_fd.get(), buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && !m_warnedRead) {
                    m_warnedRead = true;
                    qCWarning(lcFsEvents, "reading inotify events failed: %s", strerror(errno));
                }
                break;
            }
            if (n == 0)
                break;
            for (char *p = buf; p < buf + n;) {
                const auto *ev = reinterpret_cast<const struct inotify_event *>(p);
                p += sizeof(struct inotify_event) + ev->len;
                if (ev->mask & IN_Q_OVERFLOW) {
                    overflow = true;
                    continue;
                }
                handle(ev);
            }
        }
        // Both halves of a rename are queued together, so a move-from still unpaired once the
        // queue is empty went out of the watched folders.
        for (const PendingMove &m : m_moves)
            if (m.isDir)
                removeWatchesUnder(m.path);
        m_moves.clear();
        if (overflow) {
            qCInfo(lcFsEvents, "the inotify event queue overflowed; rescanning the watched folders");
            rescanAll(IN_Q_OVERFLOW);
        } else {
            m_lastCompleteRead = readStart;
        }
    }

    void rescanAll(quint32 reasonMask) override
    {
        // Everything after the last read that emptied the queue may have been lost (2 s slack
        // for coarse file-system timestamps).
        const double since = m_lastCompleteRead - 2.0;
        m_lastCompleteRead = nowUnix();
        QSet<int> seen;
        QSet<QByteArray> report;
        WalkVisitor v;
        v.directory = [&](const QByteArray &path, int, const struct stat &st) {
            const bool known = m_wdOfPath.contains(path);
            const int wd = addWatch(path);
            if (wd >= 0)
                seen.insert(wd);
            if (!known || newestTime(st) >= since)
                report.insert(path);
            return true;
        };
        v.file = [&](const QByteArray &dir, const char *name, const struct stat &st) {
            if (name[0] != '.' && newestTime(st) >= since)
                report.insert(dir);
        };
        v.cancelled = [this] { return m_sink->stopRequested(); };
        v.topOnly = &m_slow;
        for (const QByteArray &root : m_roots) {
            WalkStats stats;
            walkTree(root, v, &stats);
            noteSkipped(stats);
        }
        if (m_sink->stopRequested())
            return; // a cut walk did not meet every folder: keep the watches
        // Watches whose folder was not met again were deleted or moved away meanwhile.
        const QList<int> wds = m_pathOfWd.keys();
        for (int wd : wds)
            if (!seen.contains(wd)) {
                ::inotify_rm_watch(m_fd.get(), wd);
                m_wdOfPath.remove(m_pathOfWd.take(wd));
            }
        reportMissedWatches();
        QList<QByteArray> sorted(report.begin(), report.end());
        std::sort(sorted.begin(), sorted.end());
        for (const QByteArray &dir : sorted)
            m_sink->changed(dir, reasonMask | kMaskRescan);
    }

private:
    struct PendingMove {
        quint32 cookie;
        QByteArray path;
        bool isDir;
    };

    WalkVisitor watchVisitor()
    {
        WalkVisitor v;
        v.directory = [this](const QByteArray &path, int, const struct stat &) {
            addWatch(path);
            return true; // keep walking even without watches left, to count what is missing
        };
        v.cancelled = [this] { return m_sink->stopRequested(); };
        v.topOnly = &m_slow;
        return v;
    }

    // The root and the folders right under it (Downloads, Desktop, Documents…) first: new files
    // mostly arrive there, so when a deep tree uses up the watch limit, the deep tree is what
    // goes unwatched. The walk that follows meets them again at no cost.
    void watchTopFolders(const QByteArray &root)
    {
        const int missedBefore = m_missed;
        const QStringList namedBefore = m_missedPaths;
        WalkVisitor v;
        v.directory = [this, &root](const QByteArray &path, int, const struct stat &) {
            addWatch(path);
            return path == root;
        };
        v.cancelled = [this] { return m_sink->stopRequested(); };
        v.topOnly = &m_slow;
        WalkStats ignored; // counted by the whole walk
        walkTree(root, v, &ignored);
        // A limit met already here is counted again by the whole walk: count it once.
        m_missed = missedBefore;
        m_missedPaths = namedBefore;
    }

    int addWatch(const QByteArray &path)
    {
        if (m_outOfWatches) {
            auto it = m_wdOfPath.constFind(path);
            if (it != m_wdOfPath.constEnd())
                return it.value();
            noteMissed(path);
            return -1;
        }
        int wd;
        if (m_budget >= 0 && m_pathOfWd.size() >= m_budget && !m_wdOfPath.contains(path)) {
            wd = -1;
            errno = ENOSPC;
        } else {
            wd = ::inotify_add_watch(m_fd.get(), path.constData(), kWatchMask);
        }
        if (wd < 0) {
            if (errno == ENOSPC) {
                m_outOfWatches = true;
                noteMissed(path);
            }
            return -1; // EACCES, ENOENT (vanished): nothing to watch
        }
        auto old = m_pathOfWd.find(wd);
        if (old != m_pathOfWd.end() && old.value() != path) {
            // The same folder under a new path (a rename we did not see whole).
            m_wdOfPath.remove(old.value());
        }
        m_pathOfWd.insert(wd, path);
        m_wdOfPath.insert(path, wd);
        return wd;
    }

    void noteMissed(const QByteArray &path)
    {
        ++m_missed;
        if (m_missedPaths.size() < kNamedUnwatched)
            m_missedPaths.append(QString::fromUtf8(path));
    }

    void reportMissedWatches()
    {
        if (m_missed == 0)
            return;
        m_unwatched = m_missed;
        if (!m_warnedLimit) {
            m_warnedLimit = true;
            const long limit = readWatchLimit();
            // Round the suggestion up to a tidy number with room for growth.
            const long needed = ((limit + m_missed + m_missed / 4 + 1023) / 1024) * 1024;
            QString named = m_missedPaths.join(QStringLiteral(", "));
            if (m_missed > m_missedPaths.size())
                named += QStringLiteral(" and %1 more").arg(m_missed - m_missedPaths.size());
            qCWarning(
                lcFsEvents,
                "the inotify watch limit is reached; %d folders are not watched: %s. Raise "
                "fs.inotify.max_user_watches from %ld to at least %ld (sysctl -w fs.inotify.max_user_watches=%ld)",
                m_missed, qUtf8Printable(named), limit, needed, needed);
        }
        m_missed = 0;
        m_missedPaths.clear();
        // Watches may be freed later (folders deleted); try again at the next new folder.
        m_outOfWatches = false;
    }

    void noteSkipped(const WalkStats &stats)
    {
        if (stats.skippedNames > 0 && !m_warnedNames) {
            m_warnedNames = true;
            qCWarning(lcFsEvents, "%d folders with names that are not UTF-8 are not watched", stats.skippedNames);
        }
    }

    void handle(const struct inotify_event *ev)
    {
        auto it = m_pathOfWd.constFind(ev->wd);
        if (it == m_pathOfWd.constEnd())
            return; // a watch removed meanwhile
        const QByteArray dir = it.value();
        if (ev->mask & IN_IGNORED) {
            m_pathOfWd.remove(ev->wd);
            auto back = m_wdOfPath.find(dir);
            if (back != m_wdOfPath.end() && back.value() == ev->wd)
                m_wdOfPath.erase(back);
            return;
        }
        if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            // The parent's watch reports the change; only a root has no watched parent.
            if (m_roots.contains(dir)) {
                m_sink->changed(dir, ev->mask | kMaskRootChanged);
                if (ev->mask & IN_MOVE_SELF)
                    removeWatchesUnder(dir); // its paths are unknown now
            }
            return;
        }
        if (ev->len == 0 || ev->name[0] == 0) {
            m_sink->changed(dir, ev->mask);
            return;
        }
        const QByteArray child = join(dir, ev->name);
        const bool isDir = ev->mask & IN_ISDIR;
        m_sink->changed(dir, ev->mask);
        if (ev->mask & IN_MOVED_FROM) {
            m_moves.push_back({ev->cookie, child, isDir});
        } else if (ev->mask & IN_MOVED_TO) {
            auto m = std::find_if(m_moves.begin(), m_moves.end(),
                                  [&](const PendingMove &pm) { return pm.cookie == ev->cookie; });
            if (m != m_moves.end()) {
                const PendingMove from = *m;
                m_moves.erase(m);
                m_sink->renamed(from.path, child);
                if (isDir)
                    moveWatches(from.path, child);
            } else if (isDir) {
                newFolder(child); // moved in from outside the roots
            }
        } else if ((ev->mask & IN_CREATE) && isDir) {
            newFolder(child);
        }
    }

    bool watchable(const QByteArray &path) const { return !watchedRootOf(path, m_roots).isEmpty(); }

    bool onSlowVolume(const QByteArray &path) const
    {
        for (const QByteArray &mp : m_slow)
            if (path.startsWith(mp) && path.size() > mp.size() && path[mp.size()] == '/')
                return true;
        return false;
    }

    void newFolder(const QByteArray &path)
    {
        if (!watchable(path) || onSlowVolume(path))
            return; // a slow volume is watched at its top only
        std::vector<QByteArray> found;
        WalkVisitor v;
        v.directory = [&](const QByteArray &p, int, const struct stat &) {
            addWatch(p);
            found.push_back(p);
            return true;
        };
        v.cancelled = [this] { return m_sink->stopRequested(); };
        v.topOnly = &m_slow;
        WalkStats stats;
        walkTree(path, v, &stats);
        noteSkipped(stats);
        reportMissedWatches();
        // Files made before the watches existed would go unseen otherwise: each folder is
        // reported as new, and a client lists it whole.
        for (const QByteArray &p : found)
            m_sink->changed(p, IN_CREATE | IN_ISDIR | kMaskRescan | kMaskNewFolder);
    }

    void moveWatches(const QByteArray &from, const QByteArray &to)
    {
        const bool wasWatched = m_wdOfPath.contains(from);
        if (!watchable(to)) {
            removeWatchesUnder(from);
            return;
        }
        if (!wasWatched) {
            newFolder(to); // e.g. a hidden folder renamed to a visible name
            return;
        }
        QList<QPair<int, QByteArray>> moved;
        for (auto it = m_pathOfWd.begin(); it != m_pathOfWd.end(); ++it)
            if (isAtOrBelow(it.value(), from))
                moved.append({it.key(), it.value()});
        for (const auto &[wd, old] : moved) {
            m_wdOfPath.remove(old);
            const QByteArray now = to + old.mid(from.size());
            m_pathOfWd.insert(wd, now);
            m_wdOfPath.insert(now, wd);
        }
    }

    void removeWatchesUnder(const QByteArray &dir)
    {
        QList<int> gone;
        for (auto it = m_pathOfWd.begin(); it != m_pathOfWd.end(); ++it)
            if (isAtOrBelow(it.value(), dir))
                gone.append(it.key());
        for (int wd : gone) {
            ::inotify_rm_watch(m_fd.get(), wd);
            m_wdOfPath.remove(m_pathOfWd.take(wd));
        }
    }

    Sink *m_sink;
    UniqueFd m_fd;
    const int m_budget = g_watchBudget.load();
    QList<QByteArray> m_roots;
    QHash<int, QByteArray> m_pathOfWd;
    QHash<QByteArray, int> m_wdOfPath;
    std::vector<PendingMove> m_moves;
    double m_lastCompleteRead = 0;
    static constexpr int kNamedUnwatched = 5; // folders named in the log line
    QSet<QByteArray> m_slow;
    int m_missed = 0;
    int m_unwatched = 0;
    QStringList m_missedPaths;
    bool m_outOfWatches = false;
    bool m_warnedLimit = false;
    bool m_warnedRead = false;
    bool m_warnedNames = false;
};

} // namespace

void setInotifyWatchBudgetForTesting(int watches)
{
    g_watchBudget = watches;
}

std::unique_ptr<Backend> makeInotifyBackend(Sink *sink)
{
    return std::make_unique<InotifyBackend>(sink);
}

} // namespace KLFSEvents
