#pragma once
// The list rules shared by both panes and by the `kelso cooler` tool: insertion with the
// 100-item cap, reordering by drag, and the display names that occur more than once.
// Plain functions on a QList<KLItemPtr>, so that the GUI panes and the store tool apply the
// very same rules.
#include "recent/KLItem.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace KLItemListOps {
// A pane never holds more items than this.
inline constexpr int kMaxItems = 100;

// Index of the first item whose last known path equals `path` exactly, or -1.
int indexForPath(const QList<KLItemPtr> &list, const QString &path);
// Index of the item equal to `item` (equality by path), or -1.
int indexOfItem(const QList<KLItemPtr> &list, const KLItemPtr &item);

// addItem:atIndex: — inserts `item` at `index`, or moves it there when the list already holds
// it (an item moved towards the end lands one place earlier, because its old place is taken
// out first). The 101st item pushes the last one out. Answers whether the list changed.
bool addItem(QList<KLItemPtr> &list, const KLItemPtr &item, int index);

// Of `paths` (each taken once, in order), those that an add at any index can take without
// pushing an item out: every path the list holds already (it only moves) and new ones while
// there is room. The others go to `refused`, in order.
QStringList pathsThatFit(const QList<KLItemPtr> &list, const QStringList &paths, QStringList *refused = nullptr);
// How many items of the list adding `paths` would push out (0 when they all fit).
int pushedOutBy(const QList<KLItemPtr> &list, const QStringList &paths);

// moveItemsAtIndexes:toIndex: — the items at `indexes` end up at `destination` in their
// former relative order. Indexes outside the list are ignored.
void moveItems(QList<KLItemPtr> &list, const QList<int> &indexes, int destination);

// The display names that occur more than once (items without a name are skipped).
QSet<QString> duplicateDisplayNames(const QList<KLItemPtr> &list);
// Gives every item the partial-path title when its name is duplicated, the plain one
// otherwise. Answers whether any item changed.
bool applyDuplicateDisplayNames(const QList<KLItemPtr> &list);
} // namespace KLItemListOps
