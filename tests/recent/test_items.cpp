// Items: archive form (including the legacy "alias" key), bookmarks that find renamed files,
// the lazy background cache and its 3-second throttle, titles, subtitles, stacks, trash and
// unreachable volumes.
#include "recent/KLItem.h"
#include "recent/XPSimpleUtils.h"
#include "support/TestSupport.h"
#include "util/Localized.h"
#include "util/Tilde.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

using KelsoTest::home;
using KelsoTest::writeFile;

namespace {

QString freshFolder(const QString &name)
{
    const QString dir = home() + QStringLiteral("/items/") + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

void setMtime(const QString &path, KLTime t)
{
    const double unix = KLTimeUtil::toUnix(t);
    struct timeval tv[2];
    tv[0].tv_sec = tv[1].tv_sec = time_t(unix);
    tv[0].tv_usec = tv[1].tv_usec = 0;
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), tv), 0);
}

// A classic version-2 alias record holding the POSIX path (tag 18) of `inVolume`.
QByteArray aliasRecord(const QByteArray &inVolume, const QByteArray &volume = "/")
{
    QByteArray rec(150, '\0');
    rec[6] = 0;
    rec[7] = 2; // version
    auto tag = [&](qint16 t, const QByteArray &value) {
        rec.append(char((t >> 8) & 0xff));
        rec.append(char(t & 0xff));
        rec.append(char((value.size() >> 8) & 0xff));
        rec.append(char(value.size() & 0xff));
        rec.append(value);
        if (value.size() & 1)
            rec.append('\0');
    };
    tag(2, "junk-we-skip");
    tag(19, volume);
    tag(18, inVolume);
    tag(-1, QByteArray());
    return rec;
}

} // namespace

TEST(ItemArchiveTest, RoundTripKeepsPathBookmarkDateAndStack)
{
    const QString dir = freshFolder("archive");
    writeFile(dir + "/a.txt");
    writeFile(dir + "/b.txt");
    writeFile(dir + "/c.txt");
    KLItemPtr folder = KLItem::create(dir);
    folder->setDate(1234.5);
    folder->addSubItems({KLItem::create(dir + "/a.txt"), KLItem::create(dir + "/b.txt")});
    KLItemPtr plain = KLItem::create(dir + "/c.txt");

    const QVariantMap archived = folder->archive();
    EXPECT_TRUE(archived.contains("bookmarkData"));
    EXPECT_EQ(archived.value("path").toString(), dir);
    EXPECT_DOUBLE_EQ(archived.value("overrideDate").toDouble(), 1234.5);
    EXPECT_EQ(archived.value("stack").toMap().size(), 2);
    EXPECT_FALSE(plain->archive().contains("overrideDate")) << "a zero override date is not written";
    EXPECT_FALSE(plain->archive().contains("stack"));

    KLItemPtr back = KLItem::fromArchive(archived);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->lastKnownPath(), dir);
    EXPECT_EQ(back->bookmarkData(), folder->bookmarkData());
    EXPECT_DOUBLE_EQ(back->timeOfFile(), 1234.5);
    ASSERT_EQ(back->stackCount(), 2);
    EXPECT_EQ(KLItem::pathsForItems(back->stack()), QStringList({dir + "/a.txt", dir + "/b.txt"}));
}

TEST(ItemArchiveTest, LegacyAliasStillYieldsABookmark)
{
    const QString dir = freshFolder("alias");
    writeFile(dir + "/old.pdf");
    // An alias record that names the file.
    QVariantMap withRecord{{"alias", aliasRecord(QFile::encodeName(dir + "/old.pdf"))}, {"path", dir + "/old.pdf"}};
    KLItemPtr a = KLItem::fromArchive(withRecord);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->bookmarkData().isEmpty());
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(a->bookmarkData()).path, dir + "/old.pdf");

    // Alias bytes Kelso cannot read: the archived path still gives the item its bookmark.
    QVariantMap unreadable{{"alias", QByteArray("\x01\x02garbage", 9)}, {"path", dir + "/old.pdf"}};
    KLItemPtr b = KLItem::fromArchive(unreadable);
    ASSERT_TRUE(b);
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(b->bookmarkData()).path, dir + "/old.pdf");
    EXPECT_NE(XPSimpleUtils::decodeBookmark(b->bookmarkData()).inode, 0u);

    // "bookmarkData" wins over "alias" when both are there.
    writeFile(dir + "/other.pdf");
    QVariantMap both{{"bookmarkData", XPSimpleUtils::bookmarkDataForPath(dir + "/other.pdf")},
                     {"alias", aliasRecord(QFile::encodeName(dir + "/old.pdf"))},
                     {"path", dir + "/other.pdf"}};
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(KLItem::fromArchive(both)->bookmarkData()).path, dir + "/other.pdf");

    // An alias record on a volume mounted elsewhere joins the mount point and the inner path.
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(
                  XPSimpleUtils::bookmarkDataFromAliasData(aliasRecord("/x/y.txt", "/media/u/Disk")))
                  .path,
              QString("/media/u/Disk/x/y.txt"));
}

