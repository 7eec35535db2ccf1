// The settings registry and the colour settings: defaults on an empty store, saved values kept
// across a restart, unreadable colour values, and resetting the colours.
#include "platform/Defaults.h"
#include "prefs/KLColours.h"
#include "prefs/KLSettings.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QColor>
#include <QDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {
int g_counter = 0;
QString freshPath()
{
    const QString folder = KelsoTest::home() + QStringLiteral("/settings-%1").arg(++g_counter);
    QDir().mkpath(folder);
    return folder + "/com.tallow.kelso.plist";
}

void expectColour(const std::optional<QColor> &c, double r, double g, double b, double a, const char *what)
{
    ASSERT_TRUE(c.has_value()) << what;
    // Colours keep 16 bits per component.
    EXPECT_NEAR(c->redF(), r, 1.0 / 65535) << what;
    EXPECT_NEAR(c->greenF(), g, 1.0 / 65535) << what;
    EXPECT_NEAR(c->blueF(), b, 1.0 / 65535) << what;
    EXPECT_NEAR(c->alphaF(), a, 1.0 / 65535) << what;
    EXPECT_EQ(c->toRgb(), *c) << what; // already device RGB
}
} // namespace

TEST(SettingsTest, AnEmptyStoreReadsTheRegisteredDefaults)
{
    Defaults d(freshPath());
    KLSettings::setupDefaults(d);
    EXPECT_EQ(d.stringArrayForKey("unwantedExtensions"), (QStringList{"xcodeproj", "tmp"}));
    EXPECT_EQ(d.unsignedForKey("lastHandledFSEvent"), std::numeric_limits<quint64>::max());
    EXPECT_EQ(d.unsignedForKey("lastHandledFSEvent"), KLSettings::kNoEventHandled);
    EXPECT_TRUE(d.boolForKey("KLVirginLaunch"));
    EXPECT_TRUE(d.boolForKey("KLAlwaysCopyOnDrag"));
    EXPECT_TRUE(d.boolForKey("KPUseCommas"));
    EXPECT_TRUE(d.boolForKey("KLIncludeFileOpenedEvents"));
    EXPECT_TRUE(d.boolForKey("XPUseGlobalHotKey"));
    EXPECT_TRUE(d.boolForKey("KPShowDropZone2"));
    EXPECT_FALSE(d.boolForKey("KLFadeIn"));
    EXPECT_FALSE(d.boolForKey("KPAutoAddDragsAndSuchToCooler"));
    EXPECT_EQ(d.integerForKey("XPHotKeyKeyCode"), 61);
    EXPECT_EQ(d.integerForKey("XPHotKeyCharacter"), 47);
    EXPECT_EQ(d.integerForKey("XPModifierFlags"), 1048576);
    EXPECT_TRUE(d.stringForKey("SUFeedURL").startsWith("https://"));
    EXPECT_TRUE(d.stringArrayForKey("wantedDirectories").isEmpty());
    // Keys read without a registered default are absent.
    EXPECT_EQ(d.integerForKey("launchCount"), 0);
    EXPECT_FALSE(d.boolForKey("KPRunInDock"));
    EXPECT_FALSE(d.contains("KPRootFolderBookmarkData"));
}

TEST(SettingsTest, SavedValuesSurviveARestartAndTheNextRegistration)
{
    const QString path = freshPath();
    {
        Defaults d(path);
        KLSettings::setupDefaults(d);
        d.setValue("unwantedExtensions", QStringList{"log"});
        d.setUnsigned("lastHandledFSEvent", 123456789012345ULL);
        d.setBool("KLVirginLaunch", false);
        ASSERT_TRUE(d.synchronize());
    }
    Defaults d(path);
    KLSettings::setupDefaults(d);
    EXPECT_EQ(d.stringArrayForKey("unwantedExtensions"), QStringList{"log"});
    EXPECT_EQ(d.unsignedForKey("lastHandledFSEvent"), 123456789012345ULL);
    EXPECT_FALSE(d.boolForKey("KLVirginLaunch"));
}

TEST(ColoursTest, EachKeyWithoutASavedValueReadsItsRegisteredDefault)
{
    Defaults d(freshPath());
    KLSettings::setupDefaults(d);
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoBackgroundColour"), 0.16, 0.18, 0.16, 0.9,
                 "Kelso background");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour"), 1, 1, 1, 1, "Kelso text");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLCoolerBackgroundColour"), 0.38, 0.38, 0.38, 0.9,
                 "Cooler background");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLCoolerTextColour"), 1, 1, 1, 1, "Cooler text");
    const auto white = KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour");
    ASSERT_TRUE(white);
    EXPECT_EQ(white->redF(), 1.0f);
    EXPECT_EQ(white->alphaF(), 1.0f);
    QStringList keys = KLSettings::colourKeys();
    keys.sort();
    EXPECT_EQ(KLSettings::colourDefaults().keys(), keys) << "the reset set is exactly the four colour keys";
}

