// The grid paints the list as it was at its last reload; whatever the user aims at a cell acts
// on the item painted there, even when the list changed in between. And what a drag out of a
// grid offers the program it lands in.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserCell.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLRecentSource.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QStringList pathsOf(const QList<KLItemPtr> &items)
{
    QStringList out;
    for (const auto &i : items)
        out.append(i->lastKnownPath());
    return out;
}

// The grid with its drag start reachable, as the platform would start it.
class Grid : public KLImageBrowserView
{
public:
    using KLImageBrowserView::startDrag;
    QPoint centreOf(int row) const { return visualRect(model()->index(row, 0)).center(); }
};

// A Cooler pane whose grid painted [a, b, c], after which the list became [c, a] (b removed,
// c moved to the front) without the grid having reloaded yet.
struct ChangedUnderThePaint {
    explicit ChangedUnderThePaint(const QString &name)
        : files(KelsoTest::makeFiles(name, 3)),
          pane(KelsoTest::home() + QStringLiteral("/stores/") + name + QStringLiteral(".plist"))
    {
        pane.setServices(&services);
        view.setFixedSize(3 * 148 + 30, 400);
        pane.setImageBrowser(&view);
        view.show();
        pane.addPaths(files, 0);
        pane.reloadBrowserNow();
        view.doItemsLayout();
        QApplication::processEvents();
        pane.imageBrowserRemoveKLItems({pane.itemAtIndex(1)}, false);
        pane.imageBrowserMoveItemsAtIndexes({1}, 0);
    }
    void expectStillUnpainted()
    {
        ASSERT_EQ(pane.currentItemPaths(), (QStringList{files[2], files[0]}));
        ASSERT_EQ(pathsOf(pane.model()->items()), files) << "the grid still shows the old list";
    }
    // The pane's services: the defaults until a test puts a fake in.
    KLServices services;
    QStringList files;
    KLCoolerImageBrowserDelegate pane;
    Grid view;
};

class GridActionsTest : public ::testing::Test
{
protected:
    void SetUp() override { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus"); }
    void TearDown() override { Defaults::standard().removeObjectForKey(QStringLiteral("KLAlwaysCopyOnDrag")); }
};

TEST_F(GridActionsTest, TheBadgeRemovesTheItemItIsDrawnOn)
{
    ChangedUnderThePaint f(QStringLiteral("shown-badge"));
    f.expectStillUnpainted();
    // The badge on the first cell, which shows a.
    f.view.setShowsDelete(0, true);
    ASSERT_TRUE(f.view.handleClick(f.view.deleteFrameRectForIndex(0).center(), Qt::NoModifier));
    EXPECT_EQ(f.pane.currentItemPaths(), QStringList{f.files[2]});
}

TEST_F(GridActionsTest, KeysAndTheMenuActOnTheSelectedCellsAsShown)
{
    ChangedUnderThePaint f(QStringLiteral("shown-keys"));
    f.expectStillUnpainted();
    f.view.setFocus();
    f.pane.selectIndexes({0}); // the cell that shows a
    EXPECT_EQ(f.pane.selectedItemPaths(), QStringList{f.files[0]});

    QStringList edited;
    f.services.tagEditorOpener = [&](const QStringList &paths) { edited = paths; };
    QTest::keyClick(&f.view, Qt::Key_Return);
    EXPECT_EQ(edited, QStringList{f.files[0]});

    // A right-click on the cell that shows c: the menu is c's.
    QStringList menuFor;
    f.services.contextMenuPresenter = [&](QMenu *menu, const QPoint &) {
        menuFor = f.pane.selectedItemPaths();
        menu->close();
    };
    QContextMenuEvent click(QContextMenuEvent::Mouse, f.view.centreOf(2),
                            f.view.viewport()->mapToGlobal(f.view.centreOf(2)));
    QApplication::sendEvent(f.view.viewport(), &click);
    EXPECT_EQ(menuFor, QStringList{f.files[2]});

    // Delete on the cell that shows a takes a out, not whatever the list holds at that place.
    f.pane.selectIndexes({0});
    QTest::keyClick(&f.view, Qt::Key_Delete);
    EXPECT_EQ(f.pane.currentItemPaths(), QStringList{f.files[2]});
}

TEST_F(GridActionsTest, ADragCarriesTheFilesShownInTheSelectedCells)
{
    ChangedUnderThePaint f(QStringLiteral("shown-drag"));
    f.expectStillUnpainted();
    f.pane.selectIndexes({0, 2});
    f.view.startDrag(Qt::CopyAction);
    const QList<QDrag *> drags = f.view.findChildren<QDrag *>();
    ASSERT_EQ(drags.size(), 1);
    const QList<QUrl> urls = drags.first()->mimeData()->urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(urls[0].toLocalFile(), f.files[0]);
    EXPECT_EQ(urls[1].toLocalFile(), f.files[2]);
}

// The recent-files list, fed by the test.
class ListSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return top; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}
};

