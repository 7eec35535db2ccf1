#pragma once
// The application delegate: brings Kelso up and takes it down in a fixed order, owns the
// tray icon and the status menu, and serves the automation interface.
//
// Start-up and termination are ordered lists of named steps (see the *Steps() functions), so
// that each subsystem slots into its place in the sequence as it arrives.
#include "recent/KLItemServices.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class QMessageBox;
class QSystemTrayIcon;
class QTimer;
class KLDropZoneController;
class KLMainWindowController;
class KLSettingsWatch;
class KLMetadataIndex;
class KLSelectionActions;
class XPTagEditorController;
class XPTagSearchController;
class GlobalHotKeyBackend;
class XPHotKeyRegistration;
class KLHotKeySheet;
struct KLServices;
enum class KLPreferencesPage;

class KLAppDelegate : public QObject
{
    Q_OBJECT
public:
    // awakeFromNib: registers the settings defaults and publishes the delegate.
    KLAppDelegate();
    ~KLAppDelegate() override;

    static KLAppDelegate *shared();
    // Starts the clock that KELSO_TRACE_LIFECYCLE times the start-up steps against.
    static void startLifecycleClock();
    // Logs a point of the start-up against that clock, when KELSO_TRACE_LIFECYCLE is set.
    static void traceStartup(const char *what);

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // Runs once; later calls do nothing.
    void applicationWillTerminate();

    // Automation and menu actions.
    void show();
    void hide();
    void toggle();
    void quit();
    // application:openFiles: — to the front of the Cooler, and the window comes forward.
    void openFiles(const QStringList &paths);
    // The automation interface's lists (its Cooler changes are KLDBusService's).
    // The collector's list as of now (the Cooler's first row left out, as the pane does), or
    // one folder's items; `reply` gets the JSON, possibly on another thread.
    void recentItemsJson(const QString &folder, std::function<void(const QString &json)> reply) const;
    // What the file-system event stream watches, as JSON.
    QString recentStatusJson() const;
    // What the Recent Files pane shows now, as the grid has it (inside a stack, its files).
    QString shownRecentItemsJson() const;
    QString shownSearchResultsJson() const;
    QString coolerItemsJson() const;

    // Dock or tray mode at run time (KPRunInDock).
    void runInDock();
    void runInMenubar();
    // Hides the program unless it is active.
    void hideSelf();

    // Activation (QGuiApplication::applicationStateChanged).
    void applicationWillBecomeActive();
    void applicationDidBecomeActive();
    void applicationDidResignActive();

    void colourDefaultsAction();
    // The application commands: the preferences window, the About box, the help page.
    void preferencesAction();
    void showPreferences(KLPreferencesPage page);
    void aboutAction();
    void showHelp();
    // Shows the sheet that assigns the global hot key, on the main window.
    void assignHotKeyAction();
    void openKelsoAtLoginAction();
    void checkForUpdate();
    static bool lumitagPrefsFileExists();
    // Chooses where the recent tags are kept (see LumitagPrefs::chooseDomainAtStartup), logs
    // the choice and answers the domain.
    static QString setupTaggingPrefs();

    bool isInTrayMode() const { return m_trayIcon != nullptr; }
    QWidget *mainWindow() const;
    KLMainWindowController *windowController() const { return m_windowController; }
    QMenu *statusMenu() const { return m_statusMenu; }
    // The commands on the active pane's selection, in the status menu and the menu bar.
    KLSelectionActions *selectionActions() const { return m_selectionActions; }
    // The screen-edge drop zone; none before launching finished.
    KLDropZoneController *dropZone() const { return m_dropZone; }
    // What the window, its panes and their menus ask of the program, made once here.
    const KLServices &services() const { return *m_services; }
    // The tag editor and the tag search window, made when first asked for and kept.
    XPTagEditorController *tagEditor();
    XPTagSearchController *tagSearch();
    QAction *searchTagsMenuItem() const { return m_searchTagsItem; }
    // The metadata index service, made before the window and crawling once launching finished.
    KLMetadataIndex *metadataIndex() const { return m_metadataIndex.get(); }

private:
    struct Step {
        const char *name;
        std::function<void()> run;
    };
    QList<Step> willFinishLaunchingSteps();
    QList<Step> didFinishLaunchingSteps();
    QList<Step> willTerminateSteps();
    void runSteps(const char *phase, const QList<Step> &steps);

    static std::unique_ptr<KLServices> makeServices();
    void setupDefaults();
    void transformApp();
    void showStatusItem(bool show);
    // Without a tray (and without the user's choice of dock mode), looks for one to appear.
    void watchForTray(bool watch);
    void showStartHintOnce();
    void setupSparkle();
    void buildStatusMenu();
    // The selection commands in the status menu and the dock-mode menu bar.
    void installSelectionActions();
    void populateMenuBar(QMenuBar *bar);
    void refreshIfNeeded();
    // The global hot key: registered at start-up and at each activation, toggling the window.
    void setupHotKey();
    // The stored combination as the shortcut text of "Open Kelso".
    void updateOpenKelsoShortcut();
    void launchBugsnagger();
    void askToSendBugsnags();
    void startBugsnaggingIfAllowed();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void applicationStateChanged(Qt::ApplicationState state);
    // Starts the crawl on the watched roots with the exclusion settings and feeds it the event
    // stream's records and Kelso's own opens; again when the exclusions change.
    void startMetadataIndex();
    void restartMetadataIndex();

    // Outlives the window controller, which the destructor deletes first.
    std::unique_ptr<KLServices> m_services;
    std::unique_ptr<KLMetadataIndex> m_metadataIndex;
    QMenu *m_statusMenu = nullptr;
    QAction *m_openKelsoMenuItem = nullptr;
    QAction *m_openAtLoginItem = nullptr;
    QAction *m_quitItem = nullptr;
    QAction *m_aboutItem = nullptr;
    QAction *m_preferencesItem = nullptr;
    bool m_preferencesConnected = false;
    QAction *m_helpItem = nullptr;
    KLSettingsWatch *m_settingsWatch = nullptr;
    QAction *m_checkForUpdatesItem = nullptr;
    QAction *m_searchTagsItem = nullptr;
    XPTagEditorController *m_tagEditor = nullptr;
    XPTagSearchController *m_tagSearch = nullptr;
    KLSelectionActions *m_selectionActions = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    KLMainWindowController *m_windowController = nullptr;
    KLDropZoneController *m_dropZone = nullptr;
    bool m_active = false;
    QTimer *m_redrawTimer = nullptr;
    QTimer *m_trayWatch = nullptr;
    QPointer<QMessageBox> m_consentBox;
    std::unique_ptr<GlobalHotKeyBackend> m_hotKeyBackend;
    XPHotKeyRegistration *m_hotKey = nullptr;
    QPointer<QMessageBox> m_hotKeyBox;
    QPointer<KLHotKeySheet> m_hotKeySheet;
    QAction *m_assignHotKeyItem = nullptr;
    bool m_terminated = false;
    bool m_escapeHidePending = false;
    // Counts show requests, so that a hide planned at deactivation yields to a later show.
    quint64 m_showRequests = 0;
    // Time since the last show request (see applicationDidResignActive).
    QElapsedTimer m_sinceShowRequest;
    void noteShowRequest();
    void resignActiveNow();
};
