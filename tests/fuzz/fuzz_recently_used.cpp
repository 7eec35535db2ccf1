// The desktop's recently-used.xbel, written by any program of the session: both readers (the
// recent pane's opened files and the index's last-used dates) take any bytes, keep what parsed
// before a fault, and answer only absolute local paths with a time.
#include "platform/mdindex/MdRecentlyUsed.h"
#include "recent/KLOpenedFilesSource.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Absolute, trailing slashes dropped, never a name mangled from bytes that are not UTF-8.
void checkPath(const QString &path)
{
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        std::abort();
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        std::abort();
    if (path.contains(QChar(0xFFFD)))
        std::abort();
}

// The index reads the file itself: hand it the bytes through an anonymous file.
void readThroughIndex(const uint8_t *data, size_t size)
{
    const int fd = ::memfd_create("recently-used.xbel", MFD_CLOEXEC);
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    for (const MdIndex::RecentlyUsed &e : MdIndex::readRecentlyUsed(path)) {
        checkPath(e.path);
        if (e.path.contains(QChar(0)))
            std::abort();
        if (e.usedMs <= 0)
            std::abort();
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
    int skipped = 0;
    const QList<KLRecentlyUsedEntry> entries = KLOpenedFilesSource::parseRecentlyUsed(xml, &skipped);
    for (const KLRecentlyUsedEntry &e : entries) {
        checkPath(e.path);
        if (e.time == 0)
            std::abort();
    }
    if (skipped < 0 || qsizetype(skipped) > xml.size())
        std::abort();
    readThroughIndex(data, size);
    return 0;
}
