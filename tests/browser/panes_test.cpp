// The two panes behind the grids: insertion, removal and its selection rules, the first row,
// reordering, equal titles, keyboard selection, stacks, the trash confirmation, the badge, the
// drag masks and when the stores are written.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLPreviewPanel.h"
#include "browser/KLRecentSource.h"
#include "cooler/KLCoolerStore.h"
#include "fileops/XPFileJobs.h"
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Test discovery runs this program at build time without the test's environment; without a
// display Qt would abort, so the offscreen platform is chosen here as well.
const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString home()
{
    return KelsoTest::home();
}

using KelsoTest::makeFiles;

QStringList names(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out.append(p.section(QLatin1Char('/'), -1));
    return out;
}

// A recent-files source fed by the test.
class FakeSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QHash<QString, QList<KLItemPtr>> folders;
    QSet<QString> lastExcluded;
    QList<KLItemPtr> removed;
    int writes = 0;
    int backgroundWrites = 0;
    int shutdowns = 0;

    QList<KLItemPtr> recentFiles(const QSet<QString> &excluded) override
    {
        lastExcluded = excluded;
        QList<KLItemPtr> out;
        for (const auto &i : top) {
            if (!excluded.contains(i->lastKnownPath()))
                out.append(i);
        }
        return out;
    }
    QList<KLItemPtr> recentFilesInDirectory(const QString &path) override { return folders.value(path); }
    void removeItems(const QList<KLItemPtr> &items) override
    {
        removed += items;
        for (const auto &r : items)
            top.removeIf([&](const KLItemPtr &i) { return *i == *r; });
    }
    bool writeState() override
    {
        ++writes;
        return true;
    }
    void writeStateInBackground() override { ++backgroundWrites; }
    void shutdown() override { ++shutdowns; }
};

// A Cooler pane driving a real grid, shown offscreen.
struct CoolerFixture {
    explicit CoolerFixture(const QString &name, int gridWidth = 3 * 148 + 30)
        : store(QStringLiteral("%1/stores/%2.plist").arg(home(), name)), pane(store)
    {
        pane.setServices(&services);
        view.setFixedSize(gridWidth, 400);
        pane.setImageBrowser(&view);
        view.show();
    }
    void settle()
    {
        pane.reloadBrowserNow();
        view.doItemsLayout();
        QApplication::processEvents();
    }
    // The pane's services: empty (the defaults) until a test puts a fake in.
    KLServices services;
    QString store;
    KLCoolerImageBrowserDelegate pane;
    KLImageBrowserView view;
};

class PanesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KLKelsoImageBrowserDelegate::resetResignationCountForTesting();
        KLCoolerImageBrowserDelegate::resetResignationCountForTesting();
        // No desktop previewer from the developer's session.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
    }
};

TEST_F(PanesTest, AddingAnnouncesTheCountAndCapsAtOneHundred)
{
    CoolerFixture f(QStringLiteral("cap"));
    QSignalSpy counts(&f.pane, &KLImageBrowserViewDelegate::countChanged);
    const QStringList files = makeFiles(QStringLiteral("cap"), 101);
    for (int i = 0; i < 100; ++i)
        f.pane.addPath(files[i], 0);
    EXPECT_EQ(f.pane.numberOfItems(), 100);
    EXPECT_EQ(counts.size(), 100);
    EXPECT_EQ(f.pane.currentNumberOfItemsString(), QStringLiteral("100 items"));
    EXPECT_TRUE(f.pane.reloadPending()) << "additions reload the grid a moment later";
    // files[0] went in first, so it is last; the 101st pushes it out.
    f.pane.addPath(files[100], 0);
    EXPECT_EQ(f.pane.numberOfItems(), 100);
    EXPECT_FALSE(f.pane.hasItemAtPath(files[0]));
    EXPECT_EQ(f.pane.indexForPath(files[100]), 0);
    // Adding an item the pane holds moves it and announces nothing.
    counts.clear();
    f.pane.addPath(files[50], 0);
    EXPECT_EQ(f.pane.indexForPath(files[50]), 0);
    EXPECT_EQ(counts.size(), 0);
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !f.pane.reloadPending(); }, 5000));
    EXPECT_EQ(f.pane.model()->rowCount(), 100);
}

