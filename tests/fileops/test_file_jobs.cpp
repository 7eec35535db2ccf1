// The window's file operations (trash, filing, Move To, managed marks) run on a worker thread:
// the GUI thread's event loop keeps turning while one waits on the disk, the result comes back
// to the GUI thread, failures are still told, and a second operation on a busy item is refused
// without touching anything.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLServices.h"
#include "fileops/XPFileJobs.h"
#include "platform/Defaults.h"
#include "search/gui/KLFilePickerMenu.h"
#include "support/TestSupport.h"
#include "tags/XPFiledDocuments.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <atomic>
#include <gtest/gtest.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString freshFolder(const QString &name)
{
    const QString dir = KelsoTest::home() + QStringLiteral("/") + name + QStringLiteral("-") +
                        QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(dir);
    return dir;
}

// Holds each operation's work on its thread until the test lets it go (at most 3 s, so that a
// run on the caller's own thread shows up as a failure, not a hang).
struct HeldWorker {
    std::atomic<bool> released{false};
    std::atomic<bool> finished{false};
    std::atomic<QThread *> thread{nullptr};

    void install(XPFileJobs &jobs)
    {
        jobs.setWorkerHook([this] {
            thread = QThread::currentThread();
            const QDeadlineTimer deadline(3000);
            while (!released && !deadline.hasExpired())
                QThread::msleep(2);
            finished = true;
        });
    }
    // A timer of the GUI thread fires while the work is still held.
    bool eventLoopTurnsWhileHeld()
    {
        bool fired = false;
        QTimer::singleShot(0, qApp, [&fired] { fired = true; });
        KelsoTest::waitFor([&fired] { return fired; }, 2000);
        return fired && !finished;
    }
};

class FileJobs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
        services.trashAlertPresenter = [](const KLTrashWarning &) { return true; };
        services.fileFailurePresenter = [this](const KLFileFailureReport &report, QWidget *) {
            reports.append(report);
        };
        services.beeper = [this] { ++beeps; };
        services.fileJobs = &jobs;
    }
    void TearDown() override
    {
        held.released = true;
        EXPECT_TRUE(jobs.waitUntilIdle(10000));
    }

    XPFileJobs jobs;
    HeldWorker held;
    KLServices services;
    QList<KLFileFailureReport> reports;
    int beeps = 0;
};

} // namespace

TEST_F(FileJobs, WorkRunsOnAWorkerAndItsResultComesBackOnTheCallersThread)
{
    QThread *workThread = nullptr;
    QThread *doneThread = nullptr;
    int answer = 0;
    QList<bool> busyStates;
    QObject::connect(&jobs, &XPFileJobs::busyChanged, [&busyStates](bool busy) { busyStates.append(busy); });
    ASSERT_TRUE(jobs.run<int>(
        {QStringLiteral("/x/a")},
        [&workThread] {
            workThread = QThread::currentThread();
            return 42;
        },
        nullptr,
        [&](const int &result) {
            doneThread = QThread::currentThread();
            answer = result;
        }));
    EXPECT_FALSE(jobs.isIdle());
    ASSERT_TRUE(jobs.waitUntilIdle(5000));
    EXPECT_NE(workThread, nullptr);
    EXPECT_NE(workThread, qApp->thread());
    EXPECT_EQ(doneThread, qApp->thread());
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(busyStates, (QList<bool>{true, false}));
}

TEST_F(FileJobs, ABusyItemItsFolderAndWhatItHoldsRefuseASecondOperationUntilTheFirstEnds)
{
    held.install(jobs);
    int ran = 0;
    const std::function<void(const int &)> count = [&ran](const int &) { ++ran; };
    ASSERT_TRUE(jobs.run<int>(
        {QStringLiteral("/x/Album")}, [] { return 1; }, nullptr, count));
    EXPECT_FALSE(jobs.run<int>(
        {QStringLiteral("/x/Album")}, [] { return 1; }, nullptr, count))
        << "the same item";
    EXPECT_FALSE(jobs.run<int>(
        {QStringLiteral("/x/Album/photo.jpg")}, [] { return 1; }, nullptr, count))
        << "an item inside the busy folder";
    EXPECT_FALSE(jobs.run<int>(
        {QStringLiteral("/y"), QStringLiteral("/x")}, [] { return 1; }, nullptr, count))
        << "the folder holding the busy item";
    EXPECT_TRUE(jobs.isBusy(QStringLiteral("/x/Album/photo.jpg")));
    EXPECT_FALSE(jobs.isBusy(QStringLiteral("/x/Album 2")));
    EXPECT_FALSE(jobs.isBusy(QStringLiteral("/y"))) << "a refused operation claims nothing";
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(5000));
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(jobs.isBusy(QStringLiteral("/x/Album")));
    EXPECT_TRUE(jobs.run<int>(
        {QStringLiteral("/x/Album")}, [] { return 1; }, nullptr, count));
    ASSERT_TRUE(jobs.waitUntilIdle(5000));
    EXPECT_EQ(ran, 2);
}

