#include "app/KLCommandLine.h"

#include <QByteArrayView>
#include <QDir>
#include <QFileInfo>

namespace KLCommandLine {

namespace {

bool isUtf8(const QByteArray &bytes)
{
    return QByteArrayView(bytes).isValidUtf8();
}

// Where the list of files begins in a command's words, or -1 for a command that takes no list.
qsizetype firstFileWord(const QList<QByteArray> &raw)
{
    if (raw.isEmpty())
        return -1;
    const QByteArray &first = raw.first();
    const QByteArray second = raw.value(1);
    if (first == "cooler")
        return second == "add" || second == "remove" ? 2 : -1;
    if (first == "tags")
        return second == "set" || second == "add" || second == "remove" ? 3 : 1;
    if (first == "rate" || first == "managed")
        return 2;
    if (first == "file")
        return 1;
    static const QByteArrayList others = {"recent", "thumbnail", "open-with", "rename", "never-show",
                                          "search", "show",      "hide",      "toggle", "quit"};
    if (others.contains(first) || first.startsWith('-'))
        return -1;
    return 0; // files handed to Kelso
}

} // namespace

KLDecodedArguments decodeArguments(const QList<QByteArray> &raw)
{
    KLDecodedArguments out;
    const qsizetype files = firstFileWord(raw);
    qsizetype filesLeft = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (isUtf8(raw[i])) {
            out.words.append(QString::fromUtf8(raw[i]));
            if (files >= 0 && i >= files && !raw[i].startsWith('-'))
                ++filesLeft;
            continue;
        }
        out.refused.append(QString::fromUtf8(raw[i]));
        if (files < 0 || i < files)
            out.runRest = false;
    }
    if (!out.refused.isEmpty() && filesLeft == 0)
        out.runRest = false;
    return out;
}

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
