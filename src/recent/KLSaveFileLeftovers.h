#pragma once
// Temporary files that QSaveFile left behind next to one of our stores.
//
// How Qt 6.4 writes a store with QSaveFile (checked on Debian 12, Qt 6.4.2): where the file
// system supports O_TMPFILE (ext4, xfs, btrfs, tmpfs) the new content goes to an unnamed file
// that is linked over the store at commit, so a process killed mid-write leaves nothing. Where
// it does not (NFS, CIFS, many FUSE file systems), Qt writes to a named file in the same folder,
// "<store name>." followed by six random ASCII letters ("recentItems.plist.HJexjr"), and a
// SIGKILL before the commit leaves that file for good. Nothing in Qt removes it again.
//
// Kelso sweeps them when it reads a store at start. Only names of exactly that form for the
// exact store name go; never the store itself, a "<store>.corrupt-<time>" copy kept for the
// user, a symbolic link, a folder or another user's file. Since every store we write is a
// binary plist, a leftover is empty or begins with (a prefix of) "bplist"; anything else is
// kept. A file changed within the last kMinAgeSeconds may still be written by another
// process (the command-line tools write the Cooler store) and is kept until a later start.
// Writers in this process must not run during the sweep: callers hold their store's write lock.
#include <QString>

namespace KLSaveFileLeftovers {

inline constexpr double kMinAgeSeconds = 10.0;

// True when `fileName` (a name, not a path) is what QSaveFile names its temporary file for the
// store named `storeName`.
bool isLeftoverName(const QString &fileName, const QString &storeName);

// Removes the leftovers of the store at `storePath` (regular files of this user, matching name,
// plist content or empty, unchanged for `minAgeSeconds`). Answers how many were removed; writes
// one log line when it removed any or could not remove one. Never follows symbolic links.
int removeLeftovers(const QString &storePath, double minAgeSeconds = kMinAgeSeconds);

} // namespace KLSaveFileLeftovers