TEST_F(PanesTest, AddPathsPutsThemFirstInOrderAndSelectsThem)
{
    CoolerFixture f(QStringLiteral("addpaths"));
    const QStringList files = makeFiles(QStringLiteral("addpaths"), 5);
    f.pane.addPaths({files[3], files[4]}, 0);
    f.pane.addPaths({files[0], files[1], files[2]}, 1);
    EXPECT_EQ(names(f.pane.currentItemPaths()),
              (QStringList{"file3.txt", "file0.txt", "file1.txt", "file2.txt", "file4.txt"}));
    EXPECT_EQ(f.pane.selectedItemPaths(), (QStringList{files[0], files[1], files[2]}));
}

TEST_F(PanesTest, RemovingTheSelectionSelectsTheCellThatTookItsPlace)
{
    {
        CoolerFixture f(QStringLiteral("remove1"));
        f.pane.addPaths(makeFiles(QStringLiteral("remove1"), 7), 0);
        f.settle();
        f.pane.selectIndexes({1, 2});
        f.pane.imageBrowserRemoveItemsAtIndexes({1, 2});
        EXPECT_EQ(f.pane.numberOfItems(), 5);
        EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{1});
    }
    {
        CoolerFixture f(QStringLiteral("remove2"));
        const QStringList files = makeFiles(QStringLiteral("remove2"), 7);
        f.pane.addPaths(files, 0);
        f.settle();
        f.pane.selectIndexes({4, 5, 6});
        f.pane.imageBrowserRemoveItemsAtIndexes({4, 5, 6});
        EXPECT_EQ(f.pane.numberOfItems(), 4);
        EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{3}) << "the new last cell";
        // Without Super held nothing is trashed.
        for (const QString &p : files)
            EXPECT_TRUE(QFile::exists(p)) << qPrintable(p);
    }
    {
        // Removing cells that are not the selection leaves the selection alone.
        CoolerFixture f(QStringLiteral("remove3"));
        f.pane.addPaths(makeFiles(QStringLiteral("remove3"), 4), 0);
        f.settle();
        f.pane.selectIndexes({0});
        f.pane.imageBrowserRemoveItemsAtIndexes({3});
        f.settle();
        EXPECT_EQ(f.pane.numberOfItems(), 3);
        EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{0});
    }
}

TEST_F(PanesTest, PathsInFirstRowFollowTheLayout)
{
    CoolerFixture f(QStringLiteral("firstrow"));
    EXPECT_TRUE(f.pane.pathsInFirstRow().isEmpty());
    const QStringList files = makeFiles(QStringLiteral("firstrow"), 5);
    f.pane.addPaths(files, 0);
    f.settle();
    ASSERT_EQ(f.view.numberOfColumns(), 3);
    EXPECT_EQ(f.pane.pathsInFirstRow(), (QStringList{files[0], files[1], files[2]}));
    // A wider grid: all five in one row.
    f.view.setFixedSize(6 * 148 + 30, 400);
    f.settle();
    EXPECT_EQ(f.pane.pathsInFirstRow(), files);
}

TEST_F(PanesTest, DraggingCellsReordersTheCooler)
{
    CoolerFixture f(QStringLiteral("reorder"));
    f.pane.addPaths(makeFiles(QStringLiteral("reorder"), 5), 0);
    f.pane.imageBrowserMoveItemsAtIndexes({0, 2}, 4);
    EXPECT_EQ(names(f.pane.currentItemPaths()),
              (QStringList{"file1.txt", "file3.txt", "file0.txt", "file2.txt", "file4.txt"}));
    // Dropping a file the Cooler holds moves its cell instead of adding a second one.
    const QString again = f.pane.currentItemPaths().at(4);
    f.pane.performDrop({again}, 0);
    EXPECT_EQ(f.pane.numberOfItems(), 5);
    EXPECT_EQ(f.pane.indexForPath(again), 0);
}

