// Thumbnail speed, side by side in one run on the same files: Kelso's renderer (one and two
// threads) against vipsthumbnail and gdk-pixbuf-thumbnailer, for 4000 × 3000 JPEGs and
// 2000 × 2000 PNGs at a 172-pixel box and at 1024, plus a hit in the shared thumbnail cache.
//
// The images are generated here (photo-like: gradients plus noise, so the codecs do real work).
// Every contender writes its thumbnail as a PNG file at zlib level 1, as Kelso writes its cache:
//   Kelso          decode scaled in a decoder worker process (as Kelso renders), pixels back
//                  over its socket, then the write (1 and 2 threads, each with its worker;
//                  per-file time = wall time / files)
//   in-proc        the same decode and write in this process, one thread (how Kelso decoded
//                  before its workers): kelso-1t ÷ in-proc is what the worker costs
//   Kelso full     a thumbnail request's whole path without a cache entry: decode at the
//                  freedesktop size folder's size, write the entry back, scale to the box
//   vipsthumbnail  all files in one process (its start-up spread over the files), at vips's
//                  default thread count and at --vips-concurrency=1
//   gdk-pixbuf     one process per file (the only way it runs)
// Times are medians (per-file) or wall time per file, each the median over alternating rounds;
// ratios are Kelso ÷ other (below 1: Kelso is faster).
//
// Usage: thumbs_bench [--files N] [--rounds R] [--keep DIR]
#include "platform/thumbnailer/DecoderWorkers.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "thumbs/ThumbnailRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {

QImage photoLike(int w, int h, quint32 seed)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(rng.generate() & 31) - 16;
            const int r = std::clamp(x * 255 / w + n, 0, 255);
            const int g = std::clamp(y * 255 / h + n, 0, 255);
            const int b = std::clamp(((x / 64 + y / 64) & 1) * 120 + 60 + n, 0, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    return img;
}

double median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

bool writePng(const QImage &img, const QString &path)
{
    QImageWriter w(path, "png");
    Thumbnailer::setFastPngCompression(w);
    return w.write(img);
}

// The same work decoded in this process (how Kelso decoded before its decoder workers): the
// worker's cost is the ratio kelso-1t / in-proc.
bool inProcessOne(const QString &file, int box, const QString &out)
{
    const QImage img =
        box > 256 ? Thumbnailer::fastImageThumbnail(file, box) : Thumbnailer::decodeImageFile(file, QSize(box, box));
    return !img.isNull() && writePng(img, out);
}

double inProcessRun(const QStringList &files, int box, const QString &outDir)
{
    QElapsedTimer t;
    t.start();
    for (const QString &f : files) {
        if (!inProcessOne(f, box, outDir + QLatin1Char('/') + QFileInfo(f).baseName() + QStringLiteral(".png")))
            std::fprintf(stderr, "in-process: a render failed\n");
    }
    return t.nsecsElapsed() / 1e6 / files.size();
}

// Kelso's work for one file: the renderer's decode for the box, then the PNG write.
bool kelsoOne(const QString &file, int box, const QString &out)
{
    QImage img;
    if (box > 256)
        img = ThumbnailRenderer::copyThumbOfImageFromFile(file, QSize(box, box)); // the fast path
    else
        img = DecoderWorkers::run(DecoderWorkers::Job::Image, file, QSize(box, box)).image;
    return !img.isNull() && writePng(img, out);
}

// The renderer's whole path as a thumbnail request takes it: no usable shared-cache entry, so
// decode at the size folder's size (256 for a 172 box), write the entry back, scale to the box.
double kelsoFullRun(const QStringList &files, int box)
{
    QList<double> times;
    for (const QString &f : files) {
        Thumbnailer::Request req;
        req.path = f;
        req.box = QSize(box, box);
        req.readSharedCache = false;
        QElapsedTimer t;
        t.start();
        if (Thumbnailer::create(req).image.isNull())
            std::fprintf(stderr, "kelso: full render failed\n");
        times.append(t.nsecsElapsed() / 1e6);
    }
    return median(times);
}

// Wall time per file with `threads` workers.
double kelsoRun(const QStringList &files, int box, int threads, const QString &outDir)
{
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    QElapsedTimer t;
    t.start();
    QList<QFuture<bool>> futures;
    for (const QString &f : files)
        futures.append(QtConcurrent::run(&pool, [=] {
            return kelsoOne(f, box, outDir + QLatin1Char('/') + QFileInfo(f).baseName() + QStringLiteral(".png"));
        }));
    bool ok = true;
    for (auto &fu : futures)
        ok = fu.result() && ok;
    if (!ok)
        std::fprintf(stderr, "kelso: a render failed\n");
    return t.nsecsElapsed() / 1e6 / files.size();
}

double runProcess(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return -1;
    }
    return t.nsecsElapsed() / 1e6;
}

double vipsRun(const QString &vips, const QStringList &files, int box, const QString &outDir, int concurrency)
{
    QStringList args{QStringLiteral("-s"), QString::number(box), QStringLiteral("-o"),
                     outDir + QStringLiteral("/%s.png[compression=1]")};
    if (concurrency > 0)
        args << QStringLiteral("--vips-concurrency=%1").arg(concurrency);
    args += files;
    const double ms = runProcess(vips, args);
    return ms < 0 ? -1 : ms / files.size();
}

double gdkRun(const QString &gdk, const QStringList &files, int box, const QString &outDir)
{
    QList<double> times;
    for (const QString &f : files) {
        const double ms =
            runProcess(gdk, {QStringLiteral("-s"), QString::number(box), f, outDir + QStringLiteral("/gdk.png")});
        if (ms < 0)
            return -1;
        times.append(ms);
    }
    return median(times);
}

