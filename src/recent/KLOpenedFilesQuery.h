#pragma once
// A live query on file metadata, in the shape the engine expects from a metadata index:
// a query text, a scope, execution with live updates, and update notifications carrying the
// added / changed / removed items.
//
// The collector asks one query only, the one for recently opened files —
// "(kMDItemLastUsedDate > $time.now) && (kMDItemSupportFileType != 'MDSystemFile')" — answered
// from the desktop's recently-used.xbel files and Kelso's own opens (see KLOpenedFilesSource).
// create() answers nullptr for every other text, as a failed query creation would. The search
// bar's general queries on the metadata index are search/KLMetadataQuery.
//
// Items are QVariantMaps holding at least "kMDItemPath" (and "kMDItemLastUsedDate", a
// KLTime). Update notifications carry a QVariantMap with the keys of kUpdateAddedItems,
// kUpdateChangedItems and kUpdateRemovedItems, each a QVariantList of items. Notifications are
// emitted on the thread that created the query (the main thread for the collector).
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

class KLOpenedFilesQuery : public QObject
{
    Q_OBJECT
public:
    static const QString kOpenedFilesQueryText;
    static const QString kUpdateAddedItems;   // "kMDQueryUpdateAddedItems"
    static const QString kUpdateChangedItems; // "kMDQueryUpdateChangedItems"
    static const QString kUpdateRemovedItems; // "kMDQueryUpdateRemovedItems"
    static const QString kItemPath;           // "kMDItemPath"
    static const QString kItemLastUsedDate;   // "kMDItemLastUsedDate"

    enum class Scope { Home };

    // nullptr when the query text is not one Kelso can answer.
    static std::unique_ptr<KLOpenedFilesQuery> create(const QString &queryText, QObject *parent = nullptr);

    using QObject::QObject;
    ~KLOpenedFilesQuery() override = default;

    virtual void setSearchScope(Scope scope) = 0;
    // Starts the query with live updates; false when it cannot run.
    virtual bool execute() = 0;
    virtual void stop() = 0;
    virtual QString queryText() const = 0;

Q_SIGNALS:
    void progress();
    void finished();
    void updated(const QVariantMap &userInfo);
};
