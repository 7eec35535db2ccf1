#include "app/gui/KLAppDelegate.h"

#include "tags/LumitagPrefs.h"

#include "app/DPOpenAtLogin.h"
#include "app/KLAppState.h"
#include "app/gui/KLApplicationMenus.h"
#include "app/gui/KLHotKeySheet.h"
#include "app/gui/KLWindowMode.h"
#include "app/gui/XPHotKeyControl.h"
#include "app/gui/prefs/KLPreferencesController.h"
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserCell.h"
#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "browser/KLServices.h"
#include "browser/KLSvgIcon.h"
#include "browser/menus/KLFileCommands.h"
#include "browser/menus/KLPaneMenus.h"
#include "browser/search/KLSearchArea.h"
#include "cooler/KLCoolerStore.h"
#include "dropzone/KLDropZoneController.h"
#include "fileops/XPFileUtils.h"
#include "platform/CrashRecorder.h"
#include "platform/Defaults.h"
#include "platform/UnixSignals.h"
#include "platform/x11/GlobalHotKeys.h"
#include "prefs/KLSettings.h"
#include "prefs/KLSettingsWatch.h"
#include "prefs/XPHotKeyRegistration.h"
#include "recent/FileSystemEventStream.h"
#include "recent/KLRules.h"
#include "search/KLIndexLiveQuery.h"
#include "search/KLMetadataIndex.h"
#include "tags/LumitagPrefs.h"
#include "tags/editor/XPTagEditorController.h"
#include "tags/editor/XPTagSearchController.h"
#include "tags/editor/XPTagWriteSession.h"
#include "thumbs/KPPool.h"
#include "thumbs/KPQuickLook.h"
#include "util/KLProcessFlags.h"
#include "util/Localized.h"
#include "util/Logging.h"
#include "util/Tilde.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <exception>

// Showing, hiding and activation, off by default: QT_LOGGING_RULES="kelso.activation.debug=true"
// traces why the window came or went.
Q_LOGGING_CATEGORY(lcActivation, "kelso.activation", QtWarningMsg)

namespace {
KLAppDelegate *g_shared = nullptr;

Defaults &defaults()
{
    return Defaults::standard();
}

QElapsedTimer &lifecycleClock()
{
    static QElapsedTimer clock;
    return clock;
}
} // namespace

void KLAppDelegate::startLifecycleClock()
{
    lifecycleClock().start();
}

void KLAppDelegate::traceStartup(const char *what)
{
    static const bool trace = qEnvironmentVariableIsSet("KELSO_TRACE_LIFECYCLE");
    if (trace && lifecycleClock().isValid())
        qCInfo(lcLifecycle, "%s at %.1f ms", what, lifecycleClock().nsecsElapsed() / 1e6);
}

KLAppDelegate::KLAppDelegate() : m_services(makeServices())
{
    setupDefaults();
    g_shared = this;
}

KLAppDelegate::~KLAppDelegate()
{
    if (g_shared == this)
        g_shared = nullptr;
    delete m_trayIcon;
    delete m_tagEditor;
    delete m_tagSearch;
    delete m_dropZone;
    delete m_windowController;
    delete m_statusMenu;
}

KLAppDelegate *KLAppDelegate::shared()
{
    return g_shared;
}

std::unique_ptr<KLServices> KLAppDelegate::makeServices()
{
    auto services = std::make_unique<KLServices>();
    // Return in a grid, "Edit Tags…" in the menus: the editor of the common tags.
    services->tagEditorOpener = [](const QStringList &paths) {
        if (KLAppDelegate *shell = KLAppDelegate::shared())
            shell->tagEditor()->editTagsForFilePaths(paths);
    };
    // "Preferences…" and "Edit Unwanted Folders…" of the panes' menus.
    services->preferencesOpener = [](KLPreferencesPage page) {
        if (KLAppDelegate *shell = KLAppDelegate::shared())
            shell->showPreferences(page);
        else
            KLPreferencesController::showPreferences(page);
    };
    // The tag search: its query runs in the main window's search, shown in the field.
    services->tagQueryRunner = [](const QString &queryText) {
        KLAppDelegate *app = KLAppDelegate::shared();
        if (!app || !app->windowController())
            return;
        app->windowController()->spotlightSearcher()->runQueryText(queryText);
        app->show();
        app->windowController()->activateSearchField();
    };
    // The questions, the failure messages, the context menus and the beep are the defaults'
    // message boxes, QMenu::popup() and QApplication::beep(). The drop-zone query is set once
    // the zone exists (the "drop zone" launch step).
    return services;
}

XPTagEditorController *KLAppDelegate::tagEditor()
{
    if (!m_tagEditor) {
        m_tagEditor = new XPTagEditorController;
        XPTagEditorController::Delegate delegate;
        delegate.moveToAnotherDocument = [this](bool forward) {
            return m_windowController && m_windowController->tagEditorMoveToAnotherDocument(forward);
        };
        m_tagEditor->setDelegate(delegate);
        m_tagEditor->setBeeper([this] { m_services->beep(); });
    }
    return m_tagEditor;
}

