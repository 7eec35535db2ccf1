// The services a pane, its menus and the main window are handed: each question, message and
// opener goes to the services of the pane it came from (never to another pane's), with the
// files the user chose; a pane or window built without services falls back to the defaults.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "browser/KLServices.h"
#include "browser/menus/KLPaneMenus.h"
#include "fileops/XPFileJobs.h"
#include "platform/Defaults.h"
#include "search/gui/KLFilePickerMenu.h"
#include "support/MenuSupport.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString storeFor(const QString &name)
{
    return KelsoTest::home() + QStringLiteral("/stores/services-") + name + QStringLiteral(".plist");
}

using KelsoTest::findAction;

// Every log line while it lives.
struct LogCatcher {
    LogCatcher() { previous = qInstallMessageHandler(&LogCatcher::handle); }
    ~LogCatcher() { qInstallMessageHandler(previous); }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { lines().append(message); }
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    bool saw(const QString &part) const
    {
        for (const QString &line : lines())
            if (line.contains(part))
                return true;
        return false;
    }
    QtMessageHandler previous = nullptr;
};

class NoRecentFiles : public KLRecentSource
{
public:
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return {}; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}
};

std::unique_ptr<KLMainWindowController> makeWindow(const QString &name, const KLServices *services)
{
    KLMainWindowController::Options options;
    options.recentSource = std::make_unique<NoRecentFiles>();
    options.coolerStorePath = storeFor(name);
    options.services = services;
    return std::make_unique<KLMainWindowController>(std::move(options));
}

class ServicesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
        Defaults::standard().setBool(QStringLiteral("KPDONTWarnAboutTrashingFiles"), false);
        // A question that misses the services handed in would wait in a modal box for ever:
        // such a box is cancelled and counted, so that the test fails instead of hanging.
        QObject::connect(&m_guard, &QTimer::timeout, [this] {
            if (defaultBoxesExpected)
                return;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (box && box->isVisible()) {
                    ++strayBoxes;
                    box->reject();
                }
            }
        });
        m_guard.start(50);
    }
    void TearDown() override
    {
        m_guard.stop();
        Defaults::standard().removeObjectForKey(QStringLiteral("KPDONTWarnAboutTrashingFiles"));
        EXPECT_EQ(strayBoxes, 0) << "a question or message went to a default box, not to the services";
    }
    bool defaultBoxesExpected = false;
    int strayBoxes = 0;

private:
    QTimer m_guard;
};

TEST_F(ServicesTest, TheTrashConfirmationIsAskedOfThePanesOwnServicesAboutTheChosenItems)
{
    KLServices mine, other;
    QList<KLTrashWarning> asked, askedOther;
    bool answer = false;
    mine.trashAlertPresenter = [&](const KLTrashWarning &w) {
        asked.append(w);
        return answer;
    };
    other.trashAlertPresenter = [&](const KLTrashWarning &w) {
        askedOther.append(w);
        return true;
    };
    KLCoolerImageBrowserDelegate pane(storeFor(QStringLiteral("trash")));
    pane.setServices(&mine);
    KLCoolerImageBrowserDelegate otherPane(storeFor(QStringLiteral("trash-other")));
    otherPane.setServices(&other);
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("services-trash"), 3);
    pane.addPaths(files, 0);
    otherPane.addPaths(files, 0);
    const KLItemPtr first = pane.itemAtIndex(0);
    const KLItemPtr third = pane.itemAtIndex(2);

    // Declined: asked once about both items; nothing leaves.
    pane.removeKLItems({first, third}, true);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].message, QStringLiteral("Move 2 items to the trash?"));
    EXPECT_EQ(pane.numberOfItems(), 3);
    for (const QString &f : files)
        EXPECT_TRUE(QFileInfo::exists(f)) << qPrintable(f);

    // From the context menu of one item: asked about that item, by name; agreed, it goes.
    answer = true;
    std::unique_ptr<QMenu> menu(pane.menuBuilder()->contextMenuForItems({third}));
    QAction *trash = findAction(menu.get(), QStringLiteral("moveToTrashAction"));
    ASSERT_NE(trash, nullptr);
    trash->trigger();
    ASSERT_TRUE(XPFileJobs::shared().waitUntilIdle(10000));
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].message, QStringLiteral("Move \u201c%1\u201d to the trash?").arg(third->displayName()));
    EXPECT_FALSE(QFileInfo::exists(third->lastKnownPath()));
    EXPECT_EQ(pane.numberOfItems(), 2);
    EXPECT_TRUE(askedOther.isEmpty()) << "another pane's services are not asked";
}

