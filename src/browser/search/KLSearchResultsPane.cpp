#include "browser/search/KLSearchResultsPane.h"

#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "fileops/gui/XPOpenWithMenu.h"
#include "search/KLSpotlightSearcher.h"
#include "util/Localized.h"
#include "util/Tilde.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <algorithm>
#include <sys/stat.h>

namespace {
bool existsOnDisk(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}
} // namespace

KLSearchResultsPane::KLSearchResultsPane(KLSpotlightSearcher *searcher, QObject *parent)
    : KLImageBrowserViewDelegate(parent), m_searcher(searcher)
{
    model()->setTextProviders(
        [this](const KLItemPtr &item) {
            const KLSearchItemPtr result = searchItemFor(item);
            return result ? result->title() : QString();
        },
        [this](const KLItemPtr &item) {
            const KLSearchItemPtr result = searchItemFor(item);
            return result ? result->subtitle() : QString();
        });
    connect(m_searcher, &KLSpotlightSearcher::resultsChanged, this, &KLSearchResultsPane::resultsChanged);
}

void KLSearchResultsPane::setCoolerDelegate(KLCoolerImageBrowserDelegate *cooler)
{
    m_cooler = cooler;
}

KLSearchItemPtr KLSearchResultsPane::searchItemFor(const KLItemPtr &item) const
{
    if (!item)
        return nullptr;
    for (const KLSearchItemPtr &result : m_searcher->currentResults()) {
        if (result->gridItem() == item)
            return result;
    }
    // A grid snapshot may hold an item the searcher has just replaced: find it by path.
    const QString path = item->lastKnownPath();
    for (const KLSearchItemPtr &result : m_searcher->currentResults()) {
        if (result->path() == path)
            return result;
    }
    return nullptr;
}

QList<KLSearchItemPtr> KLSearchResultsPane::searchItemsFor(const QList<KLItemPtr> &items) const
{
    QList<KLSearchItemPtr> out;
    for (const KLItemPtr &item : items) {
        if (KLSearchItemPtr result = searchItemFor(item))
            out.append(result);
    }
    return out;
}

void KLSearchResultsPane::resultsChanged()
{
    QList<KLItemPtr> items;
    for (const KLSearchItemPtr &result : m_searcher->currentResults()) {
        if (result->gridItem())
            items.append(result->gridItem());
    }
    // The selection follows its files through the new list.
    const QStringList selected = selectedItemPaths();
    _itemsArray = items;
    reloadBrowserNow();
    if (!selected.isEmpty())
        selectPaths(selected);
    announceCountChanged();
}

void KLSearchResultsPane::imageBrowserRemoveKLItems(const QList<KLItemPtr> &, bool) {}

// ---- menus ----------------------------------------------------------------------------------

QAction *KLSearchResultsPane::addEntry(QMenu *menu, const QString &title, const char *name,
                                       const QList<KLItemPtr> &items, std::function<void()> run)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(QVariant::fromValue(items));
    connect(action, &QAction::triggered, menu, [run = std::move(run)] { run(); });
    return action;
}

QMenu *KLSearchResultsPane::contextMenuForItems(const QList<KLItemPtr> &selected)
{
    if (selected.isEmpty())
        return nullptr;
    return selected.size() == 1 ? menuForItem(selected.first()) : menuForMultipleItems(selected);
}

QMenu *KLSearchResultsPane::menuForItem(const KLItemPtr &item)
{
    auto *menu = new QMenu(imageBrowser());
    menu->setAccessibleName(KLLocalized(QStringLiteral("KLSearchResultMenu")));
    m_currentPathMenu = nullptr;
    const KLSearchItemPtr result = searchItemFor(item);
    const QString path = result ? PimsAdditions::stringByExpandingTildeInPathSANDBOX(result->path()) : QString();
    if (!existsOnDisk(path))
        return menu;
    const QList<KLItemPtr> justX = {item};
    const bool underRoot = fileIsUnderRoot(path);
    if (underRoot) {
        QMenu *openWith = XPFileUtils::makeOpenWithMenuForDocument(path, this, menu);
        openWith->setTitle(KLLocalized(QStringLiteral("Open With…")));
        menu->addMenu(openWith)->setObjectName(QStringLiteral("openWithMenu"));
        addEntry(menu, KLLocalized(QStringLiteral("DPOpenExternally")), "openExternallyAction", justX,
                 [this, justX] { openExternallyAction(justX); });
    }
    addEntry(menu, KLLocalized(QStringLiteral("Add To Cooler")), "addToCoolerAction", justX,
             [this, justX] { addToCoolerAction(justX); });
    if (underRoot)
        addEntry(menu, KLLocalized(QStringLiteral("DPEditTagsMenuItem")), "editTagsAction", justX,
                 [this, justX] { editTagsAction(justX); });
    m_currentPathMenu = new QMenu(KLLocalized(QStringLiteral("KLPathMenuItem")), menu);
    for (const QString &p : result->arrayOfPaths(true))
        menuBuilder()->menuItemForPath(p, 0, KLPaneMenuBuilder::RevealFolderInFinder, m_currentPathMenu);
    menu->addMenu(m_currentPathMenu)->setObjectName(QStringLiteral("currentPathMenu"));
    addEntry(menu, KLLocalized(QStringLiteral("DPRevealInFinder")), "revealFolderInFinderAction", justX,
             [this, justX] { revealFolderInFinderAction(QVariant::fromValue(justX)); });
    addEntry(menu, KLLocalized(QStringLiteral("DPGetInfoInFinder")), "getInfoInFinderAction", justX,
             [this, justX] { getInfoInFinderAction(justX); });
    return menu;
}

QMenu *KLSearchResultsPane::menuForMultipleItems(const QList<KLItemPtr> &items)
{
    auto *menu = new QMenu(imageBrowser());
    menu->setAccessibleName(KLLocalized(QStringLiteral("KLSearchResultMenu")));
    m_currentPathMenu = nullptr;
    const bool rootOK = fileIsUnderRoot(QStringLiteral("/"));
    if (rootOK)
        addEntry(menu, KLLocalized(QStringLiteral("Open all items")), "openExternallyAction", items,
                 [this, items] { openExternallyAction(items); });
    addEntry(menu, KLLocalized(QStringLiteral("Add To Cooler")), "addToCoolerAction", items,
             [this, items] { addToCoolerAction(items); });
    if (rootOK)
        addEntry(menu, KLLocalized(QStringLiteral("Edit common tags")), "editTagsAction", items,
                 [this, items] { editTagsAction(items); });
    addEntry(menu, KLLocalized(QStringLiteral("Reveal in Finder")), "revealFolderInFinderAction", items,
             [this, items] { revealFolderInFinderAction(QVariant::fromValue(items)); });
    addEntry(menu, KLLocalized(QStringLiteral("Get Info in Finder")), "getInfoInFinderAction", items,
             [this, items] { getInfoInFinderAction(items); });
    return menu;
}

void KLSearchResultsPane::addToCoolerAction(const QList<KLItemPtr> &items)
{
    if (!m_cooler)
        return;
    // Each at index 0 in turn: the last one ends up first. One add (one question, should the
    // full Cooler have to give up items) with the order that gives.
    QStringList paths;
    for (const KLSearchItemPtr &result : searchItemsFor(items)) {
        if (!result->path().isEmpty() && !paths.contains(result->path()))
            paths.append(result->path());
    }
    std::reverse(paths.begin(), paths.end());
    if (!paths.isEmpty())
        m_cooler->addPathsAskingBeforePushingOut(paths, 0);
}
