// The collector's two hot paths, each beside a reference measured in the same run:
//
// - "record": handling one file-system record for a folder of 1,000 files (listing, the
//   per-name rules, the per-file decision) against a bare readdir + lstat of the same folder.
//   Target: at most 2× the bare listing.
// - "rank": ranking 151 events of 21 items each into the list of at most 50. Target: under
//   1 ms. Its reference is copying the same event list (the floor of touching every item).
//
// Medians over many rounds after a warm-up; the files are in a fresh folder under the home.
#include "platform/Defaults.h"
#include "prefs/KLSettings.h"
#include "recent/KLRecentFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool makeFiles(const QString &dir, int n, double unixTime)
{
    if (!QDir().mkpath(dir))
        return false;
    for (int i = 0; i < n; ++i) {
        const QString p = QStringLiteral("%1/document-%2.txt").arg(dir).arg(i, 4, 10, QLatin1Char('0'));
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("x");
        f.close();
        struct timeval tv[2] = {{time_t(unixTime), 0}, {time_t(unixTime), 0}};
        ::utimes(QFile::encodeName(p).constData(), tv);
    }
    return true;
}

// The reference: what any scan of the folder has to do.
int bareListing(const QByteArray &dir)
{
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return -1;
    const int fd = ::dirfd(d);
    int n = 0;
    struct stat st;
    while (struct dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            ++n;
    }
    ::closedir(d);
    return n;
}

std::unique_ptr<KLRecentFiles> makeCollector(Defaults &defaults, const QString &store, std::function<KLTime()> clock)
{
    KLRecentFiles::Options o;
    o.defaults = &defaults;
    o.storePath = store;
    o.useDefaultStream = false;
    o.startStream = false;
    o.startOpenedFilesQuery = false;
    o.primeListingCache = false;
    o.clock = std::move(clock);
    o.currentEventID = [] { return quint64(1000000); };
    return std::make_unique<KLRecentFiles>(o);
}

} // namespace

int runCollectorRecordBench()
{
    QTemporaryDir tmp(QDir::homePath() + QStringLiteral("/kelso-bench-XXXXXX"));
    if (!tmp.isValid())
        return 1;
    const QString dir = tmp.path() + QStringLiteral("/Folder");
    // Old files: the record finds nothing new, as for most records of a busy folder.
    if (!makeFiles(dir, 1000, 1.0e9)) {
        std::fprintf(stderr, "recent_bench: cannot create the test folder\n");
        return 1;
    }
    Defaults defaults(tmp.path() + QStringLiteral("/settings.plist"));
    KLSettings::setupDefaults(defaults);
    double fakeNow = KLTimeUtil::now();
    // Records a second apart: the storm guard stays out of the way.
    auto collector = makeCollector(defaults, tmp.path() + QStringLiteral("/store.plist"), [&] { return fakeNow; });
    const QByteArray dirBytes = QFile::encodeName(dir);
    quint64 id = 999999;
    std::vector<double> handled, bare;
    for (int round = 0; round < 230; ++round) {
        QElapsedTimer t;
        t.start();
        const int n = bareListing(dirBytes);
        const double bareUs = t.nsecsElapsed() / 1000.0;
        fakeNow += 1.0;
        t.restart();
        collector->fileSystemEvent(FileSystemEvent(++id, dir, 0), nullptr);
        const double handledUs = t.nsecsElapsed() / 1000.0;
        if (n != 1000) {
            std::fprintf(stderr, "recent_bench: listed %d entries\n", n);
            return 1;
        }
        if (round >= 30) { // warm-up
            bare.push_back(bareUs);
            handled.push_back(handledUs);
        }
    }
    const double b = median(bare), h = median(handled);
    std::printf("record: one record for a folder of 1,000 files: %.1f us; bare readdir+lstat: %.1f us; ratio %.2f "
                "(target <= 2.00)\n",
                h, b, h / b);
    return 0;
}

int runCollectorRankBench()
{
    QTemporaryDir tmp(QDir::homePath() + QStringLiteral("/kelso-bench-XXXXXX"));
    if (!tmp.isValid())
        return 1;
    Defaults defaults(tmp.path() + QStringLiteral("/settings.plist"));
    KLSettings::setupDefaults(defaults);
    auto collector = makeCollector(defaults, tmp.path() + QStringLiteral("/store.plist"), {});
    QList<KLRecentEvent> events;
    const double base = 1.6e9;
    for (int e = 0; e < 151; ++e) {
        const QString dir = QStringLiteral("%1/f%2").arg(tmp.path()).arg(e);
        if (!makeFiles(dir, 21, base + e)) {
            std::fprintf(stderr, "recent_bench: cannot create the test folders\n");
            return 1;
        }
        KLRecentEvent ev;
        ev.path = dir;
        ev.date = KLTimeUtil::fromUnix(base + e);
        for (int i = 0; i < 21; ++i) {
            KLItemPtr item =
                KLItem::create(QStringLiteral("%1/document-%2.txt").arg(dir).arg(i, 4, 10, QLatin1Char('0')));
            item->calculateCache();
            ev.files.append(item);
        }
        events.prepend(ev);
    }
    collector->setPastEventsForTesting(events);
    KLItem::waitForBackgroundUpdates();
    std::vector<double> rank, copy;
    size_t sink = 0;
    for (int round = 0; round < 300; ++round) {
        QElapsedTimer t;
        t.start();
        const QList<KLRecentEvent> copied = collector->pastEvents();
        for (const KLRecentEvent &ev : copied)
            for (const KLItemPtr &item : ev.files)
                sink += item->lastKnownPath().size();
        const double copyUs = t.nsecsElapsed() / 1000.0;
        t.restart();
        const QList<KLItemPtr> ranked = collector->recentFiles({});
        const double rankUs = t.nsecsElapsed() / 1000.0;
        sink += size_t(ranked.size());
        if (round >= 30) {
            rank.push_back(rankUs);
            copy.push_back(copyUs);
        }
    }
    const double r = median(rank), c = median(copy);
    std::printf("rank: 151 events of 21 items: %.1f us (target < 1000 us); copying the list and reading every path: "
                "%.1f us; ratio %.2f  [%zu]\n",
                r, c, r / c, sink % 10);
    return 0;
}
