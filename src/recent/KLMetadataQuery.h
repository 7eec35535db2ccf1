#pragma once
// A live query on file metadata, in the shape the engine expects from a metadata index:
// a query text, a scope, execution with live updates, and update notifications carrying the
// added / changed / removed items.
//
// Kelso does not keep a metadata index yet. The only query answered today is the one for
// recently opened files — "(kMDItemLastUsedDate > $time.now) && (kMDItemSupportFileType !=
// 'MDSystemFile')" — and it is answered from the desktop's recently-used.xbel files (see
// KLOpenedFilesSource). create() answers nullptr for every other text, as a failed query
// creation would; the search work grows this interface into a real index.
//
// Items are QVariantMaps holding at least "kMDItemPath" (and "kMDItemLastUsedDate", a
// KLTime). Update notifications carry a QVariantMap with the keys of kUpdateAddedItems,
// kUpdateChangedItems and kUpdateRemovedItems, each a QVariantList of items. Notifications are
// emitted on the thread that created the query (the main thread for the collector).
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

class KLMetadataQuery : public QObject
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
    static std::unique_ptr<KLMetadataQuery> create(const QString &queryText, QObject *parent = nullptr);

    using QObject::QObject;
    ~KLMetadataQuery() override = default;

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
