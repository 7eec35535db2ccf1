#include "platform/Defaults.h"

#include "platform/Plist.h"
#include "platform/PlistFile.h"
#include "platform/StoreFile.h"
#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
constexpr int kSyncDelayMs = 500;
constexpr int kRetryIntervalMs = 10000;
constexpr int kLockPollMs = 20;
std::atomic<QThread *> g_neverWaitThread{nullptr};
std::mutex g_domainsMutex;
std::map<QString, std::unique_ptr<Defaults>> &domains()
{
    static std::map<QString, std::unique_ptr<Defaults>> map;
    return map;
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isValid() != b.isValid())
        return false;
    return !a.isValid() || a == b;
}
} // namespace

namespace {
// The process holding a flock on the file (device, inode), as the kernel lists it in
// /proc/locks ("1: FLOCK  ADVISORY  WRITE 4242 fe:00:10954340 0 EOF"); 0 when not found.
pid_t flockHolder(dev_t dev, ino_t ino)
{
    FILE *locks = std::fopen("/proc/locks", "re");
    if (!locks)
        return 0;
    pid_t holder = 0;
    char line[256];
    while (holder == 0 && std::fgets(line, sizeof line, locks)) {
        char kind[16], mode[16], access[16];
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*[^:]: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid, &major, &minor,
                        &inode) == 7 &&
            std::strcmp(kind, "FLOCK") == 0 && inode == ino && makedev(major, minor) == dev)
            holder = pid_t(pid);
    }
    std::fclose(locks);
    return holder;
}

// True when the process is stopped (SIGSTOP, Ctrl-Z) or stopped by a debugger: it will not
// let go of anything until someone continues it.
bool processIsStopped(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE *f = std::fopen(path, "re");
    if (!f)
        return false;
    char buf[512];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // "pid (name) S ...": the name may hold spaces and parentheses, the state follows the last ')'.
    const char *close = std::strrchr(buf, ')');
    return close && close[1] == ' ' && (close[2] == 'T' || close[2] == 't');
}
} // namespace

Defaults::SettingsLock::SettingsLock(const QString &path) : m_path(QFile::encodeName(path)) {}

Defaults::SettingsLock::~SettingsLock()
{
    if (!m_fd.valid())
        return;
    // Removed while still held, as QLockFile does, so that a process that takes the lock with
    // QLockFile (an older Kelso) finds no file and need not wait for it to look stale. Only the
    // very file we hold goes; the descriptor, and with it the lock, closes after.
    struct stat held, now;
    if (::fstat(m_fd.get(), &held) == 0 && ::stat(m_path.constData(), &now) == 0 && held.st_ino == now.st_ino &&
        held.st_dev == now.st_dev)
        ::unlink(m_path.constData());
}

Defaults::SettingsLock::Outcome Defaults::SettingsLock::acquire(int waitMs, pid_t *holder, QString *why)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        UniqueFd fd(::open(m_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
        if (!fd.valid()) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return Failed;
        }
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            *why = QStringLiteral("not a regular file");
            return Failed;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            struct stat now;
            if (::stat(m_path.constData(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev) {
                // The owner record QLockFile writes, so that either kind of waiter can name us.
                const QByteArray record = QByteArray::number(qint64(::getpid())) + '\n' +
                                          QCoreApplication::applicationName().toUtf8() + '\n' +
                                          QSysInfo::machineHostName().toUtf8() + '\n';
                if (::ftruncate(fd.get(), 0) == 0 &&
                    ::pwrite(fd.get(), record.constData(), size_t(record.size()), 0) < 0)
                    *why = QString::fromLocal8Bit(std::strerror(errno)); // the lock holds all the same
                m_fd = std::move(fd);
                return Locked;
            }
            continue; // its holder removed it as it let go: take the file now at the path
        }
        // Held. A dead holder never holds a flock (the kernel releases it); a stopped one holds
        // it until it is continued, which may be never: no point in waiting for that.
        *holder = flockHolder(st.st_dev, st.st_ino);
        fd.reset();
        if (*holder > 0 && processIsStopped(*holder))
            return HolderStopped;
        if (waited.elapsed() >= waitMs)
            return Busy;
        QThread::msleep(kLockPollMs);
    }
}

