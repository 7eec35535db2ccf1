// The index's reader of the desktop's recently-used.xbel: only absolute local paths, as the
// bytes name them, get a last-used date.
#include "platform/mdindex/MdRecentlyUsed.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

QList<MdIndex::RecentlyUsed> readXbel(const QByteArray &bookmarks)
{
    const QString file = KelsoTest::home() + QStringLiteral("/recently-used.xbel");
    KelsoTest::writeFile(file, "<?xml version=\"1.0\"?>\n<xbel version=\"1.0\">\n" + bookmarks + "</xbel>\n");
    return MdIndex::readRecentlyUsed(file);
}

QStringList paths(const QList<MdIndex::RecentlyUsed> &entries)
{
    QStringList out;
    for (const MdIndex::RecentlyUsed &e : entries)
        out.append(e.path);
    return out;
}

} // namespace

TEST(IndexRecentlyUsed, OnlyAbsoluteLocalPathsWithTheirOwnBytes)
{
    const QList<MdIndex::RecentlyUsed> entries =
        readXbel("<bookmark href=\"file:///home/u/Report%202026.odt\" modified=\"2026-01-02T10:05:00Z\"/>\n"
                 "<bookmark href=\"file://localhost/home/u/caf%C3%A9.png\" visited=\"2026-01-03T08:00:00.5Z\"/>\n"
                 "<bookmark href=\"file:///home/u/folder//\" modified=\"2026-01-01T00:00:00Z\"/>\n"
                 "<bookmark href=\"file:relative/name.txt\" modified=\"2026-01-01T00:00:00Z\"/>\n"
                 "<bookmark href=\"file://otherhost/share/x.txt\" modified=\"2026-01-01T00:00:00Z\"/>\n"
                 "<bookmark href=\"file:///home/u/%FF%FEnot-utf8\" modified=\"2026-01-01T00:00:00Z\"/>\n"
                 "<bookmark href=\"file:///home/u/nul%00byte\" modified=\"2026-01-01T00:00:00Z\"/>\n"
                 "<bookmark href=\"https://example.org/x.pdf\" modified=\"2026-01-01T00:00:00Z\"/>\n");
    EXPECT_EQ(paths(entries), QStringList({QStringLiteral("/home/u/Report 2026.odt"),
                                           QStringLiteral("/home/u/caf\u00e9.png"), QStringLiteral("/home/u/folder")}));
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries.at(1).usedMs, QDateTime(QDate(2026, 1, 3), QTime(8, 0, 0, 500), Qt::UTC).toMSecsSinceEpoch());
}

TEST(IndexRecentlyUsed, ATruncatedFileKeepsWhatCameBefore)
{
    const QList<MdIndex::RecentlyUsed> entries =
        readXbel("<bookmark href=\"file:///a\" modified=\"2026-01-02T10:05:00Z\"/>\n<bookmark href=\"file:///b");
    EXPECT_EQ(paths(entries), QStringList({QStringLiteral("/a")}));
    EXPECT_TRUE(MdIndex::readRecentlyUsed(KelsoTest::home() + QStringLiteral("/missing.xbel")).isEmpty());
}
