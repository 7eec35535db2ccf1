#pragma once
// Safe writing of Kelso's stores (the recent items, the Cooler, the settings, the event
// journal, caches) and of the private folders that hold them.
//
// QSaveFile resolves a symbolic link at the path it is given and replaces the link's target,
// so a link planted where a store lives would make Kelso rewrite any file the user can write.
// Every store writer therefore asks here first: a path that is a link (dangling or not), a
// folder, a FIFO or another non-regular file is refused with one log line naming it, and the
// store is left as it is. QSaveFile's own temporary file is safe from a planted link: it is an
// unnamed O_TMPFILE file, or a named one created with O_CREAT | O_EXCL, which fails on any
// existing name, links included.
//
// Kelso's own folders are created 0700 and its stores 0600; ones left by older versions with
// wider modes are tightened when Kelso prepares them.
#include <QString>

class QSaveFile;

namespace StoreFile {

// Creates `folder` and any missing parents with mode 0700. An existing folder owned by this
// user is tightened to 0700 (only `folder` itself: the parents may be shared). A folder path
// that is a symbolic link, or that exists but is not a folder, is refused with a log line.
bool preparePrivateFolder(const QString &folder, QString *why = nullptr);

// True when the store at `path` may be replaced: nothing is there, or a regular file. With
// `privateFolder`, the folder holding it must not be a symbolic link either (Kelso's own
// folders; the settings live in the user's config folder, which may well be a link). Logs one
// line naming the path when it refuses.
bool mayReplace(const QString &path, bool privateFolder, QString *why = nullptr);

// True when the folder holding `path` is a symbolic link (one log line the first time). A
// store read through such a folder is not moved aside, as that would rename a file elsewhere.
bool folderIsLink(const QString &path);

// Opens `file` for writing after mayReplace(file.fileName()), and gives the new content mode
// 0600 whatever the old file's mode was.
bool open(QSaveFile &file, bool privateFolder, QString *why = nullptr);

// Replaces the store behind `file` by `data`: open() as above, then the bytes are written,
// flushed and synced before the rename, so that an error found only when the buffer goes out (a
// full disk) fails the write instead of leaving an empty store behind a successful commit, and
// a crash leaves the old store or the new one. Answers false with the reason otherwise.
bool write(QSaveFile &file, const QByteArray &data, bool privateFolder, QString *why = nullptr);

// Sets a store left with a wider mode by an older version to 0600 (a regular file owned by
// this user; links and anything else are left alone).
void tightenMode(const QString &path);

// Opens an existing store for appending, never through a symbolic link and never blocking on
// a FIFO; answers the descriptor (close-on-exec) or -1 with errno set. A non-regular file
// gives -1 with errno EINVAL.
int openForAppend(const QString &path);

// Reads a whole store of at most `maxBytes`, never through a symbolic link and never blocking
// on a FIFO (a FIFO, a folder or a device is refused). Answers false with a reason otherwise.
bool readAll(const QString &path, QByteArray *out, QString *why, qint64 maxBytes = 256 * 1024 * 1024);

} // namespace StoreFile
