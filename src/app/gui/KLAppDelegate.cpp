#include "app/gui/KLAppDelegate.h"

#include "app/DPOpenAtLogin.h"
#include "app/KLAppState.h"
#include "app/gui/KLStatusWindow.h"
#include "fileops/XPFileUtils.h"
#include "platform/CrashRecorder.h"
#include "platform/Defaults.h"
#include "platform/UnixSignals.h"
#include "prefs/KLSettings.h"
#include "util/Localized.h"
#include "util/Tilde.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <exception>

namespace {
KLAppDelegate *g_shared = nullptr;
const char *kReleasePage = "https://kelso.tallow.app/releases";

Defaults &defaults()
{
    return Defaults::standard();
}
} // namespace

KLAppDelegate::KLAppDelegate()
{
    setupDefaults();
    g_shared = this;
}

KLAppDelegate::~KLAppDelegate()
{
    if (g_shared == this)
        g_shared = nullptr;
    delete m_trayIcon;
    delete m_window;
    delete m_statusMenu;
}

KLAppDelegate *KLAppDelegate::shared()
{
    return g_shared;
}

QWidget *KLAppDelegate::mainWindow() const
{
    return m_window;
}

void KLAppDelegate::setupDefaults()
{
    KLSettings::setupDefaults(defaults());
}

bool KLAppDelegate::lumitagPrefsFileExists()
{
    return QFile::exists(Defaults::pathForDomain(QStringLiteral("com.lumitag.shared")));
}

void KLAppDelegate::setupTaggingPrefs()
{
    // The recent-tags store uses the shared domain when another tagging program created it,
    // else Kelso's own domain. The tag store reads this choice when it arrives.
    if (!lumitagPrefsFileExists())
        qInfo("Kelso: no shared tag preferences; recent tags live in com.tallow.kelso");
}

void KLAppDelegate::runSteps(const char *phase, const QList<Step> &steps)
{
    for (const Step &step : steps) {
        if (qEnvironmentVariableIsSet("KELSO_TRACE_LIFECYCLE"))
            qInfo("Kelso: %s: %s", phase, step.name);
        step.run();
    }
}

// ---- start-up -------------------------------------------------------------------------------

QList<KLAppDelegate::Step> KLAppDelegate::willFinishLaunchingSteps()
{
    return {
        {"rebuild slow volumes", [] { XPFileUtils::rebuildSlowVolumes(); }},
        {"tagging preferences", [this] { setupTaggingPrefs(); }},
    };
}

QList<KLAppDelegate::Step> KLAppDelegate::didFinishLaunchingSteps()
{
    return {
        {"dock or tray mode", [this] { transformApp(); }},
        {"software update", [this] { setupSparkle(); }},
        {"hide or show", [this] {
             if (QGuiApplication::applicationState() == Qt::ApplicationActive && m_window)
                 m_window->bringToFront();
         }},
        {"redraw timer", [this] {
             m_redrawTimer = new QTimer(this);
             m_redrawTimer->setInterval(500);
             connect(m_redrawTimer, &QTimer::timeout, this, &KLAppDelegate::refreshIfNeeded);
             m_redrawTimer->start();
         }},
        {"escape monitor", [this] { qApp->installEventFilter(this); }},
        {"launch count", [] { KLAppState::incrementLaunchCount(defaults()); }},
        {"crash-report consent", [this] { QTimer::singleShot(2000, this, &KLAppDelegate::launchBugsnagger); }},
        {"termination signals", [this] {
             connect(&UnixSignals::install(), &UnixSignals::terminationRequested, this, [this](int sig) {
                 qInfo("Kelso: signal %d, quitting", sig);
                 quit();
             });
             // Logging out ends the session; save first.
             connect(qApp, &QGuiApplication::commitDataRequest, this, [](QSessionManager &) {
                 Defaults::standard().synchronize();
             });
         }},
        {"save settings", [] { defaults().synchronize(); }},
    };
}

void KLAppDelegate::applicationWillFinishLaunching()
{
    runSteps("will finish launching", willFinishLaunchingSteps());
}

void KLAppDelegate::applicationDidFinishLaunching()
{
    runSteps("did finish launching", didFinishLaunchingSteps());
    qInfo("Kelso: started (%s mode)", m_trayIcon ? "tray" : "window");
}

// ---- termination ----------------------------------------------------------------------------

