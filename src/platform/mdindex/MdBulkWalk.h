#pragma once
// A first walk into an empty index, split across threads. Walker threads read folders (readdir
// and statx, the kernel's share of a walk) and hand each folder's entries over in one piece; the
// thread that writes the index takes them with next(). The walk's time is then about the longer
// of reading and writing instead of their sum.
//
// Row ids are given out when a folder's entries are handed over, in the order they are handed
// over: every insert appends to the table, and a folder's id is known before anything below it is
// read. Folders are taken depth first, so with one walker the rows come in the order a plain
// recursive walk gives them.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace MdIndex {

// True for a name whose bytes survive a round trip through UTF-8 text unchanged.
bool isUtf8Name(const char *bytes, size_t n);
// statx of one entry without following links or automounts.
bool statEntry(int dirFd, const char *name, struct statx *st);
qint64 statxMsecs(const struct statx_timestamp &t);

struct BulkEntry {
    int pathStart = 0, nameStart = 0, pathEnd = 0; // offsets into FolderBatch::paths
    bool isFolder = false;
    qint64 size = 0, modifiedMs = 0, createdMs = 0;
};

// Entries of one folder (all of them, or a piece of a huge one), with their row ids firstId,
// firstId + 1, ...
struct FolderBatch {
    qint64 parentId = 0;
    qint64 firstId = 0;
    QByteArray paths; // every entry's whole path, one after another
    std::vector<BulkEntry> entries;
    int skippedNames = 0; // names that are not UTF-8
};

class BulkWalk
{
public:
    struct Rules {
        std::function<bool(const QString &path)> excludedFolder;
        std::function<bool(const QString &name)> excludedName; // empty: no name rules
        const std::atomic<bool> *stop = nullptr;               // the owner's stop request
    };
    // Walker threads take the calling thread's CPU and I/O priorities.
    BulkWalk(Rules rules, int walkers);
    ~BulkWalk(); // cancels and joins
    BulkWalk(const BulkWalk &) = delete;
    BulkWalk &operator=(const BulkWalk &) = delete;

    // Walks below `root`, whose own row is `rootId`; the entries get ids from rootId + 1.
    void start(const QByteArray &root, qint64 rootId);
    // The next entries; false once every folder was handed over, or on a stop.
    bool next(FolderBatch *out);
    // Stops the walkers (the writer failed); next() then answers false.
    void cancel();
    // Folders read so far (one count per folder, readable or not).
    qint64 foldersRead() const { return foldersRead_; }

private:
    struct Folder {
        QByteArray path;
        qint64 id;
    };
    void work();
    // Reads the folder and hands its entries over; its subfolders (with their ids) are added to
    // `subfolders`, in listing order.
    void readFolder(const Folder &folder, std::vector<Folder> *subfolders);
    // Gives the entries their ids and queues them for the writer; leaves `batch` empty.
    void handOver(FolderBatch *batch, std::vector<Folder> *subfolders);
    bool stopped() const { return cancelled_ || (rules_.stop && *rules_.stop); }

    Rules rules_;
    int walkerCount_;
    int nice_ = 0;
    int ioPriority_ = -1;
    std::vector<std::thread> walkers_;
    mutable std::mutex mutex_;
    std::condition_variable changed_; // anything below changed
    std::vector<Folder> toRead_;      // a stack: depth first
    std::deque<FolderBatch> ready_;
    qint64 readyEntries_ = 0;
    qint64 nextId_ = 0;
    int reading_ = 0; // folders taken and not yet handed over
    std::atomic<bool> cancelled_{false};
    std::atomic<qint64> foldersRead_{0};
    std::atomic<bool> toldSkipped_{false};
};

} // namespace MdIndex
