#include "recent/KLRecentCommand.h"

#include "platform/Defaults.h"
#include "platform/KLDBusClient.h"
#include "prefs/KLSettings.h"
#include "recent/KLRecentFiles.h"
#include "recent/KLRecentListFormat.h"
#include "util/Tilde.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace KLRecentCommand {

bool parseArguments(const QStringList &args, Arguments *out, QString *error)
{
    Arguments a;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--json")) {
            a.json = true;
        } else if (arg == QLatin1String("--status")) {
            a.status = true;
        } else if (arg == QLatin1String("--folder") || arg.startsWith(QLatin1String("--folder="))) {
            QString dir;
            if (arg == QLatin1String("--folder")) {
                if (i + 1 >= args.size()) {
                    *error = QStringLiteral("--folder needs a folder");
                    return false;
                }
                dir = args[++i];
            } else {
                dir = arg.mid(int(qstrlen("--folder=")));
            }
            if (dir.isEmpty()) {
                *error = QStringLiteral("--folder needs a folder");
                return false;
            }
            dir = PimsAdditions::stringByExpandingTildeInPathSANDBOX(dir);
            dir = QDir::cleanPath(QDir::current().absoluteFilePath(dir));
            a.folder = dir;
        } else {
            *error = QStringLiteral(
                         "unknown argument \"%1\"; usage: kelso recent [--json] [--folder DIR] | --status [--json]")
                         .arg(arg);
            return false;
        }
    }
    if (a.status && !a.folder.isEmpty()) {
        *error = QStringLiteral("--status takes no --folder");
        return false;
    }
    *out = a;
    return true;
}

QByteArray jsonFromStore(const QString &folder, const QString &storePath)
{
    KLSettings::setupDefaults(Defaults::standard());
    KLRecentFiles::Options options;
    options.storePath = storePath;
    options.useDefaultStream = false;
    options.startStream = false;
    options.startOpenedFilesQuery = false;
    options.primeListingCache = false;
    KLRecentFiles collector(options);
    // Nothing runs in the background here: find out about every recorded file now, so that
    // files gone since are left out and titles and dates are real.
    for (const KLRecentEvent &event : collector.pastEvents()) {
        for (const KLItemPtr &item : event.files)
            item->calculateCache();
    }
    const QList<KLItemPtr> items =
        folder.isEmpty() ? collector.recentFiles({}) : collector.recentFilesInDirectory(folder);
    for (const KLItemPtr &item : items)
        item->calculateCache(); // folder items made for stacks
    return KLRecentListFormat::toJson(items);
}

QString renderStatus(const QVariantMap &status)
{
    QString out;
    const QString problem = status.value(QStringLiteral("problem")).toString();
    if (!status.value(QStringLiteral("active")).toBool()) {
        out += QStringLiteral("watching nothing: %1\n")
                   .arg(problem.isEmpty() ? QStringLiteral("the event stream is not running") : problem);
        return out;
    }
    out += QStringLiteral("backend: %1\n").arg(status.value(QStringLiteral("backend")).toString());
    const QStringList topOnly = status.value(QStringLiteral("topOnlyRoots")).toStringList();
    for (const QString &root : status.value(QStringLiteral("roots")).toStringList())
        out += QStringLiteral("root: %1%2\n")
                   .arg(KLRecentListFormat::escapeForLine(root),
                        topOnly.contains(root) ? QStringLiteral(" (slow volume: its top only)") : QString());
    out += QStringLiteral("watched folders: %1\n").arg(status.value(QStringLiteral("watchedFolders")).toInt());
    const int unwatched = status.value(QStringLiteral("unwatchedFolders")).toInt();
    if (unwatched > 0)
        out += QStringLiteral("folders left unwatched (watch limit reached): %1\n").arg(unwatched);
    return out;
}

QString render(const QByteArray &json, bool asJson)
{
    if (asJson)
        return QString::fromUtf8(json) + QLatin1Char('\n');
    return KLRecentListFormat::plainFromJson(QJsonDocument::fromJson(json).array());
}

} // namespace KLRecentCommand

namespace {
int runStatus(bool asJson)
{
    if (!KLDBusClient::sessionBusAvailable() || !KLDBusClient::instanceRunning()) {
        std::fprintf(stderr, "kelso recent: Kelso is not running; no folder is watched\n");
        return 1;
    }
    QVariant result;
    QString why;
    if (!KLDBusClient::call(QStringLiteral("RecentStatus"), {}, &result, &why)) {
        std::fprintf(stderr, "kelso recent: the running Kelso did not answer (%s)\n", qUtf8Printable(why));
        return 1;
    }
    const QByteArray json = result.toString().toUtf8();
    const QVariantMap status = QJsonDocument::fromJson(json).object().toVariantMap();
    const QByteArray out = asJson ? json + '\n' : KLRecentCommand::renderStatus(status).toUtf8();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    // Watching nothing is a failure a script should see.
    return status.value(QStringLiteral("active")).toBool() ? 0 : 1;
}
} // namespace

int runRecentCommand(const QStringList &args)
{
    KLRecentCommand::Arguments a;
    QString error;
    if (!KLRecentCommand::parseArguments(args, &a, &error)) {
        std::fprintf(stderr, "kelso recent: %s\n", qUtf8Printable(error));
        return 2;
    }
    if (a.status)
        return runStatus(a.json);
    QByteArray json;
    if (KLDBusClient::sessionBusAvailable() && KLDBusClient::instanceRunning()) {
        QVariant result;
        QString why;
        // The running Kelso looks at the recorded files before it answers: allow for a big list
        // on a slow disk.
        if (KLDBusClient::call(QStringLiteral("RecentItems"), {a.folder}, &result, &why, 60000)) {
            json = result.toString().toUtf8();
            QJsonParseError parseError;
            if (!QJsonDocument::fromJson(json, &parseError).isArray())
                json.clear();
        }
        if (json.isEmpty())
            std::fprintf(stderr, "kelso recent: the running Kelso did not answer (%s); reading the store\n",
                         qUtf8Printable(why.isEmpty() ? QStringLiteral("unexpected reply") : why));
    }
    if (json.isEmpty())
        json = KLRecentCommand::jsonFromStore(a.folder);
    const QByteArray out = KLRecentCommand::render(json, a.json).toUtf8();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return 0;
}
