#pragma once
// Parsing of Kelso's command line. The first word picks the role: a control or query command
// (a client that talks to the running instance over D-Bus and never opens a display), or files
// to hand over / no words at all (the GUI).
#include <QString>
#include <QStringList>

struct KLCommand {
    enum Kind {
        Gui, // start (files in `args` are handed over / added to the Cooler)
        Help,
        Version,
        Control, // show / hide / toggle / quit
        Tool,    // a subcommand of a later subsystem (recent, cooler, tags, …)
        UsageError,
    };
    Kind kind = Gui;
    QString name;     // command word
    QStringList args; // remaining words (files resolved to absolute paths for Gui)
    QString error;    // for UsageError
};

// The words of the command line as text. Kelso keeps paths as text, so a word that is not UTF-8
// cannot name a file it can work with: such words are refused (and told), and the command
// goes on with its other files when they are a list of files.
struct KLDecodedArguments {
    QStringList words;   // the UTF-8 words, in order
    QStringList refused; // the words that are not UTF-8, with replacement characters for display
    bool runRest = true; // false: a refused word was not one of a list of files, or none is left
};

namespace KLCommandLine {
// `raw` without the program name.
KLDecodedArguments decodeArguments(const QList<QByteArray> &raw);
// `arguments` without the program name. `isKnownTool` tells which extra command words exist.
KLCommand parse(const QStringList &arguments, const QStringList &toolCommands);
QString usageText();
} // namespace KLCommandLine
