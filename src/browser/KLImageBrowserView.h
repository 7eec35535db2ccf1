#pragma once
// KLImageBrowserView: the thumbnail grid of both panes — a QListView in icon mode whose data
// comes from its pane (KLImageBrowserViewDelegate) and whose cells are painted by
// KLImageBrowserCell.
//
// Beyond a plain grid it has: the pane keys (Return: tags, Space: preview, Up/Down: the rows and
// then the other pane, Left/Right stopping at the ends, Delete or Backspace: remove, Ctrl+Z:
// bring the last removal back, F2: rename, Ctrl+O: open, Backspace/Alt+Up/Alt+Left inside a
// stack: back, Menu or Shift+F10: context menu), the hover delete badge with the
// shared one-line tool tip, Super+Shift-click reveal, and drags out that copy rather than move
// when KLAlwaysCopyOnDrag is on, during which the window steps aside. A drag out that a file
// manager's Trash took (a move there, the file manager trashing the files itself) takes the
// items out of the pane.
#include "recent/KLItem.h"

#include <QDateTime>
#include <QListView>
#include <QPoint>
#include <QPointer>
#include <QUrl>

class KLImageBrowserViewDelegate;
class KLImageBrowserCell;
class KLMainWindowController;
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
// What a drag out of a grid offers the drop target: copy and link while KLAlwaysCopyOnDrag is on
// (never a move, so that no file manager takes the file away or trashes it unasked), and move
// as well when it is off. A reorder inside the Cooler needs no move.
Qt::DropActions offeredDropActions(bool alwaysCopy);
} // namespace KLDragOperation

// The decisions of a drag out of a grid, apart from the drag itself (which is modal and driven
// by the platform).
namespace KLDragOut {
// How far (logical pixels) the pointer may stray outside the window before the window steps
// aside.
inline constexpr int kStepAsideMargin = 10;
// While dragging: the window steps aside (is ordered out, so that the user can drop onto what
// lies beneath it) when it is visible and the pointer lies outside its frame grown by the
// margin on every side. A point exactly 10 pixels outside is still within; 11 is not.
bool shouldStepAside(bool windowVisible, const QRect &windowFrame, const QPoint &globalPointer);
// When the drag is over.
enum class EndAction {
    Nothing,         // the window is visible and fully opaque
    HideApplication, // accepted by some target that is not the drop zone
    BringBack,       // refused, or taken by the drop zone: the window is made key and raised
};
EndAction endOfDragAction(bool windowVisible, double windowOpacity, Qt::DropAction result, bool toDropZone);
} // namespace KLDragOut

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

    // What an empty grid says in its middle (none: nothing).
    void setEmptyText(const QString &text);
    QString emptyText() const { return m_emptyText; }

    // A click, a key, a drag or a context menu is under way: a list change now would move the
    // cell the user is acting on, so refreshes wait until it is over.
    bool gestureInProgress() const;

    // During a drag out (polled every 50 ms, since the drag reports no moves to its source):
    // the window steps aside once the pointer strays from it, once per drag.
    void draggingSessionMoved(const QPoint &globalPointer);
    // What follows the drop of a drag out: `result` as the drag answered it, `droppedInKelso`
    // when a window of this program took it (reordering the Cooler, for one), the items and
    // URLs that were dragged and when the drag began. A move to another program may have been
    // a drop on the trash; the panes find that out on the disk (checkDragOutWentToTrash) and
    // drop the trashed items. Otherwise the files can join the Cooler (autoAddToCooler). Then
    // the window is left alone, brought back, or the application hides (endOfDragAction).
    virtual void draggingSessionEnded(Qt::DropAction result, bool droppedInKelso, const QList<KLItemPtr> &dragged,
                                      const QList<QUrl> &urls, const QDateTime &started);
    // The drop actions a drag out offers (KLDragOperation::offeredDropActions by default).
    virtual Qt::DropActions offeredDragActions(bool alwaysCopy) const;

protected:
    // After a drag out: leaves the window alone, brings it back or hides the application
    // (KLDragOut::endOfDragAction).
    void placeWindowAfterDrag(Qt::DropAction result, KLMainWindowController *controller);
    // Replaces the cell painter (a grid with cells of its own); the view owns it.
    void setCell(KLImageBrowserCell *cell);
    // A cell's tool tip (name, folder, date, size, tags, rating), except over the delete badge,
    // which has the one-line tip of its own.
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
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
    // Up and Down: the cell above or below; from the first or last row, the other pane.
    void moveVertically(bool down);
    // The keys of the pane beyond the grid's own; true when the key was used.
    bool handlePaneKey(QKeyEvent *event);
    void mouseMovedTimer();

    QPointer<KLImageBrowserViewDelegate> m_pane;
    KLImageBrowserCell *m_cell = nullptr;
    QTimer *m_hoverTimer = nullptr;
    QTimer *m_dragTimer = nullptr;
    bool _mouseInside = false;
    QPoint _mouseBaseAtLastStopHoveringDirective{-1000000, -1000000};
    int m_deleteBadge = -1;
    bool m_steppedAside = false;
    Qt::MouseButtons m_buttonsDown;
    int m_keysDown = 0;
    QString m_emptyText;
};
