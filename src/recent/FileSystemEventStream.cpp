#include "recent/FileSystemEventStream.h"

#include "platform/Defaults.h"
#include "platform/Mounts.h"
#include "platform/fsevents/Backend.h"
#include "platform/fsevents/DirWalk.h"
#include "platform/fsevents/EventJournal.h"
#include "util/Logging.h"
#include "util/Paths.h"
#include "util/Tilde.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace {
constexpr size_t kMaxRenames = 4096;
constexpr int kReplayChunk = 256; // replayed records are handed over in batches of this size

double nowUnix()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

QString cleanRoot(const QString &path)
{
    QString p = QDir::cleanPath(path);
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

// Drops roots that another root already covers, keeps the order sorted.
QStringList normaliseRoots(QStringList roots)
{
    for (QString &r : roots)
        r = cleanRoot(r);
    roots.removeAll(QString());
    roots.sort();
    roots.removeDuplicates();
    QStringList out;
    for (const QString &r : roots) {
        const QByteArray rb = QFile::encodeName(r);
        bool covered = false;
        for (const QString &o : roots)
            if (o != r && KLFSEvents::isWatchedPath(rb, QFile::encodeName(o))) {
                covered = true;
                break;
            }
        if (!covered)
            out.append(r);
    }
    return out;
}

QString decodePath(const QByteArray &bytes)
{
    if (!KLFSEvents::isValidUtf8(bytes)) {
        static std::atomic<bool> warned{false};
        if (!warned.exchange(true))
            qCWarning(lcFsEvents, "skipping file-system records for paths that are not UTF-8 (first: %s)",
                      bytes.toPercentEncoding("/").constData());
        return QString();
    }
    return QString::fromUtf8(bytes);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// FileSystemEvent

FileSystemEvent::FileSystemEvent(const QVariantMap &dict)
    : evId(dict.value(QStringLiteral("evId")).toULongLong()), evPath(dict.value(QStringLiteral("evPath")).toString()),
      evFlag(dict.value(QStringLiteral("evFlag")).toUInt())
{
}

QVariantMap FileSystemEvent::asDict() const
{
    return {{QStringLiteral("evFlag"), QVariant::fromValue<quint32>(evFlag)},
            {QStringLiteral("evId"), QVariant::fromValue<quint64>(evId)},
            {QStringLiteral("evPath"), evPath}};
}

QString FileSystemEvent::description() const
{
    return QStringLiteral("FS Event- evID= %1, evPath= %2, evFlag= %3").arg(evId).arg(evPath).arg(qint32(evFlag));
}

// ---------------------------------------------------------------------------------------------
// The worker: lives on the stream's thread, owns the backend, coalesces and numbers records.

namespace KLFSEvents {

class StreamWorker : public QObject, public Sink
{
public:
    explicit StreamWorker(FileSystemEventStream *stream) : m_stream(stream), m_timer(new QTimer(this))
    {
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] { deliver(); });
        m_sinceDelivery.start();
    }

    // Sink
    void changed(const QByteArray &dir, quint32 mask) override
    {
        auto it = m_pending.find(dir);
        if (it == m_pending.end()) {
            m_pending.insert(dir, mask);
            m_order.push_back(dir);
        } else {
            it.value() |= mask;
        }
        if (m_timer->isActive() || m_deliverNow)
            return;
        const qint64 latencyMs = qint64(m_stream->latency() * 1000.0);
        const qint64 since = m_sinceDelivery.elapsed();
        if (!m_deliveredOnce || since >= latencyMs)
            m_deliverNow = true; // the first record after a quiet period goes out at once
        else
            m_timer->start(int(std::min<qint64>(latencyMs - since, 24 * 3600 * 1000)));
    }

    bool stopRequested() const override { return m_stream->m_shutDown.load(); }

    void renamed(const QByteArray &from, const QByteArray &to) override
    {
        const QString f = decodePath(from), t = decodePath(to);
        if (!f.isEmpty() && !t.isEmpty())
            m_stream->noteRename(f, t);
    }

    bool startBackend(const QStringList &roots, QString *usedName)
    {
        QString pref;
        {
            std::lock_guard lock(m_stream->m_mutex);
            pref = m_stream->m_backendPreference;
        }
        if (pref.isEmpty())
            pref = Defaults::standard().stringForKey(QStringLiteral("KLEventBackend"));
        pref = pref.trimmed().toLower();
        if (pref.isEmpty())
            pref = QStringLiteral("auto");
        if (pref != QLatin1String("auto") && pref != QLatin1String("inotify") && pref != QLatin1String("fanotify")) {
            qCWarning(lcFsEvents, "unknown KLEventBackend \"%s\"; choosing automatically", qUtf8Printable(pref));
            pref = QStringLiteral("auto");
        }
        QList<QByteArray> rootBytes;
        for (const QString &r : roots)
            rootBytes.append(QFile::encodeName(r));
        QStringList order;
        if (pref == QLatin1String("inotify"))
            order = {QStringLiteral("inotify")};
        else if (pref == QLatin1String("fanotify") || fanotifyPermitted())
            order = {QStringLiteral("fanotify"), QStringLiteral("inotify")};
        else
            order = {QStringLiteral("inotify")};
        QString lastWhy;
        for (const QString &name : order) {
            QString why;
            std::unique_ptr<Backend> b = createBackend(name, this, &why);
            if (b && b->start(rootBytes, &why)) {
                m_backend = std::move(b);
                *usedName = name;
                setProblem(QString());
                return true;
            }
            lastWhy = why;
            if (name == QLatin1String("fanotify") && pref == QLatin1String("fanotify"))
                qCWarning(lcFsEvents, "the fanotify event backend cannot be used (%s); using inotify",
                          qUtf8Printable(why));
            else if (name == QLatin1String("inotify"))
                qCWarning(lcFsEvents, "the inotify event backend cannot be used (%s)", qUtf8Printable(why));
        }
        if (!m_stream->m_shutDown.load()) {
            qCWarning(lcFsEvents, "the file-system event stream watches nothing: %s", qUtf8Printable(lastWhy));
            setProblem(lastWhy.isEmpty() ? QStringLiteral("no event backend could start") : lastWhy);
        }
        return false;
    }

    void setProblem(const QString &why)
    {
        std::lock_guard lock(m_nameMutex);
        m_problem = why;
    }

    void armNotifier()
    {
        m_notifier = new QSocketNotifier(m_backend->fd(), QSocketNotifier::Read, this);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { readBackend(); });
    }

    void readBackend()
    {
        if (!m_backend)
            return;
        m_backend->readEvents();
        m_dirCount = m_backend->directoryCount();
        m_unwatchedCount = m_backend->unwatchedCount();
        if (m_deliverNow)
            deliver();
    }

    // Watching "/" follows the default roots: a volume mounted or unmounted, or a change of
    // the wantedDirectories setting, sets the watches up again (without replaying).
    void refreshRoots()
    {
        if (!m_stream->m_active.load())
            return;
        const QStringList paths = m_stream->pathsToWatch();
        if (!std::any_of(paths.begin(), paths.end(),
                         [](const QString &p) { return cleanRoot(p) == QLatin1String("/"); }))
            return;
        if (FileSystemEventStream::rootsFor(paths) == m_stream->watchedRoots())
            return;
        m_stream->startOnThreadImpl(paths, false);
    }

    void stopBackend()
    {
        delete m_notifier;
        m_notifier = nullptr;
        m_backend.reset();
    }

    // Numbers, journals and hands over everything pending (one batch).
    void deliver()
    {
        m_deliverNow = false;
        m_timer->stop();
        if (m_order.empty())
            return;
        const double now = nowUnix();
        std::vector<JournalRecord> records;
        records.reserve(m_order.size());
        for (const QByteArray &dir : m_order) {
            if (!isValidUtf8(dir)) {
                decodePath(dir); // logs once
                continue;
            }
            records.push_back({0, m_pending.value(dir), now, dir});
        }
        m_pending.clear();
        m_order.clear();
        m_stream->m_journal->append(records);
        m_sinceDelivery.restart();
        m_deliveredOnce = true;
        handOver(records, 0);
    }

    void handOver(const std::vector<JournalRecord> &records, quint32 extraFlags)
    {
        std::vector<FileSystemEvent> batch;
        batch.reserve(records.size());
        for (const JournalRecord &r : records)
            batch.emplace_back(r.id, QString::fromUtf8(r.path), r.flags | extraFlags);
        m_stream->tellDelegate(batch);
    }

    void rescan(quint32 mask)
    {
        if (m_backend) {
            m_backend->rescanAll(mask);
            if (m_deliverNow)
                deliver();
        }
    }

    int directoryCount() const { return m_backend ? m_backend->directoryCount() : 0; }

    FileSystemEventStream *m_stream;
    QTimer *m_timer;
    QSocketNotifier *m_notifier = nullptr;
    std::unique_ptr<Backend> m_backend;
    QHash<QByteArray, quint32> m_pending;
    std::vector<QByteArray> m_order; // pending folders in the order first seen
    QElapsedTimer m_sinceDelivery;
    bool m_deliveredOnce = false;
    bool m_deliverNow = false;
    bool m_firstStartDone = false;
    std::atomic<int> m_dirCount{0};
    std::atomic<int> m_unwatchedCount{0};
    QString m_backendName;
    QString m_problem; // why the last start watches nothing; empty when it watches
    mutable std::mutex m_nameMutex;
};

} // namespace KLFSEvents

