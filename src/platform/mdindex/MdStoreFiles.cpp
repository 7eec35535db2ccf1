// The Store's file rows: writing from the crawler, reading for searches.
#include "platform/mdindex/MdPattern.h"
#include "platform/mdindex/MdStore.h"
#include "platform/mdindex/MdStoreSql.h"

#include <sqlite3.h>

namespace MdIndex {
namespace {

#define MD_COLUMNS                                                                                                     \
    "id, path, parent, name, display, is_dir, size, mtime, btime, last_used, mime, uti, tree, tags, rating, system,"   \
    " managed, pending"

QString joinList(const QStringList &l)
{
    return l.join(QLatin1Char('\n'));
}
QStringList splitList(const QString &s)
{
    return s.isEmpty() ? QStringList() : s.split(QLatin1Char('\n'));
}

// Paths strictly below `path`: [path + "/", path + "0") in byte order ("0" follows "/").
QString belowStart(const QString &path)
{
    return path + QLatin1Char('/');
}
QString belowEnd(const QString &path)
{
    return path + QLatin1Char('0');
}

// The filing mark: NULL when the file has none.
void bindMark(sqlite3_stmt *st, int i, int mark)
{
    if (mark < 0)
        sqlite3_bind_null(st, i);
    else
        sqlite3_bind_int(st, i, mark);
}

} // namespace

FileRecord Store::rowToRecord(sqlite3_stmt *st)
{
    FileRecord r;
    r.id = sqlite3_column_int64(st, 0);
    r.path = columnText(st, 1);
    r.parent = sqlite3_column_int64(st, 2);
    r.name = columnText(st, 3);
    // NULL: the display name is the file name (so it is not stored twice).
    r.displayName = sqlite3_column_type(st, 4) == SQLITE_NULL ? r.name : columnText(st, 4);
    r.isFolder = sqlite3_column_int(st, 5) != 0;
    r.size = sqlite3_column_int64(st, 6);
    r.modifiedMs = sqlite3_column_int64(st, 7);
    r.createdMs = sqlite3_column_int64(st, 8);
    r.lastUsedMs = sqlite3_column_int64(st, 9);
    r.mimeType = columnText(st, 10);
    r.contentType = columnText(st, 11);
    r.contentTypeTree = splitList(columnText(st, 12));
    r.tags = splitList(columnText(st, 13));
    r.rating = sqlite3_column_double(st, 14);
    r.isSystemFile = sqlite3_column_int(st, 15) != 0;
    r.managed = sqlite3_column_type(st, 16) == SQLITE_NULL ? -1 : sqlite3_column_int(st, 16);
    r.contentPending = sqlite3_column_int(st, 17) != 0;
    return r;
}

bool Store::beginBulkInsert()
{
    bulk_ = isEmpty() && exec("DROP INDEX IF EXISTS files_path");
    // A first walk rewrites the same table pages in commit after commit: checkpointing them
    // into the database each time writes them again and again. They stay in the log until the
    // walk ends and go into the database once, at the next commit.
    if (bulk_)
        exec("PRAGMA wal_autocheckpoint=0");
    return bulk_;
}

bool Store::endBulkInsert()
{
    if (!bulk_)
        return true;
    bulk_ = false;
    // The walk lists each path once (nested roots are skipped, links are not followed), so the
    // index is built straight away; should a path still come twice, its first entry is kept
    // and the build tried again. (Removing duplicates first would sort every path once more.)
    const bool ok = exec("CREATE UNIQUE INDEX IF NOT EXISTS files_path ON files(path)") ||
                    exec("DELETE FROM files WHERE id NOT IN (SELECT min(id) FROM files GROUP BY path);"
                         "CREATE UNIQUE INDEX IF NOT EXISTS files_path ON files(path)");
    exec("PRAGMA wal_autocheckpoint=1000");
    return ok;
}

bool Store::isEmpty()
{
    sqlite3_stmt *st = prepare("SELECT 1 FROM files LIMIT 1");
    const bool empty = st && sqlite3_step(st) == SQLITE_DONE;
    if (st)
        sqlite3_reset(st);
    return empty;
}

bool Store::setFirstWalkJournal(bool on)
{
    if (!db_ || readOnly_ || !sqlite3_get_autocommit(db_) || (on && !isEmpty()))
        return false;
    sqlite3_stmt *st = prepare(on ? "PRAGMA journal_mode=TRUNCATE" : "PRAGMA journal_mode=WAL");
    const QString mode = st && sqlite3_step(st) == SQLITE_ROW ? columnText(st, 0) : QString();
    if (st)
        sqlite3_reset(st);
    return mode == QLatin1String(on ? "truncate" : "wal");
}

qint64 Store::upsertStat(const FileRecord &r, int generation)
{
    // The name columns follow from the path, so a conflict leaves them (and the trigram rows
    // kept by the update trigger) alone. A changed size or time sends the file back to the
    // content pass.
#define MD_INSERT                                                                                                      \
    "INSERT INTO files(path, parent, name, display, fold, is_dir, size, mtime, btime, last_used, rating, system,"      \
    " pending, gen) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, 0, 0, 0, 1, ?10)"
    sqlite3_stmt *st = bulk_ ? prepare(MD_INSERT)
                             : prepare(MD_INSERT " ON CONFLICT(path) DO UPDATE SET parent=?2, is_dir=?6, size=?7,"
                                                 " mtime=?8, btime=?9, gen=?10,"
                                                 " pending=pending OR size IS NOT ?7 OR mtime IS NOT ?8 RETURNING id");
    if (!st)
        return 0;
    bindText(st, 1, r.path);
    sqlite3_bind_int64(st, 2, r.parent);
    bindText(st, 3, r.name);
    if (r.displayName == r.name)
        sqlite3_bind_null(st, 4);
    else
        bindText(st, 4, r.displayName);
    bindText(st, 5, searchFold(r.displayName));
    sqlite3_bind_int(st, 6, r.isFolder);
    sqlite3_bind_int64(st, 7, r.size);
    sqlite3_bind_int64(st, 8, r.modifiedMs);
    sqlite3_bind_int64(st, 9, r.createdMs);
    sqlite3_bind_int(st, 10, generation);
    if (bulk_)
        return step(st) ? sqlite3_last_insert_rowid(db_) : 0;
    if (sqlite3_step(st) != SQLITE_ROW) {
        step(st); // notes a full disk
        return 0;
    }
    const qint64 id = sqlite3_column_int64(st, 0);
    sqlite3_reset(st);
    return id;
}

qint64 Store::insertBulk(const QByteArray &path, const char *name, int nameLength, const FileRecord &r, int generation)
{
    // The row id given by the walk (rows then go in in id order: each insert appends).
    sqlite3_stmt *st = prepare("INSERT INTO files(path, parent, name, display, fold, is_dir, size, mtime, btime,"
                               " last_used, rating, system, pending, gen, id)"
                               " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, 0, 0, 0, 1, ?10, ?11)");
    if (!st)
        return 0;
    // The folded name: ASCII folds by lowering its letters (what searchFold() gives it).
    thread_local QByteArray fold;
    bool ascii = true;
    fold.resize(nameLength);
    for (int i = 0; i < nameLength; ++i) {
        const uchar c = uchar(name[i]);
        ascii = ascii && c < 0x80;
        fold[i] = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    if (!ascii)
        fold = searchFold(QString::fromUtf8(name, nameLength)).toUtf8();
    sqlite3_bind_text(st, 1, path.constData(), int(path.size()), SQLITE_STATIC);
    sqlite3_bind_int64(st, 2, r.parent);
    sqlite3_bind_text(st, 3, name, nameLength, SQLITE_STATIC);
    sqlite3_bind_null(st, 4); // the display name is the file name
    sqlite3_bind_text(st, 5, fold.constData(), int(fold.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 6, r.isFolder);
    sqlite3_bind_int64(st, 7, r.size);
    sqlite3_bind_int64(st, 8, r.modifiedMs);
    sqlite3_bind_int64(st, 9, r.createdMs);
    sqlite3_bind_int(st, 10, generation);
    sqlite3_bind_int64(st, 11, r.id);
    const bool ok = step(st);
    // The bound buffers belong to the caller: no statement may keep pointing at them.
    sqlite3_clear_bindings(st);
    return ok ? r.id : 0;
}

bool Store::updateDetails(const FileRecord &r)
{
    sqlite3_stmt *st =
        prepare("UPDATE files SET mime=?, uti=?, tree=?, tags=?, rating=?, managed=?, pending=0 WHERE id=?");
    if (!st)
        return false;
    bindText(st, 1, r.mimeType);
    bindText(st, 2, r.contentType);
    bindText(st, 3, joinList(r.contentTypeTree));
    bindText(st, 4, joinList(r.tags));
    sqlite3_bind_double(st, 5, r.rating);
    bindMark(st, 6, r.managed);
    sqlite3_bind_int64(st, 7, r.id);
    return step(st);
}

bool Store::updateAttributes(const FileRecord &r)
{
    sqlite3_stmt *st = prepare("UPDATE files SET tags=?, rating=?, managed=? WHERE id=?");
    if (!st)
        return false;
    bindText(st, 1, joinList(r.tags));
    sqlite3_bind_double(st, 2, r.rating);
    bindMark(st, 3, r.managed);
    sqlite3_bind_int64(st, 4, r.id);
    return step(st);
}

bool Store::setLastUsed(const QString &path, qint64 ms)
{
    sqlite3_stmt *st = prepare("UPDATE files SET last_used=max(last_used, ?) WHERE path=?");
    if (!st)
        return false;
    sqlite3_bind_int64(st, 1, ms);
    bindText(st, 2, path);
    return step(st);
}

bool Store::setText(qint64 id, const QString &text)
{
    sqlite3_stmt *del =
        prepare("INSERT INTO text_fts(text_fts, rowid, body) SELECT 'delete', id, body FROM texts WHERE id=?");
    if (!del)
        return false;
    sqlite3_bind_int64(del, 1, id);
    if (!step(del))
        return false;
    sqlite3_stmt *rm = prepare("DELETE FROM texts WHERE id=?");
    sqlite3_bind_int64(rm, 1, id);
    if (!step(rm) || text.isEmpty())
        return text.isEmpty();
    sqlite3_stmt *ins = prepare("INSERT INTO texts(id, body) VALUES(?, ?)");
    sqlite3_bind_int64(ins, 1, id);
    bindText(ins, 2, text);
    if (!step(ins))
        return false;
    sqlite3_stmt *fts = prepare("INSERT INTO text_fts(rowid, body) VALUES(?, ?)");
    sqlite3_bind_int64(fts, 1, id);
    bindText(fts, 2, text);
    return step(fts);
}

int Store::removeTree(const QString &path)
{
    sqlite3_stmt *st = prepare("DELETE FROM files WHERE path=?1 OR (path>=?2 AND path<?3)");
    if (!st)
        return 0;
    bindText(st, 1, path);
    bindText(st, 2, belowStart(path));
    bindText(st, 3, belowEnd(path));
    return step(st) ? sqlite3_changes(db_) : 0;
}

QList<FileRecord> Store::directChildren(const QString &folder)
{
    QList<FileRecord> out;
    // One scan of the folder's path range in path order, that jumps past a child's own subtree
    // when it meets one: a folder of files costs one query, a folder near the top one query per
    // subfolder. "after" starts past a key, "from" at a key bound.
#define MD_CHILD "SELECT id, path, is_dir, size, mtime, btime FROM files WHERE "
    sqlite3_stmt *after = prepare(MD_CHILD "path>?1 AND path<?2 ORDER BY path");
    sqlite3_stmt *from = prepare(MD_CHILD "path>=?1 AND path<?2 ORDER BY path");
#undef MD_CHILD
    if (!after || !from)
        return out;
    const QString prefix = folder == QLatin1String("/") ? folder : belowStart(folder);
    const QString end = folder == QLatin1String("/") ? QStringLiteral("0") : belowEnd(folder);
    QString key = prefix;
    sqlite3_stmt *st = after; // nothing is stored under "folder/" itself
    for (bool jumped = true; jumped;) {
        jumped = false;
        bindText(st, 1, key);
        bindText(st, 2, end);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QString path = columnText(st, 1);
            const qsizetype slash = path.indexOf(QLatin1Char('/'), prefix.size());
            if (slash >= 0) {
                // Inside a child's subtree (a sibling such as "a-b" sorts between "a" and
                // "a/x"): go on past the subtree.
                key = belowEnd(path.left(slash));
                jumped = true;
                break;
            }
            FileRecord r;
            r.id = sqlite3_column_int64(st, 0);
            r.path = path;
            r.isFolder = sqlite3_column_int(st, 2) != 0;
            r.size = sqlite3_column_int64(st, 3);
            r.modifiedMs = sqlite3_column_int64(st, 4);
            r.createdMs = sqlite3_column_int64(st, 5);
            out.append(std::move(r));
        }
        sqlite3_reset(st);
        st = from;
    }
    return out;
}

QList<FileRecord> Store::pendingContent(int limit)
{
    QList<FileRecord> out;
    sqlite3_stmt *st = prepare("SELECT " MD_COLUMNS " FROM files WHERE pending=1 LIMIT ?");
    if (!st)
        return out;
    sqlite3_bind_int(st, 1, limit);
    while (sqlite3_step(st) == SQLITE_ROW)
        out.append(rowToRecord(st));
    return out;
}

bool Store::nameTrigramsReady()
{
    return meta(QStringLiteral("name_trigrams")) == QLatin1String("1");
}

bool Store::buildNameTrigrams()
{
    // One rebuild after the first crawl costs far less than a trigger per inserted row; from
    // then on the triggers keep the table in step. FTS5 writes its pending terms out as a new
    // segment each time they pass the hash size (1 MB by default) and merges those segments
    // again and again: 16 MB takes a third off the build of a million names, for about 30 MB
    // more memory while it runs. (Later writes are small; each commit writes its terms out.)
    exec("INSERT INTO name_tri(name_tri, rank) VALUES('hashsize', 16777216)");
    return exec("BEGIN IMMEDIATE;"
                "INSERT INTO name_tri(name_tri) VALUES('rebuild');"
                "CREATE TRIGGER IF NOT EXISTS files_tri_add AFTER INSERT ON files BEGIN"
                " INSERT INTO name_tri(rowid, fold) VALUES(new.id, new.fold); END;"
                "CREATE TRIGGER IF NOT EXISTS files_tri_del AFTER DELETE ON files BEGIN"
                " INSERT INTO name_tri(name_tri, rowid, fold) VALUES('delete', old.id, old.fold); END;"
                "CREATE TRIGGER IF NOT EXISTS files_tri_upd AFTER UPDATE OF fold ON files BEGIN"
                " INSERT INTO name_tri(name_tri, rowid, fold) VALUES('delete', old.id, old.fold);"
                " INSERT INTO name_tri(rowid, fold) VALUES(new.id, new.fold); END;"
                "INSERT OR REPLACE INTO meta VALUES('name_trigrams', '1');"
                "COMMIT;") ||
           (exec("ROLLBACK"), false);
}

std::optional<FileRecord> Store::byId(qint64 id)
{
    sqlite3_stmt *st = prepare("SELECT " MD_COLUMNS " FROM files WHERE id=?");
    if (!st)
        return std::nullopt;
    sqlite3_bind_int64(st, 1, id);
    if (sqlite3_step(st) != SQLITE_ROW)
        return std::nullopt;
    FileRecord r = rowToRecord(st);
    sqlite3_reset(st);
    return r;
}

std::optional<FileRecord> Store::byPath(const QString &path)
{
    sqlite3_stmt *st = prepare("SELECT " MD_COLUMNS " FROM files WHERE path=?");
    if (!st)
        return std::nullopt;
    bindText(st, 1, path);
    if (sqlite3_step(st) != SQLITE_ROW)
        return std::nullopt;
    FileRecord r = rowToRecord(st);
    sqlite3_reset(st);
    return r;
}

qint64 Store::count()
{
    sqlite3_stmt *st = prepare("SELECT count(*) FROM files");
    const qint64 n = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    if (st)
        sqlite3_reset(st);
    return n;
}

bool Store::forEachTrigramMatch(const QString &foldedLiteral, const std::function<bool(qint64)> &f)
{
    if (!nameTrigramsReady())
        return false;
    sqlite3_stmt *st = prepare("SELECT rowid FROM name_tri WHERE name_tri MATCH ? ORDER BY rowid");
    if (!st)
        return false;
    QString phrase = foldedLiteral;
    phrase.replace(QLatin1Char('"'), QLatin1String("\"\""));
    bindText(st, 1, QLatin1Char('"') + phrase + QLatin1Char('"'));
    while (sqlite3_step(st) == SQLITE_ROW)
        if (!f(sqlite3_column_int64(st, 0)))
            break;
    sqlite3_reset(st);
    return true;
}

qint64 Store::countTrigramMatches(const QString &foldedLiteral)
{
    if (!nameTrigramsReady())
        return -1;
    sqlite3_stmt *st = prepare("SELECT count(*) FROM name_tri WHERE name_tri MATCH ?");
    if (!st)
        return -1;
    QString phrase = foldedLiteral;
    phrase.replace(QLatin1Char('"'), QLatin1String("\"\""));
    bindText(st, 1, QLatin1Char('"') + phrase + QLatin1Char('"'));
    const qint64 n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_reset(st);
    return n;
}

bool Store::forEachRecord(const std::function<bool(const FileRecord &)> &f)
{
    sqlite3_stmt *st = prepare("SELECT " MD_COLUMNS " FROM files");
    if (!st)
        return false;
    while (sqlite3_step(st) == SQLITE_ROW)
        if (!f(rowToRecord(st)))
            break;
    sqlite3_reset(st);
    return true;
}

QSet<qint64> Store::textMatches(const QString &ftsQuery)
{
    QSet<qint64> ids;
    sqlite3_stmt *st = prepare("SELECT rowid FROM text_fts WHERE text_fts MATCH ?");
    if (!st)
        return ids;
    bindText(st, 1, ftsQuery);
    while (sqlite3_step(st) == SQLITE_ROW)
        ids.insert(sqlite3_column_int64(st, 0));
    sqlite3_reset(st);
    return ids;
}

QList<qint64> Store::taggedIds()
{
    QList<qint64> ids;
    sqlite3_stmt *st = prepare("SELECT id FROM files WHERE tags<>''");
    while (st && sqlite3_step(st) == SQLITE_ROW)
        ids.append(sqlite3_column_int64(st, 0));
    return ids;
}

qint64 Store::dataVersion()
{
    sqlite3_stmt *st = prepare("PRAGMA data_version");
    const qint64 v = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    if (st)
        sqlite3_reset(st);
    // data_version counts other connections' commits; this connection's own writes are counted
    // by total_changes.
    return v < 0 ? v : (v << 32) + sqlite3_total_changes64(db_);
}

bool Store::forEachNameForms(bool withName, const std::function<void(const NameForms &)> &f)
{
    sqlite3_stmt *st = prepare(withName ? "SELECT id, fold, display IS NULL OR display IS name, name FROM files"
                                        : "SELECT id, fold, display IS NULL OR display IS name FROM files");
    if (!st)
        return false;
    NameForms n;
    while (sqlite3_step(st) == SQLITE_ROW) {
        n.id = sqlite3_column_int64(st, 0);
        n.folded = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
        n.foldedLength = sqlite3_column_bytes(st, 1);
        n.displayIsName = sqlite3_column_int(st, 2) != 0;
        if (withName) {
            n.name = reinterpret_cast<const char *>(sqlite3_column_text(st, 3));
            n.nameLength = sqlite3_column_bytes(st, 3);
        }
        f(n);
    }
    sqlite3_reset(st);
    return true;
}

} // namespace MdIndex
