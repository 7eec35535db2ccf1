#pragma once
// The searcher's live query on Kelso's metadata index: a KLMetadataQuery whose results are
// handed on as records of the attributes a search result shows ("kMDItemPath",
// "kMDItemDisplayName", "kMDItemContentType", "kMDItemContentModificationDate",
// "kMDItemContentCreationDate", "kMDItemLastUsedDate" as KLTime seconds, "kMDItemFSSize").
#include "search/KLSpotlightSearcher.h"

#include <memory>

class KLMetadataQuery;
namespace MdIndex {
struct FileRecord;
}

class KLIndexLiveQuery : public KLSearchLiveQuery
{
    Q_OBJECT
public:
    // `databasePath` empty: the index under the cache folder.
    KLIndexLiveQuery(const QString &queryText, const QString &databasePath);
    ~KLIndexLiveQuery() override;

    // Makes queries on one index; a text the index cannot parse makes none.
    static KLSpotlightSearcher::QueryFactory factory(const QString &databasePath = QString());
    static QVariantMap recordFor(const MdIndex::FileRecord &record);

    bool isValid() const;
    void setSearchScopes(const QStringList &folders) override;
    void setMaxCount(int count) override;
    bool execute() override;
    void stop() override;
    void disableUpdates() override;
    void enableUpdates() override;
    QList<QVariantMap> results() const override;

private:
    std::unique_ptr<KLMetadataQuery> m_query;
};
