// The preferences window: its panes and controls, the never-show tables (what "Never Show …"
// added shows there; removing brings files back), and the settings reaching the rules and the
// recent list without a restart.
#include "app/gui/KLApplicationMenus.h"
#include "app/gui/KLHotKeySheet.h"
#include "app/gui/prefs/KLExclusionPane.h"
#include "app/gui/prefs/KLPreferencesController.h"
#include "app/gui/prefs/KLPreferencesPanes.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLRecentSource.h"
#include "platform/Defaults.h"
#include "prefs/KLColours.h"
#include "prefs/KLSettings.h"
#include "prefs/KLUnwanted.h"
#include "recent/KLRules.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

using KelsoTest::home;

// A recent list judged by the real rules on the standard settings, which it follows as the
// collector does (loadPrefs on a change of one of the five lists).
class RulesSource : public KLRecentSource
{
public:
    RulesSource() : m_rules(Defaults::standard())
    {
        m_rules.loadPrefs();
        QObject::connect(&Defaults::standard(), &Defaults::changed, &m_context, [this](const QString &key) {
            if (KLRules::observedKeys().contains(key))
                m_rules.loadPrefs();
        });
    }
    QList<KLItemPtr> files;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override
    {
        QList<KLItemPtr> out;
        for (const KLItemPtr &item : files)
            if (m_rules.userWantsItemIncluded(item))
                out.append(item);
        return out;
    }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}

private:
    QObject m_context;
    KLRules m_rules;
};

class PreferencesWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Defaults &d = Defaults::standard();
        KLSettings::setupDefaults(d);
        for (const QString &key : KLRules::observedKeys())
            d.removeObjectForKey(key);
        d.removeObjectForKey("KPDropZoneOverlapWithScreen");
    }
    Defaults &defaults() { return Defaults::standard(); }
    static QMimeData *drag(const QStringList &paths)
    {
        auto *data = new QMimeData;
        QList<QUrl> urls;
        for (const QString &p : paths)
            urls.append(QUrl::fromLocalFile(p));
        data->setUrls(urls);
        return data;
    }
};

TEST_F(PreferencesWindow, FivePanesFromTheToolbarAndEveryControlHasAName)
{
    KLPreferencesController prefs(defaults());
    prefs.show();
    const QList<QAction *> items = prefs.findChildren<QAction *>(QRegularExpression("^KLToolbarPref"));
    ASSERT_EQ(items.size(), 5);
    const QStringList order = {"KLToolbarPrefGeneral", "KLToolbarPrefUnwantedDirectories",
                               "KLToolbarPrefUnwantedExtensions", "KLToolbarPrefUnwantedItems",
                               "KLToolbarPrefAdvanced"};
    EXPECT_EQ(prefs.currentPane(), KLPreferencesController::General);
    for (int i = 0; i < 5; ++i) {
        QAction *item = prefs.findChild<QAction *>(order[i]);
        ASSERT_NE(item, nullptr) << qPrintable(order[i]);
        EXPECT_FALSE(item->shortcut().isEmpty()) << "no key reaches " << qPrintable(order[i]);
        item->trigger();
        EXPECT_EQ(prefs.currentPane(), KLPreferencesController::Pane(i));
        EXPECT_TRUE(item->isChecked());
    }

    // Every control of every pane can be named by a screen reader and reached by Tab.
    for (int i = 0; i < 5; ++i) {
        QWidget *pane = prefs.paneWidget(KLPreferencesController::Pane(i));
        for (QWidget *w : pane->findChildren<QWidget *>()) {
            if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QComboBox *>(w) && !qobject_cast<QLineEdit *>(w) &&
                !qobject_cast<QTableView *>(w))
                continue;
            if ((qobject_cast<QLineEdit *>(w) && qobject_cast<QComboBox *>(w->parentWidget())) || !w->isVisibleTo(pane))
                continue;
            EXPECT_FALSE(w->accessibleName().isEmpty())
                << "pane " << i << ": " << w->metaObject()->className() << " " << qPrintable(w->objectName());
            EXPECT_NE(w->focusPolicy() & Qt::TabFocus, 0) << qPrintable(w->objectName()) << " is out of the Tab chain";
        }
    }
}

