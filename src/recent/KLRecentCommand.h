#pragma once
// `kelso recent [--json] [--folder DIR]`: the ranked recent list, or the items recorded for
// one folder. Asks the running instance over the session bus (RecentItems) when there is one;
// otherwise reads the recent-items store and ranks it with the collector's own code.
// Exit status: 0 done, 1 failed (one line on stderr), 2 usage error.
#include <QString>
#include <QStringList>

int runRecentCommand(const QStringList &args);

namespace KLRecentCommand {
struct Arguments {
    bool json = false;
    QString folder; // absolute, without a trailing "/"; empty for the ranked list
};
// False with *error set for a usage error.
bool parseArguments(const QStringList &args, Arguments *out, QString *error);
// The list as JSON, computed from the store at `storePath` (empty: the default store).
QByteArray jsonFromStore(const QString &folder, const QString &storePath = QString());
// What the command prints for the given JSON array text.
QString render(const QByteArray &json, bool asJson);
} // namespace KLRecentCommand
