#include "recent/KLItem.h"

#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "platform/Mounts.h"
#include "platform/Workspace.h"
#include "recent/KLRules.h"
#include "recent/XPSimpleUtils.h"
#include "tags/Lumitag.h"
#include "thumbs/ThumbnailQueue.h"
#include "util/DateAdditions.h"
#include "util/KLProcessFlags.h"
#include "util/Localized.h"
#include "util/Logging.h"
#include "util/MainThread.h"
#include "util/ThreadNames.h"
#include "util/Tilde.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QThread>
#include <QTimeZone>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The one thread on which every item refreshes its cached facts. Requests run in order;
// the thread lives for the process and is joined at exit.
class ItemWorker
{
public:
    static ItemWorker &instance()
    {
        static ItemWorker worker;
        return worker;
    }

    void post(std::function<void()> job)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            m_jobs.push_back(std::move(job));
        }
        m_cv.notify_all();
    }

    void setPaused(bool paused)
    {
        {
            std::lock_guard lock(m_mutex);
            m_paused = paused;
        }
        m_cv.notify_all();
    }

    // Blocks until every job posted before the call has run.
    void drain()
    {
        std::unique_lock lock(m_mutex);
        const quint64 target = m_posted();
        m_idle.wait(lock, [&] { return m_done >= target || m_stop; });
    }

    ~ItemWorker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    ItemWorker()
        : m_thread([this] {
              ThreadNames::setCurrent("kelso-items");
              run();
          })
    {
        // The jobs read settings (the tag attribute to use). Statics go in the reverse order of
        // their making: made first, the settings registry outlives this thread at exit.
        Defaults::standard();
    }

    quint64 m_posted() const { return m_done + m_jobs.size() + (m_running ? 1 : 0); }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [&] { return m_stop || (!m_jobs.empty() && !m_paused); });
            if (m_stop)
                break;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_running = true;
            lock.unlock();
            job();
            lock.lock();
            m_running = false;
            ++m_done;
            m_idle.notify_all();
        }
        m_idle.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    quint64 m_done = 0;
    bool m_running = false;
    bool m_stop = false;
    bool m_paused = false;
    std::thread m_thread;
};

// Volumes (mount folders) known to be unreachable; emptied at every mount or unmount.
std::mutex g_unreachableMutex;
QStringList g_unreachableVolumes;
std::once_flag g_mountObserverOnce;

void installMountObserverOnce()
{
    std::call_once(g_mountObserverOnce, [] {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        // MountWatcher lives on the main thread; install the observer there.
        QMetaObject::invokeMethod(
            app,
            [] { QObject::connect(&MountWatcher::instance(), &MountWatcher::changed, [] { KLItem::didMount(); }); },
            Qt::QueuedConnection);
    });
}

std::atomic<quint64> g_imageCounter{0};

bool isMainThread()
{
    // (The application object is not asked for its thread: an item worker may ask while the
    // program ends and the object is being destroyed.)
    return QCoreApplication::instance() && MainThread::isCurrent();
}

void postIconMayHaveChanged(const KLItemServicesPtr &services)
{
    if (services && services->iconMayHaveChanged)
        services->iconMayHaveChanged();
}

// Removable and network volumes: the folders under which a volume's mount point lies.
QString removableVolumeRoot(const QString &path)
{
    const QString user = PimsAdditions::realHomeDirectory().section(QLatin1Char('/'), -1);
    const QStringList bases = {QStringLiteral("/media/") + user + QLatin1Char('/'),
                               QStringLiteral("/run/media/") + user + QLatin1Char('/'), QStringLiteral("/media/"),
                               QStringLiteral("/mnt/")};
    for (const QString &base : bases) {
        if (path.startsWith(base) && path.size() > base.size()) {
            const qsizetype end = path.indexOf(QLatin1Char('/'), base.size());
            return end < 0 ? path : path.left(end);
        }
    }
    return {};
}

} // namespace

KLItem::KLItem(Private)
{
    installMountObserverOnce();
}

KLItemPtr KLItem::create(const QString &path, bool makeBookmark)
{
    auto item = std::make_shared<KLItem>(Private{});
    QByteArray bookmark;
    if (makeBookmark) {
        bookmark = XPSimpleUtils::bookmarkDataForPath(path);
        if (bookmark.isEmpty())
            bookmark = XPSimpleUtils::bookmarkDataForMissingPath(path);
    }
    item->setBookmarkData(bookmark, path);
    return item;
}

