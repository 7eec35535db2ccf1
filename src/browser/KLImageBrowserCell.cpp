#include "browser/KLImageBrowserCell.h"

#include "browser/KLImageBrowserCellText.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "thumbs/KLItemImages.h"
#include "thumbs/KLTypeIcons.h"
#include "util/KLProcessFlags.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QStyle>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <mutex>

namespace {
// Stack pictures come from the folder's icon, which may have to be read from the disk: they
// are made on a worker thread and kept here; the redraw flag brings them on screen.
struct StackPictures {
    std::mutex lock;
    QHash<QString, QImage> done;
    QSet<QString> pending;
};

// The stack pictures' own workers (see below why not the global pool).
QThreadPool &stackPicturePool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(2);
        created->setExpiryTimeout(30000);
        created->setObjectName(QStringLiteral("kelso-stacks"));
        return created;
    }();
    return *pool;
}

StackPictures &stackPictures()
{
    static StackPictures pictures;
    return pictures;
}

QImage stackPicture(const KLItemPtr &item, int size)
{
    const QString path = item->lastKnownPath();
    const long long count = item->stackCount();
    const QString key = path + QLatin1Char('#') + QString::number(count);
    StackPictures &sp = stackPictures();
    {
        std::lock_guard guard(sp.lock);
        auto it = sp.done.constFind(key);
        if (it != sp.done.constEnd())
            return *it;
        if (sp.pending.contains(key))
            return {};
        sp.pending.insert(key);
        if (sp.done.size() > 500)
            sp.done.clear();
    }
    // Not on Qt's global pool: QPainter hands parts of its work to that pool and waits for
    // them, while a stack picture waits for the icon producers, which may be painting. With
    // the global pool's few threads all held here, painter and producer wait on each other.
    (void)QtConcurrent::run(&stackPicturePool(), [key, path, count, size] {
        const QImage picture = KLItemImages::folderImage(path, count, QSize(size, size));
        StackPictures &shared = stackPictures();
        {
            std::lock_guard guard(shared.lock);
            shared.pending.remove(key);
            shared.done.insert(key, picture);
        }
        KLProcessFlags::setNeedsRedraw();
    });
    return {};
}

// The file type's icon, from the name alone. Answered from memory: the MIME type and the
// theme's icon are looked up on a worker the first time a name and a type are seen, and a
// generic picture stands in until the redraw flag brings the specific one.
QImage typeIcon(const KLItemPtr &item, int size)
{
    return KLTypeIcons::iconForFileName(item->lastKnownPath(), size);
}

constexpr int kStarSize = 10;
constexpr int kMarkPadding = 4;
constexpr int kTagSignSize = 11;

QString tagCountText(int tagCount)
{
    return tagCount > 1 ? QString::number(tagCount) : QString();
}

QFont markFont()
{
    QFont f = QApplication::font();
    f.setPixelSize(10);
    f.setBold(true);
    return f;
}

