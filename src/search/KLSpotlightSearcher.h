#pragma once
// KLSpotlightSearcher: what the search bar of the main window means. It holds the bar's state
// (the text, the kind and time entries, the picked folder), turns it into two live queries on
// the metadata index — one on file names, one on names or contents — each limited to 100
// results, and merges their results into the one list the results grid shows: the first five
// name matches, then name and content matches in turn.
//
// Every change of the text, a pop-up or the folder goes through a 0.7 s wait (typing restarts
// it), so that a word typed letter by letter starts one search. Leaving the application keeps
// the search for 60 s and then clears it; coming back within that time keeps it and runs it
// again.
//
// Results are copied while the query's updates are paused, and a result already shown keeps
// its KLSearchItem (and so its thumbnail) when the query reports again. The searcher owns no
// widget: the search bar and the results grid follow its signals. Main thread only; the
// queries report on the main thread.
#include "search/KLSearchItem.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>

class QTimer;

// A live query on the metadata index, as the searcher uses it. The index's own query type
// implements it; tests give fakes.
class KLSearchLiveQuery : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~KLSearchLiveQuery() override = default;
    virtual void setSearchScopes(const QStringList &folders) = 0;
    virtual void setMaxCount(int count) = 0;
    // Starts the query with live updates; false when it cannot run.
    virtual bool execute() = 0;
    virtual void stop() = 0;
    // While disabled, the results do not change (the searcher copies them then).
    virtual void disableUpdates() = 0;
    virtual void enableUpdates() = 0;
    // The results in index order: records with at least "kMDItemPath".
    virtual QList<QVariantMap> results() const = 0;

Q_SIGNALS:
    void progress();
    void finished();
    void updated();
};

class KLSpotlightSearcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRestartDelayMs = 700;
    static constexpr int kClearAfterLeavingMs = 60000;
    static constexpr int kMaxResultsPerQuery = 100;
    static constexpr int kMaxCollectedResults = 10000;

    // Makes a query for a completed query text; none when the text cannot be run.
    using QueryFactory = std::function<std::unique_ptr<KLSearchLiveQuery>(const QString &queryText)>;

    // `queries` empty: no index, every search finds nothing. `itemServices` feed the pictures.
    explicit KLSpotlightSearcher(QueryFactory queries, KLItemServicesPtr itemServices = {}, QObject *parent = nullptr);
    ~KLSpotlightSearcher() override;

    // The pop-ups' entries, in order (titles looked up in the string table).
    static QStringList fileTypeTitles();
    static QStringList dateTitles();

    // The bar's state. The setters are what the user's changes call: each restarts the search
    // soon. The searcher's own changes (clearing, the placeholder) come back through the
    // *Changed signals.
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    int fileTypeIndex() const { return m_fileTypeIndex; }
    void setFileTypeIndex(int index);
    int dateIndex() const { return m_dateIndex; }
    void setDateIndex(int index);
    // The picked folder (empty: everywhere); searchLocationChanged.
    QString location() const { return m_location; }
    void setLocation(const QString &folder);
    // The location pop-up's title: the folder's name, or "Everywhere".
    QString locationTitle() const;

    // The two query texts for the current state, completed with kind, time and the system-file
    // exclusion.
    QString nameQueryText() const;
    QString contentQueryText() const;
    // The picked folder as a one-element list, or none.
    QStringList currentSearchDirectories() const;

    // Life cycle.
    void becomeActive();
    void resignActive();
    // Empties the field and both pop-ups and forgets the folder (60 s after leaving).
    void clearSearch();
    // Empties the field and both pop-ups and searches at once; the folder stays.
    void clearSearchNow();
    // Runs a whole query text (the tag search's) as it is, shown in the field, with the pop-ups
    // cleared; editing the field makes it an ordinary search text again.
    void runQueryText(const QString &queryText);
    void restartSearchSoon();
    void restartSearch();
    void stopSearch();
    bool restartPending() const;
    bool clearPending() const;
    // Shorter waits for tests (the 0.7 s restart and the 60 s clear).
    void setDelaysForTesting(int restartMs, int clearMs);
    bool isSearching() const { return m_nameQuery || m_contentQuery; }

    // The merged results.
    const QList<KLSearchItemPtr> &currentResults() const { return m_currentResults; }
    KLSearchItemPtr itemAtIndex(int index) const;
    bool resultsShown() const { return m_resultsShown; }
    // The merge of two result lists: name items 0 to 4, then name 5, content 0, name 6,
    // content 1 … until both are used up; an item whose path is empty or already taken is
    // skipped.
    static QList<KLSearchItemPtr> mergeResults(const QList<KLSearchItemPtr> &names,
                                               const QList<KLSearchItemPtr> &contents);

Q_SIGNALS:
    void resultsChanged();
    void resultsShownChanged(bool shown);
    void searchTextChanged(const QString &text);
    void fileTypeIndexChanged(int index);
    void dateIndexChanged(int index);
    void locationChanged(const QString &title);

private:
    std::unique_ptr<KLSearchLiveQuery> newSearchWithQuery(const QString &partialQuery);
    QString completedQuery(const QString &partialQuery) const;
    void reloadTheBrowserData(KLSearchLiveQuery *query);
    void updateDatasource();
    void setLocationConstraintMenuName();
    void showResultsView(bool show);
    void resetBar(bool forgetLocation);

    QueryFactory m_queries;
    KLItemServicesPtr m_itemServices;
    QString m_searchText;
    int m_fileTypeIndex = 0;
    int m_dateIndex = 0;
    QString m_location;
    // The text is a whole query (runQueryText) until the user edits it.
    bool m_rawQuery = false;
    std::unique_ptr<KLSearchLiveQuery> m_nameQuery;
    std::unique_ptr<KLSearchLiveQuery> m_contentQuery;
    QList<KLSearchItemPtr> m_nameResults;
    QList<KLSearchItemPtr> m_contentResults;
    QList<KLSearchItemPtr> m_currentResults;
    QHash<QString, KLSearchItemPtr> m_itemsByPath;
    bool m_resultsShown = false;
    QTimer *m_restartTimer = nullptr;
    QTimer *m_clearTimer = nullptr;
};