TEST_F(PreferencesWindow, EachPaneStartsTheKeyboardOnItsFirstControl)
{
    KLPreferencesController prefs(defaults());
    prefs.show();
    prefs.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&prefs));
    const struct {
        KLPreferencesController::Pane pane;
        QWidget *first;
    } expected[] = {
        {KLPreferencesController::UnwantedDirectories, prefs.exclusionPane(KLExclusionList::Folders)->table()},
        {KLPreferencesController::UnwantedExtensions, prefs.exclusionPane(KLExclusionList::Extensions)->table()},
        // The files pane holds two lists: the single files come first.
        {KLPreferencesController::UnwantedItems, prefs.exclusionPane(KLExclusionList::Items)->table()},
        {KLPreferencesController::General, prefs.findChild<QComboBox *>("KPRunInDock")},
    };
    for (const auto &e : expected) {
        prefs.showPane(e.pane);
        EXPECT_EQ(QApplication::focusWidget(), e.first) << "pane " << int(e.pane);
    }
    // Tab leaves a list for its buttons (a disabled Remove is passed over) and the next list.
    prefs.showPane(KLPreferencesController::UnwantedItems);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), prefs.exclusionPane(KLExclusionList::Items)->addButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), prefs.exclusionPane(KLExclusionList::PathFragments)->table());
}

TEST_F(PreferencesWindow, TheDropZoneOverlapsTheScreenWhileTheWindowIsOpen)
{
    KLPreferencesController prefs(defaults());
    EXPECT_FALSE(defaults().boolForKey("KPDropZoneOverlapWithScreen"));
    prefs.show();
    EXPECT_TRUE(defaults().boolForKey("KPDropZoneOverlapWithScreen"));
    prefs.close();
    EXPECT_FALSE(defaults().boolForKey("KPDropZoneOverlapWithScreen"));
}

TEST_F(PreferencesWindow, BecomingTheActiveWindowAsksForTheDropZonesStripAndLosingItEndsAnEdit)
{
    KLPreferencesController prefs(defaults());
    QSignalSpy key(&prefs, &KLPreferencesController::keyStatusChanged);
    prefs.show();
    prefs.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&prefs));
    ASSERT_GE(key.count(), 1);
    EXPECT_TRUE(key.last().at(0).toBool());

    // A fragment half typed when another window takes the focus is kept.
    defaults().setValue("unwantedPathFragments", QStringList{"old"});
    prefs.showPane(KLPreferencesController::UnwantedItems);
    KLExclusionPane *fragments = prefs.exclusionPane(KLExclusionList::PathFragments);
    const QModelIndex row = fragments->model()->index(0);
    fragments->table()->setFocus();
    fragments->table()->setCurrentIndex(row);
    fragments->table()->edit(row);
    auto *editor = qobject_cast<QLineEdit *>(fragments->table()->indexWidget(row));
    ASSERT_NE(editor, nullptr);
    editor->setText("/half-typed/");

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !key.last().at(0).toBool(); }, 2000))
        << "no signal on losing the focus";
    EXPECT_EQ(defaults().stringArrayForKey("unwantedPathFragments"), QStringList{"/half-typed/"});
    prefs.close();
}

TEST_F(PreferencesWindow, BoundControlsWriteTheirSettingAndFollowChangesMadeElsewhere)
{
    KLPreferencesController prefs(defaults());
    auto *fade = prefs.findChild<QCheckBox *>("KLFadeIn");
    auto *warn = prefs.findChild<QCheckBox *>("KPDONTWarnAboutTrashingFiles");
    auto *mode = prefs.findChild<QComboBox *>("KPRunInDock");
    ASSERT_TRUE(fade && warn && mode);

    defaults().setBool("KLFadeIn", false);
    fade->click();
    EXPECT_TRUE(defaults().boolForKey("KLFadeIn"));
    defaults().setBool("KLFadeIn", false);
    EXPECT_FALSE(fade->isChecked()) << "the box did not follow the setting";

    // The "don't warn" key is shown the right way round.
    defaults().setBool("KPDONTWarnAboutTrashingFiles", false);
    EXPECT_TRUE(warn->isChecked());
    warn->click();
    EXPECT_TRUE(defaults().boolForKey("KPDONTWarnAboutTrashingFiles"));

    // Dock or tray: the setting the shell switches on at run time.
    defaults().removeObjectForKey("KPRunInDock");
    EXPECT_EQ(mode->currentIndex(), 0);
    mode->setCurrentIndex(1);
    EXPECT_TRUE(defaults().boolForKey("KPRunInDock"));
    defaults().setBool("KPRunInDock", false);
    EXPECT_EQ(mode->currentIndex(), 0);
}

