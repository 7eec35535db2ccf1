#pragma once
// The global hot key on X11: a passive grab of the key on the root window, once for each
// combination of the lock modifiers (none, CapsLock, NumLock, both), since the server matches
// the modifier state exactly.
//
// It runs on a connection of its own rather than Qt's, so that the grab's errors come back
// to the request that caused them (Qt's connection logs errors asynchronously) and the key
// events never pass through Qt's window dispatch. The connection's socket is watched on the
// GUI thread; nothing here blocks except the round trips of registering.
//
// The hot key acts on the release of the key whose press was seen: a release may arrive after
// the modifiers were let go, so releases are matched by key code and the press before them.
// Auto-repeat is made detectable so that holding the key does not act again and again.
// A new keyboard or keymap (XKB NewKeyboardNotify, MapNotify, core MappingNotify) rebuilds the
// key names and modifier bits and reports keyboardChanged(), after which the owner registers
// again.
#include "platform/GlobalHotKeyBackend.h"
#include "platform/x11/XkbKeymap.h"

#include <memory>

class QSocketNotifier;
class QTimer;

class X11GlobalHotKey : public GlobalHotKeyBackend
{
    Q_OBJECT
public:
    // Opens its own connection to $DISPLAY; check isConnected().
    explicit X11GlobalHotKey(QObject *parent = nullptr);
    ~X11GlobalHotKey() override;

    bool isConnected() const;

    Result registerKey(quint16 keyCode, quint64 flags) override;
    void unregisterKey() override;
    QString keyText(quint16 keyCode) const override;
    bool isKeypadKey(quint16 keyCode) const override;
    quint16 characterForKeyCode(quint16 keyCode) const override;
    QString unavailableReason() const override;

    const X11ModifierMasks &modifierMasks() const { return m_masks; }

private:
    void readEvents();
    void handleEvent(const void *event);
    void reloadKeyboard();
    void grabVariants(quint16 keyCode, quint16 modifiers, bool grab);

    struct Connection;
    std::unique_ptr<Connection> m_conn;
    std::unique_ptr<XkbKeymap> m_keymap;
    X11ModifierMasks m_masks;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_keyboardChange = nullptr;
    quint8 m_xkbEventBase = 0;
    bool m_hasXkb = false;
    // The grabbed key (0: none) and its core modifier bits.
    quint16 m_keyCode = 0;
    quint16 m_modifiers = 0;
    bool m_pressed = false;
};
