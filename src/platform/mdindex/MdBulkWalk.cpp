#include "platform/mdindex/MdBulkWalk.h"

#include "util/ThreadNames.h"

#include <QLoggingCategory>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcMdIndex)

namespace MdIndex {
namespace {

// Entries waiting for the writer before the walkers wait for it in turn (a few MB of paths).
constexpr qint64 kMaxReadyEntries = 65536;
// Entries of one folder handed over at once.
constexpr size_t kMaxBatchEntries = 4096;
constexpr int kIoprioWhoProcess = 1; // with id 0: the calling thread

} // namespace

bool isUtf8Name(const char *bytes, size_t n)
{
    // Plain ASCII is the common case; anything else must survive a round trip unchanged.
    for (size_t i = 0; i < n; ++i)
        if (uchar(bytes[i]) >= 0x80) {
            const QByteArray raw(bytes, qsizetype(n));
            return QString::fromUtf8(raw).toUtf8() == raw;
        }
    return true;
}

bool statEntry(int dirFd, const char *name, struct statx *st)
{
    return statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                 STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_BTIME, st) == 0;
}

qint64 statxMsecs(const struct statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

BulkWalk::BulkWalk(Rules rules, int walkers) : rules_(std::move(rules)), walkerCount_(std::max(1, walkers))
{
    // Linux keeps both priorities per thread; a new thread is not sure to inherit the I/O one.
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (errno == 0)
        nice_ = nice;
    ioPriority_ = int(syscall(SYS_ioprio_get, kIoprioWhoProcess, 0));
}

BulkWalk::~BulkWalk()
{
    cancel();
    for (std::thread &t : walkers_)
        t.join();
}

void BulkWalk::start(const QByteArray &root, qint64 rootId)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        toRead_.push_back({root, rootId});
        nextId_ = rootId + 1;
    }
    for (int i = 0; i < walkerCount_; ++i)
        walkers_.emplace_back([this] {
            ThreadNames::setCurrent("kelso-mdwalk");
            setpriority(PRIO_PROCESS, 0, nice_);
            if (ioPriority_ >= 0)
                syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, ioPriority_);
            work();
        });
}

void BulkWalk::cancel()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
}

bool BulkWalk::next(FolderBatch *out)
{
    std::unique_lock<std::mutex> lock(mutex_);
    // The owner's stop flag is not tied to this mutex: look again now and then.
    while (ready_.empty() && !stopped() && !(toRead_.empty() && reading_ == 0))
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    if (ready_.empty() || stopped())
        return false;
    *out = std::move(ready_.front());
    ready_.pop_front();
    const bool wasFull = readyEntries_ > kMaxReadyEntries;
    readyEntries_ -= qint64(out->entries.size());
    lock.unlock();
    if (wasFull)
        changed_.notify_all();
    return true;
}

void BulkWalk::work()
{
    for (;;) {
        Folder folder;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (toRead_.empty() && reading_ > 0 && !stopped())
                changed_.wait_for(lock, std::chrono::milliseconds(100));
            if (stopped() || toRead_.empty())
                break; // stopped, or every folder is read
            folder = std::move(toRead_.back());
            toRead_.pop_back();
            ++reading_;
        }
        std::vector<Folder> subfolders;
        readFolder(folder, &subfolders);
        ++foldersRead_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // Pushed last first, so that the folder's first subfolder is read next (depth first).
            toRead_.insert(toRead_.end(), std::make_move_iterator(subfolders.rbegin()),
                           std::make_move_iterator(subfolders.rend()));
            --reading_;
        }
        changed_.notify_all();
    }
    changed_.notify_all();
}

void BulkWalk::handOver(FolderBatch *batch, std::vector<Folder> *subfolders)
{
    if (batch->entries.empty() && batch->skippedNames == 0)
        return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (readyEntries_ > kMaxReadyEntries && !stopped())
            changed_.wait_for(lock, std::chrono::milliseconds(100));
        batch->firstId = nextId_;
        nextId_ += qint64(batch->entries.size());
        readyEntries_ += qint64(batch->entries.size());
        for (size_t i = 0; i < batch->entries.size(); ++i) {
            const BulkEntry &e = batch->entries[i];
            if (e.isFolder)
                subfolders->push_back(
                    {batch->paths.mid(e.pathStart, e.pathEnd - e.pathStart), batch->firstId + qint64(i)});
        }
        const qint64 parentId = batch->parentId;
        ready_.push_back(std::move(*batch));
        *batch = FolderBatch();
        batch->parentId = parentId;
    }
    changed_.notify_all();
}

void BulkWalk::readFolder(const Folder &folder, std::vector<Folder> *subfolders)
{
    FolderBatch batch;
    batch.parentId = folder.id;
    const int fd = open(folder.path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            close(fd);
        return; // unreadable folders are left out
    }
    const QByteArray prefix = folder.path == "/" ? folder.path : folder.path + '/';
    while (const dirent *d = readdir(dir)) {
        const char *name = d->d_name;
        if (name[0] == '.') // ".", ".." and hidden entries
            continue;
        const size_t length = strlen(name);
        if (!isUtf8Name(name, length)) {
            if (batch.skippedNames++ == 0 && !toldSkipped_.exchange(true))
                qCInfo(lcMdIndex) << "index: leaving out names that are not UTF-8, first in"
                                  << QString::fromUtf8(folder.path);
            continue;
        }
        if (rules_.excludedName && rules_.excludedName(QString::fromUtf8(name, qsizetype(length))))
            continue;
        struct statx st {
        };
        if (!statEntry(dirfd(dir), name, &st))
            continue; // gone since the listing
        BulkEntry e;
        e.isFolder = S_ISDIR(st.stx_mode);
        e.pathStart = int(batch.paths.size());
        batch.paths.append(prefix);
        e.nameStart = int(batch.paths.size());
        batch.paths.append(name, qsizetype(length));
        e.pathEnd = int(batch.paths.size());
        if (e.isFolder &&
            rules_.excludedFolder(QString::fromUtf8(batch.paths.constData() + e.pathStart, e.pathEnd - e.pathStart))) {
            batch.paths.truncate(e.pathStart);
            continue;
        }
        e.size = e.isFolder ? 0 : qint64(st.stx_size);
        e.modifiedMs = statxMsecs(st.stx_mtime);
        e.createdMs = (st.stx_mask & STATX_BTIME) ? statxMsecs(st.stx_btime) : 0;
        batch.entries.push_back(e);
        // A huge folder goes over in pieces: the memory it takes stays bounded.
        if (batch.entries.size() >= kMaxBatchEntries)
            handOver(&batch, subfolders);
    }
    closedir(dir);
    handOver(&batch, subfolders);
}

} // namespace MdIndex