TEST(ColoursTest, TheStandardStoreAnswersToo)
{
    KLSettings::setupDefaults(Defaults::standard());
    expectColour(KLColours::kpColorFromUserDefaultsForKey("KLCoolerTextColour"), 1, 1, 1, 1, "standard store");
    EXPECT_FALSE(KLColours::kpColorFromUserDefaultsForKey("NoSuchColourKey").has_value());
}

TEST(ColoursTest, AValueThatIsNotAColourReadsAsNone)
{
    Defaults d(freshPath());
    KLSettings::setupDefaults(d);
    const QList<QVariant> notColours = {
        QVariant("white"),
        QVariant(QByteArray("\x01\x02")),
        QVariant(42),
        QVariant(QVariantList{0.1, 0.2, 0.3}),
        QVariant(QVariantList{0.1, 0.2, 0.3, 0.4, 0.5}),
        QVariant(QVariantList{0.1, 0.2, 1.5, 1.0}),
        QVariant(QVariantList{-0.1, 0.2, 0.3, 1.0}),
        QVariant(QVariantList{"0.5", "0.5", "0.5", "1"}),
        QVariant(QVariantList{true, true, true, true}),
        QVariant(QVariantList{std::nan(""), 0.0, 0.0, 1.0}),
        QVariant(QVariantMap{{"r", 1}}),
    };
    for (const QVariant &v : notColours) {
        d.setValue("KLKelsoTextColour", v);
        EXPECT_FALSE(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour").has_value())
            << qPrintable(v.toString()) << " " << v.typeName();
    }
    EXPECT_FALSE(KLColours::kpColorFromUserDefaultsForKey(d, "KLUnregisteredColour").has_value());
    // Integers 0 and 1 are fine components.
    d.setValue("KLKelsoTextColour", QVariantList{0, 1, 0, 1});
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour"), 0, 1, 0, 1, "integers");
}

TEST(ColoursTest, AChosenColourSurvivesARestart)
{
    const QString path = freshPath();
    {
        Defaults d(path);
        KLSettings::setupDefaults(d);
        KLColours::setColour(d, "KLCoolerBackgroundColour", QColor::fromRgbF(0.2f, 0.4f, 0.6f, 0.8f));
        // A colour given in another colour model is stored as device RGB.
        KLColours::setColour(d, "KLKelsoTextColour", QColor::fromHsvF(0.0f, 1.0f, 1.0f, 0.5f));
        ASSERT_TRUE(d.synchronize());
    }
    Defaults d(path);
    KLSettings::setupDefaults(d);
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLCoolerBackgroundColour"), 0.2, 0.4, 0.6, 0.8, "chosen");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour"), 1, 0, 0, 0.5, "from HSV");
}

TEST(ColoursTest, ResetRestoresExactlyTheFourColoursAndNothingElse)
{
    const QString path = freshPath();
    {
        Defaults d(path);
        KLSettings::setupDefaults(d);
        for (const QString &key : KLSettings::colourKeys())
            KLColours::setColour(d, key, QColor::fromRgbF(0.5f, 0.25f, 0.125f, 0.75f));
        d.setBool("KLFadeIn", true);
        d.setValue("wantedDirectories", QStringList{"/home/u/Projects"});
        d.setInteger("launchCount", 5);
        d.setValue("KLCustomColour", KLColours::encode(Qt::red));
        ASSERT_TRUE(d.synchronize());

        KLSettings::resetColours(d);
        for (const QString &key : KLSettings::colourKeys()) {
            EXPECT_FALSE(d.hasSavedValue(key)) << qPrintable(key);
            EXPECT_EQ(KLColours::kpColorFromUserDefaultsForKey(d, key),
                      KLColours::decode(KLSettings::colourDefaults().value(key)))
                << qPrintable(key);
        }
        ASSERT_TRUE(d.synchronize());
    }
    Defaults d(path); // after a restart the reset holds
    KLSettings::setupDefaults(d);
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoBackgroundColour"), 0.16, 0.18, 0.16, 0.9,
                 "reset");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour"), 1, 1, 1, 1, "reset");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLCoolerBackgroundColour"), 0.38, 0.38, 0.38, 0.9,
                 "reset");
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLCoolerTextColour"), 1, 1, 1, 1, "reset");
    EXPECT_TRUE(d.boolForKey("KLFadeIn"));
    EXPECT_EQ(d.stringArrayForKey("wantedDirectories"), QStringList{"/home/u/Projects"});
    EXPECT_EQ(d.integerForKey("launchCount"), 5);
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLCustomColour"), 1, 0, 0, 1, "not a reset key");
}

TEST(ColoursTest, ResetWorksEvenBeforeTheDefaultsWereRegistered)
{
    Defaults d(freshPath());
    KLColours::setColour(d, "KLKelsoTextColour", Qt::black);
    KLSettings::resetColours(d);
    expectColour(KLColours::kpColorFromUserDefaultsForKey(d, "KLKelsoTextColour"), 1, 1, 1, 1, "reset unregistered");
}
