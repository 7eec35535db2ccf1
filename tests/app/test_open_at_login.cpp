// Open at login through the autostart folder: toggling, several entries, other copies, and
// Exec values with quotes and escapes.
#include "app/DPOpenAtLogin.h"
#include "platform/Autostart.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class OpenAtLoginTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(Autostart::folder()).removeRecursively();
        DPOpenAtLogin::setApplicationPathForTesting(kApp);
    }
    void TearDown() override { DPOpenAtLogin::setApplicationPathForTesting(QString()); }

    static QStringList files() { return QDir(Autostart::folder()).entryList(QDir::Files, QDir::Name); }
    static QByteArray contents(const QString &name)
    {
        QFile f(Autostart::folder() + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void writeEntry(const QString &name, const QByteArray &exec, const QByteArray &extra = {})
    {
        KelsoTest::writeFile(Autostart::folder() + "/" + name, "[Desktop Entry]\nType=Application\nName=" +
                                                                   name.toUtf8() + "\nExec=" + exec + "\n" + extra);
    }

    static inline const QString kApp = QStringLiteral("/opt/Kelso Apps/bin/kelso");
};

} // namespace

TEST_F(OpenAtLoginTest, TogglingTwiceReturnsToTheFirstState)
{
    writeEntry("unrelated.desktop", "/usr/bin/firefox %u");
    const QStringList before = files();
    ASSERT_FALSE(DPOpenAtLogin::openAtLoginEnabled());

    DPOpenAtLogin::toggleLoginItem();
    EXPECT_TRUE(DPOpenAtLogin::openAtLoginEnabled());
    EXPECT_TRUE(files().contains("kelso.desktop"));
    const QByteArray entry = contents("kelso.desktop");
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("X-GNOME-Autostart-Delay=3\n"));
    EXPECT_TRUE(entry.contains("Type=Application\n"));

    DPOpenAtLogin::toggleLoginItem();
    EXPECT_FALSE(DPOpenAtLogin::openAtLoginEnabled());
    EXPECT_EQ(files(), before);
    EXPECT_EQ(contents("unrelated.desktop").contains("firefox"), true);

    // And once more from the disabled state.
    DPOpenAtLogin::toggleLoginItem();
    EXPECT_TRUE(DPOpenAtLogin::openAtLoginEnabled());
    DPOpenAtLogin::toggleLoginItem();
    EXPECT_EQ(files(), before);
}

TEST_F(OpenAtLoginTest, OneDisableRemovesEveryEntryOfThisCopy)
{
    writeEntry("kelso.desktop", "\"/opt/Kelso Apps/bin/kelso\" %U");
    writeEntry("kelso 1.desktop", "\"/opt/Kelso\\sApps/bin/kelso\"");
    writeEntry("my-kelso.desktop", "\"/opt/Kelso Apps/bin/./kelso\" --hidden");
    writeEntry("unrelated.desktop", "/usr/bin/firefox %u");
    ASSERT_TRUE(DPOpenAtLogin::openAtLoginEnabled());
    DPOpenAtLogin::toggleLoginItem();
    EXPECT_FALSE(DPOpenAtLogin::openAtLoginEnabled());
    EXPECT_EQ(files(), QStringList{"unrelated.desktop"});
}

TEST_F(OpenAtLoginTest, EntriesInsideAnApplicationFolderBelongToIt)
{
    DPOpenAtLogin::setApplicationPathForTesting("/opt/Kelso.AppDir");
    writeEntry("a.desktop", "/opt/Kelso.AppDir/AppRun");
    writeEntry("b.desktop", "/opt/Kelso.AppDir/usr/bin/kelso --x");
    EXPECT_TRUE(DPOpenAtLogin::loginItemExists("/opt/Kelso.AppDir"));
    DPOpenAtLogin::disableLoginItem("/opt/Kelso.AppDir");
    EXPECT_TRUE(files().isEmpty());
}

TEST_F(OpenAtLoginTest, AnotherCopysEntryIsNeitherCountedNorRemoved)
{
    DPOpenAtLogin::setApplicationPathForTesting("/home/ann/build/kelso");
    writeEntry("kelso.desktop", "/home/ann/build/kelso-release/kelso");
    writeEntry("kelso-old.desktop", "/home/ann/build/kelso.old");
    writeEntry("other.desktop", "/opt/kelso/kelso");
    EXPECT_FALSE(DPOpenAtLogin::openAtLoginEnabled());

    DPOpenAtLogin::toggleLoginItem(); // enables this copy beside the others
    EXPECT_TRUE(DPOpenAtLogin::openAtLoginEnabled());
    EXPECT_EQ(files().size(), 4) << "the other copy's kelso.desktop is not replaced";
    EXPECT_TRUE(contents("kelso.desktop").contains("kelso-release"));

    DPOpenAtLogin::toggleLoginItem();
    EXPECT_FALSE(DPOpenAtLogin::openAtLoginEnabled());
    EXPECT_EQ(files(), (QStringList{"kelso-old.desktop", "kelso.desktop", "other.desktop"}));
}

