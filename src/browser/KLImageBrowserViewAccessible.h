#pragma once
// What screen readers see of a grid: a list named after its pane whose children are the cells.
// Each cell is a list item named after its file, described by KLCellText (date, kind, stack
// count, missing state, tags, rating) and offering two actions, Open (as a double-click does)
// and Show Menu (the cell's context menu).
//
// Qt's own item-view accessibility offers only selection toggling on cells, so the grid has an
// interface of its own; installAccessibleFactory() puts it in place, together with the roles of
// the main window (a frame) and the panes' backgrounds (named groups).
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

#include "browser/KLImageBrowserView.h"

namespace KLImageBrowserAccessibility {
// Installs the factory once per process (any later call does nothing).
void installAccessibleFactory();
} // namespace KLImageBrowserAccessibility

class KLAccessibleGrid : public QAccessibleWidget
{
public:
    explicit KLAccessibleGrid(KLImageBrowserView *view);
    ~KLAccessibleGrid() override;

    QAccessible::Role role() const override { return QAccessible::List; }
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

    KLImageBrowserView *view() const;

private:
    mutable QHash<int, QAccessible::Id> m_cells;
};

class KLAccessibleGridCell : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    KLAccessibleGridCell(KLImageBrowserView *view, int row) : m_view(view), m_row(row) {}

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    QString localizedActionName(const QString &name) const override;
    QString localizedActionDescription(const QString &name) const override;
    void doAction(const QString &name) override;
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    int row() const { return m_row; }
    static QString openAction();

private:
    QPointer<KLImageBrowserView> m_view;
    int m_row;
};
