#include "app/KLCommandLine.h"

#include <QDir>
#include <QFileInfo>

namespace KLCommandLine {

QString usageText()
{
    return QStringLiteral("Usage: kelso [FILE…]\n"
                          "       kelso show | hide | toggle | quit\n"
                          "       kelso recent [--json] [--folder DIR] | recent --status [--json]\n"
                          "       kelso cooler [--json] | cooler add FILE… | cooler remove FILE…\n"
                          "       kelso tags [--json] FILE… | tags set|add|remove TEXT FILE… | rate N FILE…\n"
                          "       kelso file FILE… | managed on|off FILE…\n"
                          "       kelso thumbnail FILE --size N --output OUT.png [--icon-mode]\n"
                          "       kelso open-with FILE [APP.desktop] | rename FILE NEWNAME\n"
                          "       kelso never-show folder|extension|item|fragment VALUE…\n"
                          "       kelso search [--json] [--kind K] [--time T] [--in DIR] TEXT\n"
                          "       kelso --help | --version\n"
                          "\n"
                          "Without a command Kelso starts (or, when it is already running, hands the files to it:\n"
                          "they go to the front of the Cooler and the window is shown).\n");
}

KLCommand parse(const QStringList &arguments, const QStringList &toolCommands)
{
    KLCommand cmd;
    if (arguments.isEmpty())
        return cmd;
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        cmd.kind = KLCommand::Help;
        return cmd;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        cmd.kind = KLCommand::Version;
        return cmd;
    }
    static const QStringList controls = {QStringLiteral("show"), QStringLiteral("hide"), QStringLiteral("toggle"),
                                         QStringLiteral("quit")};
    if (controls.contains(first)) {
        if (arguments.size() > 1) {
            cmd.kind = KLCommand::UsageError;
            cmd.error = QStringLiteral("'%1' takes no arguments").arg(first);
            return cmd;
        }
        cmd.kind = KLCommand::Control;
        cmd.name = first;
        return cmd;
    }
    if (toolCommands.contains(first)) {
        cmd.kind = KLCommand::Tool;
        cmd.name = first;
        cmd.args = arguments.mid(1);
        return cmd;
    }
    // Everything else must be files to hand over. "--" ends options so that a file called
    // "show" or "-x" can still be given.
    QStringList words = arguments;
    bool optionsEnded = false;
    for (const QString &word : words) {
        if (!optionsEnded && word == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word.startsWith(QLatin1Char('-'))) {
            cmd.kind = KLCommand::UsageError;
            cmd.error = QStringLiteral("unknown option '%1'").arg(word);
            return cmd;
        }
        const QFileInfo info(word);
        if (!info.exists() && !info.isSymLink()) {
            cmd.kind = KLCommand::UsageError;
            cmd.error = QStringLiteral("'%1' is neither a command nor an existing file").arg(word);
            return cmd;
        }
        cmd.args.append(QDir::cleanPath(info.absoluteFilePath()));
    }
    cmd.kind = KLCommand::Gui;
    return cmd;
}

} // namespace KLCommandLine
