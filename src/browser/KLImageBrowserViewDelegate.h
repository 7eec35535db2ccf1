#pragma once
// KLImageBrowserViewDelegate: the controller behind one thumbnail grid of the main window
// (base of the recent-files pane and the Cooler pane).
//
// It owns the ordered item list (at most 100, no duplicates; index 0 is the top-left cell),
// answers the grid's data questions, keeps the selection, opens/reveals/trashes items and
// publishes the item count for the window's labels. The grid shows a snapshot of the list
// taken at each reload; reloads are coalesced (reloadBrowserSoon: one pending, 0.33 s).
// Main thread only.
#include "browser/KLServices.h"
#include "browser/menus/KLPaneMenus.h"
#include "recent/KLItem.h"

#include <QDateTime>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <functional>

class KLImageBrowserModel;
class KLImageBrowserView;
class KLPaneMenuBuilder;
class KLMainWindowController;
class QMimeData;
class QTimer;

// The pane is also the target of its context menus (KLPaneMenuActions): the menus do the
// pane-independent work themselves and call back here for the list, the tag editor and the
// window their sheets attach to.
class KLImageBrowserViewDelegate : public QObject, public KLPaneMenuActions
{
    Q_OBJECT
public:
    explicit KLImageBrowserViewDelegate(QObject *parent = nullptr);
    ~KLImageBrowserViewDelegate() override;

    // The grid this pane drives (the pane becomes its data source).
    void setImageBrowser(KLImageBrowserView *view);
    KLImageBrowserView *imageBrowser() const;
    KLImageBrowserModel *model() const { return m_model; }
    void setMainWindowController(KLMainWindowController *controller);
    KLMainWindowController *mainWindowController() const;
    // The program's services (questions, messages, the tag editor, the preferences window);
    // kept as a pointer, and passed on to the pane's menus. None: KLServices::defaults().
    // The grid shows a busy pointer while the services' file jobs run.
    void setServices(const KLServices *services);
    const KLServices &services() const override;

    // Data source.
    int numberOfItems() const { return int(_itemsArray.size()); }
    KLItemPtr itemAtIndex(int index) const;
    const QList<KLItemPtr> &items() const { return _itemsArray; }

    // List and selection.
    virtual void addItem(const KLItemPtr &item, int index);
    void addPath(const QString &path, int index);
    void addPaths(const QStringList &paths, int index);
    // addPaths with items already made (made off the main thread, where their files are looked at).
    void addItems(const QList<KLItemPtr> &items, int index);
    int indexForPath(const QString &path) const;
    bool hasItemAtPath(const QString &path) const { return indexForPath(path) >= 0; }
    QStringList currentItemPaths() const;
    QStringList pathsForIndexes(const QList<int> &indexes) const;
    QList<KLItemPtr> itemsForIndexes(const QList<int> &indexes) const;
    // What the grid shows: cells are painted from the list as it was at the last reload, which
    // may be up to 0.33 s older than the list. Everything the user aims at a cell (a click, the
    // badge, the menu, the keys, a drag) acts on the item shown there, found again in the list
    // by its path: the item of the list at that path, or the shown one when the list no longer
    // holds it. None for a row the grid does not show.
    KLItemPtr shownItemAtIndex(int row) const;
    QList<KLItemPtr> shownItemsForIndexes(const QList<int> &rows) const;
    // Where the item shown in `row` stands in the list now (-1: gone); a row at or past the
    // last shown one is the end of the list.
    int listIndexForShownRow(int row) const;
    // Selected cells of the grid, ascending.
    QList<int> selectionIndexes() const;
    QStringList selectedItemPaths() const override;
    QList<KLItemPtr> selectedItems() const { return shownItemsForIndexes(selectionIndexes()); }
    bool hasSelection() const { return !selectionIndexes().isEmpty(); }
    void selectPaths(const QStringList &paths);
    // Replaces the selection (indexes outside the grid are ignored).
    void selectIndexes(const QList<int> &indexes, bool scrollToFirst = false);
    void clearSelection();
    bool selectNextDocumentWithOffset(int offset);
    // Qt::Key_Left / Key_Right (and the Back/Forward keys) move by one.
    bool selectNextDocumentWithKey(int key);
    QStringList pathsInFirstRow() const;

    // A deferred reload waits while a gesture is under way in the grid (it would move the cell
    // being clicked or keyed); reloadBrowserNow() is for changes the user's own action made.
    static constexpr int kReloadDelayMs = 330;
    static constexpr int kGestureRetryMs = 100;
    void reloadBrowserNow();
    void reloadBrowserSoon();
    bool reloadPending() const;
    bool gestureInProgress() const;

    // Undo of the last removal from Kelso (never of a trashing). The user's removals note what
    // they take first; undoLastRemoval() puts it back and answers whether there was anything.
    void noteRemovalForUndo(const QList<KLItemPtr> &items);
    virtual bool undoLastRemoval();
    bool canUndoRemoval() const { return !m_lastRemoved.isEmpty(); }
    // Orders removals across the panes: the higher number is the more recent one.
    quint64 lastRemovalSequence() const { return m_removalSequence; }
    void iconMayHaveChanged() { reloadBrowserSoon(); }

    bool hasItems() const { return !_itemsArray.isEmpty(); }
    QString currentNumberOfItemsString() const;

