#pragma once
// The context menus of the two panes (recent files and Cooler) and what their entries do.
//
// A pane builds its menus through one KLPaneMenuBuilder and answers the entries through the
// KLPaneMenuActions interface. The interface does the pane-independent work itself (open,
// reveal, information window, rename sheet, find a missing file, never-show lists, managed
// marks, filing, open with); the pane supplies the parts that touch its own list (remove,
// trash), the tag editor, the preferences window and the window that sheets attach to.
//
// Each entry carries its represented object as QAction::data():
//   list of items   QVariant::fromValue(QList<KLItemPtr>)   open, rename, tags, remove, trash …
//   one item        QVariant::fromValue(KLItemPtr)          "DPResolveAlias"
//   a path          QString                                 path submenu, never-show entries
//   paths           QStringList                             managed marks, filing
//   a record        QVariantMap {"path"[, "app"]}           "Open With…" entries
// and its action's name as QObject::objectName() ("openExternallyAction", …).
#include "recent/KLItem.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <functional>
#include <memory>

#include "fileops/gui/XPOpenWithMenu.h"

class KLFilePickerMenu;
struct KLServices;
class QAction;
class QWidget;

enum class KLPaneKind { Recent, Cooler };

// What the managed and filing entries of a menu show: whether every item carries the managed
// mark and whether filed documents are in use. Read from the disk, on a pool thread.
struct KLManageFacts {
    bool allManaged = false;
    bool usesFiling = false;
};

class KLPaneMenuActions : public XPOpenWithTarget
{
public:
    ~KLPaneMenuActions() override = default;

    // --- supplied by the pane ---
    // Takes the items out of the pane; with moveToTrash, after the trash confirmation, also
    // trashes their files (imageBrowser:removeKLItems:moveToTrash:).
    virtual void removeKLItems(const QList<KLItemPtr> &items, bool moveToTrash) = 0;
    // The tag editor for these paths.
    virtual void editTagsForFilePaths(const QStringList &paths) = 0;
    // The preferences window on its unwanted-folders page / on its first page.
    virtual void editUnwantedDirectoriesAction() = 0;
    virtual void preferencesAction() = 0;
    // Whether a preferences window exists to open: without one the menus offer no entry for it
    // ("Preferences…", "Edit Hidden Folders…"), rather than entries that do nothing.
    virtual bool hasPreferencesWindow() const = 0;
    // The grid: sheets (rename, open panel) attach to its window; "Move To" shows over it.
    virtual QWidget *enclosingView() const = 0;
    // The grid's current selection (for the menu-bar commands).
    virtual QStringList selectedItemPaths() const = 0;
    // The program's services: the messages about failed commands, the beep of a refused
    // "Move To". The base answers KLServices::defaults().
    virtual const KLServices &services() const;

    // --- pane-independent, overridable ---
    virtual bool fileIsUnderRoot(const QString &path) const;
    virtual bool pathsAreAllManaged(const QStringList &paths) const;
    virtual bool usesFiledDocuments() const;
    // What reads the facts of the managed and filing entries for these paths. The answer runs
    // on a pool thread while the menu is already up, so it must not touch the pane. The default
    // reads the marks and the filing settings (XPFiledDocuments).
    virtual std::function<KLManageFacts()> manageFactsReader(const QStringList &paths) const;

    virtual void openExternallyAction(const QList<KLItemPtr> &items);
    // A path string, or a list of items.
    virtual void revealFolderInFinderAction(const QVariant &object);
    virtual void getInfoInFinderAction(const QList<KLItemPtr> &items);
    virtual void editTagsAction(const QList<KLItemPtr> &items);
    // The rename sheet for the last item's path.
    virtual void renameAction(const QList<KLItemPtr> &items);
    virtual void removeFromKelsoAction(const QList<KLItemPtr> &items) { removeKLItems(items, false); }
    virtual void moveToTrashAction(const QList<KLItemPtr> &items) { removeKLItems(items, true); }
    virtual void resolveAliasAction(const KLItemPtr &item);
    // Never-show entries: only a string object is taken.
    virtual void addUnwantedDirectoryMenuItemAction(const QVariant &object);
    virtual void addUnwantedExtensionMenuItemAction(const QVariant &object);
    virtual void addUnwantedItemMenuItemAction(const QVariant &object);
    virtual void setSelectionsManaged(const QStringList &paths, bool managed);
    virtual void setSelectionsFiledDocs(const QStringList &paths);
    void openSelectedWithAppAction(const QVariantMap &record) override;
    void openSelectedWithOtherAction(const QVariantMap &record) override;
};

