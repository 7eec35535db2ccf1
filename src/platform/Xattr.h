#pragma once
// Extended attributes, never following symbolic links. Names are given without the "user."
// namespace prefix, which this layer adds ("com.apple.metadata:kMDItemStarRating" is stored as
// "user.com.apple.metadata:kMDItemStarRating"). Failures report errno values; a missing
// attribute is ENODATA (Linux's ENOATTR).
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Xattr {

QByteArray userName(const QString &name); // "user." + name, UTF-8

// Reads at most `maxSize` bytes. On failure returns false with *err = errno; a value larger
// than maxSize gives ERANGE.
bool get(const QString &path, const QString &name, QByteArray *value, int *err, qsizetype maxSize = 65536);
// Size of the value, or -1 with *err set.
qint64 size(const QString &path, const QString &name, int *err = nullptr);
bool set(const QString &path, const QString &name, const QByteArray &value, int *err);
bool remove(const QString &path, const QString &name, int *err);
// Names in the user namespace, without the "user." prefix.
bool list(const QString &path, QStringList *names, int *err);

} // namespace Xattr