TEST(ItemArchiveTest, ArchivesThatNameNoFileAreRefused)
{
    EXPECT_FALSE(KLItem::fromArchive({}));
    EXPECT_FALSE(KLItem::fromArchive({{"path", "relative/name"}}));
    EXPECT_FALSE(KLItem::fromArchive({{"bookmarkData", QByteArray("not a bookmark")}}));
    // Nested junk in a stack is skipped, the item itself kept.
    KLItemPtr item = KLItem::fromArchive({{"path", "/nowhere/x"}, {"stack", QVariantMap{{"a", 5}, {"b", "text"}}}});
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->isStack());
}

TEST(ItemBookmarkTest, RenamedFileIsFoundByInodeInItsOldFolder)
{
    const QString dir = freshFolder("rename");
    writeFile(dir + "/draft.txt", "content");
    KLItemPtr item = KLItem::create(dir + "/draft.txt");
    ASSERT_TRUE(QFile::rename(dir + "/draft.txt", dir + "/final.txt"));
    writeFile(dir + "/unrelated.txt", "other"); // a different inode in the same folder

    EXPECT_EQ(XPSimpleUtils::resolveBookmarkDataToPath(item->bookmarkData(), false), dir + "/final.txt");
    item->calculateCache();
    EXPECT_EQ(item->lastKnownPath(), dir + "/final.txt");
    EXPECT_TRUE(item->fileExists());
    // The bookmark now describes the new place.
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(item->bookmarkData()).path, dir + "/final.txt");
}

TEST(ItemBookmarkTest, ABatchFindsRenamedAndGoneFilesListingEachFolderOnce)
{
    const QString dir = freshFolder("batch");
    QList<KLItemPtr> renamed, gone;
    for (int i = 0; i < 40; ++i) {
        const QString name = dir + "/draft" + QString::number(i) + ".txt";
        writeFile(name, "content");
        (i % 2 ? renamed : gone).append(KLItem::create(name));
    }
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(QFile::rename(renamed[i]->lastKnownPath(), dir + "/final" + QString::number(i) + ".txt"));
        ASSERT_TRUE(QFile::remove(gone[i]->lastKnownPath()));
    }
    EXPECT_EQ(XPSimpleUtils::InodeLookupBatch::foldersListed(), 0) << "no batch, nothing kept";
    {
        XPSimpleUtils::InodeLookupBatch batch;
        XPSimpleUtils::InodeLookupBatch nested; // an inner batch shares the outer one's listings
        for (int i = 0; i < 20; ++i) {
            renamed[i]->calculateCache();
            gone[i]->calculateCache();
            EXPECT_EQ(renamed[i]->lastKnownPath(), dir + "/final" + QString::number(i) + ".txt");
            EXPECT_TRUE(renamed[i]->fileExists());
            EXPECT_FALSE(gone[i]->fileExists()) << qPrintable(gone[i]->lastKnownPath());
        }
        EXPECT_EQ(XPSimpleUtils::InodeLookupBatch::foldersListed(), 1);
    }
    EXPECT_EQ(XPSimpleUtils::InodeLookupBatch::foldersListed(), 0) << "the listings go with the batch";
}

