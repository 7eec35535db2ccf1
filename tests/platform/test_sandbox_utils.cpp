// Root-folder access: every root test passes, and the chosen folder is recorded.
#include "platform/Defaults.h"
#include "platform/XPSandboxUtils.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace XPSandboxUtils;

TEST(SandboxUtilsTest, EveryPathIsUnderTheRoot)
{
    EXPECT_FALSE(fileSandboxInUse());
    EXPECT_TRUE(hasFullDiskAccess());
    EXPECT_TRUE(alreadyGrantedAccess());
    EXPECT_EQ(rootAccessURL(), QUrl::fromLocalFile("/"));
    for (const char *path : {"/", "", "/media/usb/photo.jpg", "/mnt/nas/x", "relative/path", "/proc/1"})
        EXPECT_TRUE(fileIsUnderRoot(QString::fromUtf8(path))) << path;
    // Also after a narrower root folder was chosen.
    const QString narrow = KelsoTest::home() + "/narrow-root";
    QDir().mkpath(narrow);
    ASSERT_FALSE(handleUserSelectedURL(QUrl::fromLocalFile(narrow)).has_value());
    EXPECT_TRUE(fileIsUnderRoot("/etc/hosts"));
    EXPECT_TRUE(fileIsUnderRoot(""));
}

TEST(SandboxUtilsTest, AnEmptyUrlIsAnError)
{
    const auto error = handleUserSelectedURL(QUrl());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, "com.tallow");
    EXPECT_EQ(error->code, -1);
    EXPECT_EQ(error->description, "Cannot select an empty URL");
}

TEST(SandboxUtilsTest, ChoosingAFolderReplacesTheRecordAndFailuresKeepIt)
{
    const QString first = KelsoTest::home() + "/root one";
    const QString second = KelsoTest::home() + "/root two";
    QDir().mkpath(first);
    QDir().mkpath(second);
    ASSERT_FALSE(handleUserSelectedURL(QUrl::fromLocalFile(first)).has_value());
    EXPECT_EQ(rootFolderPath(), first);
    const QByteArray firstRecord = Defaults::standard().dataForKey("KPRootFolderBookmarkData");
    EXPECT_FALSE(firstRecord.isEmpty());

    ASSERT_FALSE(handleUserSelectedURL(QUrl::fromLocalFile(second)).has_value());
    EXPECT_EQ(rootFolderPath(), second);
    EXPECT_NE(Defaults::standard().dataForKey("KPRootFolderBookmarkData"), firstRecord);

    // Neither an empty choice nor a folder that is gone changes the record.
    EXPECT_TRUE(handleUserSelectedURL(QUrl()).has_value());
    const auto gone = handleUserSelectedURL(QUrl::fromLocalFile(KelsoTest::home() + "/no such folder"));
    ASSERT_TRUE(gone.has_value());
    EXPECT_NE(gone->code, 0);
    EXPECT_FALSE(gone->description.isEmpty());
    EXPECT_EQ(rootFolderPath(), second);

    // The record lives in the settings file.
    ASSERT_TRUE(Defaults::standard().synchronize());
    Defaults reread(Defaults::standard().filePath());
    EXPECT_EQ(reread.dataForKey("KPRootFolderBookmarkData"),
              Defaults::standard().dataForKey("KPRootFolderBookmarkData"));
}

TEST(SandboxUtilsTest, OpenPanelIsPreparedForOneFolder)
{
    prepareNSOpenPanel(nullptr); // nothing happens
    OpenPanelConfig panel;
    prepareNSOpenPanel(&panel);
    EXPECT_TRUE(panel.canChooseDirectories);
    EXPECT_FALSE(panel.canChooseFiles);
    EXPECT_FALSE(panel.allowsMultipleSelection);
    EXPECT_EQ(panel.title, "Choose Root Folder For Kelso");
    EXPECT_EQ(panel.prompt, "Choose This Folder");
    EXPECT_EQ(panel.message, "Choose the root folder you want Kelso to have access to:");
}
