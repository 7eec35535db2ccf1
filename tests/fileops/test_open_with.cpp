// Open-with against real desktop entries: a test MIME type and three test applications installed
// in the fresh home, read through GIO exactly as the desktop does.
#include "fileops/XPOpenWith.h"
#include "platform/Apps.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace XPFileUtils;

namespace {

QString dataHome()
{
    return KelsoTest::home() + "/.local/share";
}
QString appsDir()
{
    return dataHome() + "/applications";
}
QString launchLog()
{
    return KelsoTest::home() + "/launched.txt";
}

void run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(60000)) << qPrintable(program);
    ASSERT_EQ(p.exitCode(), 0) << qPrintable(program) << p.readAllStandardError().constData();
}

void writeDesktopEntry(const QString &fileName, const QString &name,
                       const QString &mimeType = QStringLiteral("application/x-kelso-test"))
{
    const QString script = KelsoTest::home() + "/record.sh";
    KelsoTest::writeFile(appsDir() + "/" + fileName,
                         QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2 %F\n"
                                        "MimeType=%3;\n")
                             .arg(name, script, mimeType)
                             .toUtf8());
}

bool toolsPresent()
{
    return !QStandardPaths::findExecutable("update-mime-database").isEmpty() &&
           !QStandardPaths::findExecutable("update-desktop-database").isEmpty();
}

// Installs, once per process, before GIO first looks: the types application/x-kelso-test
// (*.kelsotest) and application/x-kelso-many (*.kelsomany, a kind of application/x-kelso-base),
// a recording "application" and the desktop entries for them.
void installTestTypesOnce()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KelsoTest::writeFile(dataHome() + "/mime/packages/kelso-test.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                         "  <mime-type type=\"application/x-kelso-test\">\n"
                         "    <comment>Kelso test document</comment>\n"
                         "    <glob pattern=\"*.kelsotest\"/>\n"
                         "  </mime-type>\n"
                         "  <mime-type type=\"application/x-kelso-base\">\n"
                         "    <comment>Kelso base document</comment>\n"
                         "  </mime-type>\n"
                         "  <mime-type type=\"application/x-kelso-many\">\n"
                         "    <comment>Kelso document with many editors</comment>\n"
                         "    <sub-class-of type=\"application/x-kelso-base\"/>\n"
                         "    <glob pattern=\"*.kelsomany\"/>\n"
                         "  </mime-type>\n"
                         "</mime-info>\n");
    run("update-mime-database", {dataHome() + "/mime"});

    const QString script = KelsoTest::home() + "/record.sh";
    KelsoTest::writeFile(
        script, QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> %1; done\n").arg(launchLog()).toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    writeDesktopEntry("kelso-zed.desktop", "Zed Editor");
    writeDesktopEntry("kelso-tool10.desktop", "Tool 10");
    writeDesktopEntry("kelso-tool9.desktop", "tool 9");
    writeDesktopEntry("kelso-base-viewer.desktop", "Base Viewer", "application/x-kelso-base");
    for (int i = 1; i <= 9; ++i)
        writeDesktopEntry(QStringLiteral("kelso-many-%1.desktop").arg(i), QStringLiteral("Many %1").arg(i),
                          "application/x-kelso-many");
    run("update-desktop-database", {appsDir()});
    KelsoTest::writeFile(KelsoTest::home() + "/.config/mimeapps.list",
                         "[Default Applications]\napplication/x-kelso-test=kelso-zed.desktop;\n");
}

class OpenWithTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!toolsPresent())
            GTEST_SKIP() << "update-mime-database and update-desktop-database are needed";
        installTestTypesOnce();
    }

    QString doc() const
    {
        const QString p = KelsoTest::home() + "/docs/report.kelsotest";
        if (!QFileInfo::exists(p))
            KelsoTest::writeFile(p, "kelso");
        return p;
    }
};

QStringList titlesOf(const QList<OpenWithEntry> &entries)
{
    QStringList out;
    for (const OpenWithEntry &e : entries)
        out.append(e.kind == OpenWithEntry::Separator ? QStringLiteral("-") : e.title);
    return out;
}

} // namespace

