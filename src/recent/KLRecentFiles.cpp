#include "recent/KLRecentFiles.h"

#include "fileops/XPFileUtils.h"
#include "fileops/XPRename.h"
#include "platform/Defaults.h"
#include "platform/Mounts.h"
#include "platform/Plist.h"
#include "platform/PlistFile.h"
#include "platform/StoreFile.h"
#include "recent/KLOpenedFilesQuery.h"
#include "recent/KLRecentListFormat.h"
#include "recent/KLSaveFileLeftovers.h"
#include "recent/XPSimpleUtils.h"
#include "util/KLProcessFlags.h"
#include "util/Logging.h"
#include "util/Paths.h"
#include "util/SkippedNames.h"
#include "util/Tilde.h"
#include "util/UniqueFd.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kVersionKey = QStringLiteral("version");
const QString kEventsKey = QStringLiteral("events");
const QString kFilesKey = QStringLiteral("files");
const QString kDateKey = QStringLiteral("date");
const QString kPathKey = QStringLiteral("path");
const qint64 kSlowAnswerMs = 1000; // an answer for a script slower than this says where the time went

QString parentPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString childPath(const QString &dir, const QString &name)
{
    return dir == QLatin1String("/") ? QLatin1Char('/') + name : dir + QLatin1Char('/') + name;
}

QString standardFolder(QStandardPaths::StandardLocation location, const QString &fallback)
{
    QString folder = QStandardPaths::writableLocation(location);
    const QString home = PimsAdditions::realHomeDirectory();
    // Qt answers the home folder itself when the XDG user folder is not configured.
    if (folder.isEmpty() || folder == home)
        folder = home + QLatin1Char('/') + fallback;
    return folder;
}

bool fsyncFolder(const QString &folder)
{
    const UniqueFd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

// Sort key of the ranked list: newer first; for equal times the greater title first.
struct RankKey {
    KLItemPtr item;
    KLTime time;
    QString title;
};

QList<KLItemPtr> sortByTimeThenTitle(const QList<KLItemPtr> &items, int cap)
{
    QList<RankKey> keys;
    keys.reserve(items.size());
    for (const KLItemPtr &item : items)
        keys.append({item, item->timeOfFile(), item->imageTitle()});
    std::stable_sort(keys.begin(), keys.end(), [](const RankKey &a, const RankKey &b) {
        if (a.time != b.time)
            return a.time > b.time;
        return a.title > b.title;
    });
    QList<KLItemPtr> out;
    const qsizetype n = cap < 0 ? keys.size() : std::min<qsizetype>(cap, keys.size());
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        out.append(keys[i].item);
    return out;
}

// A recorded item whose file facts were never loaded would rank and show at the epoch (time
// 0): such an item is answered as a copy dated when its event was recorded.
KLItemPtr datedByEventWhileUnknown(const KLItemPtr &file, const KLRecentEvent &event)
{
    if (file->factsKnown() || file->overrideDate() != 0)
        return file;
    KLItemPtr copy = file->copyItem();
    copy->setDate(event.date);
    return copy;
}

} // namespace

KLRecentFiles::KLRecentFiles(QObject *parent) : KLRecentFiles(Options(), parent) {}

KLRecentFiles::KLRecentFiles(const Options &options, QObject *parent)
    : QObject(parent), m_options(options), m_defaults(options.defaults ? *options.defaults : Defaults::standard()),
      m_storePath(options.storePath.isEmpty() ? pastEventsPath() : options.storePath), m_rules(m_defaults)
{
    m_createdAt = now();
    if (m_options.stream)
        m_stream = m_options.stream;
    else if (m_options.useDefaultStream)
        m_stream = FileSystemEventStream::defaultFileSystemEventStream();

    // 1-2. The store, the last handled record and the listing cache: without a stream here,
    // with one on its worker thread (see startUp()).
    if (!m_stream)
        startUp();

    // 3. The rules, and their settings observed.
    loadPrefs();
    connect(&m_defaults, &Defaults::changed, this, [this](const QString &key) {
        if (KLRules::observedKeys().contains(key))
            loadPrefs();
    });

    // 4-6. Scan dates start empty, the stopwatch runs, the storm guard starts at 20 s.
    _timer.reset();
    _averageSecondsBetweenEvents = 20.0;

    // Kelso's own moves (Move To, filing, renaming) are known at once: the items follow.
    connect(XPFileMoveNotifier::instance(), &XPFileMoveNotifier::itemMoved, this, &KLRecentFiles::itemMovedByKelso);

    if (m_stream) {
        XPSimpleUtils::setRenameLookup([stream = m_stream](const QString &old) { return stream->renamedPathFor(old); });
        m_installedRenameLookup = true;
        m_stream->setDelegate(this);
        m_stream->setLatency(1.5);
        // 1, 2 and 7 (start on the one root "/") on the stream's thread: in a big home setting
        // up the watches alone takes seconds, and the store may sit on a slow disk.
        m_stream->performOnWorkerThread([this, guard = m_startUpGuard] {
            std::lock_guard lock(guard->mutex);
            if (guard->alive)
                startUp();
        });
        waitForStoreLoaded(kStoreWaitMs);
    }

    // 8. Opened files.
    if (m_options.startOpenedFilesQuery)
        startListeningForOpenedFiles();
}

KLRecentFiles::~KLRecentFiles()
{
    {
        // A start-up job still queued never runs; one that runs is waited for.
        std::lock_guard lock(m_startUpGuard->mutex);
        m_startUpGuard->alive = false;
    }
    disconnect(&m_defaults, nullptr, this, nullptr);
    if (m_stream) {
        // Waits for a delivery in progress; no record reaches this object afterwards.
        m_stream->setDelegate(nullptr);
        if (!m_options.stream && m_options.useDefaultStream)
            FileSystemEventStream::shutdownDefaultStream();
    }
    if (m_installedRenameLookup)
        XPSimpleUtils::setRenameLookup({});
    if (m_mdQuery) {
        m_mdQuery->stop();
        m_mdQuery.reset();
    }
}

