#pragma once
// One system-wide key combination, registered with whatever the desktop offers: a passive key
// grab on X11, the GlobalShortcuts portal on Wayland. The backend also names keys from the
// current keyboard layout, since only it knows that layout.
//
// A combination is an X11 key code plus the stored modifier flags below (the values the
// settings keep, so that a settings file reads the same everywhere). Command is the Super
// key, Option is Alt, Control is Ctrl.
#include <QObject>
#include <QString>

namespace HotKeyFlags {
constexpr quint64 kShift = 0x20000;
constexpr quint64 kControl = 0x40000;
constexpr quint64 kOption = 0x80000;
constexpr quint64 kCommand = 0x100000;
// The four bits a hot key may use; every other bit of a stored value is ignored.
constexpr quint64 kMask = kShift | kControl | kOption | kCommand;
} // namespace HotKeyFlags

class GlobalHotKeyBackend : public QObject
{
    Q_OBJECT
public:
    enum class Result {
        Registered,
        Taken,      // another program holds the combination
        Unavailable // this desktop offers no global keys (or the request failed)
    };

    using QObject::QObject;
    ~GlobalHotKeyBackend() override = default;

    // Replaces any earlier registration. `flags` are HotKeyFlags bits.
    virtual Result registerKey(quint16 keyCode, quint64 flags) = 0;
    virtual void unregisterKey() = 0;

    // The text the current layout gives the key without modifiers, upper-cased; empty when the
    // key gives no text or there is no layout.
    virtual QString keyText(quint16 keyCode) const = 0;
    // Whether the key belongs to the numeric keypad (judged by its symbols, not its code).
    virtual bool isKeypadKey(quint16 keyCode) const = 0;
    // The character the key gives without modifiers, as stored in XPHotKeyCharacter: a UTF-16
    // unit, or for function and cursor keys the 0xF7xx codes the key-name table uses; 0 when
    // the key gives nothing (a modifier key, for one).
    virtual quint16 characterForKeyCode(quint16 keyCode) const = 0;

    // Why registerKey() answers Unavailable, for the preferences (empty when it does not).
    virtual QString unavailableReason() const { return {}; }

Q_SIGNALS:
    // The registered combination was pressed and let go.
    void activated();
    // The keyboard layout or the modifier mapping changed: key names and grabs are stale.
    void keyboardChanged();
    // A registration answered Registered while it was still under way (the Wayland portal)
    // did not come about; unavailableReason() says why.
    void registrationLost();
};
