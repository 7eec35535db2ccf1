// Kelso's side of the decoder workers: starting, reusing, timing and killing them.
#include "platform/thumbnailer/DecoderWorkers.h"

#include "platform/thumbnailer/ChildProcesses.h"
#include "platform/thumbnailer/WorkerWire.h"
#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace DecoderWorkers {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartLimitMs = 15000; // a worker's own start (Qt, fonts) on a busy machine
constexpr size_t kMaxIdle = 4;       // as many as the thumbnail queue runs at once
constexpr auto kIdleLife = std::chrono::seconds(60);

struct Worker {
    pid_t pid = -1;
    UniqueFd fd; // Kelso's end of the socket pair
    Clock::time_point idleSince;
};

std::mutex g_mutex;
std::vector<Worker> g_idle;
QList<qint64> g_busy;
QByteArray g_program = "/proc/self/exe";
std::atomic<int> g_started{0};

void discard(Worker &w)
{
    w.fd.reset();
    ChildProcesses::killAndForget(w.pid);
    w = Worker();
}

Worker start(QString *why)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        *why = QStringLiteral("cannot make a socket for the decoder: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return {};
    }
    UniqueFd ours(sv[0]);
    UniqueFd theirs(sv[1]);
    // A large send buffer on the worker's end: a 1024-pixel picture (4 MB) then crosses in one
    // go instead of in two dozen hand-overs between the processes, each of which waits for a
    // core on a busy machine. (The kernel caps it at net.core.wmem_max.)
    const int sendBuffer = 8 << 20;
    ::setsockopt(theirs.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    QByteArray program;
    {
        std::lock_guard lock(g_mutex);
        program = g_program;
    }
    // The program's own name as argv[0], so that the worker shows as Kelso in a process list.
    QByteArray name = program;
    if (program == "/proc/self/exe")
        name = QFile::encodeName(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    if (name.isEmpty())
        name = program;
    const QList<QByteArray> args{name, QByteArrayLiteral("--thumbnail-worker"), QByteArrayLiteral("--time-limit"),
                                 QByteArray::number(ChildProcesses::jobTimeLimitMs())};
    const pid_t pid = ChildProcesses::spawnWithSocket(program, args, theirs.get());
    const int spawnErrno = errno;
    theirs.reset(); // the worker's end is the worker's: a worker that dies then reads as closed
    if (pid < 0) {
        *why = ChildProcesses::stopping()
                   ? QStringLiteral("Kelso is quitting")
                   : QStringLiteral("cannot start the decoder: %1").arg(QString::fromLocal8Bit(strerror(spawnErrno)));
        return {};
    }
    Worker w{pid, std::move(ours), {}};
    quint32 hello = 0;
    if (WorkerWire::readFully(w.fd.get(), &hello, sizeof hello,
                              Clock::now() + std::chrono::milliseconds(kStartLimitMs)) != WorkerWire::Io::Done ||
        hello != WorkerWire::kHello) {
        discard(w);
        *why = QStringLiteral("the decoder did not start");
        qCWarning(lcThumbs, "a thumbnail decoder process did not start (%s)", program.constData());
        return {};
    }
    ++g_started;
    return w;
}

Worker acquire(QString *why)
{
    {
        std::lock_guard lock(g_mutex);
        const auto now = Clock::now();
        // Workers left idle for long go; the most recently used one is taken.
        for (auto it = g_idle.begin(); it != g_idle.end();) {
            if (now - it->idleSince > kIdleLife) {
                discard(*it);
                it = g_idle.erase(it);
            } else {
                ++it;
            }
        }
        if (!g_idle.empty()) {
            Worker w = std::move(g_idle.back());
            g_idle.pop_back();
            g_busy.append(w.pid);
            return w;
        }
    }
    Worker w = start(why);
    if (w.pid > 0) {
        std::lock_guard lock(g_mutex);
        g_busy.append(w.pid);
    }
    return w;
}

void release(Worker w)
{
    std::lock_guard lock(g_mutex);
    g_busy.removeOne(w.pid);
    if (ChildProcesses::stopping() || g_idle.size() >= kMaxIdle) {
        discard(w);
        return;
    }
    w.idleSince = Clock::now();
    g_idle.push_back(std::move(w));
}

void forget(Worker &w)
{
    {
        std::lock_guard lock(g_mutex);
        g_busy.removeOne(w.pid);
    }
    discard(w);
}

QString describeEnd(int status)
{
    if (status >= 0 && WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        if (sig == SIGALRM)
            return QStringLiteral("the decoder took too long");
        return QStringLiteral("the decoder crashed (signal %1, %2)")
            .arg(sig)
            .arg(QString::fromLocal8Bit(strsignal(sig)));
    }
    if (status >= 0 && WIFEXITED(status))
        return QStringLiteral("the decoder stopped (exit status %1)").arg(WEXITSTATUS(status));
    return QStringLiteral("the decoder stopped answering");
}

} // namespace