QPainterPath starPath(const QRectF &box)
{
    QPainterPath path;
    const QPointF c = box.center();
    const double outer = box.width() / 2.0;
    const double inner = outer * 0.45;
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 ? inner : outer;
        const double a = -M_PI / 2 + i * M_PI / 5;
        const QPointF p(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        i == 0 ? path.moveTo(p) : path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

// A luggage-tag outline with its eyelet, pointing left.
QPainterPath tagPath(const QRectF &box)
{
    QPainterPath path;
    const double w = box.width(), h = box.height() * 0.7;
    const double top = box.center().y() - h / 2;
    path.moveTo(box.left(), top + h / 2);
    path.lineTo(box.left() + w * 0.35, top);
    path.lineTo(box.right(), top);
    path.lineTo(box.right(), top + h);
    path.lineTo(box.left() + w * 0.35, top + h);
    path.closeSubpath();
    path.addEllipse(QPointF(box.left() + w * 0.38, top + h / 2), 1.2, 1.2);
    return path;
}

QString elideMiddle(const QString &text, const QFont &font, int width)
{
    return QFontMetrics(font).elidedText(KLCellText::oneLine(text), Qt::ElideMiddle, width);
}
} // namespace

bool KLImageBrowserCell::waitForStackPictures(int msecs)
{
    return stackPicturePool().waitForDone(msecs);
}

KLImageBrowserCell::KLImageBrowserCell(KLImageBrowserView *view) : QStyledItemDelegate(view), m_view(view)
{
    QFont f = QApplication::font();
    f.setPointSizeF(11);
    m_title = {f, Qt::white};
    m_subtitle = {f, QColor(170, 170, 170)};
    m_highlighted = {f, Qt::white};
}

void KLImageBrowserCell::setTextStyles(const KLCellTextStyle &title, const KLCellTextStyle &subtitle,
                                       const KLCellTextStyle &highlightedTitle)
{
    m_title = title;
    m_subtitle = subtitle;
    m_highlighted = highlightedTitle;
    if (m_view)
        m_view->viewport()->update();
}

QRect KLImageBrowserCell::imageAreaForCell(const QRect &cellRect)
{
    return QRect(cellRect.x() + (cellRect.width() - kImageSize) / 2, cellRect.y() + 6, kImageSize, kImageSize);
}

QRect KLImageBrowserCell::imageFrameFor(const QRect &cellRect, const QSize &pictureSize)
{
    const QRect area = imageAreaForCell(cellRect);
    if (pictureSize.isEmpty())
        return area;
    QSize fitted = pictureSize.scaled(area.size(), Qt::KeepAspectRatio);
    if (pictureSize.width() <= area.width() && pictureSize.height() <= area.height())
        fitted = pictureSize; // small pictures are not blown up
    // Pictures sit on the bottom of the area, centred, as thumbnails on a shelf.
    return QRect(area.x() + (area.width() - fitted.width()) / 2, area.bottom() + 1 - fitted.height(), fitted.width(),
                 fitted.height());
}

QRect KLImageBrowserCell::deleteFrameRect(const QRect &imageFrame)
{
    return QRect(imageFrame.x(), imageFrame.y(), kBadgeSize, kBadgeSize);
}

QImage KLImageBrowserCell::deleteImage()
{
    static const QImage image = [] {
        QImage img(kBadgeSize * 2, kBadgeSize * 2, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        img.setDevicePixelRatio(2.0);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 1.5));
        p.setBrush(QColor(20, 20, 20));
        p.drawEllipse(QRectF(1, 1, kBadgeSize - 2, kBadgeSize - 2));
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
        p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
        return img;
    }();
    return image;
}

QRect KLImageBrowserCell::tagMarkRect(const QRect &cellRect, int stars, int tagCount)
{
    stars = std::clamp(stars, 0, 5);
    if (stars == 0 && tagCount <= 0)
        return {};
    int width = 2 * kMarkPadding + stars * (kStarSize + 1);
    if (tagCount > 0) {
        width += kTagSignSize + (stars > 0 ? 3 : 0);
        const QString count = tagCountText(tagCount);
        if (!count.isEmpty())
            width += 1 + QFontMetrics(markFont()).horizontalAdvance(count);
    }
    const QRect area = imageAreaForCell(cellRect);
    return QRect(area.right() + 1 - width, area.top(), width, kMarkHeight);
}

void KLImageBrowserCell::drawTagMark(QPainter *painter, const QRect &markRect, int stars, int tagCount)
{
    if (markRect.isEmpty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0, 0, 0, 170));
    painter->drawRoundedRect(markRect, kMarkHeight / 2.0, kMarkHeight / 2.0);
    double x = markRect.x() + kMarkPadding;
    const double top = markRect.y() + (kMarkHeight - kStarSize) / 2.0;
    painter->setBrush(QColor(255, 200, 40));
    for (int i = 0; i < std::clamp(stars, 0, 5); ++i) {
        painter->drawPath(starPath(QRectF(x, top, kStarSize, kStarSize)));
        x += kStarSize + 1;
    }
    if (tagCount > 0) {
        if (stars > 0)
            x += 3;
        painter->setBrush(QColor(120, 200, 255));
        const double tagTop = markRect.y() + (kMarkHeight - kTagSignSize) / 2.0;
        QPainterPath tag = tagPath(QRectF(x, tagTop, kTagSignSize, kTagSignSize));
        tag.setFillRule(Qt::OddEvenFill);
        painter->drawPath(tag);
        x += kTagSignSize + 1;
        const QString count = tagCountText(tagCount);
        if (!count.isEmpty()) {
            painter->setFont(markFont());
            painter->setPen(Qt::white);
            painter->drawText(QRectF(x, markRect.y(), markRect.right() + 1 - x, kMarkHeight),
                              Qt::AlignLeft | Qt::AlignVCenter, count);
        }
    }
    painter->restore();
}

