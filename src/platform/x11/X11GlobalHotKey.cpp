#include "platform/x11/X11GlobalHotKey.h"

#include "util/Logging.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdlib>
#include <initializer_list>
#include <xcb/xcb.h>
// xcb/xkb.h names a struct member `explicit`, a C++ keyword; rename it while the header is read.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

constexpr uint8_t kBadAccess = 10;

} // namespace

struct X11GlobalHotKey::Connection {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }
};

X11GlobalHotKey::X11GlobalHotKey(QObject *parent) : GlobalHotKeyBackend(parent), m_conn(std::make_unique<Connection>())
{
    int screenNumber = 0;
    m_conn->c = xcb_connect(nullptr, &screenNumber);
    if (!m_conn->c || xcb_connection_has_error(m_conn->c)) {
        qCWarning(lcPrefs, "global hot key: cannot open the X display");
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn->c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    m_conn->root = it.data ? it.data->root : 0;

    uint8_t firstEvent = 0;
    m_hasXkb =
        xkb_x11_setup_xkb_extension(m_conn->c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &firstEvent, nullptr) == 1;
    if (m_hasXkb) {
        m_xkbEventBase = firstEvent;
        const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        const uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                  XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                  XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
        xcb_xkb_select_events(m_conn->c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, mapParts, mapParts, nullptr);
        // Held keys repeat as presses only, so the release that acts comes once.
        const uint32_t detectable = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        XcbReply<xcb_xkb_per_client_flags_reply_t>(xcb_xkb_per_client_flags_reply(
            m_conn->c, xcb_xkb_per_client_flags(m_conn->c, XCB_XKB_ID_USE_CORE_KBD, detectable, detectable, 0, 0, 0),
            nullptr));
    }
    reloadKeyboard();

    // Many map notices arrive for one layout change: act once they have settled.
    m_keyboardChange = new QTimer(this);
    m_keyboardChange->setSingleShot(true);
    m_keyboardChange->setInterval(100);
    connect(m_keyboardChange, &QTimer::timeout, this, [this] {
        reloadKeyboard();
        Q_EMIT keyboardChanged();
    });

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_conn->c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11GlobalHotKey::readEvents);
    xcb_flush(m_conn->c);
}

X11GlobalHotKey::~X11GlobalHotKey()
{
    unregisterKey();
}

bool X11GlobalHotKey::isConnected() const
{
    return m_conn->c && !xcb_connection_has_error(m_conn->c) && m_conn->root;
}

QString X11GlobalHotKey::unavailableReason() const
{
    return isConnected() ? QString() : QStringLiteral("the X display cannot be reached");
}

void X11GlobalHotKey::reloadKeyboard()
{
    m_keymap = m_hasXkb ? XkbKeymap::fromServer(m_conn->c) : nullptr;
    if (!m_keymap)
        m_keymap = XkbKeymap::fromNames();
    m_masks = X11ModifierMasks();
    if (!isConnected() || !m_keymap)
        return;
    // Which of Mod1..Mod5 carry Super, Alt and NumLock: the core modifier mapping lists the
    // keys of each modifier; the keymap says which symbol a key gives.
    XcbReply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(m_conn->c, xcb_get_modifier_mapping(m_conn->c), nullptr));
    if (!map)
        return;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    const quint32 superKeys[] = {m_keymap->keyCodeForKeysym(XKB_KEY_Super_L),
                                 m_keymap->keyCodeForKeysym(XKB_KEY_Super_R)};
    const quint32 altKeys[] = {m_keymap->keyCodeForKeysym(XKB_KEY_Alt_L), m_keymap->keyCodeForKeysym(XKB_KEY_Alt_R),
                               m_keymap->keyCodeForKeysym(XKB_KEY_Meta_L)};
    const quint32 numLockKey = m_keymap->keyCodeForKeysym(XKB_KEY_Num_Lock);
    auto isOneOf = [](quint32 code, std::initializer_list<quint32> keys) {
        for (quint32 k : keys) {
            if (k && k == code)
                return true;
        }
        return false;
    };
    quint16 super = 0, alt = 0, numLock = 0;
    for (int mod = 3; mod < 8; ++mod) { // Mod1 .. Mod5
        const quint16 bit = quint16(1u << mod);
        for (int i = 0; i < perModifier; ++i) {
            const quint32 code = codes[mod * perModifier + i];
            if (!code)
                continue;
            if (!super && isOneOf(code, {superKeys[0], superKeys[1]}))
                super = bit;
            if (!alt && isOneOf(code, {altKeys[0], altKeys[1], altKeys[2]}))
                alt = bit;
            if (!numLock && isOneOf(code, {numLockKey}))
                numLock = bit;
        }
    }
    if (super)
        m_masks.super = super;
    if (alt)
        m_masks.alt = alt;
    if (numLock)
        m_masks.numLock = numLock;
}

