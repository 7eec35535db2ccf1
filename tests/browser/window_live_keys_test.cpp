// The main window as it is used: the recent list following the collector while it is on screen
// (coalesced, at most once a second, never under a click or a held key), the keyboard paths
// through both grids, the focus ring, the empty list's text and the dock-mode window.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "fileops/gui/XPSimpleFileRenameController.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "util/Localized.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

using KelsoTest::makeFiles;
using KelsoTest::waitFor;

// A collector stand-in: the test sets its list and says when a record was accepted.
class LiveSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QHash<QString, QList<KLItemPtr>> folders;
    QList<KLItemPtr> lastRemoved;
    int rankings = 0;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override
    {
        ++rankings;
        return top;
    }
    QList<KLItemPtr> recentFilesInDirectory(const QString &p) override { return folders.value(p); }
    void removeItems(const QList<KLItemPtr> &items) override
    {
        lastRemoved = items;
        removedAt.clear();
        for (const KLItemPtr &r : items) {
            for (qsizetype i = 0; i < top.size(); ++i) {
                if (*top.at(i) == *r)
                    removedAt.append({int(i), top.at(i)});
            }
            top.removeIf([&](const KLItemPtr &i) { return *i == *r; });
        }
    }
    bool undoLastRemoval() override
    {
        if (lastRemoved.isEmpty())
            return false;
        for (const auto &[index, item] : std::as_const(removedAt))
            top.insert(std::min<qsizetype>(index, top.size()), item);
        lastRemoved.clear();
        removedAt.clear();
        return true;
    }
    QList<std::pair<int, KLItemPtr>> removedAt;
    bool writeState() override { return true; }
    void shutdown() override {}
    void record() { recordAccepted(); }
};

struct Window {
    explicit Window(const QString &name)
    {
        auto s = std::make_unique<LiveSource>();
        source = s.get();
        KLMainWindowController::Options options;
        options.recentSource = std::move(s);
        options.coolerStorePath = QStringLiteral("%1/stores/%2.plist").arg(KelsoTest::home(), name);
        options.services = &services;
        c = std::make_unique<KLMainWindowController>(std::move(options));
        Defaults::standard().setBool(QStringLiteral("KLFadeIn"), false);
    }
    void show()
    {
        c->showWindow(true);
        c->window()->activateWindow();
        QApplication::setActiveWindow(c->window());
        QApplication::processEvents();
    }
    QStringList shownPaths() const
    {
        QStringList out;
        for (const KLItemPtr &i : c->kelsoDelegate()->model()->items())
            out.append(i->lastKnownPath());
        return out;
    }
    void settle()
    {
        c->kelsoDelegate()->updateChangedFiles();
        c->kelsoDelegate()->reloadBrowserNow();
        c->coolerDelegate()->reloadBrowserNow();
        c->kelsoBrowser()->doItemsLayout();
        c->coolerBrowser()->doItemsLayout();
        QApplication::processEvents();
    }
    // Handed to the controller, which it outlives.
    KLServices services;
    LiveSource *source = nullptr;
    std::unique_ptr<KLMainWindowController> c;
};

// Mouse buttons through the window, as the platform delivers them (the application then knows
// which buttons are down).
void pressOn(QWidget *viewport, const QPoint &pos)
{
    QWindow *win = viewport->window()->windowHandle();
    QTest::mousePress(win, Qt::LeftButton, {}, viewport->mapTo(viewport->window(), pos));
}

void releaseOn(QWidget *viewport, const QPoint &pos)
{
    QWindow *win = viewport->window()->windowHandle();
    QTest::mouseRelease(win, Qt::LeftButton, {}, viewport->mapTo(viewport->window(), pos));
}

QList<KLItemPtr> itemsFor(const QStringList &paths)
{
    QList<KLItemPtr> out;
    for (const QString &p : paths)
        out.append(KLItem::create(p));
    return out;
}

// ---- the live list --------------------------------------------------------------------------