using KLFSEvents::StreamWorker;

// ---------------------------------------------------------------------------------------------
// FileSystemEventStream

namespace {
std::mutex g_defaultMutex;
FileSystemEventStream *g_default = nullptr;
} // namespace

FileSystemEventStream *FileSystemEventStream::defaultFileSystemEventStream()
{
    std::lock_guard lock(g_defaultMutex);
    if (!g_default)
        g_default = new FileSystemEventStream(); // lives as long as the process
    return g_default;
}

quint64 FileSystemEventStream::getCurrentEventID()
{
    return defaultFileSystemEventStream()->currentEventID();
}

quint64 FileSystemEventStream::getPastEventID()
{
    return defaultFileSystemEventStream()->pastEventID();
}

void FileSystemEventStream::shutdownDefaultStream()
{
    FileSystemEventStream *s = nullptr;
    {
        std::lock_guard lock(g_defaultMutex);
        s = g_default;
    }
    if (s)
        s->shutdown();
}

QStringList FileSystemEventStream::defaultWatchRoots()
{
    QStringList roots;
    roots.append(PimsAdditions::realHomeDirectory());
    const QStringList wanted = Defaults::standard().stringArrayForKey(QStringLiteral("wantedDirectories"));
    for (const QString &w : wanted) {
        const QString p = PimsAdditions::stringByExpandingTildeInPathSANDBOX(w);
        if (QFileInfo(p).isAbsolute() && QFileInfo(p).isDir())
            roots.append(p);
    }
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        if (const passwd *pw = getpwuid(getuid()))
            user = QString::fromLocal8Bit(pw->pw_name);
    QStringList volumeBases = {QStringLiteral("/mnt/")};
    if (!user.isEmpty())
        volumeBases << QStringLiteral("/media/%1/").arg(user) << QStringLiteral("/run/media/%1/").arg(user);
    for (const MountEntry &m : Mounts::currentMounts())
        for (const QString &base : volumeBases)
            if (m.mountPoint.startsWith(base) && m.mountPoint.size() > base.size())
                roots.append(m.mountPoint);
    return normaliseRoots(roots);
}

