#include "browser/KLImageBrowserView.h"

#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserCell.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserViewAccessible.h"
#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLPreviewPanel.h"
#include "platform/Defaults.h"
#include "util/Localized.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

namespace {
const char *kInternalFormat = "application/x-kelso-cells";

// A reorder inside the grid is a move when the drag offers one; anything else is recorded, as
// a copy would be.
Qt::DropAction dropActionFor(const QDropEvent *event, const QObject *grid)
{
    if (event->source() == grid && (event->possibleActions() & Qt::MoveAction))
        return Qt::MoveAction;
    return Qt::CopyAction;
}
} // namespace

namespace KLDragOperation {
unsigned sourceOperationMask(bool alwaysCopy)
{
    return alwaysCopy ? (Copy | Delete) : Every;
}

Qt::DropActions offeredDropActions(bool alwaysCopy)
{
    return alwaysCopy ? Qt::CopyAction | Qt::LinkAction : Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
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
    const QRect grown = windowFrame.adjusted(-kStepAsideMargin, -kStepAsideMargin, kStepAsideMargin, kStepAsideMargin);
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
    KLImageBrowserAccessibility::installAccessibleFactory();
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

void KLImageBrowserView::setEmptyText(const QString &text)
{
    m_emptyText = text;
    viewport()->update();
}

void KLImageBrowserView::paintEvent(QPaintEvent *event)
{
    QListView::paintEvent(event);
    if (m_emptyText.isEmpty() || (model() && model()->rowCount() > 0))
        return;
    QPainter p(viewport());
    QFont f = font();
    f.setPointSizeF(13);
    p.setFont(f);
    const QColor text = m_cell ? m_cell->subtitleStyle().colour : QColor(Qt::lightGray);
    p.setPen(text.isValid() ? text : QColor(Qt::lightGray));
    p.drawText(viewport()->rect().adjusted(12, 0, -12, 0), Qt::AlignCenter | Qt::TextWordWrap, m_emptyText);
}

// ---- keys -----------------------------------------------------------------------------------

bool KLImageBrowserView::gestureInProgress() const
{
    // A press whose release went elsewhere (a menu or a drag took the pointer) does not count:
    // Qt's own record of the buttons held decides.
    const bool pressed = (m_buttonsDown & QGuiApplication::mouseButtons()) != Qt::NoButton;
    return pressed || m_keysDown > 0 || m_dragTimer->isActive() || QApplication::activePopupWidget() != nullptr ||
           QApplication::activeModalWidget() != nullptr;
}

void KLImageBrowserView::keyPressEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat())
        ++m_keysDown;
    if (handlePaneKey(event)) {
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void KLImageBrowserView::keyReleaseEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat() && m_keysDown > 0)
        --m_keysDown;
    QListView::keyReleaseEvent(event);
}

void KLImageBrowserView::focusInEvent(QFocusEvent *event)
{
    QListView::focusInEvent(event);
    // Reached with Tab: the first cell is selected, so that the keys have a cell to act on.
    const bool tabbed = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (tabbed && m_pane && !m_pane->hasSelection() && model() && model()->rowCount() > 0)
        m_pane->selectIndexes({0}, true);
}

void KLImageBrowserView::focusOutEvent(QFocusEvent *event)
{
    // Releases go to whichever window took the focus (the tag editor after Return, say).
    m_keysDown = 0;
    QListView::focusOutEvent(event);
}

