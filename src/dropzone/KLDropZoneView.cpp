#include "dropzone/KLDropZoneView.h"

#include "dropzone/KLDropZoneController.h"
#include "util/FileUrls.h"
#include "util/Localized.h"

#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLoggingCategory>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

Q_DECLARE_LOGGING_CATEGORY(lcDropZone)

namespace {

// The files of a drop: local file URLs only.
QStringList droppedFiles(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        const QString path = FileUrls::localPath(url);
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

// A copy, never a move: the source must not delete what it gave to the zone.
Qt::DropAction safeAction(const QDropEvent *event)
{
    if (event->possibleActions() & Qt::CopyAction)
        return Qt::CopyAction;
    if (event->possibleActions() & Qt::LinkAction)
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

} // namespace

KLDropZoneView::KLDropZoneView(KLDropZoneController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("dropZoneView"));
    setAccessibleName(KLLocalized(QStringLiteral("KLDropZoneTitle")));
    setAccessibleDescription(KLLocalized(QStringLiteral("KLDropZoneInstructions")));
    setAcceptDrops(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
}

QRect KLDropZoneView::stripRect() const
{
    const bool left = m_controller->leftEdge();
    // At the right edge of the desktop the inside of the screen is to the zone's left.
    return left ? QRect(width() - kStripWidth, 0, kStripWidth, height()) : QRect(0, 0, kStripWidth, height());
}

QRect KLDropZoneView::targetArea() const
{
    const bool left = m_controller->leftEdge();
    return QRect(left ? 0 : kStripWidth, 0, width() - kStripWidth, height());
}

QRect KLDropZoneView::tagRect() const
{
    const QRect area = targetArea();
    return QRect(area.x(), area.y(), area.width(), area.height() / 2);
}

QRect KLDropZoneView::coolRect() const
{
    const QRect area = targetArea();
    const int upper = area.height() / 2;
    return QRect(area.x(), area.y() + upper, area.width(), area.height() - upper);
}

QColor KLDropZoneView::highlightColour() const
{
    // The zone is dark in light and dark palettes alike: a dark palette's highlight is made
    // lighter until it stands out against it.
    QColor c = palette().color(QPalette::Active, QPalette::Highlight);
    while (c.lightness() < 140 && c != c.lighter(140))
        c = c.lighter(140);
    return c;
}

QColor KLDropZoneView::plainColour() const
{
    return QColor(200, 200, 200, 170);
}

// ---- drops ----------------------------------------------------------------------------------

void KLDropZoneView::dragEnterEvent(QDragEnterEvent *event)
{
    qCDebug(lcDropZone) << "drag entered with" << event->mimeData()->formats();
    if (!event->mimeData()->hasUrls() || safeAction(event) == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    m_controller->slideOnscreen();
    m_dragPos = event->position().toPoint();
    event->setDropAction(safeAction(event));
    event->accept();
    update();
}

void KLDropZoneView::dragMoveEvent(QDragMoveEvent *event)
{
    m_dragPos = event->position().toPoint();
    event->setDropAction(safeAction(event));
    event->accept();
    update();
}

void KLDropZoneView::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_dragPos.reset();
    // Where nothing follows the pointer across the desktop, nothing else would take the zone
    // back once the drag left it.
    if (!m_controller->followsGlobalDrags())
        m_controller->slideOffscreen();
    update();
    QWidget::dragLeaveEvent(event);
}

void KLDropZoneView::dropEvent(QDropEvent *event)
{
    const QPoint pos = event->position().toPoint();
    m_dragPos.reset();
    m_controller->slideOffscreen();
    m_controller->setDragWasToDropZone(true);
    event->setDropAction(safeAction(event));
    event->accept();
    update();
    QStringList paths = droppedFiles(event->mimeData());
    // Qt's own conversion of a drop from another process came back empty on X11 (seen with a
    // Qt source under Xvfb and openbox) although the source offers a uri-list. The drag
    // monitor read the same selection when the drag began: its list is the drop's.
    if (paths.isEmpty() && event->mimeData()->hasFormat(QStringLiteral("text/uri-list")))
        paths = m_controller->filesOfCurrentDrag();
    qCDebug(lcDropZone) << "drop at" << pos << "of" << event->mimeData()->formats() << paths.size() << "files";
    if (paths.isEmpty())
        return;
    m_controller->dropFiles(paths, tagRect().contains(pos));
}

// ---- moving the zone ------------------------------------------------------------------------

void KLDropZoneView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_initialLocation = event->globalPosition().toPoint() - window()->geometry().topLeft();
}

void KLDropZoneView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed || !(event->buttons() & Qt::LeftButton)) {
        m_pressed = false;
        return;
    }
    m_controller->dragZoneTo(event->globalPosition().toPoint(), m_initialLocation);
}