QStringList FileSystemEventStream::rootsFor(const QStringList &paths)
{
    QStringList roots;
    for (const QString &p : paths) {
        if (cleanRoot(p) == QLatin1String("/"))
            roots += defaultWatchRoots();
        else
            roots.append(p);
    }
    return normaliseRoots(roots);
}

FileSystemEventStream::FileSystemEventStream(const QString &stateFolder, QObject *parent) : QObject(parent)
{
    m_pathsToExclude = {QStringLiteral("/proc/"), QStringLiteral("/sys/"), QStringLiteral("/dev/"),
                        QStringLiteral("/run/")};
    m_createdAt = nowUnix();
    m_journal =
        std::make_shared<KLFSEvents::EventJournal>(stateFolder.isEmpty() ? KLPaths::stateFolder() : stateFolder);
    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("kelso-fsevents"));
    m_worker = new StreamWorker(this);
    m_worker->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_worker, [this] { ensureJournalOpen(); }, Qt::QueuedConnection);
    // The mount table and the settings signal on the application thread; only a stream made
    // there follows them (queued to the worker).
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread()) {
        StreamWorker *w = m_worker;
        QObject::connect(&MountWatcher::instance(), &MountWatcher::changed, w, [w] { w->refreshRoots(); });
        QObject::connect(&Defaults::standard(), &Defaults::changed, w, [w](const QString &key) {
            if (key == QLatin1String("wantedDirectories"))
                w->refreshRoots();
        });
    }
}