bool KLImageBrowserView::handlePaneKey(QKeyEvent *event)
{
    if (!m_pane)
        return false;
    KLMainWindowController *controller = m_pane->mainWindowController();
    const QList<int> selection = m_pane->selectionIndexes();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    auto *recent = qobject_cast<KLKelsoImageBrowserDelegate *>(m_pane.data());
    const bool inStack = recent && recent->hasCurrentPath();
    auto leaveStack = [&] {
        if (!inStack)
            return;
        const QString stack = recent->currentPath();
        recent->backAction();
        recent->reloadBrowserNow();
        // The keyboard goes on from the stack that was left.
        const int at = recent->indexForPath(stack);
        recent->selectIndexes({at >= 0 ? at : 0}, true);
    };
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_pane->editTags(m_pane->selectedItems());
        return true;
    case Qt::Key_O:
        if (mods != Qt::ControlModifier)
            return false;
        m_pane->openExternallyAction(m_pane->selectedItems());
        return true;
    case Qt::Key_Z:
        if (mods != Qt::ControlModifier)
            return false;
        if (controller)
            controller->undoLastRemoval();
        else
            m_pane->undoLastRemoval();
        return true;
    case Qt::Key_F2:
        if (selection.size() == 1)
            m_pane->renameAction(m_pane->selectedItems());
        return true;
    case Qt::Key_Menu:
        showContextMenuForSelection();
        return true;
    case Qt::Key_F10:
        if (!(mods & Qt::ShiftModifier))
            return false;
        showContextMenuForSelection();
        return true;
    case Qt::Key_Space:
        setFocus(Qt::OtherFocusReason);
        KLPreviewPanel::shared().showPanel(m_pane->selectedItems(), window());
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (mods & Qt::AltModifier) {
            if (event->key() == Qt::Key_Up)
                leaveStack();
            return true;
        }
        if (mods & (Qt::ShiftModifier | Qt::ControlModifier))
            return false; // extending the selection: the grid's own behaviour
        moveVertically(event->key() == Qt::Key_Down);
        if (KLPreviewPanel::shared().isOpen() && controller && controller->activeDelegate())
            KLPreviewPanel::shared().updateController(controller->activeDelegate()->selectedItems());
        return true;
    case Qt::Key_Left:
        if (mods & Qt::AltModifier) {
            leaveStack();
            return true;
        }
        return selection.size() == 1 && selection.first() == 0;
    case Qt::Key_Right:
        return selection.size() == 1 && selection.first() == m_pane->numberOfItems() - 1;
    case Qt::Key_Backspace:
        if (inStack) {
            leaveStack();
            return true;
        }
        [[fallthrough]];
    case Qt::Key_Delete:
        if (!selection.isEmpty())
            m_pane->imageBrowserRemoveItemsAtIndexes(selection);
        return true;
    default:
        return false;
    }
}