void KLRecentFiles::startUp()
{
    // 1. The store and the last handled record. Events recorded before it was read (opened
    // files noticed meanwhile) are newer than anything stored and are kept.
    QElapsedTimer clock;
    clock.start();
    QList<KLRecentEvent> loaded = loadStore();
    {
        std::lock_guard lock(m_pastEventsLock);
        QList<KLRecentEvent> meanwhile = std::move(_pastEvents);
        _pastEvents = std::move(loaded);
        for (qsizetype i = meanwhile.size() - 1; i >= 0; --i) {
            filterOutOldEventWithSameFiles(meanwhile[i]);
            _pastEvents.prepend(meanwhile[i]);
        }
        sortEvents();
        while (_pastEvents.size() > kMaxEvents + 1)
            _pastEvents.removeLast();
    }
    readLastEventID();
    // The stored items look at their files now (on this thread, before any list is made), so
    // that files and folders deleted meanwhile are left out and none is dated at the epoch.
    loadFactsOfRecordedItems();
    {
        std::lock_guard lock(m_loadedMutex);
        m_storeLoaded = true;
    }
    m_loadedCondition.notify_all();
    const qint64 loadedMs = clock.restart();

    // 2. Prime the listing cache for the folders where files arrive with old dates.
    if (m_options.primeListingCache)
        primeListingCache();
    qCInfo(lcRecent, "store read and its files looked at in %lld ms; listings primed in %lld ms", loadedMs,
           qint64(clock.elapsed()));

    // 7. With a stream: replay from the last handled record, start on the one root "/".
    if (m_stream) {
        m_stream->setStartEventID(_lastEventID.load());
        if (m_options.startStream)
            m_stream->start({QStringLiteral("/")});
    }
}

void KLRecentFiles::loadFactsOfRecordedItems()
{
    QList<KLItemPtr> items;
    {
        std::lock_guard lock(m_pastEventsLock);
        for (const KLRecentEvent &e : std::as_const(_pastEvents))
            items.append(e.files);
    }
    // Many stored files are gone or moved: each folder is listed once to look them up.
    XPSimpleUtils::InodeLookupBatch batch;
    const KLTime checkedAt = now();
    for (const KLItemPtr &item : std::as_const(items))
        item->calculateCache(checkedAt);
}

void KLRecentFiles::refreshFactsOfRecordedItems()
{
    QList<KLItemPtr> items;
    {
        std::lock_guard lock(m_pastEventsLock);
        for (const KLRecentEvent &e : std::as_const(_pastEvents))
            items.append(e.files);
    }
    const KLChangedFolders::Coverage coverage = eventCoverage();
    const KLTime checkedAt = now();
    m_changedFolders.forgetOld(checkedAt);
    XPSimpleUtils::InodeLookupBatch batch;
    for (const KLItemPtr &item : std::as_const(items)) {
        if (m_changedFolders.mayHaveChanged(item->lastKnownPath(), item->factsCheckedAt(), checkedAt, coverage))
            item->calculateCache(checkedAt);
    }
}

KLChangedFolders::Coverage KLRecentFiles::eventCoverage() const
{
    if (!m_stream)
        return {};
    QStringList mountPoints;
    for (const MountEntry &m : Mounts::currentMounts())
        mountPoints.append(m.mountPoint);
    return KLChangedFolders::coverageOf(m_stream->status(), m_stream->pathsToExclude(), mountPoints);
}

void KLRecentFiles::primeListingCache()
{
    const QString home = PimsAdditions::realHomeDirectory();
    const QStringList folders = {standardFolder(QStandardPaths::DownloadLocation, QStringLiteral("Downloads")),
                                 standardFolder(QStandardPaths::DocumentsLocation, QStringLiteral("Documents")),
                                 standardFolder(QStandardPaths::DesktopLocation, QStringLiteral("Desktop")),
                                 home + QStringLiteral("/Library/Mail Downloads")};
    {
        std::lock_guard lock(m_cachedFileSetsLock);
        for (const QString &folder : folders)
            m_primedFolders.insert(folder);
    }
    for (const QString &folder : folders)
        fileNamesAtPath(folder);
}

bool KLRecentFiles::waitForStoreLoaded(int ms)
{
    std::unique_lock lock(m_loadedMutex);
    return m_loadedCondition.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_storeLoaded.load(); });
}

void KLRecentFiles::shutdown()
{
    FileSystemEventStream::shutdownDefaultStream();
}

QString KLRecentFiles::pastEventsPath()
{
    static std::once_flag once;
    const QString folder = KLPaths::applicationSupportFolder();
    std::call_once(once, [&] {
        StoreFile::preparePrivateFolder(folder);
        StoreFile::tightenMode(folder + QStringLiteral("/recentItems.plist"));
    });
    return folder + QStringLiteral("/recentItems.plist");
}

KLTime KLRecentFiles::now() const
{
    return m_options.clock ? m_options.clock() : KLTimeUtil::now();
}

double KLRecentFiles::secondsSinceCreation() const
{
    return m_options.clock ? m_options.clock() - m_createdAt : _timer.elapsedSeconds();
}

quint64 KLRecentFiles::currentEventID() const
{
    if (m_options.currentEventID)
        return m_options.currentEventID();
    return m_stream ? m_stream->currentEventID() : 0;
}

