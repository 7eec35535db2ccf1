#pragma once
// The Cooler's store, coolerItems.plist in KLPaths::applicationSupportFolder().
//
// Format: a binary plist {"version": 1, "items": [item archive…]} in the user's order, each
// item in KLItem's archive form ("bookmarkData", "path", "overrideDate", "stack"). The file is
// rewritten whole through QSaveFile (written, flushed, then renamed over the old one), so a
// crash leaves either the old or the new store, never half of one.
//
// Reading: a missing file is an empty Cooler. A file that cannot be parsed, or that has an
// unknown version, is moved aside as "coolerItems.plist.corrupt-<time>" (one log line) so that
// the next write does not destroy what may still be rescued, and the Cooler starts empty.
// Entries that name no file are skipped; duplicates keep their first place; at most 100 items.
//
// Items are made on whichever thread reads; KLItem is safe to hand between threads.
//
// Temporary files of writes cut short by a kill (QSaveFile's "coolerItems.plist.XXXXXX" on file
// systems without O_TMPFILE) are swept at start by removeLeftovers(), off the main thread.
#include "recent/KLItem.h"

#include <QList>
#include <QString>
#include <QThreadPool>

namespace KLCoolerStore {
inline constexpr int kVersion = 1;

enum class ReadStatus { Read, Missing, MovedAside, Unreadable };

// The store path; the folder (with missing parents) is created on the first call of the run.
QString pathForStateFile();

QList<KLItemPtr> read(const QString &path, ReadStatus *status = nullptr, QString *why = nullptr);
// Starts read(path) on a background thread and returns at once; the next read(path) takes that
// result, waiting for it if need be, instead of reading again. At start-up the disk work of
// the store and of its items (each is checked on the disk as it is made) overlaps the making
// of the window. Does nothing while an earlier read ahead is still untaken.
void readAhead(const QString &path);
// False with *why when the file could not be written (the old one is then left as it was).
bool write(const QString &path, const QList<KLItemPtr> &items, QString *why = nullptr);
// The same on the background pool, returning at once (a failure is logged). Writes of one store
// land in the order they were asked for: an older list never replaces a newer one.
void writeInBackground(const QString &path, const QList<KLItemPtr> &items);
// Waits until the background pool is idle (every write asked for so far has been made), at
// most `msecs` (-1: no limit). False when time ran out.
bool waitForBackgroundWork(int msecs = -1);

// The pool for the Cooler's disk work (reading ahead, sweeping, looking into the trash): never
// Qt's global pool, which QPainter waits on.
QThreadPool &backgroundPool();

// Removes the temporary files that killed writes of the store at `path` left behind (see
// KLSaveFileLeftovers); never runs while a write() of this process runs. Answers the count.
int removeLeftovers(const QString &path);
// The same on a pool thread, for callers on the main thread.
void removeLeftoversInBackground(const QString &path);

// The list as the JSON array of the command-line tools: one object per item with "path",
// "title", "subtitle", "time" (Unix seconds) and, for stacks, "stack".
QByteArray toJson(const QList<KLItemPtr> &items);
} // namespace KLCoolerStore