TEST_F(PanesTest, EqualTitlesShowPartialPathsUntilOneLeaves)
{
    CoolerFixture f(QStringLiteral("titles"));
    const QString a = home() + QStringLiteral("/titlesA/report.pdf");
    const QString b = home() + QStringLiteral("/titlesB/report.pdf");
    KelsoTest::writeFile(a);
    KelsoTest::writeFile(b);
    f.pane.addPaths({a}, 0);
    EXPECT_EQ(f.pane.itemAtIndex(0)->imageTitle(), QStringLiteral("report.pdf"));
    f.pane.addPaths({b}, 0);
    EXPECT_EQ(f.pane.itemAtIndex(0)->imageTitle(), QStringLiteral("titlesB/report.pdf"));
    EXPECT_EQ(f.pane.itemAtIndex(1)->imageTitle(), QStringLiteral("titlesA/report.pdf"));
    f.pane.imageBrowserRemoveKLItems({f.pane.itemAtIndex(0)}, false);
    f.pane.checkForDuplicateDisplayNames();
    EXPECT_EQ(f.pane.itemAtIndex(0)->imageTitle(), QStringLiteral("report.pdf"));
}

TEST_F(PanesTest, SelectNextDocumentStaysInsideTheList)
{
    CoolerFixture f(QStringLiteral("next"));
    f.pane.addPaths(makeFiles(QStringLiteral("next"), 3), 0);
    f.settle();
    f.pane.clearSelection();
    EXPECT_FALSE(f.pane.selectNextDocumentWithOffset(1)) << "no selection";
    f.pane.selectIndexes({0});
    EXPECT_FALSE(f.pane.selectNextDocumentWithOffset(-1));
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{0});
    EXPECT_TRUE(f.pane.selectNextDocumentWithKey(Qt::Key_Right));
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{1});
    EXPECT_TRUE(f.pane.selectNextDocumentWithOffset(1));
    EXPECT_FALSE(f.pane.selectNextDocumentWithKey(Qt::Key_Forward));
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{2});
    EXPECT_FALSE(f.pane.selectNextDocumentWithKey(Qt::Key_A));
    // With several selected, the move starts from the first.
    f.pane.selectIndexes({1, 2});
    EXPECT_TRUE(f.pane.selectNextDocumentWithKey(Qt::Key_Left));
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{0});
}

TEST_F(PanesTest, ArrowKeysStopAtTheEnds)
{
    CoolerFixture f(QStringLiteral("keys"));
    f.pane.addPaths(makeFiles(QStringLiteral("keys"), 3), 0);
    f.settle();
    f.view.setFocus();
    f.pane.selectIndexes({0});
    QTest::keyClick(&f.view, Qt::Key_Left);
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{0});
    QTest::keyClick(&f.view, Qt::Key_Right);
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{1});
    f.pane.selectIndexes({2});
    QTest::keyClick(&f.view, Qt::Key_Right);
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{2});
    // Delete removes the selected cell (without trashing) and selects its neighbour.
    QTest::keyClick(&f.view, Qt::Key_Delete);
    EXPECT_EQ(f.pane.numberOfItems(), 2);
    EXPECT_EQ(f.pane.selectionIndexes(), QList<int>{1});
}

