// The rename sheet, the progress sheet, the status message and the open-with menu, offscreen.
#include "fileops/XPFileJobs.h"
#include "fileops/gui/XPOpenWithMenu.h"
#include "fileops/gui/XPProgressController.h"
#include "fileops/gui/XPSimpleFileRenameController.h"
#include "fileops/gui/XPStatusDisplayer.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

namespace {
// The sheet's rename runs through XPFileJobs: wait for its outcome (turning the event loop).
// A sheet that closed goes away: the wait ends then too.
bool renameDone(XPSimpleFileRenameController *sheet)
{
    const QPointer<XPSimpleFileRenameController> guard(sheet);
    return KelsoTest::waitFor([&] { return !guard || !guard->isRenaming(); }, 10000);
}

QString freshFolder(const QString &name)
{
    const QString f = KelsoTest::home() + "/" + name;
    QDir(f).removeRecursively();
    QDir().mkpath(f);
    return f;
}
} // namespace

TEST(RenameSheet, RenamesWithTheRulesAndKeepsTheSheetForNamesToFix)
{
    const QString dir = freshFolder("sheet");
    KelsoTest::writeFile(dir + "/Report.pdf", "r");
    KelsoTest::writeFile(dir + "/Taken.pdf", "t");
    QWidget window;
    window.show();

    auto *sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Report.pdf", &window);
    ASSERT_EQ(XPSimpleFileRenameController::current(), sheet);
    EXPECT_EQ(sheet->originalName()->text(), "Report.pdf");
    EXPECT_EQ(sheet->newName()->text(), "Report.pdf");
    EXPECT_EQ(sheet->newName()->selectedText(), "Report"); // typing replaces the stem only
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);

    // A "/" in the name: refused with a message, the sheet stays.
    sheet->newName()->setText("a/b");
    sheet->okAction();
    ASSERT_TRUE(renameDone(sheet));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(sheet->messageLabel()->isHidden());
    EXPECT_FALSE(sheet->messageLabel()->text().isEmpty());
    // A taken name: likewise.
    sheet->newName()->setText("Taken");
    sheet->okAction();
    ASSERT_TRUE(renameDone(sheet));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(QFileInfo::exists(dir + "/Report.pdf"));

    QSignalSpy renamed(sheet, &XPSimpleFileRenameController::renamed);
    sheet->newName()->setText("Summary");
    sheet->okAction();
    // The rename runs on a worker: the sheet waits with its field and OK disabled.
    EXPECT_TRUE(sheet->isRenaming());
    EXPECT_FALSE(sheet->okButton()->isEnabled());
    ASSERT_TRUE(renameDone(sheet));
    ASSERT_EQ(renamed.count(), 1);
    EXPECT_EQ(renamed.at(0).at(1).toString(), dir + "/Summary.pdf");
    EXPECT_TRUE(QFileInfo::exists(dir + "/Summary.pdf"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/Report.pdf"));
    EXPECT_TRUE(KelsoTest::waitFor([] { return XPSimpleFileRenameController::current() == nullptr; }));

    // A one-character stem closes the sheet and changes nothing; so does Cancel.
    sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Summary.pdf", &window);
    QPointer<XPSimpleFileRenameController> shortStem(sheet);
    sheet->newName()->setText("A");
    sheet->okAction();
    ASSERT_TRUE(renameDone(sheet));
    EXPECT_TRUE(!shortStem || !shortStem->isVisible());
    EXPECT_TRUE(QFileInfo::exists(dir + "/Summary.pdf"));
    sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Summary.pdf", &window);
    sheet->newName()->setText("Other");
    sheet->cancelAction();
    EXPECT_TRUE(QFileInfo::exists(dir + "/Summary.pdf"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/Other.pdf"));
}

TEST(RenameSheet, ARenameTheSystemRefusesKeepsTheSheetWithTheReasonAndRunsOffTheGuiThread)
{
    const QString dir = freshFolder("sheet-refused");
    KelsoTest::writeFile(dir + "/Draft.txt", "d");
    XPFileJobs jobs;
    std::atomic<bool> onGuiThread{false};
    jobs.setWorkerHook([&] { onGuiThread = QThread::currentThread() == qApp->thread(); });
    QWidget window;
    window.show();
    auto *sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Draft.txt", &window, &jobs);
    // The file goes after the sheet opened (another program moved it): the name is fine, the
    // rename itself fails. The user is told, and nothing appears under the new name.
    ASSERT_TRUE(QFile::remove(dir + "/Draft.txt"));
    QSignalSpy renamed(sheet, &XPSimpleFileRenameController::renamed);
    sheet->newName()->setText("Final");
    sheet->okAction();
    ASSERT_TRUE(renameDone(sheet));
    EXPECT_FALSE(onGuiThread);
    EXPECT_EQ(renamed.count(), 0);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(sheet->messageLabel()->isHidden());
    EXPECT_FALSE(sheet->messageLabel()->text().isEmpty());
    EXPECT_TRUE(sheet->okButton()->isEnabled());
    EXPECT_TRUE(sheet->newName()->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(dir + "/Final.txt"));
    EXPECT_EQ(sheet->resultingPath(), dir + "/Draft.txt");
    sheet->cancelAction();
}

TEST(RenameSheet, AnItemBusyWithAnotherOperationIsNotRenamedUntilThatEnds)
{
    const QString dir = freshFolder("sheet-busy");
    KelsoTest::writeFile(dir + "/Moving.txt", "m");
    XPFileJobs jobs;
    std::atomic<bool> release{false};
    std::function<bool()> slowMove = [&] {
        while (!release)
            QThread::msleep(5);
        return true;
    };
    ASSERT_TRUE(jobs.run({dir + "/Moving.txt"}, slowMove, nullptr, std::function<void(const bool &)>()));
    auto *sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Moving.txt", nullptr, &jobs);
    sheet->newName()->setText("Renamed");
    sheet->okAction();
    EXPECT_FALSE(sheet->isRenaming());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(sheet->messageLabel()->text().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir + "/Moving.txt"));
    release = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));
    sheet->okAction(); // once the other operation is over, the same OK renames
    ASSERT_TRUE(renameDone(sheet));
    EXPECT_TRUE(QFileInfo::exists(dir + "/Renamed.txt"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/Moving.txt"));
}

TEST(RenameSheet, ANewSheetReplacesThePreviousOne)
{
    const QString dir = freshFolder("sheet2");
    KelsoTest::writeFile(dir + "/one.txt");
    KelsoTest::writeFile(dir + "/two.txt");
    QPointer<XPSimpleFileRenameController> first =
        XPSimpleFileRenameController::showRenameDialogForFile(dir + "/one.txt", nullptr);
    auto *second = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/two.txt", nullptr);
    EXPECT_EQ(XPSimpleFileRenameController::current(), second);
    ASSERT_FALSE(first.isNull());
    EXPECT_FALSE(first->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    second->cancelAction();
}

TEST(ProgressSheet, TheBarMoves166TimesFor1000Increments)
{
    XPProgressController progress({}, "Writing tags", 1000);
    QSignalSpy moves(progress.progress(), &QProgressBar::valueChanged);
    for (int i = 0; i < 1000; ++i)
        progress.incrementBy(1);
    EXPECT_EQ(moves.count(), 166);
    EXPECT_EQ(moves.first().first().toInt(), 6);
    EXPECT_EQ(moves.at(1).first().toInt(), 12);
    EXPECT_EQ(progress.progress()->value(), 996);
    EXPECT_DOUBLE_EQ(progress.totalSoFar(), 1000);
    EXPECT_TRUE(progress.cancelButton()->isHidden()); // no stop target, no stop button
}

TEST(ProgressSheet, TheStopHandlerRunsOnceWhenTheSheetEndsEitherWay)
{
    QWidget window;
    window.show();
    int stops = 0;
    {
        XPProgressController progress([&] { ++stops; }, "Working", 10, "Halt");
        EXPECT_FALSE(progress.cancelButton()->isHidden());
        EXPECT_EQ(progress.cancelButton()->text(), "Halt");
        progress.showProgressWindowModalForWindow(&window);
        EXPECT_TRUE(progress.isVisible());
        QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
        EXPECT_EQ(stops, 1);
        EXPECT_FALSE(progress.isVisible());
        EXPECT_EQ(progress.result(), 0);
        progress.endSheet(1); // already ended: nothing more
        EXPECT_EQ(stops, 1);
    }
    EXPECT_EQ(stops, 1);
    {
        XPProgressController progress([&] { ++stops; }, "Working", -1);
        EXPECT_EQ(progress.progress()->maximum(), 0); // indeterminate
        progress.incrementBy(5);                      // no range: nothing to move
        progress.showProgressWindowModalForWindow(&window);
        progress.setPrompt("Almost");
        EXPECT_EQ(progress.statusField()->text(), "Almost");
        progress.endSheet(1);
        EXPECT_EQ(stops, 2);
        EXPECT_EQ(progress.result(), 1);
    }
    {
        // Going away while shown ends the sheet with code 0.
        XPProgressController progress([&] { ++stops; }, "Working", 3);
        progress.showProgressWindowModalForWindow(&window);
    }
    EXPECT_EQ(stops, 3);
}

TEST(StatusMessage, ShowsOverTheViewAndFadesOutByItself)
{
    QWidget view;
    view.resize(400, 300);
    view.show();
    EXPECT_FALSE(XPStatusDisplayer::hasInstance());
    XPStatusDisplayer *status = XPStatusDisplayer::singleInstance();
    EXPECT_TRUE(XPStatusDisplayer::hasInstance());
    status->showStatusString("3 files tagged", 0.3, &view);
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->mainText()->text(), "3 files tagged");
    status->showStatusString("4 files tagged", 0.3, &view);
    EXPECT_EQ(status->mainText()->text(), "4 files tagged");
    EXPECT_TRUE(status->testAttribute(Qt::WA_TransparentForMouseEvents));
    // Centred over the view, its bottom edge a fifth of the view's height below the view's top.
    const QPoint viewTop = view.mapToGlobal(QPoint(0, 0));
    EXPECT_NEAR(status->x() + status->width() / 2, viewTop.x() + 200, 1);
    EXPECT_NEAR(status->y() + status->height(), viewTop.y() + 60, 1);
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !status->isVisible(); }, 10000));
}

