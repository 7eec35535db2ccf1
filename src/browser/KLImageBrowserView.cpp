#include "browser/KLImageBrowserView.h"

#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserCell.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLPreviewPanel.h"
#include "platform/Defaults.h"
#include "util/Localized.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QPalette>
#include <QTimer>
#include <QWindow>

namespace {
const char *kInternalFormat = "application/x-kelso-cells";
}

namespace KLDragOperation {
unsigned sourceOperationMask(bool alwaysCopy)
{
    return alwaysCopy ? (Copy | Delete) : Every;
}

Qt::DropActions dropActionsForMask(unsigned mask)
{
    Qt::DropActions actions;
    if (mask & Copy)
        actions |= Qt::CopyAction;
    if (mask & Move)
        actions |= Qt::MoveAction;
    if (mask & Link)
        actions |= Qt::LinkAction;
    return actions;
}
} // namespace KLDragOperation

namespace KLDragOut {
bool shouldStepAside(bool windowVisible, const QRect &windowFrame, const QPoint &globalPointer)
{
    if (!windowVisible)
        return false;
    const QRect grown =
        windowFrame.adjusted(-kStepAsideMargin, -kStepAsideMargin, kStepAsideMargin, kStepAsideMargin);
    return !grown.contains(globalPointer);
}

EndAction endOfDragAction(bool windowVisible, double windowOpacity, Qt::DropAction result, bool toDropZone)
{
    if (windowVisible && windowOpacity >= 1.0)
        return EndAction::Nothing;
    if (result != Qt::IgnoreAction && !toDropZone)
        return EndAction::HideApplication;
    return EndAction::BringBack;
}
} // namespace KLDragOut

KLImageBrowserView::KLImageBrowserView(QWidget *parent) : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setGridSize(QSize(KLImageBrowserCell::kCellWidth, KLImageBrowserCell::kCellHeight));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionRectVisible(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setAcceptDrops(false);
    // Clear background: the pane's rounded view shows through.
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    // A palette rather than a style sheet: style sheets re-polish through a style of their
    // own, which costs start-up time for nothing here.
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    m_cell = new KLImageBrowserCell(this);
    setItemDelegate(m_cell);

    m_hoverTimer = new QTimer(this);
    m_hoverTimer->setInterval(50);
    connect(m_hoverTimer, &QTimer::timeout, this, &KLImageBrowserView::mouseMovedTimer);
    m_dragTimer = new QTimer(this);
    m_dragTimer->setInterval(50);
    connect(m_dragTimer, &QTimer::timeout, this, [this] { draggingSessionMoved(QCursor::pos()); });
}

KLImageBrowserView::~KLImageBrowserView() = default;

KLImageBrowserViewDelegate *KLImageBrowserView::pane() const
{
    return m_pane.data();
}

void KLImageBrowserView::setPane(KLImageBrowserViewDelegate *pane)
{
    m_pane = pane;
    setModel(pane->model());
    setAcceptDrops(pane->acceptsDrops());
    viewport()->setAcceptDrops(pane->acceptsDrops());
}

int KLImageBrowserView::numberOfColumns() const
{
    const int width = viewport()->width();
    return std::max(1, width / std::max(1, gridSize().width()));
}

int KLImageBrowserView::indexAtPoint(const QPoint &viewportPos) const
{
    const QModelIndex i = indexAt(viewportPos);
    return i.isValid() ? i.row() : -1;
}

int KLImageBrowserView::indexAtLocationOfDroppedItem(const QPoint &pos) const
{
    const int count = model() ? model()->rowCount() : 0;
    for (int i = 0; i < count; ++i) {
        const QRect r = visualRect(model()->index(i, 0));
        if (pos.y() < r.top())
            return i; // above this row: before its first cell
        if (pos.y() <= r.bottom() && pos.x() < r.center().x())
            return i;
    }
    return count;
}

QRect KLImageBrowserView::imageFrameForIndex(int row) const
{
    if (!m_pane || !model() || row < 0 || row >= model()->rowCount())
        return {};
    const QRect cellRect = visualRect(model()->index(row, 0));
    const KLItemPtr item = m_pane->model()->itemAt(row);
    const QImage picture = KLImageBrowserCell::pictureForItem(item);
    return KLImageBrowserCell::imageFrameFor(cellRect, picture.size() / std::max(1.0, picture.devicePixelRatio()));
}

