#pragma once
// "Open With › Other…": a dialog listing the installed applications (from GIO: every desktop
// entry the desktop shows in its menus) with their names and icons, a search field that
// narrows the list as one types, and Open / Cancel.
//
// Keyboard: the search field has the focus; Up and Down move through the list from there,
// Return opens the selected application (the first match is selected as one types), Escape
// cancels. Double-clicking an application opens with it.
#include "platform/Apps.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;

class XPApplicationChooser : public QDialog
{
    Q_OBJECT
public:
    // `documentPath` names the file in the prompt; `apps` defaults to Apps::allApplications().
    explicit XPApplicationChooser(const QString &documentPath, QWidget *parent = nullptr);
    XPApplicationChooser(const QString &documentPath, const QList<Apps::AppInfo> &apps, QWidget *parent = nullptr);

    // The desktop entry of the selected application; empty when none is selected.
    QString selectedApplication() const;
    // Shows the dialog modally; answers the chosen entry, or empty when cancelled.
    static QString chooseApplication(const QString &documentPath, QWidget *parent);

    QLineEdit *searchField() const { return m_search; }
    QListView *list() const { return m_list; }
    QPushButton *openButton() const { return m_open; }
    // The applications shown now (after the search), top to bottom.
    QStringList visibleNames() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void filterChanged(const QString &text);
    void selectFirstIfNone();
    void updateOpenButton();

    QLabel *m_prompt = nullptr;
    QLineEdit *m_search = nullptr;
    QListView *m_list = nullptr;
    QPushButton *m_open = nullptr;
    QStandardItemModel *m_model = nullptr;
    QSortFilterProxyModel *m_filter = nullptr;
};
