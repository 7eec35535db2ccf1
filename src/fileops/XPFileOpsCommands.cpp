#include "fileops/XPFileOpsCommands.h"

#include "fileops/XPOpenWith.h"
#include "fileops/XPRename.h"
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "prefs/KLUnwanted.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace {

void printOut(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
}

void printErr(const QString &line)
{
    std::fprintf(stderr, "kelso: %s\n", line.toUtf8().constData());
}

int usage(const QString &text)
{
    printErr(QStringLiteral("usage: ") + text);
    return 2;
}

QString absolutePath(const QString &arg)
{
    QString path = QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

int runOpenWithCommand(const QStringList &args)
{
    if (args.isEmpty() || args.size() > 2)
        return usage(QStringLiteral("kelso open-with FILE [APP.desktop]"));
    KLSettings::setupDefaults(Defaults::standard());
    const QString file = absolutePath(args.first());
    if (!QFileInfo::exists(file)) {
        printErr(QStringLiteral("%1: no such file").arg(file));
        return 1;
    }
    if (args.size() == 1) {
        for (const XPFileUtils::OpenWithEntry &e : XPFileUtils::openWithEntriesForDocument(file)) {
            if (e.kind != XPFileUtils::OpenWithEntry::Application)
                continue;
            printOut(
                QStringLiteral("%1%2\t%3").arg(e.isDefault ? QStringLiteral("* ") : QString(), e.title, e.toolTip));
        }
        Defaults::standard().synchronize(); // a stale preference may have been dropped
        return 0;
    }
    const QString app = absolutePath(args.at(1));
    if (!QFileInfo::exists(app)) {
        printErr(QStringLiteral("%1: no such application entry").arg(app));
        return 1;
    }
    QString error;
    const bool ok = XPFileUtils::openSelectedWithApp({{QStringLiteral("path"), file}, {QStringLiteral("app"), app}},
                                                     nullptr, &error);
    Defaults::standard().synchronize();
    if (!ok) {
        printErr(QStringLiteral("%1: %2").arg(file, error));
        return 1;
    }
    return 0;
}

int runRenameCommand(const QStringList &args)
{
    if (args.size() != 2)
        return usage(QStringLiteral("kelso rename FILE NEWNAME"));
    const QString file = absolutePath(args.first());
    if (!QFileInfo::exists(file) && !QFileInfo(file).isSymLink()) {
        printErr(QStringLiteral("%1: no such file").arg(file));
        return 1;
    }
    const XPFileUtils::RenamePlan plan = XPFileUtils::renameFile(file, args.at(1));
    switch (plan.status) {
    case XPFileUtils::RenamePlan::Ready:
        printOut(plan.target);
        return 0;
    case XPFileUtils::RenamePlan::Unchanged:
        printOut(file);
        return 0;
    case XPFileUtils::RenamePlan::Refused:
        break;
    }
    printErr(QStringLiteral("%1: %2").arg(
        file, plan.message.isEmpty()
                  ? QStringLiteral(
                        "a new name needs at least 2 characters before its extension and must not begin with \".\"")
                  : plan.message));
    return 1;
}

int runNeverShowCommand(const QStringList &args)
{
    static const QStringList kinds{QStringLiteral("folder"), QStringLiteral("extension"), QStringLiteral("item"),
                                   QStringLiteral("fragment")};
    if (args.size() < 2 || !kinds.contains(args.first()))
        return usage(QStringLiteral("kelso never-show folder|extension|item|fragment VALUE…"));
    Defaults &d = Defaults::standard();
    KLSettings::setupDefaults(d);
    const QString kind = args.first();
    bool failed = false;
    for (const QString &value : args.mid(1)) {
        if (kind == QLatin1String("fragment")) {
            if (!KLUnwanted::addUnwantedPathFragment(value))
                printErr(QStringLiteral("%1: already listed").arg(value));
            continue;
        }
        const QString path = absolutePath(value);
        if (kind == QLatin1String("folder")) {
            if (!QFileInfo(path).isDir()) {
                printErr(QStringLiteral("%1: not a folder").arg(path));
                failed = true;
            } else if (!KLUnwanted::addUnwantedDirectory(path)) {
                printErr(QStringLiteral("%1: already listed").arg(path));
            }
        } else if (kind == QLatin1String("extension")) {
            if (XPFileUtils::pathExtension(path).isEmpty() && !QFileInfo(path).isDir()) {
                printErr(QStringLiteral("%1: has no extension").arg(path));
                failed = true;
            } else if (!KLUnwanted::addUnwantedExtensionFromFilePath(path)) {
                printErr(QStringLiteral("%1: already listed").arg(path));
            }
        } else if (!KLUnwanted::addUnwantedItem(path)) {
            printErr(QStringLiteral("%1: already listed").arg(path));
        }
    }
    if (!d.synchronize()) {
        printErr(QStringLiteral("the settings file cannot be written: %1").arg(d.filePath()));
        return 1;
    }
    return failed ? 1 : 0;
}
