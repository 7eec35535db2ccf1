// The mount table: mountinfo parsing (escapes, optional fields, bad lines) and the mount point
// that holds a path.
#include "platform/Mounts.h"
#include "util/QtTestPrinters.h"

#include <gtest/gtest.h>

namespace {
const QByteArray kSample = "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                           "25 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
                           "40 22 0:35 / /mnt/nas rw,relatime shared:20 master:3 - nfs4 server:/export rw,vers=4.2\n"
                           "41 22 0:36 / /mnt/my\\040share rw,relatime - cifs //host/My\\040Share rw\n"
                           "42 22 0:37 / /home/u/tab\\011name rw - fuse.sshfs u@h:/x rw\n"
                           "43 22 0:38 / /mnt/back\\134slash rw - ext4 /dev/sdb1 rw\n"
                           "garbage line without the separator\n"
                           "44 22 0:39 / relative/point rw - ext4 /dev/sdc1 rw\n"
                           "45 22 0:40 / /mnt/short rw -\n"
                           "\n"
                           "46 22 0:41 / /mnt/nas/usb rw - vfat /dev/sdd1 rw";
}

TEST(MountsTest, ParsesFieldsAndOctalEscapes)
{
    const QList<MountEntry> mounts = Mounts::parseMountInfo(kSample);
    ASSERT_EQ(mounts.size(), 7);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].fsType, "ext4");
    EXPECT_EQ(mounts[0].source, "/dev/vda");
    EXPECT_EQ(mounts[2].mountPoint, "/mnt/nas") << "optional fields before \"-\" are skipped";
    EXPECT_EQ(mounts[2].fsType, "nfs4");
    EXPECT_EQ(mounts[2].source, "server:/export");
    EXPECT_EQ(mounts[3].mountPoint, "/mnt/my share");
    EXPECT_EQ(mounts[3].source, "//host/My Share");
    EXPECT_EQ(mounts[4].mountPoint, "/home/u/tab\tname");
    EXPECT_EQ(mounts[4].fsType, "fuse.sshfs");
    EXPECT_EQ(mounts[5].mountPoint, "/mnt/back\\slash");
    EXPECT_EQ(mounts[6].mountPoint, "/mnt/nas/usb");
}

TEST(MountsTest, EscapesAtTheEndAndNonOctalBackslashes)
{
    const QList<MountEntry> mounts = Mounts::parseMountInfo("1 0 0:1 / /a\\040 rw - ext4 x rw\n"
                                                            "2 0 0:1 / /b\\09x rw - ext4 y rw\n"
                                                            "3 0 0:1 / /c\\04 rw - ext4 z rw\n");
    ASSERT_EQ(mounts.size(), 3);
    EXPECT_EQ(mounts[0].mountPoint, "/a ") << "an escape that ends the field is decoded too";
    EXPECT_EQ(mounts[1].mountPoint, "/b\\09x");
    EXPECT_EQ(mounts[2].mountPoint, "/c\\04");
}

TEST(MountsTest, MountPointOfPathIsTheLongestFolderPrefix)
{
    const QList<MountEntry> mounts = Mounts::parseMountInfo(kSample);
    EXPECT_EQ(Mounts::mountPointOfPath("/mnt/nas/file.txt", mounts), "/mnt/nas");
    EXPECT_EQ(Mounts::mountPointOfPath("/mnt/nas", mounts), "/mnt/nas");
    EXPECT_EQ(Mounts::mountPointOfPath("/mnt/nasty/file", mounts), "/") << "prefix must end at a folder";
    EXPECT_EQ(Mounts::mountPointOfPath("/mnt/nas/usb/photo.jpg", mounts), "/mnt/nas/usb");
    EXPECT_EQ(Mounts::mountPointOfPath("/mnt/my share/doc", mounts), "/mnt/my share");
    EXPECT_EQ(Mounts::mountPointOfPath("/etc/passwd", mounts), "/");
    EXPECT_EQ(Mounts::mountPointOfPath("/", mounts), "/");
    EXPECT_EQ(Mounts::mountPointOfPath("/x", {}), "/");
}

TEST(MountsTest, ThisProcessHasAMountTable)
{
    Mounts::setMountInfoPathForTesting(QString());
    const QList<MountEntry> mounts = Mounts::currentMounts();
    ASSERT_FALSE(mounts.isEmpty());
    bool hasRoot = false;
    for (const MountEntry &m : mounts)
        hasRoot = hasRoot || m.mountPoint == "/";
    EXPECT_TRUE(hasRoot);
    EXPECT_EQ(Mounts::mountPointOfPath("/proc/self"), "/proc");
}