TEST(LiveListTest, ARecordReachesTheShownGridWithoutActivation)
{
    Window w(QStringLiteral("live"));
    const QStringList files = makeFiles(QStringLiteral("live"), 3);
    w.source->top = itemsFor({files[0]});
    w.show();
    w.settle();
    ASSERT_EQ(w.shownPaths(), QStringList{files[0]});

    // A file saved while the window is up.
    w.source->top = itemsFor({files[1], files[0]});
    w.source->record();
    EXPECT_TRUE(w.c->kelsoDelegate()->liveRefreshPending());
    EXPECT_EQ(w.shownPaths(), QStringList{files[0]}) << "coalesced, not at once";
    EXPECT_TRUE(waitFor(
        [&] {
            return w.shownPaths() == (QStringList{files[1], files[0]});
        },
        2000))
        << w.shownPaths().join(u',').toStdString();
    EXPECT_EQ(w.c->kelsoDelegate()->items().size(), 2);
}

TEST(LiveListTest, AHiddenWindowIsLeftForTheNextActivation)
{
    Window w(QStringLiteral("hidden"));
    const QStringList files = makeFiles(QStringLiteral("hidden"), 2);
    w.source->top = itemsFor({files[0]});
    w.settle();
    w.c->hideApplication();
    const int before = w.source->rankings;
    w.source->top = itemsFor({files[1], files[0]});
    w.source->record();
    EXPECT_FALSE(w.c->kelsoDelegate()->liveRefreshPending());
    QTest::qWait(400);
    EXPECT_EQ(w.source->rankings, before) << "no ranking for a window nobody sees";
    EXPECT_EQ(w.shownPaths(), QStringList{files[0]});
}