TEST_F(PanesTest, ReturnOpensTheTagEditorAndSpaceThePreview)
{
    CoolerFixture f(QStringLiteral("keys2"));
    const QStringList files = makeFiles(QStringLiteral("keys2"), 3);
    f.pane.addPaths(files, 0);
    f.settle();
    f.view.setFocus();
    f.pane.selectIndexes({0, 2});
    QStringList edited;
    f.services.tagEditorOpener = [&](const QStringList &paths) { edited = paths; };
    QTest::keyClick(&f.view, Qt::Key_Return);
    EXPECT_EQ(edited, (QStringList{files[0], files[2]}));
    f.services.tagEditorOpener = {};

    // No desktop previewer on this bus: Kelso's own preview window, following the selection.
    ASSERT_FALSE(KLPreviewPanel::desktopPreviewerAvailable());
    f.pane.selectIndexes({1});
    QTest::keyClick(&f.view, Qt::Key_Space);
    ASSERT_TRUE(KLPreviewPanel::shared().isOpen());
    EXPECT_EQ(KLPreviewPanel::shared().shownPath(), files[1]);
    EXPECT_EQ(KLPreviewPanel::shared().window()->windowTitle(), QStringLiteral("file1.txt"));
    f.pane.selectIndexes({2});
    EXPECT_EQ(KLPreviewPanel::shared().shownPath(), files[2]);
    QTest::keyClick(KLPreviewPanel::shared().window(), Qt::Key_Space);
    EXPECT_FALSE(KLPreviewPanel::shared().isOpen());
    // The large picture is rendered on the thumbnail queue: let it finish before the
    // application object goes away.
    KPQuickLook::removeAllRequests();
    EXPECT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(20000));
}

TEST_F(PanesTest, TheDeleteBadgeRemovesTheItemButNeverTheFile)
{
    CoolerFixture f(QStringLiteral("badge"));
    const QStringList files = makeFiles(QStringLiteral("badge"), 3);
    f.pane.addPaths(files, 0);
    f.settle();
    const QRect badge = f.view.deleteFrameRectForIndex(1);
    ASSERT_FALSE(badge.isNull());
    // A click in the badge's square while no badge shows is an ordinary click.
    EXPECT_FALSE(f.view.handleClick(badge.center(), Qt::NoModifier));
    f.view.setShowsDelete(1, true);
    EXPECT_EQ(f.view.deleteBadgeIndex(), 1);
    EXPECT_TRUE(f.view.handleClick(badge.center(), Qt::NoModifier));
    EXPECT_EQ(f.pane.currentItemPaths(), (QStringList{files[0], files[2]}));
    EXPECT_TRUE(QFile::exists(files[1]));
    EXPECT_EQ(f.view.deleteBadgeIndex(), -1);
    // The badge sits at the top-left corner of the picture.
    const QRect frame = f.view.imageFrameForIndex(0);
    EXPECT_EQ(f.view.deleteFrameRectForIndex(0), QRect(frame.topLeft(), QSize(16, 16)));
}

TEST_F(PanesTest, TrashConfirmationTexts)
{
    const QStringList files = makeFiles(QStringLiteral("trash"), 2);
    const KLItemPtr one = KLItem::create(files[0]);
    const KLItemPtr two = KLItem::create(files[1]);

    KLTrashWarning w = KLImageBrowserViewDelegate::trashWarningFor({}, false);
    EXPECT_FALSE(w.ask);
    EXPECT_FALSE(w.proceed) << "nothing to trash answers no";

    w = KLImageBrowserViewDelegate::trashWarningFor({one}, false);
    EXPECT_TRUE(w.ask);
    EXPECT_EQ(w.message, QStringLiteral("Move \u201cfile0.txt\u201d to the trash?"));
    EXPECT_EQ(w.informativeText, QStringLiteral("You can put it back from the trash."));
    EXPECT_EQ(w.confirmButton, QStringLiteral("Move to Trash"));

    w = KLImageBrowserViewDelegate::trashWarningFor({one, two}, false);
    EXPECT_EQ(w.message, QStringLiteral("Move 2 items to the trash?"));
    EXPECT_EQ(w.informativeText, QStringLiteral("You can put them back from the trash."));

    w = KLImageBrowserViewDelegate::trashWarningFor({one, two}, true);
    EXPECT_FALSE(w.ask);
    EXPECT_TRUE(w.proceed);

    // A folder always asks, even with the warning turned off.
    const KLItemPtr folder = KLItem::create(home() + QStringLiteral("/trash"));
    w = KLImageBrowserViewDelegate::trashWarningFor({one, folder}, true);
    EXPECT_TRUE(w.ask);
    EXPECT_TRUE(w.folder);
    EXPECT_EQ(w.message, QStringLiteral("Move 2 items to the trash?"));
    EXPECT_EQ(w.informativeText,
              QStringLiteral("This includes the folder \u201ctrash\u201d (2 items) and everything in it."));
}

