#pragma once
// `kelso cooler [--json]`, `kelso cooler add FILE…`, `kelso cooler remove FILE…`.
// Works through the running Kelso when there is one (so the window and its store stay the one
// truth), else directly on the store file.
#include <QByteArray>
#include <QStringList>

int runCoolerCommand(const QStringList &args);

namespace KLCoolerCommand {
// One line of the plain listing: "PATH<TAB>TITLE\n". So that every item stays on one line
// whatever its name holds, a backslash is written "\\", a newline "\n", a tab "\t", a
// carriage return "\r" and any other control character "\xHH" (UTF-8 otherwise).
QByteArray plainLine(const QString &path, const QString &title);
QByteArray escapeField(const QString &text);
// The one line that says how many of the files asked for did not fit in the full Cooler.
QString didNotFitMessage(const QStringList &refused, qsizetype asked);
} // namespace KLCoolerCommand