    // Grid events.
    virtual void imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash) = 0;
    // The delete key: trashes only while Super is held; keeps a selection for the user.
    void imageBrowserRemoveItemsAtIndexes(const QList<int> &indexes);
    virtual void imageBrowserCellWasDoubleClickedAtIndex(int index);
    virtual void imageBrowserSelectionDidChange();
    // Drag out: the file URLs of the items shown in these cells (text/uri-list). Answers the
    // number of paths.
    int imageBrowserWriteItemsAtIndexes(const QList<int> &indexes, QMimeData *data) const;
    // Drops onto the grid; the base accepts none.
    virtual bool acceptsDrops() const { return false; }
    virtual void imageBrowserMoveItemsAtIndexes(const QList<int> &, int) {}
    virtual void performDrop(const QStringList &, int) {}

    // A drag out of this pane ended in a move to another program. A Linux file manager takes a
    // drop on its Trash as a move and trashes the files itself, so whether this was a drop on
    // the trash shows only on the disk: each dragged file gone from its place and recorded in
    // a trash (the home trash, or the trash of its own volume) since `dragStarted`. That is
    // looked at off the main thread, again every 150 ms while some file is still in place (the
    // file manager may still be working), at most `timeoutMs`. The items whose files were
    // trashed leave the pane at once through its ordinary removal, without confirmation and
    // without trashing anything again. `done` then gets those items on the main thread (empty:
    // not a drop on the trash); neither happens when the pane is gone by then.
    using TrashDropDone = std::function<void(const QList<KLItemPtr> &trashed)>;
    static constexpr int kTrashDropTimeoutMs = 5000;
    void checkDragOutWentToTrash(const QList<KLItemPtr> &dragged, const QDateTime &dragStarted, TrashDropDone done,
                                 int timeoutMs = kTrashDropTimeoutMs);
    // Items whose files a drop target already put in the trash (paths as they were when the
    // drag began): those items and any other item now in the list at one of these paths leave
    // the pane; nothing is trashed and nothing is asked.
    void removeItemsTrashedByDrop(const QList<KLItemPtr> &dragged, const QStringList &trashedPaths);
    // Trash-drop checks still running (tests).
    int pendingTrashDropChecks() const;

    // Trash confirmation.
    static KLTrashWarning trashWarningFor(const QList<KLItemPtr> &items, bool dontWarnSetting);
    bool warnAboutTrashing(const QList<KLItemPtr> &items);
    // Asks, then moves each item's file to the trash on a worker thread (the services' file
    // jobs); `trashed` then gets, on the GUI thread, the items whose files went there (it is
    // not called when the user cancelled, when one of the items is busy with another
    // operation, or when the pane is gone by then). A file that could not be trashed (a
    // read-only folder, a volume without a trash) stays, so its item must stay too; the user
    // gets one message naming it.
    using TrashDone = std::function<void(const QList<KLItemPtr> &trashed)>;
    void moveItemFilesToTrash(const QList<KLItemPtr> &items, TrashDone trashed);
    // Beeps when an operation is refused because one of its items is busy with another.
    void refuseBusyItems();
    // Tells the user, in one message over the window, which files an operation could not
    // handle (and logs each), through the services' failure presenter.
    void reportFileFailures(const KLFileFailureReport &report);

    // Kelso moved a file (Move To, filing, renaming): the items showing it take the new path.
    virtual void itemMovedByKelso(const QString &oldPath, const QString &newPath);

    // Actions on items (also the menus' targets).
    void openExternally(const QList<KLItemPtr> &items);
    void revealInFinder(const QList<KLItemPtr> &items);
    // Return in the grid: the tag editor for the selected paths (the services' opener).
    void editTags(const QList<KLItemPtr> &items);

    // Which entries the context menus offer (the Cooler overrides).
    virtual KLPaneKind paneKind() const { return KLPaneKind::Recent; }
    // Context menu. The builder is made on first use (the pane kind decides the entries).
    KLPaneMenuBuilder *menuBuilder();
    // A right-click on `index` (or on empty space: -1): a cell that is not selected becomes the
    // only selection, then the menu for the selection pops up at `globalPos`. Answers the menu
    // (deleted when it closes), or none when nothing is selected. The services pop it up.
    QMenu *showContextMenuForIndex(int index, const QPoint &globalPos);
    // The menu for the selected items (owned by the caller); the panes' builder by default.
    virtual QMenu *contextMenuForItems(const QList<KLItemPtr> &selected);

    // KLPaneMenuActions.
    void removeKLItems(const QList<KLItemPtr> &items, bool moveToTrash) override;
    // Files the paths and tells the user about any that could not be filed or marked.
    void setSelectionsFiledDocs(const QStringList &paths) override;
    void editTagsForFilePaths(const QStringList &paths) override;
    void editUnwantedDirectoriesAction() override;
    void preferencesAction() override;
    // Whether the services can open a preferences window: without one the menus offer no
    // preferences entries.
    bool hasPreferencesWindow() const override;
    QWidget *enclosingView() const override;

Q_SIGNALS:
    // hasItems / currentNumberOfItemsString changed.
    void countChanged();

protected:
    QStringList pathsForSelectionInModel() const;
    void announceCountChanged() { Q_EMIT countChanged(); }

    QPointer<KLImageBrowserView> m_imageBrowser;
    QPointer<KLMainWindowController> m_mainWindow;
    KLImageBrowserModel *m_model = nullptr;
    QList<KLItemPtr> _itemsArray;
    QTimer *_reloadTimer = nullptr;
    KLPaneMenuBuilder *m_menus = nullptr;
    const KLServices *m_services = nullptr;
    // The file jobs whose busy state the grid's pointer shows.
    QPointer<QObject> m_watchedJobs;
    void watchFileJobs();
    struct RemovedItem {
        int index;
        KLItemPtr item;
    };
    QList<RemovedItem> m_lastRemoved;
    quint64 m_removalSequence = 0;
};
