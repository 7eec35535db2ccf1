#pragma once
// The global hot key on Wayland, through the desktop portal's GlobalShortcuts interface
// (org.freedesktop.portal.GlobalShortcuts). The portal, not Kelso, owns the key: Kelso asks
// once per session to bind one shortcut ("toggle") and proposes the stored combination as its
// trigger; the desktop may ask the user and may choose another key. Kelso acts on Activated.
//
// Everything is asynchronous (the portal may show a dialog): registerKey() starts the session
// and the binding the first time and answers Registered while they are under way; when the
// portal turns out to be missing or refuses, registrationLost() says so. Later combinations
// are not bound again: the desktop's own settings change the key of a bound shortcut.
// unregisterKey() only stops acting on the shortcut; the session lasts as long as Kelso.
#include "platform/GlobalHotKeyBackend.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QVariantMap>
#include <memory>

class XkbKeymap;

class PortalGlobalHotKey : public GlobalHotKeyBackend
{
    Q_OBJECT
public:
    // `bus` is the session bus in use (a private one in tests).
    explicit PortalGlobalHotKey(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PortalGlobalHotKey() override;

    Result registerKey(quint16 keyCode, quint64 flags) override;
    void unregisterKey() override;
    QString keyText(quint16 keyCode) const override;
    bool isKeypadKey(quint16 keyCode) const override;
    quint16 characterForKeyCode(quint16 keyCode) const override;
    QString unavailableReason() const override { return m_failure; }

    // The trigger proposed to the portal for a combination, in the form desktop portals read
    // ("LOGO+slash", "CTRL+ALT+k").
    QString triggerFor(quint16 keyCode, quint64 flags) const;

    static const QString kShortcutId;

private Q_SLOTS:
    void onActivated(const QDBusObjectPath &session, const QString &shortcutId, qulonglong timestamp,
                     const QVariantMap &options);
    void onCreateSessionResponse(uint response, const QVariantMap &results);
    void onBindResponse(uint response, const QVariantMap &results);

private:
    void fail(const QString &why);
    // Calls a portal method that answers through a Request object, whose Response signal goes
    // to `slot`; the request's path is known before the call, so no answer is missed.
    void callWithRequest(const QString &method, QList<QVariant> args, const QString &token, const char *slot);

    QDBusConnection m_bus;
    std::unique_ptr<XkbKeymap> m_keymap;
    enum class State { Idle, CreatingSession, Binding, Bound, Failed } m_state = State::Idle;
    QString m_session;
    QString m_trigger;
    QString m_failure;
    bool m_acting = false;
    int m_tokens = 0;
};