namespace {
struct RecordingTarget : XPOpenWithTarget {
    void openSelectedWithAppAction(const QVariantMap &r) override { app.append(r); }
    void openSelectedWithOtherAction(const QVariantMap &r) override { other.append(r); }
    // The standard entries, noting the thread that found them.
    std::function<QList<XPFileUtils::OpenWithEntry>()> openWithEntriesFinder(const QString &path) const override
    {
        return [path, thread = finderThread] {
            *thread = QThread::currentThread();
            return XPFileUtils::openWithEntriesForDocument(path);
        };
    }
    QList<QVariantMap> app, other;
    std::shared_ptr<std::atomic<QThread *>> finderThread = std::make_shared<std::atomic<QThread *>>(nullptr);
};
} // namespace

TEST(OpenWithMenu, OtherIsLastAndEntriesReachTheTarget)
{
    const QString doc = freshFolder("openwith") + "/notes.kelso-unknown-type";
    KelsoTest::writeFile(doc, "x");
    RecordingTarget target;
    std::unique_ptr<QMenu> menu(XPFileUtils::makeOpenWithMenuForDocument(doc, &target));
    EXPECT_TRUE(menu->title().isEmpty());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return XPFileUtils::openWithMenuIsReady(menu.get()); }));
    ASSERT_FALSE(menu->actions().isEmpty());
    QAction *other = menu->actions().last();
    EXPECT_EQ(other->text(), "Other…");
    other->trigger();
    ASSERT_EQ(target.other.size(), 1);
    EXPECT_EQ(target.other.first(), (QVariantMap{{"path", doc}}));
    for (QAction *a : menu->actions()) {
        if (a->isSeparator() || a == other)
            continue;
        EXPECT_EQ(a->data().toMap().value("path").toString(), doc);
    }

    // "Other…" asks the application chooser about this document; cancelling opens nothing.
    QString asked;
    XPFileUtils::setApplicationChooser([&](QWidget *, const QString &document) {
        asked = document;
        return QString();
    });
    QString error;
    EXPECT_FALSE(XPFileUtils::openWithOther({{"path", doc}}, nullptr, &error));
    EXPECT_EQ(asked, doc);
    EXPECT_TRUE(error.isEmpty()) << "a cancel is not a failure";
    EXPECT_FALSE(XPFileUtils::openWithOther({{"path", QString()}}, nullptr));
    XPFileUtils::setApplicationChooser({});
}