TEST(ItemBookmarkTest, BookmarkFollowsAChangedFileAndStaysForAnUnchangedOne)
{
    const QString dir = freshFolder("refresh");
    const QString path = dir + "/notes.txt";
    writeFile(path, "v1");
    KLItemPtr item = KLItem::create(path);
    item->calculateCache();
    const QByteArray first = item->bookmarkData();
    item->calculateCache();
    EXPECT_EQ(item->bookmarkData(), first) << "an unchanged file keeps its bookmark";

    writeFile(path, "version two, longer");
    item->calculateCache();
    const XPSimpleUtils::BookmarkRecord now = XPSimpleUtils::decodeBookmark(item->bookmarkData());
    EXPECT_EQ(now.size, 19) << "the bookmark records the file as it is now";
    EXPECT_EQ(now, XPSimpleUtils::bookmarkRecordForPath(path));

    // Replaced by another file of the same name: the bookmark names the new one.
    ASSERT_TRUE(QFile::rename(path, dir + "/old-notes.txt"));
    writeFile(path, "v1");
    item->calculateCache();
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(item->bookmarkData()).inode,
              XPSimpleUtils::bookmarkRecordForPath(path).inode);
    // Bytes set from elsewhere (a store, a rename) are not mistaken for the last check.
    item->setBookmarkData(XPSimpleUtils::bookmarkDataForMissingPath(path), path);
    item->calculateCache();
    EXPECT_EQ(XPSimpleUtils::decodeBookmark(item->bookmarkData()), XPSimpleUtils::bookmarkRecordForPath(path));
}

TEST(ItemBookmarkTest, MoveToAnotherFolderNeedsTheStreamsRenameRecord)
{
    const QString dir = freshFolder("move");
    QDir().mkpath(dir + "/elsewhere");
    writeFile(dir + "/report.odt", "content");
    const QByteArray bookmark = XPSimpleUtils::bookmarkDataForPath(dir + "/report.odt");
    ASSERT_TRUE(QFile::rename(dir + "/report.odt", dir + "/elsewhere/report.odt"));

    EXPECT_TRUE(XPSimpleUtils::resolveBookmarkDataToPath(bookmark, false).isEmpty())
        << "not in the old folder any more";
    XPSimpleUtils::setRenameLookup(
        [&](const QString &old) { return old == dir + "/report.odt" ? dir + "/elsewhere/report.odt" : QString(); });
    EXPECT_EQ(XPSimpleUtils::resolveBookmarkDataToPath(bookmark, false), dir + "/elsewhere/report.odt");

    // A rename record leading to some other file (a different inode) is not trusted.
    // (The original stays on disk under another name, so the new file cannot reuse its inode.)
    ASSERT_TRUE(QFile::rename(dir + "/elsewhere/report.odt", dir + "/elsewhere/kept-aside.odt"));
    writeFile(dir + "/elsewhere/report.odt", "a new file of the same name");
    EXPECT_TRUE(XPSimpleUtils::resolveBookmarkDataToPath(bookmark, false).isEmpty());
    XPSimpleUtils::setRenameLookup({});

    // A file that is gone leaves the item at its last known path, marked missing.
    KLItemPtr gone = KLItem::create(dir + "/gone.txt");
    gone->calculateCache();
    EXPECT_EQ(gone->lastKnownPath(), dir + "/gone.txt");
    EXPECT_FALSE(gone->fileExists());
    EXPECT_TRUE(gone->useMissingItemImage());
}

TEST(ItemCacheTest, FactsArriveInTheBackgroundAtMostEveryThreeSeconds)
{
    const QString dir = freshFolder("cache");
    writeFile(dir + "/f.bin", QByteArray(1234, 'x'));
    KLItemPtr item = KLItem::create(dir + "/f.bin");
    KLItemPtr missing = KLItem::create(dir + "/not-there.bin");
    // The first access (answered from the empty cache) asks the worker thread.
    missing->fileExists();
    item->fileSize();
    KLItem::waitForBackgroundUpdates();
    EXPECT_FALSE(missing->fileExists()) << "the first access asked the worker thread";
    ASSERT_TRUE(item->fileSize().has_value());
    EXPECT_EQ(*item->fileSize(), 1234u);
    EXPECT_EQ(item->displayName(), "f.bin");

    // Within three seconds of the last update nothing is asked again: the cache still says
    // the file exists after it was deleted.
    ASSERT_TRUE(QFile::remove(dir + "/f.bin"));
    EXPECT_TRUE(item->fileExists());
    KLItem::waitForBackgroundUpdates();
    EXPECT_TRUE(item->fileExists());
    // The next update (forced here by calling the worker's job directly) sees it gone and
    // dates it at 1904-01-01.
    item->calculateCache();
    EXPECT_FALSE(item->fileExists());
    EXPECT_DOUBLE_EQ(item->modificationDate(), KLItem::kUnknownFileTime);
}

