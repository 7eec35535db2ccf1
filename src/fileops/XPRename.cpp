#include "fileops/XPRename.h"

#include "fileops/XPOpenWith.h"
#include "util/Localized.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace XPFileUtils {

namespace {

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

bool itemExists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

RenamePlan planRename(const QString &path, const QString &newName)
{
    RenamePlan plan;
    const QString current = path.section(QLatin1Char('/'), -1);
    if (newName == current) {
        plan.status = RenamePlan::Unchanged;
        return plan;
    }
    if (newName.contains(QLatin1Char('/')) || newName.contains(QChar(0))) {
        plan.message = KLLocalized(QStringLiteral("XPRenameInvalidCharacter"), {newName});
        return plan;
    }
    QString stem = newName;
    const QString newExt = pathExtension(newName);
    if (!newExt.isEmpty())
        stem.chop(newExt.size() + 1);
    if (stem.size() < 2 || newName.startsWith(QLatin1Char('.')))
        return plan;

    QString targetName = newName;
    const QString currentExt = pathExtension(current);
    if (newExt.isEmpty() && !currentExt.isEmpty())
        targetName += QLatin1Char('.') + currentExt;
    const QString folder = folderOf(path);
    plan.target = folder == QLatin1String("/") ? QLatin1Char('/') + targetName : folder + QLatin1Char('/') + targetName;
    if (plan.target == path) {
        plan.status = RenamePlan::Unchanged;
        return plan;
    }
    if (itemExists(plan.target)) {
        plan.message = KLLocalized(QStringLiteral("XPRenameNameTaken"), {targetName});
        return plan;
    }
    plan.status = RenamePlan::Ready;
    return plan;
}

RenamePlan renameFile(const QString &path, const QString &newName)
{
    RenamePlan plan = planRename(path, newName);
    if (plan.status != RenamePlan::Ready)
        return plan;
    QString why;
    if (!moveItemWithoutReplacing(path, plan.target, &why)) {
        qWarning("Kelso: cannot rename %s: %s", qUtf8Printable(path), qUtf8Printable(why));
        plan.status = RenamePlan::Refused;
        plan.message = why;
    }
    return plan;
}

bool moveItemWithoutReplacing(const QString &source, const QString &destination, QString *error)
{
    const QByteArray src = QFile::encodeName(source);
    const QByteArray dst = QFile::encodeName(destination);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system without no-replace renames: link() refuses an existing target.
        if (itemExists(destination)) {
            err = EEXIST;
        } else if (::link(src.constData(), dst.constData()) == 0) {
            if (::unlink(src.constData()) == 0)
                return true;
            err = errno;
            ::unlink(dst.constData());
        } else {
            err = errno;
        }
    }
    if (err == EXDEV) {
        struct stat st;
        if (::lstat(src.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            // QFile::copy never replaces an existing file.
            QFile in(source);
            if (in.copy(destination)) {
                if (QFile::remove(source))
                    return true;
                QFile::remove(destination);
                if (error)
                    *error = QStringLiteral("cannot remove the original after copying");
                return false;
            }
            if (error)
                *error = in.errorString();
            return false;
        }
    }
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(err));
    return false;
}

} // namespace XPFileUtils
