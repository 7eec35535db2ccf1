// The search bar in the main window and its results grid, offscreen, with a stand-in index:
// typing shows the merged results in place of the recent files, the pop-ups and the location
// menu, the "All" placeholder, Return opening the tag editor, "Add To Cooler", the results'
// menus, drags that only copy, Find, and the accessible names.
#include "../search/FakeSearchIndex.h"
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "browser/search/KLSearchArea.h"
#include "browser/search/KLSearchBrowserView.h"
#include "browser/search/KLSearchResultsPane.h"
#include "platform/Defaults.h"
#include "search/gui/KLFilePickerMenu.h"
#include "support/MenuSupport.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

QString home()
{
    return KelsoTest::home();
}

class EmptySource : public KLRecentSource
{
public:
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return {}; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}
};

struct Window {
    explicit Window(const QString &name)
    {
        services.contextMenuPresenter = [this](QMenu *menu, const QPoint &) { menus.append(menu); };
        services.tagEditorOpener = [this](const QStringList &paths) { tagEditorPaths.append(paths); };
        KLMainWindowController::Options options;
        options.recentSource = std::make_unique<EmptySource>();
        options.coolerStorePath = QStringLiteral("%1/stores/%2.plist").arg(home(), name);
        options.services = &services;
        options.searchQueries = index.factory();
        controller = std::make_unique<KLMainWindowController>(std::move(options));
        area = controller->searchArea();
        area->searcher()->setDelaysForTesting(0, 60000);
        controller->window()->resize(1100, controller->window()->height());
        controller->window()->show();
    }
    ~Window()
    {
        for (const QPointer<QMenu> &m : menus)
            delete m.data();
    }
    // Types in the field as the user would and waits for the queries.
    void type(const QString &text)
    {
        area->searchField()->setFocus();
        QTest::keyClicks(area->searchField(), text);
        ASSERT_TRUE(KelsoTest::waitFor([this] { return index.running().size() == 2; }, 3000));
    }
    KLSearchBrowserView *grid() const { return area->searchBrowser(); }
    QStringList shownTitles() const
    {
        QStringList out;
        for (int r = 0; r < grid()->model()->rowCount(); ++r)
            out.append(grid()->model()->index(r, 0).data(Qt::DisplayRole).toString());
        return out;
    }
    void selectRows(const QList<int> &rows) { area->resultsPane()->selectIndexes(rows); }
    QMenu *rightClick(int row)
    {
        grid()->doItemsLayout();
        const QPoint pos = grid()->visualRect(grid()->model()->index(row, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, grid()->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(grid()->viewport(), &event);
        return menus.isEmpty() ? nullptr : menus.last().data();
    }

    FakeSearchIndex index;
    KLServices services;
    QList<QPointer<QMenu>> menus;
    QList<QStringList> tagEditorPaths;
    std::unique_ptr<KLMainWindowController> controller;
    KLSearchArea *area = nullptr;
};

QStringList makeFiles(const QString &folder, const QStringList &names)
{
    QStringList paths;
    for (const QString &n : names) {
        const QString p = home() + "/" + folder + "/" + n;
        KelsoTest::writeFile(p);
        paths.append(p);
    }
    return paths;
}

QStringList titlesOf(const QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            out.append(a->objectName().isEmpty() && a->menu() ? a->menu()->objectName() : a->objectName());
    return out;
}

} // namespace

TEST(SearchResultsWindow, TypingReplacesTheRecentFilesWithTheMergedResults)
{
    Window w("typing");
    EXPECT_FALSE(w.area->resultsView()->isVisible());
    EXPECT_TRUE(w.controller->kelsoView()->isVisible());
    w.type("plan");
    EXPECT_TRUE(w.area->resultsView()->isVisible());
    EXPECT_FALSE(w.controller->kelsoView()->isVisible());
    EXPECT_TRUE(w.controller->coolerView()->isVisible());

    const auto running = w.index.running();
    QStringList names, contents;
    for (int i = 0; i < 7; ++i)
        names.append(QStringLiteral("/srv/n%1.txt").arg(i));
    for (int i = 0; i < 2; ++i)
        contents.append(QStringLiteral("/srv/c%1.txt").arg(i));
    running.at(0)->report(names);
    running.at(1)->report(contents);
    EXPECT_EQ(w.shownTitles(),
              (QStringList{"n0.txt", "n1.txt", "n2.txt", "n3.txt", "n4.txt", "n5.txt", "c0.txt", "n6.txt", "c1.txt"}));
    // The cells draw the result's name and its folder line (not the file's date).
    EXPECT_EQ(KLImageBrowserCell::titleForIndex(w.grid()->model()->index(0, 0)), "n0.txt");
    EXPECT_EQ(KLImageBrowserCell::subtitleForIndex(w.grid()->model()->index(0, 0)), "/srv");

    // Emptying the field brings the recent files back.
    w.area->searchField()->clear();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !w.area->resultsView()->isVisible(); }, 2000));
    EXPECT_TRUE(w.controller->kelsoView()->isVisible());
    EXPECT_EQ(w.grid()->model()->rowCount(), 0);
}

