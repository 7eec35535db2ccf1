#include "platform/Mounts.h"

#include <QFile>
#include <QSocketNotifier>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace Mounts {

namespace {
std::mutex g_pathMutex;
QString g_mountInfoPath;

QString unescapeOctal(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray oct = field.mid(i + 1, 3);
            bool ok = false;
            const int v = oct.toInt(&ok, 8);
            if (ok && oct.size() == 3) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}
} // namespace

QList<MountEntry> parseMountInfo(const QByteArray &text)
{
    // Line: id parent major:minor root mountpoint options [optional...] - fstype source superopts
    QList<MountEntry> mounts;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 6 || dash + 1 >= fields.size())
            continue;
        MountEntry e;
        e.mountPoint = unescapeOctal(fields[4]);
        e.fsType = QString::fromLatin1(fields.value(dash + 1));
        e.source = unescapeOctal(fields.value(dash + 2));
        if (e.mountPoint.startsWith(QLatin1Char('/')))
            mounts.append(e);
    }
    return mounts;
}

void setMountInfoPathForTesting(const QString &path)
{
    std::lock_guard lock(g_pathMutex);
    g_mountInfoPath = path;
}

QList<MountEntry> currentMounts()
{
    QString path;
    {
        std::lock_guard lock(g_pathMutex);
        path = g_mountInfoPath.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : g_mountInfoPath;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) // procfs files report size 0: read until EOF
        return {};
    return parseMountInfo(file.readAll());
}

QString mountPointOfPath(const QString &path, const QList<MountEntry> &mounts)
{
    QString best = QStringLiteral("/");
    for (const MountEntry &m : mounts) {
        const QString &mp = m.mountPoint;
        if (mp.size() <= best.size())
            continue;
        if (path == mp || (path.startsWith(mp) && path.at(mp.size()) == QLatin1Char('/')))
            best = mp;
    }
    return best;
}

QString mountPointOfPath(const QString &path)
{
    return mountPointOfPath(path, currentMounts());
}

} // namespace Mounts

MountWatcher &MountWatcher::instance()
{
    static MountWatcher *watcher = new MountWatcher; // lives for the process
    return *watcher;
}

MountWatcher::MountWatcher()
{
    m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    // mountinfo signals a change as an exceptional condition (POLLPRI).
    auto *notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char buf[4096];
        ::lseek(m_fd, 0, SEEK_SET);
        while (::read(m_fd, buf, sizeof buf) > 0) {
        }
        Q_EMIT changed();
    });
}
