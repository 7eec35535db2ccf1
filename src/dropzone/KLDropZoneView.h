#pragma once
// KLDropZoneView: the drop zone's content, two drop targets and a title strip.
//
// The strip (20 points) runs along the side that faces the inside of the screen: the only part
// that shows while the zone is hidden. The rest is split at half its height: files dropped on
// the upper half go to the tag editor, on the lower half (or the strip) to the front of the
// Cooler. Pressing anywhere on the zone and dragging moves it up and down the edge, or over
// to the other side of the desktop when the pointer comes nearer to that side.
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <optional>

class KLDropZoneController;

class KLDropZoneView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kStripWidth = 20;

    KLDropZoneView(KLDropZoneController *controller, QWidget *parent);

    // getTagRect:coolRect: in the view's (Qt's, downward) coordinates.
    QRect tagRect() const;
    QRect coolRect() const;
    QRect stripRect() const;
    // The outline colour of a target with and without the pointer in it, for this palette.
    QColor highlightColour() const;
    QColor plainColour() const;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect targetArea() const;
    void drawTarget(QPainter &p, const QRect &target, const QString &title, bool highlighted);
    void drawStrip(QPainter &p);

    KLDropZoneController *m_controller;
    // Where the press began, from the window's top left corner.
    QPoint m_initialLocation;
    bool m_pressed = false;
    // The pointer of a drag over the zone (the highlighted target follows it).
    std::optional<QPoint> m_dragPos;
};
