#pragma once
// How a hot-key combination is written: the modifier symbols ⌃ ⌥ ⇧ ⌘ (always in that order)
// and the key's name from the table of special characters and function keys, falling back to
// the layout's text for the key.
#include "platform/GlobalHotKeyBackend.h"

#include <QString>
#include <Qt>

namespace XPHotKeyNames {

// The symbols of the set HotKeyFlags bits in the order Control, Option, Shift, Command.
QString stringForModifiers(quint64 flags);
// The key's name for character `c`. `keypad` wraps digits and operators as "[5]";
// `layoutText` is the layout's upper-cased text for the key, used for characters the table
// does not name (when empty, the character itself).
QString stringForCharacter(quint16 c, bool keypad, const QString &layoutText);

// Qt's modifiers (Meta is the Super key under X11) to the stored flags, and back.
quint64 flagsFromQt(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers qtFromFlags(quint64 flags);
// The stored character for a Qt key when no layout can be asked: function and cursor keys
// give their 0xF7xx code, other keys the first unit of `text` or of the key's own letter.
quint16 characterForQtKey(int qtKey, const QString &text);

} // namespace XPHotKeyNames
