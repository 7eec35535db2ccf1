#pragma once
// `kelso recent [--json] [--folder DIR]`: the ranked recent list, or the items recorded for
// one folder. Asks the running instance over the session bus (RecentItems) when there is one;
// otherwise reads the recent-items store and ranks it with the collector's own code.
// `kelso recent --status [--json]`: what the running instance's event stream watches
// (RecentStatus); exit status 1 when it watches nothing or Kelso is not running.
// Plain lines are "title<TAB>subtitle<TAB>path"; a backslash, tab, newline or carriage return
// in a field is written as \\, \t, \n, \r, so that every item is one line.
// Exit status: 0 done, 1 failed (one line on stderr), 2 usage error.
#include <QString>
#include <QStringList>
#include <QVariantMap>

int runRecentCommand(const QStringList &args);

namespace KLRecentCommand {
struct Arguments {
    bool json = false;
    bool status = false; // --status: what the event stream watches
    QString folder;      // absolute, without a trailing "/"; empty for the ranked list
};
// False with *error set for a usage error.
bool parseArguments(const QStringList &args, Arguments *out, QString *error);
// The list as JSON, computed from the store at `storePath` (empty: the default store).
QByteArray jsonFromStore(const QString &folder, const QString &storePath = QString());
// What the command prints for the given JSON array text.
QString render(const QByteArray &json, bool asJson);
// The plain text of `kelso recent --status`.
QString renderStatus(const QVariantMap &status);
} // namespace KLRecentCommand