TEST_F(GridActionsTest, ADoubleClickOpensTheCellThatWasClicked)
{
    auto owned = std::make_unique<ListSource>();
    ListSource *source = owned.get();
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("shown-open"), 1);
    const QStringList inside = KelsoTest::makeFiles(QStringLiteral("shown-open/stack"), 2);
    KLItemPtr stack = KLItem::create(KelsoTest::home() + QStringLiteral("/shown-open/stack"));
    for (const QString &p : inside)
        stack->addSubItem(KLItem::create(p));
    const KLItemPtr file = KLItem::create(files[0]);
    source->top = {stack, file};

    KLKelsoImageBrowserDelegate pane(std::move(owned));
    Grid view;
    view.setFixedSize(800, 400);
    pane.setImageBrowser(&view);
    view.show();
    pane.updateChangedFiles();
    pane.reloadBrowserNow();
    view.doItemsLayout();
    QApplication::processEvents();
    ASSERT_EQ(pathsOf(pane.model()->items()), (QStringList{stack->lastKnownPath(), files[0]}));

    // The file rose to the top of the list; the grid still shows the stack first.
    source->top = {file, stack};
    pane.updateChangedFiles();
    ASSERT_EQ(pane.currentItemPaths().first(), files[0]);
    ASSERT_TRUE(pane.reloadPending());
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, view.centreOf(0));
    EXPECT_EQ(pane.currentPath(), stack->lastKnownPath()) << "the stack under the pointer opens";
    // The stack's picture is drawn in the background: let it finish before the test ends.
    EXPECT_TRUE(KLImageBrowserCell::waitForStackPictures(10000));
    KPQuickLook::removeAllRequests();
    EXPECT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(20000));
}

TEST_F(GridActionsTest, ACoolerDragOffersCopyAndLinkButNeverMoveWhileAlwaysCopying)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("offer"), 2);
    KLCoolerImageBrowserDelegate pane(KelsoTest::home() + QStringLiteral("/stores/offer.plist"));
    Grid view;
    view.setFixedSize(3 * 148 + 30, 400);
    pane.setImageBrowser(&view);
    view.show();
    pane.addPaths(files, 0);
    QApplication::processEvents();

    const auto offered = [&] {
        pane.selectIndexes({1});
        view.startDrag(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        const QList<QDrag *> drags = view.findChildren<QDrag *>();
        Qt::DropActions actions;
        if (!drags.isEmpty())
            actions = drags.last()->supportedActions();
        qDeleteAll(drags);
        return actions;
    };
    Defaults::standard().setBool(QStringLiteral("KLAlwaysCopyOnDrag"), true);
    EXPECT_EQ(offered(), Qt::CopyAction | Qt::LinkAction);
    Defaults::standard().setBool(QStringLiteral("KLAlwaysCopyOnDrag"), false);
    EXPECT_EQ(offered(), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
}

} // namespace
