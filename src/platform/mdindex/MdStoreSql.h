#pragma once
// Functions shared by the Store's source files (inside the platform layer only).
#include <QString>

struct sqlite3_stmt;

namespace MdIndex {
void bindText(sqlite3_stmt *st, int i, const QString &s);
QString columnText(sqlite3_stmt *st, int i);
// The running system boot's id (empty when the kernel does not say).
QString currentBootId();
// The meta key of an index whose first walk has not been synced: the boot it was written in.
inline constexpr const char *kUnsyncedBootKey = "unsynced_boot";
} // namespace MdIndex
