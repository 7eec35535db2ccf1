#include "dropzone/KLDropZoneGeometry.h"

#include <cmath>

namespace KLDropZoneGeometry {

QRectF edgeScreen(const Layout &layout)
{
    if (layout.screens.isEmpty())
        return {};
    QRectF best = layout.screens.first();
    for (const QRectF &screen : layout.screens) {
        // Strict comparisons: the first screen of a tie stays.
        if (layout.leftEdge ? screen.x() < best.x() : screen.x() > best.x())
            best = screen;
    }
    return best;
}

double defaultDropZoneY(const Layout &layout)
{
    const QRectF screen = edgeScreen(layout);
    return (screen.height() - kHeight) * 0.5 + screen.y();
}

QRectF offscreenFrame(const Layout &layout, double dropZoneY)
{
    const QRectF screen = edgeScreen(layout);
    const double o = layout.overlap;
    double x = layout.leftEdge ? screen.x() - kWidth + o : screen.x() + screen.width() - o;
    double y = dropZoneY;
    const double s = screen.y();
    if (s > y + kHeight)
        y = defaultDropZoneY(layout); // wholly below the screen
    else if (y + kHeight < s + kMinimumReach)
        y = s + kMinimumReach - kHeight;
    // The same reach below the screen's top: a zone dragged up against the top edge, or kept
    // from a taller screen, would otherwise hide its strip above the screen, out of reach.
    if (y > s + screen.height() - kMinimumReach)
        y = s + screen.height() - kMinimumReach;
    return QRectF(std::trunc(x), std::trunc(y), kWidth, kHeight);
}

QRectF onscreenFrame(const Layout &layout, double dropZoneY)
{
    QRectF frame = offscreenFrame(layout, dropZoneY);
    const double shift = kShownWidth - layout.overlap;
    frame.moveLeft(frame.x() + (layout.leftEdge ? shift : -shift));
    const QRectF screen = edgeScreen(layout);
    const double s = screen.y();
    if (s > frame.y())
        frame.moveTop(s - 1);
    else if (frame.y() + kHeight > s + screen.height())
        frame.moveTop(s + screen.height() - kHeight + 1);
    return frame;
}

double distanceFrom(const QPointF &point, const QRectF &offscreen)
{
    const double dx = point.x() - offscreen.x();
    const double dy = point.y() - (offscreen.y() + offscreen.height() / 2);
    return std::sqrt(dx * dx + dy * dy);
}

// QRectF's "top" is its y, whichever way the axis grows: in the upward axis, y is the bottom.
QRectF fromQt(const QRectF &qtRect, double mainBottom)
{
    return QRectF(qtRect.x(), mainBottom - qtRect.y() - qtRect.height(), qtRect.width(), qtRect.height());
}

QRectF toQt(const QRectF &upRect, double mainBottom)
{
    // The flip is its own inverse.
    return fromQt(upRect, mainBottom);
}

QPointF pointFromQt(const QPointF &qtPoint, double mainBottom)
{
    return QPointF(qtPoint.x(), mainBottom - qtPoint.y());
}

QList<QRectF> screensFromQt(const QList<QRectF> &qtScreens)
{
    QList<QRectF> up;
    if (qtScreens.isEmpty())
        return up;
    const double mainBottom = qtScreens.first().y() + qtScreens.first().height();
    for (const QRectF &screen : qtScreens)
        up.append(fromQt(screen, mainBottom));
    return up;
}

} // namespace KLDropZoneGeometry
