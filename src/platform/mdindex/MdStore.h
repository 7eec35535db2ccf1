#pragma once
// The index database: one SQLite file (WAL) under the cache folder. A Store is one connection
// and belongs to one thread at a time; the crawler writes through its own Store while searches
// read through another (WAL lets readers run beside the writer). Every call blocks on the disk.
//
// Tables: files (one row per file, path unique; the display name NULL where it is the file
// name, as it is for nearly every file), texts + text_fts (extracted text, an
// external-content FTS5 unicode61 table), name_tri (external-content FTS5 trigram table over
// the search-folded names; filled in one pass after the first crawl, then kept by triggers).
// A schema version key in `meta` that differs, or a file SQLite cannot read, makes open()
// start a new index (read-write mode only).
#include "platform/mdindex/MdRecord.h"

#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace MdIndex {

// One entry's name in the forms a name table keeps (bytes valid during the call only).
struct NameForms {
    qint64 id = 0;
    const char *folded = nullptr;
    int foldedLength = 0;
    const char *name = nullptr; // the file name as stored; null unless asked for
    int nameLength = 0;
    bool displayIsName = true;
};

class Store
{
public:
    enum class Mode { ReadWrite, ReadOnly };
    Store();
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // $XDG_CACHE_HOME/com.tallow.kelso/index.sqlite3
    static QString defaultPath();
    bool open(const QString &path, Mode mode, QString *error);
    bool isOpen() const { return db_ != nullptr; }
    bool wasRebuilt() const { return rebuilt_; }
    void close();

    // Writing (read-write mode). Batches go between begin() and commit().
    bool begin();
    bool commit();
    // Inserts or refreshes the name and stat columns; answers the row id (0 on failure). A new
    // or changed file is marked for the content pass.
    qint64 upsertStat(const FileRecord &r, int generation);
    // A first walk into an empty index inserts without the path index (one sorted build
    // afterwards is several times cheaper than keeping it per row); endBulkInsert() builds it.
    bool beginBulkInsert();
    bool endBulkInsert();
    bool inBulkInsert() const { return bulk_; }
    // Outside any transaction, before and after a first walk into an empty index: while on,
    // commits write the new pages into the database once, with a rollback journal holding only
    // the few pages that existed before, instead of writing every page into the WAL and copying
    // it over at the next checkpoint. Readers wait for a commit meanwhile (not for the walk).
    // Off brings the WAL back; false when another connection keeps it from switching.
    bool setFirstWalkJournal(bool on);
    // upsertStat() during a bulk insert, from the walk's own bytes (UTF-8 path and name), without
    // converting them to QString and back, as row `stat.id`; answers it (0 on failure).
    qint64 insertBulk(const QByteArray &path, const char *name, int nameLength, const FileRecord &stat, int generation);
    bool updateDetails(const FileRecord &r);    // type, tree, tags, rating; clears the content mark
    bool updateAttributes(const FileRecord &r); // tags and rating only
    bool setLastUsed(const QString &path, qint64 ms);
    bool setText(qint64 id, const QString &text);
    // Removes the entry and everything below it; answers how many went.
    int removeTree(const QString &path);
    // The entries directly inside `folder`, in path order, with what a walk compares (path, id,
    // is_dir, size, times). Scans the folder's range of the path index and jumps past each
    // subfolder's own subtree, so a folder near the top costs one lookup per subfolder.
    QList<FileRecord> directChildren(const QString &folder);
    QList<FileRecord> pendingContent(int limit);
    bool nameTrigramsReady();
    bool buildNameTrigrams();
    QString meta(const QString &key);
    bool setMeta(const QString &key, const QString &value);

    // Reading. A search holds one read transaction (a snapshot, and one file lock instead of
    // one per row); nested or inside a write it does nothing.
    bool beginRead();
    void endRead();
    std::optional<FileRecord> byId(qint64 id);
    std::optional<FileRecord> byPath(const QString &path);
    qint64 count();
    // Calls `f` with the ids whose folded name contains `foldedLiteral` (3+ characters), in id
    // order, until it answers false. False when the trigram table is not built.
    bool forEachTrigramMatch(const QString &foldedLiteral, const std::function<bool(qint64)> &f);
    // How many folded names contain `foldedLiteral` (3+ characters); -1 without the table.
    qint64 countTrigramMatches(const QString &foldedLiteral);
    // Calls `f` for every entry until it answers false.
    bool forEachRecord(const std::function<bool(const FileRecord &)> &f);
    // Ids of files whose text matches an FTS5 query.
    QSet<qint64> textMatches(const QString &ftsQuery);
    // Ids of files that carry tags.
    QList<qint64> taggedIds();
    // Changes whenever the index changed, through this connection or another (for caches).
    qint64 dataVersion();
    // The folded name of every entry, with the file name as stored when `withName`, and whether
    // the display name is the file name.
    bool forEachNameForms(bool withName, const std::function<void(const NameForms &)> &f);
    QString lastError() const;
    // True once a write failed because the disk is full.
    bool diskFull() const { return diskFull_; }

private:
    bool createSchema();
    bool hasPathIndex();
    bool isEmpty(); // no file rows (without counting them all)
    bool exec(const char *sql);
    sqlite3_stmt *prepare(const char *sql);
    bool step(sqlite3_stmt *st); // SQLITE_DONE/ROW -> true; notes a full disk
    // True when `rc` says the disk is full; the first time, writes the one log line about it.
    bool noteFull(int rc);
    FileRecord rowToRecord(sqlite3_stmt *st);

    sqlite3 *db_ = nullptr;
    bool rebuilt_ = false;
    bool readOnly_ = false;
    bool diskFull_ = false;
    bool bulk_ = false;
    bool reading_ = false;
    QList<sqlite3_stmt *> statements_; // finalised at close
    QHash<const char *, sqlite3_stmt *> cache_;
};

} // namespace MdIndex
