#pragma once
// Mounted volumes from /proc/self/mountinfo, and a notification when the table changes
// (the kernel wakes poll() on that file with POLLPRI/POLLERR at every mount and unmount).
#include <QList>
#include <QObject>
#include <QString>

struct MountEntry {
    QString mountPoint; // unescaped ("\040" → " ")
    QString fsType;     // e.g. "ext4", "nfs4", "fuse.sshfs"
    QString source;
};

namespace Mounts {
// Parses mountinfo text; malformed lines are skipped.
QList<MountEntry> parseMountInfo(const QByteArray &text);
// The current table of this process (or of `mountInfoPath` when given, for tests).
QList<MountEntry> currentMounts();
// Overrides the file read by currentMounts() (tests); empty restores /proc/self/mountinfo.
void setMountInfoPathForTesting(const QString &path);
// The mount point that holds `path` (longest matching prefix), or "/".
QString mountPointOfPath(const QString &path, const QList<MountEntry> &mounts);
QString mountPointOfPath(const QString &path);
} // namespace Mounts

// Emits changed() on the main thread whenever the mount table changes.
class MountWatcher : public QObject
{
    Q_OBJECT
public:
    static MountWatcher &instance();

Q_SIGNALS:
    void changed();

private:
    MountWatcher();
    int m_fd = -1;
};
