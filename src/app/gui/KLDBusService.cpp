#include "app/gui/KLDBusService.h"

#include "app/KLDBusClient.h"
#include "app/gui/KLAppDelegate.h"
#include "kelsoappadaptor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>
#include <memory>
#include <mutex>

KLDBusService::KLDBusService(KLAppDelegate *delegate) : QObject(delegate), m_delegate(delegate)
{
    new AppAdaptor(this);
}

bool KLDBusService::registerOnSessionBus(QString *why)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *why = QStringLiteral("no D-Bus session bus: single-instance and control commands are unavailable");
        return false;
    }
    // The object first: a call that arrives as soon as the name is ours must find it.
    if (!bus.registerObject(QString::fromLatin1(KLDBusClient::kPath), this)) {
        *why = QStringLiteral("cannot export %1").arg(QString::fromLatin1(KLDBusClient::kPath));
        return false;
    }
    if (!bus.registerService(QString::fromLatin1(KLDBusClient::kService))) {
        *why = QStringLiteral("the bus name %1 is taken: %2")
                   .arg(QString::fromLatin1(KLDBusClient::kService), bus.lastError().message());
        bus.unregisterObject(QString::fromLatin1(KLDBusClient::kPath));
        return false;
    }
    return true;
}

void KLDBusService::Show() { m_delegate->show(); }
void KLDBusService::Hide() { m_delegate->hide(); }
void KLDBusService::Toggle() { m_delegate->toggle(); }
// Quitting from inside a D-Bus call would tear the connection down before the reply goes
// out; answer first, then quit.
void KLDBusService::Quit() { QTimer::singleShot(0, m_delegate, [d = m_delegate] { d->quit(); }); }
void KLDBusService::OpenFiles(const QStringList &paths) { m_delegate->openFiles(paths); }
QString KLDBusService::RecentItems(const QString &folder)
{
    if (!calledFromDBus()) {
        // A direct call gets the answer only when it is ready at once (no event stream).
        struct Answer {
            std::mutex mutex;
            QString json = QStringLiteral("[]");
        };
        auto answer = std::make_shared<Answer>();
        m_delegate->recentItemsJson(folder, [answer](const QString &json) {
            std::lock_guard lock(answer->mutex);
            answer->json = json;
        });
        std::lock_guard lock(answer->mutex);
        return answer->json;
    }
    // The list needs the disk: reply when it is ready, never holding up this thread.
    setDelayedReply(true);
    m_delegate->recentItemsJson(folder, [request = message(), bus = connection()](const QString &json) {
        QDBusConnection(bus).send(request.createReply(json));
    });
    return QString();
}

QString KLDBusService::RecentStatus() { return m_delegate->recentStatusJson(); }
QString KLDBusService::CoolerItems() { return m_delegate->coolerItemsJson(); }
void KLDBusService::AddToCooler(const QStringList &paths, int index) { m_delegate->addToCooler(paths, index); }
void KLDBusService::RemoveFromCooler(const QStringList &paths) { m_delegate->removeFromCooler(paths); }
