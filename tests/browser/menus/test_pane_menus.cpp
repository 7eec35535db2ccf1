// The panes' context menus and the menu-bar selection commands, built for prepared items.
#include "browser/menus/KLPaneMenus.h"
#include "fileops/gui/XPOpenWithMenu.h"
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "search/gui/KLFilePickerMenu.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

class FakePane : public KLPaneMenuActions
{
public:
    void removeKLItems(const QList<KLItemPtr> &items, bool trash) override
    {
        removed = items;
        trashed = trash;
    }
    void editTagsForFilePaths(const QStringList &paths) override { tagged = paths; }
    void editUnwantedDirectoriesAction() override { ++editUnwanted; }
    void preferencesAction() override { ++prefs; }
    bool hasPreferencesWindow() const override { return prefsWindow; }
    QWidget *enclosingView() const override { return view.get(); }
    QStringList selectedItemPaths() const override { return selection; }
    bool pathsAreAllManaged(const QStringList &paths) const override
    {
        askedManaged = int(paths.size());
        return allManaged;
    }
    bool usesFiledDocuments() const override { return filing; }
    std::function<KLManageFacts()> manageFactsReader(const QStringList &paths) const override
    {
        askedManaged = int(paths.size());
        return [all = allManaged, uses = filing, thread = factsThread] {
            if (thread)
                *thread = QThread::currentThread();
            return KLManageFacts{all, uses};
        };
    }
    void setSelectionsManaged(const QStringList &paths, bool managed) override
    {
        managedPaths = paths;
        managedValue = managed;
    }

    std::unique_ptr<QWidget> view = std::make_unique<QWidget>();
    QList<KLItemPtr> removed;
    bool trashed = false;
    QStringList tagged;
    int editUnwanted = 0, prefs = 0;
    bool prefsWindow = true;
    QStringList selection;
    bool allManaged = false, filing = true;
    mutable int askedManaged = -1;
    // Where the facts of the managed and filing entries were read (when set).
    std::shared_ptr<std::atomic<QThread *>> factsThread;
    QStringList managedPaths;
    bool managedValue = false;
};

// "title|objectName" per entry, "-" for separators, "title>" for submenus.
QStringList layout(const QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions()) {
        if (a->isSeparator())
            out.append("-");
        else if (a->menu())
            out.append(a->text() + ">");
        else
            out.append(a->text() + "|" + a->objectName());
    }
    return out;
}

// The managed and filing entries are settled once their facts come from the pool thread.
bool settled(const QMenu *menu)
{
    return KelsoTest::waitFor([menu] { return KLPaneMenuBuilder::manageEntriesAreSettled(menu); });
}

QAction *find(const QMenu *menu, const QString &objectName)
{
    for (QAction *a : menu->actions())
        if (a->objectName() == objectName)
            return a;
    return nullptr;
}

QList<KLItemPtr> itemsOf(const QAction *a)
{
    return a ? a->data().value<QList<KLItemPtr>>() : QList<KLItemPtr>();
}

class PaneMenus : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { KLSettings::setupDefaults(Defaults::standard()); }
    QString docs() const { return KelsoTest::home() + "/Documents/work"; }
    KLItemPtr existing(const QString &name)
    {
        KelsoTest::writeFile(docs() + "/" + name);
        return KLItem::create(docs() + "/" + name);
    }
    FakePane pane;
};

} // namespace

