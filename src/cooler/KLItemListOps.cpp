#include "cooler/KLItemListOps.h"

#include <algorithm>

namespace KLItemListOps {

int indexForPath(const QList<KLItemPtr> &list, const QString &path)
{
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i) && list.at(i)->lastKnownPath() == path)
            return i;
    }
    return -1;
}

int indexOfItem(const QList<KLItemPtr> &list, const KLItemPtr &item)
{
    if (!item)
        return -1;
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i) && *list.at(i) == *item)
            return i;
    }
    return -1;
}

bool addItem(QList<KLItemPtr> &list, const KLItemPtr &item, int index)
{
    if (!item)
        return false;
    int t = std::clamp(index, 0, int(list.size()));
    const int s = indexOfItem(list, item);
    if (s == t)
        return false;
    if (s >= 0) {
        if (s < t)
            --t;
        if (s == t)
            return false;
        list.removeAt(s);
    }
    list.insert(std::clamp(t, 0, int(list.size())), item);
    while (list.size() > kMaxItems)
        list.removeLast();
    return true;
}

QStringList pathsThatFit(const QList<KLItemPtr> &list, const QStringList &paths, QStringList *refused)
{
    QSet<QString> held;
    for (const KLItemPtr &item : list) {
        if (item)
            held.insert(item->lastKnownPath());
    }
    qsizetype room = std::max<qsizetype>(0, kMaxItems - list.size());
    QStringList fit;
    QSet<QString> seen;
    for (const QString &p : paths) {
        if (seen.contains(p))
            continue;
        seen.insert(p);
        if (held.contains(p)) {
            fit.append(p);
        } else if (room > 0) {
            fit.append(p);
            --room;
        } else if (refused) {
            refused->append(p);
        }
    }
    return fit;
}

int pushedOutBy(const QList<KLItemPtr> &list, const QStringList &paths)
{
    QStringList refused;
    pathsThatFit(list, paths, &refused);
    return int(refused.size());
}

void moveItems(QList<KLItemPtr> &list, const QList<int> &indexes, int destination)
{
    QList<int> sorted;
    for (int i : indexes) {
        if (i >= 0 && i < list.size() && !sorted.contains(i))
            sorted.append(i);
    }
    std::sort(sorted.begin(), sorted.end());
    int d = std::clamp(destination, 0, int(list.size()));
    // Taken out from the highest index down; each one below the destination moves it up.
    QList<KLItemPtr> taken;
    for (int k = int(sorted.size()) - 1; k >= 0; --k) {
        const int i = sorted.at(k);
        if (i < d)
            --d;
        taken.append(list.takeAt(i));
    }
    d = std::clamp(d, 0, int(list.size()));
    // Inserting each at the same place reverses the collected (descending) order back.
    for (const KLItemPtr &item : taken)
        list.insert(d, item);
}

QSet<QString> duplicateDisplayNames(const QList<KLItemPtr> &list)
{
    QSet<QString> seen;
    QSet<QString> duplicates;
    for (const KLItemPtr &item : list) {
        if (!item)
            continue;
        const QString name = item->displayName();
        if (name.isEmpty())
            continue;
        if (seen.contains(name))
            duplicates.insert(name);
        else
            seen.insert(name);
    }
    return duplicates;
}

bool applyDuplicateDisplayNames(const QList<KLItemPtr> &list)
{
    const QSet<QString> duplicates = duplicateDisplayNames(list);
    bool changed = false;
    for (const KLItemPtr &item : list) {
        if (!item)
            continue;
        const bool partial = duplicates.contains(item->displayName());
        if (item->usePartialPathForTitle() != partial) {
            item->setUsePartialPathForTitle(partial);
            changed = true;
        }
    }
    return changed;
}

} // namespace KLItemListOps
