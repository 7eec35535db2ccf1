// The crawler's steps: the names walk, content batches and live changes.
#include "platform/mdindex/MdBulkWalk.h"
#include "platform/mdindex/MdCrawler.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcMdIndex)

namespace MdIndex {
namespace {

constexpr int kRowsPerCommit = 20000;
// A first walk commits less often: each commit writes its journal and waits for two syncs.
// 100,000 new rows still fit in the page cache, so none spill to the file before their commit.
constexpr int kRowsPerBulkCommit = 100000;

FileRecord recordFromStat(const QString &path, const QString &name, const struct statx &st)
{
    FileRecord r;
    r.path = path;
    r.name = name;
    r.displayName = name;
    r.isFolder = S_ISDIR(st.stx_mode);
    r.size = r.isFolder ? 0 : qint64(st.stx_size);
    r.modifiedMs = statxMsecs(st.stx_mtime);
    r.createdMs = (st.stx_mask & STATX_BTIME) ? statxMsecs(st.stx_btime) : 0;
    return r;
}

// Readers of folders beside the writing thread: the kernel's share of a walk (listing, statx)
// spreads over the cores while this thread writes. One is enough on a single core.
int walkerThreads()
{
    return std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

QString cleanRoot(const QString &root)
{
    QString r = QFileInfo(root).absoluteFilePath();
    while (r.size() > 1 && r.endsWith(QLatin1Char('/')))
        r.chop(1);
    return r;
}

} // namespace

bool Crawler::crawlNames()
{
    ++generation_;
    // The WAL comes back however the walk ends (its transaction is over by then), and before
    // the trigram build, so that searches read beside that long transaction.
    struct JournalGuard {
        Store &store;
        bool on = store.setFirstWalkJournal(true);
        void end()
        {
            if (on)
                store.setFirstWalkJournal(false);
            on = false;
        }
        ~JournalGuard() { end(); }
    } journal{store_};
    if (!store_.begin())
        return false;
    store_.setMeta(QStringLiteral("generation"), QString::number(generation_));
    store_.setMeta(QStringLiteral("names_done"), QStringLiteral("0"));
    store_.beginBulkInsert();
    bool ok = true;
    QStringList walked;
    for (const QString &rootText : rules_.roots) {
        const QString root = cleanRoot(rootText);
        bool nested = walked.contains(root); // walked already, or as part of another root
        for (const QString &other : rules_.roots)
            nested = nested || root.startsWith(cleanRoot(other) + QLatin1Char('/'));
        if (nested)
            continue;
        walked.append(root);
        struct statx st {
        };
        if (excludedFolder(root) || !statEntry(AT_FDCWD, root.toUtf8().constData(), &st) || !S_ISDIR(st.stx_mode)) {
            // A root now excluded, gone or no folder any more: what the index held of it goes.
            const int gone = store_.inBulkInsert() ? 0 : store_.removeTree(root);
            QMutexLocker lock(&progressMutex_);
            progress_.removed += gone;
            continue;
        }
        FileRecord r = recordFromStat(root, QFileInfo(root).fileName(), st);
        const qint64 id = store_.upsertStat(r, generation_);
        ok = id != 0 && (store_.inBulkInsert() ? walkIntoEmptyIndex(root, id) : walk(root, id));
        if (!ok)
            break;
    }
    if (!store_.endBulkInsert())
        ok = false;
    if (!ok) {
        store_.commit();
        return false;
    }
    {
        QMutexLocker lock(&progressMutex_);
        progress_.namesDone = true;
    }
    store_.setMeta(QStringLiteral("names_done"), QStringLiteral("1"));
    if (!flushBatch(false))
        return false;
    journal.end();
    return store_.nameTrigramsReady() || store_.buildNameTrigrams();
}

bool Crawler::walkIntoEmptyIndex(const QString &root, qint64 rootId)
{
    BulkWalk::Rules rules;
    rules.excludedFolder = [this](const QString &path) { return excludedFolder(path); };
    if (!namePatterns_.empty())
        rules.excludedName = [this](const QString &name) { return excludedName(name); };
    rules.stop = &stop_;
    BulkWalk walker(rules, walkerThreads());
    walker.start(root.toUtf8(), rootId);
    FolderBatch batch;
    qint64 foldersTold = 0;
    FileRecord r;
    while (walker.next(&batch)) {
        r.parent = batch.parentId;
        for (size_t i = 0; i < batch.entries.size(); ++i) {
            const BulkEntry &e = batch.entries[i];
            r.id = batch.firstId + qint64(i);
            r.isFolder = e.isFolder;
            r.size = e.size;
            r.modifiedMs = e.modifiedMs;
            r.createdMs = e.createdMs;
            const QByteArray path =
                QByteArray::fromRawData(batch.paths.constData() + e.pathStart, e.pathEnd - e.pathStart);
            if (store_.insertBulk(path, batch.paths.constData() + e.nameStart, e.pathEnd - e.nameStart, r,
                                  generation_) == 0 ||
                (++batchRows_ >= kRowsPerBulkCommit && !flushBatch(true))) {
                walker.cancel();
                return false;
            }
        }
        const qint64 folders = walker.foldersRead();
        QMutexLocker lock(&progressMutex_);
        progress_.folders += folders - foldersTold;
        progress_.files += qint64(batch.entries.size());
        progress_.skippedNames += batch.skippedNames;
        foldersTold = folders;
    }
    // Folders read after the last entries came (empty or unreadable ones) count too.
    QMutexLocker lock(&progressMutex_);
    progress_.folders += walker.foldersRead() - foldersTold;
    return !stop_;
}

bool Crawler::walk(const QString &folder, qint64 folderId)
{
    if (stop_)
        return false;
    QList<Subfolder> subfolders;
    if (!syncFolder(folder, folderId, false, false, &subfolders))
        return false;
    for (const Subfolder &sub : std::as_const(subfolders))
        if (!walk(sub.path, sub.id))
            return false;
    return true;
}

void Crawler::refreshFolder(const QString &folder, qint64 folderId, bool attributes)
{
    QList<Subfolder> newFolders;
    if (!syncFolder(folder, folderId, attributes, true, &newFolders))
        return;
    for (const Subfolder &sub : std::as_const(newFolders))
        if (!walk(sub.path, sub.id))
            break;
}

bool Crawler::syncFolder(const QString &folder, qint64 folderId, bool attributes, bool onlyNew,
                         QList<Subfolder> *subfolders)
{
    const int fd = open(folder.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            close(fd);
        return true; // unreadable now: keep what the index knows (a folder that went is its parent's business)
    }
    QHash<QString, FileRecord> indexed;
    for (FileRecord &r : store_.directChildren(folder))
        indexed.insert(r.path, std::move(r));
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    qint64 files = 0, skipped = 0;
    int gone = 0;
    bool ok = true;
    while (const dirent *e = readdir(dir)) {
        const char *name = e->d_name;
        if (name[0] == '.') // ".", ".." and hidden entries
            continue;
        const size_t length = strlen(name);
        if (!isUtf8Name(name, length)) {
            if (skipped++ == 0 && progress().skippedNames == 0)
                qCInfo(lcMdIndex) << "index: leaving out names that are not UTF-8, first in" << folder;
            continue;
        }
        const QString nameText = QString::fromUtf8(name, qsizetype(length));
        if (!namePatterns_.empty() && excludedName(nameText))
            continue;
        struct statx st {
        };
        if (!statEntry(dirfd(dir), name, &st))
            continue;
        const QString path = prefix + nameText;
        FileRecord r = recordFromStat(path, nameText, st);
        if (r.isFolder && excludedFolder(path))
            continue;
        r.parent = folderId;
        ++files;
        // An entry the index holds as it is on the disk is not written again: a walk over an
        // unchanged home writes nothing.
        const auto known = indexed.constFind(path);
        bool isNew = known == indexed.cend();
        bool changed = isNew;
        if (!isNew && known->isFolder != r.isFolder) {
            // A folder became a file, or the reverse: what was below it goes, and it is new.
            gone += store_.removeTree(path);
            isNew = changed = true;
        } else if (!isNew) {
            r.id = known->id;
            changed = known->size != r.size || known->modifiedMs != r.modifiedMs || known->createdMs != r.createdMs;
        }
        if (known != indexed.cend())
            indexed.erase(known);
        if (changed) {
            r.id = store_.upsertStat(r, generation_);
            if (r.id == 0 || (++batchRows_ >= kRowsPerCommit && !flushBatch(true))) {
                ok = false;
                break;
            }
        }
        if (attributes && !isNew) {
            readAttributes(&r);
            store_.updateAttributes(r);
        }
        if (r.isFolder && (isNew || !onlyNew))
            subfolders->append({path, r.id});
    }
    closedir(dir);
    // What the index holds and the disk no longer shows (gone, hidden or excluded now).
    for (auto it = indexed.cbegin(); ok && it != indexed.cend(); ++it)
        gone += store_.removeTree(it.key());
    QMutexLocker lock(&progressMutex_);
    progress_.folders += 1;
    progress_.files += files;
    progress_.skippedNames += skipped;
    progress_.removed += gone;
    return ok;
}

} // namespace MdIndex