KLItemPtr KLItem::copyItem() const
{
    auto copy = std::make_shared<KLItem>(Private{});
    std::lock_guard lock(m_lock);
    copy->m_lastKnownPath = m_lastKnownPath;
    copy->m_bookmarkData = m_bookmarkData;
    copy->m_bookmarkRecord = m_bookmarkRecord;
    copy->m_overrideDate = m_overrideDate;
    copy->m_displayName = m_displayName;
    copy->m_modDate = m_modDate;
    copy->m_timeOfFile = m_timeOfFile;
    copy->m_fileSize = m_fileSize;
    copy->m_fileExists = m_fileExists;
    copy->m_isFolder = m_isFolder;
    copy->m_isInvisible = m_isInvisible;
    copy->m_tagFacts = m_tagFacts;
    copy->m_invisibleSettled = m_invisibleSettled;
    copy->m_lastCacheUpdate = m_lastCacheUpdate;
    copy->m_factsCheckedAt = m_factsCheckedAt;
    copy->m_factsCheckedPath = m_factsCheckedPath;
    copy->m_usePartialPathForTitle = m_usePartialPathForTitle;
    copy->m_cachedImageRep = m_cachedImageRep;
    copy->m_cachedImageNumber = m_cachedImageNumber;
    copy->m_services = m_services;
    return copy;
}

KLItemPtr KLItem::fromArchiveDepth(const QVariantMap &archive, int depth)
{
    if (depth > 4)
        return nullptr; // stacks hold files, not stacks of stacks of stacks
    // Own copies, not shares of the decoded tree: the tree is released inside Qt while the
    // item worker may already replace these (this keeps ThreadSanitizer runs free of the
    // refcount reports of an uninstrumented Qt, at the price of a few hundred bytes).
    const QByteArray archivedBookmark = archive.value(QStringLiteral("bookmarkData")).toByteArray();
    QByteArray bookmark(archivedBookmark.constData(), archivedBookmark.size());
    const QString archivedPath = archive.value(QStringLiteral("path")).toString();
    QString path(archivedPath.constData(), archivedPath.size());
    if (bookmark.isEmpty() && archive.contains(QStringLiteral("alias")))
        bookmark = XPSimpleUtils::bookmarkDataFromAliasData(archive.value(QStringLiteral("alias")).toByteArray(), path);
    if (path.isEmpty())
        path = XPSimpleUtils::decodeBookmark(bookmark).path;
    if (!path.startsWith(QLatin1Char('/')))
        return nullptr;
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    auto item = std::make_shared<KLItem>(KLItem::Private{});
    if (bookmark.isEmpty())
        bookmark = XPSimpleUtils::bookmarkDataForMissingPath(path);
    item->setBookmarkData(bookmark, path);
    item->setDate(archive.value(QStringLiteral("overrideDate")).toDouble());
    const QVariantMap stack = archive.value(QStringLiteral("stack")).toMap();
    for (auto it = stack.cbegin(); it != stack.cend(); ++it) {
        if (KLItemPtr sub = fromArchiveDepth(it.value().toMap(), depth + 1))
            item->addSubItem(sub);
    }
    item->updateCache(); // the first background update, at once
    return item;
}

KLItemPtr KLItem::fromArchive(const QVariantMap &archive)
{
    return fromArchiveDepth(archive, 0);
}

QVariantMap KLItem::archive() const
{
    QVariantMap out;
    {
        std::lock_guard lock(m_lock);
        // Copies rather than shares, for the same reason as in fromArchiveDepth().
        if (!m_bookmarkData.isEmpty())
            out.insert(QStringLiteral("bookmarkData"), QByteArray(m_bookmarkData.constData(), m_bookmarkData.size()));
        if (!m_lastKnownPath.isEmpty())
            out.insert(QStringLiteral("path"), QString(m_lastKnownPath.constData(), m_lastKnownPath.size()));
        if (m_overrideDate != 0)
            out.insert(QStringLiteral("overrideDate"), m_overrideDate);
    }
    const QList<KLItemPtr> subs = stack();
    if (!subs.isEmpty()) {
        QVariantMap stackMap;
        for (const KLItemPtr &sub : subs) {
            const QString key = sub->lastKnownPath();
            stackMap.insert(QString(key.constData(), key.size()), sub->archive());
        }
        out.insert(QStringLiteral("stack"), stackMap);
    }
    return out;
}

