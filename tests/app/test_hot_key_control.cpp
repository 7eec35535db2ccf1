// The hot-key recording field and its sheet, and the key names from xkbcommon's layouts (the
// layout data compiled from names, so no X server is needed).
#include "app/gui/KLHotKeySheet.h"
#include "app/gui/XPHotKeyControl.h"
#include "platform/Defaults.h"
#include "platform/x11/XkbKeymap.h"
#include "prefs/KLSettings.h"
#include "prefs/XPHotKeyRegistration.h"

#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

constexpr quint64 kControl = HotKeyFlags::kControl;
constexpr quint64 kOption = HotKeyFlags::kOption;
constexpr quint64 kShift = HotKeyFlags::kShift;
constexpr quint64 kCommand = HotKeyFlags::kCommand;

// X key codes of a pc105 keyboard (evdev): the same on every X server of a PC.
constexpr quint16 kSlashKey = 61;
constexpr quint16 kKKey = 45;
constexpr quint16 kYKey = 29;
constexpr quint16 kMainFiveKey = 14;
constexpr quint16 kKeypadFiveKey = 84;
constexpr quint16 kKeypadOneKey = 87;
constexpr quint16 kKeypadDivideKey = 106;
constexpr quint16 kKeypadEnterKey = 104;
constexpr quint16 kF5Key = 71;
constexpr quint16 kSuperKey = 133;

TEST(XkbKeymapTest, NamesComeFromTheLayoutInUpperCase)
{
    auto us = XkbKeymap::fromNames(QStringLiteral("us"));
    ASSERT_TRUE(us) << "the xkeyboard-config data is missing";
    EXPECT_EQ(us->keyText(kKKey), QStringLiteral("K"));
    EXPECT_EQ(us->keyText(kSlashKey), QStringLiteral("/"));
    EXPECT_EQ(us->keyText(kYKey), QStringLiteral("Y"));
    EXPECT_EQ(us->keyText(kF5Key), QString()) << "a function key has no text";
    // The German layout puts Z where the US one has Y, and "-" on the "/" key.
    auto de = XkbKeymap::fromNames(QStringLiteral("de"));
    ASSERT_TRUE(de);
    EXPECT_EQ(de->keyText(kYKey), QStringLiteral("Z"));
    EXPECT_EQ(de->keyText(kSlashKey), QStringLiteral("-"));
}

TEST(XkbKeymapTest, KeypadKeysAreKnownByTheirSymbolsNotTheirCodes)
{
    auto us = XkbKeymap::fromNames(QStringLiteral("us"));
    ASSERT_TRUE(us);
    EXPECT_TRUE(us->isKeypadKey(kKeypadFiveKey));
    EXPECT_TRUE(us->isKeypadKey(kKeypadOneKey));
    EXPECT_TRUE(us->isKeypadKey(kKeypadDivideKey));
    EXPECT_TRUE(us->isKeypadKey(kKeypadEnterKey));
    // Key codes above 61 that are not on the keypad.
    EXPECT_FALSE(us->isKeypadKey(kSlashKey));
    EXPECT_FALSE(us->isKeypadKey(kF5Key));
    EXPECT_FALSE(us->isKeypadKey(kSuperKey));
    EXPECT_FALSE(us->isKeypadKey(kMainFiveKey));
}

TEST(XkbKeymapTest, StoredCharactersForKeys)
{
    auto us = XkbKeymap::fromNames(QStringLiteral("us"));
    ASSERT_TRUE(us);
    EXPECT_EQ(us->characterForKeyCode(kSlashKey), '/');
    EXPECT_EQ(us->characterForKeyCode(kKKey), 'k') << "the character without modifiers";
    EXPECT_EQ(us->characterForKeyCode(kF5Key), 0xF708);
    EXPECT_EQ(us->characterForKeyCode(kMainFiveKey), '5');
    // The keypad's digit whatever NumLock says now.
    EXPECT_EQ(us->characterForKeyCode(kKeypadFiveKey), '5');
    EXPECT_EQ(us->characterForKeyCode(kKeypadDivideKey), '/');
    EXPECT_EQ(us->characterForKeyCode(kKeypadEnterKey), 3);
    EXPECT_EQ(us->characterForKeyCode(kSuperKey), 0) << "a modifier key gives nothing";
    EXPECT_EQ(us->keyCodeForKeysym(0x2f /* slash */), kSlashKey);
}