TEST(ItemCacheTest, DroppedItemsAreNotKeptAliveByPendingUpdates)
{
    std::weak_ptr<KLItem> weak;
    {
        KLItemPtr item = KLItem::create(home() + "/items/transient");
        item->updateCacheInfoOnThread();
        weak = item;
    }
    KLItem::waitForBackgroundUpdates();
    EXPECT_TRUE(weak.expired());
}

TEST(ItemTest, OverrideDateDecidesTheTimeOnceSet)
{
    const QString dir = freshFolder("dates");
    writeFile(dir + "/old.txt");
    setMtime(dir + "/old.txt", 100000.0);
    KLItemPtr item = KLItem::create(dir + "/old.txt");
    item->calculateCache();
    EXPECT_DOUBLE_EQ(item->timeOfFile(), 100000.0);
    item->setDate(KLTimeUtil::now());
    EXPECT_GT(item->timeOfFile(), 100000.0 + 1e8);
    EXPECT_LT(item->age(), 5.0);
}

TEST(ItemTest, EqualityGoesByPathAndStacksKeepOneEntryPerPath)
{
    const QString dir = freshFolder("equal");
    writeFile(dir + "/same.txt");
    KLItemPtr a = KLItem::create(dir + "/same.txt");
    KLItemPtr b = KLItem::create(dir + "/same.txt");
    b->setBookmarkData(XPSimpleUtils::bookmarkDataForMissingPath(dir + "/same.txt"), dir + "/same.txt");
    EXPECT_NE(a->bookmarkData(), b->bookmarkData());
    EXPECT_TRUE(*a == *b);
    EXPECT_FALSE(*a == *KLItem::create(dir + "/other.txt"));
    EXPECT_TRUE(itemListsEqual({a}, {b}));
    EXPECT_FALSE(itemListsEqual({a}, {a, b}));

    KLItemPtr stack = KLItem::create(dir);
    EXPECT_FALSE(stack->isStack());
    stack->addSubItem(a);
    stack->addSubItem(b);
    EXPECT_EQ(stack->stackCount(), 1);
    EXPECT_EQ(stack->stack().first().get(), b.get()) << "a later item with the same path replaces the earlier";
}

TEST(ItemTest, PartialTitlesShortenLongParentNames)
{
    const QString base = freshFolder("titles");
    const QString longParent = base + "/ABCDEFGHIJKLMNOPQRSTUV"; // 22 characters
    const QString exactParent = base + "/ABCDEFGHIJKLM";         // 13 characters
    writeFile(longParent + "/doc.txt");
    writeFile(exactParent + "/doc.txt");
    KLItemPtr longItem = KLItem::create(longParent + "/doc.txt");
    KLItemPtr exactItem = KLItem::create(exactParent + "/doc.txt");
    EXPECT_EQ(longItem->imageTitle(), "doc.txt");
    longItem->setUsePartialPathForTitle(true);
    exactItem->setUsePartialPathForTitle(true);
    EXPECT_EQ(longItem->imageTitle(), QString("ABCDEFGHIJK") + QChar(0x2026) + "/doc.txt");
    EXPECT_EQ(exactItem->imageTitle(), "ABCDEFGHIJKLM/doc.txt");
}

