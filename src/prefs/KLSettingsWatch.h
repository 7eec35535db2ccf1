#pragma once
// Follows the settings file while Kelso runs. Another Kelso process (a command-line tool) or
// the user may change it; the running program takes the change (its observers see changed()
// for each key that moved) instead of writing its older copy back over it.
//
// The file is replaced by rename on every write, so the folder is watched as well as the file
// itself (an editor that writes in place changes only the file); on a first start, before the
// folder exists, the nearest folder above it is watched until it does. Bursts of notices are folded
// into one look 100 ms later. The look (a stat and, when the file changed, a read) runs on a
// thread of the watch's own, never on the thread of the event loop; the store's changed()
// signals then come from that thread and reach observers through their queued connections.
// Kelso's own writes leave the store's record of the file up to date, so they cause no reload.
#include <QObject>
#include <QThreadPool>

class Defaults;
class QFileSystemWatcher;
class QTimer;

class KLSettingsWatch : public QObject
{
    Q_OBJECT
public:
    // Folding of a burst of notices into one look.
    static constexpr int kSettleMs = 100;

    explicit KLSettingsWatch(Defaults &defaults, QObject *parent = nullptr);
    ~KLSettingsWatch() override;

    // Looks at the file now (on the watch's thread), whatever the notices said.
    void lookSoon();
    // Waits until a look in progress has finished (tests, quitting).
    void waitForLook();

Q_SIGNALS:
    // After each look, on the thread of the event loop.
    void looked();

private:
    void noticed();
    void rewatch();

    Defaults &m_defaults;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settle = nullptr;
    QThreadPool m_pool;
};