TEST(XkbKeymapTest, StoredFlagsBecomeCoreModifierBits)
{
    X11ModifierMasks masks; // Shift 1, Control 4, Alt on Mod1 (8), Super on Mod4 (64)
    EXPECT_EQ(x11ModifiersForFlags(kCommand, masks), 0x40);
    EXPECT_EQ(x11ModifiersForFlags(kOption, masks), 0x08);
    EXPECT_EQ(x11ModifiersForFlags(kControl, masks), 0x04);
    EXPECT_EQ(x11ModifiersForFlags(kShift, masks), 0x01);
    EXPECT_EQ(x11ModifiersForFlags(kControl | kOption | kShift | kCommand, masks), 0x4D);
    // Caps Lock's flag and other bits never reach the grab.
    EXPECT_EQ(x11ModifiersForFlags(0x10000 | 0x800000, masks), 0);
    // Where the server puts Super on Mod3, the grab follows.
    masks.super = 0x20;
    EXPECT_EQ(x11ModifiersForFlags(kCommand | kShift, masks), 0x21);
}

// A backend naming keys from the US layout and registering whatever it is asked.
class UsLayoutBackend : public GlobalHotKeyBackend
{
public:
    std::unique_ptr<XkbKeymap> keymap = XkbKeymap::fromNames(QStringLiteral("us"));
    int registrations = 0;
    quint16 keyCode = 0;
    quint64 flags = 0;
    bool registered = false;
    Result registerKey(quint16 code, quint64 f) override
    {
        ++registrations;
        keyCode = code;
        flags = f;
        registered = true;
        return Result::Registered;
    }
    void unregisterKey() override { registered = false; }
    QString keyText(quint16 code) const override { return keymap->keyText(code); }
    bool isKeypadKey(quint16 code) const override { return keymap->isKeypadKey(code); }
    quint16 characterForKeyCode(quint16 code) const override { return keymap->characterForKeyCode(code); }
};

class HotKeyControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(backend.keymap);
        defaults = std::make_unique<Defaults>(dir.filePath(QStringLiteral("settings.plist")));
        KLSettings::setupDefaults(*defaults);
        reg = std::make_unique<XPHotKeyRegistration>(*defaults, &backend);
        XPHotKeyControl::setRegistration(reg.get());
        reg->installHotKey();
    }
    void TearDown() override { XPHotKeyControl::setRegistration(nullptr); }
    quint64 stored(const char *key) const { return defaults->unsignedForKey(QString::fromLatin1(key)); }

    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults;
    UsLayoutBackend backend;
    std::unique_ptr<XPHotKeyRegistration> reg;
};

TEST_F(HotKeyControlTest, TheFieldShowsTheStoredCombination)
{
    XPHotKeyControl field;
    EXPECT_EQ(field.text(), QStringLiteral("⌘/"));
    EXPECT_FALSE(field.accessibleName().isEmpty());
    EXPECT_EQ(XPHotKeyControl::menuShortcutText(), QStringLiteral("⌘/"));
    defaults->setBool(QStringLiteral("XPUseGlobalHotKey"), false);
    EXPECT_EQ(XPHotKeyControl::menuShortcutText(), QString()) << "no shortcut text for a switched-off key";
    EXPECT_EQ(XPHotKeyControl::unavailableNote(), QString()) << "the backend registers: nothing to explain";
}

TEST_F(HotKeyControlTest, WithoutGlobalKeysTheSheetSaysWhatToBind)
{
    XPHotKeyRegistration none(*defaults, nullptr);
    XPHotKeyControl::setRegistration(&none);
    EXPECT_TRUE(XPHotKeyControl::unavailableNote().contains(QStringLiteral("kelso toggle")));
    QWidget parent;
    KLHotKeySheet sheet(&parent);
    sheet.begin();
    auto *note = sheet.findChild<QLabel *>(QStringLiteral("hotKeyNote"));
    ASSERT_TRUE(note);
    EXPECT_TRUE(note->text().contains(QStringLiteral("kelso toggle")));
    sheet.reject();
}