XPTagSearchController *KLAppDelegate::tagSearch()
{
    if (!m_tagSearch)
        m_tagSearch = new XPTagSearchController([this](const QString &query) { m_services->runTagQuery(query); });
    return m_tagSearch;
}

QWidget *KLAppDelegate::mainWindow() const
{
    return m_windowController ? m_windowController->window() : nullptr;
}

void KLAppDelegate::setupDefaults()
{
    KLSettings::setupDefaults(defaults());
}

bool KLAppDelegate::lumitagPrefsFileExists()
{
    return QFile::exists(Defaults::pathForDomain(QStringLiteral("com.lumitag.shared")));
}

QString KLAppDelegate::setupTaggingPrefs()
{
    // The recent tags live in the shared domain when another tagging program created its file,
    // else in Kelso's own domain; the command line chooses the same way.
    const QString domain = LumitagPrefs::chooseDomainAtStartup();
    if (domain == LumitagPrefs::kSharedDomain)
        qCInfo(lcTags, "recent tags: shared domain %s (its file exists)", qUtf8Printable(domain));
    else
        qCInfo(lcTags, "recent tags: own domain %s (no shared tag preferences file)", qUtf8Printable(domain));
    return domain;
}

void KLAppDelegate::runSteps(const char *phase, const QList<Step> &steps)
{
    static const bool trace = qEnvironmentVariableIsSet("KELSO_TRACE_LIFECYCLE");
    for (const Step &step : steps) {
        if (!trace) {
            step.run();
            continue;
        }
        const double before = lifecycleClock().isValid() ? lifecycleClock().nsecsElapsed() / 1e6 : 0.0;
        step.run();
        const double after = lifecycleClock().isValid() ? lifecycleClock().nsecsElapsed() / 1e6 : 0.0;
        qCInfo(lcLifecycle, "%s: %s (at %.1f ms, took %.1f ms)", phase, step.name, before, after - before);
    }
}

// ---- start-up -------------------------------------------------------------------------------

QList<KLAppDelegate::Step> KLAppDelegate::willFinishLaunchingSteps()
{
    return {
        // The window needs the Cooler store, and a look at each item's file: read on another
        // thread while the main thread makes the tray icon and the recent-files engine.
        {"read Cooler ahead", [] { KLCoolerStore::readAhead(KLCoolerStore::pathForStateFile()); }},
        {"rebuild slow volumes", [] { (void)XPFileUtils::rebuildSlowVolumesInBackground(); }},
        {"item services",
         [this] {
             // What the panes' items ask the program for: cell pictures from the thumbnail
             // queue, and the open panel for a missing file. Handed to the window's panes,
             // which give them to their items.
             m_services->items = std::make_shared<KLItemServices>();
             m_services->items->thumbnails = &KPQuickLook::sharedQueue();
             KLFileCommands::installReplacementPicker(*m_services->items);
         }},
        {"metadata index",
         [this] {
             // Made before the window, which hands it to the search bar; crawling starts once
             // launching finished.
             m_metadataIndex = std::make_unique<KLMetadataIndex>();
             m_services->metadataIndex = m_metadataIndex.get();
         }},
        {"thumbnail renderer", [] { KPQuickLook::initializeGlobals(); }},
        {"worker pool", [] { KPPool::intializeGlobals(); }},
        {"tagging preferences", [] { setupTaggingPrefs(); }},
    };
}

