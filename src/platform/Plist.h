#pragma once
// Property lists <-> QVariant, on libplist.
//
// Supported values: QString, qint64/int/quint64 (integers), double, bool, QDateTime
// (dates, 2001-01-01 reference), QByteArray (data), QVariantList (arrays), QVariantMap
// (dictionaries). Writing always produces binary plist 1.0; reading accepts binary and XML.
// Integers read back as qint64; an unsigned 64-bit value above INT64_MAX keeps its bits
// (read it with toULongLong()).
#include <QByteArray>
#include <QString>
#include <QVariant>

namespace Plist {

// Binary plist 1.0 bytes for `value`, or empty with *error set when a value has no plist form.
QByteArray toBinary(const QVariant &value, QString *error = nullptr);

// Parses binary or XML plist bytes; an invalid QVariant with *error set when they do not parse.
QVariant fromData(const QByteArray &data, QString *error = nullptr);

// True when the bytes start with the binary plist magic "bplist00".
bool isBinary(const QByteArray &data);

} // namespace Plist
