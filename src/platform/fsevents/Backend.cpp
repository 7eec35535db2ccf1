#include "platform/fsevents/Backend.h"
#include "platform/fsevents/DirWalk.h"

#include <QSet>

namespace KLFSEvents {

std::unique_ptr<Backend> makeInotifyBackend(Sink *sink);
std::unique_ptr<Backend> makeFanotifyBackend(Sink *sink);

std::unique_ptr<Backend> createBackend(const QString &name, Sink *sink, QString *why)
{
    if (name == QLatin1String("inotify"))
        return makeInotifyBackend(sink);
    if (name == QLatin1String("fanotify")) {
        if (!fanotifyPermitted()) {
            if (why)
                *why = QStringLiteral("fanotify filesystem marks are not permitted for this process");
            return nullptr;
        }
        return makeFanotifyBackend(sink);
    }
    if (why)
        *why = QStringLiteral("unknown event backend \"%1\"").arg(name);
    return nullptr;
}

QList<QByteArray> foldersChangedSince(const QList<QByteArray> &roots, double sinceUnix, int *dirs,
                                      const std::function<bool()> &cancelled)
{
    auto newest = [](const struct stat &st) {
        const double m = double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
        const double c = double(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9;
        return m > c ? m : c;
    };
    QList<QByteArray> out;
    QSet<QByteArray> seen;
    int count = 0;
    auto add = [&](const QByteArray &dir) {
        if (!seen.contains(dir)) {
            seen.insert(dir);
            out.append(dir);
        }
    };
    WalkVisitor v;
    v.directory = [&](const QByteArray &path, int, const struct stat &st) {
        ++count;
        if (newest(st) >= sinceUnix)
            add(path);
        return true;
    };
    v.file = [&](const QByteArray &dir, const char *name, const struct stat &st) {
        if (name[0] != '.' && newest(st) >= sinceUnix && !seen.contains(dir))
            add(dir);
    };
    v.cancelled = cancelled;
    const QSet<QByteArray> slow = slowMountPoints();
    v.topOnly = &slow; // slow volumes are not walked file by file
    for (const QByteArray &root : roots)
        walkTree(root, v, nullptr);
    if (dirs)
        *dirs = count;
    return out;
}

} // namespace KLFSEvents
