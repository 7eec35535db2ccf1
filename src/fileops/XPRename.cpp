#include "fileops/XPRename.h"

#include "fileops/XPOpenWith.h"
#include "platform/FileMove.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <climits>
#include <sys/stat.h>

XPFileMoveNotifier *XPFileMoveNotifier::instance()
{
    static XPFileMoveNotifier *notifier = new XPFileMoveNotifier;
    return notifier;
}

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
    // Checked here rather than left to the rename, whose "File name too long" would not say
    // that the limit counts bytes (a name of 128 accented letters is 256 bytes).
    const qsizetype bytes = targetName.toUtf8().size();
    if (bytes > NAME_MAX) {
        plan.message =
            KLLocalized(QStringLiteral("XPRenameNameTooLong"), {QString::number(bytes), QString::number(NAME_MAX)});
        return plan;
    }
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
        qCWarning(lcFileOps, "cannot rename %s: %s", qUtf8Printable(path), qUtf8Printable(why));
        plan.status = RenamePlan::Refused;
        plan.message = why;
    }
    return plan;
}

bool moveItemWithoutReplacing(const QString &source, const QString &destination, QString *error)
{
    const FileMove::Outcome outcome = FileMove::move(source, destination);
    if (!outcome.ok) {
        if (error)
            *error = outcome.message;
        return false;
    }
    Q_EMIT XPFileMoveNotifier::instance()->itemMoved(source, destination);
    return true;
}

} // namespace XPFileUtils
