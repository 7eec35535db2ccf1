#include "app/DPOpenAtLogin.h"

#include "platform/Autostart.h"

#include <QCoreApplication>
#include <QDir>

namespace DPOpenAtLogin {

namespace {
QString g_testPath;
}

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

bool loginItemExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    for (const Autostart::Entry &e : Autostart::entries()) {
        if (e.programPath.startsWith(path))
            return true;
    }
    return false;
}

bool enableLoginItem(const QString &path)
{
    QString error;
    if (!Autostart::addEntry(QStringLiteral("kelso.desktop"), path, &error)) {
        qWarning("Kelso: cannot add the login item: %s", qUtf8Printable(error));
        return false;
    }
    return true;
}

void disableLoginItem(const QString &path)
{
    if (path.isEmpty())
        return;
    for (const Autostart::Entry &e : Autostart::entries()) {
        if (e.programPath.startsWith(path))
            Autostart::removeEntry(e);
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