TEST_F(HotKeyControlTest, RecordingStoresRegistersAndNamesTheCombination)
{
    XPHotKeyControl field;
    int recorded = 0;
    QObject::connect(&field, &XPHotKeyControl::hotKeyRecorded, [&] { ++recorded; });
    ASSERT_TRUE(field.recordCombination(kKKey, 'k', kControl | kOption | kShift | kCommand));
    EXPECT_EQ(field.text(), QStringLiteral("⌃⌥⇧⌘K"));
    EXPECT_EQ(stored("XPHotKeyKeyCode"), kKKey);
    EXPECT_EQ(stored("XPHotKeyCharacter"), quint64('k'));
    EXPECT_EQ(stored("XPModifierFlags"), kControl | kOption | kShift | kCommand);
    EXPECT_EQ(backend.keyCode, kKKey);
    EXPECT_EQ(backend.flags, kControl | kOption | kShift | kCommand);
    EXPECT_EQ(recorded, 1);

    ASSERT_TRUE(field.recordCombination(kKeypadFiveKey, '5', kCommand));
    EXPECT_EQ(field.text(), QStringLiteral("⌘[5]"));
    ASSERT_TRUE(field.recordCombination(kMainFiveKey, '5', kCommand));
    EXPECT_EQ(field.text(), QStringLiteral("⌘5"));
    ASSERT_TRUE(field.recordCombination(kF5Key, 0xF708, 0)) << "a function key may stand alone";
    EXPECT_EQ(field.text(), QStringLiteral("F5"));
    EXPECT_EQ(backend.flags, 0u);
}

TEST_F(HotKeyControlTest, APlainCharacterKeyRecordsNothing)
{
    XPHotKeyControl field;
    const int before = backend.registrations;
    EXPECT_FALSE(field.recordCombination(38 /* a */, 'a', 0));
    EXPECT_FALSE(field.recordCombination(9 /* Escape */, 27, 0));
    EXPECT_FALSE(field.recordCombination(kSuperKey, 0, kCommand)) << "a modifier alone";
    EXPECT_EQ(field.text(), QStringLiteral("⌘/"));
    EXPECT_EQ(stored("XPHotKeyKeyCode"), kSlashKey);
    EXPECT_EQ(stored("XPModifierFlags"), kCommand);
    EXPECT_EQ(backend.registrations, before);
}

TEST_F(HotKeyControlTest, TypedKeysReachTheField)
{
    QWidget window;
    auto *field = new XPHotKeyControl(&window);
    window.show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A);
    EXPECT_EQ(field->text(), QStringLiteral("⌘/")) << "a plain letter is not a hot key";
    QTest::keyClick(field, Qt::Key_F5);
    EXPECT_EQ(field->text(), QStringLiteral("F5"));
    EXPECT_EQ(stored("XPHotKeyCharacter"), 0xF708u);
    QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(stored("XPModifierFlags"), kControl | kCommand);
    EXPECT_EQ(stored("XPHotKeyCharacter"), quint64('k'));
    // A combination the field would take is claimed before any shortcut sees it.
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier);
    override.ignore();
    QCoreApplication::sendEvent(field, &override);
    EXPECT_TRUE(override.isAccepted());
}

TEST_F(HotKeyControlTest, TheHotKeyIsLetGoWhileTheFieldHasTheKeyboard)
{
    QWidget window;
    auto *field = new XPHotKeyControl(&window);
    auto *other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 2000));
    EXPECT_FALSE(backend.registered) << "pressing the key in force must record it, not hide Kelso";
    field->recordCombination(kKKey, 'k', kControl | kOption);
    EXPECT_FALSE(backend.registered);
    other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return other->hasFocus(); }, 2000));
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(backend.keyCode, kKKey);
}

TEST_F(HotKeyControlTest, CancelRestoresTheOldKeyAndOkKeepsTheNewOne)
{
    QWidget parent;
    parent.show();
    {
        KLHotKeySheet sheet(&parent);
        sheet.begin();
        ASSERT_TRUE(sheet.control()->recordCombination(kKKey, 'k', kControl | kOption));
        sheet.reject();
        EXPECT_EQ(stored("XPHotKeyKeyCode"), kSlashKey);
        EXPECT_EQ(stored("XPHotKeyCharacter"), quint64('/'));
        EXPECT_EQ(stored("XPModifierFlags"), kCommand);
    }
    // Registered again with the old key (the field lost the keyboard when the sheet went).
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(backend.keyCode, kSlashKey);
    EXPECT_EQ(backend.flags, kCommand);
    EXPECT_EQ(XPHotKeyControl::menuShortcutText(), QStringLiteral("⌘/"));
    {
        KLHotKeySheet sheet(&parent);
        sheet.begin();
        ASSERT_TRUE(sheet.control()->recordCombination(kF5Key, 0xF708, kShift));
        sheet.accept();
    }
    EXPECT_EQ(stored("XPHotKeyKeyCode"), kF5Key);
    EXPECT_EQ(stored("XPModifierFlags"), kShift);
    EXPECT_TRUE(backend.registered);
    EXPECT_EQ(backend.keyCode, kF5Key);
    EXPECT_EQ(XPHotKeyControl::menuShortcutText(), QStringLiteral("⇧F5"));
}

} // namespace