QString Defaults::pathForDomain(const QString &name)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config");
    return folder + QLatin1Char('/') + name + QStringLiteral(".plist");
}

Defaults &Defaults::standard()
{
    return domain(QStringLiteral("com.tallow.kelso"));
}

Defaults &Defaults::domain(const QString &name)
{
    std::lock_guard lock(g_domainsMutex);
    auto &slot = domains()[name];
    if (!slot) {
        slot = std::make_unique<Defaults>(pathForDomain(name));
        if (QCoreApplication *app = QCoreApplication::instance())
            slot->moveToThread(app->thread());
    }
    return *slot;
}

Defaults::Defaults(const QString &filePath, QObject *parent) : QObject(parent), m_path(filePath)
{
    m_syncPool.setMaxThreadCount(1);
    m_syncPool.setObjectName(QStringLiteral("kelso-prefs"));
    StoreFile::tightenMode(m_path);
    QVariantMap file;
    bool corrupt = false;
    QString why;
    if (readFile(&file, &corrupt, &why)) {
        m_saved = file;
    }
    m_stamp = stampOfFile();
    m_loaded = true;
}

Defaults::~Defaults()
{
    m_syncPool.waitForDone();
}

void Defaults::waitForBackgroundSync()
{
    m_syncPool.waitForDone();
}

Defaults::FileStamp Defaults::stampOfFile() const
{
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return {};
    FileStamp s;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    s.size = st.st_size;
    s.inode = st.st_ino;
    return s;
}

bool Defaults::readFile(QVariantMap *out, bool *corrupt, QString *why) const
{
    *corrupt = false;
    auto *self = const_cast<Defaults *>(this);
    const PlistFile::Bytes raw = PlistFile::readBytes(m_path);
    if (raw.status == PlistFile::Status::Missing) {
        self->m_fileUnreadable = false; // nothing there: writing loses nothing
        return false;
    }
    if (raw.status == PlistFile::Status::Unreadable) {
        *why = raw.why;
        self->m_fileUnreadable = true;
        qCWarning(lcPrefs, "cannot read settings file %s: %s; using defaults", qUtf8Printable(m_path),
                  qUtf8Printable(*why));
        return false;
    }
    self->m_fileUnreadable = false;
    QString error = raw.why;
    QVariant root;
    if (raw.status == PlistFile::Status::Read)
        root = raw.bytes.isEmpty() ? QVariant(QVariantMap()) : Plist::fromData(raw.bytes, &error);
    if (root.typeId() != QMetaType::QVariantMap) {
        // Damaged, of the wrong shape, past the reader's limits, or a FIFO, socket or device in
        // the file's place: kept for the user under another name, never read again.
        *corrupt = true;
        *why = error.isEmpty() ? QStringLiteral("the top level is not a dictionary") : error;
        QString moveError;
        const QString aside = PlistFile::moveAside(m_path, &moveError);
        if (!aside.isEmpty())
            qCWarning(lcPrefs, "settings file %s cannot be read (%s); moved aside to %s, using defaults",
                      qUtf8Printable(m_path), qUtf8Printable(*why), qUtf8Printable(aside));
        else
            qCWarning(lcPrefs, "settings file %s cannot be read (%s) and cannot be moved aside (%s); using defaults",
                      qUtf8Printable(m_path), qUtf8Printable(*why), qUtf8Printable(moveError));
        return false;
    }
    *out = root.toMap();
    return true;
}

void Defaults::registerDefaults(const QVariantMap &defaults)
{
    QStringList moved;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
            if (!m_saved.contains(it.key()) && !sameValue(m_registered.value(it.key()), it.value()))
                moved.append(it.key());
            m_registered.insert(it.key(), it.value());
        }
    }
    emitChanged(moved);
}