TEST(ItemTest, SubtitlesSayTodayYesterdayOrTheDateAndStacksTheirCount)
{
    const QString dir = freshFolder("subtitles");
    writeFile(dir + "/today.txt");
    writeFile(dir + "/yesterday.txt");
    writeFile(dir + "/older.txt");
    const KLTime now = KLTimeUtil::now();
    // Noon of the local day keeps "today" and "yesterday" stable whenever the test runs.
    const QDateTime noon(QDate::currentDate(), QTime(12, 0));
    const KLTime todayNoon = KLTimeUtil::fromDateTime(noon);
    setMtime(dir + "/today.txt", std::min(todayNoon, now - 1));
    setMtime(dir + "/yesterday.txt", KLTimeUtil::fromDateTime(noon.addDays(-1)));
    setMtime(dir + "/older.txt", KLTimeUtil::fromDateTime(noon.addDays(-40)));
    auto subtitle = [](const QString &path) {
        KLItemPtr item = KLItem::create(path);
        item->calculateCache();
        return item->imageSubtitle();
    };
    const QString today = subtitle(dir + "/today.txt");
    const QString yesterday = subtitle(dir + "/yesterday.txt");
    const QString older = subtitle(dir + "/older.txt");
    const QString todayTemplate = KLLocalized("KLTodayDate");
    const QString yesterdayTemplate = KLLocalized("KLYesterdayDate");
    EXPECT_TRUE(today.startsWith(todayTemplate.left(todayTemplate.indexOf("%1")))) << qPrintable(today);
    EXPECT_TRUE(yesterday.startsWith(yesterdayTemplate.left(yesterdayTemplate.indexOf("%1")))) << qPrintable(yesterday);
    EXPECT_EQ(older, QLocale().toString(noon.addDays(-40).date(), QLocale::LongFormat));

    KLItemPtr stack = KLItem::create(dir);
    stack->addSubItems({KLItem::create(dir + "/today.txt"), KLItem::create(dir + "/yesterday.txt"),
                        KLItem::create(dir + "/older.txt")});
    EXPECT_EQ(stack->imageSubtitle(), KLLocalized("KLStackSubtitleTemplate", {"3"}));
    EXPECT_TRUE(stack->imageSubtitle().contains("3"));

    // Before its file was looked at an item shows no date, never 1 January 2001.
    KLItem::pauseBackgroundUpdatesForTesting(true);
    KLItemPtr unknown = KLItem::create(dir + "/older.txt");
    const QString before = unknown->imageSubtitle();
    KLItem::pauseBackgroundUpdatesForTesting(false);
    EXPECT_TRUE(before.isEmpty()) << qPrintable(before);
    EXPECT_FALSE(before.contains("2001")) << qPrintable(before);
}

TEST(ItemTest, ArrayOfPathsListsAncestorsNearestFirst)
{
    KLItemPtr item = KLItem::create("/home/someone/Documents/a.txt");
    EXPECT_EQ(item->arrayOfPaths(true),
              QStringList({"/home/someone/Documents/a.txt", "/home/someone/Documents", "/home/someone", "/home"}));
    EXPECT_EQ(item->arrayOfPaths(false), QStringList({"/home/someone/Documents", "/home/someone", "/home"}));
    EXPECT_TRUE(KLItem::create("/a")->arrayOfPaths(false).isEmpty());
}

TEST(ItemTest, TrashMovesTheFileAndRefusesAMissingOne)
{
    const QString dir = freshFolder("trash");
    writeFile(dir + "/unwanted.txt", "bye");
    KLItemPtr item = KLItem::create(dir + "/unwanted.txt");
    QString error;
    ASSERT_TRUE(item->moveFileToTrash(&error)) << qPrintable(error);
    EXPECT_FALSE(QFileInfo::exists(dir + "/unwanted.txt"));
    EXPECT_FALSE(item->moveFileToTrash(&error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ItemVolumeTest, OnlyUnmountedRemovableVolumesAreRecordedAndMountsClearThem)
{
    const QString user = PimsAdditions::realHomeDirectory().section('/', -1);
    const QString volume = "/media/" + user + "/KelsoTestStick";
    EXPECT_TRUE(KLItem::addPathToUnReachableVolumes(volume + "/photos/a.jpg"));
    EXPECT_TRUE(KLItem::pathIsOnUnreachableVolume(volume + "/other.txt"));
    EXPECT_FALSE(KLItem::pathIsOnUnreachableVolume(volume + "Two/other.txt"));
    // A file deleted from the home folder's disk says nothing about the disk.
    EXPECT_FALSE(KLItem::addPathToUnReachableVolumes(home() + "/deleted.txt"));
    EXPECT_FALSE(KLItem::pathIsOnUnreachableVolume(home() + "/x"));
    // Resolution skips the unreachable volume without touching it.
    EXPECT_TRUE(
        KLItem::fastResolveBookmark(volume + "/x", XPSimpleUtils::bookmarkDataForMissingPath(volume + "/x")).isEmpty());
    KLItem::didMount();
    EXPECT_FALSE(KLItem::pathIsOnUnreachableVolume(volume + "/other.txt"));
}