void warm(const QStringList &files)
{
    for (const QString &f : files) {
        QFile file(f);
        if (file.open(QIODevice::ReadOnly))
            (void)file.readAll();
    }
}

QString ratio(double a, double b)
{
    return (a > 0 && b > 0) ? QString::number(a / b, 'f', 2) : QStringLiteral("n/a");
}

} // namespace

int main(int argc, char **argv)
{
    if (const int worker = DecoderWorkers::runIfWorker(argc, argv); worker >= 0)
        return worker;
    QCoreApplication app(argc, argv);
    int count = 6;
    int rounds = 3;
    QString keep;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--files") && i + 1 < args.size())
            count = std::max(1, args.at(++i).toInt());
        else if (args.at(i) == QLatin1String("--rounds") && i + 1 < args.size())
            rounds = std::max(1, args.at(++i).toInt());
        else if (args.at(i) == QLatin1String("--keep") && i + 1 < args.size())
            keep = args.at(++i);
    }
    QTemporaryDir tmp(QStringLiteral("/var/tmp/kelso-thumbs-bench-XXXXXX"));
    const QString root = keep.isEmpty() ? tmp.path() : keep;
    // Shared-cache writes of this run go to a private cache, never the user's.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    QDir().mkpath(root + QStringLiteral("/out"));
    const QString out = root + QStringLiteral("/out");

    std::printf("thumbs_bench: %d files per kind, %d rounds, images in %s\n", count, rounds, qPrintable(root));
    QStringList jpegs, pngs;
    for (int i = 0; i < count; ++i) {
        const QString j = root + QStringLiteral("/photo%1.jpg").arg(i);
        const QString p = root + QStringLiteral("/square%1.png").arg(i);
        if (!QFile::exists(j))
            photoLike(4000, 3000, 17 + i).save(j, "jpeg", 90);
        if (!QFile::exists(p))
            photoLike(2000, 2000, 99 + i).save(p, "png");
        jpegs << j;
        pngs << p;
    }
    warm(jpegs + pngs);

    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    const QString gdk = QStandardPaths::findExecutable(QStringLiteral("gdk-pixbuf-thumbnailer"));
    std::printf("ms per file (lower is better); ratio = Kelso / other\n");
    std::printf("%-10s %5s %9s %9s %10s %9s %9s %9s %10s   %s\n", "kind", "box", "kelso-1t", "in-proc", "kelso-2t",
                "kelso-full", "vips-1t", "vips", "gdk-pixbuf", "ratios: k1/inproc k1/vips1 k2/vips k1/gdk full/vips1");
    struct Set {
        const char *name;
        QStringList files;
    };
    for (const Set &set : {Set{"jpeg 4000", jpegs}, Set{"png 2000", pngs}}) {
        for (int box : {172, 1024}) {
            kelsoRun(set.files.mid(0, 1), box, 1, out); // warm the code paths
            // Rounds alternate the contenders, so a busy machine slows them all alike; the
            // figure of each is its median over the rounds.
            QList<double> k1s, k2s, v1s, vs, gs, fulls, ins;
            for (int round = 0; round < rounds; ++round) {
                k1s.append(kelsoRun(set.files, box, 1, out));
                ins.append(inProcessRun(set.files, box, out));
                if (!vips.isEmpty())
                    v1s.append(vipsRun(vips, set.files, box, out, 1));
                k2s.append(kelsoRun(set.files, box, 2, out));
                if (!vips.isEmpty())
                    vs.append(vipsRun(vips, set.files, box, out, 0));
                if (!gdk.isEmpty())
                    gs.append(gdkRun(gdk, set.files, box, out));
                fulls.append(kelsoFullRun(set.files, box));
            }
            const double k1 = median(k1s), k2 = median(k2s), full = median(fulls), in = median(ins);
            const double v1 = vips.isEmpty() ? -1 : median(v1s);
            const double v = vips.isEmpty() ? -1 : median(vs);
            const double g = gdk.isEmpty() ? -1 : median(gs);
            std::printf("%-10s %5d %9.1f %9.1f %9.1f %10.1f %9.1f %9.1f %10.1f   %s %s %s %s %s\n", set.name, box, k1,
                        in, k2, full, v1, v, g, qPrintable(ratio(k1, in)), qPrintable(ratio(k1, v1)),
                        qPrintable(ratio(k2, v)), qPrintable(ratio(k1, g)), qPrintable(ratio(full, v1)));
            std::fflush(stdout);
        }
    }

    // A hit in the shared cache: the entry another program (here: the first call) left.
    Thumbnailer::Request req;
    req.path = jpegs.first();
    req.box = QSize(172, 172);
    Thumbnailer::create(req);
    QList<double> hits;
    Thumbnailer::Source source = Thumbnailer::Source::None;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        const Thumbnailer::Result r = Thumbnailer::create(req);
        hits.append(t.nsecsElapsed() / 1e6);
        source = r.source;
    }
    std::printf("shared-cache hit (172 box from large/): median %.2f ms over 50, source %s\n", median(hits),
                qPrintable(Thumbnailer::sourceName(source)));
    if (!vips.isEmpty()) {
        const double once = runProcess(vips, {QStringLiteral("-s"), QStringLiteral("172"), QStringLiteral("-o"),
                                              out + QStringLiteral("/%s.png[compression=1]"), jpegs.first()});
        std::printf("vipsthumbnail, one JPEG in its own process: %.1f ms\n", once);
    }
    return 0;
}
