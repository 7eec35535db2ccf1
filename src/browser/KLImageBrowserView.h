#pragma once
// KLImageBrowserView: the thumbnail grid of both panes — a QListView in icon mode whose data
// comes from its pane (KLImageBrowserViewDelegate) and whose cells are painted by
// KLImageBrowserCell.
//
// Beyond a plain grid it has: the pane keys (Return: tags, Space: preview, Up/Down: the other
// pane, Left/Right stopping at the ends, Delete: remove, Menu or Shift+F10: context menu), the hover delete badge with the
// shared one-line tool tip, Super+Shift-click reveal, and drags out that copy rather than move
// when KLAlwaysCopyOnDrag is on, during which the window steps aside.
#include <QListView>
#include <QPoint>
#include <QPointer>

class KLImageBrowserViewDelegate;
class KLImageBrowserCell;
class QTimer;

// Drag operation bits as the drag sources of the desktop map count them (copy 1, link 2,
// generic 4, private 8, move 16, delete 32; every = all bits).
namespace KLDragOperation {
inline constexpr unsigned Copy = 1;
inline constexpr unsigned Link = 2;
inline constexpr unsigned Generic = 4;
inline constexpr unsigned Private = 8;
inline constexpr unsigned Move = 16;
inline constexpr unsigned Delete = 32;
inline constexpr unsigned Every = 0xFFFFFFFFu;
// sourceOperationMaskForDraggingContext: copy and delete only when always copying.
unsigned sourceOperationMask(bool alwaysCopy);
// The Qt drop actions a drag offers for an operation mask. Qt has no delete action: a drop on
// a trash is a move there, so a copy-only drag cannot send the file itself to the trash.
Qt::DropActions dropActionsForMask(unsigned mask);
} // namespace KLDragOperation

class KLImageBrowserView : public QListView
{
    Q_OBJECT
public:
    explicit KLImageBrowserView(QWidget *parent = nullptr);
    ~KLImageBrowserView() override;

    void setPane(KLImageBrowserViewDelegate *pane);
    KLImageBrowserViewDelegate *pane() const;
    KLImageBrowserCell *cell() const { return m_cell; }

    // Columns of the current layout (at least 1).
    int numberOfColumns() const;
    // Row index of the cell under a point, or -1.
    int indexAtPoint(const QPoint &viewportPos) const;
    // Where a drop at this point inserts (0 … item count).
    int indexAtLocationOfDroppedItem(const QPoint &viewportPos) const;
    // The rectangle of the picture in a cell, and its delete badge (viewport coordinates).
    QRect imageFrameForIndex(int row) const;
    QRect deleteFrameRectForIndex(int row) const;

    // Hover badge (at most one cell).
    int deleteBadgeIndex() const { return m_deleteBadge; }
    void setShowsDelete(int row, bool show);
    void turnOffAllDeleteBadges();
    void stopHoveringDirective();

    // Super+Shift and a click on a badge, exposed for tests.
    bool handleClick(const QPoint &viewportPos, Qt::KeyboardModifiers modifiers);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Right-click, the Menu key (the platform sends it as a context-menu event) and Shift+F10.
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The pane's menu for the selection, under the first selected cell (keyboard).
    void showContextMenuForSelection();
    void mouseMovedTimer();
    void draggingMoved();

    QPointer<KLImageBrowserViewDelegate> m_pane;
    KLImageBrowserCell *m_cell = nullptr;
    QTimer *m_hoverTimer = nullptr;
    QTimer *m_dragTimer = nullptr;
    bool _mouseInside = false;
    QPoint _mouseBaseAtLastStopHoveringDirective{-1000000, -1000000};
    int m_deleteBadge = -1;
};
