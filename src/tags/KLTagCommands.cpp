#include "tags/KLTagCommands.h"

#include "platform/Defaults.h"
#include "platform/KLDBusClient.h"
#include "prefs/KLSettings.h"
#include "tags/Lumitag.h"
#include "tags/LumitagPrefs.h"
#include "tags/TagTextFormat.h"
#include "tags/XPFiledDocuments.h"
#include "tags/XPTagWriter.h"
#include "util/Localized.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

void printOut(const QString &line)
{
    std::fprintf(stdout, "%s\n", qUtf8Printable(line));
}

void printErr(const QString &line)
{
    std::fprintf(stderr, "kelso: %s\n", qUtf8Printable(line));
}

int usage(const QString &text)
{
    printErr(QStringLiteral("usage: %1").arg(text));
    return 2;
}

void setUp()
{
    KLSettings::setupDefaults(Defaults::standard());
    LumitagPrefs::chooseDomainAtStartup();
}

QString absolutePath(const QString &arg)
{
    QString path = QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QStringList absolutePaths(const QStringList &args)
{
    QStringList out;
    for (const QString &a : args)
        out.append(absolutePath(a));
    return out;
}

double unixMTime(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
}

QStringList withoutEmpty(const QStringList &tags)
{
    QStringList out;
    for (const QString &t : tags) {
        if (!t.isEmpty())
            out.append(t);
    }
    return out;
}

QSet<QString> lowerSet(const QStringList &tags)
{
    QSet<QString> out;
    for (const QString &t : tags)
        out.insert(t.toLower());
    return out;
}

int listTags(const QStringList &args)
{
    bool json = false;
    QStringList files;
    for (const QString &a : args) {
        if (a == QLatin1String("--json") && files.isEmpty())
            json = true;
        else
            files.append(a);
    }
    if (files.isEmpty())
        return usage(QStringLiteral("kelso tags [--json] FILE…"));
    const QStringList paths = absolutePaths(files);

    bool failed = false;
    QStringList readable;
    QJsonArray array;
    for (const QString &path : paths) {
        LumitagResult error;
        const std::optional<QStringList> tags = Lumitag::getUserTags(path, &error);
        if (error || !tags) {
            printErr(QStringLiteral("%1: %2").arg(path, error ? error->info : QStringLiteral("cannot read its tags")));
            failed = true;
            continue;
        }
        readable.append(path);
        if (json) {
            QJsonObject o;
            o.insert(QStringLiteral("path"), path);
            o.insert(QStringLiteral("title"), QFileInfo(path).fileName());
            o.insert(QStringLiteral("subtitle"), tags->join(QStringLiteral(", ")));
            o.insert(QStringLiteral("time"), unixMTime(path));
            o.insert(QStringLiteral("tags"), QJsonArray::fromStringList(*tags));
            o.insert(QStringLiteral("rating"), Lumitag::getRating(path));
            array.append(o);
        }
    }
    if (json) {
        std::fprintf(stdout, "%s\n", QJsonDocument(array).toJson(QJsonDocument::Indented).constData());
    } else if (!readable.isEmpty()) {
        for (const QString &tag : Lumitag::getCommonUserTags(readable))
            printOut(tag);
    }
    return failed ? 1 : 0;
}

int changeTags(const QString &verb, const QStringList &args)
{
    if (args.size() < 2)
        return usage(QStringLiteral("kelso tags %1 TEXT FILE…").arg(verb));
    const QStringList given = withoutEmpty(XPTagText::grepStringForTags(args.first()));
    if (given.isEmpty() && verb != QLatin1String("set")) {
        printErr(QStringLiteral("no tags in \"%1\"").arg(args.first()));
        return 2;
    }
    QStringList paths = absolutePaths(args.mid(1));
    if (Lumitag::MavericksOrLater() && verb != QLatin1String("remove")) {
        if (const auto refused = Lumitag::tagRefusedBySystemStore(given)) {
            printErr(KLLocalized(QStringLiteral("KLTagHasComma"), {*refused}) +
                     QStringLiteral("; nothing was changed"));
            return 1;
        }
    }

    const QStringList common = Lumitag::getCommonUserTags(paths);
    QStringList original = common;
    QStringList newTags;
    if (verb == QLatin1String("set")) {
        newTags = given;
    } else if (verb == QLatin1String("add")) {
        newTags = PimsAdditions::combineArraysSkipDuplicatesCaseInsensitive(common, given);
    } else {
        // Removing goes from every file that has the tag, not only when all of them have it:
        // the removed tags join the "original" side of the merge.
        const QSet<QString> drop = lowerSet(given);
        for (const QString &t : common) {
            if (!drop.contains(t.toLower()))
                newTags.append(t);
        }
        original = PimsAdditions::combineArraysSkipDuplicatesCaseInsensitive(common, given);
        QStringList holding;
        for (const QString &path : paths) {
            LumitagResult error;
            const std::optional<QStringList> tags = Lumitag::getUserTags(path, &error);
            // Unreadable files stay in the list so that the writer reports them.
            if (error || !tags || lowerSet(*tags).intersects(drop))
                holding.append(path);
        }
        paths = holding;
    }

    if (!XPTagWriter::needToSetTags(original, newTags) || paths.isEmpty())
        return 0;
    // Failures are listed below, one line per file, instead of the writer's log lines.
    const XPTagWriter::WriteResult result =
        XPTagWriter::replaceOriginalTags(original, newTags, paths, std::nullopt, {}, false);
    LumitagPrefs::updatePrefsRecentTags(original, newTags);
    for (const QString &path : result.failedPaths)
        printErr(QStringLiteral("%1: %2").arg(path, result.errors.value(path).info));
    return result.failedPaths.isEmpty() ? 0 : 1;
}

} // namespace