QRect KLImageBrowserView::deleteFrameRectForIndex(int row) const
{
    const QRect frame = imageFrameForIndex(row);
    return frame.isNull() ? QRect() : KLImageBrowserCell::deleteFrameRect(frame);
}

void KLImageBrowserView::setShowsDelete(int row, bool show)
{
    const int target = show ? row : (m_deleteBadge == row ? -1 : m_deleteBadge);
    if (target == m_deleteBadge)
        return;
    const int old = m_deleteBadge;
    m_deleteBadge = target;
    if (old >= 0 && model() && old < model()->rowCount())
        viewport()->update(visualRect(model()->index(old, 0)));
    if (target >= 0 && model() && target < model()->rowCount())
        viewport()->update(visualRect(model()->index(target, 0)));
}

void KLImageBrowserView::turnOffAllDeleteBadges()
{
    if (m_deleteBadge >= 0)
        setShowsDelete(m_deleteBadge, false);
}

void KLImageBrowserView::stopHoveringDirective()
{
    _mouseBaseAtLastStopHoveringDirective = QCursor::pos();
    turnOffAllDeleteBadges();
}

// ---- keys -----------------------------------------------------------------------------------

void KLImageBrowserView::keyPressEvent(QKeyEvent *event)
{
    KLMainWindowController *controller = m_pane ? m_pane->mainWindowController() : nullptr;
    const QList<int> selection = m_pane ? m_pane->selectionIndexes() : QList<int>();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_pane)
            m_pane->editTags(m_pane->selectedItems());
        return;
    case Qt::Key_Space:
        setFocus(Qt::OtherFocusReason);
        if (m_pane)
            KLPreviewPanel::shared().showPanel(m_pane->selectedItems(), window());
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (controller)
            controller->switchPanelFrom(this, event->key() == Qt::Key_Down);
        if (KLPreviewPanel::shared().isOpen() && controller && controller->activeDelegate())
            KLPreviewPanel::shared().updateController(controller->activeDelegate()->selectedItems());
        return;
    case Qt::Key_Left:
        if (selection.size() == 1 && selection.first() == 0)
            return;
        break;
    case Qt::Key_Right:
        if (m_pane && selection.size() == 1 && selection.first() == m_pane->numberOfItems() - 1)
            return;
        break;
    case Qt::Key_F10:
        if (event->modifiers() & Qt::ShiftModifier) {
            showContextMenuForSelection();
            return;
        }
        break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (m_pane && !selection.isEmpty())
            m_pane->imageBrowserRemoveItemsAtIndexes(selection);
        return;
    default:
        break;
    }
    QListView::keyPressEvent(event);
}

// ---- context menu ---------------------------------------------------------------------------

void KLImageBrowserView::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_pane)
        return;
    event->accept();
    if (event->reason() != QContextMenuEvent::Mouse) {
        showContextMenuForSelection();
        return;
    }
    // Only a cell has a menu; empty space between and after the cells has none.
    const int row = indexAtPoint(event->pos());
    if (row < 0)
        return;
    turnOffAllDeleteBadges();
    m_pane->showContextMenuForIndex(row, event->globalPos());
}

void KLImageBrowserView::showContextMenuForSelection()
{
    if (!m_pane)
        return;
    const QList<int> selection = m_pane->selectionIndexes();
    if (selection.isEmpty())
        return;
    const QModelIndex first = model()->index(selection.first(), 0);
    scrollTo(first);
    const QRect cell = visualRect(first);
    m_pane->showContextMenuForIndex(selection.first(), viewport()->mapToGlobal(cell.center()));
}

// ---- clicks ---------------------------------------------------------------------------------

bool KLImageBrowserView::handleClick(const QPoint &pos, Qt::KeyboardModifiers modifiers)
{
    const int row = indexAtPoint(pos);
    if (row < 0 || !m_pane)
        return false;
    const KLItemPtr item = m_pane->itemAtIndex(row);
    if (item && deleteFrameRectForIndex(row).contains(pos) && m_deleteBadge == row) {
        // The badge takes the item out of the pane; the file is never touched.
        turnOffAllDeleteBadges();
        m_pane->imageBrowserRemoveKLItems({item}, false);
        if (KLMainWindowController *c = m_pane->mainWindowController())
            c->simpleToolTip()->setToolTipText({});
        return true;
    }
    if (item && (modifiers & Qt::MetaModifier) && (modifiers & Qt::ShiftModifier)) {
        m_pane->revealInFinder({item});
        return true;
    }
    return false;
}