QList<KLAppDelegate::Step> KLAppDelegate::willTerminateSteps()
{
    return {
        {"remove monitors", [this] { qApp->removeEventFilter(this); }},
        {"virgin launch", [] { defaults().setBool(QStringLiteral("KLVirginLaunch"), false); }},
        {"shutting down", [] { KLAppState::setShuttingDown(true); }},
        {"save settings", [] { defaults().synchronize(); }},
    };
}

void KLAppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    runSteps("will terminate", willTerminateSteps());
}

void KLAppDelegate::quit()
{
    applicationWillTerminate();
    qApp->quit();
}

// ---- modes, tray and menus ------------------------------------------------------------------

void KLAppDelegate::transformApp()
{
    if (!m_window) {
        m_window = new KLStatusWindow;
    }
    const bool dock = defaults().boolForKey(QStringLiteral("KPRunInDock"));
    bool tray = !dock;
    if (tray && !QSystemTrayIcon::isSystemTrayAvailable()) {
        qInfo("Kelso: no system tray is available; running as a normal window");
        tray = false;
    }
    // Tray mode: a tool window without taskbar entry. Dock mode: a normal window.
    m_window->setWindowFlag(Qt::Tool, tray);
    showStatusItem(tray);
}

void KLAppDelegate::buildStatusMenu()
{
    if (m_statusMenu)
        return;
    m_statusMenu = new QMenu;
    m_openKelsoMenuItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("Open Kelso")), this, &KLAppDelegate::show);
    m_statusMenu->addSeparator();
    m_openAtLoginItem = m_statusMenu->addAction(KLLocalized(QStringLiteral("Open at Login")), this,
                                                &KLAppDelegate::openKelsoAtLoginAction);
    m_openAtLoginItem->setCheckable(true);
    // validateMenuItem: the check mark follows the autostart entry each time the menu opens.
    connect(m_statusMenu, &QMenu::aboutToShow, this,
            [this] { m_openAtLoginItem->setChecked(DPOpenAtLogin::openAtLoginEnabled()); });
    m_statusMenu->addSeparator();
    m_statusMenu->addAction(KLLocalized(QStringLiteral("Quit Kelso")), this, &KLAppDelegate::quit);
}

void KLAppDelegate::showStatusItem(bool show)
{
    if (show) {
        buildStatusMenu();
        delete m_trayIcon;
        m_trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/KelsoMenuItem.svg")), this);
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
    // No network updater on Linux: the menu item opens the release page.
    buildStatusMenu();
    auto *item = new QAction(KLLocalized(QStringLiteral("Check for Updates")), m_statusMenu);
    connect(item, &QAction::triggered, this, &KLAppDelegate::checkForUpdate);
    const QList<QAction *> actions = m_statusMenu->actions();
    m_statusMenu->insertAction(actions.value(1), item);
}

void KLAppDelegate::checkForUpdate()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kReleasePage)));
}

void KLAppDelegate::openKelsoAtLoginAction()
{
    DPOpenAtLogin::toggleLoginItem();
}

void KLAppDelegate::colourDefaultsAction()
{
    KLSettings::resetColours(defaults());
}

void KLAppDelegate::show()
{
    if (m_window)
        m_window->bringToFront();
}

void KLAppDelegate::hide()
{
    if (m_window)
        m_window->hide();
}

void KLAppDelegate::toggle()
{
    if (m_window && m_window->isVisible() && m_window->isActiveWindow())
        hide();
    else
        show();
}

void KLAppDelegate::openFiles(const QStringList &paths)
{
    // The Cooler takes handed-over files once it exists; until then the window lists them.
    m_pendingFiles = paths + m_pendingFiles;
    if (m_window)
        m_window->setHandedFiles(m_pendingFiles);
    show();
}

void KLAppDelegate::refreshIfNeeded()
{
    if (KLAppState::takeNeedsRedraw() && m_window)
        m_window->update();
}

bool KLAppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // Escape anywhere in Kelso hides it; the key still reaches the focused control.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
        watched == m_window)
        hide();
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
        qWarning("exception handler delegate called...?:  %s", qUtf8Printable(what));
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
    qInfo("Kelso: asking for crash-report consent");
    m_consentBox = new QMessageBox(QMessageBox::Question, KLLocalized(QStringLiteral("Crash Reports")),
                                   KLLocalized(QStringLiteral("Crash Reports")), QMessageBox::Yes | QMessageBox::No);
    m_consentBox->setObjectName(QStringLiteral("crashReportConsent"));
    m_consentBox->setInformativeText(KLLocalized(QStringLiteral(
        "Despite our best efforts and testing, sometimes a bug makes it's way to you. Please help us out by "
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
        qInfo("Kelso: crash reporting %s", allowed ? "allowed" : "declined");
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
