#pragma once
// Folder walking for the event-stream backends: which folders are watched, and a fast walk
// over them with openat/fdopendir relative to the parent's descriptor (no path resolution
// per entry, no stat for entries whose type readdir already tells).
//
// Rules shared by both backends, so that they report the same folders:
// - a watched root itself is always taken, whatever its name;
// - below a root, folders whose name begins with "." and the system roots ("/proc", "/usr",
//   ...; never "/home", "/root", "/media", "/mnt") are not descended;
// - symbolic links are never followed;
// - names that are not valid UTF-8 cannot be handed on as paths: such folders are skipped
//   (counted in WalkStats::skippedNames; the caller logs once).
#include <QByteArray>
#include <QList>
#include <QSet>
#include <functional>
#include <sys/stat.h>

namespace KLFSEvents {

// True for the absolute paths of the system roots.
bool isSystemRoot(const QByteArray &path);
// True when `path` is `root` or lies below it and no folder between them (root excluded,
// `path` included) is hidden or a system root. `path` and `root` are absolute, no trailing "/".
bool isWatchedPath(const QByteArray &path, const QByteArray &root);
// The first root among `roots` under which `path` is a watched path; empty when none.
QByteArray watchedRootOf(const QByteArray &path, const QList<QByteArray> &roots);
bool isValidUtf8(const QByteArray &bytes);

struct WalkStats {
    int directories = 0;  // folders visited (the root included)
    int skippedNames = 0; // entries skipped for names that are not UTF-8
    int unreadable = 0;   // folders that could not be opened
};

struct WalkVisitor {
    // Called for every folder that is descended, with an open descriptor of it and its stat.
    // Answer false to leave it out (its children are not visited either).
    std::function<bool(const QByteArray &path, int fd, const struct stat &st)> directory;
    // When set, called for every entry that is not a folder, with its lstat (statting every
    // file costs; only the catch-up and overflow rescans ask for it).
    std::function<void(const QByteArray &dirPath, const char *name, const struct stat &st)> file;
    // Polled between folders; answer true to stop the walk early.
    std::function<bool()> cancelled;
    // Folders that are visited (directory is called) but never descended: the mount points of
    // slow volumes, watched at their top only.
    const QSet<QByteArray> *topOnly = nullptr;
};

// The mount points of slow (network) volumes: nfs, nfs4, cifs, smb3, smbfs, 9p, ceph, davfs,
// fuse.davfs2, fuse.sshfs, fuse.rclone, fuse.s3fs, fuse.gvfsd-fuse. Read from the mount table
// each time (cheap; mounts come and go).
QSet<QByteArray> slowMountPoints();
bool isSlowFileSystemType(const QString &fsType);
// Tests: every folder a walk enters first waits this long (a slow disk); 0 turns it off.
void setWalkDelayForTesting(int ms);

// Walks the tree under `root` (depth first). Answers false when the root cannot be opened.
bool walkTree(const QByteArray &root, const WalkVisitor &visitor, WalkStats *stats);

} // namespace KLFSEvents