void KLItem::setBookmarkData(const QByteArray &bookmark, const QString &path)
{
    bool pathChanged;
    {
        std::lock_guard lock(m_lock);
        pathChanged = path != m_lastKnownPath;
    }
    // The hidden test may read the folder's .hidden file: do it outside the lock, and never on
    // the main thread (items are made there while the store is read and the list is ranked).
    // There the answer comes from what is known in memory, and the item worker confirms it.
    bool invisible = false;
    bool settled = true;
    if (pathChanged)
        invisible = isMainThread() ? KLRules::isInvisibleFromMemory(path, &settled) : KLRules::isInvisible(path);
    {
        std::lock_guard lock(m_lock);
        if (pathChanged) {
            m_isInvisible = invisible;
            m_invisibleSettled = settled;
        }
        m_lastKnownPath = path;
        m_bookmarkData = bookmark;
        m_bookmarkRecord = {};
        if (!settled)
            m_lastCacheUpdate = KLTimeUtil::now(); // the update asked for below counts as this period's
    }
    if (!settled)
        updateCacheInfoOnThread();
}

QByteArray KLItem::bookmarkData() const
{
    std::lock_guard lock(m_lock);
    return m_bookmarkData;
}

QString KLItem::path()
{
    updateCache();
    return lastKnownPath();
}

QString KLItem::lastKnownPath() const
{
    std::lock_guard lock(m_lock);
    return m_lastKnownPath;
}

QString KLItem::displayName()
{
    updateCache();
    std::lock_guard lock(m_lock);
    if (!m_displayName.isEmpty())
        return m_displayName;
    if (m_lastKnownPath == QLatin1String("/"))
        return m_lastKnownPath;
    return m_lastKnownPath.section(QLatin1Char('/'), -1);
}

KLTime KLItem::modificationDate()
{
    updateCache();
    std::lock_guard lock(m_lock);
    return m_modDate;
}

std::optional<quint64> KLItem::fileSize()
{
    updateCache();
    std::lock_guard lock(m_lock);
    return m_fileSize;
}

bool KLItem::isInvisible()
{
    updateCache();
    std::lock_guard lock(m_lock);
    return m_isInvisible;
}

bool KLItem::fileExists()
{
    updateCache();
    std::lock_guard lock(m_lock);
    return m_fileExists.value_or(true);
}

KLItem::TagFacts KLItem::tagFacts()
{
    updateCache();
    std::lock_guard lock(m_lock);
    return m_tagFacts;
}

KLItem::RuleFacts KLItem::ruleFacts()
{
    // updateCache() and the read under one lock: this runs for every file of every ranking.
    const KLTime now = KLTimeUtil::now();
    bool requestUpdate = false;
    bool settled = true;
    RuleFacts facts;
    {
        std::lock_guard lock(m_lock);
        if (now - m_lastCacheUpdate > kCacheInterval) {
            m_lastCacheUpdate = now;
            requestUpdate = true;
        }
        facts = {m_lastKnownPath, m_isInvisible, m_fileExists.value_or(true), m_isFolder};
        settled = m_invisibleSettled;
    }
    // Not yet confirmed by the worker: what is known in memory by now (the collector's scans
    // read the .hidden files of busy folders on their own thread), never the disk.
    if (!settled)
        facts.invisible = KLRules::isInvisibleFromMemory(facts.path);
    if (requestUpdate)
        updateCacheInfoOnThread();
    return facts;
}

bool KLItem::factsKnown() const
{
    std::lock_guard lock(m_lock);
    return m_fileExists.has_value();
}

KLTime KLItem::timeOfFile() const
{
    std::lock_guard lock(m_lock);
    return m_overrideDate != 0 ? m_overrideDate : m_timeOfFile;
}

double KLItem::age() const
{
    return KLTimeUtil::now() - timeOfFile();
}

void KLItem::setDate(KLTime date)
{
    std::lock_guard lock(m_lock);
    m_overrideDate = date;
}

KLTime KLItem::overrideDate() const
{
    std::lock_guard lock(m_lock);
    return m_overrideDate;
}

