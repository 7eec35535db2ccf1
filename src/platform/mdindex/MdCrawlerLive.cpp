// The crawler's later steps: content batches, live changes and the progress it records.
#include "platform/mdindex/MdCrawler.h"

#include "platform/mdindex/MdRecentlyUsed.h"

#include <QDateTime>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>

namespace MdIndex {
namespace {

bool hiddenComponent(const QString &path)
{
    return path.contains(QLatin1String("/."));
}

} // namespace

int Crawler::indexContentBatch(int max)
{
    const QList<FileRecord> batch = store_.pendingContent(max);
    if (batch.isEmpty() || !store_.begin())
        return 0;
    int done = 0;
    for (FileRecord r : batch) {
        if (stop_)
            break;
        struct stat st {
        };
        if (lstat(r.path.toUtf8().constData(), &st) != 0) {
            store_.removeTree(r.path);
            continue;
        }
        readTypeAndAttributes(&r);
        QString text;
        const bool hasText = readText(r, rules_.textCapBytes, &text);
        if (!store_.updateDetails(r) || !store_.setText(r.id, hasText ? text : QString()))
            break;
        ++done;
    }
    {
        QMutexLocker lock(&progressMutex_);
        progress_.contentDone += done;
    }
    return flushBatch(false) ? done : 0;
}

void Crawler::applyChanges(const QList<Change> &changes)
{
    if (!store_.begin())
        return;
    bool recordChanged = false;
    for (const Change &c : changes) {
        const QString path = QFileInfo(c.path).absoluteFilePath();
        if (!rules_.recentlyUsedFile.isEmpty() && path == rules_.recentlyUsedFile) {
            recordChanged = true;
            continue;
        }
        bool underRoot = false;
        for (const QString &root : rules_.roots)
            underRoot = underRoot || path == root ||
                        path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
        if (!underRoot || hiddenComponent(path) || excludedFolder(path) || excludedName(QFileInfo(path).fileName()))
            continue;
        if (c.kind == ChangeKind::Opened) {
            store_.setLastUsed(path, QDateTime::currentMSecsSinceEpoch());
            continue;
        }
        struct statx st {
        };
        const bool exists = statx(AT_FDCWD, path.toUtf8().constData(), AT_SYMLINK_NOFOLLOW,
                                  STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &st) == 0;
        if (c.kind == ChangeKind::Removed || !exists) {
            const int gone = store_.removeTree(path);
            QMutexLocker lock(&progressMutex_);
            progress_.removed += gone;
            continue;
        }
        if (c.kind == ChangeKind::AttributesChanged) {
            if (std::optional<FileRecord> r = store_.byPath(path)) {
                readAttributes(&*r);
                store_.updateAttributes(*r);
                continue;
            }
        }
        FileRecord r;
        r.path = path;
        r.name = r.displayName = QFileInfo(path).fileName();
        r.isFolder = S_ISDIR(st.stx_mode);
        r.size = r.isFolder ? 0 : qint64(st.stx_size);
        r.modifiedMs = qint64(st.stx_mtime.tv_sec) * 1000 + st.stx_mtime.tv_nsec / 1000000;
        r.createdMs =
            (st.stx_mask & STATX_BTIME) ? qint64(st.stx_btime.tv_sec) * 1000 + st.stx_btime.tv_nsec / 1000000 : 0;
        const std::optional<FileRecord> parent = store_.byPath(QFileInfo(path).path());
        r.parent = parent ? parent->id : 0;
        const std::optional<FileRecord> before = store_.byPath(path);
        const qint64 id = store_.upsertStat(r, generation_);
        // A folder that arrives whole (moved in) brings its contents; a known folder whose
        // entries changed is listed again.
        if (id != 0 && r.isFolder && !before)
            walk(path, id);
        else if (id != 0 && r.isFolder &&
                 (c.kind == ChangeKind::FolderChanged || c.kind == ChangeKind::FolderAttributesChanged))
            refreshFolder(path, id, c.kind == ChangeKind::FolderAttributesChanged);
    }
    saveProgress();
    store_.commit();
    if (recordChanged)
        importRecentlyUsed(rules_.recentlyUsedFile);
}

void Crawler::importRecentlyUsed(const QString &xbelPath)
{
    const QList<RecentlyUsed> entries = readRecentlyUsed(xbelPath);
    if (entries.isEmpty() || !store_.begin())
        return;
    for (const RecentlyUsed &e : entries)
        store_.setLastUsed(e.path, e.usedMs);
    store_.commit();
}

void Crawler::saveProgress()
{
    const CrawlProgress p = progress();
    store_.setMeta(QStringLiteral("progress"),
                   QStringLiteral("%1 %2 %3 %4").arg(p.folders).arg(p.files).arg(p.contentDone).arg(p.removed));
}

CrawlProgress Crawler::storedProgress(Store &store)
{
    CrawlProgress p;
    const QStringList parts = store.meta(QStringLiteral("progress")).split(QLatin1Char(' '));
    if (parts.size() == 4) {
        p.folders = parts[0].toLongLong();
        p.files = parts[1].toLongLong();
        p.contentDone = parts[2].toLongLong();
        p.removed = parts[3].toLongLong();
    }
    p.namesDone = store.meta(QStringLiteral("names_done")) == QLatin1String("1");
    return p;
}

} // namespace MdIndex