// ---- drawing --------------------------------------------------------------------------------

void KLDropZoneView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    // Rounded on the inner side only: the outer corners are drawn past the view and cut off.
    const bool left = m_controller->leftEdge();
    const double radius = 6;
    const QRectF shape =
        left ? QRectF(-radius, 0, width() + radius, height()) : QRectF(0, 0, width() + radius, height());
    QPainterPath outline;
    outline.addRoundedRect(shape, radius, radius);
    const QColor fill = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
    QColor shapeFill = fill;
    shapeFill.setAlphaF(0.6f);
    p.fillPath(outline, shapeFill);
    QColor areaFill = fill;
    areaFill.setAlphaF(0.75f);
    QPainterPath area;
    area.addRect(targetArea());
    p.fillPath(area.intersected(outline), areaFill);

    drawStrip(p);
    const bool inTag = m_dragPos && tagRect().contains(*m_dragPos);
    const bool inCool = m_dragPos && coolRect().contains(*m_dragPos);
    drawTarget(p, tagRect(), KLLocalized(QStringLiteral("KLDropZoneTagTargetTitle")), inTag);
    drawTarget(p, coolRect(), KLLocalized(QStringLiteral("KLDropZoneCoolerTargetTitle")), inCool);
}

void KLDropZoneView::drawStrip(QPainter &p)
{
    const QRect strip = stripRect();
    const bool left = m_controller->leftEdge();
    QFont font = p.font();
    font.setPointSizeF(11);
    p.save();
    p.setFont(font);
    // Along the strip: read upwards at the right edge, downwards at the left.
    p.translate(strip.center());
    p.rotate(left ? 90 : -90);
    const QString title = KLLocalized(QStringLiteral("KLDropZoneTitle"));
    const QString hint = KLLocalized(QStringLiteral("KLDropZoneInstructions"));
    const QFontMetrics metrics(font);
    const int gap = metrics.horizontalAdvance(QLatin1Char(' ')) * 2;
    const int titleWidth = metrics.horizontalAdvance(title);
    const int total = titleWidth + gap + metrics.horizontalAdvance(hint);
    const int baseline = (metrics.ascent() - metrics.descent()) / 2;
    int x = -total / 2;
    p.setPen(Qt::white);
    p.drawText(x, baseline, title);
    x += titleWidth + gap;
    p.setPen(QColor(190, 190, 190));
    p.drawText(x, baseline, hint);
    p.restore();
}

void KLDropZoneView::drawTarget(QPainter &p, const QRect &target, const QString &title, bool highlighted)
{
    const QColor colour = highlighted ? highlightColour() : plainColour();
    QPen pen(colour, 3);
    // Qt counts dashes in pen widths: 7 points on, 2 off.
    pen.setDashPattern({7.0 / 3.0, 2.0 / 3.0});
    p.save();
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(target).adjusted(5, 3, -5, -3), 8, 8);
    QFont font = p.font();
    font.setPointSizeF(14);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(target.adjusted(8, 6, -8, -6), Qt::AlignCenter | Qt::TextWordWrap, title);
    p.restore();
}
