#pragma once
// KLImageBrowserCell: paints the cells of a KLImageBrowserView — the item's picture, its title
// and subtitle, the selection, stack count badges and the hover delete badge.
//
// Painting never touches the disk: pictures come from KLItem::imageRepresentation() (the
// thumbnail cache in memory, which asks the renderer when empty), titles, tags and ratings
// from the item's cached facts, and icons for items without a thumbnail yet from KLTypeIcons (the file name's
// MIME type, found on a worker; a generic picture until then).
#include "recent/KLItem.h"

#include <QColor>
#include <QFont>
#include <QStyledItemDelegate>
#include <functional>

class KLImageBrowserView;

struct KLCellTextStyle {
    QFont font;
    QColor colour;
};

class KLImageBrowserCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int kImageSize = 112;
    static constexpr int kCellWidth = 148;
    static constexpr int kCellHeight = 158;
    static constexpr int kBadgeSize = 16;

    explicit KLImageBrowserCell(KLImageBrowserView *view);

    void setTextStyles(const KLCellTextStyle &title, const KLCellTextStyle &subtitle,
                       const KLCellTextStyle &highlightedTitle);
    KLCellTextStyle titleStyle() const { return m_title; }
    KLCellTextStyle subtitleStyle() const { return m_subtitle; }
    KLCellTextStyle highlightedTitleStyle() const { return m_highlighted; }

    // The square picture area of a cell, and the picture drawn in it (aspect kept).
    static QRect imageAreaForCell(const QRect &cellRect);
    static QRect imageFrameFor(const QRect &cellRect, const QSize &pictureSize);
    // The badge square at the top-left corner of the picture.
    static QRect deleteFrameRect(const QRect &imageFrame);
    // The shared badge picture (drawn once per process).
    static QImage deleteImage();
    // The rating and tag mark: a dark pill in the top-right corner of the picture area holding
    // one star per whole star of the rating and, when the file has tags, a tag sign with their
    // number. An empty rectangle when there is neither.
    static QRect tagMarkRect(const QRect &cellRect, int stars, int tagCount);
    static void drawTagMark(QPainter *painter, const QRect &markRect, int stars, int tagCount);
    static constexpr int kMarkHeight = 16;

    // The picture shown for an item right now, or null while none is ready.
    static QImage pictureForItem(const KLItemPtr &item);
    // Waits up to `msecs` for stack pictures still being drawn in the background (quitting).
    static bool waitForStackPictures(int msecs);
    // What stands in while no picture is ready: the file type's icon, from the name alone
    // (generic until the type's icon has been found off this thread).
    static QImage placeholderForItem(const KLItemPtr &item, int size);
    // (Stacks: the folder's icon with the count badge, made on a worker thread; missing files:
    // the shared missing-file picture.)

    // The texts a cell draws: its model's title and subtitle (the item's own, unless the grid's
    // model takes them from elsewhere, as the search results do).
    static QString titleForIndex(const QModelIndex &index);
    static QString subtitleForIndex(const QModelIndex &index);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    KLImageBrowserView *m_view;
    KLCellTextStyle m_title;
    KLCellTextStyle m_subtitle;
    KLCellTextStyle m_highlighted;
};