quint64 KLRecentFiles::pastEventID() const
{
    const quint64 current = currentEventID();
    return current < 1000000 ? 10 : current - 1000000;
}

// ---- the store --------------------------------------------------------------------------

QVariantMap KLRecentFiles::archiveEvent(const KLRecentEvent &event)
{
    QVariantList files;
    for (const KLItemPtr &item : event.files)
        files.append(item->archive());
    // A copy of the path, not a share (see KLItem::archive()).
    return QVariantMap{{kFilesKey, files},
                       {kDateKey, KLTimeUtil::toDateTime(event.date)},
                       {kPathKey, QString(event.path.constData(), event.path.size())}};
}

std::optional<KLRecentEvent> KLRecentFiles::eventFromArchive(const QVariant &v)
{
    if (v.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap m = v.toMap();
    KLRecentEvent event;
    const QString path = m.value(kPathKey).toString();
    event.path = QString(path.constData(), path.size());
    if (!event.path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QVariant date = m.value(kDateKey);
    if (date.typeId() == QMetaType::QDateTime)
        event.date = KLTimeUtil::fromDateTime(date.toDateTime());
    else if (date.canConvert<double>())
        event.date = date.toDouble();
    for (const QVariant &f : m.value(kFilesKey).toList()) {
        if (KLItemPtr item = KLItem::fromArchive(f.toMap()))
            event.files.append(item);
    }
    if (event.files.isEmpty())
        return std::nullopt;
    return event;
}

QList<KLRecentEvent> KLRecentFiles::loadStore()
{
    QList<KLRecentEvent> events;
    {
        // A write cut short by a kill may have left QSaveFile's temporary file; no write of
        // ours runs meanwhile.
        std::lock_guard writeLock(m_writeLock);
        KLSaveFileLeftovers::removeLeftovers(m_storePath);
    }
    // Only a regular file within the reader's limits is read; a FIFO, a socket or a device in
    // its place, an empty file (a write cut short), one past the limits or of the wrong shape
    // is moved aside like any damaged store, so the next write cannot silently replace it.
    const PlistFile::Parsed parsed = PlistFile::read(m_storePath);
    if (parsed.status == PlistFile::Status::Missing)
        return events;
    if (parsed.status == PlistFile::Status::Unreadable) {
        qCWarning(lcRecent, "cannot read the recent-items store %s: %s", qUtf8Printable(m_storePath),
                  qUtf8Printable(parsed.why));
        return events;
    }
    const QVariant &root = parsed.value;
    QString problem = parsed.why;
    QVariantList list;
    if (root.typeId() == QMetaType::QVariantMap) {
        const QVariantMap m = root.toMap();
        const QVariant e = m.value(kEventsKey);
        if (!m.contains(kVersionKey) || e.typeId() != QMetaType::QVariantList)
            problem = QStringLiteral("a dictionary without a list of events");
        list = e.toList();
    } else if (root.typeId() == QMetaType::QVariantList) {
        list = root.toList(); // a bare array of events
    } else if (problem.isEmpty()) {
        problem = QStringLiteral("neither a dictionary nor a list");
    }
    for (const QVariant &v : std::as_const(list)) {
        if (std::optional<KLRecentEvent> e = eventFromArchive(v))
            events.append(*e);
    }
    if (problem.isEmpty() && events.isEmpty() && !list.isEmpty())
        problem = QStringLiteral("none of its %1 entries is an event").arg(list.size());
    if (!problem.isEmpty() && StoreFile::folderIsLink(m_storePath))
        return {}; // not ours to rename: the folder leads somewhere else
    if (!problem.isEmpty()) {
        QString moveError;
        const QString aside = PlistFile::moveAside(m_storePath, &moveError);
        qCWarning(lcRecent, "the recent-items store %s cannot be read (%s); %s, starting with an empty list",
                  qUtf8Printable(m_storePath), qUtf8Printable(problem),
                  qUtf8Printable(aside.isEmpty() ? QStringLiteral("could not move it aside: ") + moveError
                                                 : QStringLiteral("moved aside as ") + aside));
        return {};
    }
    return events;
}

void KLRecentFiles::readState()
{
    QList<KLRecentEvent> loaded = loadStore();
    {
        std::lock_guard lock(m_pastEventsLock);
        _pastEvents = std::move(loaded);
        sortEvents();
    }
    readLastEventID();
    loadFactsOfRecordedItems();
    {
        std::lock_guard lock(m_loadedMutex);
        m_storeLoaded = true;
    }
    m_loadedCondition.notify_all();
}

void KLRecentFiles::readLastEventID()
{
    const quint64 last = m_defaults.unsignedForKey(QStringLiteral("lastHandledFSEvent"));
    if (last == ~quint64(0) || last == 0) {
        _lastEventID = pastEventID();
        _lastEventTrackedTime = now() - kOneDay;
    } else {
        _lastEventID = last;
        // Kept as it is until a record is accepted: a run without one must not save 0, which
        // would make the next replay scan back to 2001.
        _lastEventTrackedTime = m_defaults.doubleForKey(QStringLiteral("lastHandledFSEventDate"));
    }
}

bool KLRecentFiles::writeState()
{
    if (!m_storeLoaded.load()) {
        // Writing now would replace the stored list by what was recorded since the start.
        qCWarning(lcRecent, "the recent-items store %s is not read yet; not writing it", qUtf8Printable(m_storePath));
        return false;
    }
    std::lock_guard writeLock(m_writeLock);
    QVariantList events;
    {
        std::lock_guard lock(m_pastEventsLock);
        m_defaults.setUnsigned(QStringLiteral("lastHandledFSEvent"), _lastEventID.load());
        if (_lastEventTrackedTime.load() > 0)
            m_defaults.setDouble(QStringLiteral("lastHandledFSEventDate"), _lastEventTrackedTime.load());
        for (const KLRecentEvent &e : std::as_const(_pastEvents))
            events.append(archiveEvent(e));
    }
    m_defaults.synchronize();

    QString error;
    const QByteArray data = Plist::toBinary(QVariantMap{{kVersionKey, kStoreVersion}, {kEventsKey, events}}, &error);
    if (data.isEmpty()) {
        qCWarning(lcRecent, "cannot encode the recent-items store: %s", qUtf8Printable(error));
        return false;
    }
    QDir().mkpath(QFileInfo(m_storePath).absolutePath());
    QSaveFile f(m_storePath);
    QString why;
    // Data on disk before the rename: a crash leaves either the old or the new store.
    if (!StoreFile::write(f, data, true, &why)) {
        qCWarning(lcRecent, "cannot write the recent-items store %s: %s", qUtf8Printable(m_storePath),
                  qUtf8Printable(why));
        return false;
    }
    fsyncFolder(QFileInfo(m_storePath).absolutePath());
    return true;
}

void KLRecentFiles::writeStateInBackground()
{
    if (!m_stream) {
        writeState();
        return;
    }
    m_stream->performOnWorkerThread([this, guard = m_startUpGuard] {
        std::lock_guard lock(guard->mutex);
        if (guard->alive)
            writeState();
    });
}

void KLRecentFiles::sortEvents()
{
    std::lock_guard lock(m_pastEventsLock);
    std::stable_sort(_pastEvents.begin(), _pastEvents.end(),
                     [](const KLRecentEvent &a, const KLRecentEvent &b) { return a.date > b.date; });
}

// ---- ranking ------------------------------------------------------------------------------

QList<KLItemPtr> KLRecentFiles::recentFiles(const QSet<QString> &excludedPaths)
{
    QHash<QString, KLItemPtr> collected;
    QSet<const KLItem *> fresh; // made by this call: safe to give sub-items and dates
    // Event items are shared with the list; before one receives sub-items it is replaced by
    // a copy, so ranking never changes what the list (and the store) holds.
    auto ownCopy = [&](const QString &key) -> KLItemPtr {
        KLItemPtr item = collected.value(key);
        if (item && !fresh.contains(item.get())) {
            item = item->copyItem();
            collected.insert(key, item);
            fresh.insert(item.get());
        }
        return item;
    };
    auto rankable = [&](const KLItemPtr &file, const KLRecentEvent &event) -> KLItemPtr {
        KLItemPtr item = datedByEventWhileUnknown(file, event);
        if (item != file)
            fresh.insert(item.get());
        return item;
    };
    {
        std::lock_guard lock(m_pastEventsLock);
        // Rules lock inside the list lock, once: then every test runs on the snapshot.
        const KLRules::Snapshot rules = m_rules.snapshot();
        const int threshold = _pastEvents.size() < 3 ? kBusyThresholdFewEvents : kBusyThreshold;
        for (const KLRecentEvent &event : std::as_const(_pastEvents)) {
            if (event.files.size() > threshold) {
                if (KLRules::folderIncluded(event.path, rules)) {
                    // The folder is taken with its first file that is still there: a folder
                    // deleted with its files is forgotten as its files are.
                    KLItemPtr folder;
                    for (const KLItemPtr &file : event.files) {
                        if (!KLRules::itemIncluded(file, rules))
                            continue;
                        if (!folder) {
                            folder = ownCopy(event.path);
                            if (!folder) {
                                // Its bookmark is made by its first background update.
                                folder = KLItem::create(event.path, false);
                                collected.insert(event.path, folder);
                                fresh.insert(folder.get());
                            }
                        }
                        folder->addSubItem(rankable(file, event));
                    }
                }
            } else {
                for (const KLItemPtr &recorded : event.files) {
                    if (!KLRules::itemIncluded(recorded, rules))
                        continue;
                    const KLItemPtr file = rankable(recorded, event);
                    const QString path = file->lastKnownPath();
                    const QString parent = parentPath(path);
                    const QString grandparent = parentPath(parent);
                    const QString greatGrandparent = parentPath(grandparent);
                    QString holder;
                    for (const QString &candidate : {parent, grandparent, greatGrandparent}) {
                        if (candidate != path && collected.contains(candidate)) {
                            holder = candidate;
                            break;
                        }
                    }
                    if (!holder.isEmpty()) {
                        ownCopy(holder)->addSubItem(file);
                        continue;
                    }
                    // A folder already taken as the stack of its files stays that stack (its
                    // date is only worked out below); a plain item never replaces it.
                    const KLItemPtr existing = collected.value(path);
                    if (existing && (existing->isStack() || existing->timeOfFile() > file->timeOfFile()))
                        continue;
                    if (!excludedPaths.contains(path))
                        collected.insert(path, file);
                }
            }
            if (collected.size() > kRankedStopAfter)
                break;
        }
    }

    // A collected item inside another collected folder also joins that folder's stack.
    const QStringList keys = collected.keys();
    for (const QString &key : keys) {
        const QString parent = parentPath(key);
        if (parent != key && collected.contains(parent))
            ownCopy(parent)->addSubItem(collected.value(key));
    }
    QList<KLItemPtr> items = collected.values();
    for (KLItemPtr &item : items) {
        if (item->isStack())
            item->setDate(moddateForMultipleFiles(item->stack()));
    }
    handOut(items);
    return sortByTimeThenTitle(items, kRankedMax);
}

QList<KLItemPtr> KLRecentFiles::recentFilesInDirectory(const QString &directory)
{
    QList<KLItemPtr> result;
    QSet<QString> seen;
    {
        std::lock_guard lock(m_pastEventsLock);
        const KLRules::Snapshot rules = m_rules.snapshot();
        for (const KLRecentEvent &event : std::as_const(_pastEvents)) {
            if (event.path != directory)
                continue;
            for (const KLItemPtr &file : event.files) {
                if (result.size() > 149)
                    break;
                if (!KLRules::itemIncluded(file, rules))
                    continue;
                const QString path = file->lastKnownPath();
                if (seen.contains(path))
                    continue;
                seen.insert(path);
                result.append(datedByEventWhileUnknown(file, event));
            }
        }
    }
    handOut(result);
    return sortByTimeThenTitle(result, -1);
}

void KLRecentFiles::handOut(const QList<KLItemPtr> &items) const
{
    if (!m_options.itemServices)
        return;
    for (const KLItemPtr &item : items) {
        if (!item->services())
            item->setServices(m_options.itemServices);
    }
}

KLTime KLRecentFiles::moddateForMultipleFiles(const QList<KLItemPtr> &items)
{
    if (items.isEmpty())
        return -100000000.0;
    const qsizetype n = std::min<qsizetype>(kStackMeanItems, items.size());
    double sum = 0;
    for (qsizetype i = 0; i < n; ++i)
        sum += items[i]->timeOfFile();
    return sum / double(n);
}

void KLRecentFiles::removeItem(const KLItemPtr &item)
{
    if (!item)
        return;
    const QString path = item->lastKnownPath();
    std::lock_guard lock(m_pastEventsLock);
    _pastEvents.removeIf([&](const KLRecentEvent &e) { return e.path == path; });
    for (qsizetype i = _pastEvents.size() - 1; i >= 0; --i) {
        KLRecentEvent &e = _pastEvents[i];
        const qsizetype before = e.files.size();
        QList<KLItemPtr> kept;
        kept.reserve(before);
        for (const KLItemPtr &f : std::as_const(e.files)) {
            if (f->lastKnownPath() != path)
                kept.append(f);
        }
        if (kept.size() == before)
            continue;
        if (kept.isEmpty())
            _pastEvents.removeAt(i);
        else
            e.files = kept;
    }
}

void KLRecentFiles::itemMovedByKelso(const QString &oldPath, const QString &newPath)
{
    std::lock_guard lock(m_pastEventsLock);
    for (KLRecentEvent &event : _pastEvents) {
        for (const KLItemPtr &file : std::as_const(event.files))
            file->followMove(oldPath, newPath);
        if (event.path == oldPath || event.path.startsWith(oldPath + QLatin1Char('/')))
            event.path = newPath + event.path.mid(oldPath.size());
    }
}

void KLRecentFiles::removeItems(const QList<KLItemPtr> &items)
{
    for (const KLItemPtr &item : items)
        removeItem(item);
}

void KLRecentFiles::restoreEvents(const QList<KLRecentEvent> &events)
{
    std::lock_guard lock(m_pastEventsLock);
    for (const KLRecentEvent &e : events) {
        if (!e.files.isEmpty())
            _pastEvents.append(e);
    }
    sortEvents();
    while (_pastEvents.size() > kMaxEvents + 1)
        _pastEvents.removeLast();
}

// ---- listing and scanning -----------------------------------------------------------------

std::optional<QSet<QString>> KLRecentFiles::cachedFileSet(const QString &directory)
{
    std::lock_guard lock(m_cachedFileSetsLock);
    auto it = _cachedFileSets.constFind(directory);
    if (it == _cachedFileSets.cend())
        return std::nullopt;
    return it.value();
}

std::optional<QStringList> KLRecentFiles::fileNamesAtPath(const QString &directory)
{
    return listDirectory(directory, nullptr);
}

std::optional<QStringList> KLRecentFiles::listDirectory(const QString &directory, ListingExtras *extras)
{
    std::lock_guard lock(m_cachedFileSetsLock);
    const QByteArray dirBytes = QFile::encodeName(directory);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(dirBytes.constData()), ::closedir);
    if (!dir)
        return std::nullopt; // keeps the old cache entry
    const auto previous = _cachedFileSets.constFind(directory);
    const bool hadPrevious = previous != _cachedFileSets.cend();
    QStringList names;
    QList<KLTime> mtimes;
    std::vector<char> known;
    qsizetype knownCount = 0;
    int skipped = 0;
    quint64 skippedFingerprint = 0;
    const int fd = ::dirfd(dir.get());
    errno = 0;
    while (struct dirent *e = ::readdir(dir.get())) {
        const char *n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        bool ascii = true;
        for (const char *c = n; *c; ++c) {
            if (uchar(*c) >= 0x80) {
                ascii = false;
                break;
            }
        }
        QString name;
        if (ascii) {
            name = QString::fromLatin1(n);
        } else {
            const QByteArray rawName(n);
            name = QFile::decodeName(rawName);
            if (QFile::encodeName(name) != rawName) {
                ++skipped;
                SkippedNames::add(&skippedFingerprint, rawName);
                continue;
            }
        }
        const bool isKnown = hadPrevious && previous->contains(name);
        knownCount += isKnown ? 1 : 0;
        if (extras) {
            known.push_back(isKnown ? 1 : 0);
            struct stat st;
            const int saved = errno;
            if (n[0] != '.' && ::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) == 0)
                mtimes.append(KLTimeUtil::fromUnix(double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9));
            else
                mtimes.append(KLItem::kUnknownFileTime);
            errno = saved; // a file that vanished meanwhile is no listing error
        }
        names.append(std::move(name));
    }
    if (errno != 0) {
        // The folder went away or failed mid-listing: a partial listing would make every
        // file that was left out look new next time, so keep the old entry.
        return std::nullopt;
    }
    if (skipped > 0 && SkippedNames::firstReport(dirBytes, skipped, skippedFingerprint)) // not on every listing
        qCWarning(lcRecent, "skipped %d file name(s) in %s that are not valid UTF-8", skipped, dirBytes.constData());
    if (names.size() == 1 && names.first() == QLatin1String(".autodiskmounted"))
        return std::nullopt;
    if (!hadPrevious || knownCount != names.size() || previous->size() != names.size()) {
        if (!hadPrevious && _cachedFileSets.size() >= kMaxCachedFolders) {
            // Trim to half, keeping the folders where old files arrive (Downloads, ...).
            for (auto it = _cachedFileSets.begin();
                 it != _cachedFileSets.end() && _cachedFileSets.size() > kMaxCachedFolders / 2;) {
                if (m_primedFolders.contains(it.key()))
                    ++it;
                else
                    it = _cachedFileSets.erase(it);
            }
        }
        _cachedFileSets.insert(directory, QSet<QString>(names.cbegin(), names.cend()));
    }
    if (extras) {
        extras->mtimes = std::move(mtimes);
        extras->known = std::move(known);
        extras->hadPrevious = hadPrevious;
    }
    return names;
}

