// The panes' context menus as the grids open them (right-click, Menu key, Shift+F10), their
// never-show entry reaching the recent list without a restart, the Cooler's own menu, the
// menu-bar commands following the active pane, the window's file picker and dock-mode menu
// bar, and the tag editor that "Edit Tags…" opens.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "browser/menus/KLPaneMenus.h"
#include "platform/Defaults.h"
#include "search/gui/KLFilePickerMenu.h"
#include "support/MenuSupport.h"
#include "support/TestSupport.h"
#include "tags/Lumitag.h"
#include "tags/editor/XPTagEditorController.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString home()
{
    return KelsoTest::home();
}

QString makeFile(const QString &relative)
{
    const QString p = home() + QLatin1Char('/') + relative;
    KelsoTest::writeFile(p);
    return p;
}

// A collector stand-in that, like the real one, leaves out the never-show extensions it reads
// from the settings each time it is asked.
class RuleSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    int asked = 0;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override
    {
        ++asked;
        const QStringList unwanted = Defaults::standard().stringArrayForKey(QStringLiteral("unwantedExtensions"));
        QList<KLItemPtr> out;
        for (const KLItemPtr &i : top) {
            if (!unwanted.contains(QFileInfo(i->lastKnownPath()).suffix().toLower()))
                out.append(i);
        }
        return out;
    }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}
};

// The menus the panes pop up through these services, caught instead of shown.
struct MenuCatcher {
    explicit MenuCatcher(KLServices &caught) : services(caught)
    {
        services.contextMenuPresenter = [this](QMenu *menu, const QPoint &pos) {
            menus.append(menu);
            positions.append(pos);
        };
    }
    ~MenuCatcher()
    {
        services.contextMenuPresenter = {};
        for (const QPointer<QMenu> &m : menus)
            delete m.data();
    }
    KLServices &services;
    QList<QPointer<QMenu>> menus;
    QList<QPoint> positions;
};

using KelsoTest::findAction;

struct Window {
    explicit Window(const QString &name, bool tray = true)
    {
        auto s = std::make_unique<RuleSource>();
        source = s.get();
        KLMainWindowController::Options options;
        options.trayMode = tray;
        options.recentSource = std::move(s);
        options.coolerStorePath = QStringLiteral("%1/stores/%2.plist").arg(home(), name);
        options.services = &services;
        controller = std::make_unique<KLMainWindowController>(std::move(options));
        controller->window()->resize(900, controller->window()->height());
        controller->window()->show();
    }
    void settle()
    {
        controller->kelsoDelegate()->reloadBrowserNow();
        controller->coolerDelegate()->reloadBrowserNow();
        controller->kelsoBrowser()->doItemsLayout();
        controller->coolerBrowser()->doItemsLayout();
        QApplication::processEvents();
    }
    QPoint cellCentre(KLImageBrowserView *grid, int row) const
    {
        return grid->visualRect(grid->model()->index(row, 0)).center();
    }
    void rightClick(KLImageBrowserView *grid, int row)
    {
        const QPoint pos = cellCentre(grid, row);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, grid->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(grid->viewport(), &event);
    }
    // Handed to the controller, which it outlives.
    KLServices services;
    RuleSource *source = nullptr;
    std::unique_ptr<KLMainWindowController> controller;
};

} // namespace