QVariantMap Defaults::registeredDefaults() const
{
    std::lock_guard lock(m_mutex);
    return m_registered;
}

QVariant Defaults::value(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_saved.constFind(key);
    if (it != m_saved.cend())
        return it.value();
    return m_registered.value(key);
}

bool Defaults::hasSavedValue(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return m_saved.contains(key);
}

bool Defaults::boolForKey(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString() == QLatin1String("YES") || v.toString().toInt() != 0 ||
               v.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    return v.toBool();
}

qint64 Defaults::integerForKey(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Double)
        return qint64(v.toDouble());
    return v.toLongLong();
}

quint64 Defaults::unsignedForKey(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int)
        return static_cast<quint64>(v.toLongLong());
    if (v.typeId() == QMetaType::Double)
        return quint64(v.toDouble());
    return v.toULongLong();
}

double Defaults::doubleForKey(const QString &key) const
{
    return value(key).toDouble();
}

QString Defaults::stringForKey(const QString &key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        return v.toString();
    default:
        return {};
    }
}

QStringList Defaults::stringArrayForKey(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList)
        return {};
    QStringList out;
    for (const QVariant &item : v.toList()) {
        if (item.typeId() != QMetaType::QString)
            return {}; // an array that holds anything but strings is not a string array
        out.append(item.toString());
    }
    return out;
}

QVariantList Defaults::arrayForKey(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList)
        return {};
    return v.toList();
}