QList<KLAppDelegate::Step> KLAppDelegate::didFinishLaunchingSteps()
{
    return {
        {"dock or tray mode",
         [this] {
             transformApp();
             // Switching at run time (the preferences write the setting).
             connect(&defaults(), &Defaults::changed, this, [this](const QString &key) {
                 if (key == QLatin1String("KPRunInDock"))
                     transformApp();
             });
         }},
        {"software update", [this] { setupSparkle(); }},
        {"settings watch",
         [this] {
             // Another Kelso process or an edit by hand changes the settings file: take the
             // change now rather than write the older copy back over it.
             m_settingsWatch = new KLSettingsWatch(defaults(), this);
         }},
        {"main window",
         [this] {
             KLMainWindowController::Options options;
             options.trayMode = m_trayIcon != nullptr;
             options.services = m_services.get();
             options.searchQueries =
                 KLIndexLiveQuery::factory(m_metadataIndex ? m_metadataIndex->databasePath() : QString());
             m_windowController = new KLMainWindowController(std::move(options));
         }},
        {"drop zone",
         [this] {
             KLDropZoneController::Options options;
             options.services = m_services.get();
             // A drop on the Cooler target: to the front of the Cooler (asking before it pushes
             // kept items out), and the window comes forward, active.
             options.coolerDrop = [this](const QStringList &paths) {
                 if (!m_windowController)
                     return;
                 m_windowController->coolerDelegate()->addPathsAskingBeforePushingOut(paths, 0);
                 noteShowRequest();
                 m_windowController->showWindow(true);
             };
             options.clearSearch = [this] {
                 if (m_windowController)
                     m_windowController->spotlightSearcher()->clearSearchNow();
             };
             m_dropZone = new KLDropZoneController(std::move(options));
             // Asked once at the end of a pane's drag: the answer is taken, so that a later drag
             // that ends elsewhere is not taken for one that ended on the zone.
             m_services->dropZoneQuery = [this] {
                 if (!m_dropZone)
                     return false;
                 const bool toZone = m_dropZone->dragWasToDropZone();
                 m_dropZone->setDragWasToDropZone(false);
                 return toZone;
             };
         }},
        {"selection menus", [this] { installSelectionActions(); }},
        {"global hot key", [this] { setupHotKey(); }},
        {"place main window", [this] { m_windowController->setWindowFrameForCurrentScreen(false); }},
        {"hide or show",
         [this] {
             // A dock-mode window is there from the start, as any application's; the tray's
             // band waits for the icon, the hot key or `kelso show`.
             if (!isInTrayMode() || QGuiApplication::applicationState() == Qt::ApplicationActive)
                 m_windowController->showWindow(true);
             else
                 hideSelf();
         }},
        {"first-start hint", [this] { showStartHintOnce(); }},
        {"panes did finish launching", [this] { m_windowController->applicationDidFinishLaunching(); }},
        {"metadata index crawl", [this] { startMetadataIndex(); }},
        {"activation",
         [this] {
             connect(qApp, &QGuiApplication::applicationStateChanged, this, &KLAppDelegate::applicationStateChanged);
         }},
        {"redraw timer",
         [this] {
             m_redrawTimer = new QTimer(this);
             m_redrawTimer->setInterval(500);
             connect(m_redrawTimer, &QTimer::timeout, this, &KLAppDelegate::refreshIfNeeded);
             m_redrawTimer->start();
         }},
        {"escape monitor", [this] { qApp->installEventFilter(this); }},
        {"launch count", [] { KLAppState::incrementLaunchCount(defaults()); }},
        {"crash-report consent", [this] { QTimer::singleShot(2000, this, &KLAppDelegate::launchBugsnagger); }},
        {"termination signals",
         [this] {
             connect(&UnixSignals::install(), &UnixSignals::terminationRequested, this, [this](int sig) {
                 qCInfo(lcApp, "signal %d, quitting", sig);
                 quit();
             });
             // Logging out ends the session; save first.
             connect(qApp, &QGuiApplication::commitDataRequest, this,
                     [](QSessionManager &) { Defaults::standard().synchronize(); });
         }},
        // Written half a second later: a lock file and a flush to disk have no place between
        // the start and the first showing of the window.
        {"save settings", [] { defaults().synchronizeSoon(); }},
    };
}

void KLAppDelegate::applicationWillFinishLaunching()
{
    runSteps("will finish launching", willFinishLaunchingSteps());
}

void KLAppDelegate::applicationDidFinishLaunching()
{
    runSteps("did finish launching", didFinishLaunchingSteps());
    if (qEnvironmentVariableIsSet("KELSO_TRACE_LIFECYCLE") && lifecycleClock().isValid())
        qCInfo(lcLifecycle, "start-up steps done at %.1f ms", lifecycleClock().nsecsElapsed() / 1e6);
    qCInfo(lcApp, "started (%s mode)", m_trayIcon ? "tray" : "window");
}

// ---- termination ----------------------------------------------------------------------------

QList<KLAppDelegate::Step> KLAppDelegate::willTerminateSteps()
{
    return {
        {"remove monitors", [this] { qApp->removeEventFilter(this); }},
        {"global hot key",
         [this] {
             if (m_hotKey)
                 m_hotKey->unInstallHotKey();
         }},
        {"virgin launch", [] { defaults().setBool(QStringLiteral("KLVirginLaunch"), false); }},
        {"drop zone position",
         [this] {
             if (m_dropZone)
                 m_dropZone->writeOutStateWhenQuiting();
         }},
        {"shutting down", [] { KLProcessFlags::setShuttingDown(true); }},
        {"stop metadata index",
         [this] {
             if (FileSystemEventStream *stream = FileSystemEventStream::defaultFileSystemEventStream())
                 stream->setRecordObserver({});
             // The crawler may be waiting on a decoder that reads a PDF's text (up to its time
             // limit): the decoders are killed first, so that the crawler stops at once.
             KPQuickLook::stopDecoders();
             if (m_metadataIndex)
                 m_metadataIndex->stop();
         }},
        {"stop event stream",
         [this] {
             if (m_windowController && m_windowController->kelsoDelegate()->recentFiles())
                 m_windowController->kelsoDelegate()->recentFiles()->shutdown();
         }},
        {"panes will terminate",
         [this] {
             if (m_windowController)
                 m_windowController->applicationWillTerminate();
         }},
        {"thumbnail queue",
         [] {
             // Renders draw with QPainter on worker threads: none may still run while the
             // application object goes away. The decoder processes they wait on are killed
             // first, so that they end at once (with the icon) whatever a decoder is doing.
             KPQuickLook::removeAllRequests();
             KPQuickLook::stopDecoders();
             if (!KPQuickLook::waitUntilAllOperationsAreFinished(1500) ||
                 !KLImageBrowserCell::waitForStackPictures(1500))
                 qCWarning(lcApp, "thumbnail renders still running at exit");
         }},
        {"close preferences",
         [] {
             // Its closing puts back what it changed while open (the drop zone's overlap with
             // the screen), so that the next start does not find the zone as the window left it.
             if (KLPreferencesController::hasInstance())
                 KLPreferencesController::singleInstance()->close();
         }},
        {"save settings", [] { defaults().synchronize(); }},
    };
}

void KLAppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    // An editor still open writes its changes, and every write ends before the program does.
    if (m_tagEditor && m_tagEditor->isVisible())
        m_tagEditor->close();
    XPTagWriteSession::waitForPendingWrites();
    runSteps("will terminate", willTerminateSteps());
}

void KLAppDelegate::startMetadataIndex()
{
    if (!m_metadataIndex)
        return;
    restartMetadataIndex();
    KLMetadataIndex *index = m_metadataIndex.get();
    if (FileSystemEventStream *stream = FileSystemEventStream::defaultFileSystemEventStream()) {
        // On the stream's worker thread: enqueue() only takes the crawler's queue lock.
        stream->setRecordObserver([index](const FileSystemEvent &event) {
            index->enqueue({KLMetadataIndex::changeForRecord(event.evPath, event.evFlag)});
        });
    }
    if (m_windowController)
        connect(m_windowController->kelsoDelegate(), &KLKelsoImageBrowserDelegate::itemOpenedInKelso, index,
                [index](const KLItemPtr &item) {
                    if (item)
                        index->noteOpened(item->path());
                });
    connect(&defaults(), &Defaults::changed, this, [this](const QString &key) {
        if (KLRules::observedKeys().contains(key) || key == QLatin1String("wantedDirectories"))
            restartMetadataIndex();
    });
    // Content indexing waits while the user works in Kelso.
    index->watchUserInput();
}

void KLAppDelegate::restartMetadataIndex()
{
    KLRules rules(defaults());
    rules.loadPrefs();
    // Same roots as the event stream's, so every record the index gets lies inside its crawl.
    // They are found on the index's restart thread: that reads the mount table and looks at
    // the wanted folders on the disk.
    m_metadataIndex->start([exclusions = rules.snapshot()] {
        return KLMetadataIndex::rulesFor(FileSystemEventStream::defaultWatchRoots(), exclusions);
    });
}

void KLAppDelegate::quit()
{
    applicationWillTerminate();
    qApp->quit();
}

// ---- modes, tray and menus ------------------------------------------------------------------

void KLAppDelegate::transformApp()
{
    const bool dock = defaults().boolForKey(QStringLiteral("KPRunInDock"));
    const bool trayAvailable = dock || QSystemTrayIcon::isSystemTrayAvailable();
    const bool tray = KLWindowMode::useTray(dock, trayAvailable);
    if (!dock && !tray)
        qCInfo(lcApp, "no system tray is available; running as a normal window");
    // Tray mode: a tool window without taskbar entry. Dock mode: a normal window.
    if (m_windowController)
        m_windowController->setTrayMode(tray);
    showStatusItem(tray);
    watchForTray(KLWindowMode::shouldWatchForTray(dock, tray));
}

void KLAppDelegate::watchForTray(bool watch)
{
    if (!watch) {
        delete m_trayWatch;
        m_trayWatch = nullptr;
        return;
    }
    if (m_trayWatch)
        return;
    // A tray that starts after Kelso (a panel restarted, an extension switched on) takes Kelso
    // into tray mode. X11 tells the tray's arrival only to those who watch its selection, which
    // Qt keeps to itself: look every few seconds (one round trip to the X server).
    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(KLWindowMode::kTrayWatchMs);
    connect(m_trayWatch, &QTimer::timeout, this, [this] {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            return;
        qCInfo(lcApp, "a system tray appeared; moving to the tray");
        transformApp();
    });
    m_trayWatch->start();
}

void KLAppDelegate::showStartHintOnce()
{
    if (!KLWindowMode::takeStartHint(defaults()) || !m_windowController)
        return;
    if (m_trayIcon) {
        const QString text = KLLocalized(QStringLiteral("KLStatusWindowHint"));
        m_trayIcon->showMessage(QStringLiteral("Kelso"), text, QSystemTrayIcon::Information, 15000);
        qCInfo(lcApp, "first start: %s", qUtf8Printable(text));
    } else {
        const QString text = KLLocalized(QStringLiteral("KLStatusWindowHintDock"));
        m_windowController->showStartHint(text);
        qCInfo(lcApp, "first start: %s", qUtf8Printable(text));
    }
}

