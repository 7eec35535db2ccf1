#include "search/KLSpotlightSearcher.h"

#include "search/KLSearchQueryText.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QHash>
#include <QTimer>

KLSpotlightSearcher::KLSpotlightSearcher(QueryFactory queries, KLItemServicesPtr itemServices, QObject *parent)
    : QObject(parent), m_queries(std::move(queries)), m_itemServices(std::move(itemServices))
{
    m_restartTimer = new QTimer(this);
    m_restartTimer->setSingleShot(true);
    m_restartTimer->setInterval(kRestartDelayMs);
    connect(m_restartTimer, &QTimer::timeout, this, &KLSpotlightSearcher::restartSearch);
    m_clearTimer = new QTimer(this);
    m_clearTimer->setSingleShot(true);
    m_clearTimer->setInterval(kClearAfterLeavingMs);
    connect(m_clearTimer, &QTimer::timeout, this, &KLSpotlightSearcher::clearSearch);
}

KLSpotlightSearcher::~KLSpotlightSearcher()
{
    // The queries go before the lists their signals fill.
    m_nameQuery.reset();
    m_contentQuery.reset();
}

QStringList KLSpotlightSearcher::fileTypeTitles()
{
    QStringList titles;
    for (const KLSearchQueryText::KindEntry &kind : KLSearchQueryText::kinds())
        titles.append(KLLocalized(kind.label));
    return titles;
}

QStringList KLSpotlightSearcher::dateTitles()
{
    QStringList titles;
    for (const KLSearchQueryText::TimeEntry &time : KLSearchQueryText::times())
        titles.append(KLLocalized(time.label));
    return titles;
}

// ---- the bar's state ------------------------------------------------------------------------

void KLSpotlightSearcher::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_rawQuery = false;
    restartSearchSoon();
}

void KLSpotlightSearcher::setFileTypeIndex(int index)
{
    if (index < 0 || index >= KLSearchQueryText::kinds().size())
        index = 0;
    m_fileTypeIndex = index;
    restartSearchSoon();
}

void KLSpotlightSearcher::setDateIndex(int index)
{
    if (index < 0 || index >= KLSearchQueryText::times().size())
        index = 0;
    m_dateIndex = index;
    restartSearchSoon();
}

void KLSpotlightSearcher::setLocation(const QString &folder)
{
    m_location = folder;
    restartSearchSoon();
    setLocationConstraintMenuName();
}

QString KLSpotlightSearcher::locationTitle() const
{
    if (m_location.isEmpty())
        return QStringLiteral("Everywhere");
    if (m_location == QLatin1String("/"))
        return m_location;
    return m_location.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
}

void KLSpotlightSearcher::setLocationConstraintMenuName()
{
    // A folder with a kind and no text: the field says that every file of the kind is sought.
    const bool kindChosen = !KLSearchQueryText::kinds().at(m_fileTypeIndex).contentTypes.isEmpty();
    if (!m_location.isEmpty() && kindChosen && m_searchText.isEmpty()) {
        m_searchText = KLSearchQueryText::allPlaceholder();
        Q_EMIT searchTextChanged(m_searchText);
    }
    Q_EMIT locationChanged(locationTitle());
}

// ---- query texts ----------------------------------------------------------------------------

QString KLSpotlightSearcher::completedQuery(const QString &partialQuery) const
{
    QString q = KLSearchQueryText::addFileTypeQuery(partialQuery, m_fileTypeIndex);
    q = KLSearchQueryText::addDateQuery(q, m_dateIndex);
    return KLSearchQueryText::addNoSystemFiles(q);
}

QString KLSpotlightSearcher::nameQueryText() const
{
    if (m_rawQuery)
        return completedQuery(m_searchText);
    return completedQuery(KLSearchQueryText::addFileNameSearch(QString(), m_searchText));
}

QString KLSpotlightSearcher::contentQueryText() const
{
    return completedQuery(KLSearchQueryText::addAllSearch(QString(), m_searchText));
}

QStringList KLSpotlightSearcher::currentSearchDirectories() const
{
    if (m_location.isEmpty())
        return {};
    return {m_location};
}

// ---- life cycle -----------------------------------------------------------------------------

void KLSpotlightSearcher::becomeActive()
{
    m_clearTimer->stop();
    restartSearchSoon();
}

void KLSpotlightSearcher::resignActive()
{
    m_clearTimer->start();
}

void KLSpotlightSearcher::resetBar(bool forgetLocation)
{
    m_searchText.clear();
    m_rawQuery = false;
    m_fileTypeIndex = 0;
    m_dateIndex = 0;
    Q_EMIT searchTextChanged(m_searchText);
    Q_EMIT fileTypeIndexChanged(0);
    Q_EMIT dateIndexChanged(0);
    if (forgetLocation)
        m_location.clear();
}

void KLSpotlightSearcher::clearSearch()
{
    resetBar(false);
    restartSearchSoon();
    m_location.clear();
    setLocationConstraintMenuName();
}

void KLSpotlightSearcher::clearSearchNow()
{
    resetBar(false);
    restartSearch();
}

void KLSpotlightSearcher::runQueryText(const QString &queryText)
{
    m_clearTimer->stop();
    resetBar(false);
    m_searchText = queryText;
    m_rawQuery = true;
    Q_EMIT searchTextChanged(m_searchText);
    restartSearchSoon();
}