QVariantMap Defaults::dictionaryForKey(const QString &key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QByteArray Defaults::dataForKey(const QString &key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

void Defaults::setValue(const QString &key, const QVariant &newValue)
{
    if (!newValue.isValid()) {
        removeObjectForKey(key);
        return;
    }
    // QStringList is stored as a plain list so that reads after a reload compare equal.
    const QVariant stored = newValue.typeId() == QMetaType::QStringList ? QVariant(newValue.toList()) : newValue;
    // A value the file cannot hold is refused here: kept pending, it would make every later
    // write fail and so lose all other changes too.
    QString error;
    if (Plist::toBinary(stored, &error).isEmpty()) {
        qCWarning(lcPrefs, "setting %s not changed: %s", qUtf8Printable(key), qUtf8Printable(error));
        return;
    }
    bool moved;
    {
        std::lock_guard lock(m_mutex);
        const QVariant before = m_saved.contains(key) ? m_saved.value(key) : m_registered.value(key);
        moved = !sameValue(before, stored);
        m_saved.insert(key, stored);
        m_pendingSet.insert(key);
        m_pendingRemoved.remove(key);
    }
    scheduleSync();
    if (moved)
        Q_EMIT changed(key);
}

void Defaults::removeObjectForKey(const QString &key)
{
    bool moved;
    {
        std::lock_guard lock(m_mutex);
        if (!m_saved.contains(key))
            return;
        const QVariant before = m_saved.take(key);
        moved = !sameValue(before, m_registered.value(key));
        m_pendingRemoved.insert(key);
        m_pendingSet.remove(key);
    }
    scheduleSync();
    if (moved)
        Q_EMIT changed(key);
}

QStringList Defaults::mergeFileLocked(const QVariantMap &file)
{
    QStringList moved;
    QVariantMap merged = file;
    for (const QString &key : std::as_const(m_pendingRemoved))
        merged.remove(key);
    for (const QString &key : std::as_const(m_pendingSet))
        merged.insert(key, m_saved.value(key));
    QSet<QString> keys;
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
        keys.insert(it.key());
    for (auto it = merged.cbegin(); it != merged.cend(); ++it)
        keys.insert(it.key());
    for (const QString &key : std::as_const(keys)) {
        const QVariant before = m_saved.contains(key) ? m_saved.value(key) : m_registered.value(key);
        const QVariant after = merged.contains(key) ? merged.value(key) : m_registered.value(key);
        if (!sameValue(before, after))
            moved.append(key);
    }
    m_saved = merged;
    return moved;
}

void Defaults::reloadIfChanged()
{
    QStringList moved;
    {
        std::lock_guard lock(m_mutex);
        const FileStamp now = stampOfFile();
        if (now == m_stamp)
            return;
        moved = reloadLocked(now);
        m_stamp = stampOfFile();
    }
    emitChanged(moved);
    if (needsWrite())
        scheduleSync();
}

QStringList Defaults::reloadLocked(const FileStamp &now)
{
    QVariantMap file;
    bool corrupt = false;
    QString why;
    if (readFile(&file, &corrupt, &why))
        return mergeFileLocked(file);
    if (corrupt) {
        // The bad file was moved aside. What this process holds is the best copy there is:
        // keep it and write all of it back.
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            m_pendingSet.insert(it.key());
        return {};
    }
    if (now.size < 0)
        return mergeFileLocked({}); // another process deleted the file: back to the defaults
    return {};                      // exists but unreadable: keep what we have
}

bool Defaults::needsWrite() const
{
    std::lock_guard lock(m_mutex);
    return !m_pendingSet.isEmpty() || !m_pendingRemoved.isEmpty();
}

bool Defaults::synchronize()
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        std::lock_guard lock(m_mutex);
        m_syncScheduled = false;
        if (!m_warnedWrite) {
            m_warnedWrite = true;
            qCWarning(lcPrefs, "cannot create the settings folder %s; settings are kept in memory only",
                      qUtf8Printable(info.absolutePath()));
        }
        return false;
    }
    // The lock file serialises read-modify-write between processes. Without the lock nothing
    // is written (another writer's keys could be lost); the values stay pending and are written
    // on the store's own thread once the lock is free. The thread that must never wait does not
    // wait at all; others wait a few seconds, and not at all for a holder that is stopped.
    const bool mayWait = QThread::currentThread() != g_neverWaitThread.load();
    SettingsLock lockFile(m_path + QStringLiteral(".lock"));
    pid_t holder = 0;
    QString lockWhy;
    const SettingsLock::Outcome taken = lockFile.acquire(mayWait ? kLockWaitMs : 0, &holder, &lockWhy);
    if (taken != SettingsLock::Locked) {
        bool warn = false;
        {
            std::lock_guard lock(m_mutex);
            m_syncScheduled = false;
            // Handed to the store's thread, which says so itself if it cannot lock either.
            warn = (mayWait || taken != SettingsLock::Busy) && !m_warnedWrite;
            m_warnedWrite = m_warnedWrite || warn;
        }
        if (warn) {
            const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral(".lock"));
            if (taken == SettingsLock::HolderStopped)
                qCWarning(lcPrefs,
                          "the settings lock %s is held by process %d, which is stopped; settings are kept in "
                          "memory and written once it lets go",
                          lockPath.constData(), int(holder));
            else if (taken == SettingsLock::Busy)
                qCWarning(lcPrefs,
                          "the settings lock %s is still held by %s after %d s; settings are kept in memory "
                          "for now",
                          lockPath.constData(),
                          holder > 0 ? qPrintable(QStringLiteral("process %1").arg(holder)) : "another process",
                          kLockWaitMs / 1000);
            else
                qCWarning(lcPrefs, "cannot lock the settings file with %s (%s); settings are kept in memory for now",
                          lockPath.constData(), qUtf8Printable(lockWhy));
        }
        if (!mayWait && taken == SettingsLock::Busy && needsWrite())
            startBackgroundSync();
        return false;
    }

    QStringList moved;
    bool ok = true;
    {
        std::lock_guard lock(m_mutex);
        m_syncScheduled = false;
        const FileStamp now = stampOfFile();
        if (now != m_stamp)
            moved = reloadLocked(now);
        const bool dirty = !m_pendingSet.isEmpty() || !m_pendingRemoved.isEmpty();
        if (dirty && m_fileUnreadable) {
            ok = false; // never replace a file we could not read: its values would be lost
        } else if (dirty) {
            QString error;
            const QByteArray bytes = Plist::toBinary(m_saved, &error);
            QSaveFile out(m_path);
            QString refused;
            ok = !bytes.isEmpty() && StoreFile::write(out, bytes, false, &refused);
            if (!ok && error.isEmpty())
                error = refused.isEmpty() ? out.errorString() : refused;
            if (ok) {
                m_pendingSet.clear();
                m_pendingRemoved.clear();
                m_warnedWrite = false;
            } else if (!m_warnedWrite) {
                m_warnedWrite = true;
                qCWarning(lcPrefs, "cannot write settings file %s: %s; settings are kept in memory only",
                          qUtf8Printable(m_path), qUtf8Printable(error));
            }
        }
        m_stamp = stampOfFile();
    }
    emitChanged(moved);
    return ok;
}