TEST_F(OpenWithTest, ListsDefaultFirstThenOthersSortedNumericallyThenOther)
{
    Defaults::standard().removeObjectForKey("prefApp_kelsotest");
    const QString document = doc();
    EXPECT_EQ(getDefaultApplicationForFile(document), appsDir() + "/kelso-zed.desktop");

    const QList<OpenWithEntry> entries = openWithEntriesForDocument(document);
    EXPECT_EQ(titlesOf(entries), (QStringList{"Zed Editor (default)", "-", "tool 9", "Tool 10", "-", "Other…"}));
    ASSERT_EQ(entries.size(), 6);
    EXPECT_TRUE(entries[0].isDefault);
    EXPECT_EQ(entries[0].representedObject, (QVariantMap{{"path", document}}));
    EXPECT_EQ(entries[3].representedObject,
              (QVariantMap{{"path", document}, {"app", appsDir() + "/kelso-tool10.desktop"}}));
    EXPECT_EQ(entries[3].toolTip, appsDir() + "/kelso-tool10.desktop");
    EXPECT_EQ(entries[5].kind, OpenWithEntry::Other);
    EXPECT_EQ(entries[5].representedObject, (QVariantMap{{"path", document}}));
}

TEST_F(OpenWithTest, ChoosingAnApplicationOpensWithItAndRemembersItUntilItIsDeleted)
{
    const QString document = doc();
    const QString tool10 = appsDir() + "/kelso-tool10.desktop";
    QFile::remove(launchLog());

    QString error;
    ASSERT_TRUE(openSelectedWithApp({{"path", document}, {"app", tool10}}, nullptr, &error)) << qPrintable(error);
    EXPECT_EQ(Defaults::standard().stringForKey("prefApp_kelsotest"), tool10);
    ASSERT_TRUE(KelsoTest::waitFor([] { return QFileInfo(launchLog()).size() > 0; }, 20000));
    QFile log(launchLog());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(log.readAll()).trimmed(), document);

    // The preference now leads the menu, and the system default joins the others.
    EXPECT_EQ(getDefaultApplicationForFile(document), tool10);
    EXPECT_EQ(titlesOf(openWithEntriesForDocument(document)),
              (QStringList{"Tool 10 (default)", "-", "tool 9", "Zed Editor", "-", "Other…"}));

    // The application goes away: the default comes back and the stale key is dropped.
    ASSERT_TRUE(QFile::remove(tool10));
    run("update-desktop-database", {appsDir()});
    EXPECT_EQ(getDefaultApplicationForFile(document), appsDir() + "/kelso-zed.desktop");
    EXPECT_FALSE(Defaults::standard().hasSavedValue("prefApp_kelsotest"));
    EXPECT_TRUE(KelsoTest::waitFor(
        [&] {
            return titlesOf(openWithEntriesForDocument(document)) ==
                   QStringList{"Zed Editor (default)", "-", "tool 9", "-", "Other…"};
        },
        20000))
        << qPrintable(titlesOf(openWithEntriesForDocument(document)).join('|'));
    writeDesktopEntry("kelso-tool10.desktop", "Tool 10");
    run("update-desktop-database", {appsDir()});
}

TEST_F(OpenWithTest, PreferenceNeedsAShortExtensionAndAnExistingApplication)
{
    const QString zed = appsDir() + "/kelso-zed.desktop";
    Defaults d(KelsoTest::home() + "/prefs-test.plist");
    setPreferredAppForFile(KelsoTest::home() + "/README", zed, &d);
    setPreferredAppForFile(KelsoTest::home() + "/a.abcdefghijkl", zed, &d); // 12 characters
    setPreferredAppForFile(KelsoTest::home() + "/a.abcdefghijk", zed, &d);  // 11 characters
    setPreferredAppForFile(KelsoTest::home() + "/a.PDF", KelsoTest::home() + "/no-such.desktop", &d);
    setPreferredAppForFile(KelsoTest::home() + "/b.PDF", zed, &d);
    EXPECT_FALSE(d.hasSavedValue("prefApp_"));
    EXPECT_FALSE(d.hasSavedValue("prefApp_abcdefghijkl"));
    EXPECT_EQ(d.stringForKey("prefApp_abcdefghijk"), zed);
    EXPECT_EQ(d.stringForKey("prefApp_PDF"), zed); // its own letter case
    EXPECT_FALSE(d.hasSavedValue("prefApp_pdf"));
    // An application entry is never opened with another application.
    EXPECT_EQ(getDefaultApplicationForFile(KelsoTest::home() + "/Some.app", &d), QString());
}