void KLItem::addSubItem(const KLItemPtr &item)
{
    if (!item || item.get() == this)
        return;
    if (KLItemServicesPtr mine = services(); mine && !item->services())
        item->setServices(mine);
    const QString key = item->lastKnownPath();
    std::lock_guard lock(m_stackLock);
    if (!m_stack)
        m_stack = std::make_unique<QMap<QString, KLItemPtr>>();
    m_stack->insert(key, item);
}

bool KLItem::followMove(const QString &oldPath, const QString &newPath)
{
    if (oldPath.isEmpty() || newPath.isEmpty() || oldPath == newPath)
        return false;
    bool changed = false;
    const QString mine = lastKnownPath();
    QString moved;
    if (mine == oldPath)
        moved = newPath;
    else if (mine.startsWith(oldPath) && mine.size() > oldPath.size() && mine.at(oldPath.size()) == QLatin1Char('/'))
        moved = newPath + mine.mid(oldPath.size()); // inside a folder that moved
    if (!moved.isEmpty()) {
        QByteArray bookmark = XPSimpleUtils::bookmarkDataForPath(moved);
        if (bookmark.isEmpty())
            bookmark = XPSimpleUtils::bookmarkDataForMissingPath(moved);
        setBookmarkData(bookmark, moved);
        {
            // The facts (name aside) are the same file's; a missing mark from a look at the old
            // place no longer holds. The next access refreshes everything at the new path.
            std::lock_guard lock(m_lock);
            if (m_fileExists == false)
                m_fileExists.reset();
            m_displayName = moved.section(QLatin1Char('/'), -1);
            m_lastCacheUpdate = 0;
        }
        changed = true;
    }
    QList<KLItemPtr> subItems;
    {
        std::lock_guard lock(m_stackLock);
        if (m_stack)
            subItems = m_stack->values();
    }
    bool subChanged = false;
    for (const KLItemPtr &sub : std::as_const(subItems))
        subChanged = sub->followMove(oldPath, newPath) || subChanged;
    if (subChanged) {
        std::lock_guard lock(m_stackLock);
        auto rekeyed = std::make_unique<QMap<QString, KLItemPtr>>();
        for (const KLItemPtr &sub : std::as_const(subItems))
            rekeyed->insert(sub->lastKnownPath(), sub);
        m_stack = std::move(rekeyed);
    }
    return changed || subChanged;
}

void KLItem::addSubItems(const QList<KLItemPtr> &items)
{
    for (const KLItemPtr &item : items)
        addSubItem(item);
}

bool KLItem::isStack() const
{
    std::lock_guard lock(m_stackLock);
    return m_stack && !m_stack->isEmpty();
}

int KLItem::stackCount() const
{
    std::lock_guard lock(m_stackLock);
    return m_stack ? int(m_stack->size()) : 0;
}

QList<KLItemPtr> KLItem::stack() const
{
    std::lock_guard lock(m_stackLock);
    return m_stack ? m_stack->values() : QList<KLItemPtr>();
}

void KLItem::setUsePartialPathForTitle(bool value)
{
    std::lock_guard lock(m_lock);
    m_usePartialPathForTitle = value;
}

bool KLItem::usePartialPathForTitle() const
{
    std::lock_guard lock(m_lock);
    return m_usePartialPathForTitle;
}

QString KLItem::imageTitle()
{
    const QString name = displayName();
    if (!usePartialPathForTitle())
        return name;
    QString parent = parentPath(lastKnownPath()).section(QLatin1Char('/'), -1);
    if (parent.size() > 13)
        parent = parent.left(11) + QChar(0x2026);
    return parent + QLatin1Char('/') + name;
}

QString KLItem::imageSubtitle()
{
    if (isStack())
        return KLLocalized(QStringLiteral("KLStackSubtitleTemplate"), {QString::number(stackCount())});
    const KLTime d = modificationDate();
    if (!factsKnown())
        return QString(); // not looked at yet: no date rather than 1 January 2001
    // The cached zone, not Qt::LocalTime: this runs for every cell that paints.
    const QDateTime local = KLTimeUtil::toDateTime(d).toTimeZone(PimsAdditions::localTimeZone());
    const QLocale locale;
    if (PimsAdditions::dateIsToday(d))
        return KLLocalized(QStringLiteral("KLTodayDate"), {locale.toString(local.time(), QLocale::ShortFormat)});
    if (PimsAdditions::dateIsYesterday(d))
        return KLLocalized(QStringLiteral("KLYesterdayDate"), {locale.toString(local.time(), QLocale::ShortFormat)});
    return locale.toString(local.date(), QLocale::LongFormat);
}