TEST_F(PanesTest, CancelledTrashingLeavesItemsAndFiles)
{
    CoolerFixture f(QStringLiteral("trashcancel"));
    const QStringList files = makeFiles(QStringLiteral("trashcancel"), 2);
    f.pane.addPaths(files, 0);
    Defaults::standard().setBool(QStringLiteral("KPDONTWarnAboutTrashingFiles"), false);
    int asked = 0;
    f.services.trashAlertPresenter = [&](const KLTrashWarning &) {
        ++asked;
        return false;
    };
    f.pane.imageBrowserRemoveKLItems({f.pane.itemAtIndex(0)}, true);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(f.pane.numberOfItems(), 2);
    EXPECT_TRUE(QFile::exists(files[0]));
    // Confirmed: the item leaves and its file goes to the trash.
    f.services.trashAlertPresenter = [&](const KLTrashWarning &) { return true; };
    f.pane.imageBrowserRemoveKLItems({f.pane.itemAtIndex(0)}, true);
    ASSERT_TRUE(XPFileJobs::shared().waitUntilIdle(10000));
    EXPECT_EQ(f.pane.numberOfItems(), 1);
    EXPECT_FALSE(QFile::exists(files[0]));
}

TEST_F(PanesTest, DragMasksFollowAlwaysCopy)
{
    EXPECT_EQ(KLDragOperation::sourceOperationMask(true), 33u);
    EXPECT_EQ(KLDragOperation::sourceOperationMask(false), KLDragOperation::Every);
    EXPECT_EQ(KLDragOperation::dropActionsForMask(33), Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(KLDragOperation::dropActionsForMask(KLDragOperation::Every),
              Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
}

TEST_F(PanesTest, ItemsInTheTrashLeaveTheCoolerAtActivation)
{
    CoolerFixture f(QStringLiteral("trashed"));
    const QStringList files = makeFiles(QStringLiteral("trashed"), 2);
    const QString inVolumeTrash = home() + QStringLiteral("/vol/.Trash-1000/files/old.txt");
    KelsoTest::writeFile(inVolumeTrash);
    f.pane.addPaths({files[0], inVolumeTrash, files[1]}, 0);
    // Trashed by another program: the file is gone from its place and recorded in the trash.
    QDir().mkpath(qEnvironmentVariable("XDG_DATA_HOME"));
    QString trashedPath;
    ASSERT_TRUE(QFile::moveToTrash(files[1], &trashedPath));
    KLItem::waitForBackgroundUpdates();
    f.pane.itemAtIndex(2)->calculateCache();
    f.pane.applicationWillBecomeActive();
    // The trash is looked into off the main thread; the items go when the answer arrives.
    EXPECT_EQ(f.pane.numberOfItems(), 3);
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !f.pane.trashCheckPending(); }));
    EXPECT_EQ(f.pane.currentItemPaths(), QStringList{files[0]});
    EXPECT_TRUE(QFile::exists(inVolumeTrash)) << "removing from the Cooler never touches files";
}

TEST_F(PanesTest, TrashRecordsAreMatchedByTheOriginalPathNotByTheName)
{
    const QString info = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/info");
    QDir().mkpath(info);
    auto record = [&](const QString &name, const QByteArray &path) {
        KelsoTest::writeFile(info + QLatin1Char('/') + name + QStringLiteral(".trashinfo"),
                             "[Trash Info]\nPath=" + path + "\nDeletionDate=2026-12-01T10:00:00\n");
    };
    const QString trashed = home() + QStringLiteral("/one/report.txt");
    const QString deleted = home() + QStringLiteral("/two/report.txt"); // same name, never trashed
    const QString spaced = home() + QStringLiteral("/one/my notes.txt");
    record(QStringLiteral("report.txt"), QFile::encodeName(trashed));
    record(QStringLiteral("report.2.txt"), "/somewhere/else/report.txt");
    record(QStringLiteral("my notes.txt"), QUrl::toPercentEncoding(spaced, "/"));
    record(QStringLiteral("broken.txt"), "/bad%zzescape");
    // Many unrelated records: the folder is read once for all the paths asked about.
    for (int i = 0; i < 300; ++i)
        record(QStringLiteral("other%1.txt").arg(i),
               QFile::encodeName(home() + QStringLiteral("/x/other%1.txt").arg(i)));

    const QStringList found = KLCoolerImageBrowserDelegate::missingFilesThatWereTrashed(
        {trashed, deleted, spaced, home() + QStringLiteral("/bad")});
    EXPECT_EQ(QSet<QString>(found.cbegin(), found.cend()), (QSet<QString>{trashed, spaced}));
    EXPECT_TRUE(KLCoolerImageBrowserDelegate::missingFilesThatWereTrashed({deleted}).isEmpty());
}

