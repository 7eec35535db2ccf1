#pragma once
// KLItem: one file, folder or package shown in a grid or recorded by the collector — or a
// stack of them (a busy folder shown as one cell with a count).
//
// Design:
// - Identity is the path where the file was last seen (`lastKnownPath`), plus a bookmark
//   (see XPSimpleUtils) that can find it again after a rename. Equality and hashing go by
//   that path.
// - File facts (display name, modification time, size, existence) are cached and refreshed
//   in the background on ONE shared item worker thread, requested at most once per 3 seconds
//   per item by any accessor. Accessors never touch the disk; they answer the cache.
// - Invisibility (a name listed in its folder's ".hidden") is worked out when the path is set.
//   On the main thread that never reads the file: the answer comes from what KLRules holds in
//   memory and the item worker confirms it (until then an unknown folder counts as visible,
//   as an unknown existence counts as existing).
// - Items are always held by std::shared_ptr (KLItem::create / fromArchive); a pending
//   background update holds only a weak reference, so dropping an item cancels its update.
// - Locks: `m_lock` guards path, bookmark and cached facts; `m_stackLock` guards the
//   sub-items. Neither is held while calling out to other items or to the rules.
// - Thumbnails are not drawn here. `imageRepresentation()` answers the cached picture and,
//   when there is none, asks the thumbnail queue of the item's services (KLItemServices,
//   handed in by the item's owner) for a 172 × 172 picture at high priority; `imageReady()`
//   takes it on the main thread. An item without services answers a null image.
#include "recent/KLItemServices.h"
#include "recent/XPSimpleUtils.h"
#include "thumbs/KPCGImage.h"
#include "util/KLTime.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class KLItem;
using KLItemPtr = std::shared_ptr<KLItem>;

class KLItem : public std::enable_shared_from_this<KLItem>
{
    struct Private {
    };

public:
    // Modification time given to files that cannot be examined: 1904-01-01 00:00:00 UTC.
    static constexpr KLTime kUnknownFileTime = -3061152000.0;
    // Background updates are requested at most this often per item.
    static constexpr double kCacheInterval = 3.0;

    // initWithPath:. Without `makeBookmark` the bookmark is left to the first background
    // update (for items made in bulk on the main thread, such as stack folders).
    static KLItemPtr create(const QString &path, bool makeBookmark = true);
    // Decodes the archive form; nullptr when it names no file. Requests an update at once.
    static KLItemPtr fromArchive(const QVariantMap &archive);
    // The archive form: "bookmarkData", "path", "overrideDate" (when set), "stack".
    QVariantMap archive() const;

    // A new item for the same file with the same cached facts and date, without sub-items.
    KLItemPtr copyItem() const;

    explicit KLItem(Private);
    KLItem(const KLItem &) = delete;
    KLItem &operator=(const KLItem &) = delete;

    void setBookmarkData(const QByteArray &bookmark, const QString &path);
    QByteArray bookmarkData() const;

    // Requests an update (at most every 3 s), then answers the last known path.
    QString path();
    // The last known path, without requesting anything.
    QString lastKnownPath() const;

    QString displayName();
    KLTime modificationDate();
    std::optional<quint64> fileSize();
    bool isInvisible();
    // True while not yet known.
    bool fileExists();
    // What the item test needs, under one lock (requests an update like the accessors).
    struct RuleFacts {
        QString path;
        bool invisible = false;
        bool exists = true;
        // A folder (links followed), as of the last background update; none until then.
        std::optional<bool> isFolder;
    };
    RuleFacts ruleFacts();
    // The file's tags and star rating (0 when unrated), read with the other facts on the item
    // worker; empty until the first update. Requests an update like the accessors.
    struct TagFacts {
        QStringList tags;
        double rating = 0;
        bool operator==(const TagFacts &) const = default;
    };
    TagFacts tagFacts();

    // Whether a background update has looked at the file yet (its time is 0 until then).
    bool factsKnown() const;
    // The override date when set, else the cached file time.
    KLTime timeOfFile() const;
    double age() const;
    void setDate(KLTime date);
    KLTime overrideDate() const;

    // Kelso itself moved `oldPath` to `newPath`: when this item is that file, or lies inside that
    // folder, it takes its new path at once (with a fresh bookmark) and keeps its facts, so it
    // never shows as missing. Stack sub-items follow too. Answers whether anything changed.
    bool followMove(const QString &oldPath, const QString &newPath);

    void addSubItem(const KLItemPtr &item);
    void addSubItems(const QList<KLItemPtr> &items);
    bool isStack() const;
    int stackCount() const;
    // The sub-items (ordered by path), empty when this is not a stack.
    QList<KLItemPtr> stack() const;

