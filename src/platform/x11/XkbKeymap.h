#pragma once
// The keyboard layout as xkbcommon sees it: what each X key code gives without modifiers, which
// keys sit on the numeric keypad, and which core modifier bits carry Super, Alt and NumLock.
// Built from the X server's current keymap, or from layout names (the desktop default when
// there is no X server, and tests).
#include <QString>
#include <memory>

struct xkb_context;
struct xkb_keymap;
struct xcb_connection_t;

// The core modifier bits (X11 state masks) that matter for a key grab.
struct X11ModifierMasks {
    quint16 shift = 0x01;   // ShiftMask
    quint16 lock = 0x02;    // LockMask (CapsLock)
    quint16 control = 0x04; // ControlMask
    quint16 alt = 0x08;     // usually Mod1
    quint16 numLock = 0x10; // usually Mod2
    quint16 super = 0x40;   // usually Mod4
};

// The stored HotKeyFlags as core modifier bits: Control -> Control, Option -> Alt, Shift ->
// Shift, Command -> Super; other bits are dropped.
quint16 x11ModifiersForFlags(quint64 flags, const X11ModifierMasks &masks);

class XkbKeymap
{
public:
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap &) = delete;
    XkbKeymap &operator=(const XkbKeymap &) = delete;

    // The server's core keyboard, in its current layout group; null when XKB is missing.
    static std::unique_ptr<XkbKeymap> fromServer(xcb_connection_t *connection);
    // A keymap compiled from RMLVO names (empty: the defaults xkbcommon picks); null when the
    // layout data is missing.
    static std::unique_ptr<XkbKeymap> fromNames(const QString &layout = {}, const QString &variant = {});

    // The upper-cased text of the key's first level; empty for keys without text.
    QString keyText(quint32 keyCode) const;
    bool isKeypadKey(quint32 keyCode) const;
    // See GlobalHotKeyBackend::characterForKeyCode.
    quint16 characterForKeyCode(quint32 keyCode) const;
    // The name of the key's first-level symbol ("slash", "k", "F5"); empty when none.
    QString keysymName(quint32 keyCode) const;
    // The first key code whose first level gives `keysym`; 0 when none.
    quint32 keyCodeForKeysym(quint32 keysym) const;
    // The layout group in use (from the server's state).
    void setLayout(quint32 layout) { m_layout = layout; }

private:
    XkbKeymap(xkb_context *context, xkb_keymap *keymap);
    // The keysym at `level` of the key in the current layout (0 when none).
    quint32 keysymAt(quint32 keyCode, quint32 level) const;
    quint32 levelCount(quint32 keyCode) const;

    xkb_context *m_context;
    xkb_keymap *m_keymap;
    quint32 m_layout = 0;
};