TEST(SearchResultsWindow, UpdatesKeepTheShownItemsByPath)
{
    Window w("reuse");
    w.type("plan");
    FakeSearchQuery *names = w.index.running().at(0);
    names->report({"/srv/a.txt", "/srv/b.txt"});
    const KLItemPtr b = w.area->resultsPane()->itemAtIndex(1);
    names->report({"/srv/new.txt", "/srv/b.txt"});
    EXPECT_EQ(w.shownTitles(), (QStringList{"new.txt", "b.txt"}));
    EXPECT_EQ(w.area->resultsPane()->itemAtIndex(1), b);
}

TEST(SearchResultsWindow, ReturnOpensTheTagEditorNotTheFile)
{
    Window w("return");
    const QStringList files = makeFiles("ret", {"one.txt", "two.txt"});
    w.type("one");
    w.index.running().at(0)->report(files);
    w.selectRows({0, 1});
    w.grid()->setFocus();
    QTest::keyClick(w.grid(), Qt::Key_Return);
    ASSERT_EQ(w.tagEditorPaths.size(), 1);
    EXPECT_EQ(w.tagEditorPaths.first(), files);
    QTest::keyClick(w.grid(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(w.tagEditorPaths.size(), 2);
    // Delete does not take results away.
    QTest::keyClick(w.grid(), Qt::Key_Delete);
    EXPECT_EQ(w.grid()->model()->rowCount(), 2);
    EXPECT_TRUE(QFile::exists(files.first()));
}

TEST(SearchResultsWindow, AddToCoolerPutsTheResultsInReverseOrderAtTheFront)
{
    Window w("cooler");
    const QStringList kept = makeFiles("coolerkept", {"kept.txt"});
    w.controller->coolerDelegate()->addPaths(kept, 0);
    const QStringList files = makeFiles("coolerres", {"a.txt", "b.txt", "c.txt"});
    w.type("res");
    w.index.running().at(0)->report(files);
    w.selectRows({0, 1, 2});
    QMenu *menu = w.rightClick(1);
    ASSERT_NE(menu, nullptr);
    QAction *add = KelsoTest::findAction(menu, "addToCoolerAction");
    ASSERT_NE(add, nullptr);
    add->trigger();
    EXPECT_EQ(w.controller->coolerDelegate()->currentItemPaths(),
              (QStringList{files.at(2), files.at(1), files.at(0), kept.first()}));
}

TEST(SearchResultsWindow, MenusForOneAndForSeveralResults)
{
    Window w("menus");
    const QStringList files = makeFiles("menus/Deep", {"m1.txt", "m2.txt"});
    w.type("m");
    w.index.running().at(0)->report(files);
    QMenu *one = w.rightClick(0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(titlesOf(one), (QStringList{"openWithMenu", "openExternallyAction", "addToCoolerAction", "editTagsAction",
                                          "currentPathMenu", "revealFolderInFinderAction", "getInfoInFinderAction"}));
    // The right-clicked cell became the selection; the path submenu lists it and its folders.
    EXPECT_EQ(w.area->resultsPane()->selectionIndexes(), QList<int>{0});
    QMenu *path = w.area->resultsPane()->currentPathMenu();
    ASSERT_NE(path, nullptr);
    ASSERT_GE(path->actions().size(), 3);
    EXPECT_EQ(path->actions().at(0)->data().toString(), files.at(0));
    EXPECT_EQ(path->actions().at(1)->data().toString(), home() + "/menus/Deep");
    // No rename, no removal, no filing for results.
    EXPECT_EQ(KelsoTest::findAction(one, "renameAction"), nullptr);
    EXPECT_EQ(KelsoTest::findAction(one, "removeFromKelsoAction"), nullptr);

    w.selectRows({0, 1});
    QMenu *several = w.rightClick(1);
    ASSERT_NE(several, nullptr);
    EXPECT_EQ(titlesOf(several), (QStringList{"openExternallyAction", "addToCoolerAction", "editTagsAction",
                                              "revealFolderInFinderAction", "getInfoInFinderAction"}));
    // "Edit common tags" goes to the tag editor with both.
    KelsoTest::findAction(several, "editTagsAction")->trigger();
    ASSERT_FALSE(w.tagEditorPaths.isEmpty());
    EXPECT_EQ(w.tagEditorPaths.last(), files);

    // A result whose file is gone: an empty menu.
    QFile::remove(files.at(0));
    w.selectRows({0});
    QMenu *gone = w.rightClick(0);
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(gone->actions().isEmpty());
}

TEST(SearchResultsWindow, DragsOnlyCopyWhenAlwaysCopying)
{
    EXPECT_EQ(KLSearchBrowserView::sourceOperationMask(true), KLDragOperation::Copy);
    EXPECT_EQ(KLSearchBrowserView::sourceOperationMask(false), KLDragOperation::Every);
    Window w("drags");
    EXPECT_EQ(w.grid()->offeredDragActions(true), Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(w.grid()->offeredDragActions(false), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
    // The panes' grids are unchanged: copy and link when always copying.
    EXPECT_EQ(w.controller->kelsoBrowser()->offeredDragActions(true), Qt::CopyAction | Qt::LinkAction);
}

TEST(SearchResultsWindow, DragOutOfTheResultsMayAddToTheCoolerEvenAfterAMove)
{
    Defaults::standard().setValue(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), true);
    Window w("dragend");
    const QStringList files = makeFiles("dragend", {"d.txt"});
    w.grid()->draggingSessionEnded(Qt::MoveAction, false, {}, {QUrl::fromLocalFile(files.first())},
                                   QDateTime::currentDateTime());
    EXPECT_EQ(w.controller->coolerDelegate()->currentItemPaths(), files);
    Defaults::standard().setValue(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), false);
}

TEST(SearchResultsWindow, PopUpsAndLocationMenuDriveTheSearch)
{
    Window w("popups");
    ASSERT_EQ(w.area->fileTypeMenu()->count(), 15);
    ASSERT_EQ(w.area->dateMenu()->count(), 7);
    EXPECT_EQ(w.area->locationButton()->text(), "Everywhere");
    const QString folder = home() + "/popups/Papers";
    QDir().mkpath(folder);

    // "PDF" by typing its first letter into the closed pop-up, as from the keyboard.
    w.area->fileTypeMenu()->setFocus();
    QTest::keyClicks(w.area->fileTypeMenu(), "P");
    EXPECT_EQ(w.area->fileTypeMenu()->currentText(), "PDF");
    EXPECT_EQ(w.area->searcher()->fileTypeIndex(), 1);
    // Pick the folder through the location menu's builder, as its entry does.
    QMenu probe;
    QAction *entry = w.area->locationMenuBuilder()->addItem(folder, &probe);
    ASSERT_NE(entry, nullptr);
    w.area->locationMenuBuilder()->setMenuTitle(entry);
    EXPECT_EQ(w.area->searchField()->text(), "\"All\"");
    EXPECT_EQ(w.area->locationButton()->text(), "Papers");
    ASSERT_TRUE(KelsoTest::waitFor([&] { return w.index.running().size() == 2; }, 2000));
    for (FakeSearchQuery *q : w.index.running())
        EXPECT_EQ(q->scopes, QStringList{folder});

    // The location menu lists "Everywhere" first when it opens.
    QMenu *menu = w.area->locationButton()->menu();
    w.area->locationMenuBuilder()->menuNeedsUpdate(menu);
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().first()->text(), "Everywhere");

    // Clearing (60 s after leaving) resets the bar and the menu's pick.
    w.area->searcher()->clearSearch();
    EXPECT_EQ(w.area->searchField()->text(), "");
    EXPECT_EQ(w.area->fileTypeMenu()->currentIndex(), 0);
    EXPECT_EQ(w.area->locationButton()->text(), "Everywhere");
    EXPECT_TRUE(w.area->locationMenuBuilder()->lastPickedLocationConstraint().isEmpty());
    EXPECT_EQ(w.area->searcher()->fileTypeIndex(), 0);

    // What scripts read of the search area.
    w.area->searchField()->setText("x");
    const QByteArray json = w.area->shownStateJson();
    EXPECT_TRUE(json.contains("\"field\":\"x\"")) << json.toStdString();
    EXPECT_TRUE(json.contains("\"location\":\"Everywhere\"")) << json.toStdString();
}

TEST(SearchResultsWindow, FindFocusesTheSearchField)
{
    Window w("find");
    QApplication::setActiveWindow(w.controller->window());
    w.controller->kelsoBrowser()->setFocus();
    w.area->searchField()->setText("draft");
    ASSERT_NE(w.controller->findAction(), nullptr);
    EXPECT_EQ(w.controller->findAction()->shortcut(), QKeySequence(QKeySequence::Find));
    w.controller->findAction()->trigger();
    EXPECT_TRUE(w.area->searchField()->hasFocus());
    EXPECT_EQ(w.area->searchField()->cursorPosition(), 5);
}

TEST(SearchResultsWindow, ControlsHaveAccessibleNames)
{
    Window w("names");
    for (QWidget *wid :
         std::initializer_list<QWidget *>{w.area->searchField(), w.area->fileTypeMenu(), w.area->dateMenu(),
                                          w.area->locationButton(), w.grid(), w.area->resultsView()})
        EXPECT_FALSE(wid->accessibleName().isEmpty()) << wid->objectName().toStdString();
    w.type("acc");
    w.index.running().at(0)->report({"/srv/acc.txt"});
    EXPECT_EQ(w.grid()->model()->index(0, 0).data(Qt::AccessibleTextRole).toString(), "acc.txt");
}