bool KLItem::useMissingItemImage()
{
    return !fileExists();
}

QImage KLItem::imageRepresentation()
{
    if (useMissingItemImage())
        return {}; // the missing-file picture comes with the thumbnail work
    const QImage cached = cachedImage();
    if (!cached.isNull())
        return cached;
    if (!isStack())
        reqestImage();
    return {};
}

QString KLItem::imageUID()
{
    quint64 number;
    {
        std::lock_guard lock(m_lock);
        number = m_cachedImageRep.isNull() ? 0 : m_cachedImageNumber;
    }
    return QStringLiteral("%1 %2-%3").arg(path()).arg(stackCount()).arg(number);
}

qint64 KLItem::imageVersion()
{
    const KLTime mod = modificationDate();
    qint64 version = mod > 0 ? qint64(mod) : 0;
    if (useMissingItemImage())
        version += 8787879;
    return version;
}

void KLItem::reqestImage()
{
    const KLItemServicesPtr services = this->services();
    ThumbnailQueue *queue = services ? services->thumbnails : nullptr;
    if (!queue || queue->busy())
        return; // a later draw asks again
    const QString p = lastKnownPath();
    ThumbnailRequest request;
    request.path = p;
    request.maxSize = QSizeF(kThumbnailSide, kThumbnailSide);
    request.fileToRender = p;
    request.highPriority = true;
    request.requester = this;
    std::weak_ptr<KLItem> weak = weak_from_this();
    queue->thumbnailImageCreate(
        request,
        [weak](const ThumbnailResult &result) {
            // The queue is asked for the main thread; a queue that answers elsewhere is brought
            // back to it, as the cached picture is read and drawn there.
            auto deliver = [weak, image = result.image] {
                if (KLItemPtr item = weak.lock())
                    item->imageReady(image);
            };
            QCoreApplication *app = QCoreApplication::instance();
            if (!app || isMainThread())
                deliver();
            else
                QMetaObject::invokeMethod(app, deliver, Qt::QueuedConnection);
        },
        true);
}

void KLItem::imageReady(const KPCGImageRef &result)
{
    if (!result)
        return;
    const QImage image = result->peekImage();
    if (image.isNull())
        return;
    {
        std::lock_guard lock(m_lock);
        m_cachedImageRep = image;
        m_cachedImageNumber = ++g_imageCounter;
    }
    KLProcessFlags::setNeedsRedraw();
}

QImage KLItem::cachedImage() const
{
    std::lock_guard lock(m_lock);
    return m_cachedImageRep;
}

void KLItem::setServices(const KLItemServicesPtr &services)
{
    {
        std::lock_guard lock(m_lock);
        m_services = services;
    }
    for (const KLItemPtr &sub : stack()) {
        if (!sub->services())
            sub->setServices(services);
    }
}

KLItemServicesPtr KLItem::services() const
{
    std::lock_guard lock(m_lock);
    return m_services;
}

QString KLItem::parentPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QStringList KLItem::arrayOfPaths(bool includeSelf)
{
    QStringList out;
    QString p = path();
    if (!includeSelf)
        p = parentPath(p);
    while (!p.isEmpty() && p != QLatin1String("/")) {
        out.append(p);
        p = parentPath(p);
    }
    return out;
}

QStringList KLItem::pathsForItems(const QList<KLItemPtr> &items)
{
    QStringList out;
    for (const KLItemPtr &item : items) {
        if (!item)
            continue;
        const QString p = item->path();
        if (!p.isEmpty())
            out.append(p);
    }
    return out;
}

bool KLItem::openFile()
{
    return Workspace::openFile(path());
}

bool KLItem::revealInFinder()
{
    Workspace::showItems({path()});
    return true;
}

void KLItem::getInfoInFinder()
{
    XPFileUtils::getInfoInFinderForFilePath(path());
}

