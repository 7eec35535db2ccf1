#include "prefs/XPHotKeyNames.h"

#include <array>

namespace XPHotKeyNames {

namespace {

// Names of the function-key character codes from 0xF727 (insert) to 0xF747 (mode switch);
// F1 to F35 (0xF704 to 0xF726) are numbered instead.
constexpr std::array<const char *, 0xF747 - 0xF727 + 1> kFunctionKeyNames = {
    "Ins",       "Delete",       "\u2196",     "Begin",      "End",        "PgUp",      "PgDn", "Print",  "ScrollLock",
    "Pause",     "SysReq",       "Break",      "Reset",      "Stop",       "Menu",      "User", "System", "Print",
    "ClearLine", "ClearDisplay", "InsertLine", "DeleteLine", "InsertChar", "\u2326",    "Prev", "Next",   "Select",
    "Exec",      "Undo",         "Redo",       "Find",       "Help",       "ModeSwitch"};

bool isKeypadCharacter(quint16 c)
{
    return c == '*' || c == '+' || c == '-' || c == '.' || c == '/' || c == '=' || (c >= '0' && c <= '9');
}

} // namespace

QString stringForModifiers(quint64 flags)
{
    QString s;
    if (flags & HotKeyFlags::kControl)
        s += QChar(0x2303);
    if (flags & HotKeyFlags::kOption)
        s += QChar(0x2325);
    if (flags & HotKeyFlags::kShift)
        s += QChar(0x21E7);
    if (flags & HotKeyFlags::kCommand)
        s += QChar(0x2318);
    return s;
}

QString stringForCharacter(quint16 c, bool keypad, const QString &layoutText)
{
    switch (c) {
    case 3:
        return QString(QChar(0x21B5));
    case 9:
        return QString(QChar(0x21E5));
    case 13:
        return QString(QChar(0x21A9));
    case 27:
        return QStringLiteral("Esc");
    case 32:
        return QStringLiteral("Space");
    case 127:
        return QStringLiteral("Del");
    case 0xF700:
        return QString(QChar(0x2191));
    case 0xF701:
        return QString(QChar(0x2193));
    case 0xF702:
        return QString(QChar(0x2190));
    case 0xF703:
        return QString(QChar(0x2192));
    default:
        break;
    }
    if (isKeypadCharacter(c)) {
        const QString ch = QString(QChar(char16_t(c)));
        return keypad ? QStringLiteral("[%1]").arg(ch) : ch;
    }
    if (c >= 0xF704 && c <= 0xF726)
        return QStringLiteral("F%1").arg(c - 0xF704 + 1);
    if (c >= 0xF727 && c <= 0xF747)
        return QString::fromUtf8(kFunctionKeyNames[c - 0xF727]);
    if (!layoutText.isEmpty())
        return layoutText;
    return c ? QString(QChar(char16_t(c))) : QString();
}

quint64 flagsFromQt(Qt::KeyboardModifiers modifiers)
{
    quint64 flags = 0;
    if (modifiers & Qt::ControlModifier)
        flags |= HotKeyFlags::kControl;
    if (modifiers & Qt::AltModifier)
        flags |= HotKeyFlags::kOption;
    if (modifiers & Qt::ShiftModifier)
        flags |= HotKeyFlags::kShift;
    if (modifiers & Qt::MetaModifier)
        flags |= HotKeyFlags::kCommand;
    return flags;
}

Qt::KeyboardModifiers qtFromFlags(quint64 flags)
{
    Qt::KeyboardModifiers m;
    if (flags & HotKeyFlags::kControl)
        m |= Qt::ControlModifier;
    if (flags & HotKeyFlags::kOption)
        m |= Qt::AltModifier;
    if (flags & HotKeyFlags::kShift)
        m |= Qt::ShiftModifier;
    if (flags & HotKeyFlags::kCommand)
        m |= Qt::MetaModifier;
    return m;
}

quint16 characterForQtKey(int qtKey, const QString &text)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return quint16(0xF704 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Up:
        return 0xF700;
    case Qt::Key_Down:
        return 0xF701;
    case Qt::Key_Left:
        return 0xF702;
    case Qt::Key_Right:
        return 0xF703;
    case Qt::Key_Insert:
        return 0xF727;
    case Qt::Key_Delete:
        return 0xF728;
    case Qt::Key_Home:
        return 0xF729;
    case Qt::Key_End:
        return 0xF72B;
    case Qt::Key_PageUp:
        return 0xF72C;
    case Qt::Key_PageDown:
        return 0xF72D;
    case Qt::Key_Print:
        return 0xF72E;
    case Qt::Key_ScrollLock:
        return 0xF72F;
    case Qt::Key_Pause:
        return 0xF730;
    case Qt::Key_SysReq:
        return 0xF731;
    case Qt::Key_Menu:
        return 0xF735;
    case Qt::Key_Help:
        return 0xF746;
    case Qt::Key_Enter:
        return 3;
    case Qt::Key_Return:
        return 13;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Backspace:
        return 127;
    default:
        break;
    }
    // Modifier keys on their own give nothing.
    if ((qtKey >= Qt::Key_Shift && qtKey <= Qt::Key_ScrollLock) || qtKey == Qt::Key_Super_L ||
        qtKey == Qt::Key_Super_R || qtKey == Qt::Key_Hyper_L || qtKey == Qt::Key_Hyper_R || qtKey == Qt::Key_AltGr)
        return 0;
    // The unmodified character: with Ctrl held Qt's text is a control code, so prefer the
    // key's own letter for printable keys.
    if (qtKey >= 0x20 && qtKey <= 0xFFFF && qtKey < Qt::Key_Escape)
        return quint16(QChar(char16_t(qtKey)).toLower().unicode());
    if (!text.isEmpty() && text.at(0).unicode() >= 0x20)
        return text.at(0).unicode();
    return 0;
}

} // namespace XPHotKeyNames
