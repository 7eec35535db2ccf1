#pragma once
// The command-line tools of `kelso WORD …` that run without a display (recent, cooler, tags,
// rate, file, managed, thumbnail, search). Each subsystem provides one function
// `int run…Command(const QStringList &args)` that answers the exit status (0 done, 1 failed,
// 2 usage error) and is listed in KLToolCommands.cpp. Tools run inside a QCoreApplication.
#include <QStringList>
#include <functional>

struct KLToolCommand {
    QString name;
    std::function<int(const QStringList &args)> run;
};

namespace KLToolCommands {
const QList<KLToolCommand> &all();
QStringList names();
const KLToolCommand *find(const QString &name);
} // namespace KLToolCommands