TEST_F(PaneMenus, RecentSingleItemMenuHasEveryEntryInOrder)
{
    const KLItemPtr x = existing("report.pdf");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(x));
    ASSERT_TRUE(settled(menu.get()));
    EXPECT_EQ(layout(menu.get()), (QStringList{"Open With>",
                                               "Open|openExternallyAction",
                                               "Rename…|renameAction",
                                               "Edit Tags…|editTagsAction",
                                               "Enclosing Folders>",
                                               "Show in File Manager|revealFolderInFinderAction",
                                               "Properties|getInfoInFinderAction",
                                               "-",
                                               "Mark as Managed|setSelectionsManaged",
                                               "Move to Filed Documents|setSelectionsFiledDocs",
                                               "Move To>",
                                               "-",
                                               "Never Show “.pdf” Files|addUnwantedExtensionMenuItemAction",
                                               "Never Show “report.pdf”|addUnwantedItemMenuItemAction",
                                               "Never Show Folder>",
                                               "-",
                                               "Remove from Kelso|removeFromKelsoAction",
                                               "Move to Trash|moveToTrashAction",
                                               "-",
                                               "Preferences…|preferencesAction"}));
    for (QAction *a : menu->actions())
        EXPECT_TRUE(a->isEnabled()) << qPrintable(a->text());

    // Represented objects.
    for (const char *name : {"openExternallyAction", "renameAction", "editTagsAction", "revealFolderInFinderAction",
                             "getInfoInFinderAction", "removeFromKelsoAction", "moveToTrashAction"}) {
        const QList<KLItemPtr> items = itemsOf(find(menu.get(), name));
        ASSERT_EQ(items.size(), 1) << name;
        EXPECT_EQ(items.first(), x) << name;
    }
    const QString path = docs() + "/report.pdf";
    EXPECT_EQ(find(menu.get(), "addUnwantedExtensionMenuItemAction")->data().toString(), path);
    EXPECT_EQ(find(menu.get(), "addUnwantedItemMenuItemAction")->data().toString(), path);
    EXPECT_EQ(find(menu.get(), "setSelectionsManaged")->data().toStringList(), QStringList{path});

    // The enclosing-folders submenu: the item, then each folder up to (not including) "/".
    QStringList expected;
    for (QString p = path; p != "/"; p = QFileInfo(p).absolutePath())
        expected.append(p);
    QStringList got;
    for (QAction *a : builder.currentPathMenu()->actions()) {
        EXPECT_EQ(a->objectName(), "revealFolderInFinderAction");
        EXPECT_EQ(a->text(), QFileInfo(a->data().toString()).fileName());
        got.append(a->data().toString());
    }
    EXPECT_EQ(got, expected);

    // The never-show folder submenu: each enclosing folder, then the edit entry.
    const QList<QAction *> never = builder.neverShowFolderMenu()->actions();
    ASSERT_EQ(never.size(), expected.size() - 1 + 2);
    EXPECT_EQ(never.first()->data().toString(), docs());
    EXPECT_EQ(never.first()->objectName(), "addUnwantedDirectoryMenuItemAction");
    EXPECT_TRUE(never.at(never.size() - 2)->isSeparator());
    EXPECT_EQ(never.last()->objectName(), "editUnwantedDirectoriesAction");

    // The open-with submenu always ends with "Other…" for the document.
    QMenu *openWith = menu->actions().first()->menu();
    ASSERT_NE(openWith, nullptr);
    ASSERT_TRUE(KelsoTest::waitFor([openWith] { return XPFileUtils::openWithMenuIsReady(openWith); }));
    EXPECT_EQ(openWith->actions().last()->text(), "Other…");
    EXPECT_EQ(openWith->actions().last()->data().toMap().value("path").toString(), path);

    // "Move To" is driven by a folder picker that moves this file.
    ASSERT_NE(builder.moveToPathBuilder(), nullptr);
    EXPECT_TRUE(builder.moveToPathBuilder()->foldersOnly());
    EXPECT_FALSE(builder.moveToPathBuilder()->showEverywhereItem());
    EXPECT_EQ(builder.moveToPathBuilder()->menuSelector(), KLFilePickerMenu::MoveToPath);
    EXPECT_EQ(builder.moveToPathBuilder()->filesToMove(), QStringList{path});
    EXPECT_EQ(builder.moveToPathMenu()->title(), "Move To");
}

TEST_F(PaneMenus, EntriesReachThePaneWithTheirObjects)
{
    const KLItemPtr x = existing("notes.txt");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(x));
    ASSERT_TRUE(settled(menu.get()));
    find(menu.get(), "moveToTrashAction")->trigger();
    EXPECT_TRUE(pane.trashed);
    ASSERT_EQ(pane.removed.size(), 1);
    EXPECT_EQ(pane.removed.first(), x);
    find(menu.get(), "removeFromKelsoAction")->trigger();
    EXPECT_FALSE(pane.trashed);
    find(menu.get(), "editTagsAction")->trigger();
    EXPECT_EQ(pane.tagged, QStringList{docs() + "/notes.txt"});
    find(menu.get(), "setSelectionsManaged")->trigger();
    EXPECT_EQ(pane.managedPaths, QStringList{docs() + "/notes.txt"});
    EXPECT_TRUE(pane.managedValue);
    find(menu.get(), "preferencesAction")->trigger();
    builder.neverShowFolderMenu()->actions().last()->trigger();
    EXPECT_EQ(pane.prefs, 1);
    EXPECT_EQ(pane.editUnwanted, 1);
}

