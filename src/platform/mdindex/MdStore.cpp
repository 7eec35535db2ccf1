#include "platform/mdindex/MdStore.h"

#include "platform/StoreFile.h"
#include "platform/mdindex/MdPattern.h"
#include "platform/mdindex/MdStoreSql.h"
#include "util/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <sqlite3.h>

Q_LOGGING_CATEGORY(lcMdIndex, "kelso.mdindex")

namespace MdIndex {
namespace {

// 3: the display name is NULL where it is the file name.
constexpr const char *kSchemaVersion = "3";
// SQLite's own header says how many pages the file should hold; a shorter file was truncated.
// With a log beside it the file may rightly be shorter (a checkpoint cut short by a full disk
// or a kill):
// the pages it lacks are in the log, and SQLite itself says whether the whole reads.
bool headerLooksWhole(const QString &path)
{
    QFile f(path);
    if (!f.exists() || f.size() == 0 || QFileInfo(path + QStringLiteral("-wal")).size() > 0)
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = f.read(100);
    if (h.size() < 100 || !h.startsWith("SQLite format 3"))
        return false;
    auto be32 = [&h](int at) {
        return (quint32(uchar(h[at])) << 24) | (quint32(uchar(h[at + 1])) << 16) | (quint32(uchar(h[at + 2])) << 8) |
               quint32(uchar(h[at + 3]));
    };
    quint32 pageSize = (quint32(uchar(h[16])) << 8) | uchar(h[17]);
    if (pageSize == 1)
        pageSize = 65536;
    const quint32 pages = be32(28);
    const bool sizeValid = be32(24) == be32(92) && pages > 0;
    return !sizeValid || f.size() >= qint64(pageSize) * pages;
}

// Errors that may come from the file's content (or its absence of tables): the file may then be
// replaced. Anything else (a full disk, locks, permissions, memory) is no reason to drop it.
bool mayBeDamaged(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_ERROR || primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB ||
           primary == SQLITE_SCHEMA || primary == SQLITE_FORMAT || primary == SQLITE_MISMATCH;
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

void bindText(sqlite3_stmt *st, int i, const QString &s)
{
    const QByteArray u = s.toUtf8();
    sqlite3_bind_text(st, i, u.constData(), int(u.size()), SQLITE_TRANSIENT);
}
QString columnText(sqlite3_stmt *st, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
}

Store::Store() = default;
Store::~Store()
{
    close();
}

QString Store::defaultPath()
{
    return KLPaths::cacheFolder() + QStringLiteral("/index.sqlite3");
}

void Store::close()
{
    for (sqlite3_stmt *st : std::as_const(statements_))
        sqlite3_finalize(st);
    statements_.clear();
    cache_.clear();
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool Store::exec(const char *sql)
{
    char *msg = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
    if (rc != SQLITE_OK) {
        // A full disk is told once, by noteFull(); what fails after it says nothing new.
        if (!noteFull(rc) && !diskFull_)
            qCWarning(lcMdIndex) << "index:" << (msg ? msg : "error") << "in" << QByteArray(sql).left(60);
        sqlite3_free(msg);
        return false;
    }
    return true;
}

bool Store::noteFull(int rc)
{
    if ((rc & 0xff) != SQLITE_FULL)
        return false;
    if (!diskFull_) {
        diskFull_ = true;
        qCWarning(lcMdIndex) << "index: the disk is full; indexing stops, the index stays readable";
    }
    return true;
}

sqlite3_stmt *Store::prepare(const char *sql)
{
    if (sqlite3_stmt *st = cache_.value(sql)) {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        return st;
    }
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
        qCWarning(lcMdIndex) << "index:" << sqlite3_errmsg(db_);
        return nullptr;
    }
    statements_.append(st);
    cache_.insert(sql, st);
    return st;
}

bool Store::step(sqlite3_stmt *st)
{
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return true;
    noteFull(rc);
    return false;
}

QString Store::lastError() const
{
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("not open");
}

bool Store::open(const QString &path, Mode mode, QString *error)
{
    // Allocation statistics take a global mutex on every malloc; nothing here reads them.
    static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    Q_UNUSED(configured);
    close();
    readOnly_ = mode == Mode::ReadOnly;
    rebuilt_ = false;
    // Checked before anything is read or removed: through a linked folder or path, "removing a
    // damaged index" would delete someone else's file.
    if (!readOnly_) {
        QString refused;
        if (!StoreFile::preparePrivateFolder(QFileInfo(path).absolutePath(), &refused) ||
            !StoreFile::mayReplace(path, true, &refused)) {
            if (error)
                *error = QStringLiteral("the index at %1 cannot be written: %2").arg(path, refused);
            return false;
        }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool whole = headerLooksWhole(path);
        if (!whole && !readOnly_) {
            qCWarning(lcMdIndex) << "index: the file is damaged; starting a new index";
            removeDatabaseFiles(path);
            rebuilt_ = true;
        }
        // SQLITE_OPEN_NOFOLLOW: a symbolic link put in the index's place since is not opened.
        const int flags =
            SQLITE_OPEN_NOFOLLOW | (readOnly_ ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
        int rc = whole || !readOnly_
                     ? sqlite3_open_v2(path.toUtf8().constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr)
                     : SQLITE_CORRUPT;
        QString version;
        int notItsFault = SQLITE_OK; // the file could not be read, through no fault of its own
        if (rc != SQLITE_OK && !readOnly_ && !mayBeDamaged(rc))
            notItsFault = rc;
        if (rc == SQLITE_OK) {
            // Before the first write, so that the -wal and -shm files sqlite makes take the
            // same private mode.
            if (!readOnly_)
                StoreFile::tightenMode(path);
            sqlite3_busy_timeout(db_, 5000);
            sqlite3_stmt *st = nullptr;
            rc = sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE key='schema'", -1, &st, nullptr);
            const int stepped = rc == SQLITE_OK ? sqlite3_step(st) : SQLITE_DONE;
            if (stepped == SQLITE_ROW)
                version = columnText(st, 0);
            sqlite3_finalize(st);
            const bool failed = rc != SQLITE_OK || (stepped != SQLITE_ROW && stepped != SQLITE_DONE);
            if (failed && !readOnly_ && !mayBeDamaged(sqlite3_extended_errcode(db_)))
                notItsFault = sqlite3_extended_errcode(db_);
            else if (rc != SQLITE_OK && !readOnly_) {
                sqlite3_stmt *probe = nullptr; // an empty new file has no tables yet: that is fine
                const int prc = sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &probe, nullptr);
                const bool readable = prc == SQLITE_OK && sqlite3_step(probe) == SQLITE_ROW;
                const bool empty = readable && sqlite3_column_int(probe, 0) == 0;
                sqlite3_finalize(probe);
                rc = empty ? SQLITE_OK : SQLITE_CORRUPT;
            }
        }
        if (rc == SQLITE_OK && version == QLatin1String(kSchemaVersion)) {
            exec("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-32000; PRAGMA temp_store=MEMORY");
            // A first walk cut short (a crash) may have left the rollback journal it writes with.
            if (!readOnly_)
                exec("PRAGMA journal_mode=WAL");
            // A first walk cut short (a full disk) may have left the path index unbuilt.
            if (!readOnly_ && !hasPathIndex()) {
                bulk_ = true;
                endBulkInsert();
            }
            return true;
        }
        if (rc == SQLITE_OK && version.isEmpty() && !readOnly_) {
            if (createSchema())
                return true;
            rc = SQLITE_CORRUPT;
        }
        if (notItsFault != SQLITE_OK) {
            // A full disk, a lock held too long, no permission: the index stays as it is (it may
            // well be whole and readable by others) and this connection fails.
            const bool full = noteFull(notItsFault == SQLITE_IOERR_SHMSIZE ? SQLITE_FULL : notItsFault);
            if (!full)
                qCWarning(lcMdIndex) << "index: cannot be opened now, left as it is:" << sqlite3_errstr(notItsFault);
            close();
            if (error)
                *error = QStringLiteral("the index at %1 cannot be opened now (%2)")
                             .arg(path, QString::fromUtf8(sqlite3_errstr(notItsFault)));
            return false;
        }
        close();
        if (readOnly_) {
            if (error)
                *error = QStringLiteral("the index at %1 cannot be read").arg(path);
            return false;
        }
        qCWarning(lcMdIndex) << "index: unreadable or of another version; starting a new index";
        removeDatabaseFiles(path);
        rebuilt_ = true;
    }
    if (error)
        *error = QStringLiteral("the index at %1 cannot be created").arg(path);
    return false;
}

bool Store::hasPathIndex()
{
    sqlite3_stmt *st = prepare("SELECT 1 FROM sqlite_master WHERE type='index' AND name='files_path'");
    const bool found = st && sqlite3_step(st) == SQLITE_ROW;
    if (st)
        sqlite3_reset(st);
    return found;
}

bool Store::createSchema()
{
    const bool ok = exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-32000;"
                         "BEGIN;"
                         "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);"
                         "CREATE TABLE files(id INTEGER PRIMARY KEY, path TEXT NOT NULL, parent INTEGER, name TEXT,"
                         " display TEXT, fold TEXT, is_dir INT, size INT, mtime INT, btime INT, last_used INT,"
                         " mime TEXT, uti TEXT, tree TEXT, tags TEXT, rating REAL, system INT, pending INT, gen INT,"
                         " managed INT);"
                         "CREATE UNIQUE INDEX files_path ON files(path);"
                         "CREATE TABLE texts(id INTEGER PRIMARY KEY, body TEXT);"
                         "CREATE VIRTUAL TABLE text_fts USING fts5(body, content='texts', content_rowid='id',"
                         " tokenize='unicode61 remove_diacritics 2');"
                         "CREATE VIRTUAL TABLE name_tri USING fts5(fold, content='files', content_rowid='id',"
                         " tokenize='trigram');"
                         "CREATE TRIGGER files_text_gone AFTER DELETE ON files BEGIN"
                         " INSERT INTO text_fts(text_fts, rowid, body) SELECT 'delete', id, body FROM texts"
                         "  WHERE id=old.id;"
                         " DELETE FROM texts WHERE id=old.id; END;"
                         "COMMIT;");
    // Written last: a schema half made (a crash, a full disk) has no version and is made anew.
    return ok && setMeta(QStringLiteral("schema"), QLatin1String(kSchemaVersion));
}

bool Store::beginRead()
{
    if (reading_ || !db_ || !sqlite3_get_autocommit(db_))
        return false;
    reading_ = exec("BEGIN");
    return reading_;
}

void Store::endRead()
{
    if (reading_)
        exec("COMMIT");
    reading_ = false;
}

bool Store::begin()
{
    return exec("BEGIN IMMEDIATE");
}
bool Store::commit()
{
    return exec("COMMIT") || (exec("ROLLBACK"), false);
}

QString Store::meta(const QString &key)
{
    sqlite3_stmt *st = prepare("SELECT value FROM meta WHERE key=?");
    if (!st)
        return {};
    bindText(st, 1, key);
    const QString v = sqlite3_step(st) == SQLITE_ROW ? columnText(st, 0) : QString();
    sqlite3_reset(st); // ends the read transaction
    return v;
}

bool Store::setMeta(const QString &key, const QString &value)
{
    sqlite3_stmt *st = prepare("INSERT OR REPLACE INTO meta VALUES(?, ?)");
    if (!st)
        return false;
    bindText(st, 1, key);
    bindText(st, 2, value);
    return step(st);
}

} // namespace MdIndex
