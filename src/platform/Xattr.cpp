#include "platform/Xattr.h"

#include <QFile>
#include <cerrno>
#include <sys/xattr.h>

namespace Xattr {

QByteArray userName(const QString &name)
{
    return QByteArrayLiteral("user.") + name.toUtf8();
}

bool get(const QString &path, const QString &name, QByteArray *value, int *err, qsizetype maxSize)
{
    const QByteArray p = QFile::encodeName(path);
    const QByteArray n = userName(name);
    QByteArray buf(maxSize, Qt::Uninitialized);
    const ssize_t got = ::lgetxattr(p.constData(), n.constData(), buf.data(), size_t(buf.size()));
    if (got < 0) {
        if (err)
            *err = errno;
        return false;
    }
    buf.truncate(got);
    *value = buf;
    return true;
}

qint64 size(const QString &path, const QString &name, int *err)
{
    const ssize_t got = ::lgetxattr(QFile::encodeName(path).constData(), userName(name).constData(), nullptr, 0);
    if (got < 0 && err)
        *err = errno;
    return got;
}

bool set(const QString &path, const QString &name, const QByteArray &value, int *err)
{
    const int rc = ::lsetxattr(QFile::encodeName(path).constData(), userName(name).constData(), value.constData(),
                               size_t(value.size()), 0);
    if (rc != 0 && err)
        *err = errno;
    return rc == 0;
}

bool remove(const QString &path, const QString &name, int *err)
{
    const int rc = ::lremovexattr(QFile::encodeName(path).constData(), userName(name).constData());
    if (rc != 0 && err)
        *err = errno;
    return rc == 0;
}

bool list(const QString &path, QStringList *names, int *err)
{
    const QByteArray p = QFile::encodeName(path);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t needed = ::llistxattr(p.constData(), nullptr, 0);
        if (needed < 0) {
            if (err)
                *err = errno;
            return false;
        }
        QByteArray buf(needed, Qt::Uninitialized);
        const ssize_t got = ::llistxattr(p.constData(), buf.data(), size_t(buf.size()));
        if (got < 0 && errno == ERANGE)
            continue; // grew between the two calls
        if (got < 0) {
            if (err)
                *err = errno;
            return false;
        }
        names->clear();
        for (const QByteArray &entry : buf.left(got).split('\0')) {
            if (entry.startsWith("user."))
                names->append(QString::fromUtf8(entry.mid(5)));
        }
        return true;
    }
    if (err)
        *err = ERANGE;
    return false;
}

} // namespace Xattr