    void setUsePartialPathForTitle(bool value);
    bool usePartialPathForTitle() const;
    QString imageTitle();
    QString imageSubtitle();

    // Grid-cell protocol.
    bool useMissingItemImage();
    QImage imageRepresentation();
    QString imageUID();
    qint64 imageVersion();
    bool isSelectable() const { return true; }
    // The box, in points, of the pictures items ask for; cells draw them at their own size.
    static constexpr double kThumbnailSide = 172;
    // Asks the services' thumbnail queue for a picture of the file: 172 × 172, high priority,
    // keyed by the path (so that the slow-volume limit applies), delivered to imageReady() on
    // the main thread. Nothing without a queue or while it reports itself busy.
    void reqestImage();
    // Delivery from the renderer: a picture that holds an image becomes the cached one and sets
    // the redraw flag; an empty one changes nothing.
    void imageReady(const KPCGImageRef &image);
    QImage cachedImage() const;

    // What the item asks the program for (see KLItemServices); a stack hands them to its
    // sub-items, present and future, that have none.
    void setServices(const KLItemServicesPtr &services);
    KLItemServicesPtr services() const;

    bool isEqual(const KLItem &other) const { return lastKnownPath() == other.lastKnownPath(); }

    // The path (or, when !includeSelf, its parent) and each further ancestor, nearest first,
    // stopping before "/".
    QStringList arrayOfPaths(bool includeSelf);
    static QStringList pathsForItems(const QList<KLItemPtr> &items);

    bool openFile();
    bool revealInFinder();
    void getInfoInFinder();
    bool moveFileToTrash(QString *error = nullptr);

    // Main thread only: try hard to find the file again; then ask for a replacement through
    // the services' picker when it is still missing. Posts iconMayHaveChanged to the services.
    void resolveBookmarkPossiblyWithUI();
    void pickNewOriginal();

    // Lazy update (see the class comment).
    void updateCache();
    void updateCacheInfoOnThread();
    // Worker-thread work, callable directly where waiting is fine (tools, tests). A caller that
    // keeps its own clock passes the time the look began (`checkedAt`), read back through
    // factsCheckedAt() as long as the item keeps that path.
    void calculateCache(KLTime checkedAt = 0);
    // When the facts were last looked at through calculateCache(checkedAt), on its caller's
    // clock; 0 when they never were, or the item has had another path since.
    KLTime factsCheckedAt() const;
    void calculateBookmark();
    // Waits until the item worker thread has run everything requested so far.
    static void waitForBackgroundUpdates();
    // Tests: holds the background updates back (they queue) until resumed.
    static void pauseBackgroundUpdatesForTesting(bool paused);

    static QString fastResolveBookmark(const QString &path, const QByteArray &bookmark);
    static bool pathIsOnUnreachableVolume(const QString &path);
    // Records the volume of `path` when it is a removable or network volume that is not
    // mounted now; answers whether it recorded one.
    static bool addPathToUnReachableVolumes(const QString &path);
    static void didMount();
    static void didUnmount();

private:
    static QString parentPath(const QString &path);
    static KLItemPtr fromArchiveDepth(const QVariantMap &archive, int depth);

    mutable std::mutex m_lock;
    QString m_lastKnownPath;
    QByteArray m_bookmarkData;
    // What m_bookmarkData records, once calculateBookmark() decoded or made it; invalid
    // otherwise. Lets a check of an unchanged file skip making the same bytes again.
    XPSimpleUtils::BookmarkRecord m_bookmarkRecord;
    KLTime m_overrideDate = 0;
    QString m_displayName;
    KLTime m_modDate = 0;
    KLTime m_timeOfFile = 0;
    std::optional<quint64> m_fileSize;
    std::optional<bool> m_fileExists;
    std::optional<bool> m_isFolder;
    bool m_isInvisible = false;
    TagFacts m_tagFacts;
    // False while m_isInvisible was answered from memory and waits for the worker's check.
    bool m_invisibleSettled = true;
    KLTime m_lastCacheUpdate = 0;
    KLTime m_factsCheckedAt = 0;
    QString m_factsCheckedPath; // the path m_factsCheckedAt was for
    bool m_usePartialPathForTitle = false;
    QImage m_cachedImageRep;
    quint64 m_cachedImageNumber = 0;
    KLItemServicesPtr m_services;

    mutable std::mutex m_stackLock;
    std::unique_ptr<QMap<QString, KLItemPtr>> m_stack;
};

inline bool operator==(const KLItem &a, const KLItem &b)
{
    return a.isEqual(b);
}

// Element-wise item equality of two lists.
bool itemListsEqual(const QList<KLItemPtr> &a, const QList<KLItemPtr> &b);