TEST(PaneMenusWiringTest, RightClickSelectsTheCellAndNeverShowExtensionDropsTheFile)
{
    Defaults::standard().setValue(QStringLiteral("unwantedExtensions"), QStringList{QStringLiteral("tmp")});
    const QString report = makeFile(QStringLiteral("wiring1/report.pdf"));
    const QString notes = makeFile(QStringLiteral("wiring1/notes.txt"));
    const QString slides = makeFile(QStringLiteral("wiring1/slides.pdf"));
    Window w(QStringLiteral("wiring1"));
    w.source->top = {KLItem::create(notes), KLItem::create(report), KLItem::create(slides)};
    KLKelsoImageBrowserDelegate *pane = w.controller->kelsoDelegate();
    pane->updateChangedFiles();
    w.settle();
    ASSERT_EQ(pane->numberOfItems(), 3);
    pane->selectIndexes({0});

    MenuCatcher catcher(w.services);
    // A right-click outside the selection makes that cell the only selection.
    w.rightClick(w.controller->kelsoBrowser(), 1);
    ASSERT_EQ(catcher.menus.size(), 1);
    EXPECT_EQ(pane->selectedItemPaths(), QStringList{report});
    QMenu *menu = catcher.menus.first();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(menu->testAttribute(Qt::WA_DeleteOnClose));
    QAction *never = findAction(menu, QStringLiteral("addUnwantedExtensionMenuItemAction"));
    ASSERT_NE(never, nullptr);
    EXPECT_TRUE(never->text().contains(QStringLiteral(".pdf")));
    EXPECT_EQ(never->data().toString(), report);

    never->trigger();
    // The setting holds the extension once, after the earlier entry, and both PDF files leave
    // the shown list at once (no restart, no periodic refresh).
    EXPECT_EQ(Defaults::standard().stringArrayForKey(QStringLiteral("unwantedExtensions")),
              (QStringList{QStringLiteral("tmp"), QStringLiteral("pdf")}));
    EXPECT_EQ(pane->currentItemPaths(), QStringList{notes});
    ASSERT_TRUE(KelsoTest::waitFor([&] { return pane->model()->rowCount() == 1; }));

    // A right-click on a selected cell keeps a multiple selection and gets the several-item menu.
    const QString more = makeFile(QStringLiteral("wiring1/more.txt"));
    w.source->top.append(KLItem::create(more));
    pane->updateChangedFiles();
    w.settle();
    pane->selectIndexes({0, 1});
    w.rightClick(w.controller->kelsoBrowser(), 1);
    ASSERT_EQ(catcher.menus.size(), 2);
    EXPECT_EQ(pane->selectedItemPaths(), (QStringList{notes, more}));
    ASSERT_TRUE(catcher.menus.last());
    EXPECT_EQ(findAction(catcher.menus.last(), QStringLiteral("addUnwantedExtensionMenuItemAction")), nullptr);
    Defaults::standard().setValue(QStringLiteral("unwantedExtensions"), QStringList{});
}

