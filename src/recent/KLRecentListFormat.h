#pragma once
// The ranked recent list as text: the JSON of the command line and of the D-Bus method
// RecentItems, and the plain one-line-per-item form of `kelso recent`.
//
// JSON: an array of objects {"path", "title", "subtitle", "time" (Unix seconds, integer)}
// plus "stack" (array of paths) for stacks. Plain: "title<TAB>subtitle<TAB>path" per item,
// each field escaped (escapeForLine); a stack's subtitle carries its count.
#include "recent/KLItem.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>

namespace KLRecentListFormat {
QJsonArray toJsonArray(const QList<KLItemPtr> &items);
QByteArray toJson(const QList<KLItemPtr> &items);
// Plain text from the JSON array (so the same text results whether the list came from the
// running instance or from the store).
QString plainFromJson(const QJsonArray &array);
QString toPlainText(const QList<KLItemPtr> &items);
// A field of a plain line: "\\" for a backslash, "\t", "\n", "\r" for those characters, so
// that a file name holding one never splits or shifts a line.
QString escapeForLine(const QString &field);
} // namespace KLRecentListFormat