TEST_F(PreferencesWindow, ResetColoursPutsBackTheFourDefaultsOnly)
{
    KLPreferencesController prefs(defaults());
    const QStringList keys = KLSettings::colourKeys();
    for (const QString &key : keys)
        KLColours::setColour(defaults(), key, QColor(10, 200, 30, 128));
    defaults().setBool("KLFadeIn", true);
    auto *swatch = prefs.findChild<QPushButton *>("KLCoolerTextColour");
    ASSERT_NE(swatch, nullptr);
    EXPECT_EQ(swatch->text(), QColor(10, 200, 30, 128).name(QColor::HexArgb));

    auto *reset = prefs.findChild<QPushButton *>("resetColours");
    ASSERT_NE(reset, nullptr);
    reset->click();
    const QVariantMap registered = KLSettings::colourDefaults();
    for (const QString &key : keys)
        EXPECT_EQ(*KLColours::kpColorFromUserDefaultsForKey(defaults(), key), *KLColours::decode(registered.value(key)))
            << qPrintable(key);
    EXPECT_TRUE(defaults().boolForKey("KLFadeIn")) << "reset touched another setting";
    EXPECT_EQ(swatch->text(), QColor(Qt::white).name(QColor::HexArgb)) << "the swatch kept the old colour";
}

TEST_F(PreferencesWindow, WhatNeverShowAddedIsListedAndRemovingItBringsTheFilesBack)
{
    const QStringList kept = KelsoTest::makeFiles("Kept", 2);
    const QStringList unwanted = KelsoTest::makeFiles("Scratch/builds", 2);
    auto source = std::make_unique<RulesSource>();
    for (const QString &p : kept + unwanted)
        source->files.append(KLItem::create(p));
    KLKelsoImageBrowserDelegate pane(std::move(source));
    pane.updateChangedFiles();
    ASSERT_EQ(pane.numberOfItems(), 4);

    KLPreferencesController prefs(defaults());
    prefs.show();
    prefs.showPane(KLPreferencesController::UnwantedDirectories);
    KLExclusionPane *folders = prefs.exclusionPane(KLExclusionList::Folders);
    ASSERT_EQ(folders->model()->rowCount(), 0);

    // "Never Show This Folder" in the main window: the table lists it, the files leave at once.
    ASSERT_TRUE(KLUnwanted::addUnwantedDirectory(home() + "/Scratch"));
    ASSERT_EQ(folders->model()->rowCount(), 1);
    EXPECT_EQ(folders->model()->index(0).data().toString(), QStringLiteral("~/Scratch"));
    EXPECT_EQ(pane.numberOfItems(), 2);

    // Removing the row (select, Delete) brings them back.
    folders->table()->setFocus();
    folders->table()->selectRow(0);
    QTest::keyClick(folders->table(), Qt::Key_Delete);
    EXPECT_EQ(folders->model()->rowCount(), 0);
    EXPECT_TRUE(defaults().stringArrayForKey("unwantedDirectories").isEmpty());
    EXPECT_EQ(pane.numberOfItems(), 4);

    // A drop of the folder on the table hides them again; a dropped file is refused.
    QScopedPointer<QMimeData> file(drag({unwanted.first()}));
    EXPECT_FALSE(folders->model()->canDropMimeData(file.get(), Qt::CopyAction, -1, -1, {}));
    QScopedPointer<QMimeData> folder(drag({home() + "/Scratch"}));
    ASSERT_TRUE(folders->model()->canDropMimeData(folder.get(), Qt::CopyAction, -1, -1, {}));
    EXPECT_TRUE(folders->model()->dropMimeData(folder.get(), Qt::CopyAction, -1, -1, {}));
    EXPECT_EQ(pane.numberOfItems(), 2);
}

TEST_F(PreferencesWindow, AnEditedPathFragmentReachesTheRecentListAtOnce)
{
    const QStringList files = KelsoTest::makeFiles("Fragments/release-notes", 1) + KelsoTest::makeFiles("Other", 1);
    auto source = std::make_unique<RulesSource>();
    for (const QString &p : files)
        source->files.append(KLItem::create(p));
    KLKelsoImageBrowserDelegate pane(std::move(source));
    pane.updateChangedFiles();
    ASSERT_EQ(pane.numberOfItems(), 2);

    KLPreferencesController prefs(defaults());
    prefs.show();
    prefs.showPane(KLPreferencesController::UnwantedItems);
    KLExclusionPane *fragments = prefs.exclusionPane(KLExclusionList::PathFragments);
    fragments->addButton()->click();
    ASSERT_EQ(fragments->model()->rowCount(), 1) << "Add made no row to type into";
    // The new row is being edited: typing replaces the placeholder.
    QWidget *editor = fragments->table()->indexWidget(fragments->model()->index(0));
    ASSERT_NE(qobject_cast<QLineEdit *>(editor), nullptr) << "the new row is not open for editing";
    static_cast<QLineEdit *>(editor)->selectAll();
    QTest::keyClicks(editor, "/release-");
    QTest::keyClick(editor, Qt::Key_Return);
    // The editor commits on the next turn of the event loop.
    KelsoTest::waitFor(
        [&] {
            return !defaults()
                        .stringArrayForKey("unwantedPathFragments")
                        .contains("double-click to edit path fragment");
        },
        2000);
    EXPECT_EQ(defaults().stringArrayForKey("unwantedPathFragments"), QStringList{"/release-"});
    EXPECT_EQ(pane.currentItemPaths(), QStringList{files[1]}) << "the list did not follow the new fragment";

    // Editing it to nothing removes it; the file is back.
    ASSERT_TRUE(fragments->model()->setData(fragments->model()->index(0), QString(), Qt::EditRole));
    EXPECT_EQ(fragments->model()->rowCount(), 0);
    EXPECT_EQ(pane.numberOfItems(), 2);
}

