#include "platform/x11/GlobalHotKeys.h"

#include "platform/x11/PortalGlobalHotKey.h"
#include "platform/x11/X11GlobalHotKey.h"
#include "platform/x11/XkbKeymap.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace {

// A desktop without global keys for Kelso: keys are still named (from the default layout),
// so the preferences can show the stored combination, but nothing is registered.
class NoGlobalHotKey final : public GlobalHotKeyBackend
{
public:
    NoGlobalHotKey(QString reason, QObject *parent)
        : GlobalHotKeyBackend(parent), m_reason(std::move(reason)), m_keymap(XkbKeymap::fromNames())
    {
    }
    Result registerKey(quint16, quint64) override { return Result::Unavailable; }
    void unregisterKey() override {}
    QString keyText(quint16 keyCode) const override { return m_keymap ? m_keymap->keyText(keyCode) : QString(); }
    bool isKeypadKey(quint16 keyCode) const override { return m_keymap && m_keymap->isKeypadKey(keyCode); }
    quint16 characterForKeyCode(quint16 keyCode) const override
    {
        return m_keymap ? m_keymap->characterForKeyCode(keyCode) : 0;
    }
    QString unavailableReason() const override { return m_reason; }

private:
    QString m_reason;
    std::unique_ptr<XkbKeymap> m_keymap;
};

} // namespace

namespace GlobalHotKeys {

std::unique_ptr<GlobalHotKeyBackend> create(QObject *parent)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        auto x11 = std::make_unique<X11GlobalHotKey>(parent);
        if (x11->isConnected())
            return x11;
        return std::make_unique<NoGlobalHotKey>(x11->unavailableReason(), parent);
    }
    // On Wayland the portal is asked; where the desktop has none, the first registration
    // reports it (registrationLost) and the log and the preferences say how to bind a key.
    if (platform.startsWith(QLatin1String("wayland")) && QDBusConnection::sessionBus().isConnected())
        return std::make_unique<PortalGlobalHotKey>(QDBusConnection::sessionBus(), parent);
    if (platform.startsWith(QLatin1String("wayland")))
        return std::make_unique<NoGlobalHotKey>(
            QStringLiteral("no session bus, so no desktop portal; bind `kelso toggle` to a key in the desktop's "
                           "keyboard settings"),
            parent);
    return std::make_unique<NoGlobalHotKey>(QStringLiteral("the %1 platform has no global keys").arg(platform), parent);
}

} // namespace GlobalHotKeys
