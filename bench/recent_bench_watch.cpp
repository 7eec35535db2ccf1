// Watch setup of the file-system event stream against `inotifywait -r` on the same tree.
//
// Builds a home-like tree of 20,100 folders (100 × 10 × 19, one file in each), warms the
// caches with one walk, then alternates: inotifywait -r until it prints "Watches established.",
// and FileSystemEventStream::start() with the inotify backend until it answers (all watches
// placed). Each side runs three times; the medians and their ratio are printed.
#include "recent/FileSystemEventStream.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool makeTree(const QString &root, int top, int mid, int leaves, int *folders)
{
    *folders = 0;
    for (int a = 0; a < top; ++a)
        for (int b = 0; b < mid; ++b)
            for (int c = 0; c <= leaves; ++c) {
                // c == 0 stands for the middle folder itself.
                const QString dir = c == 0 ? QStringLiteral("%1/p%2/q%3").arg(root).arg(a).arg(b)
                                           : QStringLiteral("%1/p%2/q%3/r%4").arg(root).arg(a).arg(b).arg(c);
                if (!QDir().mkpath(dir))
                    return false;
                QFile f(dir + QStringLiteral("/note.txt"));
                if (!f.open(QIODevice::WriteOnly))
                    return false;
                f.write("x");
            }
    *folders = top + top * mid + top * mid * leaves;
    return true;
}

// Milliseconds until inotifywait -r reports its watches; negative on failure.
double timeInotifywait(const QString &program, const QString &root)
{
    QElapsedTimer t;
    t.start();
    QProcess v;
    v.setReadChannel(QProcess::StandardError);
    v.start(program,
            {QStringLiteral("-m"), QStringLiteral("-r"), QStringLiteral("-e"), QStringLiteral("create"), root});
    QByteArray err;
    while (!err.contains("Watches established")) {
        if (!v.waitForReadyRead(60000) && v.state() != QProcess::Running)
            return -1;
        err += v.readAllStandardError();
        if (t.elapsed() > 120000)
            return -1;
    }
    const double ms = t.nsecsElapsed() / 1e6;
    v.kill();
    v.waitForFinished();
    return ms;
}

double timeStream(const QString &root, const QString &stateBase, int run, int *dirs)
{
    FileSystemEventStream stream(QStringLiteral("%1/state-%2").arg(stateBase).arg(run));
    stream.setBackendPreference(QStringLiteral("inotify"));
    QElapsedTimer t;
    t.start();
    if (!stream.start({root}))
        return -1;
    const double ms = t.nsecsElapsed() / 1e6;
    *dirs = stream.watchedDirectoryCount();
    stream.shutdown();
    return ms;
}

} // namespace

int runWatchSetupBench()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("inotifywait"));
    QTemporaryDir base(QDir::homePath() + QStringLiteral("/kelso-watch-bench-XXXXXX"));
    if (!base.isValid()) {
        std::fprintf(stderr, "watch setup: cannot create a temporary folder\n");
        return 1;
    }
    const QString root = base.path() + QStringLiteral("/home");
    int folders = 0;
    QElapsedTimer make;
    make.start();
    if (!makeTree(root, 100, 10, 19, &folders)) {
        std::fprintf(stderr, "watch setup: cannot build the tree\n");
        return 1;
    }
    std::printf("watch setup: tree of %d folders built in %.1f s\n", folders + 1, make.elapsed() / 1000.0);
    // Warm the caches so that neither side pays for the first walk.
    QProcess::execute(QStringLiteral("/usr/bin/find"), {root, QStringLiteral("-name"), QStringLiteral("nothing-such")});

    std::vector<double> ours, theirs;
    int dirs = 0;
    for (int run = 0; run < 3; ++run) {
        if (!program.isEmpty()) {
            const double t = timeInotifywait(program, root);
            if (t >= 0)
                theirs.push_back(t);
        }
        const double o = timeStream(root, base.path() + QStringLiteral("/.state"), run, &dirs);
        if (o >= 0)
            ours.push_back(o);
    }
    if (ours.empty()) {
        std::fprintf(stderr, "watch setup: the stream did not start\n");
        return 1;
    }
    std::printf("watch setup: FileSystemEventStream (inotify) %.1f ms median of %zu, %d folders watched\n",
                median(ours), ours.size(), dirs);
    if (theirs.empty()) {
        std::printf("watch setup: inotifywait not available; no reference\n");
        return 0;
    }
    std::printf("watch setup: inotifywait -r                  %.1f ms median of %zu\n", median(theirs), theirs.size());
    std::printf("watch setup: ratio stream / inotifywait = %.2f (target <= 1.5)\n", median(ours) / median(theirs));
    return 0;
}
