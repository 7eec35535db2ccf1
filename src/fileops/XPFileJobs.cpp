#include "fileops/XPFileJobs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

// `a` is `b`, or lies inside it.
bool isSameOrInside(const QString &a, const QString &b)
{
    if (!a.startsWith(b))
        return false;
    return a.size() == b.size() || b.endsWith(QLatin1Char('/')) || a.at(b.size()) == QLatin1Char('/');
}

} // namespace

XPFileJobs::XPFileJobs(QObject *parent) : QObject(parent)
{
    // Threads of a pool take its name (kelso-fileops in ps and a debugger).
    m_pool.setObjectName(QStringLiteral("kelso-fileops"));
    m_pool.setMaxThreadCount(2);
}

XPFileJobs::~XPFileJobs()
{
    m_pool.waitForDone();
}

void XPFileJobs::setWorkerHook(WorkerHook hook)
{
    m_hook = std::move(hook);
}

bool XPFileJobs::isBusy(const QString &path) const
{
    for (const QString &busy : m_busy) {
        if (isSameOrInside(path, busy) || isSameOrInside(busy, path))
            return true;
    }
    return false;
}

bool XPFileJobs::claim(const QStringList &paths)
{
    for (const QString &p : paths) {
        if (!p.isEmpty() && isBusy(p))
            return false;
    }
    for (const QString &p : paths) {
        if (!p.isEmpty())
            m_busy.append(p);
    }
    if (m_running++ == 0)
        Q_EMIT busyChanged(true);
    return true;
}

void XPFileJobs::release(const QStringList &paths)
{
    for (const QString &p : paths) {
        if (!p.isEmpty())
            m_busy.removeOne(p);
    }
    if (--m_running == 0)
        Q_EMIT busyChanged(false);
}

bool XPFileJobs::waitUntilIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_running > 0 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return m_running == 0;
}

XPFileJobs &XPFileJobs::shared()
{
    // Made on the GUI thread by the first window action that runs without an instance of its
    // own; lives until exit.
    static XPFileJobs *jobs = [] {
        auto *made = new XPFileJobs;
        // Quitting waits for the operations under way: a move across file systems cut short
        // would leave a partial copy beside the untouched source.
        if (QCoreApplication *app = QCoreApplication::instance())
            connect(app, &QCoreApplication::aboutToQuit, made, [made] { made->m_pool.waitForDone(); });
        return made;
    }();
    return *jobs;
}