TEST_F(ServicesTest, TheTagEditorGetsTheSelectedFilesFromTheGridTheMenuAndTheMenuBar)
{
    KLServices services;
    QList<QStringList> opened;
    services.tagEditorOpener = [&](const QStringList &paths) { opened.append(paths); };
    KLCoolerImageBrowserDelegate pane(storeFor(QStringLiteral("tags")));
    pane.setServices(&services);
    KLImageBrowserView view;
    view.setFixedSize(4 * 148 + 30, 400);
    pane.setImageBrowser(&view);
    view.show();
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("services-tags"), 3);
    pane.addPaths(files, 0);
    pane.reloadBrowserNow();
    view.doItemsLayout();
    view.setFocus();
    pane.selectIndexes({0, 2});
    const QStringList selected = {files[0], files[2]};

    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], selected);

    std::unique_ptr<QMenu> menu(pane.menuBuilder()->contextMenuForItems(pane.selectedItems()));
    QAction *edit = findAction(menu.get(), QStringLiteral("editTagsAction"));
    ASSERT_NE(edit, nullptr);
    edit->trigger();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], selected);

    KLSelectionActions actions([&]() -> KLPaneMenuActions * { return &pane; });
    actions.perform(KLSelectionActions::EditSelectedTags);
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[2], selected);
}

TEST_F(ServicesTest, PreferencesEntriesComeWithAnOpenerAndOpenTheirPage)
{
    KLServices services;
    KLCoolerImageBrowserDelegate pane(storeFor(QStringLiteral("prefs")));
    pane.setServices(&services);
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("services-prefs"), 2);
    pane.addPaths(files, 0);
    // The recent files' menus are the ones with preferences entries.
    KLPaneMenuBuilder builder(KLPaneKind::Recent, &pane);

    std::unique_ptr<QMenu> without(builder.menuForItem(pane.itemAtIndex(0)));
    EXPECT_FALSE(pane.hasPreferencesWindow());
    EXPECT_EQ(findAction(without.get(), QStringLiteral("preferencesAction")), nullptr);
    EXPECT_EQ(findAction(without.get(), QStringLiteral("editUnwantedDirectoriesAction")), nullptr);

    QList<KLPreferencesPage> pages;
    services.preferencesOpener = [&](KLPreferencesPage page) { pages.append(page); };
    EXPECT_TRUE(pane.hasPreferencesWindow());
    std::unique_ptr<QMenu> with(builder.menuForItem(pane.itemAtIndex(0)));
    QAction *prefs = findAction(with.get(), QStringLiteral("preferencesAction"));
    QAction *hidden = findAction(with.get(), QStringLiteral("editUnwantedDirectoriesAction"));
    ASSERT_NE(prefs, nullptr);
    ASSERT_NE(hidden, nullptr);
    prefs->trigger();
    hidden->trigger();
    EXPECT_EQ(pages, (QList<KLPreferencesPage>{KLPreferencesPage::General, KLPreferencesPage::HiddenFolders}));
}

TEST_F(ServicesTest, ARefusedMoveToBeepsThroughThePanesServices)
{
    KLServices services;
    int beeps = 0;
    services.beeper = [&] { ++beeps; };
    KLCoolerImageBrowserDelegate pane(storeFor(QStringLiteral("beep")));
    pane.setServices(&services);
    const QString mine = KelsoTest::home() + QStringLiteral("/services-beep/from/same.txt");
    const QString theirs = KelsoTest::home() + QStringLiteral("/services-beep/to/same.txt");
    KelsoTest::writeFile(mine, "mine");
    KelsoTest::writeFile(theirs, "theirs");
    pane.addPaths({mine}, 0);

    std::unique_ptr<QMenu> menu(pane.menuBuilder()->contextMenuForItems({pane.itemAtIndex(0)}));
    KLFilePickerMenu *moveTo = pane.menuBuilder()->moveToPathBuilder();
    ASSERT_NE(moveTo, nullptr);
    QAction target;
    target.setData(QUrl::fromLocalFile(QFileInfo(theirs).path()));
    moveTo->moveToPath(&target);
    ASSERT_TRUE(services.jobs().waitUntilIdle(10000));
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(QFileInfo::exists(mine)) << "the name is taken: nothing moves";
}