TEST_F(FileJobs, AResultWhoseReceiverIsGoneIsDropped)
{
    held.install(jobs);
    auto *receiver = new QObject;
    bool delivered = false;
    ASSERT_TRUE(jobs.run<int>(
        {QStringLiteral("/z")}, [] { return 1; }, receiver, [&delivered](const int &) { delivered = true; }));
    delete receiver;
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(5000));
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(jobs.isBusy(QStringLiteral("/z"))) << "the item is free again";
}

TEST_F(FileJobs, TrashWaitsOnAWorkerWhileTheWindowKeepsTurning)
{
    held.install(jobs);
    const QString file = freshFolder(QStringLiteral("trash")) + QStringLiteral("/Old.txt");
    KelsoTest::writeFile(file, "old");
    KLCoolerImageBrowserDelegate pane(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    pane.setServices(&services);
    pane.addPaths({file}, 0);
    ASSERT_EQ(pane.numberOfItems(), 1);

    pane.imageBrowserRemoveKLItems(pane.items(), true);
    EXPECT_TRUE(held.eventLoopTurnsWhileHeld()) << "the GUI thread waited for the trash";
    EXPECT_EQ(pane.numberOfItems(), 1) << "the item stays until its file has gone";
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));
    EXPECT_NE(held.thread.load(), qApp->thread());
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(pane.numberOfItems(), 0);
    EXPECT_TRUE(reports.isEmpty());
}

TEST_F(FileJobs, FilingWaitsOnAWorkerAndStillReportsWhatFailed)
{
    held.install(jobs);
    const QString root = freshFolder(QStringLiteral("filed"));
    Defaults::standard().setValue(XPFiledDocuments::kFiledDocumentsPathKey, root);
    XPFiledDocuments::forgetRoot();
    const QString from = freshFolder(QStringLiteral("to-file"));
    const QString file = from + QStringLiteral("/Receipt.txt");
    KelsoTest::writeFile(file, "receipt");
    const QString missing = from + QStringLiteral("/missing.txt");

    KLCoolerImageBrowserDelegate pane(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    pane.setServices(&services);
    pane.setSelectionsFiledDocs({file, missing});
    EXPECT_TRUE(held.eventLoopTurnsWhileHeld()) << "the GUI thread waited for the filing";
    EXPECT_TRUE(QFileInfo::exists(file)) << "nothing moved before the worker ran";
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);
    XPFiledDocuments::forgetRoot();

    EXPECT_NE(held.thread.load(), qApp->thread());
    const QDate d = QDate::currentDate();
    EXPECT_TRUE(
        QFileInfo::exists(root + QStringLiteral("/%1/%2/%3/Receipt.txt").arg(d.year()).arg(d.month()).arg(d.day())));
    EXPECT_FALSE(QFileInfo::exists(file));
    ASSERT_EQ(reports.size(), 1) << "the missing file is told";
    ASSERT_EQ(reports[0].failures.size(), 1);
    EXPECT_EQ(reports[0].failures[0].path, missing);
}

TEST_F(FileJobs, MoveToWaitsOnAWorkerAndBeepsForAFileWhoseNameIsTaken)
{
    held.install(jobs);
    const QString from = freshFolder(QStringLiteral("move-from"));
    const QString to = freshFolder(QStringLiteral("move-to"));
    const QString free = from + QStringLiteral("/Plan.txt");
    const QString taken = from + QStringLiteral("/Taken.txt");
    KelsoTest::writeFile(free, "plan");
    KelsoTest::writeFile(taken, "mine");
    KelsoTest::writeFile(to + QStringLiteral("/Taken.txt"), "theirs");

    auto picker = std::make_unique<KLFilePickerMenu>();
    picker->setMenuSelector(KLFilePickerMenu::MoveToPath);
    picker->setFilesToMove({free, taken});
    picker->setBeeper([this] { ++beeps; });
    picker->setFileJobs(&jobs);
    QAction entry;
    entry.setData(QUrl::fromLocalFile(to));
    picker->moveToPath(&entry);
    // The menu (and its picker) may go while the move runs.
    picker.reset();
    EXPECT_TRUE(held.eventLoopTurnsWhileHeld()) << "the GUI thread waited for the move";
    EXPECT_TRUE(QFileInfo::exists(free));
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));

    EXPECT_NE(held.thread.load(), qApp->thread());
    EXPECT_TRUE(QFileInfo::exists(to + QStringLiteral("/Plan.txt")));
    EXPECT_FALSE(QFileInfo::exists(free));
    EXPECT_TRUE(QFileInfo::exists(taken)) << "the file that could not go stays";
    QFile theirs(to + QStringLiteral("/Taken.txt"));
    ASSERT_TRUE(theirs.open(QIODevice::ReadOnly));
    EXPECT_EQ(theirs.readAll(), QByteArray("theirs")) << "nothing replaced";
    EXPECT_EQ(beeps, 1);
}

