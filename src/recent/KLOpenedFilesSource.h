#pragma once
// Recently opened files, from the freedesktop recently-used.xbel files.
//
// GTK and KDE applications, LibreOffice and Firefox record every file they open in
// $XDG_DATA_HOME/recently-used.xbel; sandboxed (Flatpak) applications do the same in
// ~/.var/app/<id>/data/recently-used.xbel. Each writer replaces the whole file by rename, so
// the folders are watched rather than the files (a watch on the file would die with the old
// inode). A change schedules a re-read, debounced; the folders are listed and the files read and
// parsed off the main thread (which only adds watches for folders that are new), and the
// resulting update is emitted on the thread that owns the source.
//
// A bookmark's time is the latest of its `visited` and `modified` attributes and of its
// applications' `modified` (ISO 8601) or, in older files, `timestamp` (Unix seconds). An entry
// whose time lies after the moment execute() ran, and after the time last reported for the
// same file, is an opening: "added" the first time a file is reported, "changed" afterwards.
// Entries outside the scope, non-file URLs and names that are not valid UTF-8 are skipped.
#include "recent/KLOpenedFilesQuery.h"
#include "util/KLTime.h"

#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

struct KLRecentlyUsedEntry {
    QString path;
    KLTime time = 0; // latest use
};

class KLOpenedFilesSource : public KLOpenedFilesQuery
{
    Q_OBJECT
public:
    explicit KLOpenedFilesSource(QObject *parent = nullptr);
    ~KLOpenedFilesSource() override;

    void setSearchScope(Scope scope) override;
    bool execute() override;
    void stop() override;
    QString queryText() const override { return kOpenedFilesQueryText; }

    // The xbel files looked at: the main one and those of sandboxed applications.
    static QStringList recentlyUsedFiles();
    // Parses one xbel document tolerantly: what parses before an error is kept.
    // `skippedNames` (optional) counts entries dropped for names that are not UTF-8.
    static QList<KLRecentlyUsedEntry> parseRecentlyUsed(const QByteArray &xml, int *skippedNames = nullptr);

    // Tests: the start time and an immediate re-read (the debounce skipped).
    KLTime startTime() const { return m_startTime; }
    void setStartTimeForTesting(KLTime t) { m_startTime = t; }
    void rereadNow();

private:
    struct FileStamp {
        qint64 mtimeNs = -1;
        qint64 size = -1;
        quint64 inode = 0;
        bool operator==(const FileStamp &) const = default;
    };
    struct ReadResult {
        QHash<QString, FileStamp> stamps;
        QHash<QString, QList<KLRecentlyUsedEntry>> entries; // only files that changed
        QStringList folders;                                // existing folders to watch
    };
    static ReadResult readFiles(const QStringList &files, const QHash<QString, FileStamp> &known);
    // The existing folders that hold (or may come to hold) the xbel files. Worker thread.
    static QStringList foldersToWatch(const QStringList &files);
    // Main thread: watches the folders not watched yet; answers whether it added any.
    bool updateWatches(const QStringList &folders);
    void scheduleRead();
    void startRead();
    void readDone();

    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_debounce = nullptr;
    QTimer *m_rewatch = nullptr;
    QFutureWatcher<ReadResult> *m_future = nullptr;
    bool m_running = false;
    bool m_readPending = false;
    KLTime m_startTime = 0;
    QString m_scopeRoot;
    QHash<QString, FileStamp> m_stamps;
    QHash<QString, KLTime> m_reported; // path → time last reported
    QSet<QString> m_refusedWatches;    // folders the watcher would not watch
};
