#include "platform/KLDBusClient.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace KLDBusClient {

bool sessionBusAvailable(QString *why)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        return true;
    if (why)
        *why = QStringLiteral("no D-Bus session bus (%1)").arg(bus.lastError().message());
    return false;
}

bool instanceRunning()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value();
}

bool canBeStarted()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<QStringList> names = bus.interface()->activatableServiceNames();
    return names.isValid() && names.value().contains(QString::fromLatin1(kService));
}

namespace {

bool send(const QString &method, const QVariantList &args, bool mayStart, QVariant *result, QString *why, int timeoutMs)
{
    if (!sessionBusAvailable(why))
        return false;
    if (!instanceRunning() && !(mayStart && canBeStarted())) {
        if (why)
            *why = QStringLiteral("Kelso is not running");
        return false;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                      QString::fromLatin1(kInterface), method);
    msg.setArguments(args);
    msg.setAutoStartService(mayStart);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(msg, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (why)
            *why = reply.errorMessage().isEmpty() ? QStringLiteral("no answer from Kelso") : reply.errorMessage();
        return false;
    }
    if (result && !reply.arguments().isEmpty())
        *result = reply.arguments().first();
    return true;
}

} // namespace

bool call(const QString &method, const QVariantList &args, QVariant *result, QString *why, int timeoutMs)
{
    return send(method, args, false, result, why, timeoutMs);
}

bool callStarting(const QString &method, QString *why, int timeoutMs)
{
    return send(method, {}, true, nullptr, why, timeoutMs);
}

} // namespace KLDBusClient
