#pragma once
// Where the drop zone sits: its hidden and shown frames at the left edge of the leftmost
// screen or the right edge of the rightmost one.
//
// The rules are written for a y axis that grows upwards from the bottom of the main screen
// (the first screen in the list), with `y` the bottom edge of a frame. Qt's global
// coordinates grow downwards from the top of that screen. Everything here works in the
// upward axis, so that the rules read as they are meant; toQt() and fromQt() convert at the
// edge, where the controller meets Qt's screens and windows.
#include <QList>
#include <QRectF>

namespace KLDropZoneGeometry {

constexpr double kWidth = 100;
constexpr double kHeight = 300;
// Points of the zone on the screen when it is shown.
constexpr double kShownWidth = 98;
// Points of the zone that always reach into the screen, above its bottom and below its top,
// so that the strip stays within reach wherever the zone was dragged to.
constexpr double kMinimumReach = 10;

// One screen layout, in the upward axis; screens[0] is the main screen.
struct Layout {
    QList<QRectF> screens;
    bool leftEdge = false; // at the left edge of the leftmost screen, else the right of the rightmost
    double overlap = 2;    // points of the hidden zone left on the screen: 20 or 2
};

// The screen at the zone's edge: the smallest x origin (left) or the largest (right), the
// first in the list on a tie; a zero frame without screens.
QRectF edgeScreen(const Layout &layout);
// The zone centred vertically on the edge screen.
double defaultDropZoneY(const Layout &layout);
// The hidden frame for a zone whose bottom edge was last at `dropZoneY`.
QRectF offscreenFrame(const Layout &layout, double dropZoneY);
// The shown frame: 98 points on the screen, clamped to the screen's height.
QRectF onscreenFrame(const Layout &layout, double dropZoneY);
// Distance from a point to the zone's reference point (the x origin and vertical centre of
// the hidden frame); the same in either axis, since it is a distance.
double distanceFrom(const QPointF &point, const QRectF &offscreen);

// Conversions between Qt's downward global coordinates and the upward axis. `mainBottom` is
// the bottom edge of the main screen in Qt's coordinates (its y + height).
QRectF fromQt(const QRectF &qtRect, double mainBottom);
QRectF toQt(const QRectF &upRect, double mainBottom);
QPointF pointFromQt(const QPointF &qtPoint, double mainBottom);
QList<QRectF> screensFromQt(const QList<QRectF> &qtScreens);

} // namespace KLDropZoneGeometry