TEST_F(PaneMenus, NeverShowEntriesWriteTheExclusionSettings)
{
    Defaults &d = Defaults::standard();
    const KLItemPtr x = existing("report.pdf");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(x));
    find(menu.get(), "addUnwantedExtensionMenuItemAction")->trigger();
    EXPECT_TRUE(d.stringArrayForKey("unwantedExtensions").contains("pdf"));
    find(menu.get(), "addUnwantedItemMenuItemAction")->trigger();
    EXPECT_TRUE(d.stringArrayForKey("unwantedItems").contains(docs() + "/report.pdf"));
    builder.neverShowFolderMenu()->actions().first()->trigger();
    EXPECT_TRUE(d.stringArrayForKey("unwantedDirectories").contains("~/Documents/work"));
}

TEST_F(PaneMenus, AMissingFileOffersOnlyResolve)
{
    const KLItemPtr gone = KLItem::create(docs() + "/vanished.pdf");
    for (KLPaneKind kind : {KLPaneKind::Recent, KLPaneKind::Cooler}) {
        KLPaneMenuBuilder builder(kind, &pane);
        std::unique_ptr<QMenu> menu(builder.menuForItem(gone));
        EXPECT_EQ(layout(menu.get()), QStringList{"Find Missing File…|resolveAliasAction"});
        EXPECT_EQ(menu->actions().first()->data().value<KLItemPtr>(), gone);
        // The same through the right-click entry point with one selected item.
        std::unique_ptr<QMenu> context(builder.contextMenuForItems({gone}));
        EXPECT_EQ(context->actions().size(), 1);
    }
}

TEST_F(PaneMenus, NoExtensionMeansNoExtensionEntry)
{
    const KLItemPtr x = existing("Makefile");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(x));
    EXPECT_EQ(find(menu.get(), "addUnwantedExtensionMenuItemAction"), nullptr);
    ASSERT_NE(find(menu.get(), "addUnwantedItemMenuItemAction"), nullptr);
    EXPECT_EQ(find(menu.get(), "addUnwantedItemMenuItemAction")->text(), "Never Show “Makefile”");
}

TEST_F(PaneMenus, AnItemDirectlyUnderRootHasOnlyTheEditEntryInItsFolderSubmenu)
{
    const KLItemPtr top = KLItem::create("/etc");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(top));
    ASSERT_NE(builder.neverShowFolderMenu(), nullptr);
    EXPECT_EQ(layout(builder.neverShowFolderMenu()), QStringList{"Edit Hidden Folders…|editUnwantedDirectoriesAction"});
    // Its own path is the only enclosing-folders entry.
    ASSERT_EQ(builder.currentPathMenu()->actions().size(), 1);
    EXPECT_EQ(builder.currentPathMenu()->actions().first()->data().toString(), "/etc");
}

TEST_F(PaneMenus, TheCoolerAddsRemoveAndTrashButNoNeverShowEntries)
{
    const KLItemPtr x = existing("report.pdf");
    KLPaneMenuBuilder builder(KLPaneKind::Cooler, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(x));
    const QStringList l = layout(menu.get());
    EXPECT_EQ(l.mid(l.size() - 3),
              (QStringList{"-", "Remove from Cooler|removeFromKelsoAction", "Move to Trash|moveToTrashAction"}));
    for (const QString &entry : l) {
        EXPECT_FALSE(entry.contains("addUnwanted")) << qPrintable(entry);
        EXPECT_FALSE(entry.contains("preferencesAction")) << qPrintable(entry);
        EXPECT_NE(entry, "Never Show Folder>");
    }
    EXPECT_EQ(builder.neverShowFolderMenu(), nullptr);
}

