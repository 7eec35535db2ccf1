#include "platform/PlistFile.h"

#include "platform/Plist.h"
#include "util/UniqueFd.h"

#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlistFile {

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device, not a file");
    return QStringLiteral("not a regular file");
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

Bytes readBytes(const QString &path, qint64 maxBytes)
{
    if (maxBytes <= 0)
        maxBytes = Plist::kMaxBytes;
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {Status::Missing, {}, {}};
        return {Status::Unreadable, {}, errnoText(errno)};
    }
    if (S_ISDIR(st.st_mode))
        return {Status::Unreadable, {}, QStringLiteral("a folder, not a file")};
    if (!S_ISREG(st.st_mode))
        return {Status::Bad, {}, kindOf(st.st_mode)};
    if (st.st_size > maxBytes)
        return {Status::Bad, {}, QStringLiteral("larger than %1 bytes").arg(maxBytes)};

    // O_NONBLOCK: should a FIFO have taken the file's place since the look above, opening it
    // does not wait for a writer and reading it does not wait for data.
    const UniqueFd file(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.valid()) {
        if (errno == ENOENT)
            return {Status::Missing, {}, {}};
        return {Status::Unreadable, {}, errnoText(errno)};
    }
    if (::fstat(file.get(), &st) != 0)
        return {Status::Unreadable, {}, errnoText(errno)};
    if (!S_ISREG(st.st_mode))
        return {Status::Bad, {}, kindOf(st.st_mode)};

    // Read to the end, but never past the limit: the file may grow while it is read.
    QByteArray bytes;
    bytes.resize(qsizetype(std::min<qint64>(st.st_size, maxBytes) + 1));
    qint64 got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > maxBytes)
                return {Status::Bad, {}, QStringLiteral("larger than %1 bytes").arg(maxBytes)};
            bytes.resize(qsizetype(std::min<qint64>(got * 2, maxBytes + 1)));
        }
        const ssize_t n = ::read(file.get(), bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {Status::Unreadable, {}, errnoText(errno)};
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes)
        return {Status::Bad, {}, QStringLiteral("larger than %1 bytes").arg(maxBytes)};
    bytes.truncate(qsizetype(got));
    return {Status::Read, bytes, {}};
}

Parsed read(const QString &path)
{
    Bytes raw = readBytes(path);
    if (raw.status != Status::Read)
        return {raw.status, {}, raw.why};
    if (raw.bytes.isEmpty())
        return {Status::Bad, {}, QStringLiteral("empty file")};
    QString error;
    QVariant value = Plist::fromData(raw.bytes, &error);
    if (!value.isValid())
        return {Status::Bad, {}, error.isEmpty() ? QStringLiteral("not a property list") : error};
    return {Status::Read, value, {}};
}

QString moveAside(const QString &path, QString *error)
{
    const QString stem = path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray from = QFile::encodeName(path);
    for (int n = 1; n < 1000; ++n) {
        const QString aside = n == 1 ? stem : stem + QLatin1Char('-') + QString::number(n);
        // Never over an earlier rescued copy: the rename refuses to replace.
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, QFile::encodeName(aside).constData(), RENAME_NOREPLACE) ==
            0)
            return aside;
        if (errno == EEXIST)
            continue;
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without no-replace renames: QFile::rename() checks first.
            if (QFile::exists(aside))
                continue;
            QFile file(path);
            if (file.rename(aside))
                return aside;
            if (error)
                *error = file.errorString();
            return {};
        }
        if (error)
            *error = errnoText(errno);
        return {};
    }
    if (error)
        *error = QStringLiteral("too many copies already moved aside");
    return {};
}

} // namespace PlistFile