TEST_F(FileJobs, ASecondActionOnABusyItemIsRefusedAndLeavesItAlone)
{
    held.install(jobs);
    const QString root = freshFolder(QStringLiteral("filed-busy"));
    Defaults::standard().setValue(XPFiledDocuments::kFiledDocumentsPathKey, root);
    XPFiledDocuments::forgetRoot();
    const QString file = freshFolder(QStringLiteral("busy")) + QStringLiteral("/Busy.txt");
    KelsoTest::writeFile(file, "busy");
    KLCoolerImageBrowserDelegate pane(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    pane.setServices(&services);
    pane.addPaths({file}, 0);

    pane.imageBrowserRemoveKLItems(pane.items(), true); // trash, held on the worker
    pane.setSelectionsFiledDocs({file});                // filing the same file meanwhile
    pane.imageBrowserRemoveKLItems(pane.items(), true); // and trashing it again
    EXPECT_EQ(beeps, 2) << "each refused action beeps";
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);
    XPFiledDocuments::forgetRoot();

    EXPECT_FALSE(QFileInfo::exists(file)) << "the first action, the trash, went through";
    const QDate d = QDate::currentDate();
    EXPECT_FALSE(
        QFileInfo::exists(root + QStringLiteral("/%1/%2/%3/Busy.txt").arg(d.year()).arg(d.month()).arg(d.day())));
    EXPECT_EQ(pane.numberOfItems(), 0);
    EXPECT_TRUE(reports.isEmpty()) << "a refused action is no failure of the first";
}

TEST_F(FileJobs, ManagedMarksAreWrittenOnAWorker)
{
    held.install(jobs);
    const QString file = freshFolder(QStringLiteral("marks")) + QStringLiteral("/Mark.txt");
    KelsoTest::writeFile(file, "mark");
    KLCoolerImageBrowserDelegate pane(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    pane.setServices(&services);
    pane.setSelectionsManaged({file}, true);
    EXPECT_TRUE(held.eventLoopTurnsWhileHeld()) << "the GUI thread waited for the attribute writes";
    EXPECT_FALSE(XPFiledDocuments::managedMark(file).value_or(false));
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));
    EXPECT_NE(held.thread.load(), qApp->thread());
    EXPECT_TRUE(XPFiledDocuments::managedMark(file).value_or(false));
}

TEST_F(FileJobs, TheGridShowsABusyPointerWhileAnOperationRuns)
{
    held.install(jobs);
    const QString file = freshFolder(QStringLiteral("busy-pointer")) + QStringLiteral("/Big.bin");
    KelsoTest::writeFile(file, "big");
    KLCoolerImageBrowserDelegate pane(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    pane.setServices(&services);
    KLImageBrowserView view;
    pane.setImageBrowser(&view);
    pane.addPaths({file}, 0);
    const Qt::CursorShape before = view.cursor().shape();
    ASSERT_NE(before, Qt::BusyCursor);

    pane.imageBrowserRemoveKLItems(pane.items(), true);
    EXPECT_EQ(view.cursor().shape(), Qt::BusyCursor);
    held.released = true;
    ASSERT_TRUE(jobs.waitUntilIdle(10000));
    EXPECT_EQ(view.cursor().shape(), before) << "the pointer is back once the result is in";
    EXPECT_FALSE(QFileInfo::exists(file));
}

TEST(SharedFileJobs, QuittingWaitsForTheOperationUnderWay)
{
    XPFileJobs &shared = XPFileJobs::shared();
    std::atomic<bool> finished{false};
    ASSERT_TRUE(shared.run<int>({QStringLiteral("/quit/Big.iso")},
                                [&finished] {
                                    QThread::msleep(300);
                                    finished = true;
                                    return 0;
                                },
                                nullptr, {}));
    // The event loop ends at once; leaving it is when the application quits.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    qApp->exec();
    EXPECT_TRUE(finished) << "the application went while a file operation was still running";
    EXPECT_TRUE(shared.waitUntilIdle(5000));
}