TEST(OpenWithMenu, TheMenuComesBackAtOnceAndItsApplicationsFollowFromAPoolThread)
{
    const QString doc = freshFolder("openwith-later") + "/letter.kelso-unknown-type";
    KelsoTest::writeFile(doc, "x");
    RecordingTarget target;
    std::unique_ptr<QMenu> menu(XPFileUtils::makeOpenWithMenuForDocument(doc, &target));
    // Nothing of the document was looked at on this thread: the menu only says it is looking.
    EXPECT_FALSE(XPFileUtils::openWithMenuIsReady(menu.get()));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->objectName(), "openWithLooking");
    EXPECT_FALSE(menu->actions().first()->isEnabled());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return XPFileUtils::openWithMenuIsReady(menu.get()); }));
    EXPECT_NE(target.finderThread->load(), nullptr);
    EXPECT_NE(target.finderThread->load(), QThread::currentThread()) << "the entries were found on the GUI thread";
    ASSERT_FALSE(menu->actions().isEmpty());
    for (QAction *a : menu->actions())
        EXPECT_NE(a->objectName(), "openWithLooking") << "the looking entry is gone";
    EXPECT_EQ(menu->actions().last()->text(), "Other…");
    menu->actions().last()->trigger();
    ASSERT_EQ(target.other.size(), 1);
    EXPECT_EQ(target.other.first().value("path").toString(), doc);

    // A menu closed and deleted before its applications come is no harm.
    delete XPFileUtils::makeOpenWithMenuForDocument(doc, &target);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}