TEST(LiveListTest, ABurstOfRecordsGivesOneRefreshAndTheNextWaitsASecond)
{
    Window w(QStringLiteral("burst"));
    const QStringList files = makeFiles(QStringLiteral("burst"), 3);
    w.source->top = itemsFor({files[0]});
    w.show();
    w.settle();
    int before = w.source->rankings;
    for (int i = 0; i < 20; ++i)
        w.source->record();
    ASSERT_TRUE(waitFor([&] { return w.source->rankings > before; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(w.source->rankings, before + 1) << "twenty records, one ranking";

    // Right after a refresh, the next record waits until a second has passed since it.
    QElapsedTimer since;
    since.start();
    before = w.source->rankings;
    w.source->top = itemsFor({files[2], files[0]});
    w.source->record();
    QTest::qWait(600);
    EXPECT_EQ(w.source->rankings, before) << "a second refresh within the second";
    ASSERT_TRUE(waitFor([&] { return w.source->rankings > before; }, 2000));
    EXPECT_GE(since.elapsed(), 900);
    EXPECT_EQ(w.shownPaths(), (QStringList{files[2], files[0]}));
}

TEST(LiveListTest, ARefreshWaitsForTheClickAndTheKeyInProgress)
{
    Window w(QStringLiteral("gesture"));
    const QStringList files = makeFiles(QStringLiteral("gesture"), 4);
    w.source->top = itemsFor({files[0], files[1]});
    w.show();
    w.settle();
    KLImageBrowserView *grid = w.c->kelsoBrowser();
    const QPoint onSecond = grid->visualRect(grid->model()->index(1, 0)).center();
    ASSERT_EQ(grid->indexAtPoint(onSecond), 1);

    // The button is down on the second cell: a new file must not push it away.
    pressOn(grid->viewport(), onSecond);
    ASSERT_TRUE(grid->gestureInProgress());
    w.source->top = itemsFor({files[2], files[0], files[1]});
    w.source->record();
    QTest::qWait(1300);
    EXPECT_EQ(w.shownPaths(), (QStringList{files[0], files[1]})) << "the list moved under the pointer";
    EXPECT_EQ(w.c->kelsoDelegate()->itemAtIndex(1)->lastKnownPath(), files[1]);
    releaseOn(grid->viewport(), onSecond);
    EXPECT_FALSE(grid->gestureInProgress());
    EXPECT_TRUE(waitFor([&] { return w.shownPaths().size() == 3; }, 2000)) << "not applied after the click";
    EXPECT_EQ(w.c->kelsoDelegate()->selectedItemPaths(), QStringList{files[1]}) << "the clicked cell stays selected";

    // A key held down.
    QTest::keyPress(grid, Qt::Key_Shift);
    ASSERT_TRUE(grid->gestureInProgress());
    w.source->top = itemsFor({files[3], files[2], files[0], files[1]});
    w.source->record();
    QTest::qWait(1300);
    EXPECT_EQ(w.shownPaths().size(), 3) << "the list changed while a key was held";
    QTest::keyRelease(grid, Qt::Key_Shift);
    EXPECT_TRUE(waitFor([&] { return w.shownPaths().size() == 4; }, 2000));

    // The Cooler's own deferred reloads wait too.
    const QStringList kept = makeFiles(QStringLiteral("gesture-cooler"), 2);
    w.c->coolerDelegate()->addPaths({kept[0]}, 0);
    KLImageBrowserView *cooler = w.c->coolerBrowser();
    const QPoint first = cooler->visualRect(cooler->model()->index(0, 0)).center();
    pressOn(cooler->viewport(), first);
    w.c->coolerDelegate()->addItem(KLItem::create(kept[1]), 0);
    QTest::qWait(KLImageBrowserViewDelegate::kReloadDelayMs + 300);
    EXPECT_EQ(w.c->coolerDelegate()->model()->rowCount(), 1);
    releaseOn(cooler->viewport(), first);
    EXPECT_TRUE(waitFor([&] { return w.c->coolerDelegate()->model()->rowCount() == 2; }, 2000));
}

// ---- keys -----------------------------------------------------------------------------------

struct KeysFixture : Window {
    explicit KeysFixture(const QString &name, int recentCount, int coolerCount) : Window(name)
    {
        recent = makeFiles(name + QStringLiteral("-recent"), recentCount);
        source->top = itemsFor(recent);
        cooler = makeFiles(name + QStringLiteral("-cooler"), coolerCount);
        if (!cooler.isEmpty())
            c->coolerDelegate()->addPaths(cooler, 0);
        // Four columns in each grid.
        c->window()->setFixedWidth(4 * KLImageBrowserCell::kCellWidth + 40);
        show();
        settle();
    }
    QStringList recent, cooler;
};

TEST(WindowKeysTest, UpAndDownWalkTheRowsThenCrossToTheOtherPane)
{
    KeysFixture f(QStringLiteral("rows"), 10, 3);
    KLImageBrowserView *grid = f.c->kelsoBrowser();
    ASSERT_EQ(grid->numberOfColumns(), 4);
    f.c->kelsoDelegate()->selectIndexes({1});
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(f.c->kelsoDelegate()->selectionIndexes(), QList<int>{5});
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(f.c->kelsoDelegate()->selectionIndexes(), QList<int>{9});
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(f.c->kelsoDelegate()->selectionIndexes(), QList<int>{5});
    QTest::keyClick(grid, Qt::Key_Down);
    // The last row: on to the Cooler, same column.
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_FALSE(f.c->kelsoDelegate()->hasSelection());
    EXPECT_EQ(f.c->coolerDelegate()->selectionIndexes(), QList<int>{1});
    EXPECT_EQ(f.c->activeBrowser(), f.c->coolerBrowser());
    // Down from the Cooler (nothing below) keeps it; Up goes back to the first recent row.
    QTest::keyClick(f.c->coolerBrowser(), Qt::Key_Down);
    EXPECT_EQ(f.c->coolerDelegate()->selectionIndexes(), QList<int>{1});
    QTest::keyClick(f.c->coolerBrowser(), Qt::Key_Up);
    EXPECT_EQ(f.c->kelsoDelegate()->selectionIndexes(), QList<int>{1});
    EXPECT_EQ(f.c->activeBrowser(), f.c->kelsoBrowser());
    // Up from the first row: no pane above.
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(f.c->kelsoDelegate()->selectionIndexes(), QList<int>{1});
    // An unselected grid starts at its first cell.
    f.c->kelsoDelegate()->clearSelection();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(f.c->kelsoDelegate()->selectionIndexes(), QList<int>{0});
}

TEST(WindowKeysTest, TabReachesEveryControlAndTheFocusedPaneIsMarked)
{
    KeysFixture f(QStringLiteral("tab"), 3, 2);
    QWidget *w = f.c->window();
    if (!QTest::qWaitForWindowActive(w))
        GTEST_SKIP() << "the platform cannot activate windows";
    f.c->kelsoBrowser()->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(f.c->kelsoView()->focusMarked());
    EXPECT_FALSE(f.c->coolerView()->focusMarked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.c->addFileButton());
    f.c->coolerDelegate()->clearSelection();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.c->coolerBrowser());
    EXPECT_TRUE(f.c->coolerView()->focusMarked());
    EXPECT_FALSE(f.c->kelsoView()->focusMarked());
    EXPECT_EQ(f.c->coolerDelegate()->selectionIndexes(), QList<int>{0}) << "Tab into a grid selects a cell";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), f.c->addFileButton());

    // Inside a stack the Back control is in the chain, before the grid.
    KLItemPtr stack = KLItem::create(KelsoTest::home() + QStringLiteral("/tab-recent"));
    for (const QString &p : f.recent)
        stack->addSubItem(KLItem::create(p));
    f.source->folders[stack->lastKnownPath()] = itemsFor(f.recent);
    f.source->top = {stack};
    f.settle();
    f.c->kelsoDelegate()->imageBrowserCellWasDoubleClickedAtIndex(0);
    ASSERT_TRUE(f.c->backButton()->isVisible());
    f.c->kelsoBrowser()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), f.c->backButton());
    EXPECT_TRUE(f.c->kelsoView()->focusMarked()) << "the Back control belongs to the recent pane";
}

