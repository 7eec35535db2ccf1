#include "browser/KLImageBrowserModel.h"

#include "browser/KLImageBrowserCellText.h"

void KLImageBrowserModel::setItems(const QList<KLItemPtr> &items)
{
    bool same = items.size() == m_items.size();
    for (int i = 0; same && i < items.size(); ++i)
        same = items.at(i) == m_items.at(i);
    if (same) {
        notifyAllChanged();
        return;
    }
    beginResetModel();
    m_items = items;
    endResetModel();
}

void KLImageBrowserModel::notifyAllChanged()
{
    if (!m_items.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_items.size()) - 1));
}

void KLImageBrowserModel::setTextProviders(TextProvider title, TextProvider subtitle)
{
    m_titleProvider = std::move(title);
    m_subtitleProvider = std::move(subtitle);
    notifyAllChanged();
}

QString KLImageBrowserModel::titleOf(const KLItemPtr &item) const
{
    const QString text = m_titleProvider ? m_titleProvider(item) : QString();
    return text.isEmpty() ? item->imageTitle() : text;
}

QString KLImageBrowserModel::subtitleOf(const KLItemPtr &item) const
{
    const QString text = m_subtitleProvider ? m_subtitleProvider(item) : QString();
    return text.isEmpty() ? item->imageSubtitle() : text;
}

int KLImageBrowserModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant KLImageBrowserModel::data(const QModelIndex &index, int role) const
{
    const KLItemPtr item = itemAt(index.row());
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return titleOf(item);
    case SubtitleRole:
        return subtitleOf(item);
    case ItemRole:
        return QVariant::fromValue(item);
    case Qt::AccessibleTextRole:
        return titleOf(item);
    case Qt::ToolTipRole:
        return KLCellText::toolTip(KLCellText::factsForItem(item));
    case Qt::AccessibleDescriptionRole:
        return KLCellText::accessibleDescription(KLCellText::factsForItem(item));
    default:
        return {};
    }
}

Qt::ItemFlags KLImageBrowserModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}
