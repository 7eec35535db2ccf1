// Writing tags to 10,000 files: Kelso's many-files write (setCommonUserTags: read, three-way
// merge, normalise, time stamp, write) against the bare lgetxattr + lsetxattr pair per file,
// in the same run on the same files. Prints both, per file, and the ratio. Each timed loop starts
// after the file system has written out what the loop before changed.
//
//   tags_bench [FILES] [ROUNDS] [FOLDER]
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "tags/Lumitag.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// Writes out what earlier loops left dirty, so that no timed loop waits for the journal
// writing the blocks the loop before it changed.
void settle(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::syncfs(fd);
        ::close(fd);
    }
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The bare pair: read the current tags, write the new ones.
double bareRound(const std::vector<QByteArray> &paths, const QByteArray &value)
{
    char buf[4096];
    QElapsedTimer t;
    t.start();
    for (const QByteArray &p : paths) {
        (void)::lgetxattr(p.constData(), "user.xdg.tags", buf, sizeof buf);
        if (::lsetxattr(p.constData(), "user.xdg.tags", value.constData(), size_t(value.size()), 0) != 0) {
            std::perror("lsetxattr");
            std::exit(1);
        }
    }
    return t.nsecsElapsed() / 1e6;
}

// The same system calls Kelso makes in system mode (read the tags, write the time stamp, write
// the tags) without any of its work around them: the floor for the comparison. Each file gets
// a stamp of its own, as in Kelso's write (identical stamps make the file system share and
// un-share attribute blocks, which measures the file system rather than the program).
double bareWithStampRound(const std::vector<QByteArray> &paths, const QByteArray &value,
                          const std::vector<QByteArray> &stamps)
{
    char buf[4096];
    QElapsedTimer t;
    t.start();
    for (size_t i = 0; i < paths.size(); ++i) {
        const QByteArray &p = paths[i];
        const QByteArray &stamp = stamps[i];
        (void)::lgetxattr(p.constData(), "user.xdg.tags", buf, sizeof buf);
        (void)::lsetxattr(p.constData(), "user.com.apple.metadata:kMDItemLTUserTagTime", stamp.constData(),
                          size_t(stamp.size()), 0);
        if (::lsetxattr(p.constData(), "user.xdg.tags", value.constData(), size_t(value.size()), 0) != 0) {
            std::perror("lsetxattr");
            std::exit(1);
        }
    }
    return t.nsecsElapsed() / 1e6;
}

double kelsoRound(const QStringList &paths, const QStringList &previous, const QStringList &next)
{
    QElapsedTimer t;
    t.start();
    if (const LumitagResult error = Lumitag::setCommonUserTags(paths, previous, next)) {
        std::fprintf(stderr, "setCommonUserTags failed: %s\n", qUtf8Printable(error->info));
        std::exit(1);
    }
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    // Keep the benchmark's settings away from the user's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 10000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 5;
    QTemporaryDir scratch(args.size() > 3 ? args[3] + QStringLiteral("/tags-bench-XXXXXX") : QString());
    if (!scratch.isValid() || count <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: tags_bench [FILES] [ROUNDS] [FOLDER]\n");
        return 2;
    }

    QStringList paths;
    std::vector<QByteArray> encoded;
    for (int i = 0; i < count; ++i) {
        const QString p = scratch.path() + QStringLiteral("/file-%1.txt").arg(i);
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot create %s\n", qUtf8Printable(p));
            return 1;
        }
        paths.append(p);
        encoded.push_back(QFile::encodeName(p));
    }

    for (const char *store : {"system", "lumitag"}) {
        Defaults::standard().setValue(QStringLiteral("KLTagStore"), QString::fromLatin1(store));
        std::vector<double> bare, floor3, floorShared, kelso;
        std::vector<QByteArray> stamps;
        const qint64 base = QDateTime::currentMSecsSinceEpoch() * 1000;
        for (int i = 0; i < count; ++i)
            stamps.push_back(Plist::binaryDate(base + i));
        QStringList previous;
        for (int r = 0; r <= rounds; ++r) { // round 0 warms the caches and is not counted
            const QStringList next{QStringLiteral("Project"), QStringLiteral("round %1").arg(r)};
            settle(scratch.path());
            const double b = bareRound(encoded, next.join(QLatin1Char(',')).toUtf8());
            settle(scratch.path());
            const double f = bareWithStampRound(encoded, next.join(QLatin1Char(',')).toUtf8(), stamps);
            // The same with one stamp for every file, as Kelso wrote it before each write got a
            // stamp of its own: what sharing attribute blocks costs.
            settle(scratch.path());
            const double fs = bareWithStampRound(encoded, next.join(QLatin1Char(',')).toUtf8(),
                                                 std::vector<QByteArray>(stamps.size(), stamps.front()));
            // The bare pair wrote the system attribute: put the previous tags back first so that
            // Kelso's write does a real merge in both stores.
            for (const QString &p : paths)
                (void)Lumitag::setUserTags(previous, p);
            settle(scratch.path());
            const double k = kelsoRound(paths, previous, next);
            previous = next;
            if (r > 0) {
                bare.push_back(b);
                floor3.push_back(f);
                floorShared.push_back(fs);
                kelso.push_back(k);
            }
        }
        const double mb = median(bare);
        const double mk = median(kelso);
        std::printf("tag store %-8s  %d files, median of %d rounds\n", store, count, rounds);
        std::printf("  bare lgetxattr+lsetxattr : %9.1f ms  (%6.2f us/file)\n", mb, mb * 1000.0 / count);
        const double mf = median(floor3);
        std::printf("  same calls as Kelso, bare: %9.1f ms  (%6.2f us/file)  [get + stamp + set]\n", mf,
                    mf * 1000.0 / count);
        const double ms = median(floorShared);
        std::printf("  the same, one stamp      : %9.1f ms  (%6.2f us/file)  [%.2f x the bare pair]\n", ms,
                    ms * 1000.0 / count, ms / mb);
        std::printf("  setCommonUserTags        : %9.1f ms  (%6.2f us/file)\n", mk, mk * 1000.0 / count);
        std::printf("  ratio to the bare pair   : %9.2f x   (target <= 3)\n", mk / mb);
        std::printf("  ratio to the same calls  : %9.2f x\n", mk / mf);
    }
    return 0;
}
