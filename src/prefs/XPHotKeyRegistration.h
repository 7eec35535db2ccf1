#pragma once
// The process-wide registration of the global hot key and its rules:
// - the combination is read from the settings XPUseGlobalHotKey, XPHotKeyKeyCode,
//   XPHotKeyCharacter and XPModifierFlags;
// - installHotKey() with an unchanged display text while registered does nothing;
// - a refused registration (another program owns the combination) leaves nothing registered,
//   so the next installHotKey() tries again; the user is told once per combination;
// - a keyboard-layout change redoes the registration (the key code may now mean another key).
// Lives on the GUI thread.
#include "platform/GlobalHotKeyBackend.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <optional>

class Defaults;

class XPHotKeyRegistration : public QObject
{
    Q_OBJECT
public:
    // `backend` may be null (nothing can be registered); neither is owned.
    XPHotKeyRegistration(Defaults &defaults, GlobalHotKeyBackend *backend, QObject *parent = nullptr);

    quint16 keyCode() const;
    quint16 character() const;
    quint64 modifierFlags() const;

    // The names of keys under the current layout (see XPHotKeyNames).
    QString stringForKeyCode(quint16 keyCode, quint16 character) const;
    QString stringForKeyCode(quint16 keyCode, quint16 character, quint64 flags) const;
    // The layout's upper-cased text for the key; empty without a layout.
    QString translateKeyCode(quint16 keyCode) const;
    // The stored combination's text, e.g. "⌘/".
    QString currentText() const;

    void installHotKey();
    void unInstallHotKey();
    // While a recording field has the keyboard, the hot key is let go, so that pressing the
    // combination in force records it instead of hiding Kelso; ending the suspension installs
    // the stored combination.
    void setSuspended(bool suspended);
    bool isSuspended() const { return m_suspended; }
    // The text of the registered combination; none when nothing is registered.
    std::optional<QString> registeredText() const { return m_registeredText; }
    GlobalHotKeyBackend *backend() const { return m_backend; }
    Defaults &defaults() const { return m_defaults; }

Q_SIGNALS:
    // The hot key was let go (emitted a moment later, as the platform's handler does).
    void hotKeyPressed();
    // Registration of this combination failed; emitted once per combination text.
    void registrationFailed(const QString &message);

private:
    Defaults &m_defaults;
    GlobalHotKeyBackend *m_backend;
    std::optional<QString> m_registeredText;
    QSet<QString> m_toldFailures;
    bool m_suspended = false;
};
