#pragma once
// The user-defaults store: registered defaults plus the values the user saved, kept in a
// binary plist per domain ($XDG_CONFIG_HOME/<domain>.plist).
//
// - registerDefaults() never overwrites saved values; a key with neither reads as absent
//   (false, 0, empty, invalid QVariant).
// - Setters change memory at once and emit changed(key) (the "values.KEY" observation);
//   the file is written by synchronize(), which runs shortly after a change when an event
//   loop is there, and which callers may run themselves (command-line tools, quitting).
// - synchronize() takes a lock file around read-modify-write: it re-reads the file when
//   another process replaced it, keeps this process's pending changes on top, and writes the
//   result atomically. Two processes writing different keys of one domain both survive.
// - The lock is a flock on "<file>.lock" (the file QLockFile used, and locked the same way):
//   the kernel lets go of it when its holder dies. A holder that is stopped is seen at once;
//   one that is busy is waited for up to kLockWaitMs. On the thread named by setNeverWaitOn()
//   (the GUI's event loop) synchronize() never waits: when the lock is taken it hands the
//   write to the store's own thread and answers false. Either way the values stay in memory
//   and are written once the lock is free; the trouble is logged once.
// - A file that does not parse is moved aside as "<name>.corrupt-<time>", logged once, and the
//   store carries on with the registered defaults. A folder that cannot be written is logged
//   once; values stay in memory.
// All members are thread-safe. changed() is emitted on the thread that made the change.
#include "util/UniqueFd.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QVariantMap>
#include <mutex>

#include <sys/types.h>

class QThread;
class QTimer;

class Defaults : public QObject
{
    Q_OBJECT
public:
    // The program's own domain, "com.tallow.kelso".
    static Defaults &standard();
    // A named domain in the same folder (e.g. "com.lumitag.shared"); one instance per name.
    static Defaults &domain(const QString &name);
    // The file a named domain is kept in.
    static QString pathForDomain(const QString &name);

    // A store on an explicit file (tests, tools).
    explicit Defaults(const QString &filePath, QObject *parent = nullptr);
    ~Defaults() override;

    QString filePath() const { return m_path; }

    void registerDefaults(const QVariantMap &defaults);
    QVariantMap registeredDefaults() const;

    // Saved value, else registered default, else invalid.
    QVariant value(const QString &key) const;
    bool hasSavedValue(const QString &key) const;
    bool contains(const QString &key) const { return value(key).isValid(); }

    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    quint64 unsignedForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;
    QStringList stringArrayForKey(const QString &key) const;
    QVariantList arrayForKey(const QString &key) const;
    QVariantMap dictionaryForKey(const QString &key) const;
    QByteArray dataForKey(const QString &key) const;

    void setValue(const QString &key, const QVariant &value);
    void setBool(const QString &key, bool v) { setValue(key, v); }
    void setInteger(const QString &key, qint64 v) { setValue(key, v); }
    void setUnsigned(const QString &key, quint64 v) { setValue(key, v); }
    void setDouble(const QString &key, double v) { setValue(key, v); }
    void setString(const QString &key, const QString &v) { setValue(key, v); }
    void removeObjectForKey(const QString &key);

    // Writes pending changes and picks up what other processes wrote. False when the file
    // could not be written (the values stay in memory and the next call tries again).
    bool synchronize();
    // The same a moment later (half a second) on a thread of this store's own: for callers
    // that must not wait on the disk now. Every change schedules it; another process may hold
    // the lock file for a while, and the write is flushed to the disk, so this waiting never
    // falls on the thread of the event loop.
    void synchronizeSoon() { scheduleSync(); }
    // Waits until a synchronization running in the background has finished.
    void waitForBackgroundSync();

    // Re-reads the file (when it changed) without writing; used to follow other processes.
    void reloadIfChanged();

    // How long synchronize() waits for a lock that another running process holds.
    static constexpr int kLockWaitMs = 5000;
    // synchronize() called on `thread` never waits for another process (nullptr: none).
    static void setNeverWaitOn(QThread *thread);

    // Removes the lock file at `lockPath` when it was abandoned half made: a process killed
    // between creating it and writing its owner into it leaves it empty or cut short, and
    // QLockFile can then only call it stale by its age (10 s of waiting, on whatever thread
    // synchronizes). Abandoned means: such content, and nobody holds its flock (QLockFile's
    // owner always does) now and again a moment later. A complete lock file is left to
    // QLockFile, which settles a dead owner at once. Answers whether it removed the file.
    static bool removeAbandonedLockFile(const QString &lockPath);

Q_SIGNALS:
    void changed(const QString &key);

public:
    // An exclusive flock on the lock file, released (and the file removed) when destroyed. The
    // file is made 0600 and never opened through a symbolic link. Also serialises other
    // read-modify-write cycles between Kelso processes (the recent tags).
    class SettingsLock
    {
    public:
        enum Outcome { Locked, Busy, HolderStopped, Failed };
        explicit SettingsLock(const QString &path);
        ~SettingsLock();
        SettingsLock(const SettingsLock &) = delete;
        SettingsLock &operator=(const SettingsLock &) = delete;
        // Tries for up to `waitMs`; *holder names the holding process when it is known.
        Outcome acquire(int waitMs, pid_t *holder, QString *why);

    private:
        QByteArray m_path;
        UniqueFd m_fd;
    };

private:
    struct FileStamp {
        qint64 mtimeNs = -1;
        qint64 size = -1;
        quint64 inode = 0;
        bool operator==(const FileStamp &) const = default;
    };
    FileStamp stampOfFile() const;
    // Reads the file into `out`; false when it does not exist or cannot be read/parsed.
    bool readFile(QVariantMap *out, bool *corrupt, QString *why) const;
    // Merges a fresh file image under the lock; returns the keys whose effective value moved.
    QStringList mergeFileLocked(const QVariantMap &file);
    // Re-reads a changed file under m_mutex (corrupt, deleted or unreadable handled); returns
    // the keys whose effective value moved.
    QStringList reloadLocked(const FileStamp &now);
    bool needsWrite() const;
    void scheduleSync();
    void startBackgroundSync();
    QTimer *syncTimer();
    void emitChanged(const QStringList &keys);

    QString m_path;
    mutable std::mutex m_mutex;
    QVariantMap m_registered;
    QVariantMap m_saved;
    QSet<QString> m_pendingSet;     // keys set here since the last write
    QSet<QString> m_pendingRemoved; // keys removed here since the last write
    FileStamp m_stamp;
    bool m_loaded = false;
    bool m_fileUnreadable = false; // exists but could not be read: never overwrite it
    bool m_warnedWrite = false;
    bool m_syncScheduled = false;
    QTimer *m_syncTimer = nullptr;
    // One thread at most; last, so that it is destroyed (and waited for) before the rest.
    QThreadPool m_syncPool;
};