bool KLRecentFiles::keepFileForRecents(const QString &path, const QString &fileName,
                                       const std::optional<QSet<QString>> &cached, KLTime sinceDate, bool *markAsNew)
{
    if (path.isEmpty())
        return false;
    const bool appeared = cached && !cached->contains(fileName);
    KLTime modified = KLItem::kUnknownFileTime;
    if (!appeared) {
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
            modified = KLTimeUtil::fromUnix(double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9);
    }
    return keepFile(path, modified, appeared, sinceDate, markAsNew);
}

bool KLRecentFiles::keepFile(const QString &path, KLTime modified, bool appearedSinceLastListing, KLTime sinceDate,
                             bool *markAsNew)
{
    if (path.isEmpty())
        return false;
    if (appearedSinceLastListing) {
        // New in the folder since the last listing, whatever its modification time says.
        if (KLRules::isInvisible(path))
            return false;
        if (markAsNew)
            *markAsNew = true;
        return true;
    }
    // A file that could not be examined counts as modified at 1904-01-01.
    if (!(modified > sinceDate))
        return false;
    if (!XPFileUtils::isFileOrPackage(path))
        return false;
    return !KLRules::isInvisible(path);
}

QList<KLItemPtr> KLRecentFiles::scanDirectoryForChangedFiles(const QString &directory, int maxFiles, KLTime sinceDate,
                                                             bool everythingIsNew)
{
    QList<KLItemPtr> files;
    const KLRules::Snapshot rules = m_rules.snapshot();
    if (XPFileUtils::isPackage(directory)) {
        if (!KLRules::passesExtensions(directory, rules) || KLRules::filterOutUnwantedPackages(directory).isEmpty() ||
            !KLRules::passesFragments(directory, rules))
            return files;
        if (keepFileForRecents(directory, directory.section(QLatin1Char('/'), -1), std::nullopt, sinceDate, nullptr))
            files.append(KLItem::create(directory));
        return files;
    }
    ListingExtras listing;
    const std::optional<QStringList> names = listDirectory(directory, &listing);
    if (!names)
        return files;
    const bool pathRules = rules.neverShowFolders || !rules.unwantedPathFragments.isEmpty();
    for (qsizetype i = 0; i < names->size(); ++i) {
        const QString &name = names->at(i);
        if (name.startsWith(QLatin1Char('.')))
            continue;
        if (KLRules::hasUnwantedExtension(name, rules))
            continue;
        const bool isKnown = !everythingIsNew && (!listing.hadPrevious || listing.known[size_t(i)]);
        const KLTime modified = listing.mtimes.at(i);
        if (isKnown && !(modified > sinceDate))
            continue; // the per-file decision would refuse it: not changed since the scan-back date
        const QString full = childPath(directory, name);
        if (pathRules && (!KLRules::passesExtensions(full, rules) || !KLRules::passesFragments(full, rules)))
            continue;
        bool isNew = false;
        if (!keepFile(full, modified, !isKnown, sinceDate, &isNew))
            continue;
        KLItemPtr item = KLItem::create(full);
        if (isNew)
            item->setDate(now());
        // Facts loaded here, on the record's thread, so that no list ever shows the item
        // before its file was looked at.
        item->calculateCache(now());
        files.append(item);
        if (files.size() > maxFiles)
            break;
    }
    return files;
}