TEST(WindowKeysTest, BackspaceAltUpAltLeftAndEscapeLeaveAStack)
{
    KeysFixture f(QStringLiteral("stackkeys"), 3, 0);
    KLItemPtr stack = KLItem::create(KelsoTest::home() + QStringLiteral("/stackkeys-recent"));
    for (const QString &p : f.recent)
        stack->addSubItem(KLItem::create(p));
    f.source->folders[stack->lastKnownPath()] = itemsFor(f.recent);
    const QStringList loose = makeFiles(QStringLiteral("stackkeys-loose"), 1);
    f.source->top = {KLItem::create(loose[0]), stack};
    f.settle();
    KLKelsoImageBrowserDelegate *pane = f.c->kelsoDelegate();
    KLImageBrowserView *grid = f.c->kelsoBrowser();

    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
    };
    for (const Key &k :
         {Key{Qt::Key_Backspace, {}}, Key{Qt::Key_Up, Qt::AltModifier}, Key{Qt::Key_Left, Qt::AltModifier}}) {
        pane->imageBrowserCellWasDoubleClickedAtIndex(1);
        ASSERT_TRUE(pane->hasCurrentPath());
        QTest::keyClick(grid, k.key, k.mods);
        EXPECT_FALSE(pane->hasCurrentPath()) << "key " << k.key;
        EXPECT_EQ(pane->selectedItemPaths(), QStringList{stack->lastKnownPath()}) << "the stack left is selected";
        EXPECT_EQ(pane->numberOfItems(), 2) << "leaving removed nothing";
    }
    EXPECT_TRUE(f.source->lastRemoved.isEmpty());

    // Escape: first out of the stack; the window stays.
    pane->imageBrowserCellWasDoubleClickedAtIndex(1);
    EXPECT_TRUE(f.c->leaveStackOnEscape());
    EXPECT_FALSE(pane->hasCurrentPath());
    EXPECT_FALSE(f.c->leaveStackOnEscape()) << "at the top, Escape is for hiding";
}