void X11GlobalHotKey::grabVariants(quint16 keyCode, quint16 modifiers, bool grab)
{
    const quint16 locks[] = {0, m_masks.lock, m_masks.numLock, quint16(m_masks.lock | m_masks.numLock)};
    for (quint16 lock : locks) {
        if (grab)
            xcb_grab_key(m_conn->c, 1, m_conn->root, modifiers | lock, xcb_keycode_t(keyCode), XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC);
        else
            xcb_ungrab_key(m_conn->c, xcb_keycode_t(keyCode), m_conn->root, modifiers | lock);
    }
}

GlobalHotKeyBackend::Result X11GlobalHotKey::registerKey(quint16 keyCode, quint64 flags)
{
    const quint16 modifiers = x11ModifiersForFlags(flags, m_masks);
    // The same grab again (after a keyboard change that moved no modifier): keep it, and keep
    // a press already seen, so that its release still acts.
    if (m_keyCode && m_keyCode == keyCode && m_modifiers == modifiers && isConnected())
        return Result::Registered;
    unregisterKey();
    if (!isConnected() || keyCode < 8)
        return Result::Unavailable;
    const quint16 locks[] = {0, m_masks.lock, m_masks.numLock, quint16(m_masks.lock | m_masks.numLock)};
    xcb_void_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i)
        cookies[i] = xcb_grab_key_checked(m_conn->c, 1, m_conn->root, modifiers | locks[i], xcb_keycode_t(keyCode),
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    bool taken = false;
    bool failed = false;
    for (auto cookie : cookies) {
        if (XcbReply<xcb_generic_error_t> error{xcb_request_check(m_conn->c, cookie)}) {
            if (error->error_code == kBadAccess)
                taken = true;
            else
                failed = true;
        }
    }
    if (taken || failed) {
        // Let go of the variants that did succeed: half a hot key (working only with CapsLock
        // on, say) would be worse than none.
        grabVariants(keyCode, modifiers, false);
        xcb_flush(m_conn->c);
        QTimer::singleShot(0, this, &X11GlobalHotKey::readEvents);
        return taken ? Result::Taken : Result::Unavailable;
    }
    m_keyCode = keyCode;
    m_modifiers = modifiers;
    m_pressed = false;
    // xcb_request_check may have read events into the queue; the socket will not tell.
    QTimer::singleShot(0, this, &X11GlobalHotKey::readEvents);
    return Result::Registered;
}

void X11GlobalHotKey::unregisterKey()
{
    if (!m_keyCode || !isConnected())
        return;
    grabVariants(m_keyCode, m_modifiers, false);
    xcb_flush(m_conn->c);
    m_keyCode = 0;
    m_modifiers = 0;
    m_pressed = false;
}

void X11GlobalHotKey::readEvents()
{
    if (!m_conn->c)
        return;
    while (xcb_generic_event_t *raw = xcb_poll_for_event(m_conn->c)) {
        XcbReply<xcb_generic_event_t> event(raw);
        handleEvent(event.get());
    }
    if (xcb_connection_has_error(m_conn->c) && m_notifier) {
        qCWarning(lcPrefs, "global hot key: the X connection was lost");
        m_notifier->setEnabled(false);
    }
}

void X11GlobalHotKey::handleEvent(const void *raw)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(raw);
    const uint8_t type = event->response_type & 0x7F;
    if (type == XCB_KEY_PRESS) {
        const auto *key = static_cast<const xcb_key_press_event_t *>(raw);
        if (m_keyCode && key->detail == m_keyCode)
            m_pressed = true;
    } else if (type == XCB_KEY_RELEASE) {
        const auto *key = static_cast<const xcb_key_release_event_t *>(raw);
        if (m_keyCode && key->detail == m_keyCode && m_pressed) {
            m_pressed = false;
            Q_EMIT activated();
        }
    } else if (type == XCB_MAPPING_NOTIFY) {
        m_keyboardChange->start();
    } else if (m_hasXkb && type == m_xkbEventBase) {
        const uint8_t xkbType = reinterpret_cast<const uint8_t *>(raw)[1];
        if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
            m_keyboardChange->start();
    }
}

QString X11GlobalHotKey::keyText(quint16 keyCode) const
{
    return m_keymap ? m_keymap->keyText(keyCode) : QString();
}

bool X11GlobalHotKey::isKeypadKey(quint16 keyCode) const
{
    return m_keymap && m_keymap->isKeypadKey(keyCode);
}

quint16 X11GlobalHotKey::characterForKeyCode(quint16 keyCode) const
{
    return m_keymap ? m_keymap->characterForKeyCode(keyCode) : 0;
}
