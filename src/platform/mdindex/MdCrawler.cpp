#include "platform/mdindex/MdCrawler.h"

#include "platform/mdindex/MdPattern.h"
#include "util/ThreadNames.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLoggingCategory>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcMdIndex)

namespace MdIndex {
namespace {

constexpr int kContentBatch = 32;

const char *const kSystemRoots[] = {"/proc",  "/sys",    "/dev",  "/run",        "/boot", "/usr",
                                    "/etc",   "/var",    "/bin",  "/sbin",       "/lib",  "/lib32",
                                    "/lib64", "/libx32", "/snap", "/lost+found", "/tmp"};

// The calling thread only: Linux keeps both priorities per thread.
void lowerThreadPriority()
{
    constexpr int whoProcess = 1, classIdle = 3, classShift = 13;
    if (syscall(SYS_ioprio_set, whoProcess, 0, classIdle << classShift) != 0)
        qCInfo(lcMdIndex) << "index: idle I/O priority not available:" << strerror(errno);
    setpriority(PRIO_PROCESS, 0, 19);
}

} // namespace

Crawler::Crawler(const QString &databasePath, const CrawlRules &rules) : dbPath_(databasePath), rules_(rules)
{
    // Read once: the walk tests every name against every pattern.
    for (const QString &pattern : rules_.excludedNamePatterns)
        namePatterns_.push_back(Pattern::fromQuoted(pattern));
}

Crawler::~Crawler()
{
    stop();
}

void Crawler::start()
{
    if (thread_.joinable())
        return;
    stop_ = false;
    thread_ = std::thread([this] {
        ThreadNames::setCurrent("kelso-mdcrawl");
        lowerThreadPriority();
        run();
    });
}

void Crawler::stop()
{
    stop_ = true;
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Crawler::enqueue(const QList<Change> &changes)
{
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_ += changes;
    }
    wake_.notify_all();
}

void Crawler::setUserActiveHook(std::function<bool()> hook)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    userActive_ = std::move(hook);
}

CrawlProgress Crawler::progress() const
{
    QMutexLocker lock(&progressMutex_);
    return progress_;
}

bool Crawler::openStore(QString *error)
{
    if (store_.isOpen())
        return true;
    if (!store_.open(dbPath_, Store::Mode::ReadWrite, error))
        return false;
    generation_ = store_.meta(QStringLiteral("generation")).toInt();
    return true;
}

void Crawler::run()
{
    QString error;
    if (!openStore(&error)) {
        QMutexLocker lock(&progressMutex_);
        progress_.error = error;
        progress_.diskFull = store_.diskFull();
        return;
    }
    if (!crawlNames()) {
        // A full disk ends the walk wherever it was (a row, a commit): the index keeps what the
        // last commit wrote, and nothing more is written this run.
        QMutexLocker lock(&progressMutex_);
        progress_.diskFull = store_.diskFull();
        return;
    }
    if (!rules_.recentlyUsedFile.isEmpty())
        importRecentlyUsed(rules_.recentlyUsedFile);
    while (!stop_) {
        QList<Change> changes;
        std::function<bool()> userActive;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            changes.swap(queue_);
            userActive = userActive_;
        }
        if (store_.diskFull()) {
            {
                QMutexLocker lock(&progressMutex_);
                progress_.diskFull = true;
            }
            // Indexing has stopped: changes are dropped until the next start.
            std::unique_lock<std::mutex> lock(queueMutex_);
            queue_.clear();
            wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stop_.load(); });
            continue;
        }
        if (!changes.isEmpty()) {
            applyChanges(changes);
            continue;
        }
        const bool paused = userActive && userActive();
        if (!paused && !store_.diskFull() && indexContentBatch(kContentBatch) > 0)
            continue;
        std::unique_lock<std::mutex> lock(queueMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(paused ? 500 : 2000),
                       [this] { return stop_ || !queue_.isEmpty(); });
    }
}

namespace {
bool isUnder(const QString &path, const QString &root)
{
    return path == root || (path.startsWith(root) && path.at(root.size()) == QLatin1Char('/'));
}
} // namespace

bool Crawler::isSystemPath(const QString &path)
{
    for (const char *root : kSystemRoots)
        if (isUnder(path, QString::fromLatin1(root)))
            return true;
    return false;
}

bool Crawler::excludedFolder(const QString &path) const
{
    if (isSystemPath(path))
        return true;
    for (const QString &folder : rules_.excludedFolders)
        if (isUnder(path, folder))
            return true;
    return false;
}

bool Crawler::excludedName(const QString &name) const
{
    if (name.startsWith(QLatin1Char('.')))
        return true;
    for (const Pattern &pattern : namePatterns_)
        if (pattern.matches(name))
            return true;
    return false;
}

bool Crawler::flushBatch(bool reopen)
{
    batchRows_ = 0;
    saveProgress();
    const bool ok = store_.commit();
    if (!ok || store_.diskFull()) {
        QMutexLocker lock(&progressMutex_);
        progress_.diskFull = store_.diskFull();
        return false;
    }
    return !reopen || store_.begin();
}

} // namespace MdIndex