KLTime KLRecentFiles::dateToScanBackTo(const FileSystemEvent &event)
{
    const KLTime t = now();
    KLTime since;
    // The journal's ids are close together: a record replayed or caught up after a short pause
    // is within the id gap and says what it is by its flags. Scanned back 45 s only, a file
    // saved while Kelso was not running (or while a slow start set up its watches) was missed.
    const bool caughtUp = event.evFlag & FileSystemEvent::kFlagCatchUp;
    if (caughtUp || (event.evFlag & FileSystemEvent::kFlagReplayed) || isPastRecordId(event.evId)) {
        const QVariant last = m_defaults.value(QStringLiteral("lastHandledFSEventDate"));
        if (last.isValid())
            since = last.toDouble() - kReplayOverlap;
        else if (caughtUp) // a first start: its catch-up covers the time since the collector was made
            since = m_createdAt - kReplayOverlap;
        else
            since = t - kOneDay;
    } else {
        since = t - kLiveScanBack;
        std::lock_guard lock(m_scanDatesLock);
        auto it = _scanDates.constFind(event.evPath);
        if (it != _scanDates.cend() && it.value() - kRescanOverlap > since)
            since = it.value() - kRescanOverlap;
    }
    std::lock_guard lock(m_scanDatesLock);
    if (_scanDates.size() >= kMaxScanDates && !_scanDates.contains(event.evPath)) {
        // Only dates inside the live window change a scan; drop the others.
        _scanDates.removeIf([&](const QHash<QString, KLTime>::iterator &it) { return it.value() < t - kLiveScanBack; });
        if (_scanDates.size() >= kMaxScanDates)
            _scanDates.clear();
    }
    _scanDates.insert(event.evPath, t);
    return since;
}

