#include "platform/x11/PortalGlobalHotKey.h"

#include "platform/x11/XkbKeymap.h"
#include "util/Logging.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &arg, const PortalShortcut &s)
{
    arg.beginStructure();
    arg << s.id << s.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, PortalShortcut &s)
{
    arg.beginStructure();
    arg >> s.id >> s.properties;
    arg.endStructure();
    return arg;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

const QString PortalGlobalHotKey::kShortcutId = QStringLiteral("toggle");

PortalGlobalHotKey::PortalGlobalHotKey(const QDBusConnection &bus, QObject *parent)
    : GlobalHotKeyBackend(parent), m_bus(bus), m_keymap(XkbKeymap::fromNames())
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

PortalGlobalHotKey::~PortalGlobalHotKey() = default;

QString PortalGlobalHotKey::triggerFor(quint16 keyCode, quint64 flags) const
{
    QStringList parts;
    if (flags & HotKeyFlags::kControl)
        parts << QStringLiteral("CTRL");
    if (flags & HotKeyFlags::kOption)
        parts << QStringLiteral("ALT");
    if (flags & HotKeyFlags::kShift)
        parts << QStringLiteral("SHIFT");
    if (flags & HotKeyFlags::kCommand)
        parts << QStringLiteral("LOGO");
    const QString key = m_keymap ? m_keymap->keysymName(keyCode) : QString();
    if (key.isEmpty())
        return {};
    parts << key;
    return parts.join(QLatin1Char('+'));
}

void PortalGlobalHotKey::callWithRequest(const QString &method, QList<QVariant> args, const QString &token,
                                         const char *slot)
{
    // The request object's path: the caller's unique name without ':' and with '.' as '_'.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    m_bus.connect(kPortalService, requestPath, kRequestInterface, QStringLiteral("Response"), this, slot);

    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kInterface, method);
    call.setArguments(args);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, method] {
        watcher->deleteLater();
        if (watcher->isError())
            fail(QStringLiteral("the desktop portal has no global shortcuts (%1: %2)")
                     .arg(method, watcher->error().message()));
    });
}

GlobalHotKeyBackend::Result PortalGlobalHotKey::registerKey(quint16 keyCode, quint64 flags)
{
    if (m_state == State::Failed)
        return Result::Unavailable;
    m_acting = true;
    if (m_state != State::Idle)
        return Result::Registered; // bound once per session, or on its way
    m_trigger = triggerFor(keyCode, flags);
    m_state = State::CreatingSession;
    QVariantMap options;
    const QString token = QStringLiteral("kelso%1").arg(++m_tokens);
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("kelso_session"));
    callWithRequest(QStringLiteral("CreateSession"), {options}, token,
                    SLOT(onCreateSessionResponse(uint, QVariantMap)));
    return Result::Registered;
}

void PortalGlobalHotKey::onCreateSessionResponse(uint response, const QVariantMap &results)
{
    if (m_state != State::CreatingSession)
        return;
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    m_session = handle.canConvert<QDBusObjectPath>() && handle.userType() == qMetaTypeId<QDBusObjectPath>()
                    ? handle.value<QDBusObjectPath>().path()
                    : handle.toString();
    if (response != 0 || m_session.isEmpty()) {
        fail(QStringLiteral("the desktop portal refused a global-shortcuts session (response %1)").arg(response));
        return;
    }
    m_state = State::Binding;
    // Subscribed once the portal has answered: a subscription made before the portal's name
    // had an owner did not receive the signals of the owner that came later.
    m_bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    PortalShortcut shortcut;
    shortcut.id = kShortcutId;
    shortcut.properties.insert(QStringLiteral("description"), QStringLiteral("Show or hide Kelso"));
    if (!m_trigger.isEmpty())
        shortcut.properties.insert(QStringLiteral("preferred_trigger"), m_trigger);
    QVariantMap options;
    const QString token = QStringLiteral("kelso%1").arg(++m_tokens);
    options.insert(QStringLiteral("handle_token"), token);
    callWithRequest(QStringLiteral("BindShortcuts"),
                    {QVariant::fromValue(QDBusObjectPath(m_session)),
                     QVariant::fromValue(QList<PortalShortcut>{shortcut}), QString(), options},
                    token, SLOT(onBindResponse(uint, QVariantMap)));
}

void PortalGlobalHotKey::onBindResponse(uint response, const QVariantMap &)
{
    if (m_state != State::Binding)
        return;
    if (response != 0) {
        fail(QStringLiteral("the shortcut was not bound (the desktop answered %1)").arg(response));
        return;
    }
    m_state = State::Bound;
    qCInfo(lcPrefs, "global shortcut bound through the desktop portal (proposed %s)", qUtf8Printable(m_trigger));
}

void PortalGlobalHotKey::onActivated(const QDBusObjectPath &session, const QString &shortcutId, qulonglong,
                                     const QVariantMap &)
{
    if (m_acting && m_state == State::Bound && session.path() == m_session && shortcutId == kShortcutId)
        Q_EMIT activated();
}

void PortalGlobalHotKey::fail(const QString &why)
{
    if (m_state == State::Failed)
        return;
    m_state = State::Failed;
    m_failure = why + QStringLiteral("; bind `kelso toggle` to a key in the desktop's keyboard settings");
    Q_EMIT registrationLost();
}

void PortalGlobalHotKey::unregisterKey()
{
    m_acting = false;
}

QString PortalGlobalHotKey::keyText(quint16 keyCode) const
{
    return m_keymap ? m_keymap->keyText(keyCode) : QString();
}

bool PortalGlobalHotKey::isKeypadKey(quint16 keyCode) const
{
    return m_keymap && m_keymap->isKeypadKey(keyCode);
}

quint16 PortalGlobalHotKey::characterForKeyCode(quint16 keyCode) const
{
    return m_keymap ? m_keymap->characterForKeyCode(keyCode) : 0;
}
