#pragma once
// The application delegate: brings Kelso up and takes it down in a fixed order, owns the
// tray icon and the status menu, and serves the automation interface.
//
// Start-up and termination are ordered lists of named steps (see the *Steps() functions), so
// that each subsystem slots into its place in the sequence as it arrives.
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QAction;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;
class QTimer;
class KLStatusWindow;

class KLAppDelegate : public QObject
{
    Q_OBJECT
public:
    // awakeFromNib: registers the settings defaults and publishes the delegate.
    KLAppDelegate();
    ~KLAppDelegate() override;

    static KLAppDelegate *shared();

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // Runs once; later calls do nothing.
    void applicationWillTerminate();

    // Automation and menu actions.
    void show();
    void hide();
    void toggle();
    void quit();
    void openFiles(const QStringList &paths);

    void colourDefaultsAction();
    void openKelsoAtLoginAction();
    void checkForUpdate();
    static bool lumitagPrefsFileExists();

    bool isInTrayMode() const { return m_trayIcon != nullptr; }
    QWidget *mainWindow() const;

private:
    struct Step {
        const char *name;
        std::function<void()> run;
    };
    QList<Step> willFinishLaunchingSteps();
    QList<Step> didFinishLaunchingSteps();
    QList<Step> willTerminateSteps();
    void runSteps(const char *phase, const QList<Step> &steps);

    void setupDefaults();
    void setupTaggingPrefs();
    void transformApp();
    void showStatusItem(bool show);
    void setupSparkle();
    void buildStatusMenu();
    void refreshIfNeeded();
    void launchBugsnagger();
    void askToSendBugsnags();
    void startBugsnaggingIfAllowed();
    bool eventFilter(QObject *watched, QEvent *event) override;

    QMenu *m_statusMenu = nullptr;
    QAction *m_openKelsoMenuItem = nullptr;
    QAction *m_openAtLoginItem = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    KLStatusWindow *m_window = nullptr;
    QTimer *m_redrawTimer = nullptr;
    QPointer<QMessageBox> m_consentBox;
    bool m_terminated = false;
    QStringList m_pendingFiles;
};