TEST_F(ServicesTest, TheWindowHandsItsServicesToBothPanesAndAsksThemAboutTheDropZone)
{
    KLServices services;
    bool onZone = false;
    services.dropZoneQuery = [&] { return onZone; };
    std::unique_ptr<KLMainWindowController> window = makeWindow(QStringLiteral("window"), &services);
    // Checked first: a pane left with the defaults would ask its questions in modal boxes.
    ASSERT_EQ(&window->services(), &services);
    ASSERT_EQ(&window->kelsoDelegate()->services(), &services);
    ASSERT_EQ(&window->coolerDelegate()->services(), &services);
    EXPECT_FALSE(window->dragWasToDropZone());
    onZone = true;
    EXPECT_TRUE(window->dragWasToDropZone());

    // The Cooler's push-out question goes there too.
    QList<KLPushOutQuestion> asked;
    services.pushOutPresenter = [&](const KLPushOutQuestion &q) {
        asked.append(q);
        return false;
    };
    KLCoolerImageBrowserDelegate *cooler = window->coolerDelegate();
    cooler->addPaths(KelsoTest::makeFiles(QStringLiteral("services-full"), 100), 0);
    const QStringList before = cooler->currentItemPaths();
    EXPECT_FALSE(cooler->addPathsAskingBeforePushingOut(KelsoTest::makeFiles(QStringLiteral("services-more"), 2), 0));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].pushedOut, 2);
    EXPECT_EQ(cooler->currentItemPaths(), before);
}

TEST_F(ServicesTest, WithoutServicesThePanesTakeTheDefaultsAndSaySoWhereNothingCanBeDone)
{
    defaultBoxesExpected = true;
    std::unique_ptr<KLMainWindowController> window = makeWindow(QStringLiteral("bare"), nullptr);
    EXPECT_EQ(&window->services(), &KLServices::defaults());
    EXPECT_EQ(&window->coolerDelegate()->services(), &KLServices::defaults());
    EXPECT_FALSE(window->dragWasToDropZone());

    KLCoolerImageBrowserDelegate pane(storeFor(QStringLiteral("bare-pane")));
    EXPECT_EQ(&pane.services(), &KLServices::defaults());
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("services-bare"), 2);
    pane.addPaths(files, 0);
    {
        // These lines are information, off by default: switch the pane's area on.
        QLoggingCategory::setFilterRules(QStringLiteral("kelso.browser.info=true"));
        LogCatcher log;
        pane.editTagsForFilePaths(files);
        EXPECT_TRUE(log.saw(QStringLiteral("no tag editor"))) << qPrintable(LogCatcher::lines().join('\n'));
        EXPECT_FALSE(pane.hasPreferencesWindow());
        pane.preferencesAction();
        pane.editUnwantedDirectoriesAction();
        EXPECT_TRUE(log.saw(QStringLiteral("no preferences window")));
        QLoggingCategory::setFilterRules({});
    }

    // The default trash confirmation is a message box; Cancel (the default button) keeps all.
    QString askedText;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (box && box->objectName() == QStringLiteral("trashConfirmation") && box->isVisible()) {
                askedText = box->text();
                box->defaultButton()->click();
            }
        }
    });
    poll.start(20);
    pane.removeKLItems({pane.itemAtIndex(0)}, true);
    poll.stop();
    EXPECT_EQ(askedText, QStringLiteral("Move \u201c%1\u201d to the trash?").arg(QFileInfo(files[0]).fileName()));
    EXPECT_EQ(pane.numberOfItems(), 2);
    EXPECT_TRUE(QFileInfo::exists(files[0]));

    // The default failure message: a sheet over the pane's window.
    KLImageBrowserView view;
    pane.setImageBrowser(&view);
    view.show();
    pane.reportFileFailures(KLFileFailureReport::trashFailed({{files[0], QStringLiteral("Permission denied")}}));
    QPointer<QMessageBox> message;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("fileFailureMessage") && w->isVisible())
            message = qobject_cast<QMessageBox *>(w);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->parentWidget(), view.window());
    EXPECT_TRUE(message->text().contains(QStringLiteral("file0.txt"))) << qPrintable(message->text());
    message->close();
}

} // namespace
