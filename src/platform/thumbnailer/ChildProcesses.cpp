#include "platform/thumbnailer/ChildProcesses.h"

#include "util/ThreadNames.h"

#include <QProcess>
#include <QSet>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace ChildProcesses {

namespace {

std::atomic<int> g_timeLimitMs{4000};
std::atomic<qint64> g_memoryLimit{qint64(1) << 30};
std::atomic<bool> g_stopping{false};
std::mutex g_mutex;
QSet<pid_t> g_live;

// Runs in the forked child before exec: async-signal-safe calls only.
void limitChild(rlim_t memory, int keepFrom)
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (Address and thread sanitizer builds reserve terabytes of address space: no limit there.)
    struct rlimit limit {
        memory, memory
    };
    ::setrlimit(RLIMIT_AS, &limit);
#else
    (void)memory;
#endif
    ::close_range(unsigned(keepFrom), ~0U, CLOSE_RANGE_CLOEXEC);
}

} // namespace

int jobTimeLimitMs()
{
    return g_timeLimitMs.load();
}

void setJobTimeLimitMs(int ms)
{
    g_timeLimitMs = std::max(100, ms);
}

qint64 memoryLimitBytes()
{
    return g_memoryLimit.load();
}

void setMemoryLimitBytes(qint64 bytes)
{
    g_memoryLimit = std::max<qint64>(qint64(64) << 20, bytes);
}

pid_t spawnWithSocket(const QByteArray &program, const QList<QByteArray> &args, int socketFd)
{
    if (g_stopping.load()) {
        errno = ECANCELED;
        return -1;
    }
    // Everything the child needs is made before the fork: between fork and exec a
    // multi-threaded process may only make async-signal-safe calls (no allocation).
    std::vector<char *> argv;
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    const rlim_t memory = rlim_t(memoryLimitBytes());
    std::lock_guard lock(g_mutex); // stopAll() either sees this child or prevents it
    if (g_stopping.load()) {
        errno = ECANCELED;
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(socketFd, 3) < 0)
            ::_exit(127);
        limitChild(memory, 4);
        ::execve(program.constData(), argv.data(), environ);
        ::_exit(127);
    }
    if (pid > 0)
        g_live.insert(pid);
    return pid;
}

void applyLimits(QProcess &process)
{
    const rlim_t memory = rlim_t(memoryLimitBytes());
    // A process group of its own: a thumbnailer is often a script, and what it starts is
    // stopped with it (killAndForget, stopAll).
    process.setChildProcessModifier([memory] {
        ::setpgid(0, 0);
        limitChild(memory, 3);
    });
}

bool track(pid_t pid)
{
    if (pid <= 0)
        return false;
    std::lock_guard lock(g_mutex);
    if (g_stopping.load()) {
        killWithGroup(pid);
        return false;
    }
    g_live.insert(pid);
    return true;
}

void untrack(pid_t pid)
{
    std::lock_guard lock(g_mutex);
    g_live.remove(pid);
}

void killWithGroup(pid_t pid)
{
    if (pid <= 0)
        return;
    // The group exists only when the child leads one (applyLimits); a pid still in use as a
    // group id is never given to another process, so this reaches nobody else's.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
}

void killAndForget(pid_t pid)
{
    if (pid <= 0)
        return;
    killWithGroup(pid);
    untrack(pid);
    // A killed process is reaped at once unless it sits in an uninterruptible wait (a dead
    // network share); a detached thread takes that wait off everyone's hands.
    if (::waitpid(pid, nullptr, WNOHANG) == 0)
        std::thread([pid] {
            ThreadNames::setCurrent("kelso-reaper");
            ::waitpid(pid, nullptr, 0);
        }).detach();
}

int reap(pid_t pid, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            untrack(pid);
            return status;
        }
        if (r < 0 && errno != EINTR) {
            untrack(pid);
            return -1;
        }
        if (std::chrono::steady_clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    killAndForget(pid);
    return -1;
}

void stopAll()
{
    std::lock_guard lock(g_mutex);
    g_stopping = true;
    for (pid_t pid : std::as_const(g_live))
        killWithGroup(pid);
}

bool stopping()
{
    return g_stopping.load();
}

void resumeForTesting()
{
    g_stopping = false;
}

QList<pid_t> livePids()
{
    std::lock_guard lock(g_mutex);
    return g_live.values();
}

} // namespace ChildProcesses
