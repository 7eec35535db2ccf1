// The global hot key's names (modifier symbols, the key table, the keypad) and the rules of its
// registration, with a backend that records what it was asked.
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "prefs/XPHotKeyNames.h"
#include "prefs/XPHotKeyRegistration.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using XPHotKeyNames::stringForCharacter;
using XPHotKeyNames::stringForModifiers;

constexpr quint64 kControl = HotKeyFlags::kControl;
constexpr quint64 kOption = HotKeyFlags::kOption;
constexpr quint64 kShift = HotKeyFlags::kShift;
constexpr quint64 kCommand = HotKeyFlags::kCommand;

TEST(HotKeyNamesTest, ModifiersAlwaysInControlOptionShiftCommandOrder)
{
    EXPECT_EQ(stringForModifiers(0), QString());
    EXPECT_EQ(stringForModifiers(kCommand), QStringLiteral("⌘"));
    EXPECT_EQ(stringForModifiers(kCommand | kShift | kOption | kControl), QStringLiteral("⌃⌥⇧⌘"));
    EXPECT_EQ(stringForModifiers(kShift | kControl), QStringLiteral("⌃⇧"));
    // Bits outside the four (Caps Lock's 0x10000, Fn's 0x800000) show nothing.
    EXPECT_EQ(stringForModifiers(0x10000 | 0x800000 | kOption), QStringLiteral("⌥"));
}

TEST(HotKeyNamesTest, SpecialCharactersAndFunctionKeysHaveNames)
{
    EXPECT_EQ(stringForCharacter(0xF708, false, QString()), QStringLiteral("F5"));
    EXPECT_EQ(stringForCharacter(0xF704, false, QString()), QStringLiteral("F1"));
    EXPECT_EQ(stringForCharacter(0xF726, false, QString()), QStringLiteral("F35"));
    EXPECT_EQ(stringForCharacter(0xF727, false, QString()), QStringLiteral("Ins"));
    EXPECT_EQ(stringForCharacter(0xF729, false, QString()), QStringLiteral("↖"));
    EXPECT_EQ(stringForCharacter(0xF72D, false, QString()), QStringLiteral("PgDn"));
    EXPECT_EQ(stringForCharacter(0xF73E, false, QString()), QStringLiteral("⌦"));
    EXPECT_EQ(stringForCharacter(0xF747, false, QString()), QStringLiteral("ModeSwitch"));
    EXPECT_EQ(stringForCharacter(0xF700, false, QString()), QStringLiteral("↑"));
    EXPECT_EQ(stringForCharacter(0xF703, false, QString()), QStringLiteral("→"));
    EXPECT_EQ(stringForCharacter(3, false, QString()), QStringLiteral("↵"));
    EXPECT_EQ(stringForCharacter(9, false, QString()), QStringLiteral("⇥"));
    EXPECT_EQ(stringForCharacter(13, false, QString()), QStringLiteral("↩"));
    EXPECT_EQ(stringForCharacter(27, false, QString()), QStringLiteral("Esc"));
    EXPECT_EQ(stringForCharacter(32, false, QString()), QStringLiteral("Space"));
    EXPECT_EQ(stringForCharacter(127, false, QString()), QStringLiteral("Del"));
    // The table wins over the layout's text.
    EXPECT_EQ(stringForCharacter(32, false, QStringLiteral(" ")), QStringLiteral("Space"));
}

