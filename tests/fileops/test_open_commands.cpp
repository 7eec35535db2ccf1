// Opening files, folders and web pages through GIO's default applications, and the file
// manager requests that fall back to opening the folder: against real desktop entries
// installed in the fresh home, read by GIO exactly as the desktop reads them.
#include "fileops/XPOpenWith.h"
#include "platform/Defaults.h"
#include "platform/Workspace.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

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
    return KelsoTest::home() + "/opened.txt";
}

void run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(60000)) << qPrintable(program);
    ASSERT_EQ(p.exitCode(), 0) << qPrintable(program) << p.readAllStandardError().constData();
}

// An "application" that writes its tag and arguments, one line per launch.
void writeEntry(const QString &fileName, const QString &name, const QString &tag, const QString &mimeTypes,
                const QString &fieldCode = QStringLiteral("%F"))
{
    KelsoTest::writeFile(appsDir() + "/" + fileName,
                         QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2 %3 %4\nMimeType=%5;\n")
                             .arg(name, KelsoTest::home() + "/record.sh", tag, fieldCode, mimeTypes)
                             .toUtf8());
}

// Once per process, before GIO first looks: a document type with a default application, a
// document type nothing opens, a folder opener and a web browser.
void installOnce()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KelsoTest::writeFile(dataHome() + "/mime/packages/kelso-open-test.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                         "  <mime-type type=\"application/x-kelso-open\">\n"
                         "    <comment>Kelso open test</comment>\n"
                         "    <glob pattern=\"*.kelsoopen\"/>\n"
                         "  </mime-type>\n"
                         "  <mime-type type=\"application/x-kelso-orphan\">\n"
                         "    <comment>Kelso orphan document</comment>\n"
                         "    <glob pattern=\"*.kelsoorphan\"/>\n"
                         "  </mime-type>\n"
                         "</mime-info>\n");
    run("update-mime-database", {dataHome() + "/mime"});
    const QString script = KelsoTest::home() + "/record.sh";
    KelsoTest::writeFile(script, QStringLiteral("#!/bin/sh\necho \"$*\" >> %1\n").arg(launchLog()).toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeEntry("kelso-opener.desktop", "Kelso Opener", "opener", "application/x-kelso-open");
    writeEntry("kelso-other-opener.desktop", "Other Opener", "other", "application/x-kelso-open");
    writeEntry("kelso-folders.desktop", "Kelso Folders", "folders", "inode/directory");
    writeEntry("kelso-browser.desktop", "Kelso Browser", "browser", "x-scheme-handler/https", "%U");
    run("update-desktop-database", {appsDir()});
    KelsoTest::writeFile(KelsoTest::home() + "/.config/mimeapps.list",
                         "[Default Applications]\n"
                         "application/x-kelso-open=kelso-opener.desktop;\n"
                         "inode/directory=kelso-folders.desktop;\n"
                         "x-scheme-handler/https=kelso-browser.desktop;\n");
}

QStringList launches()
{
    QFile f(launchLog());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool waitForLaunch(const QString &line)
{
    return KelsoTest::waitFor([&] { return launches().contains(line); }, 20000);
}

class OpenCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("update-mime-database").isEmpty() ||
            QStandardPaths::findExecutable("update-desktop-database").isEmpty())
            GTEST_SKIP() << "update-mime-database and update-desktop-database are needed";
        // No file manager: nothing answers on this bus address.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-open-test-bus");
        installOnce();
        QFile::remove(launchLog());
    }
    QString doc(const QString &name)
    {
        const QString p = KelsoTest::home() + "/docs/" + name;
        KelsoTest::writeFile(p, "kelso");
        return p;
    }
};

} // namespace

TEST_F(OpenCommands, OpenUsesGiosDefaultApplicationForTheType)
{
    const QString report = doc("report.kelsoopen");
    QString error;
    ASSERT_TRUE(Workspace::openFile(report, &error)) << qPrintable(error);
    EXPECT_TRUE(waitForLaunch("opener " + report)) << qPrintable(launches().join(" | "));
}

TEST_F(OpenCommands, OpenFollowsThePreferenceThatOpenWithRecorded)
{
    const QString report = doc("preferred.kelsoopen");
    Defaults::standard().setString("prefApp_kelsoopen", appsDir() + "/kelso-other-opener.desktop");
    QString error;
    ASSERT_TRUE(XPFileUtils::openWithDefaultApplication(report, &error)) << qPrintable(error);
    EXPECT_TRUE(waitForLaunch("other " + report)) << qPrintable(launches().join(" | "));
    Defaults::standard().removeObjectForKey("prefApp_kelsoopen");
    ASSERT_TRUE(XPFileUtils::openWithDefaultApplication(report, &error)) << qPrintable(error);
    EXPECT_TRUE(waitForLaunch("opener " + report)) << qPrintable(launches().join(" | "));
}

TEST_F(OpenCommands, NothingToOpenATypeSaysWhichType)
{
    const QString orphan = doc("lonely.kelsoorphan");
    QString error;
    EXPECT_FALSE(XPFileUtils::openWithDefaultApplication(orphan, &error));
    EXPECT_EQ(error, QStringLiteral("No application is set up to open files of the type “Kelso orphan document”."));
    EXPECT_FALSE(Workspace::openFile(orphan, &error));
    EXPECT_TRUE(error.contains("Kelso orphan document")) << qPrintable(error);
    // A broken application entry is named with the reason.
    EXPECT_FALSE(XPFileUtils::openFileWithApplication(orphan, appsDir() + "/missing.desktop", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(OpenCommands, WithoutAFileManagerRevealAndPropertiesOpenTheFolder)
{
    const QString report = doc("shown.kelsoopen");
    const QString folder = QFileInfo(report).absolutePath();
    int calls = 0;
    QString why = "not called";
    Workspace::showItems({report}, [&](const QString &w) {
        ++calls;
        why = w;
    });
    EXPECT_TRUE(KelsoTest::waitFor([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(why.isEmpty()) << qPrintable(why);
    EXPECT_TRUE(waitForLaunch("folders " + folder)) << qPrintable(launches().join(" | "));

    QFile::remove(launchLog());
    calls = 0;
    Workspace::showItemProperties({report}, [&](const QString &w) {
        ++calls;
        why = w;
    });
    EXPECT_TRUE(KelsoTest::waitFor([&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(why.isEmpty()) << qPrintable(why);
    EXPECT_TRUE(waitForLaunch("folders " + folder)) << qPrintable(launches().join(" | "));

    // Two files in one folder open that folder once.
    QFile::remove(launchLog());
    const QString second = doc("second.kelsoopen");
    QString error;
    EXPECT_TRUE(Workspace::openEnclosingFolders({report, second}, &error)) << qPrintable(error);
    EXPECT_TRUE(waitForLaunch("folders " + folder));
    QTest::qWait(300);
    EXPECT_EQ(launches().count("folders " + folder), 1);
}

TEST_F(OpenCommands, WebPagesOpenInTheDefaultBrowser)
{
    QString error;
    ASSERT_TRUE(Workspace::openUrl("https://example.org/releases", &error)) << qPrintable(error);
    EXPECT_TRUE(waitForLaunch("browser https://example.org/releases")) << qPrintable(launches().join(" | "));
    EXPECT_FALSE(Workspace::openUrl("kelso-nothing://x", &error));
    EXPECT_EQ(error, QStringLiteral("No application is set up to open kelso-nothing://x."));
}