void FileSystemEventStream::ensureJournalOpen() const
{
    std::call_once(m_journalOpened, [this] { m_journal->open(); });
}

FileSystemEventStream::~FileSystemEventStream()
{
    shutdown();
    m_delegate = nullptr;
    if (onWorkerThread()) {
        // Destroyed from its own delegate: the thread cannot be joined from inside; leave the
        // objects to the end of the thread.
        m_worker->deleteLater();
        QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        return;
    }
    m_thread->quit();
    m_thread->wait();
    delete m_worker; // its thread has ended
    delete m_thread;
}

bool FileSystemEventStream::onWorkerThread() const
{
    return QThread::currentThread() == m_thread;
}

bool FileSystemEventStream::start(const QStringList &paths)
{
    if (m_shutDown.load()) {
        qCWarning(lcFsEvents, "the file-system event stream was shut down and cannot start again");
        return false;
    }
    const quint64 serial = ++m_startSerial;
    auto run = [this, paths, serial] {
        m_requestSerial = serial;
        startOnThread(paths);
        m_startedSerial = std::max(m_startedSerial.load(), serial);
    };
    if (onWorkerThread())
        run();
    else
        QMetaObject::invokeMethod(m_worker, std::move(run),
                                  Qt::QueuedConnection); // by value: the worker may run it after start() returned
    // Setting up the watches of a large home can take longer than a second: wait until the
    // worker has set up (or refused) this request, then poll about a second as usual.
    QDeadlineTimer setup(120000);
    while (m_startedSerial.load() < serial && !setup.hasExpired() && m_thread->isRunning())
        QThread::msleep(10);
    for (int i = 0; i < 100 && !m_active.load(); ++i)
        QThread::msleep(10);
    if (!m_active.load())
        qCWarning(lcFsEvents, "It looks like Spotlight and or File System events are not working. Try restarting");
    return m_active.load();
}

void FileSystemEventStream::startOnThread(const QStringList &paths)
{
    if (!onWorkerThread()) {
        qCWarning(lcFsEvents, "only call this call on worker thread. Use the public api");
        return;
    }
    startOnThreadImpl(paths, true);
}

