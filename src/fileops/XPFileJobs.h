#pragma once
// The file operations a user starts from the window (Move To, filing, trash) wait on the disk:
// a move across file systems copies the whole file. They run here, on a worker thread, and
// hand their result back to the thread that owns this object (the GUI thread), where the
// caller updates the window and tells the user what failed.
//
// While an operation runs, its paths are busy: an operation naming a busy path, a folder that
// holds one or an item inside a busy folder is refused (run() answers false and does nothing),
// so two operations never work on one item at once. busyChanged() lets the window show that
// work is going on.
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <functional>

class XPFileJobs : public QObject
{
    Q_OBJECT
public:
    // Runs on the worker thread before each operation's work (tests slow the work down or
    // note the thread it runs on).
    using WorkerHook = std::function<void()>;

    explicit XPFileJobs(QObject *parent = nullptr);
    // Waits for the operations still running (their results are dropped).
    ~XPFileJobs() override;

    void setWorkerHook(WorkerHook hook);

    // Runs `work` on a worker thread and then `done` with its result on this object's thread,
    // unless `context` (when given) is gone by then. False, with nothing done, when one of
    // `paths` is busy.
    template <typename Result>
    bool run(const QStringList &paths, std::function<Result()> work, QObject *context,
             std::function<void(const Result &)> done);

    bool isBusy(const QString &path) const;
    bool isIdle() const { return m_running == 0; }
    // Turns the event loop until every operation has handed back its result; false when
    // `timeoutMs` passed first.
    bool waitUntilIdle(int timeoutMs);

    // The instance of callers that were handed none. When the application quits, it waits for
    // the operations under way to end (their results are not delivered any more).
    static XPFileJobs &shared();

Q_SIGNALS:
    // True when the first operation starts, false when the last one has handed back its result.
    void busyChanged(bool busy);

private:
    bool claim(const QStringList &paths);
    void release(const QStringList &paths);

    QThreadPool m_pool;
    QStringList m_busy;
    int m_running = 0;
    WorkerHook m_hook;
};

template <typename Result>
bool XPFileJobs::run(const QStringList &paths, std::function<Result()> work, QObject *context,
                     std::function<void(const Result &)> done)
{
    if (!claim(paths))
        return false;
    auto *watcher = new QFutureWatcher<Result>(this);
    const QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, paths, guard, hasContext, done = std::move(done)] {
                watcher->deleteLater();
                const Result result = watcher->result();
                // Free the paths first: what `done` starts may name them again.
                release(paths);
                if (done && (!hasContext || guard))
                    done(result);
            });
    watcher->setFuture(QtConcurrent::run(&m_pool, [hook = m_hook, work = std::move(work)] {
        if (hook)
            hook();
        return work();
    }));
    return true;
}