Outcome run(Job job, const QString &path, QSize box)
{
    Outcome out;
    const QByteArray request = WorkerWire::encodeRequest(job, path, box);
    Worker w;
    // An idle worker may have died since its last job; one fresh start is tried then.
    for (int attempt = 0; attempt < 2; ++attempt) {
        w = acquire(&out.failure);
        if (w.pid <= 0)
            return out;
        if (WorkerWire::writeFully(w.fd.get(), request.constData(), size_t(request.size())))
            break;
        forget(w);
    }
    if (w.pid <= 0) {
        out.failure = QStringLiteral("the decoder is not answering");
        return out;
    }
    const int limitMs = ChildProcesses::jobTimeLimitMs();
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    WorkerWire::Reply reply;
    const WorkerWire::Io io = WorkerWire::readReply(w.fd.get(), deadline, &reply);
    if (io == WorkerWire::Io::Done) {
        release(std::move(w));
        out.image = reply.image;
        out.text = reply.text;
        out.failure = reply.failure;
        out.fileAtFault = reply.image.isNull() && reply.text.isNull() && !reply.declined;
        if (out.fileAtFault && out.failure.isEmpty())
            out.failure = QStringLiteral("the file cannot be decoded");
        return out;
    }
    const pid_t pid = w.pid;
    if (io == WorkerWire::Io::TimedOut) {
        forget(w);
        out.failure = QStringLiteral("the decoder took longer than %1 s").arg(limitMs / 1000.0);
    } else {
        // The worker is gone (or spoke nonsense): ask how it ended, briefly. reap() kills
        // and forgets it when it does not end in time.
        int status = -1;
        {
            std::lock_guard lock(g_mutex);
            g_busy.removeOne(pid);
        }
        w.fd.reset(); // closed before the wait, so that a worker blocked writing to it ends
        if (io == WorkerWire::Io::Closed)
            status = ChildProcesses::reap(pid, 200);
        else
            ChildProcesses::killAndForget(pid);
        out.failure =
            io == WorkerWire::Io::Garbled ? QStringLiteral("the decoder answered nonsense") : describeEnd(status);
    }
    if (ChildProcesses::stopping())
        out.failure = QStringLiteral("Kelso is quitting");
    out.fileAtFault = !ChildProcesses::stopping();
    return out;
}

void setProgram(const QByteArray &path)
{
    std::lock_guard lock(g_mutex);
    g_program = path;
}

int workersStarted()
{
    return g_started.load();
}

QList<qint64> workerPids()
{
    std::lock_guard lock(g_mutex);
    QList<qint64> pids = g_busy;
    for (const Worker &w : g_idle)
        pids.append(w.pid);
    return pids;
}

void stopAll()
{
    ChildProcesses::stopAll();
    std::lock_guard lock(g_mutex);
    for (Worker &w : g_idle)
        discard(w);
    g_idle.clear();
}

} // namespace DecoderWorkers
