#include "search/KLIndexLiveQuery.h"

#include "search/KLMetadataQuery.h"
#include "util/KLTime.h"
#include "util/Logging.h"

namespace {
KLTime fromUnixMs(qint64 ms)
{
    return KLTimeUtil::fromUnix(double(ms) / 1000.0);
}
} // namespace

KLIndexLiveQuery::KLIndexLiveQuery(const QString &queryText, const QString &databasePath)
    : m_query(std::make_unique<KLMetadataQuery>(queryText, databasePath))
{
    connect(m_query.get(), &KLMetadataQuery::progress, this, &KLSearchLiveQuery::progress);
    connect(m_query.get(), &KLMetadataQuery::finished, this, &KLSearchLiveQuery::finished);
    connect(m_query.get(), &KLMetadataQuery::updated, this, [this] { Q_EMIT updated(); });
}

KLIndexLiveQuery::~KLIndexLiveQuery()
{
    m_query->stop();
}

KLSpotlightSearcher::QueryFactory KLIndexLiveQuery::factory(const QString &databasePath)
{
    return [databasePath](const QString &queryText) -> std::unique_ptr<KLSearchLiveQuery> {
        auto query = std::make_unique<KLIndexLiveQuery>(queryText, databasePath);
        if (!query->isValid()) {
            qCWarning(lcBrowser, "a search query could not be read: %s", qUtf8Printable(queryText));
            return nullptr;
        }
        return query;
    };
}

QVariantMap KLIndexLiveQuery::recordFor(const MdIndex::FileRecord &r)
{
    QVariantMap m;
    m.insert(QStringLiteral("kMDItemPath"), r.path);
    m.insert(QStringLiteral("kMDItemDisplayName"), r.displayName.isEmpty() ? r.name : r.displayName);
    m.insert(QStringLiteral("kMDItemContentType"), r.contentType);
    m.insert(QStringLiteral("kMDItemContentModificationDate"), fromUnixMs(r.modifiedMs));
    if (r.createdMs != 0)
        m.insert(QStringLiteral("kMDItemContentCreationDate"), fromUnixMs(r.createdMs));
    if (r.lastUsedMs != 0)
        m.insert(QStringLiteral("kMDItemLastUsedDate"), fromUnixMs(r.lastUsedMs));
    m.insert(QStringLiteral("kMDItemFSSize"), r.size);
    return m;
}

bool KLIndexLiveQuery::isValid() const
{
    return m_query->isValid();
}

void KLIndexLiveQuery::setSearchScopes(const QStringList &folders)
{
    m_query->setSearchScopes(folders);
}

void KLIndexLiveQuery::setMaxCount(int count)
{
    m_query->setMaxCount(count);
}

bool KLIndexLiveQuery::execute()
{
    return m_query->execute();
}

void KLIndexLiveQuery::stop()
{
    m_query->stop();
}

void KLIndexLiveQuery::disableUpdates()
{
    m_query->disableUpdates();
}

void KLIndexLiveQuery::enableUpdates()
{
    m_query->enableUpdates();
}

QList<QVariantMap> KLIndexLiveQuery::results() const
{
    QList<QVariantMap> out;
    out.reserve(m_query->results().size());
    for (const MdIndex::FileRecord &r : m_query->results())
        out.append(recordFor(r));
    return out;
}