TEST_F(PanesTest, CoolerStoreIsWrittenOnTheFirstAndEveryEighthDeactivationAndAtQuit)
{
    CoolerFixture f(QStringLiteral("writes"));
    f.pane.addPaths(makeFiles(QStringLiteral("writes"), 2), 0);
    QList<int> writtenOn;
    for (int i = 1; i <= 16; ++i) {
        QFile::remove(f.store);
        f.pane.applicationDidResignActive();
        KLCoolerStore::waitForBackgroundWork();
        if (QFile::exists(f.store))
            writtenOn.append(i);
    }
    EXPECT_EQ(writtenOn, (QList<int>{1, 8, 15}));
    QFile::remove(f.store);
    f.pane.applicationWillTerminate();
    EXPECT_TRUE(QFile::exists(f.store));
    // The next run reads the same items in the same order.
    KLCoolerImageBrowserDelegate again(f.store);
    EXPECT_EQ(again.currentItemPaths(), f.pane.currentItemPaths());
}

TEST_F(PanesTest, RecentPaneEntersAndLeavesStacks)
{
    auto source = std::make_unique<FakeSource>();
    FakeSource *src = source.get();
    const QStringList files = makeFiles(QStringLiteral("recent"), 3);
    const QStringList inside = makeFiles(QStringLiteral("recent/busy"), 4);
    KLItemPtr stack = KLItem::create(home() + QStringLiteral("/recent/busy"));
    for (const QString &p : inside)
        stack->addSubItem(KLItem::create(p));
    src->top = {KLItem::create(files[0]), stack, KLItem::create(files[1])};
    for (const QString &p : inside)
        src->folders[stack->lastKnownPath()].append(KLItem::create(p));

    KLKelsoImageBrowserDelegate pane(std::move(source));
    KLImageBrowserView view;
    view.setFixedSize(800, 400);
    pane.setImageBrowser(&view);
    view.show();
    QSignalSpy paths(&pane, &KLKelsoImageBrowserDelegate::hasCurrentPathChanged);
    pane.applicationDidFinishLaunching();
    EXPECT_EQ(pane.numberOfItems(), 3);
    EXPECT_FALSE(pane.hasCurrentPath());
    EXPECT_EQ(pane.explanation(), QStringLiteral("Files you created, changed, downloaded or opened lately. "
                                                 "Double-click a stack to look inside."));

    pane.imageBrowserCellWasDoubleClickedAtIndex(1);
    EXPECT_TRUE(pane.hasCurrentPath());
    EXPECT_EQ(pane.currentPath(), stack->lastKnownPath());
    QStringList shown = pane.currentItemPaths();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, inside);
    EXPECT_EQ(pane.selectionIndexes(), QList<int>{0});
    EXPECT_EQ(pane.explanation(), QStringLiteral("Recent files in ~/recent/busy"));
    ASSERT_FALSE(paths.isEmpty());
    EXPECT_TRUE(paths.last().first().toBool());

    // Every activation returns to the top level.
    pane.applicationWillBecomeActive();
    EXPECT_FALSE(pane.hasCurrentPath());
    EXPECT_EQ(pane.numberOfItems(), 3);
    EXPECT_FALSE(paths.last().first().toBool());

    // Removing asks the collector to forget the item and updates the list.
    pane.imageBrowserRemoveKLItems({pane.itemAtIndex(0)}, false);
    EXPECT_EQ(src->removed.size(), 1);
    EXPECT_EQ(pane.numberOfItems(), 2);
    EXPECT_TRUE(QFile::exists(files[0]));
}

