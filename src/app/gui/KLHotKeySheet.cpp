#include "app/gui/KLHotKeySheet.h"

#include "app/gui/XPHotKeyControl.h"
#include "platform/Defaults.h"
#include "prefs/XPHotKeyRegistration.h"
#include "util/Localized.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

KLHotKeySheet::KLHotKeySheet(QWidget *parent) : QDialog(parent, Qt::Sheet)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(KLLocalized(QStringLiteral("XPHotKeySheetTitle")));
    setAccessibleName(KLLocalized(QStringLiteral("XPHotKeySheetTitle")));
    setObjectName(QStringLiteral("hotKeySheet"));

    auto *layout = new QVBoxLayout(this);
    auto *prompt = new QLabel(KLLocalized(QStringLiteral("XPHotKeySheetPrompt")), this);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);

    m_control = new XPHotKeyControl(this);
    prompt->setBuddy(m_control);
    layout->addWidget(m_control);

    // Where no hot key can be registered (a Wayland desktop without the portal), say how to
    // bind one in the desktop's own keyboard settings.
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    m_note->setObjectName(QStringLiteral("hotKeyNote"));
    layout->addWidget(m_note);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(KLLocalized(QStringLiteral("OK")));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(KLLocalized(QStringLiteral("Cancel")));
    // Return and Escape without modifiers are never recorded, so they reach the sheet: Return
    // confirms, Escape cancels.
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void KLHotKeySheet::begin()
{
    m_savedKeyCode = XPHotKeyControl::keyCode();
    m_savedChar = XPHotKeyControl::character();
    m_savedFlags = XPHotKeyControl::modifierFlags();
    m_begun = true;
    const QString note = XPHotKeyControl::unavailableNote();
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
    m_control->setText(XPHotKeyControl::stringForKeyCode(m_savedKeyCode, m_savedChar, m_savedFlags));
    open();
    m_control->setFocus();
}

void KLHotKeySheet::accept()
{
    // The recorded combination is already stored and registered.
    m_begun = false;
    QDialog::accept();
}

void KLHotKeySheet::reject()
{
    if (!m_begun) {
        QDialog::reject();
        return;
    }
    m_begun = false;
    Defaults &d = XPHotKeyControl::registration()->defaults();
    d.setUnsigned(QStringLiteral("XPHotKeyKeyCode"), m_savedKeyCode);
    d.setUnsigned(QStringLiteral("XPHotKeyCharacter"), m_savedChar);
    d.setUnsigned(QStringLiteral("XPModifierFlags"), m_savedFlags);
    XPHotKeyControl::installHotKey();
    QDialog::reject();
}