TEST_F(PreferencesWindow, TheHotKeyRowNamesTheKeyInForceAndOpensTheSheetOnThisWindow)
{
    KLPreferencesController prefs(defaults());
    prefs.show();
    auto *shown = prefs.findChild<QLineEdit *>("hotKeyShown");
    auto *change = prefs.findChild<QPushButton *>("assignHotKeyButton");
    ASSERT_TRUE(shown && change);

    defaults().setBool("XPUseGlobalHotKey", true);
    defaults().setInteger("XPModifierFlags", 1048576 | 131072); // Command and Shift
    const QString before = shown->text();
    EXPECT_TRUE(before.contains(QStringLiteral("⌘")) && before.contains(QStringLiteral("⇧"))) << qPrintable(before);
    defaults().setInteger("XPModifierFlags", 1048576);
    EXPECT_FALSE(shown->text().contains(QStringLiteral("⇧")))
        << "the row kept the old key: " << qPrintable(shown->text());
    defaults().setBool("XPUseGlobalHotKey", false);
    EXPECT_NE(shown->text(), before) << "a switched-off hot key is still shown";
    defaults().setBool("XPUseGlobalHotKey", true);

    change->click();
    auto *sheet = prefs.findChild<KLHotKeySheet *>();
    ASSERT_NE(sheet, nullptr) << "the sheet did not open on the preferences window";
    EXPECT_TRUE(sheet->isVisible());
    sheet->reject();
    EXPECT_FALSE(sheet->isVisible());
    defaults().removeObjectForKey("XPModifierFlags");
}

TEST_F(PreferencesWindow, AboutNamesTheVersionTheLicenceAndTheProjectPage)
{
    QApplication::setApplicationVersion("9.8.7");
    defaults().setString("SUFeedURL", "https://kelso.example.org/releases/appcast.xml");
    EXPECT_EQ(KLApplicationMenus::projectPageUrl(), QStringLiteral("https://kelso.example.org/"));
    EXPECT_EQ(KLApplicationMenus::helpPageUrl(), QStringLiteral("https://kelso.example.org/help"));
    QDialog *about = KLApplicationMenus::showAboutBox(nullptr);
    ASSERT_NE(about, nullptr);
    auto *version = about->findChild<QLabel *>("aboutVersion");
    auto *licence = about->findChild<QLabel *>("aboutLicence");
    auto *page = about->findChild<QLabel *>("aboutProjectPage");
    ASSERT_TRUE(version && licence && page);
    EXPECT_TRUE(version->text().contains("9.8.7"));
    EXPECT_TRUE(licence->text().contains(KLApplicationMenus::licenceName()));
    EXPECT_TRUE(page->text().contains("https://kelso.example.org/"));
    EXPECT_TRUE(page->isVisibleTo(about));
    about->close();

    // A feed that is not HTTPS names no site: no link, no help page to open.
    defaults().setString("SUFeedURL", "http://kelso.example.org/appcast.xml");
    EXPECT_TRUE(KLApplicationMenus::projectPageUrl().isEmpty());
    EXPECT_TRUE(KLApplicationMenus::helpPageUrl().isEmpty());
    defaults().removeObjectForKey("SUFeedURL");
}

TEST_F(PreferencesWindow, TheWaylandLineShowsOnlyOnWayland)
{
    EXPECT_TRUE(KLPreferencesPanes::waylandNote("xcb").isEmpty());
    EXPECT_TRUE(KLPreferencesPanes::waylandNote("offscreen").isEmpty());
    const QString note = KLPreferencesPanes::waylandNote("wayland");
    EXPECT_TRUE(note.contains("kelso toggle")) << qPrintable(note);
}

} // namespace