TEST_F(PaneMenus, SeveralItemMenusCarryTheWholeList)
{
    const QList<KLItemPtr> items{existing("a.txt"), existing("b.txt"), KLItem::create(docs() + "/gone.txt")};
    KLPaneMenuBuilder recent(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(recent.contextMenuForItems(items));
    ASSERT_TRUE(settled(menu.get()));
    EXPECT_EQ(layout(menu.get()),
              (QStringList{"Open All Items|openExternallyAction", "Edit Common Tags…|editTagsAction",
                           "Show in File Manager|revealFolderInFinderAction", "Properties|getInfoInFinderAction", "-",
                           "Mark as Managed|setSelectionsManaged", "Move to Filed Documents|setSelectionsFiledDocs",
                           "Move To>", "-", "Remove All Items from Kelso|removeFromKelsoAction",
                           "Move All Items to Trash|moveToTrashAction", "-", "Preferences…|preferencesAction"}));
    for (QAction *a : menu->actions()) {
        if (!a->isSeparator() && !a->menu() && a->objectName() != "preferencesAction" &&
            !a->objectName().startsWith("setSelections")) {
            EXPECT_EQ(itemsOf(a), items) << qPrintable(a->text());
        }
    }
    EXPECT_EQ(find(menu.get(), "setSelectionsManaged")->data().toStringList().size(), 3);

    KLPaneMenuBuilder cooler(KLPaneKind::Cooler, &pane);
    std::unique_ptr<QMenu> cmenu(cooler.menuForMultipleItems(items));
    const QStringList l = layout(cmenu.get());
    EXPECT_EQ(l.mid(l.size() - 3), (QStringList{"-", "Remove All Items from Cooler|removeFromKelsoAction",
                                                "Move All Items to Trash|moveToTrashAction"}));
}

TEST_F(PaneMenus, ManagedAndFilingEntriesFollowStateAndLimits)
{
    KLPaneMenuBuilder builder(KLPaneKind::Cooler, &pane);
    // All managed: the entry offers the opposite.
    pane.allManaged = true;
    {
        QMenu menu;
        builder.addManageAndFileItems({existing("m.txt")}, &menu);
        ASSERT_TRUE(settled(&menu));
        EXPECT_EQ(layout(&menu), (QStringList{"-", "Mark as Not Managed|setSelectionsNotManaged",
                                              "Move to Filed Documents|setSelectionsFiledDocs", "Move To>"}));
        menu.actions().at(1)->trigger();
        EXPECT_FALSE(pane.managedValue);
    }
    // Already in the filed-documents folder, or filing not in use: no filing entry.
    pane.allManaged = false;
    {
        QMenu menu;
        KelsoTest::writeFile(KelsoTest::home() + "/Documents/Filed Documents/2026/x.txt");
        builder.addManageAndFileItems({KLItem::create(KelsoTest::home() + "/Documents/Filed Documents/2026/x.txt")},
                                      &menu);
        ASSERT_TRUE(settled(&menu));
        EXPECT_EQ(find(&menu, "setSelectionsFiledDocs"), nullptr);
        pane.filing = false;
        QMenu other;
        builder.addManageAndFileItems({existing("y.txt")}, &other);
        ASSERT_TRUE(settled(&other));
        EXPECT_EQ(find(&other, "setSelectionsFiledDocs"), nullptr);
        EXPECT_NE(find(&other, "setSelectionsManaged"), nullptr);
    }
    // 1,000 items get the entries; 1,001 get none and their marks are not even read.
    QList<KLItemPtr> many;
    for (int i = 0; i < 1001; ++i)
        many.append(KLItem::create(QStringLiteral("/nowhere/file-%1.txt").arg(i)));
    {
        QMenu menu;
        pane.askedManaged = -1;
        builder.addManageAndFileItems(many.mid(0, 1000), &menu);
        EXPECT_NE(find(&menu, "setSelectionsManaged"), nullptr);
        EXPECT_EQ(pane.askedManaged, 1000);
    }
    {
        QMenu menu;
        pane.askedManaged = -1;
        builder.addManageAndFileItems(many, &menu);
        EXPECT_TRUE(menu.actions().isEmpty());
        EXPECT_EQ(pane.askedManaged, -1);
        builder.addManageAndFileItems({}, &menu);
        EXPECT_TRUE(menu.actions().isEmpty());
    }
}

TEST_F(PaneMenus, TheManagedAndFilingEntriesWaitForFactsReadOnAPoolThread)
{
    pane.allManaged = true;
    pane.factsThread = std::make_shared<std::atomic<QThread *>>(nullptr);
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(existing("later.txt")));
    // Back at once: nothing was read on this thread, so the entries cannot say yet which way
    // they go, and are disabled.
    EXPECT_FALSE(KLPaneMenuBuilder::manageEntriesAreSettled(menu.get()));
    ASSERT_NE(find(menu.get(), "setSelectionsManaged"), nullptr);
    EXPECT_FALSE(find(menu.get(), "setSelectionsManaged")->isEnabled());
    ASSERT_NE(find(menu.get(), "setSelectionsFiledDocs"), nullptr);
    EXPECT_FALSE(find(menu.get(), "setSelectionsFiledDocs")->isEnabled());
    ASSERT_TRUE(settled(menu.get()));
    EXPECT_NE(pane.factsThread->load(), nullptr);
    EXPECT_NE(pane.factsThread->load(), QThread::currentThread());
    QAction *managed = find(menu.get(), "setSelectionsNotManaged");
    ASSERT_NE(managed, nullptr) << qPrintable(layout(menu.get()).join(", "));
    EXPECT_TRUE(managed->isEnabled());
    EXPECT_EQ(managed->text(), "Mark as Not Managed");
    EXPECT_TRUE(find(menu.get(), "setSelectionsFiledDocs")->isEnabled());
    managed->trigger();
    EXPECT_FALSE(pane.managedValue) << "the entry that learnt its way after it was made goes that way";
    EXPECT_EQ(pane.managedPaths, QStringList{docs() + "/later.txt"});
}

