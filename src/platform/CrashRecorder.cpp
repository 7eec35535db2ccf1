#include "platform/CrashRecorder.h"

#include "platform/StoreFile.h"
#include "util/Paths.h"
#include "util/UniqueFd.h"
#include <QDir>
#include <QFile>
#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace CrashRecorder {

namespace {
std::atomic<bool> g_started{false};
char g_folder[4096];

// Async-signal-safe decimal formatting.
size_t formatNumber(char *out, unsigned long long v)
{
    char tmp[24];
    size_t n = 0;
    do {
        tmp[n++] = char('0' + v % 10);
        v /= 10;
    } while (v && n < sizeof tmp);
    for (size_t i = 0; i < n; ++i)
        out[i] = tmp[n - 1 - i];
    return n;
}

void writeAll(int fd, const char *s, size_t len)
{
    while (len > 0) {
        const ssize_t w = ::write(fd, s, len);
        if (w <= 0)
            return;
        s += w;
        len -= size_t(w);
    }
}

void onFatalSignal(int sig)
{
    char path[4200];
    size_t n = strnlen(g_folder, sizeof g_folder);
    memcpy(path, g_folder, n);
    const char prefix[] = "/crash-";
    memcpy(path + n, prefix, sizeof prefix - 1);
    n += sizeof prefix - 1;
    n += formatNumber(path + n, (unsigned long long)time(nullptr));
    path[n++] = '-';
    n += formatNumber(path + n, (unsigned long long)getpid());
    memcpy(path + n, ".txt", 5);
    if (const UniqueFd file(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)); file.valid()) {
        const int fd = file.get();
        char line[64];
        const char head[] = "Kelso crash record\nsignal ";
        writeAll(fd, head, sizeof head - 1);
        size_t m = formatNumber(line, (unsigned long long)sig);
        line[m++] = '\n';
        writeAll(fd, line, m);
        void *frames[64];
        const int count = backtrace(frames, 64);
        backtrace_symbols_fd(frames, count, fd);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}
} // namespace

QString crashFolder()
{
    return KLPaths::stateFolder() + QStringLiteral("/crashes");
}

bool isStarted()
{
    return g_started.load();
}

void start()
{
    if (g_started.exchange(true))
        return;
    const QString folder = crashFolder();
    StoreFile::preparePrivateFolder(folder);
    const QByteArray encoded = QFile::encodeName(folder);
    strncpy(g_folder, encoded.constData(), sizeof g_folder - 1);
    // backtrace() loads libgcc on first use; do that now, not inside the handler.
    void *warm[1];
    backtrace(warm, 1);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        struct sigaction sa {
        };
        sa.sa_handler = onFatalSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
}

} // namespace CrashRecorder