TEST_F(OpenAtLoginTest, ExecValuesWithQuotesAndEscapes)
{
    EXPECT_EQ(Autostart::programOfExec("/usr/bin/kelso %U"), "/usr/bin/kelso");
    EXPECT_EQ(Autostart::programOfExec("  /usr/bin/kelso"), "/usr/bin/kelso");
    EXPECT_EQ(Autostart::programOfExec("\"/opt/My App/kelso\" %U"), "/opt/My App/kelso");
    EXPECT_EQ(Autostart::programOfExec("\"/opt/My\\sApp/kelso\" %U"), "/opt/My App/kelso") << "\\s is a space";
    EXPECT_EQ(Autostart::programOfExec("/opt/My\\sApp/kelso"), "/opt/My") << "an unquoted space ends the program";
    EXPECT_EQ(Autostart::programOfExec("\"/opt/a\\\\\"b/kelso\""), "/opt/a\"b/kelso");
    EXPECT_EQ(Autostart::programOfExec("\"/opt/a\\\"b/kelso\""), "/opt/a\"b/kelso") << "older single escaping";
    EXPECT_EQ(Autostart::programOfExec("\"/opt/back\\\\\\\\slash/kelso\""), "/opt/back\\slash/kelso");
    EXPECT_EQ(Autostart::programOfExec("\"/opt/unterminated"), "/opt/unterminated");
    EXPECT_EQ(Autostart::programOfExec("/usr/bin/kelso\t--x"), "/usr/bin/kelso");
}

TEST_F(OpenAtLoginTest, ProgramPathsRoundTripThroughTheEntryFile)
{
    const QStringList programs = {"/usr/bin/kelso",         "/opt/My App/kelso",    "/opt/quote\"d/kelso",
                                  "/opt/back\\slash/kelso", "/opt/$HOME/`x`/kelso", "/opt/ünï cöde/kelso"};
    for (const QString &program : programs) {
        QDir(Autostart::folder()).removeRecursively();
        QString error;
        ASSERT_TRUE(Autostart::addEntry("kelso.desktop", program, &error)) << qPrintable(error);
        const QList<Autostart::Entry> entries = Autostart::entries();
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries[0].programPath, program);
        EXPECT_TRUE(DPOpenAtLogin::loginItemExists(program)) << qPrintable(program);
        DPOpenAtLogin::disableLoginItem(program);
        EXPECT_TRUE(files().isEmpty()) << qPrintable(program);
    }
}

TEST_F(OpenAtLoginTest, BlanksAroundTheEqualsSignAreAllowed)
{
    KelsoTest::writeFile(Autostart::folder() + "/spaced.desktop",
                         "[Desktop Entry]\nType=Application\nExec = \"/opt/Kelso Apps/bin/kelso\" %U\n");
    EXPECT_TRUE(DPOpenAtLogin::openAtLoginEnabled());
    DPOpenAtLogin::toggleLoginItem();
    EXPECT_TRUE(files().isEmpty());
}

TEST_F(OpenAtLoginTest, EntriesWithoutExecOrOutsideTheMainGroupAreIgnored)
{
    KelsoTest::writeFile(Autostart::folder() + "/noexec.desktop", "[Desktop Entry]\nName=x\n");
    KelsoTest::writeFile(
        Autostart::folder() + "/action.desktop",
        "[Desktop Entry]\nExec=/usr/bin/other\n[Desktop Action new]\nExec=/opt/Kelso Apps/bin/kelso\n");
    KelsoTest::writeFile(Autostart::folder() + "/notes.txt", "Exec=/opt/Kelso Apps/bin/kelso\n");
    KelsoTest::writeFile(Autostart::folder() + "/localized.desktop",
                         "[Desktop Entry]\nExecutable=/opt/Kelso Apps/bin/kelso\nExec[de]=/opt/Kelso Apps/bin/kelso\n");
    EXPECT_FALSE(DPOpenAtLogin::openAtLoginEnabled());
    const QList<Autostart::Entry> entries = Autostart::entries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].programPath, "/usr/bin/other");
}