TEST(PaneMenusWiringTest, KeyboardOpensTheMenuForTheSelectionOnly)
{
    const QString a = makeFile(QStringLiteral("wiring2/a.txt"));
    const QString b = makeFile(QStringLiteral("wiring2/b.txt"));
    Window w(QStringLiteral("wiring2"));
    KLCoolerImageBrowserDelegate *cooler = w.controller->coolerDelegate();
    cooler->addPaths({a, b}, 0);
    w.settle();
    KLImageBrowserView *grid = w.controller->coolerBrowser();
    MenuCatcher catcher(w.services);

    cooler->clearSelection();
    QTest::keyClick(grid, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(catcher.menus.isEmpty()) << "no selection, no menu";

    cooler->selectIndexes({1});
    QTest::keyClick(grid, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_EQ(catcher.menus.size(), 1);
    // Under the selected cell, not wherever the pointer is.
    const QRect cell = grid->visualRect(grid->model()->index(1, 0));
    EXPECT_EQ(catcher.positions.first(), grid->viewport()->mapToGlobal(cell.center()));

    // The Menu key reaches the grid as a keyboard context-menu event.
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(1, 1), grid->viewport()->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(grid->viewport(), &key);
    ASSERT_EQ(catcher.menus.size(), 2);
    EXPECT_EQ(catcher.positions.last(), grid->viewport()->mapToGlobal(cell.center()));

    // F10 alone is not the menu.
    QTest::keyClick(grid, Qt::Key_F10);
    EXPECT_EQ(catcher.menus.size(), 2);
}

TEST(PaneMenusWiringTest, CoolerMenuHasNoNeverShowEntriesAndRemovesFromTheCoolerOnly)
{
    const QString doc = makeFile(QStringLiteral("wiring3/doc.pdf"));
    Window w(QStringLiteral("wiring3"));
    KLCoolerImageBrowserDelegate *cooler = w.controller->coolerDelegate();
    cooler->addPaths({doc}, 0);
    w.settle();
    MenuCatcher catcher(w.services);
    w.rightClick(w.controller->coolerBrowser(), 0);
    ASSERT_EQ(catcher.menus.size(), 1);
    QMenu *menu = catcher.menus.first();
    ASSERT_TRUE(menu);
    EXPECT_EQ(w.controller->coolerDelegate()->menuBuilder()->kind(), KLPaneKind::Cooler);
    EXPECT_EQ(w.controller->kelsoDelegate()->menuBuilder()->kind(), KLPaneKind::Recent);
    EXPECT_EQ(findAction(menu, QStringLiteral("addUnwantedExtensionMenuItemAction")), nullptr);
    EXPECT_EQ(findAction(menu, QStringLiteral("addUnwantedItemMenuItemAction")), nullptr);

    QAction *remove = findAction(menu, QStringLiteral("removeFromKelsoAction"));
    ASSERT_NE(remove, nullptr);
    remove->trigger();
    EXPECT_EQ(cooler->numberOfItems(), 0);
    EXPECT_TRUE(QFileInfo::exists(doc)) << "removing from the Cooler never touches the file";

    // A right-click on empty space opens nothing, even with a selection.
    cooler->addPaths({doc}, 0);
    w.settle();
    cooler->selectIndexes({0});
    const QPoint empty(w.controller->coolerBrowser()->viewport()->width() - 5, 5);
    ASSERT_EQ(w.controller->coolerBrowser()->indexAtPoint(empty), -1);
    QContextMenuEvent event(QContextMenuEvent::Mouse, empty,
                            w.controller->coolerBrowser()->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(w.controller->coolerBrowser()->viewport(), &event);
    EXPECT_EQ(catcher.menus.size(), 1);
}

TEST(PaneMenusWiringTest, MenuBarCommandsFollowTheActivePane)
{
    const QString r = makeFile(QStringLiteral("wiring4/recent.odt"));
    const QString c1 = makeFile(QStringLiteral("wiring4/kept1.txt"));
    const QString c2 = makeFile(QStringLiteral("wiring4/kept2.txt"));
    Window w(QStringLiteral("wiring4"));
    w.source->top = {KLItem::create(r)};
    w.controller->kelsoDelegate()->updateChangedFiles();
    w.controller->coolerDelegate()->addPaths({c1, c2}, 0);
    w.settle();
    KLSelectionActions actions([&] { return w.controller->activePane(); });
    QAction *rename = actions.action(KLSelectionActions::RenameSelected);
    QAction *ext = actions.action(KLSelectionActions::AddUnwantedSelectedExtension);

    // Nothing selected anywhere: no pane, every command off.
    w.controller->coolerDelegate()->clearSelection();
    w.controller->kelsoDelegate()->clearSelection();
    w.controller->window()->setFocus();
    EXPECT_EQ(w.controller->activePane(), nullptr);
    actions.validateAll();
    for (int i = 0; i < KLSelectionActions::kCommandCount; ++i)
        EXPECT_FALSE(actions.action(KLSelectionActions::Command(i))->isEnabled()) << i;

    // The focused grid's pane.
    w.controller->kelsoDelegate()->selectIndexes({0});
    w.controller->kelsoBrowser()->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(w.controller->activeBrowser(), w.controller->kelsoBrowser());
    EXPECT_EQ(w.controller->activePane(), static_cast<KLPaneMenuActions *>(w.controller->kelsoDelegate()));
    actions.validateAll();
    EXPECT_TRUE(rename->isEnabled());
    EXPECT_TRUE(ext->isEnabled());
    EXPECT_TRUE(ext->text().contains(QStringLiteral(".odt")));

    // Without a focused grid: the pane holding the selection (two Cooler cells: no rename, no
    // extension entry).
    w.controller->coolerDelegate()->selectIndexes({0, 1});
    w.controller->window()->setFocus();
    w.controller->kelsoBrowser()->clearFocus();
    w.controller->coolerBrowser()->clearFocus();
    QApplication::processEvents();
    ASSERT_EQ(w.controller->activeBrowser(), nullptr);
    EXPECT_EQ(w.controller->activePane(), static_cast<KLPaneMenuActions *>(w.controller->coolerDelegate()));
    actions.validateAll();
    EXPECT_FALSE(rename->isEnabled());
    EXPECT_FALSE(ext->isEnabled());
    EXPECT_TRUE(actions.action(KLSelectionActions::OpenSelectedExternally)->isEnabled());
}

TEST(PaneMenusWiringTest, FilePickerAddsToTheCoolerAndMenuBarShowsInDockModeOnly)
{
    Window tray(QStringLiteral("wiring5"), true);
    ASSERT_NE(tray.controller->filePicker(), nullptr);
    ASSERT_NE(tray.controller->filePicker()->menu(), nullptr);
    ASSERT_NE(tray.controller->menuBuilder(), nullptr);
    EXPECT_EQ(tray.controller->menuBuilder()->menuSelector(), KLFilePickerMenu::AddToCooler);
    EXPECT_FALSE(tray.controller->menuBar()->isVisible());
    tray.controller->setTrayMode(false);
    EXPECT_TRUE(tray.controller->menuBar()->isVisible());
    tray.controller->setTrayMode(true);
    EXPECT_FALSE(tray.controller->menuBar()->isVisible());

    Window dock(QStringLiteral("wiring6"), false);
    EXPECT_TRUE(dock.controller->menuBar()->isVisible());
}

TEST(PaneMenusWiringTest, TagEditorChangesOnlyTheCommonTags)
{
    const QString a = makeFile(QStringLiteral("wiring7/a.txt"));
    const QString b = makeFile(QStringLiteral("wiring7/b.txt"));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Red"), QStringLiteral("Blue")}, a));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Red"), QStringLiteral("Green")}, b));

    QList<XPTagEditorRules::FailureReport> reports;
    XPTagWritePrompts prompts;
    prompts.reportFailures = [&](const XPTagEditorRules::FailureReport &r) { reports.append(r); };
    XPTagEditorController editor;
    editor.setWritePrompts(prompts);
    editor.editFiles({a, b});
    EXPECT_EQ(editor.originalTags(), QStringList{QStringLiteral("Red")});
    EXPECT_EQ(editor.tags(), QStringList{QStringLiteral("Red")});

    // Red leaves both files, Work joins both, Blue and Green stay where they were.
    editor.setFieldTags({QStringLiteral("Work")});
    ASSERT_TRUE(editor.writeCommonTags());
    XPTagWriteSession::waitForPendingWrites();
    auto tagsOf = [](const QString &p) {
        QStringList t = Lumitag::getUserTags(p).value_or(QStringList{});
        t.sort();
        return t;
    };
    EXPECT_EQ(tagsOf(a), (QStringList{QStringLiteral("Blue"), QStringLiteral("Work")}));
    EXPECT_EQ(tagsOf(b), (QStringList{QStringLiteral("Green"), QStringLiteral("Work")}));
    EXPECT_TRUE(reports.isEmpty());

    // A tag the desktop store cannot hold is refused before anything is written.
    if (Lumitag::MavericksOrLater()) {
        editor.editFiles({a, b});
        editor.setFieldTags({QStringLiteral("Work"), QStringLiteral("a,b")});
        EXPECT_EQ(editor.writeCommonTags(), nullptr);
        ASSERT_EQ(reports.size(), 1);
        EXPECT_TRUE(reports.first().message.contains(QStringLiteral("a,b"))) << qPrintable(reports.first().message);
        EXPECT_EQ(tagsOf(a), (QStringList{QStringLiteral("Blue"), QStringLiteral("Work")}));
        reports.clear();
    }

    // A file that vanished is reported; the other file takes the change.
    const QString gone = home() + QStringLiteral("/wiring7/gone.txt");
    editor.editFiles({a, gone});
    editor.setFieldTags({QStringLiteral("Work"), QStringLiteral("Late")});
    ASSERT_TRUE(editor.writeCommonTags());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !reports.isEmpty(); }));
    EXPECT_TRUE(reports.first().message.contains(QStringLiteral("gone.txt")));
    EXPECT_TRUE(tagsOf(a).contains(QStringLiteral("Late")));
    EXPECT_FALSE(QFileInfo::exists(gone));
}

