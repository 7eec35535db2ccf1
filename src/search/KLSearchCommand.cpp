#include "search/KLSearchCommand.h"

#include "platform/KLDBusClient.h"
#include "platform/mdindex/MdStore.h"
#include "recent/KLRecentListFormat.h"
#include "search/KLSearchRun.h"
#include "util/Tilde.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace KLSearchCommand {
namespace {

QString names(const QStringList &labels)
{
    QStringList out;
    for (const QString &l : labels)
        out.append(QLatin1Char('"') + l + QLatin1Char('"'));
    return out.join(QStringLiteral(", "));
}

template <typename Entry> QStringList labelsOf(const QList<Entry> &entries)
{
    QStringList out;
    for (const Entry &e : entries)
        out.append(e.label);
    return out;
}

} // namespace

bool parseArguments(const QStringList &args, Arguments *out, QString *error)
{
    Arguments a;
    QStringList words;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            words.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("--json")) {
            a.json = true;
        } else if (arg == QLatin1String("--status")) {
            a.status = true;
        } else if (arg == QLatin1String("--kind") || arg == QLatin1String("--time") || arg == QLatin1String("--in")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                *error = QStringLiteral("%1 needs a value").arg(arg);
                return false;
            }
            const QString value = args[++i];
            if (arg == QLatin1String("--kind")) {
                a.criteria.kindIndex = KLSearchQueryText::kindIndexForName(value);
                a.kindName = value;
                if (a.criteria.kindIndex < 0) {
                    *error = QStringLiteral("unknown kind \"%1\"; kinds: %2")
                                 .arg(value, names(labelsOf(KLSearchQueryText::kinds())));
                    return false;
                }
            } else if (arg == QLatin1String("--time")) {
                a.criteria.timeIndex = KLSearchQueryText::timeIndexForName(value);
                a.timeName = value;
                if (a.criteria.timeIndex < 0) {
                    *error = QStringLiteral("unknown time \"%1\"; times: %2")
                                 .arg(value, names(labelsOf(KLSearchQueryText::times())));
                    return false;
                }
            } else {
                const QString dir = QDir::cleanPath(
                    QDir::current().absoluteFilePath(PimsAdditions::stringByExpandingTildeInPathSANDBOX(value)));
                if (!QFileInfo(dir).isDir()) {
                    *error = QStringLiteral("--in: \"%1\" is not a folder").arg(value);
                    return false;
                }
                a.folder = dir;
            }
        } else {
            *error = QStringLiteral("unknown option \"%1\"").arg(arg);
            return false;
        }
    }
    a.criteria.text = words.join(QLatin1Char(' '));
    if (a.status) {
        if (!words.isEmpty() || a.criteria.kindIndex > 0 || a.criteria.timeIndex > 0 || !a.folder.isEmpty()) {
            *error = QStringLiteral("--status takes no search");
            return false;
        }
    } else if (KLSearchQueryText::isNoSearch(a.criteria, !a.folder.isEmpty())) {
        *error = QStringLiteral("nothing to search for: give a text, --kind, --time or --in");
        return false;
    }
    *out = a;
    return true;
}

bool searchJson(const KLSearchQueryText::Criteria &criteria, const QString &folder, const QString &databasePath,
                QByteArray *json, QString *error)
{
    QList<MdIndex::FileRecord> results;
    const QStringList scopes = folder.isEmpty() ? QStringList() : QStringList{folder};
    if (!KLSearchRun::mergedSearch(criteria, scopes, databasePath, &results, error))
        return false;
    *json = QJsonDocument(KLSearchRun::toJsonArray(results)).toJson(QJsonDocument::Compact);
    return true;
}

} // namespace KLSearchCommand

namespace {

void print(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

int fail(const QString &why)
{
    std::fprintf(stderr, "kelso search: %s\n", qUtf8Printable(why));
    return 1;
}

bool running()
{
    return KLDBusClient::sessionBusAvailable() && KLDBusClient::instanceRunning();
}

int runStatus(bool asJson)
{
    QVariantMap status;
    QString error;
    if (!KLSearchRun::statusFromIndex(MdIndex::Store::defaultPath(), &status, &error))
        return fail(error);
    status.insert(QStringLiteral("running"), running());
    print(asJson ? QJsonDocument(QJsonObject::fromVariantMap(status)).toJson(QJsonDocument::Compact) + '\n'
                 : KLSearchRun::renderStatus(status).toUtf8());
    return 0;
}

} // namespace

int runSearchCommand(const QStringList &args)
{
    KLSearchCommand::Arguments a;
    QString error;
    if (!KLSearchCommand::parseArguments(args, &a, &error)) {
        std::fprintf(stderr,
                     "kelso search: %s\nusage: kelso search [--json] [--kind K] [--time T] [--in DIR] TEXT | "
                     "search --status [--json]\n",
                     qUtf8Printable(error));
        return 2;
    }
    if (a.status)
        return runStatus(a.json);
    QByteArray json;
    if (running()) {
        QVariant result;
        QString why;
        const QVariantList callArgs = {a.criteria.text, QString::number(a.criteria.kindIndex),
                                       QString::number(a.criteria.timeIndex), a.folder};
        if (!KLDBusClient::call(QStringLiteral("Search"), callArgs, &result, &why, 30000))
            return fail(QStringLiteral("the running Kelso did not answer (%1)").arg(why));
        json = result.toString().toUtf8();
    } else if (!KLSearchCommand::searchJson(a.criteria, a.folder, MdIndex::Store::defaultPath(), &json, &error)) {
        return fail(error);
    }
    if (a.json) {
        print(json + '\n');
        return 0;
    }
    print(KLRecentListFormat::plainFromJson(QJsonDocument::fromJson(json).array()).toUtf8());
    return 0;
}