class KLPaneMenuBuilder : public QObject
{
    Q_OBJECT
public:
    // The action of an entry made by menuItemForPath().
    enum PathAction { RevealFolderInFinder, AddUnwantedDirectory };

    // More items than this get no managed, filing and "Move To" entries.
    static constexpr int kManageAndFileLimit = 1000;

    KLPaneMenuBuilder(KLPaneKind kind, KLPaneMenuActions *actions, QObject *parent = nullptr);
    ~KLPaneMenuBuilder() override;

    KLPaneKind kind() const { return m_kind; }

    // The menu for a right-click: menuForItem() for one selected item, else
    // menuForMultipleItems(). The caller owns the menu (popup(), then deleteLater()).
    QMenu *contextMenuForItems(const QList<KLItemPtr> &selected, QWidget *parent = nullptr);
    QMenu *menuForItem(const KLItemPtr &item, QWidget *parent = nullptr);
    QMenu *menuForMultipleItems(const QList<KLItemPtr> &items, QWidget *parent = nullptr);

    // An entry for a path: its display name, a 16 × 16 icon, the expanded path as data.
    QAction *menuItemForPath(const QString &path, int indentationLevel, PathAction action, QMenu *menu);
    // The managed entry, the filing entry and "Move To". The first two are disabled until the
    // facts behind them are read on a pool thread; then the managed entry offers the opposite
    // of the items' marks and the filing entry goes when no item is a file or filing is not in
    // use (manageEntriesAreSettled() then answers true for the menu).
    void addManageAndFileItems(const QList<KLItemPtr> &items, QMenu *menu);
    static bool manageEntriesAreSettled(const QMenu *menu);
    // A separator and "DPMenuItemPreferences", so the preferences stay reachable without a
    // menu bar (nothing when there is no preferences window).
    void addMenuItemsForMissingMainMenu(QMenu *menu);

    // The submenus of the last menu built (replaced by each new menu; owned by it).
    QMenu *currentPathMenu() const { return m_currentPathMenu; }
    QMenu *moveToPathMenu() const { return m_moveToPathMenu; }
    QMenu *neverShowFolderMenu() const { return m_neverShowFolderMenu; }
    KLFilePickerMenu *moveToPathBuilder() const { return m_moveToPathBuilder.get(); }

private:
    QMenu *baseMenuForItem(const KLItemPtr &item, QWidget *parent, bool *exists);
    QMenu *baseMenuForMultipleItems(const QList<KLItemPtr> &items, QWidget *parent);
    void appendRecentExtensions(const KLItemPtr &item, const QString &path, QMenu *menu);
    QAction *addEntry(QMenu *menu, const QString &title, const char *actionName, const QVariant &data);

    KLPaneKind m_kind;
    KLPaneMenuActions *m_actions;
    QPointer<QMenu> m_currentPathMenu;
    QPointer<QMenu> m_moveToPathMenu;
    QPointer<QMenu> m_neverShowFolderMenu;
    std::unique_ptr<KLFilePickerMenu> m_moveToPathBuilder;
};

// The menu-bar and status-menu commands that act on the selection of the active pane, with
// their validation (enabled state and title, refreshed each time a menu holding them opens).
class KLSelectionActions : public QObject
{
    Q_OBJECT
public:
    enum Command {
        OpenSelectedExternally,
        RevealSelectedInFinder,
        RenameSelected,
        ToggleManagedForSelected,
        MoveToFiledDocumentsForSelected,
        GetInfoForSelectedInFinder,
        AddUnwantedSelectedExtension,
        AddUnwantedSelectedItem,
        EditSelectedTags,
    };
    static constexpr int kCommandCount = 9;

    // `activePane` answers the pane whose selection the commands act on (none: all disabled).
    explicit KLSelectionActions(std::function<KLPaneMenuActions *()> activePane, QObject *parent = nullptr);

    QAction *action(Command command) const { return m_actions[command]; }
    // Appends every command to the menu and validates them whenever it is about to show.
    void addToMenu(QMenu *menu);
    // Enables and titles every command for the current selection.
    void validateAll();
    // validateMenuItem: answers whether the entry is enabled (and sets its title).
    bool validateMenuItem(QAction *action);
    void perform(Command command);

private:
    std::function<KLPaneMenuActions *()> m_activePane;
    QAction *m_actions[kCommandCount] = {};
};
