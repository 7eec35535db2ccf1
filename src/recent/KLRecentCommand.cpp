#include "recent/KLRecentCommand.h"

#include "app/KLDBusClient.h"
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "recent/KLRecentFiles.h"
#include "recent/KLRecentListFormat.h"
#include "util/Tilde.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace KLRecentCommand {

bool parseArguments(const QStringList &args, Arguments *out, QString *error)
{
    Arguments a;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--json")) {
            a.json = true;
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
            *error = QStringLiteral("unknown argument \"%1\"; usage: kelso recent [--json] [--folder DIR]").arg(arg);
            return false;
        }
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
    const QList<KLItemPtr> items = folder.isEmpty() ? collector.recentFiles({}) : collector.recentFilesInDirectory(folder);
    for (const KLItemPtr &item : items)
        item->calculateCache(); // folder items made for stacks
    return KLRecentListFormat::toJson(items);
}

QString render(const QByteArray &json, bool asJson)
{
    if (asJson)
        return QString::fromUtf8(json) + QLatin1Char('\n');
    return KLRecentListFormat::plainFromJson(QJsonDocument::fromJson(json).array());
}

} // namespace KLRecentCommand

int runRecentCommand(const QStringList &args)
{
    KLRecentCommand::Arguments a;
    QString error;
    if (!KLRecentCommand::parseArguments(args, &a, &error)) {
        std::fprintf(stderr, "kelso recent: %s\n", qUtf8Printable(error));
        return 2;
    }
    QByteArray json;
    if (KLDBusClient::sessionBusAvailable() && KLDBusClient::instanceRunning()) {
        QVariant result;
        QString why;
        if (KLDBusClient::call(QStringLiteral("RecentItems"), {a.folder}, &result, &why)) {
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
