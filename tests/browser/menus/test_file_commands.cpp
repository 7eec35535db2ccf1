// What the user is told when a command cannot hand a file to another program, the file dialog
// of "Find Missing File…", the application chooser of "Open With › Other…" and the texts of
// the trash confirmation.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/menus/KLFileCommands.h"
#include "fileops/gui/XPApplicationChooser.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
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

// Calls `act` with the file dialog once it is open (polling, since the dialog runs its own
// event loop), or gives up after five seconds.
void whenFileDialogOpens(const std::function<void(QFileDialog *)> &act)
{
    auto *poll = new QTimer;
    auto *tries = new int(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, act] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
                poll->stop();
                poll->deleteLater();
                delete tries;
                act(dialog);
                return;
            }
        }
        if (++*tries > 100) {
            poll->stop();
            poll->deleteLater();
            delete tries;
        }
    });
    poll->start(50);
}

// Services whose failure presenter keeps the messages instead of showing them.
struct Caught {
    Caught()
    {
        services.fileFailurePresenter = [this](const KLFileFailureReport &m, QWidget *window) {
            messages.append(m);
            windows.append(window);
        };
    }
    KLServices services;
    QList<KLFileFailureReport> messages;
    QList<QWidget *> windows;
};

} // namespace

TEST(FileCommands, AFailureNamesTheFileAndSaysWhy)
{
    using KLFileCommands::Command;
    auto m = KLFileCommands::failureMessage(Command::Open, {{"/home/u/report.kelsoorphan", "No application."}});
    EXPECT_EQ(m.message, QStringLiteral("“report.kelsoorphan” cannot be opened."));
    EXPECT_EQ(m.informativeText, "No application.");
    EXPECT_EQ(m.title, "Open");

    // Several files with one reason: counted, the reason said once.
    m = KLFileCommands::failureMessage(Command::Reveal,
                                       {{"/a/x.txt", "No file manager."}, {"/a/y.txt", "No file manager."}});
    EXPECT_EQ(m.message, QStringLiteral("2 items cannot be shown in a file manager."));
    EXPECT_EQ(m.informativeText, "No file manager.");
    // Different reasons: one line per file.
    m = KLFileCommands::failureMessage(Command::Properties, {{"/a/x.txt", "One."}, {"/a/y.txt", "Two."}});
    EXPECT_EQ(m.message, QStringLiteral("The properties of 2 items cannot be shown."));
    EXPECT_EQ(m.informativeText, "x.txt: One.\ny.txt: Two.");
    EXPECT_TRUE(KLFileCommands::failureMessage(Command::Open, {}).message.isEmpty());
}

TEST(FileCommands, OpeningFilesThatAreGoneGivesOneMessageForAll)
{
    Caught caught;
    const QString folder = home() + "/commands";
    QDir().mkpath(folder);
    KLFileCommands::open({folder + "/gone-1.txt", folder + "/gone-2.txt"}, nullptr, caught.services);
    ASSERT_EQ(caught.messages.size(), 1);
    EXPECT_EQ(caught.messages.first().message, "2 items cannot be opened.");
    EXPECT_EQ(caught.messages.first().informativeText, "It is no longer in ~/commands.");

    KLFileCommands::reveal({folder + "/gone-3.txt"}, nullptr, caught.services);
    KLFileCommands::showProperties({folder + "/gone-3.txt"}, nullptr, caught.services);
    ASSERT_EQ(caught.messages.size(), 3);
    EXPECT_EQ(caught.messages.at(1).message, "“gone-3.txt” cannot be shown in a file manager.");
    EXPECT_EQ(caught.messages.at(2).message, "The properties of “gone-3.txt” cannot be shown.");
    // Nothing asked of nothing: no message.
    KLFileCommands::open({}, nullptr, caught.services);
    EXPECT_EQ(caught.messages.size(), 3);
}

TEST(FileCommands, TheDefaultMessageIsAWindowThatDoesNotBlock)
{
    QWidget window;
    window.show();
    KLFileCommands::reportFailures(KLFileCommands::Command::Open, {{home() + "/x.kelsoorphan", "Because."}}, &window,
                                   KLServices::defaults());
    QMessageBox *box = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "commandFailure" && w->isVisible())
            box = qobject_cast<QMessageBox *>(w);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "“x.kelsoorphan” cannot be opened.");
    EXPECT_EQ(box->informativeText(), "Because.");
    EXPECT_FALSE(box->isModal());
    box->close();
}

TEST(FileCommands, TheDefaultMessageOfAListChangeIsASheetOverTheWindow)
{
    QWidget window;
    window.show();
    KLServices::defaults().reportFileFailures(
        KLFileFailureReport::trashFailed({{home() + "/kept/Locked.txt", "Permission denied"}}), &window);
    QMessageBox *box = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "fileFailureMessage" && w->isVisible())
            box = qobject_cast<QMessageBox *>(w);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Kelso");
    EXPECT_TRUE(box->text().contains("Locked.txt")) << qPrintable(box->text());
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->accessibleName(), box->text());
    box->close();
}