QImage KLImageBrowserCell::pictureForItem(const KLItemPtr &item)
{
    if (!item)
        return {};
    if (item->useMissingItemImage())
        return KLItemImages::missingMediaImage();
    if (item->isStack()) {
        const QImage cached = item->cachedImage();
        return cached.isNull() ? stackPicture(item, kImageSize) : cached;
    }
    return item->imageRepresentation();
}

QImage KLImageBrowserCell::placeholderForItem(const KLItemPtr &item, int size)
{
    return item ? typeIcon(item, size) : QImage();
}

QSize KLImageBrowserCell::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(kCellWidth, kCellHeight);
}

QString KLImageBrowserCell::titleForIndex(const QModelIndex &index)
{
    return index.data(Qt::DisplayRole).toString();
}

QString KLImageBrowserCell::subtitleForIndex(const QModelIndex &index)
{
    return index.data(KLImageBrowserModel::SubtitleRole).toString();
}

void KLImageBrowserCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const KLItemPtr item = index.data(KLImageBrowserModel::ItemRole).value<KLItemPtr>();
    if (!item)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QImage picture = pictureForItem(item);
    const bool ready = !picture.isNull();
    const QImage shown = ready ? picture : typeIcon(item, kImageSize * 3 / 4);
    const QRect frame = imageFrameFor(cell, shown.size() / shown.devicePixelRatio());

    if (selected) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(255, 255, 255, 60));
        painter->drawRoundedRect(imageAreaForCell(cell).adjusted(-5, -5, 5, 5), 8, 8);
    }
    if (!shown.isNull())
        painter->drawImage(frame, shown);

    // Titles: the title on one line truncated in the middle, the subtitle below it.
    const int textWidth = cell.width() - 8;
    const KLCellTextStyle &titleStyle = selected ? m_highlighted : m_title;
    const QString title = elideMiddle(titleForIndex(index), titleStyle.font, textWidth);
    const QFontMetrics fm(titleStyle.font);
    QRect titleRect(cell.x() + 4, imageAreaForCell(cell).bottom() + 6, textWidth, fm.height());
    if (selected) {
        const int w = fm.horizontalAdvance(title) + 10;
        const QRect pill(cell.x() + (cell.width() - w) / 2, titleRect.y() - 1, w, titleRect.height() + 2);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(40, 110, 220));
        painter->drawRoundedRect(pill, pill.height() / 2.0, pill.height() / 2.0);
    }
    painter->setFont(titleStyle.font);
    painter->setPen(titleStyle.colour);
    painter->drawText(titleRect, Qt::AlignHCenter | Qt::AlignVCenter, title);
    painter->setFont(m_subtitle.font);
    painter->setPen(m_subtitle.colour);
    const QRect subRect(titleRect.x(), titleRect.bottom() + 1, textWidth, QFontMetrics(m_subtitle.font).height());
    painter->drawText(subRect, Qt::AlignHCenter | Qt::AlignVCenter,
                      elideMiddle(subtitleForIndex(index), m_subtitle.font, textWidth));

    // Tags and rating as the item cached them with its other facts.
    const KLItem::TagFacts tagFacts = item->tagFacts();
    const int stars = KLCellText::wholeStars(tagFacts.rating);
    const int tagCount = int(tagFacts.tags.size());
    drawTagMark(painter, tagMarkRect(cell, stars, tagCount), stars, tagCount);

    // The delete badge shows only on a cell whose picture is ready.
    if (ready && m_view && m_view->deleteBadgeIndex() == index.row()) {
        painter->setOpacity(0.5);
        painter->drawImage(deleteFrameRect(frame), deleteImage());
    }
    painter->restore();
}
