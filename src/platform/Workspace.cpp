#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <atomic>

namespace Workspace {

namespace {
std::atomic<bool> g_warnedNoFileManager{false};

bool callFileManager(const QString &method, const QStringList &paths)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QStringList uris;
        for (const QString &p : paths)
            uris.append(QUrl::fromLocalFile(p).toString(QUrl::FullyEncoded));
        QDBusInterface fm(QStringLiteral("org.freedesktop.FileManager1"),
                          QStringLiteral("/org/freedesktop/FileManager1"),
                          QStringLiteral("org.freedesktop.FileManager1"), bus);
        if (fm.isValid()) {
            QDBusMessage reply = fm.call(method, uris, QString());
            if (reply.type() == QDBusMessage::ReplyMessage)
                return true;
        }
    }
    if (!g_warnedNoFileManager.exchange(true))
        qWarning("Kelso: no file manager answers org.freedesktop.FileManager1.%s on the session bus",
                 qUtf8Printable(method));
    return false;
}
} // namespace

bool showItemProperties(const QString &path)
{
    return callFileManager(QStringLiteral("ShowItemProperties"), {path});
}

bool showItems(const QStringList &paths)
{
    if (paths.isEmpty())
        return false;
    if (callFileManager(QStringLiteral("ShowItems"), paths))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(paths.first()).absolutePath()));
}

bool openFile(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace Workspace