void KLImageBrowserView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && handleClick(event->position().toPoint(), event->modifiers()))
        return;
    QListView::mouseReleaseEvent(event);
}

void KLImageBrowserView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int row = indexAtPoint(event->position().toPoint());
    if (row >= 0 && m_pane && event->button() == Qt::LeftButton) {
        if (deleteFrameRectForIndex(row).contains(event->position().toPoint()) && m_deleteBadge == row)
            return;
        m_pane->imageBrowserCellWasDoubleClickedAtIndex(row);
        return;
    }
    QListView::mouseDoubleClickEvent(event);
}

// ---- hover badge ----------------------------------------------------------------------------

void KLImageBrowserView::enterEvent(QEnterEvent *event)
{
    _mouseInside = true;
    m_hoverTimer->start();
    QListView::enterEvent(event);
}

void KLImageBrowserView::leaveEvent(QEvent *event)
{
    turnOffAllDeleteBadges();
    _mouseInside = false;
    if (m_pane && m_pane->mainWindowController())
        m_pane->mainWindowController()->simpleToolTip()->setToolTipText({});
    QListView::leaveEvent(event);
}

void KLImageBrowserView::mouseMovedTimer()
{
    KLMainWindowController *controller = m_pane ? m_pane->mainWindowController() : nullptr;
    QWidget *win = window();
    const bool windowGone = !win->isVisible() || win->windowOpacity() <= 0.0;
    if (!_mouseInside || QGuiApplication::applicationState() != Qt::ApplicationActive || windowGone) {
        m_hoverTimer->stop();
        _mouseInside = false;
        if (controller)
            controller->simpleToolTip()->setToolTipText({});
        return;
    }
    const QPoint global = QCursor::pos();
    if (global == _mouseBaseAtLastStopHoveringDirective)
        return;
    const QPoint pos = viewport()->mapFromGlobal(global);
    const int row = indexAtPoint(pos);
    if (row < 0 || !m_pane || row >= m_pane->numberOfItems()) {
        turnOffAllDeleteBadges();
        if (controller)
            controller->simpleToolTip()->setToolTipText({});
        return;
    }
    if (controller) {
        if (deleteFrameRectForIndex(row).contains(pos)) {
            const QString tip = KLLocalized(QStringLiteral("Click to remove the file from Kelso"));
            if (controller->simpleToolTip()->toolTipText() != tip) {
                const QRect cellRect = visualRect(model()->index(row, 0));
                const QPoint at = viewport()->mapToGlobal(QPoint(cellRect.center().x(), pos.y()));
                controller->simpleToolTip()->showText(tip, at);
                setToolTip({});
            }
        } else {
            controller->simpleToolTip()->setToolTipText({});
        }
    }
    turnOffAllDeleteBadges();
    setShowsDelete(row, true);
}

// ---- dragging out ---------------------------------------------------------------------------

