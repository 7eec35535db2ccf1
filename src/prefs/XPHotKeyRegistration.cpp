#include "prefs/XPHotKeyRegistration.h"

#include "platform/Defaults.h"
#include "prefs/XPHotKeyNames.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QTimer>

namespace {
const QString kUseKey = QStringLiteral("XPUseGlobalHotKey");
const QString kKeyCodeKey = QStringLiteral("XPHotKeyKeyCode");
const QString kCharacterKey = QStringLiteral("XPHotKeyCharacter");
const QString kFlagsKey = QStringLiteral("XPModifierFlags");
} // namespace

XPHotKeyRegistration::XPHotKeyRegistration(Defaults &defaults, GlobalHotKeyBackend *backend, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_backend(backend)
{
    if (!m_backend)
        return;
    // The hot key acts a moment after it is let go, as a queued call: the key release is
    // still being delivered, and the window should not come up inside that delivery.
    connect(m_backend, &GlobalHotKeyBackend::activated, this,
            [this] { QTimer::singleShot(50, this, &XPHotKeyRegistration::hotKeyPressed); });
    // Another keyboard or layout may move the modifiers to other bits: register again. The
    // backend keeps a grab that stays the same (a key may be held down right now), so the old
    // registration is not dropped first.
    connect(m_backend, &GlobalHotKeyBackend::keyboardChanged, this, [this] {
        if (!m_registeredText)
            return;
        m_registeredText.reset();
        installHotKey();
    });
}

quint16 XPHotKeyRegistration::keyCode() const
{
    return quint16(m_defaults.unsignedForKey(kKeyCodeKey));
}

quint16 XPHotKeyRegistration::character() const
{
    return quint16(m_defaults.unsignedForKey(kCharacterKey));
}

quint64 XPHotKeyRegistration::modifierFlags() const
{
    return m_defaults.unsignedForKey(kFlagsKey) & HotKeyFlags::kMask;
}

QString XPHotKeyRegistration::translateKeyCode(quint16 code) const
{
    return m_backend ? m_backend->keyText(code) : QString();
}

QString XPHotKeyRegistration::stringForKeyCode(quint16 code, quint16 ch) const
{
    const bool keypad = m_backend && m_backend->isKeypadKey(code);
    return XPHotKeyNames::stringForCharacter(ch, keypad, translateKeyCode(code));
}

QString XPHotKeyRegistration::stringForKeyCode(quint16 code, quint16 ch, quint64 flags) const
{
    return XPHotKeyNames::stringForModifiers(flags) + stringForKeyCode(code, ch);
}

QString XPHotKeyRegistration::currentText() const
{
    return stringForKeyCode(keyCode(), character(), modifierFlags());
}

void XPHotKeyRegistration::setSuspended(bool suspended)
{
    if (suspended == m_suspended)
        return;
    m_suspended = suspended;
    if (suspended)
        unInstallHotKey();
    else
        installHotKey();
}

void XPHotKeyRegistration::installHotKey()
{
    if (m_suspended || !m_defaults.boolForKey(kUseKey)) {
        unInstallHotKey();
        return;
    }
    const QString text = currentText();
    if (m_registeredText && *m_registeredText == text)
        return;
    unInstallHotKey();
    if (!m_backend)
        return;
    switch (m_backend->registerKey(keyCode(), modifierFlags())) {
    case GlobalHotKeyBackend::Result::Registered:
        m_registeredText = text;
        qCInfo(lcPrefs, "global hot key %s registered", qUtf8Printable(text));
        break;
    case GlobalHotKeyBackend::Result::Taken:
        if (!m_toldFailures.contains(text)) {
            m_toldFailures.insert(text);
            const QString message = KLLocalized(QStringLiteral("XPHotKeyTaken"), {text});
            qCWarning(lcPrefs, "global hot key %s is taken by another program", qUtf8Printable(text));
            Q_EMIT registrationFailed(message);
        }
        break;
    case GlobalHotKeyBackend::Result::Unavailable:
        if (!m_toldFailures.contains(QString())) {
            // Said once per process: the desktop does not change while Kelso runs.
            m_toldFailures.insert(QString());
            qCWarning(lcPrefs, "no global hot key on this desktop: %s", qUtf8Printable(m_backend->unavailableReason()));
        }
        break;
    }
}

void XPHotKeyRegistration::unInstallHotKey()
{
    if (m_registeredText && m_backend)
        m_backend->unregisterKey();
    m_registeredText.reset();
}