void KLImageBrowserView::moveVertically(bool down)
{
    KLMainWindowController *controller = m_pane->mainWindowController();
    const int count = model() ? model()->rowCount() : 0;
    if (count == 0)
        return;
    const QList<int> selection = m_pane->selectionIndexes();
    if (selection.isEmpty()) {
        m_pane->selectIndexes({0}, true);
        return;
    }
    const int from = down ? selection.last() : selection.first();
    const QRect here = visualRect(model()->index(from, 0));
    // The nearest row above or below, and in it the cell nearest in x.
    int best = -1;
    int bestRowDistance = 0;
    int bestDx = 0;
    for (int i = 0; i < count; ++i) {
        const QRect r = visualRect(model()->index(i, 0));
        const int rowDistance = down ? r.top() - here.top() : here.top() - r.top();
        if (rowDistance <= 0)
            continue;
        const int dx = std::abs(r.center().x() - here.center().x());
        if (best < 0 || rowDistance < bestRowDistance || (rowDistance == bestRowDistance && dx < bestDx)) {
            best = i;
            bestRowDistance = rowDistance;
            bestDx = dx;
        }
    }
    if (best >= 0) {
        m_pane->selectIndexes({best}, true);
        return;
    }
    // First or last row: on to the other pane, in the same column.
    int firstInRow = from;
    while (firstInRow > 0 && visualRect(model()->index(firstInRow - 1, 0)).top() == here.top())
        --firstInRow;
    if (controller)
        controller->switchPanelFrom(this, down, from - firstInRow);
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
    const KLItemPtr item = m_pane->shownItemAtIndex(row);
    if (item && deleteFrameRectForIndex(row).contains(pos) && m_deleteBadge == row) {
        // The badge takes the item out of the pane; the file is never touched.
        turnOffAllDeleteBadges();
        m_pane->noteRemovalForUndo({item});
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

void KLImageBrowserView::mousePressEvent(QMouseEvent *event)
{
    m_buttonsDown |= event->button();
    QListView::mousePressEvent(event);
}

void KLImageBrowserView::mouseReleaseEvent(QMouseEvent *event)
{
    m_buttonsDown &= ~event->button();
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

bool KLImageBrowserView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const QPoint pos = static_cast<QHelpEvent *>(event)->pos();
        const int row = indexAtPoint(pos);
        if (row >= 0 && deleteFrameRectForIndex(row).contains(pos)) {
            QToolTip::hideText();
            event->accept();
            return true;
        }
    }
    return QListView::viewportEvent(event);
}

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
    auto *mime = new QMimeData;
    if (m_pane->imageBrowserWriteItemsAtIndexes(selection, mime) == 0) {
        delete mime;
        return;
    }
    // Which cells of which grid: lets the Cooler reorder its own cells.
    QByteArray internal = QByteArray::number(quintptr(this));
    for (int i : selection)
        internal += ' ' + QByteArray::number(i);
    mime->setData(QString::fromLatin1(kInternalFormat), internal);

    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    const QImage picture = KLImageBrowserCell::pictureForItem(m_pane->shownItemAtIndex(selection.first()));
    if (!picture.isNull())
        drag->setPixmap(QPixmap::fromImage(picture.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)));

    const bool alwaysCopy = Defaults::standard().boolForKey(QStringLiteral("KLAlwaysCopyOnDrag"));
    // Reordering inside the Cooler needs no move: the drop there reads which cells came.
    const Qt::DropActions actions = offeredDragActions(alwaysCopy);
    const QList<QUrl> draggedUrls = mime->urls();
    const QList<KLItemPtr> draggedItems = m_pane->shownItemsForIndexes(selection);
    const QDateTime started = QDateTime::currentDateTime();
    QPointer<KLImageBrowserView> self(this);
    QPointer<QDrag> guard(drag);
    m_steppedAside = false;
    m_dragTimer->start();
    const Qt::DropAction result = drag->exec(actions, Qt::CopyAction);
    if (!self)
        return; // the grid went away while the drag ran
    m_dragTimer->stop();
    m_buttonsDown = Qt::NoButton; // the drag took the release
    // A target inside this program is a widget of ours; another program's is none.
    const bool droppedInKelso = guard && guard->target() != nullptr;
    draggingSessionEnded(result, droppedInKelso, draggedItems, draggedUrls, started);
}

Qt::DropActions KLImageBrowserView::offeredDragActions(bool alwaysCopy) const
{
    return KLDragOperation::offeredDropActions(alwaysCopy);
}

void KLImageBrowserView::setCell(KLImageBrowserCell *cell)
{
    if (cell == m_cell)
        return;
    setItemDelegate(cell);
    delete m_cell;
    m_cell = cell;
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

    placeWindowAfterDrag(result, controller);
}

void KLImageBrowserView::placeWindowAfterDrag(Qt::DropAction result, KLMainWindowController *controller)
{
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
    event->setDropAction(dropActionFor(event, this));
    event->accept();
}

void KLImageBrowserView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!m_pane || !m_pane->acceptsDrops() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->setDropAction(dropActionFor(event, this));
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
        // The cells name what the grid showed; the list may have changed since.
        QList<int> indexes;
        for (int i = 1; i < parts.size(); ++i) {
            const int at = m_pane->listIndexForShownRow(parts.at(i).toInt());
            if (at >= 0)
                indexes.append(at);
        }
        const int destination = m_pane->listIndexForShownRow(index);
        if (!indexes.isEmpty())
            m_pane->imageBrowserMoveItemsAtIndexes(indexes, destination >= 0 ? destination : m_pane->numberOfItems());
        event->setDropAction(dropActionFor(event, this));
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
