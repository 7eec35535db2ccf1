#pragma once
// The field that records a new global hot key (in the preferences' hot-key sheet), and through
// its class-level operations the owner of the process-wide registration and of the text that
// names a combination (also shown beside the menu item that brings the window forward).
//
// Recording: a key pressed with at least one of Ctrl, Alt, Shift, Super (or a function key on
// its own) is shown, stored in the four settings and registered at once; a plain character key
// changes nothing, so Escape and Tab keep their meaning in the sheet.
#include <QLineEdit>

class XPHotKeyRegistration;

class XPHotKeyControl : public QLineEdit
{
    Q_OBJECT
public:
    explicit XPHotKeyControl(QWidget *parent = nullptr);
    ~XPHotKeyControl() override;

    // The process-wide registration, set up by the application delegate at start-up; until
    // then (and in tests without one) the operations below work on the standard settings
    // with no backend.
    static XPHotKeyRegistration *registration();
    static void setRegistration(XPHotKeyRegistration *registration);

    static quint16 keyCode();
    static quint16 character();
    static quint64 modifierFlags();
    static QString stringForModifiers(quint64 flags);
    static QString stringForKeyCode(quint16 keyCode, quint16 character);
    static QString stringForKeyCode(quint16 keyCode, quint16 character, quint64 flags);
    static QString translateKeyCode(quint16 keyCode);
    static void installHotKey();
    static void unInstallHotKey();
    // The text a menu shows as the shortcut of "Open Kelso": the stored combination, or empty
    // when the hot key is switched off.
    static QString menuShortcutText();
    // Where this desktop lets no program register a global key (Wayland without the portal):
    // the text telling the user to bind `kelso toggle` in the desktop's keyboard settings;
    // empty where the hot key works.
    static QString unavailableNote();

    // keyDown: records (keyCode, character, flags) as described above. Answers whether the
    // combination was taken.
    bool recordCombination(quint16 keyCode, quint16 character, quint64 flags);

Q_SIGNALS:
    // A combination was recorded (the field's action).
    void hotKeyRecorded();

protected:
    bool event(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    // The hot key in force is let go while the field has the keyboard (see
    // XPHotKeyRegistration::setSuspended).
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;

private:
    void showCurrent();
    bool m_suspending = false;
};