void KLRecentFiles::fileSystemEventsReplayed(size_t replayed, FileSystemEventStream *)
{
    // The store is otherwise written at every fifth resignation and at quit. A process that is
    // killed (or crashes) before either would make the next start replay these records again,
    // and every start after it more, answering later and later; written here, on the stream's
    // thread, the next start replays only what came after.
    qCInfo(lcRecent, "replayed %zu past record(s); saving the recent items", replayed);
    writeState();
}

void KLRecentFiles::fileSystemEvent(const FileSystemEvent &event, FileSystemEventStream *)
{
    const QString &dir = event.evPath;
    if (dir.isEmpty())
        return;
    // Before anything below may drop the record: the folder's files need another look.
    m_changedFolders.noteChanged(dir, now());
    // A start's catch-up may come numbered below the id the collector started from; the id
    // handled so far never goes back, or the next start would replay this run again.
    quint64 last = _lastEventID.load();
    while (event.evId > last && !_lastEventID.compare_exchange_weak(last, event.evId)) {
    }
    const QByteArray bytes = QFile::encodeName(dir);
    if (KLRules::cullPrivateAndInvisibleEtc(bytes) || ::access(bytes.constData(), R_OK) != 0)
        return;
    if (!userWantsFolderIncluded(dir))
        return;
    // Records of changes made while Kelso was not running (replayed from the journal or found
    // by the catch-up walk) and those the stream made by walking folders (a rescan, a new
    // folder) come in bursts by nature, and their changes are seen nowhere else: they are
    // never dropped as a storm, nor do they count towards one.
    const bool pastRecord =
        (event.evFlag & (FileSystemEvent::kFlagReplayed | FileSystemEvent::kFlagCatchUp)) || isPastRecordId(event.evId);
    const bool walked = event.evFlag & (FileSystemEvent::kFlagRescan | FileSystemEvent::kFlagNewFolder);
    // Storm guard: a smoothed interval between accepted records; below 0.03 s records are
    // dropped until things calm down. The first 10 s after creation only track the time.
    const KLTime t = now();
    if (!pastRecord && !walked) {
        if (secondsSinceCreation() > kStormWarmup)
            _averageSecondsBetweenEvents =
                0.95 * _averageSecondsBetweenEvents.load() + 0.05 * (t - _lastEventTrackedTime.load());
        _lastEventTrackedTime = t;
        if (_averageSecondsBetweenEvents.load() < kStormInterval)
            return;
    } else {
        _lastEventTrackedTime = t;
    }
    if (KLRules::isInvisible(dir) || XPSimpleUtils::isPathInPackage(dir))
        return;
    const KLTime since = dateToScanBackTo(event);
    // A folder that is new under the roots holds nothing the collector knew: all of it is new
    // (files unpacked or copied keep their old times). A past record's folder was new in an
    // earlier run and was handled then.
    const bool newFolder = (event.evFlag & FileSystemEvent::kFlagNewFolder) && !pastRecord;
    const QList<KLItemPtr> files = scanDirectoryForChangedFiles(dir, kMaxFilesPerScan, since, newFolder);
    if (!files.isEmpty())
        addEvent(files, dir);
}

