#include "search/KLSearchRun.h"

#include "platform/mdindex/MdCrawler.h"
#include "platform/mdindex/MdSearch.h"
#include "platform/mdindex/MdStore.h"
#include "util/Tilde.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QVariantMap>

namespace KLSearchRun {

bool mergedSearch(const KLSearchQueryText::Criteria &criteria, const QStringList &scopes, const QString &databasePath,
                  QList<MdIndex::FileRecord> *results, QString *error)
{
    results->clear();
    MdIndex::Store store;
    if (!QFileInfo::exists(databasePath)) {
        *error = QStringLiteral("there is no index yet (%1); start Kelso to build it").arg(databasePath);
        return false;
    }
    if (!store.open(databasePath, MdIndex::Store::Mode::ReadOnly, error))
        return false;
    MdIndex::Searcher searcher(store);
    MdIndex::SearchOptions options;
    options.scopes = scopes;
    options.maxCount = kMaxResultsPerQuery;
    const MdIndex::SearchResult names = searcher.run(KLSearchQueryText::nameQuery(criteria), options);
    const MdIndex::SearchResult contents = searcher.run(KLSearchQueryText::allQuery(criteria), options);
    // Term text goes in as typed, so a stray backslash can make a text the parser refuses.
    if (!names.error.isEmpty() || !contents.error.isEmpty()) {
        *error = QStringLiteral("the search text cannot be read: %1")
                     .arg(names.error.isEmpty() ? contents.error : names.error);
        return false;
    }
    *results = KLSearchQueryText::mergeResults<MdIndex::FileRecord>(
        names.items, contents.items, [](const MdIndex::FileRecord &r) { return r.path; });
    return true;
}

QString subtitleForPath(const QString &path)
{
    QString folder = PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(QFileInfo(path).path());
    const QString user = QString::fromLocal8Bit(qgetenv("USER"));
    if (!user.isEmpty()) {
        for (const QString &prefix :
             {QStringLiteral("/media/%1/").arg(user), QStringLiteral("/run/media/%1/").arg(user)}) {
            if (folder.startsWith(prefix))
                return folder.mid(prefix.size());
        }
    }
    return folder;
}

QJsonArray toJsonArray(const QList<MdIndex::FileRecord> &results)
{
    QJsonArray array;
    for (const MdIndex::FileRecord &r : results) {
        QJsonObject o;
        o.insert(QStringLiteral("path"), r.path);
        o.insert(QStringLiteral("title"), r.displayName.isEmpty() ? r.name : r.displayName);
        o.insert(QStringLiteral("subtitle"), subtitleForPath(r.path));
        o.insert(QStringLiteral("time"), qMax(r.modifiedMs, r.lastUsedMs) / 1000);
        o.insert(QStringLiteral("kind"), r.contentType);
        array.append(o);
    }
    return array;
}

bool statusFromIndex(const QString &databasePath, QVariantMap *status, QString *error)
{
    if (!QFileInfo::exists(databasePath)) {
        *error = QStringLiteral("there is no index yet (%1)").arg(databasePath);
        return false;
    }
    MdIndex::Store store;
    if (!store.open(databasePath, MdIndex::Store::Mode::ReadOnly, error))
        return false;
    const MdIndex::CrawlProgress p = MdIndex::Crawler::storedProgress(store);
    status->insert(QStringLiteral("indexed"), store.count());
    status->insert(QStringLiteral("folders"), p.folders);
    status->insert(QStringLiteral("files"), p.files);
    status->insert(QStringLiteral("contentDone"), p.contentDone);
    status->insert(QStringLiteral("removed"), p.removed);
    status->insert(QStringLiteral("namesDone"), p.namesDone);
    status->insert(QStringLiteral("index"), databasePath);
    return true;
}

QString renderStatus(const QVariantMap &s)
{
    QString out;
    const bool running = s.value(QStringLiteral("running")).toBool();
    const bool namesDone = s.value(QStringLiteral("namesDone")).toBool();
    out += QStringLiteral("index: %1\n").arg(s.value(QStringLiteral("index")).toString());
    out += QStringLiteral("first crawl: %1\n")
               .arg(namesDone ? QStringLiteral("done")
                              : (running ? QStringLiteral("running") : QStringLiteral("not finished")));
    out += QStringLiteral("entries in the index: %1\n").arg(s.value(QStringLiteral("indexed")).toLongLong());
    out += QStringLiteral("folders walked: %1\n").arg(s.value(QStringLiteral("folders")).toLongLong());
    out += QStringLiteral("entries written: %1\n").arg(s.value(QStringLiteral("files")).toLongLong());
    out += QStringLiteral("contents indexed: %1\n").arg(s.value(QStringLiteral("contentDone")).toLongLong());
    out += QStringLiteral("removed: %1\n").arg(s.value(QStringLiteral("removed")).toLongLong());
    if (s.contains(QStringLiteral("running")))
        out += QStringLiteral("Kelso: %1\n")
                   .arg(running ? QStringLiteral("running, keeping the index live") : QStringLiteral("not running"));
    return out;
}

} // namespace KLSearchRun