TEST(FileCommands, OnePresenterTellsOfFailedCommandsAndOfFilesAPaneCouldNotTrash)
{
    Caught caught;
    const QString folder = home() + "/one-presenter";
    QDir(folder).removeRecursively();
    const QString gone = folder + "/Gone.txt";
    KelsoTest::writeFile(gone, "soon gone");
    KLCoolerImageBrowserDelegate pane(folder + "/cooler.plist");
    pane.setServices(&caught.services);
    pane.addPaths({gone}, 0);
    ASSERT_EQ(pane.numberOfItems(), 1);

    // A change to the list's files: a sheet titled "Kelso".
    pane.reportFileFailures(KLFileFailureReport::trashFailed({{folder + "/Locked.txt", "Permission denied"}}));
    ASSERT_EQ(caught.messages.size(), 1);
    EXPECT_EQ(caught.messages[0].title, "Kelso");
    EXPECT_EQ(caught.messages[0].shown, KLFileFailureReport::Shown::OverWindow);
    EXPECT_TRUE(caught.messages[0].message.contains("Locked.txt")) << qPrintable(caught.messages[0].message);

    // The pane's own command on a file that went: the same presenter, a window of its own.
    QFile::remove(gone);
    pane.openExternally(pane.items());
    ASSERT_EQ(caught.messages.size(), 2);
    EXPECT_EQ(caught.messages[1].title, "Open");
    EXPECT_EQ(caught.messages[1].shown, KLFileFailureReport::Shown::OwnWindow);
    EXPECT_EQ(caught.messages[1].message, "“Gone.txt” cannot be opened.");
    ASSERT_EQ(caught.messages[1].failures.size(), 1);
    EXPECT_EQ(caught.messages[1].failures[0].path, gone);

    // A command outside the panes, over a window it names.
    QWidget window;
    KLFileCommands::showProperties({gone}, &window, caught.services);
    ASSERT_EQ(caught.messages.size(), 3);
    EXPECT_EQ(caught.windows[2], &window);
    EXPECT_EQ(caught.messages[2].message, "The properties of “Gone.txt” cannot be shown.");
}

TEST(FileCommands, FindMissingFileAsksWhereTheFileIsNowAndTheItemFollows)
{
    const QString folder = home() + "/missing";
    QDir(folder).removeRecursively();
    KelsoTest::writeFile(folder + "/draft.txt", "first");
    const KLItemPtr item = KLItem::create(folder + "/draft.txt");
    KLItem::waitForBackgroundUpdates();
    // The new file exists before the old one goes, so that it cannot take over its inode (the
    // bookmark would then find it without asking).
    KelsoTest::writeFile(folder + "/moved/draft v2.txt", "second");
    QFile::remove(folder + "/draft.txt");
    ASSERT_FALSE(QFile::exists(item->path()));

    auto services = std::make_shared<KLItemServices>();
    KLFileCommands::installReplacementPicker(*services);
    item->setServices(services);
    QString startedIn;
    bool sawDialog = false;
    whenFileDialogOpens([&](QFileDialog *dialog) {
        sawDialog = true;
        startedIn = dialog->directory().absolutePath();
        // Typed as a user would: selectFile() leaves the name the dialog was opened with in
        // its field until the new folder is listed.
        dialog->setDirectory(folder + "/moved");
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(QStringLiteral("draft v2.txt"));
        // done() rather than accept(): Qt's own check of the typed name may open a message box
        // of its own, which nothing here would answer.
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
    });
    item->resolveBookmarkPossiblyWithUI();
    EXPECT_TRUE(sawDialog) << "no file dialog";
    EXPECT_EQ(startedIn, folder);
    EXPECT_EQ(item->path(), folder + "/moved/draft v2.txt") << item->path().toStdString();

    // Cancelling changes nothing.
    QFile::remove(folder + "/moved/draft v2.txt");
    whenFileDialogOpens([](QFileDialog *dialog) { dialog->reject(); });
    item->resolveBookmarkPossiblyWithUI();
    EXPECT_EQ(item->path(), folder + "/moved/draft v2.txt");
}

namespace {
Apps::AppInfo app(const QString &id, const QString &name)
{
    Apps::AppInfo a;
    a.desktopPath = "/usr/share/applications/" + id;
    a.id = id;
    a.name = name;
    return a;
}
} // namespace

