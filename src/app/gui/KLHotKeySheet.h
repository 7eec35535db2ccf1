#pragma once
// The sheet that assigns the global hot key, shown window-modal on the preferences window.
// Opening it saves the combination in force; OK keeps what the recording field stored (it is
// already registered); Cancel, Escape or closing writes the saved combination back, registers
// it again and so also restores the menu item's shortcut text.
#include <QDialog>

class XPHotKeyControl;
class QLabel;

class KLHotKeySheet : public QDialog
{
    Q_OBJECT
public:
    explicit KLHotKeySheet(QWidget *parent);

    // assignHotKeyAction: saves the combination in force and shows the sheet (non-blocking).
    void begin();
    XPHotKeyControl *control() const { return m_control; }

    void accept() override;
    void reject() override;

private:
    XPHotKeyControl *m_control = nullptr;
    QLabel *m_note = nullptr;
    quint16 m_savedKeyCode = 0;
    quint16 m_savedChar = 0;
    quint64 m_savedFlags = 0;
    // Cancel restores only what begin() saved.
    bool m_begun = false;
};
