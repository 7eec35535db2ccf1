#include "cooler/KLCoolerCommand.h"

#include "cooler/KLCoolerStore.h"
#include "cooler/KLItemListOps.h"
#include "platform/KLDBusClient.h"
#include "util/Tilde.h"

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

namespace KLCoolerCommand {

QByteArray escapeField(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (uchar(c) < 0x20 || c == 0x7f)
                out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out;
}

QByteArray plainLine(const QString &path, const QString &title)
{
    return escapeField(path) + '\t' + escapeField(title) + '\n';
}

QString didNotFitMessage(const QStringList &refused, qsizetype asked)
{
    return QStringLiteral("%1 of the %2 files did not fit: the Cooler holds at most %3 items (the first left out: %4)")
        .arg(refused.size())
        .arg(asked)
        .arg(KLItemListOps::kMaxItems)
        .arg(refused.value(0));
}

} // namespace KLCoolerCommand

namespace {

void err(const QString &line)
{
    std::fprintf(stderr, "kelso cooler: %s\n", qUtf8Printable(line));
}

void out(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

QString absolutePath(const QString &arg)
{
    const QString expanded = PimsAdditions::stringByExpandingTildeInPathSANDBOX(arg);
    QString p = QDir::cleanPath(QFileInfo(expanded).absoluteFilePath());
    return p;
}

// Why nothing can be found at `path`: empty when something is there. A path the system cannot
// take (over PATH_MAX, say) is told as such, not as a missing file.
QString lookUpFailure(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
        return QString();
    return errno == ENOENT ? QStringLiteral("no such file") : QString::fromLocal8Bit(std::strerror(errno));
}

int usage()
{
    err(QStringLiteral("usage: kelso cooler [--json] | kelso cooler add FILE… | kelso cooler remove FILE…\n"
                       "  plain output: PATH<TAB>TITLE per line; backslash, newline, tab and other control\n"
                       "  characters in them are written as \\\\, \\n, \\t, \\r and \\xHH"));
    return 2;
}

void printList(const QByteArray &json, bool asJson)
{
    if (asJson) {
        out(json);
        out("\n");
        return;
    }
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    for (const QJsonValue &v : array) {
        const QJsonObject o = v.toObject();
        out(KLCoolerCommand::plainLine(o.value(QStringLiteral("path")).toString(),
                                       o.value(QStringLiteral("title")).toString()));
    }
}

QStringList pathsOf(const QByteArray &json)
{
    QStringList paths;
    for (const QJsonValue &v : QJsonDocument::fromJson(json).array())
        paths.append(v.toObject().value(QStringLiteral("path")).toString());
    return paths;
}

// ---- through the running instance -----------------------------------------------------------

int listRunning(bool asJson)
{
    QVariant result;
    QString why;
    if (!KLDBusClient::call(QStringLiteral("CoolerItems"), {}, &result, &why)) {
        err(why);
        return 1;
    }
    printList(result.toString().toUtf8(), asJson);
    return 0;
}

int changeRunning(bool add, const QStringList &paths, int failures)
{
    QString why;
    if (!add) {
        // Report the paths the Cooler does not hold, then remove the others.
        QVariant result;
        if (!KLDBusClient::call(QStringLiteral("CoolerItems"), {}, &result, &why)) {
            err(why);
            return 1;
        }
        const QStringList held = pathsOf(result.toString().toUtf8());
        QStringList toRemove;
        for (const QString &p : paths) {
            if (held.contains(p)) {
                toRemove.append(p);
            } else {
                err(QStringLiteral("%1: not in the Cooler").arg(p));
                ++failures;
            }
        }
        if (!toRemove.isEmpty() && !KLDBusClient::call(QStringLiteral("RemoveFromCooler"), {toRemove}, nullptr, &why)) {
            err(why);
            return 1;
        }
        return failures ? 1 : 0;
    }
    if (!paths.isEmpty() && !KLDBusClient::call(QStringLiteral("AddToCooler"), {paths, 0}, nullptr, &why)) {
        err(why);
        return 1;
    }
    return failures ? 1 : 0;
}

// ---- on the store ---------------------------------------------------------------------------

QList<KLItemPtr> readStore(const QString &path, bool *ok)
{
    KLCoolerStore::ReadStatus status;
    QString why;
    QList<KLItemPtr> items = KLCoolerStore::read(path, &status, &why);
    *ok = status != KLCoolerStore::ReadStatus::Unreadable;
    if (status == KLCoolerStore::ReadStatus::MovedAside)
        err(QStringLiteral("the store could not be read (%1); it was moved aside").arg(why));
    else if (!*ok)
        err(QStringLiteral("cannot read %1: %2").arg(path, why));
    return items;
}

int listStore(bool asJson)
{
    bool ok = false;
    const QList<KLItemPtr> items = readStore(KLCoolerStore::pathForStateFile(), &ok);
    if (!ok)
        return 1;
    for (const KLItemPtr &item : items)
        item->calculateCache();
    printList(KLCoolerStore::toJson(items), asJson);
    return 0;
}

int changeStore(bool add, const QStringList &paths, int failures)
{
    const QString store = KLCoolerStore::pathForStateFile();
    bool ok = false;
    QList<KLItemPtr> items = readStore(store, &ok);
    if (!ok)
        return 1;
    if (add) {
        // What does not fit in the full Cooler stays out; nothing the user kept is pushed out.
        QStringList refused;
        const QStringList fit = KLItemListOps::pathsThatFit(items, paths, &refused);
        // Added in reverse at the front, so that they end up first in the given order.
        for (auto it = fit.crbegin(); it != fit.crend(); ++it)
            KLItemListOps::addItem(items, KLItem::create(*it), 0);
        if (!refused.isEmpty()) {
            err(KLCoolerCommand::didNotFitMessage(refused, paths.size()));
            ++failures;
        }
    } else {
        for (const QString &p : paths) {
            const int i = KLItemListOps::indexForPath(items, p);
            if (i < 0) {
                err(QStringLiteral("%1: not in the Cooler").arg(p));
                ++failures;
            } else {
                items.removeAt(i);
            }
        }
    }
    QString why;
    if (!KLCoolerStore::write(store, items, &why)) {
        err(QStringLiteral("cannot write %1: %2").arg(store, why));
        return 1;
    }
    return failures ? 1 : 0;
}

} // namespace

int runCoolerCommand(const QStringList &args)
{
    if (args.isEmpty() || (args.size() == 1 && args.first() == QLatin1String("--json"))) {
        const bool asJson = !args.isEmpty();
        return KLDBusClient::instanceRunning() ? listRunning(asJson) : listStore(asJson);
    }
    const QString verb = args.first();
    if (verb != QLatin1String("add") && verb != QLatin1String("remove"))
        return usage();
    const bool add = verb == QLatin1String("add");
    const QStringList files = args.mid(1);
    if (files.isEmpty())
        return usage();
    QStringList paths;
    QSet<QString> seen; // a look-up per file: a long list must not cost its square
    int failures = 0;
    for (const QString &f : files) {
        const QString p = absolutePath(f);
        const QString failure = add ? lookUpFailure(p) : QString();
        if (!failure.isEmpty()) {
            err(QStringLiteral("%1: %2").arg(f, failure));
            ++failures;
            continue;
        }
        if (!seen.contains(p)) {
            seen.insert(p);
            paths.append(p);
        }
    }
    if (add && paths.isEmpty())
        return 1;
    return KLDBusClient::instanceRunning() ? changeRunning(add, paths, failures) : changeStore(add, paths, failures);
}
