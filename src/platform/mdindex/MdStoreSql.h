#pragma once
// Functions shared by the Store's source files (inside the platform layer only).
#include <QString>

struct sqlite3_stmt;

namespace MdIndex {
void bindText(sqlite3_stmt *st, int i, const QString &s);
QString columnText(sqlite3_stmt *st, int i);
} // namespace MdIndex
