// Search results as the grid shows them: the folder line, the title, the enclosing folders, and
// the grid item kept for the same file.
#include "search/KLSearchItem.h"

#include <gtest/gtest.h>

namespace {
QVariantMap record(const QString &path, const QString &name = QString())
{
    QVariantMap m{{QStringLiteral("kMDItemPath"), path}};
    if (!name.isEmpty())
        m.insert(QStringLiteral("kMDItemDisplayName"), name);
    return m;
}
const QString kHome = QStringLiteral("/home/ann");
const QString kUser = QStringLiteral("ann");
} // namespace

TEST(SearchItemSubtitle, ExternalDisksShowTheDiskNameFirst)
{
    EXPECT_EQ(KLSearchItem::subtitleForPath("/Volumes/Backup/Docs/a.txt", kHome, kUser), "Backup/Docs");
    EXPECT_EQ(KLSearchItem::subtitleForPath("/media/ann/Backup/Docs/a.txt", kHome, kUser), "Backup/Docs");
    EXPECT_EQ(KLSearchItem::subtitleForPath("/run/media/ann/Backup/Docs/a.txt", kHome, kUser), "Backup/Docs");
    // A file at the top of the disk: the disk's name alone.
    EXPECT_EQ(KLSearchItem::subtitleForPath("/media/ann/Backup/a.txt", kHome, kUser), "Backup");
}

TEST(SearchItemSubtitle, OnlyTheCurrentUsersMountFolderIsTakenOff)
{
    EXPECT_EQ(KLSearchItem::subtitleForPath("/media/bob/Backup/a.txt", kHome, kUser), "/media/bob/Backup");
    // "/media/annie" is not "/media/ann/".
    EXPECT_EQ(KLSearchItem::subtitleForPath("/media/annie/Backup/a.txt", kHome, kUser), "/media/annie/Backup");
    // A file lying in the mount folder itself has no disk to name.
    EXPECT_EQ(KLSearchItem::subtitleForPath("/media/ann/a.txt", kHome, kUser), "/media/ann");
}

TEST(SearchItemSubtitle, HomeIsAbbreviatedWithTilde)
{
    EXPECT_EQ(KLSearchItem::subtitleForPath("/home/ann/Documents/Work/r.pdf", kHome, kUser), "~/Documents/Work");
    EXPECT_EQ(KLSearchItem::subtitleForPath("/home/ann/r.pdf", kHome, kUser), "~");
    // Another folder that merely starts with the same letters keeps its full path.
    EXPECT_EQ(KLSearchItem::subtitleForPath("/home/anne/r.pdf", kHome, kUser), "/home/anne");
    EXPECT_EQ(KLSearchItem::subtitleForPath("/srv/data/r.pdf", kHome, kUser), "/srv/data");
    EXPECT_EQ(KLSearchItem::subtitleForPath("/r.pdf", kHome, kUser), "/");
    EXPECT_EQ(KLSearchItem::subtitleForPath("", kHome, kUser), "");
}

TEST(SearchItem, TitleIsTheDisplayNameOrTheFileName)
{
    EXPECT_EQ(KLSearchItem::create(record("/x/report.final.pdf", "Report"))->title(), "Report");
    EXPECT_EQ(KLSearchItem::create(record("/x/report.final.pdf"))->title(), "report.final.pdf");
}

TEST(SearchItem, EnclosingFoldersInnermostFirstWithoutRoot)
{
    const KLSearchItemPtr item = KLSearchItem::create(record("/a/b/c.txt"));
    EXPECT_EQ(item->arrayOfPaths(true), (QStringList{"/a/b/c.txt", "/a/b", "/a"}));
    EXPECT_EQ(item->arrayOfPaths(false), (QStringList{"/a/b", "/a"}));
    EXPECT_TRUE(KLSearchItem::create(record("/top.txt"))->arrayOfPaths(false).isEmpty());
}

TEST(SearchItem, ResultWithoutPathHasNoGridItemAndIsLeftOutOfPaths)
{
    const KLSearchItemPtr none = KLSearchItem::create(QVariantMap{{"kMDItemDisplayName", QString("ghost")}});
    EXPECT_EQ(none->gridItem(), nullptr);
    const KLSearchItemPtr some = KLSearchItem::create(record("/a/b.txt"));
    EXPECT_EQ(KLSearchItem::pathsForItems({none, some, nullptr}), QStringList{"/a/b.txt"});
}

TEST(SearchItem, GridItemIsKeptForTheSameFile)
{
    const KLSearchItemPtr item = KLSearchItem::create(record("/a/b.txt", "b"));
    const KLItemPtr grid = item->gridItem();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->lastKnownPath(), "/a/b.txt");
    // Changed facts of the same file: same grid item (its picture stays).
    QVariantMap changed = record("/a/b.txt", "b renamed in index");
    changed.insert("kMDItemFSSize", 42);
    item->setMDItem(changed);
    EXPECT_EQ(item->gridItem(), grid);
    EXPECT_EQ(item->title(), "b renamed in index");
    // Another file: another grid item.
    item->setMDItem(record("/a/c.txt"));
    EXPECT_NE(item->gridItem(), grid);
    EXPECT_EQ(item->gridItem()->lastKnownPath(), "/a/c.txt");
}

TEST(SearchItem, AttributesByType)
{
    QVariantMap m = record("/a/b.txt");
    m.insert("kMDItemAuthors", QStringList{"Ann", "Bob"});
    m.insert("kMDItemContentType", QString("public.plain-text"));
    m.insert("kMDItemContentCreationDate", 0.0);
    const KLSearchItemPtr item = KLSearchItem::create(m);
    EXPECT_EQ(item->getArrayAttribute("kMDItemAuthors"), "Ann, Bob");
    EXPECT_EQ(item->getAttribute("kMDItemContentType"), "public.plain-text");
    EXPECT_EQ(item->getAttribute("kMDItemAuthors"), "");
    EXPECT_EQ(item->getDateAttribute("kMDItemContentCreationDate"), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_FALSE(item->getDateAttribute("kMDItemLastUsedDate").isValid());
}