TEST_F(PaneMenus, SelectionCommandsAreValidatedAgainstTheSelection)
{
    KLSelectionActions commands([this] { return &pane; });
    QMenu menuBar;
    commands.addToMenu(&menuBar);
    auto enabled = [&](KLSelectionActions::Command c) { return commands.action(c)->isEnabled(); };

    pane.selection = {docs() + "/a.pdf", docs() + "/b.pdf"};
    commands.validateAll();
    EXPECT_FALSE(enabled(KLSelectionActions::RevealSelectedInFinder));
    EXPECT_FALSE(enabled(KLSelectionActions::RenameSelected));
    EXPECT_FALSE(enabled(KLSelectionActions::AddUnwantedSelectedExtension));
    EXPECT_EQ(commands.action(KLSelectionActions::AddUnwantedSelectedExtension)->text(),
              "Never Show Files of This Type");
    for (auto c : {KLSelectionActions::OpenSelectedExternally, KLSelectionActions::AddUnwantedSelectedItem,
                   KLSelectionActions::EditSelectedTags, KLSelectionActions::MoveToFiledDocumentsForSelected,
                   KLSelectionActions::GetInfoForSelectedInFinder, KLSelectionActions::ToggleManagedForSelected})
        EXPECT_TRUE(enabled(c)) << c;

    pane.selection = {docs() + "/a.pdf"};
    pane.allManaged = true;
    commands.validateAll();
    EXPECT_TRUE(enabled(KLSelectionActions::RevealSelectedInFinder));
    EXPECT_TRUE(enabled(KLSelectionActions::RenameSelected));
    EXPECT_TRUE(enabled(KLSelectionActions::AddUnwantedSelectedExtension));
    EXPECT_EQ(commands.action(KLSelectionActions::AddUnwantedSelectedExtension)->text(), "Never Show “.pdf” Files");
    EXPECT_EQ(commands.action(KLSelectionActions::ToggleManagedForSelected)->text(), "Mark as Not Managed");
    commands.action(KLSelectionActions::ToggleManagedForSelected)->trigger();
    EXPECT_FALSE(pane.managedValue);
    commands.action(KLSelectionActions::EditSelectedTags)->trigger();
    EXPECT_EQ(pane.tagged, pane.selection);

    pane.selection = {docs() + "/README"};
    pane.allManaged = false;
    commands.validateAll();
    EXPECT_FALSE(enabled(KLSelectionActions::AddUnwantedSelectedExtension));
    EXPECT_EQ(commands.action(KLSelectionActions::ToggleManagedForSelected)->text(), "Mark as Managed");

    pane.selection.clear();
    commands.validateAll();
    for (int c = 0; c < KLSelectionActions::kCommandCount; ++c)
        EXPECT_FALSE(enabled(KLSelectionActions::Command(c))) << c;

    // An entry that is not one of the commands is left alone and enabled.
    QAction other("Other");
    EXPECT_TRUE(commands.validateMenuItem(&other));
}

