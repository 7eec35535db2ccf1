#include "tags/XPSimpleUtils.h"

#include <QFile>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace XPSimpleUtils {

bool adjustModifictionDate(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (::lstat(p.constData(), &st) != 0)
        return false;
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double age = double(now.tv_sec - st.st_mtim.tv_sec) + (now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
    if (age < 3600.0)
        return false;
    struct timespec times[2];
    times[0] = st.st_atim;
    times[1] = st.st_mtim;
    times[1].tv_sec += 2;
    return ::utimensat(AT_FDCWD, p.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace XPSimpleUtils
