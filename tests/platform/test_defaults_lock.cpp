// The settings lock file left half made by a process killed while taking it.
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <gtest/gtest.h>
#include <unistd.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {
class DefaultsLockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = home() + "/defaults-lock-" + QString::number(++s_counter);
        ASSERT_TRUE(QDir().mkpath(root));
        settings = root + "/com.tallow.kelso.plist";
        lock = settings + ".lock";
    }
    static inline int s_counter = 0;
    QString root, settings, lock;
};
} // namespace

TEST_F(DefaultsLockTest, EmptyOrCutShortLockOfAGoneProcessIsRemoved)
{
    // Killed between creating the file and writing its owner, or in the middle of the write.
    for (const QByteArray &content : {QByteArray(), QByteArray("4242"), QByteArray("4242\nkelso\n")}) {
        writeFile(lock, content);
        EXPECT_TRUE(Defaults::removeAbandonedLockFile(lock)) << content.constData();
        EXPECT_FALSE(QFile::exists(lock));
    }
    EXPECT_FALSE(Defaults::removeAbandonedLockFile(lock)); // none there
}

TEST_F(DefaultsLockTest, LocksThatMayBeLiveOrAreQLockFilesOwnBusinessStay)
{
    // Held by a live QLockFile (its owner holds the flock), whatever the content says.
    {
        QLockFile held(lock);
        ASSERT_TRUE(held.tryLock(0));
        EXPECT_FALSE(Defaults::removeAbandonedLockFile(lock));
        EXPECT_TRUE(QFile::exists(lock));
        QFile f(lock);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)); // even when emptied
        f.close();
        EXPECT_FALSE(Defaults::removeAbandonedLockFile(lock));
        EXPECT_TRUE(QFile::exists(lock));
    }
    // A complete owner record: QLockFile itself settles it (at once when the owner is gone).
    writeFile(lock, "4242\nkelso\nsomehost\nsome-boot-id\n");
    EXPECT_FALSE(Defaults::removeAbandonedLockFile(lock));
    EXPECT_TRUE(QFile::exists(lock));
    QFile::remove(lock);
    // A symbolic link is never followed nor removed; neither is a folder.
    const QString target = root + "/empty-target";
    writeFile(target, QByteArray());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(lock).constData()), 0);
    EXPECT_FALSE(Defaults::removeAbandonedLockFile(lock));
    EXPECT_TRUE(QFileInfo(lock).isSymLink());
    EXPECT_TRUE(QFile::exists(target));
    QFile::remove(lock);
    ASSERT_TRUE(QDir().mkpath(lock));
    EXPECT_FALSE(Defaults::removeAbandonedLockFile(lock));
    EXPECT_TRUE(QFileInfo(lock).isDir());
}

TEST_F(DefaultsLockTest, SynchronizeWritesPastAnAbandonedLock)
{
    writeFile(lock, QByteArray());
    Defaults defaults(settings);
    defaults.setString("KLProbe", "written");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_FALSE(QFile::exists(lock));
    QFile f(settings);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QString error;
    EXPECT_EQ(Plist::fromData(f.readAll(), &error).toMap().value("KLProbe").toString(), QString("written"));
}