TEST_F(PaneMenus, PathEntriesShowTheNameASixteenPointIconAndTheExpandedPath)
{
    if (!QDir("/usr/share/icons/Adwaita").exists())
        GTEST_SKIP() << "no icon theme installed";
    // The offscreen platform knows no icon folders; the desktop platforms list the XDG ones.
    QIcon::setThemeSearchPaths({"/usr/share/icons"});
    QIcon::setThemeName("Adwaita");
    QDir().mkpath(KelsoTest::home() + "/Pictures/Trips");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    QMenu menu;
    QAction *a = builder.menuItemForPath("~/Pictures/Trips", 0, KLPaneMenuBuilder::RevealFolderInFinder, &menu);
    EXPECT_EQ(a->text(), "Trips");
    EXPECT_EQ(a->data().toString(), KelsoTest::home() + "/Pictures/Trips");
    EXPECT_EQ(a->objectName(), "revealFolderInFinderAction");
    ASSERT_FALSE(a->icon().isNull());
    EXPECT_EQ(a->icon().availableSizes(), QList<QSize>{QSize(16, 16)});
    QAction *indented = builder.menuItemForPath("/", 2, KLPaneMenuBuilder::AddUnwantedDirectory, &menu);
    EXPECT_EQ(indented->text(), "        /");
    EXPECT_EQ(indented->property("indentationLevel").toInt(), 2);
    EXPECT_EQ(indented->objectName(), "addUnwantedDirectoryMenuItemAction");
}

TEST_F(PaneMenus, FilingIsNotOfferedForFolders)
{
    const QString folder = docs() + "/Music";
    KelsoTest::writeFile(folder + "/song.ogg");
    const KLItemPtr stack = KLItem::create(folder);
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(stack));
    ASSERT_TRUE(settled(menu.get()));
    EXPECT_EQ(find(menu.get(), "setSelectionsFiledDocs"), nullptr) << qPrintable(layout(menu.get()).join(", "));
    EXPECT_NE(find(menu.get(), "setSelectionsManaged"), nullptr);

    // Folders only: none; a file among them: offered (the file is filed, the folder stays).
    std::unique_ptr<QMenu> folders(builder.menuForMultipleItems({stack, KLItem::create(docs())}));
    ASSERT_TRUE(settled(folders.get()));
    EXPECT_EQ(find(folders.get(), "setSelectionsFiledDocs"), nullptr);
    std::unique_ptr<QMenu> mixed(builder.menuForMultipleItems({stack, existing("memo.txt")}));
    ASSERT_TRUE(settled(mixed.get()));
    EXPECT_NE(find(mixed.get(), "setSelectionsFiledDocs"), nullptr);

    // The menu-bar command follows the same rule.
    KLSelectionActions commands([this] { return &pane; });
    pane.selection = {folder};
    commands.validateAll();
    EXPECT_FALSE(commands.action(KLSelectionActions::MoveToFiledDocumentsForSelected)->isEnabled());
    pane.selection = {folder, docs() + "/memo.txt"};
    commands.validateAll();
    EXPECT_TRUE(commands.action(KLSelectionActions::MoveToFiledDocumentsForSelected)->isEnabled());
}

TEST_F(PaneMenus, WithoutAPreferencesWindowNoEntryLeadsToIt)
{
    pane.prefsWindow = false;
    const KLItemPtr x = existing("plan.odt");
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> menu(builder.menuForItem(x));
    const QStringList l = layout(menu.get());
    EXPECT_FALSE(l.contains("Preferences…|preferencesAction")) << qPrintable(l.join(", "));
    EXPECT_NE(l.last(), "-") << "a separator left at the end";
    ASSERT_NE(builder.neverShowFolderMenu(), nullptr);
    for (QAction *a : builder.neverShowFolderMenu()->actions()) {
        EXPECT_NE(a->objectName(), "editUnwantedDirectoriesAction");
        EXPECT_FALSE(a->isSeparator());
    }
    std::unique_ptr<QMenu> several(builder.menuForMultipleItems({x, existing("b.odt")}));
    EXPECT_EQ(find(several.get(), "preferencesAction"), nullptr);
    EXPECT_NE(layout(several.get()).last(), "-");

    // An item directly under "/" has no enclosing folder to hide: no empty submenu.
    KLPaneMenuBuilder top(KLPaneKind::Recent, &pane);
    std::unique_ptr<QMenu> topMenu(top.menuForItem(KLItem::create("/etc")));
    EXPECT_FALSE(layout(topMenu.get()).contains("Never Show Folder>"));
}