bool KLItem::moveFileToTrash(QString *error)
{
    const QString p = path();
    struct stat st;
    if (p.isEmpty() || ::lstat(QFile::encodeName(p).constData(), &st) != 0) {
        if (error)
            *error = QStringLiteral("no file at %1").arg(p);
        return false;
    }
    QString why;
    if (!Workspace::moveToTrash(p, nullptr, &why)) {
        if (error)
            *error = why;
        qCWarning(lcFileOps, "could not move %s to the trash: %s", qUtf8Printable(p), qUtf8Printable(why));
        return false;
    }
    return true;
}

void KLItem::resolveBookmarkPossiblyWithUI()
{
    if (!isMainThread())
        return;
    XPSimpleUtils::resolveBookmarkDataToPath(bookmarkData(), true);
    calculateCache();
    {
        std::lock_guard lock(m_lock);
        m_lastCacheUpdate = 0;
    }
    bool exists;
    {
        std::lock_guard lock(m_lock);
        exists = m_fileExists.value_or(true);
    }
    if (!exists)
        pickNewOriginal();
    postIconMayHaveChanged(services());
}

void KLItem::pickNewOriginal()
{
    if (!isMainThread())
        return;
    const KLItemServicesPtr services = this->services();
    if (!services || !services->pickReplacement)
        return;
    const auto &picker = services->pickReplacement;
    const QString name = lastKnownPath().section(QLatin1Char('/'), -1);
    const QString chosen = picker(KLLocalized(QStringLiteral("Pick file. File name was %1."), {name}),
                                  KLLocalized(QStringLiteral("Choose")), lastKnownPath());
    if (chosen.isEmpty())
        return;
    const QByteArray bookmark = XPSimpleUtils::bookmarkDataForPath(chosen);
    {
        std::lock_guard lock(m_lock);
        m_lastCacheUpdate = 0;
    }
    setBookmarkData(bookmark.isEmpty() ? XPSimpleUtils::bookmarkDataForMissingPath(chosen) : bookmark, chosen);
    postIconMayHaveChanged(services);
}

void KLItem::updateCache()
{
    const KLTime now = KLTimeUtil::now();
    {
        std::lock_guard lock(m_lock);
        if (now - m_lastCacheUpdate <= kCacheInterval)
            return;
        m_lastCacheUpdate = now;
    }
    updateCacheInfoOnThread();
}

void KLItem::updateCacheInfoOnThread()
{
    std::weak_ptr<KLItem> weak = weak_from_this();
    if (weak.expired())
        return; // not owned by a shared_ptr (cannot happen through create/fromArchive)
    ItemWorker::instance().post([weak] {
        if (KLItemPtr item = weak.lock())
            item->calculateCache();
    });
}

void KLItem::pauseBackgroundUpdatesForTesting(bool paused)
{
    ItemWorker::instance().setPaused(paused);
}

void KLItem::waitForBackgroundUpdates()
{
    ItemWorker::instance().drain();
}

KLTime KLItem::factsCheckedAt() const
{
    std::lock_guard lock(m_lock);
    return m_factsCheckedPath == m_lastKnownPath ? m_factsCheckedAt : 0;
}

void KLItem::calculateCache(KLTime checkedAt)
{
    calculateBookmark();
    const QString p = lastKnownPath();
    struct stat st;
    const bool exists = !p.isEmpty() && ::lstat(QFile::encodeName(p).constData(), &st) == 0;
    KLTime modTime = kUnknownFileTime;
    std::optional<quint64> size;
    bool folder = false;
    if (exists) {
        modTime = KLTimeUtil::fromUnix(double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9);
        size = quint64(st.st_size);
        folder = S_ISDIR(st.st_mode);
        struct stat target;
        if (S_ISLNK(st.st_mode))
            folder = ::stat(QFile::encodeName(p).constData(), &target) == 0 && S_ISDIR(target.st_mode);
    }
    QString name = p == QLatin1String("/") ? p : p.section(QLatin1Char('/'), -1);
    // An invisibility answered from memory when the path was set is confirmed here.
    bool settle;
    {
        std::lock_guard lock(m_lock);
        settle = !m_invisibleSettled;
    }
    const bool invisible = settle && KLRules::isInvisible(p);
    // Tags and rating are read here so that cells and tool tips never read attributes.
    TagFacts tagFacts;
    if (exists) {
        tagFacts.tags = Lumitag::getUserTags(p).value_or(QStringList());
        tagFacts.rating = Lumitag::getRating(p);
    }
    std::unique_lock lock(m_lock);
    if (m_lastKnownPath != p)
        return; // moved meanwhile; the next update picks up the new path
    const bool tagsChanged = !(m_tagFacts == tagFacts);
    m_tagFacts = std::move(tagFacts);
    if (settle) {
        m_isInvisible = invisible;
        m_invisibleSettled = true;
    }
    m_displayName = name;
    m_modDate = modTime;
    m_timeOfFile = modTime;
    m_fileSize = size;
    m_fileExists = exists;
    m_isFolder = folder;
    m_lastCacheUpdate = KLTimeUtil::now();
    if (checkedAt != 0) {
        m_factsCheckedAt = checkedAt;
        m_factsCheckedPath = p;
    }
    lock.unlock();
    if (tagsChanged)
        KLProcessFlags::setNeedsRedraw();
}

