#include "app/gui/XPHotKeyControl.h"

#include "platform/Defaults.h"
#include "prefs/XPHotKeyNames.h"
#include "prefs/XPHotKeyRegistration.h"
#include "util/Localized.h"

#include <QKeyEvent>
#include <QPointer>

namespace {

QPointer<XPHotKeyRegistration> &sharedRegistration()
{
    static QPointer<XPHotKeyRegistration> r;
    return r;
}

// Before the delegate sets one up (and in tests without one): the standard settings, no
// backend, so names fall back to the characters and nothing is registered.
XPHotKeyRegistration *fallbackRegistration()
{
    static XPHotKeyRegistration *r = new XPHotKeyRegistration(Defaults::standard(), nullptr);
    return r;
}

} // namespace

XPHotKeyRegistration *XPHotKeyControl::registration()
{
    XPHotKeyRegistration *r = sharedRegistration();
    return r ? r : fallbackRegistration();
}

void XPHotKeyControl::setRegistration(XPHotKeyRegistration *r)
{
    sharedRegistration() = r;
}

quint16 XPHotKeyControl::keyCode()
{
    return registration()->keyCode();
}

quint16 XPHotKeyControl::character()
{
    return registration()->character();
}

quint64 XPHotKeyControl::modifierFlags()
{
    return registration()->modifierFlags();
}

QString XPHotKeyControl::stringForModifiers(quint64 flags)
{
    return XPHotKeyNames::stringForModifiers(flags);
}

QString XPHotKeyControl::stringForKeyCode(quint16 code, quint16 ch)
{
    return registration()->stringForKeyCode(code, ch);
}

QString XPHotKeyControl::stringForKeyCode(quint16 code, quint16 ch, quint64 flags)
{
    return registration()->stringForKeyCode(code, ch, flags);
}

QString XPHotKeyControl::translateKeyCode(quint16 code)
{
    return registration()->translateKeyCode(code);
}

void XPHotKeyControl::installHotKey()
{
    registration()->installHotKey();
}

void XPHotKeyControl::unInstallHotKey()
{
    registration()->unInstallHotKey();
}

QString XPHotKeyControl::menuShortcutText()
{
    if (!registration()->defaults().boolForKey(QStringLiteral("XPUseGlobalHotKey")))
        return {};
    return registration()->currentText();
}

QString XPHotKeyControl::unavailableNote()
{
    GlobalHotKeyBackend *backend = registration()->backend();
    if (backend && backend->unavailableReason().isEmpty())
        return {};
    return KLLocalized(QStringLiteral("XPHotKeyUnavailable"));
}

XPHotKeyControl::XPHotKeyControl(QWidget *parent) : QLineEdit(parent)
{
    // The field shows a combination; typing into it records one instead of editing text.
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
    setAccessibleName(KLLocalized(QStringLiteral("XPHotKeyFieldName")));
    setToolTip(KLLocalized(QStringLiteral("XPHotKeyFieldHelp")));
    setObjectName(QStringLiteral("hotKeyField"));
    showCurrent();
    connect(&registration()->defaults(), &Defaults::changed, this, [this](const QString &key) {
        if (key == QLatin1String("XPUseGlobalHotKey"))
            installHotKey();
        else if (key == QLatin1String("XPHotKeyKeyCode") || key == QLatin1String("XPHotKeyCharacter") ||
                 key == QLatin1String("XPModifierFlags"))
            showCurrent();
    });
}

XPHotKeyControl::~XPHotKeyControl()
{
    if (m_suspending)
        registration()->setSuspended(false);
}

void XPHotKeyControl::focusInEvent(QFocusEvent *e)
{
    QLineEdit::focusInEvent(e);
    if (!m_suspending) {
        m_suspending = true;
        registration()->setSuspended(true);
    }
}

void XPHotKeyControl::focusOutEvent(QFocusEvent *e)
{
    QLineEdit::focusOutEvent(e);
    if (m_suspending) {
        m_suspending = false;
        registration()->setSuspended(false);
    }
}

void XPHotKeyControl::showCurrent()
{
    setText(stringForKeyCode(keyCode(), character(), modifierFlags()));
}

bool XPHotKeyControl::recordCombination(quint16 code, quint16 ch, quint64 flags)
{
    flags &= HotKeyFlags::kMask;
    // A plain character cannot be a hot key: it would take the key from every program. Keys
    // whose characters lie above 255 (function and cursor keys) can stand alone.
    if (ch == 0 || (flags == 0 && ch <= 255))
        return false;
    setText(stringForKeyCode(code, ch, flags));
    Defaults &d = registration()->defaults();
    d.setUnsigned(QStringLiteral("XPHotKeyKeyCode"), code);
    d.setUnsigned(QStringLiteral("XPHotKeyCharacter"), ch);
    d.setUnsigned(QStringLiteral("XPModifierFlags"), flags);
    installHotKey();
    Q_EMIT hotKeyRecorded();
    return true;
}

namespace {

struct KeyFacts {
    quint16 code = 0;
    quint16 ch = 0;
    quint64 flags = 0;
};

KeyFacts factsOf(const QKeyEvent *e, XPHotKeyRegistration *r)
{
    KeyFacts f;
    f.flags = XPHotKeyNames::flagsFromQt(e->modifiers());
    // Under X11 the native scan code is the X key code, the one the grab needs.
    f.code = quint16(e->nativeScanCode());
    if (f.code && r->backend())
        f.ch = r->backend()->characterForKeyCode(f.code);
    if (!f.ch)
        f.ch = XPHotKeyNames::characterForQtKey(e->key(), e->text());
    return f;
}

bool wouldRecord(const KeyFacts &f)
{
    return f.ch != 0 && (f.flags != 0 || f.ch > 255);
}

} // namespace

bool XPHotKeyControl::event(QEvent *e)
{
    // performKeyEquivalent: a combination this field would record must reach it, not a menu
    // or window shortcut that happens to use the same keys.
    if (e->type() == QEvent::ShortcutOverride && isEnabled()) {
        auto *ke = static_cast<QKeyEvent *>(e);
        if (wouldRecord(factsOf(ke, registration()))) {
            e->accept();
            return true;
        }
    }
    return QLineEdit::event(e);
}

void XPHotKeyControl::keyPressEvent(QKeyEvent *e)
{
    const KeyFacts f = factsOf(e, registration());
    if (recordCombination(f.code, f.ch, f.flags)) {
        e->accept();
        return;
    }
    // Not a combination: Escape, Return and Tab go on to the sheet.
    e->ignore();
}