void KLAppDelegate::buildStatusMenu()
{
    if (m_statusMenu)
        return;
    m_statusMenu = new QMenu;
    m_openKelsoMenuItem =
        m_statusMenu->addAction(KLLocalized(QStringLiteral("Open Kelso")), this, &KLAppDelegate::show);
    m_searchTagsItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("XPSearchTagsMenuItem")), this,
                                               [this] { tagSearch()->findAction(); });
    m_searchTagsItem->setObjectName(QStringLiteral("searchTagsAction"));
    // The hot key can be changed from here as well as in the preferences.
    m_assignHotKeyItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("XPAssignHotKeyMenuItem")), this,
                                                 &KLAppDelegate::assignHotKeyAction);
    m_assignHotKeyItem->setObjectName(QStringLiteral("assignHotKeyAction"));
    m_statusMenu->addSeparator();
    m_openAtLoginItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("Open at Login")), this,
                                                &KLAppDelegate::openKelsoAtLoginAction);
    m_openAtLoginItem->setCheckable(true);
    // validateMenuItem: the check mark follows the autostart entry each time the menu opens.
    connect(m_statusMenu, &QMenu::aboutToShow, this,
            [this] { m_openAtLoginItem->setChecked(DPOpenAtLogin::openAtLoginEnabled()); });
    m_statusMenu->addSeparator();
    m_aboutItem =
        m_statusMenu->addAction(KLLocalized(QStringLiteral("KLAboutMenuItem")), this, &KLAppDelegate::aboutAction);
    m_aboutItem->setObjectName(QStringLiteral("aboutAction"));
    m_preferencesItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("DPMenuItemPreferences")), this,
                                                &KLAppDelegate::preferencesAction);
    m_preferencesItem->setObjectName(QStringLiteral("preferencesAction"));
    m_helpItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("KLHelpMenuItem")), this, &KLAppDelegate::showHelp);
    m_helpItem->setObjectName(QStringLiteral("helpAction"));
    m_statusMenu->addSeparator();
    m_quitItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("Quit Kelso")), this, &KLAppDelegate::quit);
}

void KLAppDelegate::installSelectionActions()
{
    if (m_selectionActions || !m_windowController)
        return;
    m_selectionActions = new KLSelectionActions(
        [this]() -> KLPaneMenuActions * { return m_windowController ? m_windowController->activePane() : nullptr; },
        this);

    // Status menu: the commands go between the login item and "Quit Kelso".
    buildStatusMenu();
    m_statusMenu->removeAction(m_quitItem);
    m_selectionActions->addToMenu(m_statusMenu);
    m_statusMenu->addSeparator();
    m_statusMenu->addAction(m_quitItem);

    // Dock mode's menu bar, now or whenever the window makes it.
    if (m_windowController->hasMenuBar())
        populateMenuBar(m_windowController->menuBar());
    connect(m_windowController, &KLMainWindowController::menuBarCreated, this, &KLAppDelegate::populateMenuBar);
}

void KLAppDelegate::populateMenuBar(QMenuBar *bar)
{
    KLApplicationMenus::styleMenuBar(bar);
    // The application menu: About, the window, login, updates, preferences and Quit.
    QMenu *appMenu = bar->addMenu(KLLocalized(QStringLiteral("KLKelsoMenu")));
    appMenu->setObjectName(QStringLiteral("kelsoMenu"));
    appMenu->addAction(m_aboutItem);
    appMenu->addSeparator();
    appMenu->addAction(m_openKelsoMenuItem);
    appMenu->addAction(m_searchTagsItem);
    if (m_assignHotKeyItem)
        appMenu->addAction(m_assignHotKeyItem);
    // Find: the search field (the window has the key in either mode).
    appMenu->addAction(m_windowController->findAction());
    appMenu->addAction(m_openAtLoginItem);
    if (m_checkForUpdatesItem)
        appMenu->addAction(m_checkForUpdatesItem);
    connect(appMenu, &QMenu::aboutToShow, this,
            [this] { m_openAtLoginItem->setChecked(DPOpenAtLogin::openAtLoginEnabled()); });
    appMenu->addSeparator();
    m_preferencesItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    appMenu->addAction(m_preferencesItem);
    appMenu->addSeparator();
    // The menu bar exists in dock mode only, so its keys never reach a hidden tray window.
    m_quitItem->setShortcut(QKeySequence::Quit);
    appMenu->addAction(m_quitItem);

    QMenu *fileMenu = bar->addMenu(KLLocalized(QStringLiteral("KLFileMenu")));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    m_selectionActions->action(KLSelectionActions::OpenSelectedExternally)->setShortcut(QKeySequence::Open);
    m_selectionActions->action(KLSelectionActions::RenameSelected)->setShortcut(QKeySequence(Qt::Key_F2));
    m_selectionActions->addToMenu(fileMenu);

    QMenu *helpMenu = bar->addMenu(KLLocalized(QStringLiteral("KLHelpMenu")));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    QAction *keys = helpMenu->addAction(KLLocalized(QStringLiteral("KLKeyboardShortcutsMenuItem")), this,
                                        [this] { KLApplicationMenus::showKeyboardShortcuts(mainWindow()); });
    keys->setObjectName(QStringLiteral("keyboardShortcutsAction"));
    // The help page, in the web browser (F1).
    m_helpItem->setShortcut(QKeySequence::HelpContents);
    helpMenu->addAction(m_helpItem);
}

