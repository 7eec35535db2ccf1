#include "search/KLFilePicker.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {
QStringList titles(const QList<KLFilePicker::Entry> &entries)
{
    QStringList out;
    for (const auto &e : entries)
        out.append(e.title);
    return out;
}
QString freshFolder(const QString &name)
{
    const QString f = KelsoTest::home() + "/" + name;
    QDir(f).removeRecursively();
    QDir().mkpath(f);
    return f;
}
} // namespace

TEST(FilePicker, ListsContentsSortedWithoutHiddenItems)
{
    const QString f = freshFolder("picker");
    KelsoTest::writeFile(f + "/beta.txt");
    KelsoTest::writeFile(f + "/Alpha.txt");
    KelsoTest::writeFile(f + "/.secret");
    KelsoTest::writeFile(f + "/listed-hidden.txt");
    KelsoTest::writeFile(f + "/.hidden", "listed-hidden.txt\n");
    QDir().mkpath(f + "/Zoo");
    QDir().mkpath(f + "/gamma");
    QDir().mkpath(f + "/Thing.app");

    const auto all = KLFilePicker::dirContents(f, false);
    EXPECT_EQ(titles(all), (QStringList{"Alpha.txt", "beta.txt", "gamma", "Thing.app", "Zoo"}));
    for (const auto &e : all)
        EXPECT_EQ(e.isFolder, e.title == "gamma" || e.title == "Zoo") << qPrintable(e.title);
    EXPECT_EQ(all.first().path, f + "/Alpha.txt");

    EXPECT_EQ(titles(KLFilePicker::dirContents(f, true)), (QStringList{"gamma", "Zoo"}));
    // A folder holding only files lists nothing when only folders are wanted.
    const QString files = freshFolder("picker-files");
    KelsoTest::writeFile(files + "/a.txt");
    EXPECT_TRUE(KLFilePicker::dirContents(files, true).isEmpty());
    EXPECT_EQ(KLFilePicker::dirContents(files, false).size(), 1);
}

TEST(FilePicker, SystemLibraryFoldersListNothingButAUsersLibraryDoes)
{
    EXPECT_TRUE(KLFilePicker::dirContents("/Library", false).isEmpty());
    EXPECT_TRUE(KLFilePicker::dirContents("/System/Library", false).isEmpty());
    const QString lib = freshFolder("Library");
    KelsoTest::writeFile(lib + "/prefs.txt");
    EXPECT_EQ(titles(KLFilePicker::dirContents(lib, false)), QStringList{"prefs.txt"});
    // Unreadable or missing folders list nothing and do not fail.
    EXPECT_TRUE(KLFilePicker::dirContents(KelsoTest::home() + "/missing", false).isEmpty());
}

TEST(FilePicker, NamesThatAreNotUtf8AreSkipped)
{
    const QString f = freshFolder("picker-bytes");
    KelsoTest::writeFile(f + "/good.txt");
    const QByteArray bad = QFile::encodeName(f) + "/bad-\xff\xfe.txt";
    FILE *fp = fopen(bad.constData(), "w");
    ASSERT_NE(fp, nullptr);
    fclose(fp);
    EXPECT_EQ(titles(KLFilePicker::dirContents(f, false)), QStringList{"good.txt"});
}

TEST(FilePicker, HomeItemsStartWithEverywhereAndTheRoot)
{
    QDir().mkpath(KelsoTest::home() + "/Documents");
    const auto items = KLFilePicker::homeItems(true, true);
    ASSERT_GE(items.size(), 3);
    EXPECT_TRUE(items[0].isEverywhere());
    EXPECT_EQ(items[0].title, "Everywhere");
    EXPECT_EQ(items[1].path, "/");
    EXPECT_EQ(items[2].path, KelsoTest::home());
    QStringList paths;
    for (const auto &e : items)
        paths.append(e.path);
    EXPECT_TRUE(paths.contains(KelsoTest::home() + "/Documents"));
    EXPECT_FALSE(paths.contains(KelsoTest::home() + "/Downloads")); // does not exist here
    EXPECT_FALSE(paths.contains("/home"));
    EXPECT_FALSE(KLFilePicker::homeItems(false, true).first().isEverywhere());
}

TEST(FilePicker, MovingIntoAFolderThatHoldsTheNameFailsForThatFileOnly)
{
    const QString src = freshFolder("move-src");
    const QString dst = freshFolder("move-dst");
    KelsoTest::writeFile(src + "/same.txt", "new");
    KelsoTest::writeFile(src + "/other.txt", "other");
    KelsoTest::writeFile(dst + "/same.txt", "old");
    QStringList failures;
    const int moved = KLFilePicker::moveFilesToFolder({src + "/same.txt", src + "/other.txt", src + "/gone.txt"}, dst,
                                                      [&](const QString &p) { failures.append(p); });
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(failures, (QStringList{src + "/same.txt", src + "/gone.txt"}));
    QFile a(src + "/same.txt"), b(dst + "/same.txt"), c(dst + "/other.txt");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && c.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), "new");
    EXPECT_EQ(b.readAll(), "old");
    EXPECT_EQ(c.readAll(), "other");
    EXPECT_FALSE(QFileInfo::exists(src + "/other.txt"));
}

TEST(FilePicker, TheRootIsOfferedOnceAndNoSystemRootEver)
{
    const auto items = KLFilePicker::homeItems(false, true);
    QStringList paths;
    for (const auto &e : items)
        paths.append(e.path);
    EXPECT_EQ(paths.count("/"), 1) << qPrintable(paths.join(", "));
    for (const QString &p : paths)
        EXPECT_FALSE(p == "/proc" || p == "/sys" || p == "/run" || p == "/tmp" || p.startsWith("/run/user"))
            << qPrintable(p);

    // The root folder's listing leaves out /proc, /usr, /tmp and the other system roots, and
    // keeps the folders people keep files in.
    QStringList rootNames;
    for (const auto &e : KLFilePicker::dirContents("/", true))
        rootNames.append(e.path);
    ASSERT_FALSE(rootNames.isEmpty());
    for (const char *root : {"/proc", "/sys", "/dev", "/run", "/usr", "/etc", "/var", "/tmp", "/boot", "/bin"})
        EXPECT_FALSE(rootNames.contains(QString::fromLatin1(root))) << root;
    if (QFileInfo("/home").isDir()) {
        EXPECT_TRUE(rootNames.contains("/home"));
    }
    // Inside another folder a name like "proc" is just a name.
    const QString f = freshFolder("picker-roots");
    QDir().mkpath(f + "/proc");
    QDir().mkpath(f + "/tmp");
    EXPECT_EQ(titles(KLFilePicker::dirContents(f, true)), (QStringList{"proc", "tmp"}));
}