void Defaults::scheduleSync()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_syncScheduled)
            return;
        m_syncScheduled = true;
    }
    if (!QCoreApplication::instance())
        return;
    // The timer lives on this object's thread; a change from another thread posts the start.
    QMetaObject::invokeMethod(
        this, [this] { syncTimer()->start(kSyncDelayMs); }, Qt::QueuedConnection);
}

QTimer *Defaults::syncTimer()
{
    if (!m_syncTimer) {
        m_syncTimer = new QTimer(this);
        m_syncTimer->setSingleShot(true);
        connect(m_syncTimer, &QTimer::timeout, this, &Defaults::startBackgroundSync);
    }
    return m_syncTimer;
}

void Defaults::startBackgroundSync()
{
    // A failed write (folder not there yet, file locked) is tried again later while changes
    // are pending; the failure itself was logged once. A new change restarts the timer with
    // the short delay.
    m_syncPool.start([this] {
        if (!synchronize() && needsWrite() && QCoreApplication::instance())
            QMetaObject::invokeMethod(
                this, [this] { syncTimer()->start(kRetryIntervalMs); }, Qt::QueuedConnection);
    });
}

void Defaults::setNeverWaitOn(QThread *thread)
{
    g_neverWaitThread = thread;
}

void Defaults::emitChanged(const QStringList &keys)
{
    for (const QString &key : keys)
        Q_EMIT changed(key);
}

namespace {
// The lock file at `fd` is held by nobody (flock) and its content is not a whole QLockFile
// record ("pid\nappname\nhostname\n" and more): empty or cut short.
bool unheldAndIncomplete(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return false; // a live owner holds it
    ::flock(fd, LOCK_UN);
    char buf[256];
    ssize_t got = 0;
    while (got < ssize_t(sizeof(buf))) {
        const ssize_t n = ::pread(fd, buf + got, sizeof(buf) - size_t(got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    int lines = 0;
    for (ssize_t i = 0; i < got; ++i)
        lines += buf[i] == '\n' ? 1 : 0;
    return lines < 3;
}
} // namespace

bool Defaults::removeAbandonedLockFile(const QString &lockPath)
{
    const QByteArray path = QFile::encodeName(lockPath);
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return false;
    struct stat st;
    bool abandoned = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && unheldAndIncomplete(fd.get());
    if (abandoned) {
        // A live QLockFile flocks its file right after creating it and before writing into it:
        // a file seen in that instant looks abandoned. Look again a moment later.
        QThread::msleep(50);
        abandoned = unheldAndIncomplete(fd.get());
    }
    bool removed = false;
    if (abandoned && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        // Holding its flock as QLockFile does when it removes a stale lock; only the very file
        // we examined goes.
        struct stat now;
        if (::stat(path.constData(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
            removed = ::unlink(path.constData()) == 0;
        ::flock(fd.get(), LOCK_UN);
    }
    fd.reset();
    if (removed)
        qCInfo(lcPrefs, "removed the abandoned lock file %s of a process that ended while taking it", path.constData());
    return removed;
}