void KLAppDelegate::showStatusItem(bool show)
{
    if (show) {
        buildStatusMenu();
        delete m_trayIcon;
        m_trayIcon = new QSystemTrayIcon(KLSvgIcon::fromFile(QStringLiteral(":/icons/KelsoMenuItem.svg")), this);
        m_trayIcon->setToolTip(QStringLiteral("Kelso"));
        m_trayIcon->setContextMenu(m_statusMenu);
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                toggle();
        });
        m_trayIcon->show();
    } else if (m_trayIcon) {
        m_trayIcon->hide();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
}

void KLAppDelegate::setupSparkle()
{
    // No network updater on Linux: the menu item opens the release page in the web browser,
    // and is not shown when the settings name no release page.
    buildStatusMenu();
    if (KLApplicationMenus::releasePageUrl().isEmpty())
        return;
    m_checkForUpdatesItem = new QAction(KLLocalized(QStringLiteral("KLCheckForUpdates")), m_statusMenu);
    m_checkForUpdatesItem->setObjectName(QStringLiteral("checkForUpdatesAction"));
    connect(m_checkForUpdatesItem, &QAction::triggered, this, &KLAppDelegate::checkForUpdate);
    const QList<QAction *> actions = m_statusMenu->actions();
    m_statusMenu->insertAction(actions.value(1), m_checkForUpdatesItem);
}

void KLAppDelegate::checkForUpdate()
{
    KLFileCommands::openWebPage(KLApplicationMenus::releasePageUrl(), mainWindow(), *m_services);
}

void KLAppDelegate::preferencesAction()
{
    showPreferences(KLPreferencesPage::General);
}

void KLAppDelegate::showPreferences(KLPreferencesPage page)
{
    // While the preferences window is the active one the drop zone shows its strip, so that the
    // user sees where the zone is while choosing its edge.
    if (!m_preferencesConnected && m_dropZone) {
        m_preferencesConnected = true;
        connect(KLPreferencesController::singleInstance(), &KLPreferencesController::keyStatusChanged, this,
                [this](bool key) {
                    if (m_dropZone)
                        m_dropZone->setShownForPreferences(key);
                });
    }
    KLPreferencesController::showPreferences(page);
}

void KLAppDelegate::aboutAction()
{
    KLApplicationMenus::showAboutBox(mainWindow());
}

void KLAppDelegate::showHelp()
{
    KLFileCommands::openWebPage(KLApplicationMenus::helpPageUrl(), mainWindow(), *m_services);
}

void KLAppDelegate::openKelsoAtLoginAction()
{
    DPOpenAtLogin::toggleLoginItem();
}

void KLAppDelegate::colourDefaultsAction()
{
    KLSettings::resetColours(defaults());
}

void KLAppDelegate::runInDock()
{
    // The setting's observer switches the mode.
    defaults().setBool(QStringLiteral("KPRunInDock"), true);
}

void KLAppDelegate::runInMenubar()
{
    defaults().setBool(QStringLiteral("KPRunInDock"), false);
}

void KLAppDelegate::show()
{
    // openKelsoAction: bring the program forward; the window becomes key, which activates it.
    qCDebug(lcActivation) << "show requested";
    noteShowRequest();
    if (m_windowController)
        m_windowController->showWindow(true);
}

void KLAppDelegate::hide()
{
    qCDebug(lcActivation) << "hide requested";
    if (m_windowController)
        m_windowController->hideApplication();
}

void KLAppDelegate::toggle()
{
    QWidget *w = mainWindow();
    if (w && w->isVisible() && w->windowOpacity() > 0.0 && QGuiApplication::applicationState() == Qt::ApplicationActive)
        hide();
    else
        show();
}

void KLAppDelegate::hideSelf()
{
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        return;
    qCDebug(lcActivation) << "hidden a second after deactivation";
    if (m_windowController)
        m_windowController->hideApplication();
}

void KLAppDelegate::openFiles(const QStringList &paths)
{
    if (!m_windowController)
        return;
    // What does not fit in the full Cooler stays out rather than pushing kept items out.
    const QStringList refused = m_windowController->coolerDelegate()->addPathsThatFit(paths, 0);
    if (!refused.isEmpty())
        qCWarning(lcCooler, "%lld of the files did not fit in the Cooler (it holds at most 100 items)",
                  qint64(refused.size()));
    noteShowRequest();
    m_windowController->showWindow(true);
}

void KLAppDelegate::recentItemsJson(const QString &folder, std::function<void(const QString &json)> reply) const
{
    KLRecentSource *source = m_windowController ? m_windowController->kelsoDelegate()->recentFiles() : nullptr;
    if (!source) {
        reply(QStringLiteral("[]"));
        return;
    }
    QSet<QString> excluded;
    if (folder.isEmpty()) {
        const QStringList firstRow = m_windowController->coolerDelegate()->pathsInFirstRow();
        excluded = QSet<QString>(firstRow.begin(), firstRow.end());
    }
    source->answerRankedList(folder, excluded,
                             [reply = std::move(reply)](const QByteArray &json) { reply(QString::fromUtf8(json)); });
}