bool KLRecentFiles::isPastRecordId(quint64 id) const
{
    const quint64 current = currentEventID();
    return current > kReplayIdGap && id < current - kReplayIdGap;
}

void KLRecentFiles::addEvent(const QList<KLItemPtr> &items, const QString &directory)
{
    KLRecentEvent event;
    event.files = items;
    event.date = now();
    event.path = directory;
    {
        std::lock_guard lock(m_pastEventsLock);
        filterOutOldEventWithSameFiles(event);
        if (_pastEvents.size() > kMaxEvents)
            _pastEvents.removeLast();
        _pastEvents.prepend(event);
    }
    Q_EMIT eventRecorded();
}

void KLRecentFiles::filterOutOldEventWithSameFiles(const KLRecentEvent &event)
{
    std::lock_guard lock(m_pastEventsLock);
    for (qsizetype i = 0; i < _pastEvents.size(); ++i) {
        const KLRecentEvent &old = _pastEvents[i];
        if (old.path == event.path && itemListsEqual(old.files, event.files)) {
            _pastEvents.removeAt(i);
            return;
        }
    }
}

// ---- opened files -------------------------------------------------------------------------

void KLRecentFiles::startListeningForOpenedFiles()
{
    m_mdQuery = KLOpenedFilesQuery::create(KLOpenedFilesQuery::kOpenedFilesQueryText, nullptr);
    if (!m_mdQuery)
        return;
    connect(m_mdQuery.get(), &KLOpenedFilesQuery::progress, this, &KLRecentFiles::progressMDQuery);
    connect(m_mdQuery.get(), &KLOpenedFilesQuery::finished, this, &KLRecentFiles::finishedMDQuery);
    connect(m_mdQuery.get(), &KLOpenedFilesQuery::updated, this, &KLRecentFiles::updatedMDQuery);
    m_mdQuery->setSearchScope(KLOpenedFilesQuery::Scope::Home);
    if (!m_mdQuery->execute())
        qCWarning(lcRecent, "MDQuery for recently opened files failed to start in Kelso.");
}