namespace {

TEST(PaneMenusWiringTest, TabInTheTagEditorMovesTheCoolerSelectionAndOpensTheNextFile)
{
    Window w(QStringLiteral("wiring-tab"));
    QList<QStringList> opened;
    w.services.tagEditorOpener = [&](const QStringList &paths) { opened.append(paths); };
    const QString a = makeFile(QStringLiteral("wiring-tab/a.txt"));
    const QString b = makeFile(QStringLiteral("wiring-tab/b.txt"));
    const QString c = makeFile(QStringLiteral("wiring-tab/c.txt"));
    KLCoolerImageBrowserDelegate *cooler = w.controller->coolerDelegate();
    cooler->addPaths({a, b, c}, 0);
    cooler->reloadBrowserNow();
    cooler->clearSelection();
    w.controller->kelsoDelegate()->clearSelection();

    EXPECT_FALSE(w.controller->tagEditorMoveToAnotherDocument(true)) << "nothing selected: nowhere to go";
    EXPECT_TRUE(opened.isEmpty());

    cooler->selectIndexes({1});
    ASSERT_TRUE(w.controller->tagEditorMoveToAnotherDocument(true));
    EXPECT_EQ(opened.last(), QStringList{c});
    EXPECT_EQ(cooler->selectedItemPaths(), QStringList{c});
    EXPECT_FALSE(w.controller->tagEditorMoveToAnotherDocument(true)) << "the last item has no next";
    ASSERT_TRUE(w.controller->tagEditorMoveToAnotherDocument(false));
    ASSERT_TRUE(w.controller->tagEditorMoveToAnotherDocument(false));
    EXPECT_EQ(opened.last(), QStringList{a});
    EXPECT_FALSE(w.controller->tagEditorMoveToAnotherDocument(false)) << "the first item has no previous";
    EXPECT_EQ(opened.size(), 3);
    w.services.tagEditorOpener = {};
}

} // namespace
