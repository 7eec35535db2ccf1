#include "recent/KLSaveFileLeftovers.h"

#include "util/Logging.h"
#include "util/UniqueFd.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace KLSaveFileLeftovers {

namespace {
// QTemporaryFileName appends ".XXXXXX" and fills the six places with A-Z and a-z.
constexpr int kRandomLength = 6;

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isLeftoverBytes(const char *name, size_t len, const QByteArray &store)
{
    const size_t storeLen = size_t(store.size());
    if (storeLen == 0 || len != storeLen + 1 + kRandomLength)
        return false;
    if (std::memcmp(name, store.constData(), storeLen) != 0 || name[storeLen] != '.')
        return false;
    for (size_t i = storeLen + 1; i < len; ++i) {
        if (!isAsciiLetter(name[i]))
            return false;
    }
    return true;
}

// Empty, or the first bytes of a binary plist: what a cut-short write of our stores leaves.
bool looksLikeCutPlist(int fd)
{
    static const char kMagic[] = "bplist";
    char head[sizeof(kMagic) - 1];
    ssize_t got = 0;
    while (got < ssize_t(sizeof(head))) {
        const ssize_t n = ::read(fd, head + got, sizeof(head) - size_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    return std::memcmp(head, kMagic, size_t(got)) == 0;
}
} // namespace

bool isLeftoverName(const QString &fileName, const QString &storeName)
{
    const QByteArray name = QFile::encodeName(fileName);
    return isLeftoverBytes(name.constData(), size_t(name.size()), QFile::encodeName(storeName));
}

int removeLeftovers(const QString &storePath, double minAgeSeconds)
{
    const QFileInfo info(storePath);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray store = QFile::encodeName(info.fileName());
    if (store.isEmpty())
        return 0;
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return 0; // no folder yet: nothing left behind either
    const int dfd = ::dirfd(dir.get());
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    int removed = 0;
    int failed = 0;
    QByteArray firstFailure;
    while (struct dirent *e = ::readdir(dir.get())) {
        const char *name = e->d_name;
        if (!isLeftoverBytes(name, std::strlen(name), store))
            continue;
        struct stat st;
        if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const double modified = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
        if (now - modified < minAgeSeconds)
            continue; // may still be written by another process
        const UniqueFd fd(::openat(dfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid())
            continue;
        struct stat opened;
        const bool same = ::fstat(fd.get(), &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev;
        const bool ours = same && looksLikeCutPlist(fd.get());
        if (!ours)
            continue;
        if (::unlinkat(dfd, name, 0) == 0) {
            ++removed;
        } else if (errno != ENOENT) {
            if (failed++ == 0)
                firstFailure = QByteArray(name) + ": " + std::strerror(errno);
        }
    }
    if (removed > 0)
        qCInfo(lcRecent, "removed %d unfinished temporary file(s) of %s", removed, qUtf8Printable(storePath));
    if (failed > 0)
        qCWarning(lcRecent, "cannot remove %d unfinished temporary file(s) of %s (%s)", failed,
                  qUtf8Printable(storePath), firstFailure.constData());
    return removed;
}

} // namespace KLSaveFileLeftovers