namespace {
// A pane that counts every call a menu entry can make.
class CountingPane : public FakePane
{
public:
    void openExternallyAction(const QList<KLItemPtr> &) override { note("open"); }
    void revealFolderInFinderAction(const QVariant &) override { note("reveal"); }
    void getInfoInFinderAction(const QList<KLItemPtr> &) override { note("info"); }
    void renameAction(const QList<KLItemPtr> &) override { note("rename"); }
    void resolveAliasAction(const KLItemPtr &) override { note("resolve"); }
    void removeKLItems(const QList<KLItemPtr> &, bool trash) override { note(trash ? "trash" : "remove"); }
    void editTagsForFilePaths(const QStringList &) override { note("tags"); }
    void editUnwantedDirectoriesAction() override { note("editUnwanted"); }
    void preferencesAction() override { note("prefs"); }
    void addUnwantedDirectoryMenuItemAction(const QVariant &) override { note("unwantedDir"); }
    void addUnwantedExtensionMenuItemAction(const QVariant &) override { note("unwantedExt"); }
    void addUnwantedItemMenuItemAction(const QVariant &) override { note("unwantedItem"); }
    void setSelectionsManaged(const QStringList &, bool) override { note("managed"); }
    void setSelectionsFiledDocs(const QStringList &) override { note("filed"); }
    void openSelectedWithAppAction(const QVariantMap &) override { note("openWith"); }
    void openSelectedWithOtherAction(const QVariantMap &) override { note("openWithOther"); }
    void note(const char *what) { calls.append(QString::fromLatin1(what)); }
    QStringList calls;
};

// Triggers every entry of the menu and its submenus (filled as when they open) and answers
// the entries after which the pane heard nothing.
QStringList silentEntries(QMenu *menu, CountingPane &pane, const QString &prefix = QString())
{
    QStringList silent;
    Q_EMIT menu->aboutToShow();
    // Entries filled from a pool thread are walked once they are there.
    if (menu->property("klManageEntriesSettled").isValid()) {
        EXPECT_TRUE(settled(menu));
    }
    if (menu->property("klOpenWithReady").isValid()) {
        EXPECT_TRUE(KelsoTest::waitFor([menu] { return XPFileUtils::openWithMenuIsReady(menu); }));
    }
    for (QAction *a : menu->actions()) {
        if (a->isSeparator())
            continue;
        const QString name = prefix + a->text();
        if (a->menu()) {
            // "Move To" lists folders; its moving is tested with the picker itself.
            if (a->menu()->title() == "Move To") {
                Q_EMIT a->menu()->aboutToShow();
                if (a->menu()->actions().isEmpty())
                    silent.append(name + " (empty)");
                continue;
            }
            silent += silentEntries(a->menu(), pane, name + " › ");
            continue;
        }
        const qsizetype before = pane.calls.size();
        a->trigger();
        if (pane.calls.size() != before + 1)
            silent.append(name);
    }
    return silent;
}
} // namespace

TEST_F(PaneMenus, EveryEntryOfEveryMenuDoesSomething)
{
    for (bool prefsWindow : {true, false}) {
        for (KLPaneKind kind : {KLPaneKind::Recent, KLPaneKind::Cooler}) {
            CountingPane counting;
            counting.prefsWindow = prefsWindow;
            KLPaneMenuBuilder builder(kind, &counting);
            // Each menu is walked as soon as it is built: a new menu replaces the submenus'
            // builders of the one before, as a new right-click does.
            const QList<std::function<QMenu *()>> makers{
                [&] { return builder.menuForItem(existing("plan.odt")); },
                [&] { return builder.menuForItem(KLItem::create(docs())); },
                [&] { return builder.menuForItem(KLItem::create(docs() + "/gone.odt")); },
                [&] {
                    return builder.menuForMultipleItems({existing("a.txt"), existing("b.txt")});
                },
            };
            for (const auto &make : makers) {
                std::unique_ptr<QMenu> menu(make());
                ASSERT_FALSE(menu->actions().isEmpty());
                EXPECT_EQ(silentEntries(menu.get(), counting), QStringList())
                    << "prefs window " << prefsWindow << ", menu: " << qPrintable(layout(menu.get()).join(", "));
            }
        }
    }
}