TEST_F(OpenWithTest, ViewersJoinOnlyWhileThereAreAtMostNineEditors)
{
    const QString document = KelsoTest::home() + "/docs/data.kelsomany";
    KelsoTest::writeFile(document, "many");
    const QString viewer = appsDir() + "/kelso-base-viewer.desktop";
    // Nine applications name the type itself; the viewer handles it through its parent type.
    EXPECT_EQ(editorURLsForURL(document, false).size(), 9);
    EXPECT_FALSE(editorURLsForURL(document, false).contains(viewer));
    EXPECT_TRUE(editorURLsForURL(document, true).contains(viewer));
    QStringList titles = titlesOf(openWithEntriesForDocument(document));
    EXPECT_TRUE(titles.contains("Base Viewer")) << qPrintable(titles.join('|'));
    EXPECT_EQ(titles.count("Many 1") + titles.count("Many 1 (default)"), 1);

    // A tenth editor: editors only.
    writeDesktopEntry("kelso-many-10.desktop", "Many 10", "application/x-kelso-many");
    run("update-desktop-database", {appsDir()});
    EXPECT_TRUE(KelsoTest::waitFor([&] { return editorURLsForURL(document, false).size() == 10; }, 20000));
    titles = titlesOf(openWithEntriesForDocument(document));
    EXPECT_FALSE(titles.contains("Base Viewer")) << qPrintable(titles.join('|'));
    // Sorted by value: Many 9 before Many 10.
    EXPECT_LT(titles.indexOf("Many 9"), titles.indexOf("Many 10"));
    EXPECT_EQ(titles.last(), "Other…");
    QFile::remove(appsDir() + "/kelso-many-10.desktop");
    run("update-desktop-database", {appsDir()});
}

TEST(OpenWithRules, ExtensionsVersionsFiltersAndNumericOrder)
{
    EXPECT_EQ(pathExtension("/a/Report.pdf"), "pdf");
    EXPECT_EQ(pathExtension("/a/archive.tar.GZ"), "GZ");
    EXPECT_EQ(pathExtension("/a/.bashrc"), "");
    EXPECT_EQ(pathExtension("/a/trailing."), "");
    EXPECT_EQ(pathExtension("/a.d/README"), "");

    EXPECT_EQ(displayVersion("1.2", "345"), "1.2");
    EXPECT_EQ(displayVersion(QString(21, 'x'), "345"), "345");
    EXPECT_EQ(displayVersion(QString(20, 'x'), "345"), QString(20, 'x'));
    EXPECT_EQ(displayVersion("", ""), "");

    EXPECT_TRUE(applicationPathIsOffered("/usr/share/applications/gimp.desktop"));
    EXPECT_FALSE(applicationPathIsOffered("/usr/bin/gimp"));
    EXPECT_FALSE(applicationPathIsOffered("/home/u/Mail/Attachments/x.desktop"));
    EXPECT_FALSE(applicationPathIsOffered("/home/u/Library/x.desktop"));
    EXPECT_FALSE(applicationPathIsOffered("/Previous Systems/x.desktop"));

    EXPECT_LT(compareMenuItems("App 9", "App 10"), 0);
    EXPECT_LT(compareMenuItems("alpha", "Beta"), 0);
    EXPECT_EQ(compareMenuItems("Gimp", "gimp"), 0);
}

TEST(OpenWithRules, NumericComparisonDetails)
{
    EXPECT_LT(compareMenuItems("Tool 2 beta", "Tool 10 alpha"), 0);
    EXPECT_EQ(compareMenuItems("Tool 007", "tool 7"), 0);
    EXPECT_LT(compareMenuItems("Tool", "Tool 1"), 0);
    EXPECT_GT(compareMenuItems("Tool 1", "Tool"), 0);
    EXPECT_LT(compareMenuItems("99999999999999999999", "100000000000000000000"), 0);
}

// GIO lives in a module loaded at the first question; without it Kelso still runs and says why.
TEST(OpenWithDeathTest, WithoutTheApplicationsModuleNoApplicationsAndLaunchesFailWithAReason)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("KELSO_APPS_MODULE", "/nonexistent/libkelso_apps.so");
            QString error;
            const bool none = Apps::allAppsForType(QStringLiteral("text/plain")).isEmpty() &&
                              !Apps::defaultAppForType(QStringLiteral("text/plain")).isValid();
            const bool refused = !Apps::launchWithFiles(QStringLiteral("/usr/share/applications/x.desktop"),
                                                        {QStringLiteral("/tmp/a")}, &error) &&
                                 error.contains(QLatin1String("module"));
            std::_Exit(none && refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "cannot load the applications module");
}