TEST(WindowKeysTest, DeleteAndBackspaceRemoveFromKelsoAndCtrlZBringsItBack)
{
    KeysFixture f(QStringLiteral("undo"), 3, 3);
    KLImageBrowserView *cooler = f.c->coolerBrowser();
    KLCoolerImageBrowserDelegate *coolerPane = f.c->coolerDelegate();
    coolerPane->selectIndexes({1});
    cooler->setFocus();
    QTest::keyClick(cooler, Qt::Key_Delete);
    EXPECT_EQ(coolerPane->currentItemPaths(), (QStringList{f.cooler[0], f.cooler[2]}));
    EXPECT_TRUE(QFile::exists(f.cooler[1])) << "removal touches no file";
    QTest::keyClick(cooler, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(coolerPane->currentItemPaths(), f.cooler) << "back at its place";
    EXPECT_EQ(coolerPane->selectedItemPaths(), QStringList{f.cooler[1]});
    QTest::keyClick(cooler, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(coolerPane->currentItemPaths(), f.cooler) << "one undo per removal";

    // Backspace at the top of the recent list removes too; Ctrl+Z asks the collector back.
    KLKelsoImageBrowserDelegate *pane = f.c->kelsoDelegate();
    KLImageBrowserView *grid = f.c->kelsoBrowser();
    pane->selectIndexes({0});
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Backspace);
    EXPECT_EQ(f.source->lastRemoved.size(), 1);
    EXPECT_EQ(pane->currentItemPaths(), (QStringList{f.recent[1], f.recent[2]}));
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pane->currentItemPaths(), f.recent);
    EXPECT_EQ(pane->selectedItemPaths(), QStringList{f.recent[0]});

    // The latest removal is the one undone, whichever pane has the focus.
    coolerPane->selectIndexes({0});
    QTest::keyClick(cooler, Qt::Key_Delete);
    pane->selectIndexes({2});
    QTest::keyClick(grid, Qt::Key_Delete);
    QTest::keyClick(cooler, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pane->currentItemPaths(), f.recent);
    EXPECT_EQ(coolerPane->numberOfItems(), 2) << "the older removal waits for its own Ctrl+Z";
    QTest::keyClick(cooler, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(coolerPane->currentItemPaths(), f.cooler);
}

TEST(WindowKeysTest, F2RenamesAndTheMenuKeysOpenTheContextMenu)
{
    KeysFixture f(QStringLiteral("f2"), 0, 2);
    KLImageBrowserView *cooler = f.c->coolerBrowser();
    f.c->coolerDelegate()->selectIndexes({1});
    cooler->setFocus();
    QTest::keyClick(cooler, Qt::Key_F2);
    ASSERT_NE(XPSimpleFileRenameController::current(), nullptr);
    EXPECT_EQ(XPSimpleFileRenameController::current()->path(), f.cooler[1]);
    XPSimpleFileRenameController::current()->cancelAction();

    int menus = 0;
    QStringList lastMenu;
    f.services.contextMenuPresenter = [&](QMenu *menu, const QPoint &) {
        ++menus;
        lastMenu.clear();
        for (QAction *a : menu->actions())
            lastMenu.append(a->text());
        menu->deleteLater();
    };
    QTest::keyClick(cooler, Qt::Key_Menu);
    EXPECT_EQ(menus, 1);
    QTest::keyClick(cooler, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(menus, 2);
    EXPECT_FALSE(lastMenu.isEmpty());
    QTest::keyClick(cooler, Qt::Key_F10);
    EXPECT_EQ(menus, 2) << "F10 alone is not the menu";
}

// The Cooler with its open command counted instead of launching anything.
class CountingCooler : public KLCoolerImageBrowserDelegate
{
public:
    using KLCoolerImageBrowserDelegate::KLCoolerImageBrowserDelegate;
    void openExternallyAction(const QList<KLItemPtr> &items) override { opened.append(items); }
    QList<KLItemPtr> opened;
};

TEST(WindowKeysTest, CtrlOOpensTheSelectionAndReturnKeepsItsMeaning)
{
    KLServices services;
    CountingCooler pane(QStringLiteral("%1/stores/ctrlo.plist").arg(KelsoTest::home()));
    pane.setServices(&services);
    KLImageBrowserView view;
    view.setFixedSize(4 * KLImageBrowserCell::kCellWidth + 30, 400);
    pane.setImageBrowser(&view);
    view.show();
    const QStringList files = makeFiles(QStringLiteral("ctrlo"), 3);
    pane.addPaths(files, 0);
    pane.selectIndexes({0, 2});
    QStringList edited;
    services.tagEditorOpener = [&](const QStringList &paths) { edited = paths; };
    QTest::keyClick(&view, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(pane.opened.size(), 2);
    EXPECT_EQ(pane.opened.at(0)->lastKnownPath(), files[0]);
    EXPECT_EQ(pane.opened.at(1)->lastKnownPath(), files[2]);
    EXPECT_TRUE(edited.isEmpty()) << "Ctrl+O is not the tag editor";
    QTest::keyClick(&view, Qt::Key_O);
    EXPECT_EQ(pane.opened.size(), 2) << "O alone opens nothing";
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(edited, (QStringList{files[0], files[2]})) << "Return edits the tags";
    EXPECT_EQ(pane.opened.size(), 2);
}

// ---- the empty list and the window kinds ----------------------------------------------------

TEST(WindowKindsTest, AnEmptyRecentListSaysWhatItWaitsFor)
{
    Window w(QStringLiteral("empty"));
    w.show();
    w.settle();
    KLImageBrowserView *grid = w.c->kelsoBrowser();
    EXPECT_EQ(grid->emptyText(), QStringLiteral("Files you save, download or open will appear here"));
    const QImage withText = grid->viewport()->grab().toImage();
    grid->setEmptyText({});
    const QImage blank = grid->viewport()->grab().toImage();
    EXPECT_NE(withText, blank) << "the text is not drawn";
    grid->setEmptyText(KLLocalized(QStringLiteral("KLRecentFilesEmpty")));
    // With items the text goes.
    w.source->top = itemsFor(makeFiles(QStringLiteral("empty"), 1));
    w.settle();
    const QImage filled = grid->viewport()->grab().toImage();
    grid->setEmptyText({});
    EXPECT_EQ(filled, grid->viewport()->grab().toImage()) << "the text shows over cells";
}

TEST(WindowKindsTest, DockModeIsADecoratedWindowThatStaysOnDeactivation)
{
    Window w(QStringLiteral("dock"));
    w.c->setTrayMode(false);
    KLCustomWindow *win = w.c->window();
    EXPECT_FALSE(win->windowFlags().testFlag(Qt::FramelessWindowHint)) << "no title bar, no close button";
    EXPECT_FALSE(win->windowFlags().testFlag(Qt::Tool)) << "no taskbar entry";
    Defaults::standard().setBool(QStringLiteral("KLFadeIn"), true);
    w.c->showWindow(true);
    EXPECT_DOUBLE_EQ(win->windowOpacity(), 1.0) << "dock mode does not fade";
    w.c->applicationDidResignActive();
    QTest::qWait(KLCustomWindow::kFadeMs + 100);
    EXPECT_TRUE(win->isVisible());
    EXPECT_FALSE(win->isMinimized());
    EXPECT_DOUBLE_EQ(win->windowOpacity(), 1.0) << "another program took the focus: the window stays";
    // Closing (or Escape, or `kelso hide`) minimises: the taskbar entry stays.
    win->close();
    EXPECT_TRUE(win->isMinimized());
    w.c->showWindow(true);
    EXPECT_FALSE(win->isMinimized());
    EXPECT_TRUE(win->isVisible());

    // Tray mode keeps the pop-up band's ways.
    w.c->setTrayMode(true);
    EXPECT_TRUE(win->windowFlags().testFlag(Qt::FramelessWindowHint));
    Defaults::standard().setBool(QStringLiteral("KLFadeIn"), false);
    w.c->showWindow(true);
    w.c->applicationDidResignActive();
    EXPECT_TRUE(win->isFullyTransparent());
}

TEST(WindowKindsTest, TheStartHintShowsUntilTheWindowHides)
{
    Window w(QStringLiteral("hint"));
    w.c->setTrayMode(false);
    w.show();
    const int before = w.c->window()->height();
    w.c->showStartHint(QStringLiteral("Kelso is running."));
    EXPECT_TRUE(w.c->startHintLabel()->isVisible());
    EXPECT_GT(w.c->window()->height(), before) << "the panes keep their size below the hint";
    w.c->hideApplication();
    EXPECT_FALSE(w.c->startHintLabel()->isVisible());
}

} // namespace