QString KLRecentFiles::mdItemToPath(const QVariant &item)
{
    return item.toMap().value(KLOpenedFilesQuery::kItemPath).toString();
}

void KLRecentFiles::updatedMDQuery(const QVariantMap &userInfo)
{
    if (KLProcessFlags::isShuttingDown() || !m_defaults.boolForKey(QStringLiteral("KLIncludeFileOpenedEvents")))
        return;
    QStringList paths;
    QSet<QString> seen;
    for (const QString &key : {KLOpenedFilesQuery::kUpdateAddedItems, KLOpenedFilesQuery::kUpdateChangedItems}) {
        for (const QVariant &item : userInfo.value(key).toList()) {
            if (seen.size() > kMaxOpenedPathsTaken)
                break;
            const QString path = mdItemToPath(item);
            if (path.isEmpty() || seen.contains(path))
                continue;
            seen.insert(path);
            paths.append(path);
        }
    }
    if (paths.isEmpty())
        return;
    // Each path is looked at on the disk (a file? hidden? in a package?), and a recently used
    // file may sit on a network share that no longer answers: that waiting happens on the
    // stream's thread, where the file-system records are handled too, never on the main thread.
    if (m_stream) {
        m_stream->performOnWorkerThread([this, paths, guard = m_startUpGuard] {
            std::lock_guard lock(guard->mutex);
            if (guard->alive)
                addPathsToEvents(paths);
        });
        return;
    }
    addPathsToEvents(paths);
}

void KLRecentFiles::addPathsToEvents(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QStringList accepted;
    for (const QString &path : paths) {
        if (path.isEmpty() || accepted.contains(path))
            continue;
        if (path.endsWith(QLatin1String(".app")))
            continue;
        if (!XPFileUtils::isFileOrPackage(path))
            continue;
        if (!userWantsFolderIncluded(parentPath(path)))
            continue;
        if (XPSimpleUtils::isPathInPackage(path))
            continue;
        if (KLRules::isInvisible(path))
            continue;
        if (m_rules.filterOutUnwantedExtensions(path).isEmpty() ||
            m_rules.filterOutUnwantedPathFragments(path).isEmpty())
            continue;
        if (m_rules.userExcludesSingleFile(path))
            continue;
        accepted.append(path);
        if (accepted.size() > kMaxOpenedPathsRecorded)
            break;
    }
    for (const QString &path : std::as_const(accepted)) {
        KLItemPtr item = KLItem::create(path);
        item->setDate(now());
        item->calculateCache();
        addEvent({item}, parentPath(path));
    }
}

// ---- rules, output, inspection ------------------------------------------------------------

void KLRecentFiles::loadPrefs()
{
    m_rules.loadPrefs();
}

QString KLRecentFiles::rankedListJSON(const QString &folder)
{
    const QList<KLItemPtr> items = folder.isEmpty() ? recentFiles({}) : recentFilesInDirectory(folder);
    return QString::fromUtf8(KLRecentListFormat::toJson(items));
}

QByteArray KLRecentFiles::rankedListJSONWithFacts(const QString &folder, const QSet<QString> &excludedPaths)
{
    refreshFactsOfRecordedItems();
    XPSimpleUtils::InodeLookupBatch batch;
    const QList<KLItemPtr> items = folder.isEmpty() ? recentFiles(excludedPaths) : recentFilesInDirectory(folder);
    for (const KLItemPtr &item : items) {
        if (!item->factsKnown())
            item->calculateCache(); // folder items made for stacks
    }
    return KLRecentListFormat::toJson(items);
}

void KLRecentFiles::answerRankedList(const QString &folder, const QSet<QString> &excludedPaths,
                                     std::function<void(const QByteArray &json)> done)
{
    if (!m_stream) {
        done(rankedListJSONWithFacts(folder, excludedPaths));
        return;
    }
    FileSystemEventStream *stream = m_stream;
    QElapsedTimer asked;
    asked.start();
    m_stream->performOnWorkerThread(
        [this, stream, folder, excludedPaths, done = std::move(done), guard = m_startUpGuard, asked] {
            std::lock_guard lock(guard->mutex);
            if (!guard->alive)
                return;
            const qint64 waited = asked.elapsed();
            stream->flushStreamSync(); // a change the kernel reported already is in the answer
            const qint64 flushed = asked.elapsed();
            done(rankedListJSONWithFacts(folder, excludedPaths));
            const qint64 total = asked.elapsed();
            if (total >= kSlowAnswerMs)
                qCInfo(lcRecent,
                       "the list took %lld ms: %lld waiting for the stream's thread, %lld for the changes it had "
                       "queued, %lld ranking",
                       total, waited, flushed - waited, total - flushed);
        });
}

QVariantMap KLRecentFiles::streamStatus() const
{
    if (!m_stream)
        return {{QStringLiteral("active"), false}, {QStringLiteral("problem"), QStringLiteral("no event stream")}};
    return m_stream->status();
}

QList<KLRecentEvent> KLRecentFiles::pastEvents() const
{
    std::lock_guard lock(m_pastEventsLock);
    return _pastEvents;
}

int KLRecentFiles::cachedFolderCount()
{
    std::lock_guard lock(m_cachedFileSetsLock);
    return int(_cachedFileSets.size());
}

int KLRecentFiles::eventCount() const
{
    std::lock_guard lock(m_pastEventsLock);
    return int(_pastEvents.size());
}

void KLRecentFiles::setPastEventsForTesting(const QList<KLRecentEvent> &events)
{
    std::lock_guard lock(m_pastEventsLock);
    _pastEvents = events;
}