QString KLAppDelegate::recentStatusJson() const
{
    KLRecentSource *source = m_windowController ? m_windowController->kelsoDelegate()->recentFiles() : nullptr;
    const QVariantMap status = source ? source->streamStatus() : QVariantMap();
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(status)).toJson(QJsonDocument::Compact));
}

QString KLAppDelegate::shownRecentItemsJson() const
{
    if (!m_windowController)
        return QStringLiteral("[]");
    return QString::fromUtf8(KLCoolerStore::toJson(m_windowController->kelsoDelegate()->items()));
}

QString KLAppDelegate::shownSearchResultsJson() const
{
    if (!m_windowController)
        return QStringLiteral("{}");
    return QString::fromUtf8(m_windowController->searchArea()->shownStateJson());
}

QString KLAppDelegate::coolerItemsJson() const
{
    if (!m_windowController)
        return QStringLiteral("[]");
    return QString::fromUtf8(KLCoolerStore::toJson(m_windowController->coolerDelegate()->items()));
}

// ---- activation -----------------------------------------------------------------------------

void KLAppDelegate::applicationStateChanged(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    if (active == m_active || m_terminated)
        return;
    qCDebug(lcActivation) << (active ? "became active" : "resigned active");
    m_active = active;
    if (active) {
        applicationWillBecomeActive();
        applicationDidBecomeActive();
    } else {
        applicationDidResignActive();
    }
}

void KLAppDelegate::applicationWillBecomeActive()
{
    if (m_windowController)
        m_windowController->applicationWillBecomeActive();
}

void KLAppDelegate::applicationDidBecomeActive()
{
    if (m_windowController)
        m_windowController->applicationDidBecomeActive();
    // A combination another program held at the last try may be free now.
    if (m_hotKey)
        m_hotKey->installHotKey();
    updateOpenKelsoShortcut();
    // The window just came to the front: a message about the hot key stays above it.
    if (m_hotKeyBox && m_hotKeyBox->isVisible()) {
        m_hotKeyBox->raise();
        m_hotKeyBox->activateWindow();
    }
}

// ---- global hot key -------------------------------------------------------------------------

void KLAppDelegate::setupHotKey()
{
    m_hotKeyBackend = GlobalHotKeys::create();
    m_hotKey = new XPHotKeyRegistration(defaults(), m_hotKeyBackend.get(), this);
    XPHotKeyControl::setRegistration(m_hotKey);
    // globalHotKeyPressed: hide when active, else bring the window forward (as `kelso toggle`).
    connect(m_hotKey, &XPHotKeyRegistration::hotKeyPressed, this, [this] {
        qCDebug(lcActivation) << "global hot key";
        toggle();
    });
    connect(m_hotKey, &XPHotKeyRegistration::registrationFailed, this, [this](const QString &message) {
        // Told once per combination (the registration sees to that); not modal, so that it
        // never stands in the way of the window.
        if (m_hotKeyBox)
            m_hotKeyBox->close();
        // On the main window, so that the window manager keeps it above the panel when the
        // panel comes up.
        m_hotKeyBox = new QMessageBox(QMessageBox::Warning, KLLocalized(QStringLiteral("XPHotKeyTakenTitle")), message,
                                      QMessageBox::Ok, mainWindow());
        m_hotKeyBox->setObjectName(QStringLiteral("hotKeyTakenBox"));
        m_hotKeyBox->setAttribute(Qt::WA_DeleteOnClose);
        m_hotKeyBox->setModal(false);
        m_hotKeyBox->show();
    });
    connect(&defaults(), &Defaults::changed, this, [this](const QString &key) {
        // Switched on or off from the preferences (also while no recording field exists).
        if (key == QLatin1String("XPUseGlobalHotKey"))
            m_hotKey->installHotKey();
        if (key == QLatin1String("XPUseGlobalHotKey") || key == QLatin1String("XPHotKeyKeyCode") ||
            key == QLatin1String("XPHotKeyCharacter") || key == QLatin1String("XPModifierFlags"))
            updateOpenKelsoShortcut();
    });
    m_hotKey->installHotKey();
    updateOpenKelsoShortcut();
}

void KLAppDelegate::assignHotKeyAction()
{
    // The sheet needs a window to sit on: bring the main window forward first.
    show();
    QWidget *parent = mainWindow();
    if (!m_hotKeySheet || m_hotKeySheet->parentWidget() != parent) {
        delete m_hotKeySheet;
        m_hotKeySheet = new KLHotKeySheet(parent);
    }
    if (!m_hotKeySheet->isVisible())
        m_hotKeySheet->begin();
    m_hotKeySheet->raise();
    m_hotKeySheet->activateWindow();
}

void KLAppDelegate::updateOpenKelsoShortcut()
{
    if (!m_openKelsoMenuItem)
        return;
    // Shown as the item's shortcut text only: the combination is global, a menu shortcut
    // would take the keys inside Kelso's own windows too.
    const QString shortcut = XPHotKeyControl::menuShortcutText();
    const QString title = KLLocalized(QStringLiteral("Open Kelso"));
    m_openKelsoMenuItem->setText(shortcut.isEmpty() ? title : title + QLatin1Char('\t') + shortcut);
}