void FileSystemEventStream::startOnThreadImpl(const QStringList &paths, bool replay)
{
    if (m_active.load())
        stopOnThread();
    if (paths.isEmpty() || m_shutDown.load()) {
        m_startedSerial = m_requestSerial.load();
        return;
    }
    const QStringList roots = rootsFor(paths);
    {
        std::lock_guard lock(m_mutex);
        m_pathsToWatch = paths;
        m_roots = roots;
    }
    // Where a start spends its time, for the log: watching, the catch-up walk, the replay.
    QElapsedTimer clock;
    clock.start();
    qint64 watchedMs = 0, catchUpMs = 0, replayMs = 0;
    size_t caughtUp = 0, replayed = 0;
    QString used;
    if (!m_worker->startBackend(roots, &used)) {
        m_startedSerial = m_requestSerial.load();
        return;
    }
    {
        std::lock_guard lock(m_worker->m_nameMutex);
        m_worker->m_backendName = used;
    }
    m_worker->m_dirCount = m_worker->directoryCount();
    m_worker->m_unwatchedCount = m_worker->m_backend->unwatchedCount();
    m_worker->armNotifier();
    ensureJournalOpen();
    KLFSEvents::EventJournal &journal = *m_journal;
    const quint64 since = startEventID();
    // A client that holds an id the journal never reached (a first start asks from the "past"
    // id; a journal may have been lost) has the ids go on from there, before this start records
    // anything: its catch-up then comes after the client's id, and is handed over below.
    if (replay && since != kNoReplay && since > journal.currentId())
        journal.raiseTo(since);
    m_active = true;
    m_startedSerial = m_requestSerial.load();
    watchedMs = clock.restart();

    if (!m_worker->m_firstStartDone) {
        m_worker->m_firstStartDone = true;
        // Changes made while no stream ran: folders whose time is after the last entry of the
        // previous run become records now, numbered below the gap that follows. Without a
        // previous run (the first start, a journal started afresh) that is what changed since
        // this stream was made: a file saved while the watches were being set up has no record.
        const double changedAfter = journal.previousRunEnd() > 0 ? journal.previousRunEnd() : m_createdAt;
        {
            QList<QByteArray> rootBytes;
            for (const QString &r : roots)
                rootBytes.append(QFile::encodeName(r));
            const QList<QByteArray> dirs = KLFSEvents::foldersChangedSince(rootBytes, changedAfter - 1.0, nullptr,
                                                                           [this] { return m_shutDown.load(); });
            std::vector<KLFSEvents::JournalRecord> records;
            const double now = nowUnix();
            for (const QByteArray &d : dirs)
                if (KLFSEvents::isValidUtf8(d))
                    records.push_back({0, FileSystemEvent::kFlagCatchUp, now, d});
            journal.append(records);
            caughtUp = records.size();
        }
        // A new run starts more than kCatchUpIdGap ids above everything earlier, so that a
        // client treats every record of a previous run (replayed or caught up) as a past one.
        journal.skip(kCatchUpIdGap + 1);
    }

    catchUpMs = clock.restart();
    if (replay && since != kNoReplay) {
        const std::vector<KLFSEvents::JournalRecord> past = journal.recordsAfter(since);
        for (size_t i = 0; i < past.size() && !m_shutDown.load(); i += kReplayChunk) {
            const std::vector<KLFSEvents::JournalRecord> chunk(
                past.begin() + qsizetype(i), past.begin() + qsizetype(std::min(past.size(), i + kReplayChunk)));
            m_worker->handOver(chunk, FileSystemEvent::kFlagReplayed);
        }
        if (!past.empty() && !m_shutDown.load())
            tellDelegateReplayed(past.size());
        replayed = past.size();
    }
    replayMs = clock.elapsed();
    qCInfo(lcFsEvents,
           "started: %d folder(s) watched in %lld ms; catch-up: %zu folder(s) in %lld ms; replayed %zu record(s) in "
           "%lld ms",
           m_worker->m_dirCount.load(), qint64(watchedMs), caughtUp, qint64(catchUpMs), replayed, qint64(replayMs));
    // Live records that queued up meanwhile.
    m_worker->readBackend();
}