void KLImageBrowserView::startDrag(Qt::DropActions)
{
    if (!m_pane)
        return;
    const QList<int> selection = m_pane->selectionIndexes();
    if (selection.isEmpty())
        return;
    KLPreviewPanel::shared().close();
    auto *data = new QMimeData;
    if (m_pane->imageBrowserWriteItemsAtIndexes(selection, data) == 0) {
        delete data;
        return;
    }
    // Which cells of which grid: lets the Cooler reorder its own cells.
    QByteArray internal = QByteArray::number(quintptr(this));
    for (int i : selection)
        internal += ' ' + QByteArray::number(i);
    data->setData(QString::fromLatin1(kInternalFormat), internal);

    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    const QImage picture = KLImageBrowserCell::pictureForItem(m_pane->itemAtIndex(selection.first()));
    if (!picture.isNull())
        drag->setPixmap(QPixmap::fromImage(picture.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)));

    const bool alwaysCopy = Defaults::standard().boolForKey(QStringLiteral("KLAlwaysCopyOnDrag"));
    Qt::DropActions actions = KLDragOperation::dropActionsForMask(KLDragOperation::sourceOperationMask(alwaysCopy));
    if (m_pane->acceptsDrops())
        actions |= Qt::MoveAction; // reordering inside the Cooler
    const QList<QUrl> draggedUrls = data->urls();
    const QList<KLItemPtr> draggedItems = m_pane->itemsForIndexes(selection);
    const QDateTime started = QDateTime::currentDateTime();
    QPointer<KLImageBrowserView> self(this);
    QPointer<QDrag> guard(drag);
    m_steppedAside = false;
    m_dragTimer->start();
    const Qt::DropAction result = drag->exec(actions, Qt::CopyAction);
    if (!self)
        return; // the grid went away while the drag ran
    m_dragTimer->stop();
    // A target inside this program is a widget of ours; another program's is none.
    const bool droppedInKelso = guard && guard->target() != nullptr;
    draggingSessionEnded(result, droppedInKelso, draggedItems, draggedUrls, started);
}

void KLImageBrowserView::draggingSessionMoved(const QPoint &globalPointer)
{
    if (m_steppedAside)
        return;
    QWidget *win = window();
    const bool visible = win->isVisible() && win->windowOpacity() > 0.0;
    if (!KLDragOut::shouldStepAside(visible, win->frameGeometry(), globalPointer))
        return;
    m_steppedAside = true; // the fade must not be restarted on every tick
    if (m_pane && m_pane->mainWindowController())
        m_pane->mainWindowController()->orderOut();
    else
        win->hide();
}

void KLImageBrowserView::draggingSessionEnded(Qt::DropAction result, bool droppedInKelso,
                                              const QList<KLItemPtr> &dragged, const QList<QUrl> &urls,
                                              const QDateTime &started)
{
    m_steppedAside = false;
    KLMainWindowController *controller = m_pane ? m_pane->mainWindowController() : nullptr;
    QPointer<KLMainWindowController> controllerGuard(controller);
    // A drop on a file manager's Trash arrives as a move; the files it trashed leave the pane
    // and do not join the Cooler. Any other drop: the files can join the Cooler (when the
    // user wants that).
    if (result == Qt::MoveAction && !droppedInKelso && m_pane) {
        m_pane->checkDragOutWentToTrash(dragged, started, [controllerGuard, urls](const QList<KLItemPtr> &trashed) {
            if (trashed.isEmpty() && controllerGuard)
                controllerGuard->autoAddToCooler(urls);
        });
    } else if (controller) {
        controller->autoAddToCooler(urls);
    }

    QWidget *win = window();
    const bool toDropZone = controller && controller->dragWasToDropZone();
    switch (KLDragOut::endOfDragAction(win->isVisible(), win->windowOpacity(), result, toDropZone)) {
    case KLDragOut::EndAction::Nothing:
        break;
    case KLDragOut::EndAction::HideApplication:
        if (controller)
            controller->hideApplication();
        break;
    case KLDragOut::EndAction::BringBack:
        if (controller)
            controller->showWindow(true);
        break;
    }
}

// ---- drops ----------------------------------------------------------------------------------

void KLImageBrowserView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_pane || !m_pane->acceptsDrops() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->setDropAction(event->source() == this ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

void KLImageBrowserView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!m_pane || !m_pane->acceptsDrops() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->setDropAction(event->source() == this ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

void KLImageBrowserView::dropEvent(QDropEvent *event)
{
    if (!m_pane || !m_pane->acceptsDrops()) {
        event->ignore();
        return;
    }
    const int index = indexAtLocationOfDroppedItem(event->position().toPoint());
    const QByteArray internal = event->mimeData()->data(QString::fromLatin1(kInternalFormat));
    const QList<QByteArray> parts = internal.split(' ');
    if (event->source() == this && !parts.isEmpty() && parts.first() == QByteArray::number(quintptr(this))) {
        QList<int> indexes;
        for (int i = 1; i < parts.size(); ++i)
            indexes.append(parts.at(i).toInt());
        m_pane->imageBrowserMoveItemsAtIndexes(indexes, index);
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (!paths.isEmpty())
        m_pane->performDrop(paths, index);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