void KLSpotlightSearcher::restartSearchSoon()
{
    stopSearch();
    m_restartTimer->start(); // a running wait starts over
}

void KLSpotlightSearcher::setDelaysForTesting(int restartMs, int clearMs)
{
    m_restartTimer->setInterval(restartMs);
    m_clearTimer->setInterval(clearMs);
}

bool KLSpotlightSearcher::restartPending() const
{
    return m_restartTimer->isActive();
}

bool KLSpotlightSearcher::clearPending() const
{
    return m_clearTimer->isActive();
}

void KLSpotlightSearcher::restartSearch()
{
    m_restartTimer->stop();
    stopSearch();
    if (KLSearchQueryText::isNoSearch({m_searchText, m_fileTypeIndex, m_dateIndex}, !m_location.isEmpty())) {
        showResultsView(false);
        return;
    }
    if (m_rawQuery) {
        // A query text handed in whole (the tag search): one query, as written.
        m_nameQuery = newSearchWithQuery(m_searchText);
        showResultsView(true);
        return;
    }
    m_nameQuery = newSearchWithQuery(KLSearchQueryText::addFileNameSearch(QString(), m_searchText));
    m_contentQuery = newSearchWithQuery(KLSearchQueryText::addAllSearch(QString(), m_searchText));
    showResultsView(true);
}

std::unique_ptr<KLSearchLiveQuery> KLSpotlightSearcher::newSearchWithQuery(const QString &partialQuery)
{
    if (!m_queries)
        return nullptr;
    std::unique_ptr<KLSearchLiveQuery> query = m_queries(completedQuery(partialQuery));
    if (!query)
        return nullptr;
    query->setSearchScopes(currentSearchDirectories());
    KLSearchLiveQuery *q = query.get();
    auto reload = [this, q] { reloadTheBrowserData(q); };
    connect(q, &KLSearchLiveQuery::progress, this, reload);
    connect(q, &KLSearchLiveQuery::updated, this, reload);
    connect(q, &KLSearchLiveQuery::finished, this, reload);
    query->setMaxCount(kMaxResultsPerQuery);
    if (!query->execute()) {
        qCWarning(lcBrowser, "a search query failed to start");
        return nullptr;
    }
    return query;
}

void KLSpotlightSearcher::stopSearch()
{
    for (std::unique_ptr<KLSearchLiveQuery> *query : {&m_nameQuery, &m_contentQuery}) {
        if (*query) {
            (*query)->disconnect(this);
            (*query)->stop();
            query->reset();
        }
    }
    m_nameResults.clear();
    m_contentResults.clear();
    updateDatasource();
}

// ---- results --------------------------------------------------------------------------------

void KLSpotlightSearcher::reloadTheBrowserData(KLSearchLiveQuery *query)
{
    if (!query || (query != m_nameQuery.get() && query != m_contentQuery.get()))
        return;
    QList<KLSearchItemPtr> &target = query == m_contentQuery.get() ? m_contentResults : m_nameResults;
    target.clear();
    query->disableUpdates();
    const QList<QVariantMap> records = query->results();
    query->enableUpdates();
    for (const QVariantMap &record : records) {
        if (target.size() >= kMaxCollectedResults)
            break;
        const QString path = record.value(KLSearchItem::kItemPath).toString();
        // A result already shown keeps its object, and with it its picture.
        KLSearchItemPtr item = m_itemsByPath.value(path);
        if (item)
            item->setMDItem(record);
        else
            item = KLSearchItem::create(record, m_itemServices);
        target.append(item);
    }
    updateDatasource();
}

QList<KLSearchItemPtr> KLSpotlightSearcher::mergeResults(const QList<KLSearchItemPtr> &names,
                                                         const QList<KLSearchItemPtr> &contents)
{
    const std::function<QString(const KLSearchItemPtr &)> pathOf = [](const KLSearchItemPtr &item) {
        return item ? item->path() : QString();
    };
    return KLSearchQueryText::mergeResults(names, contents, pathOf);
}

void KLSpotlightSearcher::updateDatasource()
{
    const QList<KLSearchItemPtr> merged = mergeResults(m_nameResults, m_contentResults);
    // The objects already shown stay (updateDatasource:), so their pictures are not asked again.
    QHash<QString, KLSearchItemPtr> byPath;
    QList<KLSearchItemPtr> results;
    results.reserve(merged.size());
    for (const KLSearchItemPtr &item : merged) {
        KLSearchItemPtr shown = m_itemsByPath.value(item->path());
        if (!shown) {
            shown = item;
        } else if (shown != item) {
            shown->setMDItem(item->mdItem());
        }
        byPath.insert(shown->path(), shown);
        results.append(shown);
    }
    const bool same = results == m_currentResults;
    // An emptied list (a restart) keeps the last results' objects: the search that follows
    // while the user types finds most of them again, with their pictures.
    if (!results.isEmpty())
        m_itemsByPath = byPath;
    m_currentResults = results;
    if (!same)
        Q_EMIT resultsChanged();
}

KLSearchItemPtr KLSpotlightSearcher::itemAtIndex(int index) const
{
    if (index < 0 || index >= m_currentResults.size())
        return nullptr;
    return m_currentResults.at(index);
}

void KLSpotlightSearcher::showResultsView(bool show)
{
    if (show == m_resultsShown)
        return;
    m_resultsShown = show;
    Q_EMIT resultsShownChanged(show);
}
