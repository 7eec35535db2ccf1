#pragma once
// One pane of the preferences that edits a never-show list: a table of the list's entries, an
// Add button (a file chooser, or a new fragment row to type into) and a Remove button. The
// table takes drops of files from the file manager (KLExclusionLists says which), Delete or
// Backspace removes the selected rows, and path fragments are edited in place (F2, Return or a
// double click). The table reads the setting itself and follows its changes, so an entry that
// "Never Show …" adds in the main window appears here at once.
#include "prefs/KLExclusionLists.h"

#include <QAbstractListModel>
#include <QWidget>

class Defaults;
class QLabel;
class QPushButton;
class QTableView;

class KLExclusionModel : public QAbstractListModel
{
    Q_OBJECT
public:
    KLExclusionModel(KLExclusionList list, Defaults &defaults, QObject *parent = nullptr);

    KLExclusionList list() const { return m_list; }
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // The local paths of a drag's file URLs (other URLs are not files and count for nothing).
    static QStringList droppedPaths(const QMimeData *data);

private:
    KLExclusionList m_list;
    Defaults &m_defaults;
    QStringList m_rows; // the setting as last read; refreshed when it changes
};

class KLExclusionPane : public QWidget
{
    Q_OBJECT
public:
    KLExclusionPane(KLExclusionList list, Defaults &defaults, QWidget *parent = nullptr);

    QTableView *table() const { return m_table; }
    KLExclusionModel *model() const { return m_model; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *removeButton() const { return m_remove; }

    // The Remove button and the Delete key: the selected rows leave the list.
    void removeSelected();
    // The Add button: a file chooser for the folder, extension and item lists; a new fragment
    // row, opened for editing, for the fragments list.
    void addEntries();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KLExclusionList m_list;
    Defaults &m_defaults;
    KLExclusionModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_remove = nullptr;
};
