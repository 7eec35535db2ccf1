#include "app/DPOpenAtLogin.h"

#include "platform/Autostart.h"
#include "util/Logging.h"

#include <QCoreApplication>
#include <QDir>

namespace DPOpenAtLogin {

namespace {
QString g_testPath;
} // namespace

QString applicationPath()
{
    if (!g_testPath.isEmpty())
        return g_testPath;
    return QCoreApplication::applicationFilePath();
}

void setApplicationPathForTesting(const QString &path)
{
    g_testPath = path;
}

namespace {
// An entry belongs to `path` when its program path begins with it at a folder boundary: the
// program itself, or anything inside it when `path` is a folder. A plain string prefix would
// also claim "/opt/kelso-old/kelso" for "/opt/kelso" — another copy in another folder.
bool entryPointsInto(const Autostart::Entry &entry, const QString &path)
{
    if (entry.programPath.isEmpty() || !entry.programPath.startsWith(QLatin1Char('/')))
        return false;
    const QString program = QDir::cleanPath(entry.programPath);
    const QString base = QDir::cleanPath(path);
    if (program == base)
        return true;
    return program.startsWith(base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/'));
}
} // namespace

bool loginItemExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    for (const Autostart::Entry &e : Autostart::entries()) {
        if (entryPointsInto(e, path))
            return true;
    }
    return false;
}

bool enableLoginItem(const QString &path)
{
    QString error;
    if (!Autostart::addEntry(QStringLiteral("kelso.desktop"), path, &error)) {
        qCWarning(lcPlatform, "cannot add the login item: %s", qUtf8Printable(error));
        return false;
    }
    return true;
}

void disableLoginItem(const QString &path)
{
    if (path.isEmpty())
        return;
    for (const Autostart::Entry &e : Autostart::entries()) {
        if (entryPointsInto(e, path) && !Autostart::removeEntry(e))
            qCWarning(lcPlatform, "cannot remove the login item %s", qUtf8Printable(e.file));
    }
}

bool openAtLoginEnabled()
{
    return loginItemExists(applicationPath());
}

void toggleLoginItem()
{
    const QString path = applicationPath();
    if (path.isEmpty())
        return;
    if (openAtLoginEnabled())
        disableLoginItem(path);
    else
        enableLoginItem(path);
}

} // namespace DPOpenAtLogin