TEST(HotKeyNamesTest, KeypadKeysAreBracketedAndTheMainRowIsNot)
{
    EXPECT_EQ(stringForCharacter('5', true, QString()), QStringLiteral("[5]"));
    EXPECT_EQ(stringForCharacter('5', false, QStringLiteral("5")), QStringLiteral("5"));
    EXPECT_EQ(stringForCharacter('/', true, QString()), QStringLiteral("[/]"));
    EXPECT_EQ(stringForCharacter('/', false, QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(stringForCharacter('*', true, QString()), QStringLiteral("[*]"));
    // A keypad flag on a letter changes nothing: only digits and operators are wrapped.
    EXPECT_EQ(stringForCharacter('k', true, QStringLiteral("K")), QStringLiteral("K"));
}

TEST(HotKeyNamesTest, OtherKeysTakeTheLayoutTextElseTheCharacter)
{
    EXPECT_EQ(stringForCharacter('k', false, QStringLiteral("K")), QStringLiteral("K"));
    EXPECT_EQ(stringForCharacter(0x00E9, false, QString()), QStringLiteral("é"));
    EXPECT_EQ(stringForCharacter(0, false, QString()), QString());
}

TEST(HotKeyNamesTest, QtModifiersConvertBothWays)
{
    EXPECT_EQ(XPHotKeyNames::flagsFromQt(Qt::MetaModifier), kCommand) << "Super is Command";
    EXPECT_EQ(XPHotKeyNames::flagsFromQt(Qt::AltModifier), kOption) << "Alt is Option";
    EXPECT_EQ(XPHotKeyNames::flagsFromQt(Qt::ControlModifier), kControl);
    EXPECT_EQ(XPHotKeyNames::flagsFromQt(Qt::ShiftModifier | Qt::KeypadModifier), kShift)
        << "the keypad flag is not a modifier of the combination";
    const quint64 all = kControl | kOption | kShift | kCommand;
    EXPECT_EQ(XPHotKeyNames::flagsFromQt(XPHotKeyNames::qtFromFlags(all)), all);
    EXPECT_EQ(XPHotKeyNames::qtFromFlags(kCommand | 0x10000), Qt::MetaModifier);
}

TEST(HotKeyNamesTest, QtKeysGiveTheStoredCharacters)
{
    using XPHotKeyNames::characterForQtKey;
    EXPECT_EQ(characterForQtKey(Qt::Key_F5, QString()), 0xF708);
    EXPECT_EQ(characterForQtKey(Qt::Key_F35, QString()), 0xF726);
    EXPECT_EQ(characterForQtKey(Qt::Key_Up, QString()), 0xF700);
    EXPECT_EQ(characterForQtKey(Qt::Key_PageDown, QString()), 0xF72D);
    EXPECT_EQ(characterForQtKey(Qt::Key_Escape, QStringLiteral("\x1b")), 27);
    // With Ctrl held the text is a control code: the key's own letter counts, in lower case.
    EXPECT_EQ(characterForQtKey(Qt::Key_K, QStringLiteral("\x0b")), 'k');
    EXPECT_EQ(characterForQtKey(Qt::Key_Slash, QStringLiteral("/")), '/');
    // Modifier keys alone give nothing, so pressing Super alone records nothing.
    EXPECT_EQ(characterForQtKey(Qt::Key_Meta, QString()), 0);
    EXPECT_EQ(characterForQtKey(Qt::Key_Super_L, QString()), 0);
    EXPECT_EQ(characterForQtKey(Qt::Key_Shift, QString()), 0);
}

// A backend that registers whatever it is asked unless told to refuse, and counts the calls.
class RecordingBackend : public GlobalHotKeyBackend
{
public:
    Result next = Result::Registered;
    int registrations = 0;
    int unregistrations = 0;
    quint16 keyCode = 0;
    quint64 flags = 0;
    bool registered = false;

    Result registerKey(quint16 code, quint64 f) override
    {
        ++registrations;
        keyCode = code;
        flags = f;
        registered = next == Result::Registered;
        return next;
    }
    void unregisterKey() override
    {
        ++unregistrations;
        registered = false;
    }
    QString keyText(quint16 code) const override { return code == 45 ? QStringLiteral("K") : QString(); }
    bool isKeypadKey(quint16 code) const override { return code == 84; }
    quint16 characterForKeyCode(quint16) const override { return 0; }
    void pressAndRelease() { Q_EMIT activated(); }
    void changeKeyboard() { Q_EMIT keyboardChanged(); }
};

class HotKeyRegistrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<Defaults>(dir.filePath(QStringLiteral("settings.plist")));
        KLSettings::setupDefaults(*defaults);
        reg = std::make_unique<XPHotKeyRegistration>(*defaults, &backend);
    }
    void setKey(quint16 code, quint16 ch, quint64 flags)
    {
        defaults->setUnsigned(QStringLiteral("XPHotKeyKeyCode"), code);
        defaults->setUnsigned(QStringLiteral("XPHotKeyCharacter"), ch);
        defaults->setUnsigned(QStringLiteral("XPModifierFlags"), flags);
    }
    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults;
    RecordingBackend backend;
    std::unique_ptr<XPHotKeyRegistration> reg;
};

TEST_F(HotKeyRegistrationTest, TheDefaultIsCommandSlashOnTheSlashKey)
{
    EXPECT_EQ(reg->keyCode(), 61);
    EXPECT_EQ(reg->character(), 47);
    EXPECT_EQ(reg->modifierFlags(), kCommand);
    EXPECT_EQ(reg->currentText(), QStringLiteral("⌘/"));
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 1);
    EXPECT_EQ(backend.keyCode, 61);
    EXPECT_EQ(backend.flags, kCommand);
    EXPECT_EQ(reg->registeredText(), QStringLiteral("⌘/"));
}

TEST_F(HotKeyRegistrationTest, NamesUseTheBackendsLayoutAndKeypad)
{
    EXPECT_EQ(reg->stringForKeyCode(45, 'k', kControl | kOption | kShift | kCommand), QStringLiteral("⌃⌥⇧⌘K"));
    EXPECT_EQ(reg->stringForKeyCode(84, '5', kCommand), QStringLiteral("⌘[5]"));
    EXPECT_EQ(reg->stringForKeyCode(14, '5', kCommand), QStringLiteral("⌘5"));
    EXPECT_EQ(reg->stringForKeyCode(71, 0xF708, 0), QStringLiteral("F5"));
}

