#pragma once
// The grid's model: a snapshot of the pane's item list taken at each reload, so that the view
// never sees a list that changed under it between two reloads (the pane's list and the grid
// meet only at reloadBrowserNow).
#include "recent/KLItem.h"

#include <QAbstractListModel>
#include <functional>

class KLImageBrowserModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles { ItemRole = Qt::UserRole + 1, SubtitleRole };
    using QAbstractListModel::QAbstractListModel;

    // Replaces the shown list: a reset when the items differ, else a repaint of every cell.
    void setItems(const QList<KLItemPtr> &items);
    const QList<KLItemPtr> &items() const { return m_items; }
    KLItemPtr itemAt(int row) const { return row >= 0 && row < m_items.size() ? m_items.at(row) : nullptr; }
    // Every cell repaints (thumbnails arrived, titles changed).
    void notifyAllChanged();
    // Where a grid's cells take their title and subtitle from when not from the item itself
    // (search results carry the index's name and their folder line). Empty answers fall back
    // to the item.
    using TextProvider = std::function<QString(const KLItemPtr &item)>;
    void setTextProviders(TextProvider title, TextProvider subtitle);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QString titleOf(const KLItemPtr &item) const;
    QString subtitleOf(const KLItemPtr &item) const;

    QList<KLItemPtr> m_items;
    TextProvider m_titleProvider;
    TextProvider m_subtitleProvider;
};
Q_DECLARE_METATYPE(KLItemPtr)
