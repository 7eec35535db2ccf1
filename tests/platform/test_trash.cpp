// Moving files to the home trash: the file and its .trashinfo record land in
// $XDG_DATA_HOME/Trash, names never collide, and a failure leaves nothing behind.
#include "platform/Workspace.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

namespace {
QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

TEST(TrashTest, FileAndRecordGoToTheHomeTrashWithoutCollisions)
{
    const QString dir = KelsoTest::home() + "/trash-src/with space";
    KelsoTest::writeFile(dir + "/old notes.txt", "first");
    QString first, error;
    ASSERT_TRUE(Workspace::moveToTrash(dir + "/old notes.txt", &first, &error)) << qPrintable(error);
    EXPECT_FALSE(QFileInfo::exists(dir + "/old notes.txt"));
    EXPECT_EQ(first, trashFolder() + "/files/old notes.txt");
    EXPECT_EQ(readAll(first), "first");
    const QByteArray record = readAll(trashFolder() + "/info/old notes.txt.trashinfo");
    EXPECT_TRUE(record.startsWith("[Trash Info]\nPath=")) << record.constData();
    // The path is stored percent-encoded, with its slashes kept.
    EXPECT_TRUE(record.contains("Path=" + QUrl::toPercentEncoding(dir + "/old notes.txt", "/") + "\n"));
    EXPECT_TRUE(record.contains("\nDeletionDate=20"));

    // A second file of the same name must not replace the first one in the trash.
    KelsoTest::writeFile(dir + "/old notes.txt", "second");
    QString second;
    ASSERT_TRUE(Workspace::moveToTrash(dir + "/old notes.txt", &second, &error)) << qPrintable(error);
    EXPECT_NE(first, second);
    EXPECT_EQ(readAll(first), "first");
    EXPECT_EQ(readAll(second), "second");
    EXPECT_TRUE(QFileInfo::exists(trashFolder() + "/info/" + QFileInfo(second).fileName() + ".trashinfo"));
}

TEST(TrashTest, AFolderIsTrashedWhole)
{
    const QString dir = KelsoTest::home() + "/trash-src/folder";
    KelsoTest::writeFile(dir + "/inner/a.txt", "a");
    QString where, error;
    ASSERT_TRUE(Workspace::moveToTrash(dir, &where, &error)) << qPrintable(error);
    EXPECT_EQ(readAll(where + "/inner/a.txt"), "a");
}

TEST(TrashTest, AMissingFileFailsAndLeavesNoRecord)
{
    const QDir info(trashFolder() + "/info");
    const QStringList before = info.entryList(QDir::Files);
    QString error;
    EXPECT_FALSE(Workspace::moveToTrash(KelsoTest::home() + "/no such file.txt", nullptr, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(info.entryList(QDir::Files), before);
}
