// Extended attributes in the user namespace, never following links.
#include "platform/Xattr.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/xattr.h>

TEST(XattrTest, SetGetListSizeRemove)
{
    const QString file = KelsoTest::home() + "/xattr/plain.txt";
    KelsoTest::writeFile(file);
    int err = 0;
    ASSERT_TRUE(Xattr::set(file, "com.apple.metadata:kMDItemStarRating", "4", &err)) << err;
    // Stored under the "user." namespace.
    char raw[16] = {};
    EXPECT_EQ(
        ::lgetxattr(QFile::encodeName(file).constData(), "user.com.apple.metadata:kMDItemStarRating", raw, sizeof raw),
        1);
    QByteArray value;
    ASSERT_TRUE(Xattr::get(file, "com.apple.metadata:kMDItemStarRating", &value, &err));
    EXPECT_EQ(value, "4");
    EXPECT_EQ(Xattr::size(file, "com.apple.metadata:kMDItemStarRating"), 1);
    ASSERT_TRUE(Xattr::set(file, "empty", QByteArray(), &err));
    EXPECT_EQ(Xattr::size(file, "empty"), 0);
    QStringList names;
    ASSERT_TRUE(Xattr::list(file, &names, &err));
    names.sort();
    EXPECT_EQ(names, (QStringList{"com.apple.metadata:kMDItemStarRating", "empty"}));
    ASSERT_TRUE(Xattr::remove(file, "empty", &err));
    err = 0;
    EXPECT_EQ(Xattr::size(file, "empty", &err), -1);
    EXPECT_EQ(err, ENODATA);
    EXPECT_FALSE(Xattr::get(file, "missing", &value, &err));
    EXPECT_EQ(err, ENODATA);
}

TEST(XattrTest, TooSmallABufferIsERANGE)
{
    const QString file = KelsoTest::home() + "/xattr/big.txt";
    KelsoTest::writeFile(file);
    int err = 0;
    ASSERT_TRUE(Xattr::set(file, "big", QByteArray(100, 'x'), &err)) << err;
    QByteArray value;
    EXPECT_FALSE(Xattr::get(file, "big", &value, &err, 10));
    EXPECT_EQ(err, ERANGE);
    EXPECT_TRUE(Xattr::get(file, "big", &value, &err, 100));
    EXPECT_EQ(value.size(), 100);
}

TEST(XattrTest, SymbolicLinksAreNotFollowed)
{
    const QString target = KelsoTest::home() + "/xattr/target.txt";
    const QString link = KelsoTest::home() + "/xattr/link.txt";
    KelsoTest::writeFile(target);
    ASSERT_TRUE(QFile::link(target, link));
    int err = 0;
    ASSERT_TRUE(Xattr::set(target, "tag", "on target", &err));
    QByteArray value;
    EXPECT_FALSE(Xattr::get(link, "tag", &value, &err)) << "the link's own attributes are read";
    EXPECT_FALSE(Xattr::set(link, "tag", "x", &err));
    EXPECT_EQ(err, EPERM);
    ASSERT_TRUE(Xattr::get(target, "tag", &value, &err));
    EXPECT_EQ(value, "on target");
}

TEST(XattrTest, MissingFileReportsENOENT)
{
    int err = 0;
    QByteArray value;
    EXPECT_FALSE(Xattr::get(KelsoTest::home() + "/no/such/file", "x", &value, &err));
    EXPECT_EQ(err, ENOENT);
    QStringList names;
    EXPECT_FALSE(Xattr::list(KelsoTest::home() + "/no/such/file", &names, &err));
    EXPECT_EQ(err, ENOENT);
}
