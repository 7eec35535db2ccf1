#include "app/gui/KLGuiMain.h"

#include "app/KLCommandLine.h"
#include "app/KLToolCommands.h"
#include "app/gui/KLAppDelegate.h"
#include "app/gui/KLDBusService.h"
#include "platform/Defaults.h"
#include "platform/KLDBusClient.h"
#include "platform/x11/X11Display.h"
#include "util/Logging.h"
#include "util/ThreadNames.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QThreadPool>
#include <QTimer>
#include <cstdio>
#include <thread>

namespace KLGuiMain {

namespace {

void printErr(const QString &line)
{
    std::fprintf(stderr, "kelso: %s\n", qUtf8Printable(line));
}

QList<QByteArray> rawArgumentsOf(int argc, char **argv)
{
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));
    return args;
}

int runControl(int argc, char **argv, const QString &command)
{
    QCoreApplication app(argc, argv);
    static const QHash<QString, QString> methods = {{QStringLiteral("show"), QStringLiteral("Show")},
                                                    {QStringLiteral("hide"), QStringLiteral("Hide")},
                                                    {QStringLiteral("toggle"), QStringLiteral("Toggle")},
                                                    {QStringLiteral("quit"), QStringLiteral("Quit")}};
    QString why;
    // "show" and "toggle" start Kelso through the session bus when it is not running (an
    // installed service file); a toggle then shows it, as there was no window to hide.
    // "hide" and "quit" never start it just to stop it again.
    const bool mayStart = command == QLatin1String("show") || command == QLatin1String("toggle");
    bool ok = false;
    if (mayStart && !KLDBusClient::instanceRunning() && KLDBusClient::canBeStarted())
        ok = KLDBusClient::callStarting(QStringLiteral("Show"), &why);
    else
        ok = KLDBusClient::call(methods.value(command), {}, nullptr, &why);
    if (!ok) {
        printErr(QStringLiteral("%1: %2").arg(command, why));
        return 1;
    }
    return 0;
}

int runTool(int argc, char **argv, const KLCommand &cmd)
{
    QCoreApplication app(argc, argv);
    const KLToolCommand *tool = KLToolCommands::find(cmd.name);
    if (!tool)
        return 2;
    const int status = tool->run(cmd.args);
    Defaults::standard().synchronize();
    return status;
}

// Hands files (or just "show yourself") to a running instance. Answers -1 when none runs.
int handOver(const QStringList &files)
{
    if (!KLDBusClient::instanceRunning())
        return -1;
    QString why;
    const bool ok = files.isEmpty() ? KLDBusClient::call(QStringLiteral("Show"), {}, nullptr, &why)
                                    : KLDBusClient::call(QStringLiteral("OpenFiles"), {files}, nullptr, &why);
    if (!ok) {
        printErr(QStringLiteral("cannot hand over to the running Kelso: %1").arg(why));
        return 1;
    }
    return 0;
}

int runGui(int argc, char **argv, const QStringList &files)
{
    KLAppDelegate::startLifecycleClock();
    QString why;
    if (!X11Display::displayAvailable(&why)) {
        // Without a display Kelso cannot start, but a running instance can still take files.
        QCoreApplication core(argc, argv);
        if (KLDBusClient::sessionBusAvailable()) {
            const int handed = handOver(files);
            if (handed >= 0)
                return handed;
        }
        printErr(why);
        return 1;
    }

    QApplication::setApplicationName(QStringLiteral("Kelso"));
    QApplication::setOrganizationDomain(QStringLiteral("tallow.com"));
    QApplication::setDesktopFileName(QStringLiteral("kelso"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(KELSO_VERSION));
    QThreadPool::globalInstance()->setObjectName(QStringLiteral("kelso-pool"));
    // The event loop answers D-Bus and draws the window: it never waits for another process's
    // settings lock (a `kelso tags` stopped while holding it, say).
    Defaults::setNeverWaitOn(app.thread());
    KLAppDelegate::traceStartup("application object made");

    KLAppDelegate delegate; // registers the defaults first
    KLAppDelegate::traceStartup("settings read");
    // Single instance: the bus name decides. Asking for it is the check (one round trip to the
    // bus, not two); when Kelso already runs, it gets the files or is asked to show itself.
    auto *service = new KLDBusService(&delegate);
    if (!service->registerOnSessionBus(&why)) {
        if (KLDBusClient::instanceRunning()) {
            const int handed = handOver(files);
            if (handed >= 0)
                return handed;
        }
        qCWarning(lcDBus, "%s", qUtf8Printable(why));
    }
    KLAppDelegate::traceStartup("service registered");
    // Qt fills its font database (fontconfig's configuration and caches, then every installed
    // font: about five milliseconds) when the first text is measured. It is filled here on a
    // thread of its own, while the main thread makes the tray icon and the recent-files engine,
    // so that the window's first layout finds it ready. The database is shared by all threads
    // and locked while it is filled. Joined before the application object goes.
    std::jthread fonts([] {
        ThreadNames::setCurrent("kelso-fonts");
        QFontDatabase::families();
    });

    delegate.applicationWillFinishLaunching();
    QTimer::singleShot(0, &delegate, [&delegate, files] {
        delegate.applicationDidFinishLaunching();
        if (!files.isEmpty())
            delegate.openFiles(files);
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &KLAppDelegate::applicationWillTerminate);
    const int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}

int runWords(int argc, char **argv, const QStringList &words)
{
    const KLCommand cmd = KLCommandLine::parse(words, KLToolCommands::names());
    switch (cmd.kind) {
    case KLCommand::Help:
        std::fputs(qUtf8Printable(KLCommandLine::usageText()), stdout);
        return 0;
    case KLCommand::Version:
        std::printf("kelso %s\n", KELSO_VERSION);
        return 0;
    case KLCommand::UsageError:
        printErr(cmd.error);
        std::fputs(qUtf8Printable(KLCommandLine::usageText()), stderr);
        return 2;
    case KLCommand::Control:
        return runControl(argc, argv, cmd.name);
    case KLCommand::Tool:
        return runTool(argc, argv, cmd);
    case KLCommand::Gui:
        break;
    }
    return runGui(argc, argv, cmd.args);
}

} // namespace

int run(int argc, char **argv)
{
    // Log lines say which program and area wrote them; the tools' own error lines are printed
    // directly and keep their form.
    KelsoLog::installMessageFormat();
    const KLDecodedArguments decoded = KLCommandLine::decodeArguments(rawArgumentsOf(argc, argv));
    for (const QString &word : decoded.refused)
        printErr(QStringLiteral("%1: the name is not UTF-8; Kelso works only with UTF-8 names and left it as it is")
                     .arg(word));
    if (!decoded.runRest)
        return 1;
    const int status = runWords(argc, argv, decoded.words);
    return decoded.refused.isEmpty() || status != 0 ? status : 1;
}

} // namespace KLGuiMain