int runTagsCommand(const QStringList &args)
{
    setUp();
    if (args.isEmpty())
        return usage(QStringLiteral("kelso tags [--json] FILE… | kelso tags set|add|remove TEXT FILE…"));
    const QString first = args.first();
    if (first == QLatin1String("set") || first == QLatin1String("add") || first == QLatin1String("remove")) {
        const int status = changeTags(first, args.mid(1));
        Defaults::standard().synchronize();
        return status;
    }
    return listTags(args);
}

int runRateCommand(const QStringList &args)
{
    setUp();
    if (args.size() < 2)
        return usage(QStringLiteral("kelso rate N FILE…  (N from 0 to 5; 0 removes the rating)"));
    bool ok = false;
    const double rating = args.first().toDouble(&ok);
    if (!ok || !std::isfinite(rating))
        return usage(QStringLiteral("kelso rate N FILE…  (N is a number; \"%1\" is not)").arg(args.first()));
    const QStringList paths = absolutePaths(args.mid(1));
    const XPTagWriter::WriteResult result = XPTagWriter::replaceOriginalTags({}, {}, paths, rating);
    bool failed = false;
    for (const QString &path : paths) {
        if (!result.ratingErrors.contains(path))
            continue;
        const LumitagError error = result.ratingErrors.value(path);
        // Removing the rating of a file that has none leaves it as asked.
        if (rating <= 0 && error.isPOSIX(ENODATA))
            continue;
        printErr(QStringLiteral("%1: %2").arg(path, error.info));
        failed = true;
    }
    return failed ? 1 : 0;
}

int runFileCommand(const QStringList &args)
{
    setUp();
    if (args.isEmpty())
        return usage(QStringLiteral("kelso file FILE…"));
    QList<XPFiledDocuments::FilingOutcome> outcomes;
    XPFiledDocuments::putFilesIntoFiledDocuments(absolutePaths(args), true, &outcomes);
    bool failed = false;
    QStringList movedFrom, movedTo;
    for (const XPFiledDocuments::FilingOutcome &o : outcomes) {
        if (o.kind == XPFiledDocuments::FilingOutcome::Moved) {
            movedFrom.append(o.source);
            movedTo.append(o.destination);
        }
        switch (o.kind) {
        case XPFiledDocuments::FilingOutcome::Moved:
        case XPFiledDocuments::FilingOutcome::Copied:
        case XPFiledDocuments::FilingOutcome::MarkedInPlace:
            printOut(o.destination);
            if (o.markFailed) {
                // Filed, but not marked as managed: the caller must know it is not done.
                printErr(QStringLiteral("%1: filed as %2, but %3").arg(o.source, o.destination, o.why));
                failed = true;
            }
            break;
        case XPFiledDocuments::FilingOutcome::SkippedFolder:
        case XPFiledDocuments::FilingOutcome::Failed:
            printErr(QStringLiteral("%1: %2").arg(o.source, o.why));
            failed = true;
            break;
        }
    }
    // A running Kelso learns of the moves as it does of its own, so its Cooler and recent list
    // follow the files. The filing is done either way: a failure here is only told.
    QString why;
    if (!movedFrom.isEmpty() && KLDBusClient::instanceRunning() &&
        !KLDBusClient::call(QStringLiteral("ItemsMoved"), {movedFrom, movedTo}, nullptr, &why))
        printErr(QStringLiteral("the running Kelso was not told of the moves: %1").arg(why));
    return failed ? 1 : 0;
}

int runManagedCommand(const QStringList &args)
{
    setUp();
    if (args.size() < 2 || (args.first() != QLatin1String("on") && args.first() != QLatin1String("off")))
        return usage(QStringLiteral("kelso managed on|off FILE…"));
    const bool managed = args.first() == QLatin1String("on");
    bool failed = false;
    for (const QString &path : absolutePaths(args.mid(1))) {
        if (XPFiledDocuments::setManaged(managed, path))
            continue;
        // Say why: the write itself does not keep its error.
        LumitagResult error = Lumitag::setXAttrMetaData(managed, LumitagKeys::Managed, path);
        printErr(QStringLiteral("%1: %2").arg(path, error ? error->info
                                                          : QStringLiteral("the managed mark cannot be written")));
        failed = true;
    }
    return failed ? 1 : 0;
}
