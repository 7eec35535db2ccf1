#pragma once
// `kelso search [--json] [--kind K] [--time T] [--in DIR] TEXT` and `kelso search --status`.
// The search goes to the running Kelso (D-Bus method Search) when there is one, else it reads
// the index itself, read-only; both give the same merged list. --status reads the counts the
// crawler recorded in the index.
#include "search/KLSearchQueryText.h"

#include <QStringList>

namespace KLSearchCommand {

struct Arguments {
    bool json = false;
    bool status = false;
    KLSearchQueryText::Criteria criteria;
    QString kindName, timeName; // as given, for the D-Bus call
    QString folder;             // absolute, cleaned; empty: everywhere
};

// False with *error (a usage error) for an unknown option, a missing value, an unknown kind or
// time, a folder that does not exist, or nothing to search for.
bool parseArguments(const QStringList &args, Arguments *out, QString *error);

// The merged results as JSON (the D-Bus method's answer and `--json`); false with *error.
bool searchJson(const KLSearchQueryText::Criteria &criteria, const QString &folder, const QString &databasePath,
                QByteArray *json, QString *error);

} // namespace KLSearchCommand

int runSearchCommand(const QStringList &args);