TEST(ApplicationChooser, ListsSearchesAndIsKeyboardUsable)
{
    XPApplicationChooser chooser(home() + "/notes.txt",
                                 {app("zed.desktop", "Zed"), app("gedit.desktop", "Text Editor"),
                                  app("org.kde.kate.desktop", "Kate"), app("gedit.desktop", "Text Editor")});
    chooser.show();
    EXPECT_EQ(chooser.visibleNames(), (QStringList{"Kate", "Text Editor", "Zed"}));
    EXPECT_FALSE(chooser.searchField()->accessibleName().isEmpty());
    EXPECT_FALSE(chooser.list()->accessibleName().isEmpty());
    EXPECT_TRUE(chooser.searchField()->hasFocus() || QApplication::focusWidget() == nullptr);
    // The first application is selected from the start, so Return alone chooses.
    EXPECT_EQ(chooser.selectedApplication(), "/usr/share/applications/org.kde.kate.desktop");

    // Typing narrows the list (by name or desktop id) and selects the first match.
    QTest::keyClicks(chooser.searchField(), "edit");
    EXPECT_EQ(chooser.visibleNames(), QStringList{"Text Editor"});
    EXPECT_EQ(chooser.selectedApplication(), "/usr/share/applications/gedit.desktop");
    chooser.searchField()->clear();
    QTest::keyClicks(chooser.searchField(), "kde");
    EXPECT_EQ(chooser.visibleNames(), QStringList{"Kate"});
    // No match: nothing to open.
    QTest::keyClicks(chooser.searchField(), "xyz");
    EXPECT_TRUE(chooser.visibleNames().isEmpty());
    EXPECT_FALSE(chooser.openButton()->isEnabled());

    // Down from the search field moves through the list; Return opens with the selection.
    chooser.searchField()->clear();
    QTest::keyClick(chooser.searchField(), Qt::Key_Down);
    EXPECT_EQ(chooser.selectedApplication(), "/usr/share/applications/gedit.desktop");
    QTest::keyClick(chooser.searchField(), Qt::Key_Down);
    QTest::keyClick(chooser.searchField(), Qt::Key_Down);
    EXPECT_EQ(chooser.selectedApplication(), "/usr/share/applications/zed.desktop");
    QTest::keyClick(chooser.searchField(), Qt::Key_Return);
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    // Each row reads its application's name to a screen reader.
    const QModelIndex first = chooser.list()->model()->index(0, 0);
    EXPECT_EQ(first.data(Qt::AccessibleTextRole).toString(), "Kate");
}

TEST(ApplicationChooser, EscapeCancels)
{
    XPApplicationChooser chooser(home() + "/notes.txt", {app("zed.desktop", "Zed")});
    chooser.show();
    QTest::keyClick(chooser.searchField(), Qt::Key_Escape);
    EXPECT_EQ(chooser.result(), QDialog::Rejected);
    EXPECT_FALSE(chooser.isVisible());
}

TEST(TrashTexts, NameTheFolderCountTheItemsAndSayMoveToTrash)
{
    const QString music = home() + "/trash-texts/Music";
    QDir(music).removeRecursively();
    for (int i = 0; i < 22; ++i)
        KelsoTest::writeFile(QStringLiteral("%1/track %2.ogg").arg(music).arg(i));
    KelsoTest::writeFile(home() + "/trash-texts/a.txt");
    KelsoTest::writeFile(home() + "/trash-texts/b.txt");
    const KLItemPtr stack = KLItem::create(music);
    stack->addSubItem(KLItem::create(music + "/track 1.ogg"));
    const KLItemPtr a = KLItem::create(home() + "/trash-texts/a.txt");
    const KLItemPtr b = KLItem::create(home() + "/trash-texts/b.txt");

    KLTrashWarning w = KLImageBrowserViewDelegate::trashWarningFor({stack}, true);
    EXPECT_TRUE(w.ask) << "a folder is always asked about";
    EXPECT_EQ(w.message, QStringLiteral("Move the folder “Music” (22 items) to the trash?"));
    EXPECT_EQ(w.confirmButton, "Move to Trash");

    w = KLImageBrowserViewDelegate::trashWarningFor({a}, false);
    EXPECT_EQ(w.message, QStringLiteral("Move “a.txt” to the trash?"));
    EXPECT_EQ(w.confirmButton, "Move to Trash");

    w = KLImageBrowserViewDelegate::trashWarningFor({a, b}, false);
    EXPECT_EQ(w.message, QStringLiteral("Move 2 items to the trash?"));

    w = KLImageBrowserViewDelegate::trashWarningFor({a, stack, b}, true);
    EXPECT_TRUE(w.ask);
    EXPECT_EQ(w.message, QStringLiteral("Move 3 items to the trash?"));
    EXPECT_EQ(w.informativeText, QStringLiteral("This includes the folder “Music” (22 items) and everything in it."));

    const QString empty = home() + "/trash-texts/Empty";
    QDir().mkpath(empty);
    w = KLImageBrowserViewDelegate::trashWarningFor({KLItem::create(empty)}, false);
    EXPECT_EQ(w.message, QStringLiteral("Move the folder “Empty” (empty) to the trash?"));

    // None of the texts speaks of deleting or of removing from the computer.
    for (const auto &items : QList<QList<KLItemPtr>>{{a}, {a, b}, {stack}, {a, stack}}) {
        const KLTrashWarning t = KLImageBrowserViewDelegate::trashWarningFor(items, false);
        for (const QString &text : {t.message, t.informativeText, t.confirmButton}) {
            EXPECT_FALSE(text.contains("delete", Qt::CaseInsensitive)) << qPrintable(text);
            EXPECT_FALSE(text.contains("from your computer", Qt::CaseInsensitive)) << qPrintable(text);
        }
    }
}