TEST_F(HotKeyRegistrationTest, AnUnchangedCombinationIsRegisteredOnce)
{
    reg->installHotKey();
    reg->installHotKey();
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 1);
    EXPECT_EQ(backend.unregistrations, 0);
    // A stored value with extra bits outside the four reads the same: still no new grab.
    defaults->setUnsigned(QStringLiteral("XPModifierFlags"), kCommand | 0x10000);
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 1);
    // Another combination replaces the registration.
    setKey(45, 'k', kControl | kOption);
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 2);
    EXPECT_EQ(backend.unregistrations, 1);
    EXPECT_EQ(backend.keyCode, 45);
    EXPECT_EQ(backend.flags, kControl | kOption);
    EXPECT_EQ(reg->registeredText(), QStringLiteral("⌃⌥K"));
}

TEST_F(HotKeyRegistrationTest, SwitchingTheHotKeyOffUnregistersAndOnRegistersAgain)
{
    reg->installHotKey();
    defaults->setBool(QStringLiteral("XPUseGlobalHotKey"), false);
    reg->installHotKey();
    EXPECT_FALSE(backend.registered);
    EXPECT_EQ(backend.unregistrations, 1);
    EXPECT_FALSE(reg->registeredText().has_value());
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 1) << "switched off: nothing is registered";
    defaults->setBool(QStringLiteral("XPUseGlobalHotKey"), true);
    reg->installHotKey();
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(backend.registrations, 2);
}

TEST_F(HotKeyRegistrationTest, ARefusedCombinationIsTriedAgainAndToldOnce)
{
    QSignalSpy told(reg.get(), &XPHotKeyRegistration::registrationFailed);
    backend.next = GlobalHotKeyBackend::Result::Taken;
    reg->installHotKey();
    EXPECT_FALSE(reg->registeredText().has_value());
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 2) << "the next install tries again";
    ASSERT_EQ(told.count(), 1) << "the user is told once, not at every try";
    EXPECT_TRUE(told.at(0).at(0).toString().contains(QStringLiteral("⌘/")));
    // Another combination that is also taken is worth telling.
    setKey(45, 'k', kControl);
    reg->installHotKey();
    EXPECT_EQ(told.count(), 2);
    // Once the other program lets go, the retry succeeds.
    backend.next = GlobalHotKeyBackend::Result::Registered;
    reg->installHotKey();
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(reg->registeredText(), QStringLiteral("⌃K"));
    EXPECT_EQ(told.count(), 2);
}

TEST_F(HotKeyRegistrationTest, ADesktopWithoutGlobalKeysIsNotToldAsAConflict)
{
    QSignalSpy told(reg.get(), &XPHotKeyRegistration::registrationFailed);
    backend.next = GlobalHotKeyBackend::Result::Unavailable;
    reg->installHotKey();
    reg->installHotKey();
    EXPECT_EQ(told.count(), 0);
    EXPECT_FALSE(reg->registeredText().has_value());
}

TEST_F(HotKeyRegistrationTest, ALayoutChangeRegistersAgain)
{
    reg->installHotKey();
    backend.changeKeyboard();
    EXPECT_EQ(backend.registrations, 2);
    EXPECT_EQ(backend.unregistrations, 0) << "the backend replaces the grab itself; a held key stays held";
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(reg->registeredText(), QStringLiteral("⌘/"));
    // Still only one registration for an unchanged combination afterwards.
    reg->installHotKey();
    EXPECT_EQ(backend.registrations, 2);
    // Nothing registered (switched off): a layout change registers nothing.
    defaults->setBool(QStringLiteral("XPUseGlobalHotKey"), false);
    reg->installHotKey();
    backend.changeKeyboard();
    EXPECT_EQ(backend.registrations, 2);
}

TEST_F(HotKeyRegistrationTest, WhileSuspendedNothingIsHeldAndResumingRegistersTheStoredKey)
{
    reg->installHotKey();
    reg->setSuspended(true);
    EXPECT_FALSE(backend.registered);
    setKey(45, 'k', kControl | kOption);
    reg->installHotKey();
    EXPECT_FALSE(backend.registered) << "a key recorded while suspended waits";
    reg->setSuspended(false);
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(backend.keyCode, 45);
    EXPECT_EQ(reg->registeredText(), QStringLiteral("⌃⌥K"));
}

TEST_F(HotKeyRegistrationTest, TheKeyActsAMomentAfterItsRelease)
{
    QSignalSpy pressed(reg.get(), &XPHotKeyRegistration::hotKeyPressed);
    reg->installHotKey();
    backend.pressAndRelease();
    EXPECT_EQ(pressed.count(), 0) << "not inside the key event's delivery";
    EXPECT_TRUE(KelsoTest::waitFor([&] { return pressed.count() == 1; }, 2000));
}

TEST_F(HotKeyRegistrationTest, WithoutABackendNothingIsRegisteredAndNamesStillWork)
{
    XPHotKeyRegistration none(*defaults, nullptr);
    none.installHotKey();
    EXPECT_FALSE(none.registeredText().has_value());
    EXPECT_EQ(none.currentText(), QStringLiteral("⌘/"));
    EXPECT_EQ(none.stringForKeyCode(45, 'k', kShift), QStringLiteral("⇧k"));
}

} // namespace
