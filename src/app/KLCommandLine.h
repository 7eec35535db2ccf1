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

namespace KLCommandLine {
// `arguments` without the program name. `isKnownTool` tells which extra command words exist.
KLCommand parse(const QStringList &arguments, const QStringList &toolCommands);
QString usageText();
} // namespace KLCommandLine
