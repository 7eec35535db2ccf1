#include "browser/KLImageBrowserViewAccessible.h"

#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLImageBrowserViewDelegate.h"
#include "util/Localized.h"

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <QTimer>

namespace {
QAccessibleInterface *kelsoAccessibleFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (className == QLatin1String("KLImageBrowserView"))
        return new KLAccessibleGrid(static_cast<KLImageBrowserView *>(widget));
    if (className == QLatin1String("KLCustomWindow"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("KLRoundedRectView"))
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    return nullptr;
}
} // namespace

void KLImageBrowserAccessibility::installAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(kelsoAccessibleFactory);
        return true;
    }();
    (void)installed;
}

// ---- the grid -------------------------------------------------------------------------------

KLAccessibleGrid::KLAccessibleGrid(KLImageBrowserView *view) : QAccessibleWidget(view, QAccessible::List) {}

KLAccessibleGrid::~KLAccessibleGrid()
{
    for (QAccessible::Id id : std::as_const(m_cells))
        QAccessible::deleteAccessibleInterface(id);
}

KLImageBrowserView *KLAccessibleGrid::view() const
{
    return static_cast<KLImageBrowserView *>(widget());
}

int KLAccessibleGrid::childCount() const
{
    const QAbstractItemModel *model = view() ? view()->model() : nullptr;
    return model ? model->rowCount() : 0;
}

QAccessibleInterface *KLAccessibleGrid::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    // One interface per row for the grid's life: screen readers hold on to the ones they saw.
    auto it = m_cells.constFind(index);
    if (it != m_cells.constEnd())
        return QAccessible::accessibleInterface(*it);
    auto *cell = new KLAccessibleGridCell(view(), index);
    m_cells.insert(index, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

int KLAccessibleGrid::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
        return -1;
    const int row = static_cast<const KLAccessibleGridCell *>(child)->row();
    return row < childCount() ? row : -1;
}

QAccessibleInterface *KLAccessibleGrid::childAt(int x, int y) const
{
    KLImageBrowserView *v = view();
    if (!v)
        return nullptr;
    const int row = v->indexAtPoint(v->viewport()->mapFromGlobal(QPoint(x, y)));
    return row >= 0 ? child(row) : nullptr;
}

QAccessibleInterface *KLAccessibleGrid::focusChild() const
{
    KLImageBrowserView *v = view();
    if (!v || !v->hasFocus() || !v->currentIndex().isValid())
        return nullptr;
    return child(v->currentIndex().row());
}

// ---- cells ----------------------------------------------------------------------------------

QString KLAccessibleGridCell::openAction()
{
    return QStringLiteral("Open");
}

bool KLAccessibleGridCell::isValid() const
{
    return m_view && m_view->model() && m_row < m_view->model()->rowCount();
}

QWindow *KLAccessibleGridCell::window() const
{
    return m_view && m_view->window() ? m_view->window()->windowHandle() : nullptr;
}

QAccessibleInterface *KLAccessibleGridCell::parent() const
{
    return m_view ? QAccessible::queryAccessibleInterface(m_view.data()) : nullptr;
}

QString KLAccessibleGridCell::text(QAccessible::Text t) const
{
    if (!isValid())
        return {};
    const QModelIndex index = m_view->model()->index(m_row, 0);
    switch (t) {
    case QAccessible::Name:
        return index.data(Qt::AccessibleTextRole).toString();
    case QAccessible::Description:
        return index.data(Qt::AccessibleDescriptionRole).toString();
    default:
        return {};
    }
}

QRect KLAccessibleGridCell::rect() const
{
    if (!isValid())
        return {};
    const QRect local = m_view->visualRect(m_view->model()->index(m_row, 0));
    return QRect(m_view->viewport()->mapToGlobal(local.topLeft()), local.size());
}

QAccessible::State KLAccessibleGridCell::state() const
{
    QAccessible::State st;
    if (!isValid()) {
        st.invalid = true;
        return st;
    }
    const QModelIndex index = m_view->model()->index(m_row, 0);
    st.selectable = true;
    st.focusable = true;
    st.multiSelectable = true;
    st.selected = m_view->selectionModel() && m_view->selectionModel()->isSelected(index);
    st.focused = m_view->hasFocus() && m_view->currentIndex() == index;
    st.active = st.focused;
    const QRect shown = m_view->visualRect(index);
    st.invisible = !m_view->viewport()->rect().intersects(shown);
    st.offscreen = st.invisible;
    return st;
}

void *KLAccessibleGridCell::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ActionInterface)
        return static_cast<QAccessibleActionInterface *>(this);
    return nullptr;
}

QStringList KLAccessibleGridCell::actionNames() const
{
    return {openAction(), showMenuAction()};
}

QString KLAccessibleGridCell::localizedActionName(const QString &name) const
{
    if (name == openAction())
        return KLLocalized(QStringLiteral("KLCellActionOpen"));
    if (name == showMenuAction())
        return KLLocalized(QStringLiteral("KLCellActionShowMenu"));
    return QAccessibleActionInterface::localizedActionName(name);
}

QString KLAccessibleGridCell::localizedActionDescription(const QString &name) const
{
    return localizedActionName(name);
}

void KLAccessibleGridCell::doAction(const QString &name)
{
    if (!isValid() || !m_view->pane())
        return;
    // Later, from the event loop: the screen reader's call returns before a menu or another
    // window takes over, and the row is checked again then.
    QPointer<KLImageBrowserView> view = m_view;
    const int row = m_row;
    if (name == openAction()) {
        QTimer::singleShot(0, view, [view, row] {
            if (view && view->pane() && row < view->model()->rowCount())
                view->pane()->imageBrowserCellWasDoubleClickedAtIndex(row);
        });
    } else if (name == showMenuAction()) {
        QTimer::singleShot(0, view, [view, row] {
            if (!view || !view->pane() || row >= view->model()->rowCount())
                return;
            const QModelIndex index = view->model()->index(row, 0);
            view->setCurrentIndex(index);
            view->scrollTo(index);
            view->pane()->showContextMenuForIndex(row, view->viewport()->mapToGlobal(view->visualRect(index).center()));
        });
    }
}