TEST_F(PanesTest, RecentPaneLeavesOutTheCoolersFirstRowAndSavesOnEveryFifthDeactivation)
{
    auto source = std::make_unique<FakeSource>();
    FakeSource *src = source.get();
    const QStringList files = makeFiles(QStringLiteral("recent2"), 4);
    for (const QString &p : files)
        src->top.append(KLItem::create(p));
    CoolerFixture cooler(QStringLiteral("recent2"));
    cooler.pane.addPaths({files[1]}, 0);
    cooler.settle();
    KLKelsoImageBrowserDelegate pane(std::move(source));
    pane.setCoolerDelegate(&cooler.pane);
    pane.updateChangedFiles();
    EXPECT_EQ(src->lastExcluded, QSet<QString>{files[1]});
    EXPECT_EQ(pane.currentItemPaths(), (QStringList{files[0], files[2], files[3]}));

    // A settings change of the exclusion lists asks again.
    src->top.removeLast();
    Defaults::standard().setValue(QStringLiteral("unwantedExtensions"), QStringList{QStringLiteral("tmp")});
    EXPECT_EQ(pane.numberOfItems(), 2);

    // Every fifth resignation saves, off the GUI thread; the quit saves before it returns.
    QList<int> savedOn;
    for (int i = 1; i <= 11; ++i) {
        const int before = src->backgroundWrites;
        pane.applicationDidResignActive();
        if (src->backgroundWrites > before)
            savedOn.append(i);
    }
    EXPECT_EQ(savedOn, (QList<int>{1, 6, 11}));
    EXPECT_EQ(src->writes, 0);
    pane.applicationWillTerminate();
    EXPECT_EQ(src->writes, 1);
    EXPECT_EQ(src->backgroundWrites, 3);
}

} // namespace

TEST_F(PanesTest, InsideAStackTheCountMatchesItsBadgeAndTheHeaderNamesTheFolderFromHome)
{
    auto source = std::make_unique<FakeSource>();
    FakeSource *src = source.get();
    const QStringList direct = makeFiles(QStringLiteral("Music"), 3);
    const QStringList nested = makeFiles(QStringLiteral("Music/Live"), 2);
    KLItemPtr stack = KLItem::create(home() + QStringLiteral("/Music"));
    for (const QString &p : direct + nested)
        stack->addSubItem(KLItem::create(p));
    src->top = {stack, KLItem::create(makeFiles(QStringLiteral("other"), 1).first())};
    // The folder's own events hold only its direct files; the stack also gathered its subfolder's.
    for (const QString &p : direct)
        src->folders[stack->lastKnownPath()].append(KLItem::create(p));

    KLKelsoImageBrowserDelegate pane(std::move(source));
    KLImageBrowserView view;
    view.setFixedSize(800, 400);
    pane.setImageBrowser(&view);
    view.show();
    pane.applicationDidFinishLaunching();
    ASSERT_EQ(pane.itemAtIndex(0), stack);
    const int badge = stack->stackCount();
    EXPECT_EQ(badge, 5);

    pane.imageBrowserCellWasDoubleClickedAtIndex(0);
    EXPECT_EQ(pane.numberOfItems(), badge);
    EXPECT_EQ(pane.currentNumberOfItemsString(), QStringLiteral("5 items"));
    QStringList inside = pane.currentItemPaths();
    QStringList expected = direct + nested;
    std::sort(inside.begin(), inside.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(inside, expected);
    EXPECT_EQ(pane.explanation(), QStringLiteral("Recent files in ~/Music"));

    // When the folder is no longer a stack, its own recent files are shown.
    src->top = {KLItem::create(direct.first())};
    pane.updateChangedFiles();
    EXPECT_EQ(pane.numberOfItems(), 3);
}