void KLItem::calculateBookmark()
{
    const QString last = lastKnownPath();
    const QString resolved = fastResolveBookmark(last, bookmarkData());
    if (resolved.isEmpty()) {
        addPathToUnReachableVolumes(last);
        return;
    }
    const XPSimpleUtils::BookmarkRecord now = XPSimpleUtils::bookmarkRecordForPath(resolved);
    if (!now.isValid())
        return; // vanished between resolving and looking: keep what we have
    QByteArray stored;
    XPSimpleUtils::BookmarkRecord known;
    {
        std::lock_guard lock(m_lock);
        if (m_lastKnownPath != last)
            return; // followed a move meanwhile: that path is newer than this resolution
        stored = m_bookmarkData;
        known = m_bookmarkRecord;
    }
    // The store's items are checked at every start and for every list a script asks for:
    // most are unchanged, and their bookmark stays as it is.
    if (!known.isValid())
        known = XPSimpleUtils::decodeBookmark(stored);
    if (known == now && resolved == last) {
        std::lock_guard lock(m_lock);
        if (m_bookmarkData == stored)
            m_bookmarkRecord = now;
        return;
    }
    const QByteArray fresh = XPSimpleUtils::encodeBookmark(now);
    {
        std::lock_guard lock(m_lock);
        // Another check (the item worker, a list for a script) that set the bookmark since
        // this one read it looked at the file later: its bookmark stands.
        if (m_lastKnownPath != last || m_bookmarkData != stored)
            return;
        if (resolved == last) {
            m_bookmarkData = fresh;
            m_bookmarkRecord = now;
            return;
        }
        m_lastCacheUpdate = 0;
    }
    setBookmarkData(fresh, resolved);
    std::lock_guard lock(m_lock);
    if (m_bookmarkData == fresh)
        m_bookmarkRecord = now;
}

QString KLItem::fastResolveBookmark(const QString &path, const QByteArray &bookmark)
{
    struct stat st;
    if (!path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0)
        return path;
    if (pathIsOnUnreachableVolume(path))
        return {};
    return XPSimpleUtils::resolveBookmarkDataToPath(bookmark, false);
}

bool KLItem::pathIsOnUnreachableVolume(const QString &path)
{
    std::lock_guard lock(g_unreachableMutex);
    for (const QString &volume : std::as_const(g_unreachableVolumes)) {
        if (path == volume || path.startsWith(volume + QLatin1Char('/')))
            return true;
    }
    return false;
}

bool KLItem::addPathToUnReachableVolumes(const QString &path)
{
    // Only a removable or network volume that is not mounted any more is unreachable; a file
    // deleted from a mounted disk says nothing about the other files on it.
    const QString root = removableVolumeRoot(path);
    if (root.isEmpty())
        return false;
    if (Mounts::mountPointOfPath(root) == root)
        return false; // still mounted
    std::lock_guard lock(g_unreachableMutex);
    if (g_unreachableVolumes.contains(root))
        return true;
    if (g_unreachableVolumes.size() >= 10)
        g_unreachableVolumes.removeFirst();
    g_unreachableVolumes.append(root);
    return true;
}

void KLItem::didMount()
{
    std::lock_guard lock(g_unreachableMutex);
    g_unreachableVolumes.clear();
}

void KLItem::didUnmount()
{
    didMount();
}

bool itemListsEqual(const QList<KLItemPtr> &a, const QList<KLItemPtr> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue;
        if (!a[i] || !b[i] || !a[i]->isEqual(*b[i]))
            return false;
    }
    return true;
}
