#include "platform/x11/XkbKeymap.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QByteArray>

quint16 x11ModifiersForFlags(quint64 flags, const X11ModifierMasks &masks)
{
    quint16 m = 0;
    if (flags & 0x40000) // Control
        m |= masks.control;
    if (flags & 0x80000) // Option
        m |= masks.alt;
    if (flags & 0x20000) // Shift
        m |= masks.shift;
    if (flags & 0x100000) // Command
        m |= masks.super;
    return m;
}

XkbKeymap::XkbKeymap(xkb_context *context, xkb_keymap *keymap) : m_context(context), m_keymap(keymap) {}

XkbKeymap::~XkbKeymap()
{
    xkb_keymap_unref(m_keymap);
    xkb_context_unref(m_context);
}

std::unique_ptr<XkbKeymap> XkbKeymap::fromServer(xcb_connection_t *connection)
{
    if (!connection)
        return nullptr;
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return nullptr;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    xkb_keymap *keymap =
        device < 0 ? nullptr : xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        xkb_context_unref(context);
        return nullptr;
    }
    std::unique_ptr<XkbKeymap> result(new XkbKeymap(context, keymap));
    if (xkb_state *state = xkb_x11_state_new_from_device(keymap, connection, device)) {
        result->m_layout = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
        xkb_state_unref(state);
    }
    return result;
}

std::unique_ptr<XkbKeymap> XkbKeymap::fromNames(const QString &layout, const QString &variant)
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return nullptr;
    const QByteArray l = layout.toUtf8();
    const QByteArray v = variant.toUtf8();
    xkb_rule_names names{};
    names.layout = layout.isEmpty() ? nullptr : l.constData();
    names.variant = variant.isEmpty() ? nullptr : v.constData();
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::unique_ptr<XkbKeymap>(new XkbKeymap(context, keymap));
}

quint32 XkbKeymap::levelCount(quint32 keyCode) const
{
    return xkb_keymap_num_levels_for_key(m_keymap, keyCode, m_layout);
}

quint32 XkbKeymap::keysymAt(quint32 keyCode, quint32 level) const
{
    const xkb_keysym_t *syms = nullptr;
    const int n = xkb_keymap_key_get_syms_by_level(m_keymap, keyCode, m_layout, level, &syms);
    return n > 0 ? syms[0] : XKB_KEY_NoSymbol;
}

namespace {

bool isKeypadSym(xkb_keysym_t sym)
{
    return (sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_9) || sym == XKB_KEY_KP_Equal;
}

// The text of a keysym as one UTF-16 unit; 0 for control codes and for what lies outside the
// basic plane (the stored character is one unit).
quint16 unitOf(xkb_keysym_t sym)
{
    const uint32_t u = xkb_keysym_to_utf32(sym);
    if (u < 0x20 || u == 0x7F || u > 0xFFFF)
        return 0;
    return quint16(u);
}

// The function-key character codes of the key-name table for keys that give no text.
quint16 functionCharacter(xkb_keysym_t sym)
{
    if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F35)
        return quint16(0xF704 + (sym - XKB_KEY_F1));
    switch (sym) {
    case XKB_KEY_KP_Enter:
        return 3;
    case XKB_KEY_Tab:
    case XKB_KEY_ISO_Left_Tab:
        return 9;
    case XKB_KEY_Return:
        return 13;
    case XKB_KEY_Escape:
        return 27;
    case XKB_KEY_BackSpace:
        return 127;
    case XKB_KEY_Up:
        return 0xF700;
    case XKB_KEY_Down:
        return 0xF701;
    case XKB_KEY_Left:
        return 0xF702;
    case XKB_KEY_Right:
        return 0xF703;
    case XKB_KEY_Insert:
        return 0xF727;
    case XKB_KEY_Delete:
        return 0xF728;
    case XKB_KEY_Home:
        return 0xF729;
    case XKB_KEY_Begin:
        return 0xF72A;
    case XKB_KEY_End:
        return 0xF72B;
    case XKB_KEY_Prior:
        return 0xF72C;
    case XKB_KEY_Next:
        return 0xF72D;
    case XKB_KEY_Print:
        return 0xF72E;
    case XKB_KEY_Scroll_Lock:
        return 0xF72F;
    case XKB_KEY_Pause:
        return 0xF730;
    case XKB_KEY_Sys_Req:
        return 0xF731;
    case XKB_KEY_Break:
        return 0xF732;
    case XKB_KEY_Cancel:
        return 0xF734;
    case XKB_KEY_Menu:
        return 0xF735;
    case XKB_KEY_Select:
        return 0xF741;
    case XKB_KEY_Execute:
        return 0xF742;
    case XKB_KEY_Undo:
        return 0xF743;
    case XKB_KEY_Redo:
        return 0xF744;
    case XKB_KEY_Find:
        return 0xF745;
    case XKB_KEY_Help:
        return 0xF746;
    case XKB_KEY_Mode_switch:
        return 0xF747;
    default:
        return 0;
    }
}

} // namespace

QString XkbKeymap::keyText(quint32 keyCode) const
{
    const quint16 u = unitOf(keysymAt(keyCode, 0));
    return u ? QString(QChar(char16_t(u))).toUpper() : QString();
}

bool XkbKeymap::isKeypadKey(quint32 keyCode) const
{
    // NumLock decides which level a keypad key gives; any level with a keypad symbol counts.
    const quint32 levels = levelCount(keyCode);
    for (quint32 level = 0; level < levels; ++level) {
        if (isKeypadSym(keysymAt(keyCode, level)))
            return true;
    }
    return false;
}

quint16 XkbKeymap::characterForKeyCode(quint32 keyCode) const
{
    const xkb_keysym_t first = keysymAt(keyCode, 0);
    if (isKeypadKey(keyCode)) {
        // A keypad key is named by its digit or operator (the level NumLock gives), whatever
        // NumLock's state is now, so that its name does not change with it.
        const quint32 levels = levelCount(keyCode);
        for (quint32 level = 0; level < levels; ++level) {
            const xkb_keysym_t sym = keysymAt(keyCode, level);
            if (sym == XKB_KEY_KP_Enter)
                return 3;
            if (isKeypadSym(sym)) {
                if (const quint16 u = unitOf(sym))
                    return u;
            }
        }
    }
    if (const quint16 f = functionCharacter(first))
        return f;
    return unitOf(first);
}

quint32 XkbKeymap::keyCodeForKeysym(quint32 keysym) const
{
    const xkb_keycode_t lo = xkb_keymap_min_keycode(m_keymap);
    const xkb_keycode_t hi = xkb_keymap_max_keycode(m_keymap);
    for (xkb_keycode_t k = lo; k <= hi && k != 0; ++k) {
        if (keysymAt(k, 0) == keysym)
            return k;
    }
    return 0;
}

QString XkbKeymap::keysymName(quint32 keyCode) const
{
    const xkb_keysym_t sym = keysymAt(keyCode, 0);
    if (sym == XKB_KEY_NoSymbol)
        return {};
    char name[64];
    const int n = xkb_keysym_get_name(sym, name, sizeof name);
    return n > 0 ? QString::fromLatin1(name) : QString();
}
