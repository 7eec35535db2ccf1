#pragma once
// Fills the index and keeps it live. One Crawler owns a writing Store and, once start()ed, a
// thread named "kelso-mdcrawl" running at idle I/O priority and lowest CPU priority:
//
// 1. names and stat of every file below the roots (fast: readdir + statx, batched commits): a
//    first walk inserts everything, a later one compares each folder's listing with the index
//    and writes only what changed; then the name trigram table is built once;
// 2. type, tags, rating and text in small batches, paused while the user-activity hook answers
//    true;
// 3. live changes handed in by enqueue() (the event stream's records, attribute changes, opens).
//
// Hidden files and folders (a name starting with "."), system roots (/proc, /sys, /usr…) and
// the excluded folders and name patterns are never indexed. Names that are not UTF-8 are
// skipped (one log line per walk) rather than indexed under another name.
//
// enqueue(), progress(), stop() and the hook setter may be called from any thread. The
// synchronous steps (crawlNames, indexContentBatch, applyChanges) block on the disk and are for
// the crawler thread, or for tools and tests that use a Crawler without start().
#include "platform/mdindex/MdPattern.h"
#include "platform/mdindex/MdStore.h"

#include <QList>
#include <QMutex>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace MdIndex {

struct CrawlRules {
    QStringList roots;
    QStringList excludedFolders;      // absolute paths, with everything below them
    QStringList excludedNamePatterns; // "*.tmp", "node_modules": wildcard patterns on names
    qint64 textCapBytes = 256 * 1024; // text indexed per file
    QString recentlyUsedFile;         // the desktop's record of opens; empty: none
};

// FolderChanged: something changed among a folder's entries (the event stream's records name
// folders, not files): its listing is compared with the index, new entries are added (new
// folders with their contents), changed ones refreshed and vanished ones removed.
// FolderAttributesChanged: the same, and the tags and rating of every entry are read again (the
// record says an attribute changed somewhere in the folder, not where).
enum class ChangeKind { Created, Modified, Removed, AttributesChanged, Opened, FolderChanged, FolderAttributesChanged };
struct Change {
    QString path;
    ChangeKind kind = ChangeKind::Modified;
};

struct CrawlProgress {
    qint64 folders = 0;
    qint64 files = 0;       // entries written by the names pass
    qint64 contentDone = 0; // entries the content pass finished
    qint64 removed = 0;
    qint64 skippedNames = 0; // names that are not UTF-8
    bool namesDone = false;  // the first names pass of this run is complete
    bool diskFull = false;
    QString error;
};

class Crawler
{
public:
    Crawler(const QString &databasePath, const CrawlRules &rules);
    ~Crawler(); // stops and joins the thread
    Crawler(const Crawler &) = delete;
    Crawler &operator=(const Crawler &) = delete;

    void start();
    void stop();
    void enqueue(const QList<Change> &changes);
    // Asked between content batches on the crawler thread: true pauses content indexing.
    void setUserActiveHook(std::function<bool()> hook);
    CrawlProgress progress() const;

    bool openStore(QString *error);
    Store &store() { return store_; }
    bool crawlNames();
    int indexContentBatch(int max);
    void applyChanges(const QList<Change> &changes);
    // Takes the last-used dates of the desktop's record of opened files (after the names pass,
    // and again when the record changes: hand in a Modified change for its path).
    void importRecentlyUsed(const QString &xbelPath);

    // True for a path inside one of the system roots (/proc, /usr, /tmp…) that are never indexed.
    static bool isSystemPath(const QString &path);

    // The progress the crawler last wrote into the index (for a process that only reads it).
    static CrawlProgress storedProgress(Store &store);

private:
    void run();
    bool excludedFolder(const QString &path) const;
    bool excludedName(const QString &name) const;
    struct Subfolder {
        QString path;
        qint64 id;
    };
    // Walks `folder` (whose own entry has id `folderId`) into a filled index, bringing every
    // folder below in line with the disk (syncFolder); false when stopped or the disk is full.
    bool walk(const QString &folder, qint64 folderId);
    // The first walk into an empty index: folders are read on walker threads (see BulkWalk)
    // while this thread writes; false when stopped or a write failed.
    bool walkIntoEmptyIndex(const QString &root, qint64 rootId);
    // Brings the direct entries of `folder` (entry `folderId`) in line with the disk, and walks
    // the folders that are new in it.
    void refreshFolder(const QString &folder, qint64 folderId, bool attributes);
    // The direct entries of `folder` in line with the disk: new ones added, changed ones written
    // again, ones gone (or hidden or excluded now) removed with what is below them; unchanged
    // ones are not written. With `attributes`, the tags and rating of the known ones are read
    // again. Its subfolders (only the new ones with `onlyNew`) go to `subfolders`. False when a
    // write failed.
    bool syncFolder(const QString &folder, qint64 folderId, bool attributes, bool onlyNew,
                    QList<Subfolder> *subfolders);
    bool flushBatch(bool reopen);
    void saveProgress();

    const QString dbPath_;
    const CrawlRules rules_;
    std::vector<Pattern> namePatterns_; // rules_.excludedNamePatterns, read once
    Store store_;
    int generation_ = 0;
    int batchRows_ = 0;

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex queueMutex_;
    std::condition_variable wake_;
    QList<Change> queue_;
    std::function<bool()> userActive_;

    mutable QMutex progressMutex_;
    CrawlProgress progress_;
};

} // namespace MdIndex