void FileSystemEventStream::performOnWorkerThread(std::function<void()> work)
{
    if (!work || m_shutDown.load())
        return;
    if (onWorkerThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(
        m_worker,
        [this, work = std::move(work)] {
            if (!m_shutDown.load())
                work();
        },
        Qt::QueuedConnection);
}

bool FileSystemEventStream::stop()
{
    if (onWorkerThread())
        stopOnThread();
    else if (m_thread->isRunning())
        QMetaObject::invokeMethod(
            m_worker, [this] { stopOnThread(); }, Qt::BlockingQueuedConnection);
    return true;
}

void FileSystemEventStream::stopOnThread()
{
    if (!onWorkerThread()) {
        qCWarning(lcFsEvents, "only call this call on worker thread. Use the public api");
        return;
    }
    if (!m_active.load())
        return;
    // Hand over what is pending rather than losing it.
    if (m_worker->m_backend)
        m_worker->m_backend->readEvents();
    m_worker->deliver();
    m_worker->stopBackend();
    {
        std::lock_guard lock(m_worker->m_nameMutex);
        m_worker->m_backendName.clear();
    }
    m_active = false;
    ensureJournalOpen();
    m_journal->writeStopMark(nowUnix());
}

bool FileSystemEventStream::flushSync()
{
    if (!m_active.load())
        return false;
    QMetaObject::invokeMethod(
        m_worker, [this] { flushStreamSync(); }, Qt::QueuedConnection);
    return true;
}

bool FileSystemEventStream::flushAsync()
{
    if (!m_active.load())
        return false;
    QMetaObject::invokeMethod(
        m_worker, [this] { flushStreamAsync(); }, Qt::QueuedConnection);
    return true;
}

void FileSystemEventStream::flushStreamSync()
{
    if (!onWorkerThread()) {
        qCWarning(lcFsEvents, "only call this call on worker thread. Use the public api");
        return;
    }
    if (m_worker->m_backend)
        m_worker->m_backend->readEvents();
    m_worker->deliver();
}

void FileSystemEventStream::flushStreamAsync()
{
    if (!onWorkerThread()) {
        qCWarning(lcFsEvents, "only call this call on worker thread. Use the public api");
        return;
    }
    QTimer::singleShot(0, m_worker, [this] { flushStreamSync(); });
}

void FileSystemEventStream::shutdown()
{
    if (m_shutDown.exchange(true))
        return;
    if (onWorkerThread()) {
        // Called from a delegate: the thread cannot join itself; stop and let its loop end.
        stopOnThread();
        m_thread->quit();
        return;
    }
    if (m_thread->isRunning()) {
        // Not a blocking call: a walk in progress sees the shut-down flag and ends early, and
        // should the worker hang in the kernel (a volume that stopped answering), the quit
        // still goes on after the wait below.
        QMetaObject::invokeMethod(
            m_worker,
            [this] {
                stopOnThread();
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
        if (!m_thread->wait(10000))
            qCWarning(lcFsEvents, "the file-system event thread did not end within 10 seconds");
    }
}

double FileSystemEventStream::latency() const
{
    std::lock_guard lock(m_mutex);
    return m_latency;
}

void FileSystemEventStream::setLatency(double seconds)
{
    std::lock_guard lock(m_mutex);
    m_latency = std::max(0.0, seconds);
}

quint64 FileSystemEventStream::startEventID() const
{
    std::lock_guard lock(m_mutex);
    return m_startEventID;
}

void FileSystemEventStream::setStartEventID(quint64 id)
{
    std::lock_guard lock(m_mutex);
    m_startEventID = id;
}

QStringList FileSystemEventStream::pathsToWatch() const
{
    std::lock_guard lock(m_mutex);
    return m_pathsToWatch;
}

QStringList FileSystemEventStream::pathsToExclude() const
{
    std::lock_guard lock(m_mutex);
    return m_pathsToExclude;
}

void FileSystemEventStream::setPathsToExclude(const QStringList &prefixes)
{
    std::lock_guard lock(m_mutex);
    m_pathsToExclude = prefixes;
}

void FileSystemEventStream::setDelegate(FileSystemEventStreamDelegate *delegate)
{
    std::lock_guard lock(m_deliveryMutex);
    m_delegate = delegate;
}

quint64 FileSystemEventStream::currentEventID() const
{
    ensureJournalOpen();
    return m_journal->currentId();
}

quint64 FileSystemEventStream::pastEventID() const
{
    const quint64 current = currentEventID();
    return current < 1000000 ? 10 : current - 1000000;
}

void FileSystemEventStream::noteRename(const QString &from, const QString &to)
{
    std::lock_guard lock(m_renameMutex);
    if (m_renames.size() >= kMaxRenames)
        m_renames.erase(m_renames.begin(), m_renames.begin() + qsizetype(kMaxRenames / 4));
    m_renames.emplace_back(from, to);
}

QString FileSystemEventStream::renamedPathFor(const QString &oldPath) const
{
    std::lock_guard lock(m_renameMutex);
    QString path = cleanRoot(oldPath);
    bool moved = false;
    // Walk forward in time: each rename that applies to the path (or an ancestor) moves it.
    // Starting from the oldest keeps chains (a → b, then b → c) in order.
    for (const auto &[from, to] : m_renames) {
        if (path == from) {
            path = to;
            moved = true;
        } else if (path.size() > from.size() && path.startsWith(from) &&
                   (path[from.size()] == QLatin1Char('/') || from == QLatin1String("/"))) {
            path = to + path.mid(from.size());
            moved = true;
        }
    }
    return moved ? path : QString();
}

QString FileSystemEventStream::backendName() const
{
    std::lock_guard lock(m_worker->m_nameMutex);
    return m_worker->m_backendName;
}

void FileSystemEventStream::setBackendPreference(const QString &backend)
{
    std::lock_guard lock(m_mutex);
    m_backendPreference = backend;
}

QStringList FileSystemEventStream::watchedRoots() const
{
    std::lock_guard lock(m_mutex);
    return m_roots;
}

int FileSystemEventStream::watchedDirectoryCount() const
{
    return m_worker->m_dirCount.load();
}

QVariantMap FileSystemEventStream::status() const
{
    QString backend, problem;
    {
        std::lock_guard lock(m_worker->m_nameMutex);
        backend = m_worker->m_backendName;
        problem = m_worker->m_problem;
    }
    const QStringList roots = watchedRoots();
    QStringList slow;
    const QSet<QByteArray> slowPoints = KLFSEvents::slowMountPoints();
    for (const QString &r : roots)
        if (slowPoints.contains(QFile::encodeName(r)))
            slow.append(r);
    const bool active = isActive();
    if (!active && problem.isEmpty())
        problem = QStringLiteral("the event stream is not running");
    return {{QStringLiteral("active"), active},
            {QStringLiteral("backend"), backend},
            {QStringLiteral("roots"), roots},
            {QStringLiteral("topOnlyRoots"), slow},
            {QStringLiteral("watchedFolders"), active ? watchedDirectoryCount() : 0},
            {QStringLiteral("unwatchedFolders"), m_worker->m_unwatchedCount.load()},
            {QStringLiteral("problem"), problem}};
}

QString FileSystemEventStream::journalPath() const
{
    return m_journal->path();
}

void FileSystemEventStream::simulateOverflowForTesting()
{
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            m_worker->rescan(KLFSEvents::kMaskOverflow);
            m_worker->m_dirCount = m_worker->directoryCount();
        },
        Qt::QueuedConnection);
}

QString FileSystemEventStream::description() const
{
    std::lock_guard lock(m_mutex);
    return QStringLiteral("FS event stream - watchedPaths = (%1), excludedPaths = (%2)")
        .arg(m_pathsToWatch.join(QStringLiteral(", ")), m_pathsToExclude.join(QStringLiteral(", ")));
}

void FileSystemEventStream::setRecordObserver(std::function<void(const FileSystemEvent &)> observer)
{
    std::lock_guard lock(m_deliveryMutex);
    m_recordObserver = std::move(observer);
}

void FileSystemEventStream::tellDelegateReplayed(size_t replayed)
{
    std::lock_guard lock(m_deliveryMutex);
    if (FileSystemEventStreamDelegate *d = m_delegate.load())
        d->fileSystemEventsReplayed(replayed, this);
}

void FileSystemEventStream::tellDelegate(const std::vector<FileSystemEvent> &batch)
{
    QStringList excludes, roots;
    {
        std::lock_guard lock(m_mutex);
        excludes = m_pathsToExclude;
        roots = m_roots;
    }
    std::lock_guard lock(m_deliveryMutex);
    for (const FileSystemEvent &ev : batch) {
        FileSystemEventStreamDelegate *d = m_delegate.load();
        if (!d && !m_recordObserver)
            return;
        if (ev.evPath.isEmpty())
            continue;
        bool excluded = false;
        for (const QString &prefix : excludes) {
            if (prefix.isEmpty() || !ev.evPath.startsWith(prefix))
                continue;
            // A watched root inside an excluded prefix (removable volumes under /run/media)
            // keeps its own records.
            const bool insideRoot = std::any_of(roots.begin(), roots.end(), [&](const QString &r) {
                return r.startsWith(prefix) &&
                       (ev.evPath == r || (ev.evPath.startsWith(r) && ev.evPath.size() > r.size() &&
                                           ev.evPath[r.size()] == QLatin1Char('/')));
            });
            if (!insideRoot) {
                excluded = true;
                break;
            }
        }
        if (excluded)
            continue;
        FileSystemEvent trimmed = ev;
        if (trimmed.evPath.size() > 1 && trimmed.evPath.endsWith(QLatin1Char('/')))
            trimmed.evPath.chop(1);
        if (m_recordObserver)
            m_recordObserver(trimmed);
        if (d)
            d->fileSystemEvent(trimmed, this);
    }
}
