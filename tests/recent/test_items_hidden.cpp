// The hidden flag of items made on the main thread (reading the store, ranking): the folder's
// ".hidden" file is never looked at there, the item worker settles the answer, and the answers
// stay what the rule says. Also: items dropped or files removed while that work is pending.
#include "recent/KLItem.h"
#include "recent/KLRules.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

QString freshFolder(const QString &name)
{
    const QString dir = home() + QStringLiteral("/hidden-items/") + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

} // namespace

TEST(HiddenItemsTest, ItemsMadeOnTheMainThreadLeaveTheHiddenFileToTheWorker)
{
    const QString dir = freshFolder(QStringLiteral("made"));
    writeFile(dir + "/secret.txt");
    writeFile(dir + "/plain.txt");
    writeFile(dir + "/.hidden", "secret.txt\n");

    const int before = KLRules::hiddenFileLookupsOnMainThread();
    const KLItemPtr secret = KLItem::create(dir + "/secret.txt");
    const KLItemPtr plain = KLItem::create(dir + "/plain.txt");
    const KLItemPtr stackFolder = KLItem::create(dir, false); // as ranking makes them
    // As the store is read: the archive form decoded on this thread.
    const KLItemPtr decoded = KLItem::fromArchive(secret->archive());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(KLRules::hiddenFileLookupsOnMainThread(), before) << "a .hidden file was read on the main thread";

    // The worker settles every answer without being asked again.
    KLItem::waitForBackgroundUpdates();
    EXPECT_TRUE(secret->ruleFacts().invisible);
    EXPECT_TRUE(decoded->ruleFacts().invisible);
    EXPECT_FALSE(plain->ruleFacts().invisible);
    EXPECT_FALSE(stackFolder->ruleFacts().invisible);
    EXPECT_TRUE(secret->isInvisible());
    EXPECT_EQ(KLRules::hiddenFileLookupsOnMainThread(), before);
}

TEST(HiddenItemsTest, KnownFoldersAreAnsweredAtOnceFromMemory)
{
    const QString dir = freshFolder(QStringLiteral("known"));
    writeFile(dir + "/.hidden", "a.txt\r\nb.txt\n");
    writeFile(dir + "/a.txt");
    writeFile(dir + "/c.txt");

    // Never read yet: not settled, and nothing is claimed.
    bool settled = true;
    EXPECT_FALSE(KLRules::isInvisibleFromMemory(dir + "/a.txt", &settled));
    EXPECT_FALSE(settled);

    // The collector's scans read the file on their own thread; from then on memory knows it.
    std::thread scan([&] { EXPECT_TRUE(KLRules::isInvisible(dir + "/a.txt")); });
    scan.join();
    EXPECT_TRUE(KLRules::isInvisibleFromMemory(dir + "/a.txt", &settled));
    EXPECT_FALSE(settled) << "a remembered list may be stale, so the worker still confirms it";
    EXPECT_TRUE(KLRules::isInvisibleFromMemory(dir + "/b.txt")) << "CR LF line ends";
    EXPECT_FALSE(KLRules::isInvisibleFromMemory(dir + "/c.txt"));

    // A made item on the main thread answers the rule at once, before its worker update.
    const int before = KLRules::hiddenFileLookupsOnMainThread();
    const KLItemPtr a = KLItem::create(dir + "/a.txt");
    EXPECT_TRUE(a->ruleFacts().invisible);
    EXPECT_EQ(KLRules::hiddenFileLookupsOnMainThread(), before);

    // Path rules need no file at all and are final.
    EXPECT_TRUE(KLRules::isInvisibleFromMemory(dir + "/.dotfile", &settled));
    EXPECT_TRUE(settled);
    EXPECT_TRUE(KLRules::isInvisibleFromMemory(QStringLiteral("/usr/share/doc/x"), &settled));
    EXPECT_TRUE(settled);
    EXPECT_TRUE(KLRules::isInvisibleFromMemory(QString(), &settled));
    EXPECT_TRUE(settled);

    // A folder without a .hidden file is remembered as such.
    const QString bare = freshFolder(QStringLiteral("bare"));
    writeFile(bare + "/x.txt");
    std::thread scanBare([&] { EXPECT_FALSE(KLRules::isInvisible(bare + "/x.txt")); });
    scanBare.join();
    EXPECT_FALSE(KLRules::isInvisibleFromMemory(bare + "/x.txt"));
    KLItem::waitForBackgroundUpdates();
}

TEST(HiddenItemsTest, WorkerAnswerFollowsTheFileNotAStaleMemory)
{
    const QString dir = freshFolder(QStringLiteral("stale"));
    writeFile(dir + "/.hidden", "old.txt\n");
    writeFile(dir + "/old.txt");
    writeFile(dir + "/new.txt");
    std::thread scan([&] { KLRules::isInvisible(dir + "/old.txt"); });
    scan.join();

    // The list changes (same size, so only the time tells), after memory learnt the old one.
    QFile f(dir + "/.hidden");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("new.txt\n");
    f.close();
    struct timespec later[2] = {{0, UTIME_OMIT}, {0, 0}};
    later[1].tv_sec = ::time(nullptr) + 5;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir + "/.hidden").constData(), later, 0), 0);

    const KLItemPtr oldItem = KLItem::create(dir + "/old.txt");
    const KLItemPtr newItem = KLItem::create(dir + "/new.txt");
    KLItem::waitForBackgroundUpdates();
    EXPECT_FALSE(oldItem->ruleFacts().invisible) << "the stale list won";
    EXPECT_TRUE(newItem->ruleFacts().invisible);
}

TEST(HiddenItemsTest, OffTheMainThreadTheAnswerIsThereAtOnce)
{
    const QString dir = freshFolder(QStringLiteral("worker"));
    writeFile(dir + "/.hidden", "w.txt\n");
    writeFile(dir + "/w.txt");
    bool invisible = false;
    std::thread t([&] {
        const KLItemPtr item = KLItem::create(dir + "/w.txt");
        invisible = item->ruleFacts().invisible;
    });
    t.join();
    EXPECT_TRUE(invisible);
    KLItem::waitForBackgroundUpdates();
}

TEST(HiddenItemsTest, ItemsAndFilesThatVanishMeanwhile)
{
    const QString dir = freshFolder(QStringLiteral("vanish"));
    writeFile(dir + "/.hidden", "h0.txt\n");
    QList<KLItemPtr> kept;
    for (int i = 0; i < 200; ++i) {
        const QString p = dir + QStringLiteral("/h%1.txt").arg(i);
        writeFile(p);
        KLItemPtr item = KLItem::create(p);
        if (i % 2 == 0)
            kept.append(item); // the odd ones are dropped before the worker gets to them
    }
    // The folder goes away while the worker still has to look at it.
    QDir(dir).removeRecursively();
    KLItem::waitForBackgroundUpdates();
    // Whether an update ran before or after the removal, no answer is made up: only h0 was
    // ever listed.
    for (const KLItemPtr &item : std::as_const(kept)) {
        const KLItem::RuleFacts facts = item->ruleFacts();
        if (!facts.path.endsWith(QLatin1String("/h0.txt"))) {
            EXPECT_FALSE(facts.invisible) << qPrintable(facts.path);
        }
    }
    kept.last()->calculateCache();
    EXPECT_FALSE(kept.last()->ruleFacts().exists);
    // Nothing listed any more: gone files count as visible, the rule reads no list.
    EXPECT_FALSE(KLRules::isInvisible(dir + "/h0.txt"));
    KLItem::waitForBackgroundUpdates();
}
