#pragma once
// Property lists <-> QVariant, on libplist.
//
// Supported values: QString, qint64/int/quint64 (integers), double, bool, QDateTime
// (dates, 2001-01-01 reference), QByteArray (data), QVariantList (arrays), QVariantMap
// (dictionaries). Writing always produces binary plist 1.0; reading accepts binary and XML.
// Integers read back as qint64; an unsigned 64-bit value above INT64_MAX keeps its bits
// (read it with toULongLong()).
//
// Reading is bounded, because the files come from the disk and libplist 2.2 is not: it
// recurses once per level (a file nested 100,000 deep overflows the stack, and its parse time
// grows with the square of the depth) and it copies a binary object once per reference (a few
// hundred bytes of shared references expand to millions of values). fromData() therefore checks
// the structure itself, without recursion, before libplist sees the bytes, and refuses:
// - more than kMaxDepth levels (a lone value is 1 level, an array holding it 2, and so on);
// - more than kMaxValues values once shared objects are counted at every reference;
// - more than kMaxBytes bytes, and binary object references that form a loop.
#include <QByteArray>
#include <QString>
#include <QVariant>

namespace Plist {

constexpr int kMaxDepth = 512;
constexpr qint64 kMaxValues = 1000000;
constexpr qint64 kMaxBytes = 32 * 1024 * 1024;

// Binary plist 1.0 bytes for `value`, or empty with *error set when a value has no plist form
// or is nested deeper than kMaxDepth (what is written can always be read back).
QByteArray toBinary(const QVariant &value, QString *error = nullptr);

// Binary plist bytes of a date given in microseconds since 1970-01-01 UTC (QDateTime only
// carries milliseconds); empty with *error set outside the range a plist date can hold.
QByteArray binaryDate(qint64 microsecondsSinceEpoch, QString *error = nullptr);

// Parses binary or XML plist bytes; an invalid QVariant with *error set when they do not parse
// or go past one of the limits above.
QVariant fromData(const QByteArray &data, QString *error = nullptr);

// True when the bytes start with the binary plist magic "bplist00".
bool isBinary(const QByteArray &data);

} // namespace Plist
