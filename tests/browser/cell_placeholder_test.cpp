// What a cell shows while its thumbnail is pending: a type icon at once (generic first, never a
// blank square), the type's own icon once the worker found it, and no crash for items whose
// folder cannot be read or whose file is gone.
#include "browser/KLImageBrowserCell.h"
#include "recent/KLItem.h"
#include "support/TestSupport.h"
#include "thumbs/KLTypeIcons.h"
#include "util/KLProcessFlags.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

int opaquePixels(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            n += qAlpha(argb.pixel(x, y)) > 128;
    return n;
}

} // namespace

TEST(CellPlaceholderTest, PendingCellsShowATypeIconAndLaterTheTypesOwn)
{
    KLTypeIcons::waitForPending();
    KLTypeIcons::clearForTesting();
    // A file in a folder nobody may enter: the placeholder is made from the name alone.
    const QString closed = KelsoTest::home() + QStringLiteral("/cells/closed");
    QDir().mkpath(closed);
    KelsoTest::writeFile(closed + QStringLiteral("/minutes.pdf"), "%PDF-1.4\n");
    const KLItemPtr item = KLItem::create(closed + QStringLiteral("/minutes.pdf"));
    ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0), 0);

    const QImage first = KLImageBrowserCell::placeholderForItem(item, 84);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(84, 84));
    EXPECT_GT(opaquePixels(first), 84 * 84 / 5) << "a pending cell must not be a blank box";

    ASSERT_TRUE(KLTypeIcons::waitForPending());
    EXPECT_TRUE(KLProcessFlags::takeNeedsRedraw()) << "nothing would repaint the cell with the found icon";
    bool exact = false;
    const QImage typeIcon = KLTypeIcons::iconForFileName(QStringLiteral("other.pdf"), 84, &exact);
    ASSERT_TRUE(exact);
    const QImage later = KLImageBrowserCell::placeholderForItem(item, 84);
    EXPECT_EQ(later.cacheKey(), typeIcon.cacheKey()) << "the cell shows the type's shared icon once found";
    EXPECT_GT(opaquePixels(later), 0);

    ::chmod(QFile::encodeName(closed).constData(), 0755);
    KLItem::waitForBackgroundUpdates();
}

TEST(CellPlaceholderTest, MissingAndOddItemsStillGetAPicture)
{
    const KLItemPtr gone = KLItem::create(QStringLiteral("/no/such/folder/file-without-extension"));
    const QImage picture = KLImageBrowserCell::placeholderForItem(gone, 64);
    EXPECT_FALSE(picture.isNull());
    EXPECT_TRUE(KLImageBrowserCell::placeholderForItem(nullptr, 64).isNull());
    KLTypeIcons::waitForPending();
    KLItem::waitForBackgroundUpdates();
    // The missing-file picture wins over the type icon once the item knows the file is gone.
    EXPECT_FALSE(KLImageBrowserCell::pictureForItem(gone).isNull());
}