void KLAppDelegate::noteShowRequest()
{
    ++m_showRequests;
    m_sinceShowRequest.start();
}

void KLAppDelegate::applicationDidResignActive()
{
    // Qt reports the focus lost by a hidden window a moment late (it waits for a focus-in
    // elsewhere first). When that report arrives just after a show, it belongs to the earlier
    // hide: fading the window now would take back what the user just asked for. Look again
    // once the window manager has had time to focus the shown window.
    if (m_sinceShowRequest.isValid() && m_sinceShowRequest.elapsed() < 1000) {
        qCDebug(lcActivation) << "deactivation right after a show: checked again in a second";
        QTimer::singleShot(1000, this, [this, shows = m_showRequests] {
            if (!m_active && !m_terminated && m_showRequests == shows)
                resignActiveNow();
        });
        return;
    }
    resignActiveNow();
}

void KLAppDelegate::resignActiveNow()
{
    if (m_windowController)
        m_windowController->applicationDidResignActive();
    if (m_dropZone) {
        m_dropZone->slideTitleBarOffscreen();
        // What is on the drag selection now is no new drag.
        m_dropZone->forgetCurrentDrag();
    }
    // Tray mode: hidden a second later unless the user came back meanwhile. A dock-mode window
    // stays on screen, as any application's window does.
    // A show asked for meanwhile wins: the window manager may take longer than that second to
    // make the shown window active again.
    if (isInTrayMode()) {
        QTimer::singleShot(1000, this, [this, shows = m_showRequests] {
            if (m_showRequests == shows)
                hideSelf();
        });
    }
}

void KLAppDelegate::refreshIfNeeded()
{
    if (KLProcessFlags::takeNeedsRedraw() && m_windowController)
        m_windowController->askForNeedsDisplay();
}

bool KLAppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // Escape in the main window hides Kelso; the key still reaches the focused control.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
        m_windowController && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == m_windowController->window() && !m_escapeHidePending) {
        // Inside a stack Escape first steps out of it; the next one hides.
        if (m_windowController->leaveStackOnEscape())
            return true;
        // An unaccepted key travels up the parents and passes this filter at each: hide once.
        qCDebug(lcActivation) << "Escape pressed";
        m_escapeHidePending = true;
        QTimer::singleShot(0, this, [this] {
            m_escapeHidePending = false;
            hide();
        });
    }
    return QObject::eventFilter(watched, event);
}

// ---- crash-report consent -------------------------------------------------------------------

void KLAppDelegate::launchBugsnagger()
{
    // An exception that escapes to the top cannot be resumed in C++; log what it was before
    // the process ends (the crash recorder, when allowed, then writes its record).
    std::set_terminate([] {
        QString what = QStringLiteral("unknown exception");
        if (std::exception_ptr current = std::current_exception()) {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception &e) {
                what = QString::fromLocal8Bit(e.what());
            } catch (...) {
            }
        }
        qCWarning(lcApp, "exception handler delegate called...?:  %s", qUtf8Printable(what));
        std::abort();
    });
    switch (KLAppState::consentStepAtLaunch(defaults())) {
    case KLAppState::ConsentStep::StartReporter:
        startBugsnaggingIfAllowed();
        break;
    case KLAppState::ConsentStep::AskUser:
        askToSendBugsnags();
        break;
    case KLAppState::ConsentStep::Nothing:
        break;
    }
}

void KLAppDelegate::askToSendBugsnags()
{
    if (m_consentBox)
        return;
    qCInfo(lcApp, "asking for crash-report consent");
    m_consentBox = new QMessageBox(QMessageBox::Question, KLLocalized(QStringLiteral("Crash Reports")),
                                   KLLocalized(QStringLiteral("Crash Reports")), QMessageBox::Yes | QMessageBox::No);
    m_consentBox->setObjectName(QStringLiteral("crashReportConsent"));
    m_consentBox->setInformativeText(KLLocalized(QStringLiteral(
        "Despite our best efforts and testing, sometimes a bug makes its way to you. Please help us out by "
        "sending us crash reports. \nYour confidentiality is assured.\n\nAllow crash reporting?")));
    m_consentBox->button(QMessageBox::Yes)->setText(KLLocalized(QStringLiteral("Yes")));
    m_consentBox->button(QMessageBox::No)->setText(KLLocalized(QStringLiteral("No")));
    m_consentBox->setDefaultButton(QMessageBox::Yes);
    m_consentBox->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_consentBox, &QMessageBox::finished, this, [this](int result) {
        // Closing the box without a choice counts as "No" but still counts as answered.
        const bool allowed = result == QMessageBox::Yes;
        KLAppState::recordConsentAnswer(defaults(), allowed);
        defaults().synchronize();
        qCInfo(lcApp, "crash reporting %s", allowed ? "allowed" : "declined");
        if (allowed)
            startBugsnaggingIfAllowed();
    });
    m_consentBox->show();
    m_consentBox->raise();
    m_consentBox->activateWindow();
}

void KLAppDelegate::startBugsnaggingIfAllowed()
{
    if (KLAppState::mayStartCrashReporter(defaults()))
        CrashRecorder::start();
}
