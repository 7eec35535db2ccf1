#pragma once
// KLSearchResultsPane: the controller behind the search results grid. Its list is the
// searcher's merged results (their grid items, in order), replaced each time the searcher
// reports; it answers the grid as the panes do (open on double-click when the file lies under
// the root folder, otherwise reveal; Return: the tag editor; drags out) and builds the results'
// own context menus:
//
//   one result (its file exists)      several results
//   Open With…          (root)        Open all items      (root)
//   Open                (root)        Add To Cooler
//   Add To Cooler                     Edit common tags    (root)
//   Edit Tags…          (root)        Reveal in Finder
//   Enclosing folders ▸                Get Info in Finder
//   Show in File Manager
//   Properties
//
// A result whose file is gone gets an empty menu. "Add To Cooler" puts the results at the front
// of the Cooler one by one in their order, so the last one ends up first. Results are never
// removed from Kelso or renamed from here. Main thread only.
#include "browser/KLImageBrowserViewDelegate.h"
#include "search/KLSearchItem.h"

class KLCoolerImageBrowserDelegate;
class KLSpotlightSearcher;

class KLSearchResultsPane : public KLImageBrowserViewDelegate
{
    Q_OBJECT
public:
    KLSearchResultsPane(KLSpotlightSearcher *searcher, QObject *parent = nullptr);

    void setCoolerDelegate(KLCoolerImageBrowserDelegate *cooler);
    KLSpotlightSearcher *searcher() const { return m_searcher; }

    // The result a grid item stands for.
    KLSearchItemPtr searchItemFor(const KLItemPtr &item) const;
    QList<KLSearchItemPtr> searchItemsFor(const QList<KLItemPtr> &items) const;

    // Takes the searcher's current results and reloads the grid.
    void resultsChanged();

    QMenu *contextMenuForItems(const QList<KLItemPtr> &selected) override;
    QMenu *menuForItem(const KLItemPtr &item);
    QMenu *menuForMultipleItems(const QList<KLItemPtr> &items);
    // The submenu of enclosing folders of the last single-result menu.
    QMenu *currentPathMenu() const { return m_currentPathMenu; }

    // Each result's path at index 0 of the Cooler, in order (so in reverse at its front).
    void addToCoolerAction(const QList<KLItemPtr> &items);

    // Results stay where the index puts them.
    void imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash) override;

private:
    QAction *addEntry(QMenu *menu, const QString &title, const char *name, const QList<KLItemPtr> &items,
                      std::function<void()> run);

    KLSpotlightSearcher *m_searcher;
    QPointer<KLCoolerImageBrowserDelegate> m_cooler;
    QPointer<QMenu> m_currentPathMenu;
};
