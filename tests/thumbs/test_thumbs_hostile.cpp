// Files made to hurt a decoder (a self-referencing SVG, a PDF whose page tree holds itself, a
// PNG announcing 30000 × 30000 pixels, a JPEG cut short): Kelso keeps running, answers within
// its time limit, records the failure where the thumbnail standard says and never tries again
// until the file changes; quitting does not wait for a decoder; installed thumbnailers run with
// limits and none of Kelso's descriptors.
#include "HostileFiles.h"
#include "Requests.h"
#include "TestMedia.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"
#include "thumbs/SlowRenderCache.h"
#include "thumbs/ThumbnailCommand.h"
#include "thumbs/ThumbnailRenderer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryFile>
#include <QtConcurrent>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

QString dir(const QString &name)
{
    const QString d = KelsoTest::home() + QStringLiteral("/hostile/") + name;
    QDir().mkpath(d);
    return d;
}

struct Hostile {
    QString svg, pdf, bomb, jpeg;
};

Hostile makeHostileFiles(const QString &d)
{
    Hostile h{d + QStringLiteral("/self.svg"), d + QStringLiteral("/loop.pdf"), d + QStringLiteral("/bomb.png"),
              d + QStringLiteral("/cut.jpg")};
    KelsoTest::writeFile(h.svg, HostileFiles::selfReferencingSvg(h.svg));
    KelsoTest::writeFile(h.pdf, HostileFiles::loopingPdf());
    KelsoTest::writeFile(h.bomb, HostileFiles::pngBomb());
    KelsoTest::writeFile(h.jpeg, HostileFiles::truncatedJpeg());
    return h;
}

struct stat statOf(const QString &path)
{
    struct stat st {
    };
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

void setMtime(const QString &path, qint64 seconds)
{
    struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
    ::utimes(QFile::encodeName(path).constData(), tv);
}

QString md5Name(const QString &path)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(Thumbnailer::SharedCache::uriForPath(path), QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

// Runs `work` on another thread; a test that would hang fails instead (and ends the program,
// since a decoder stuck in this process cannot be stopped).
template <typename T> T withinOrDie(int ms, const std::function<T()> &work, const char *what)
{
    QFuture<T> f = QtConcurrent::run(work);
    if (!KelsoTest::waitFor([&] { return f.isFinished(); }, ms)) {
        ADD_FAILURE() << what << " did not finish within " << ms << " ms";
        std::fflush(stdout);
        std::_Exit(1);
    }
    return f.result();
}

struct ToolRun {
    int status = -1;
    QString err;
    qint64 ms = 0;
};

ToolRun runTool(const QStringList &args)
{
    QTemporaryFile capture;
    capture.open();
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    QElapsedTimer t;
    t.start();
    ToolRun run;
    run.status = runThumbnailCommand(args);
    run.ms = t.elapsed();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    run.err = QString::fromUtf8(capture.readAll()).trimmed();
    return run;
}

} // namespace

TEST(HostileFiles, CommandLineToolRefusesEachWithOneLineWithinTheTimeLimit)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's reports on a crashing worker's stderr add lines of their own";
#endif
    const QString d = dir(QStringLiteral("tool"));
    const Hostile h = makeHostileFiles(d);
    const QString out = d + QStringLiteral("/out.png");
    for (const QString &file : {h.svg, h.pdf, h.bomb, h.jpeg}) {
        const ToolRun run = withinOrDie<ToolRun>(
            20000,
            [&] {
                return runTool(
                    {file, QStringLiteral("--size"), QStringLiteral("128"), QStringLiteral("--output"), out});
            },
            "kelso thumbnail");
        const QString name = QFileInfo(file).fileName();
        EXPECT_EQ(run.status, 1) << qPrintable(name) << ": " << qPrintable(run.err);
        // One line saying which file and why (Qt's own warnings from a decoder stay out).
        const QStringList lines = run.err.split(QLatin1Char('\n'));
        EXPECT_EQ(lines.size(), 1) << qPrintable(run.err);
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("kelso thumbnail: "))) << qPrintable(run.err);
        EXPECT_TRUE(lines.last().contains(name)) << qPrintable(run.err);
        EXPECT_LT(run.ms, 4000 + 3000) << qPrintable(name); // the job's limit, plus a worker's start
        EXPECT_FALSE(QFile::exists(out)) << qPrintable(name);
    }
    // The bomb is refused from its header, so at once and with the reason.
    const ToolRun again =
        runTool({h.bomb, QStringLiteral("--size"), QStringLiteral("128"), QStringLiteral("--output"), out});
    EXPECT_EQ(again.status, 1);
    // A file that decodes well still does, after all that.
    const QString good = d + QStringLiteral("/good.png");
    KelsoTest::writeFile(good, ThumbsTestMedia::encode(ThumbsTestMedia::twoTone(200, 100, Qt::red, Qt::blue), "png"));
    const ToolRun fine =
        runTool({good, QStringLiteral("--size"), QStringLiteral("128"), QStringLiteral("--output"), out});
    EXPECT_EQ(fine.status, 0) << qPrintable(fine.err);
    EXPECT_EQ(QImage(out).size(), QSize(128, 64));
}

TEST(HostileFiles, BombIsRefusedFromItsHeaderBeforeDecoding)
{
    const QString d = dir(QStringLiteral("bomb"));
    const QString bomb = d + QStringLiteral("/huge.png");
    KelsoTest::writeFile(bomb, HostileFiles::pngBomb());
    ASSERT_EQ(QImageReader(bomb).size(), QSize(30000, 30000)); // what the header promises
    Thumbnailer::Request req;
    req.path = bomb;
    req.box = QSize(172, 172);
    QElapsedTimer t;
    t.start();
    const Thumbnailer::Result r = withinOrDie<Thumbnailer::Result>(
        20000, [&] { return Thumbnailer::create(req); }, "bomb");
    EXPECT_TRUE(r.image.isNull());
    EXPECT_TRUE(r.failure.contains(QStringLiteral("too large"))) << qPrintable(r.failure);
    EXPECT_LT(t.elapsed(), 3000);
    // The renderer's whole chain gives the icon and tells why.
    ThumbnailResult request;
    const QImage icon = ThumbnailRenderer::renderImageWithQuickLook(thumbnailRequest(bomb, QSizeF(400, 400)), &request);
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(request.renderPath, QStringLiteral("icon"));
    EXPECT_FALSE(request.failure.isEmpty());
}

TEST(HostileFiles, FailureIsRecordedAsTheStandardSaysAndKeptUntilTheFileChanges)
{
    const QString d = dir(QStringLiteral("record"));
    const Hostile h = makeHostileFiles(d);
    setMtime(h.svg, 1700000000);
    Thumbnailer::Request req;
    req.path = h.svg;
    req.box = QSize(172, 172);
    EXPECT_TRUE(withinOrDie<Thumbnailer::Result>(
                    20000, [&] { return Thumbnailer::create(req); }, "svg")
                    .image.isNull());

    // fail/kelso-VERSION/MD5(uri).png, a PNG carrying Thumb::URI and Thumb::MTime.
    const QString record =
        Thumbnailer::SharedCache::root() + QStringLiteral("/fail/kelso-" KELSO_VERSION "/") + md5Name(h.svg);
    ASSERT_TRUE(QFile::exists(record)) << qPrintable(record);
    const QImage mark(record, "png");
    ASSERT_FALSE(mark.isNull());
    EXPECT_EQ(mark.text(QStringLiteral("Thumb::URI")).toUtf8(), Thumbnailer::SharedCache::uriForPath(h.svg));
    EXPECT_EQ(mark.text(QStringLiteral("Thumb::MTime")), QStringLiteral("1700000000"));
    EXPECT_FALSE(QFileInfo(record).permissions() & (QFile::ReadOther | QFile::ReadGroup));

    // The record is all a later start has: it answers without another try, quickly.
    EXPECT_TRUE(Thumbnailer::SharedCache::hasFailure(h.svg, statOf(h.svg)));
    QElapsedTimer t;
    t.start();
    const Thumbnailer::Result again = withinOrDie<Thumbnailer::Result>(
        20000, [&] { return Thumbnailer::create(req); }, "svg again");
    EXPECT_TRUE(again.image.isNull());
    EXPECT_LT(t.elapsed(), 1000);

    // A changed file is tried again: replaced by a good picture, it renders.
    KelsoTest::writeFile(h.svg, "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'>"
                                "<rect width='100' height='50' fill='#00ff00'/></svg>");
    setMtime(h.svg, 1700000100);
    EXPECT_FALSE(Thumbnailer::SharedCache::hasFailure(h.svg, statOf(h.svg)));
    const Thumbnailer::Result fixed = withinOrDie<Thumbnailer::Result>(
        20000, [&] { return Thumbnailer::create(req); }, "fixed svg");
    EXPECT_EQ(fixed.image.size(), QSize(172, 86));
}

TEST(HostileFiles, OtherThumbnailersFailureRecordsAreHonoured)
{
    const QString d = dir(QStringLiteral("others"));
    const QString photo = d + QStringLiteral("/photo.jpg");
    KelsoTest::writeFile(photo,
                         ThumbsTestMedia::encode(ThumbsTestMedia::twoTone(300, 150, Qt::red, Qt::blue), "jpeg", 90));
    setMtime(photo, 1700000000);
    // What GNOME's thumbnail factory leaves for a file it could not read.
    const QString folder = Thumbnailer::SharedCache::root() + QStringLiteral("/fail/gnome-thumbnail-factory");
    QDir().mkpath(folder);
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    mark.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(Thumbnailer::SharedCache::uriForPath(photo)));
    mark.setText(QStringLiteral("Thumb::MTime"), QStringLiteral("1700000000"));
    ASSERT_TRUE(mark.save(folder + QLatin1Char('/') + md5Name(photo), "png"));

    Thumbnailer::Request req;
    req.path = photo;
    req.box = QSize(172, 172);
    EXPECT_TRUE(Thumbnailer::create(req).image.isNull());
    // The fast path at large boxes honours it as well: the icon, no decoding.
    ThumbnailResult request;
    ThumbnailRenderer::renderImageWithQuickLook(thumbnailRequest(photo, QSizeF(400, 400)), &request);
    EXPECT_EQ(request.renderPath, QStringLiteral("icon"));

    // The record is for another version of the file: this one renders.
    setMtime(photo, 1700000500);
    const Thumbnailer::Result r = Thumbnailer::create(req);
    EXPECT_EQ(r.image.size(), QSize(172, 86));
}

TEST(HostileFiles, InstalledThumbnailersRunWithLimitsAndWithoutKelsosDescriptors)
{
    const QString home = KelsoTest::home();
    const QString tdir = home + QStringLiteral("/.local/share/thumbnailers");
    QDir().mkpath(tdir);
    const QString log = home + QStringLiteral("/limits.log");
    // A descriptor of Kelso's that is not close-on-exec, as a library might leave one.
    const QString marker = home + QStringLiteral("/kelso-private-marker");
    KelsoTest::writeFile(marker, "secret");
    const int leaked = ::open(QFile::encodeName(marker).constData(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    KelsoTest::writeFile(
        home + QStringLiteral("/limits-thumb.sh"),
        QStringLiteral("#!/bin/sh\n(ulimit -v; for f in /proc/$$/fd/*; do readlink \"$f\"; done) > '%1'\nexit 1\n")
            .arg(log)
            .toUtf8());
    QFile::setPermissions(home + QStringLiteral("/limits-thumb.sh"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    KelsoTest::writeFile(
        tdir + QStringLiteral("/kelso-limits.thumbnailer"),
        QStringLiteral("[Thumbnailer Entry]\nExec=%1/limits-thumb.sh %i %o\nMimeType=application/x-lzip;\n")
            .arg(home)
            .toUtf8());
    Thumbnailer::reloadThumbnailers();
    const QString file = dir(QStringLiteral("limits")) + QStringLiteral("/data.lz");
    KelsoTest::writeFile(file, QByteArray("LZIP\x01") + QByteArray(100, '\x0c'));
    Thumbnailer::Request req;
    req.path = file;
    req.box = QSize(128, 128);
    const Thumbnailer::Result r = Thumbnailer::create(req);
    ::close(leaked);
    EXPECT_TRUE(r.image.isNull());
    QFile lf(log);
    ASSERT_TRUE(lf.open(QIODevice::ReadOnly)) << "the thumbnailer did not run";
    const QStringList lines = QString::fromUtf8(lf.readAll()).trimmed().split(QLatin1Char('\n'));
    ASSERT_FALSE(lines.isEmpty());
#if !defined(__SANITIZE_ADDRESS__) // no address-space limit under AddressSanitizer
    EXPECT_EQ(lines.first(), QStringLiteral("1048576")) << "address-space limit in KiB";
#endif
    EXPECT_FALSE(lines.contains(marker)) << qPrintable(lines.join(QLatin1Char(' ')));
}

// Quitting kills what decodes instead of waiting for it. In a child process: quitting ends the
// thumbnail machinery for good.
TEST(HostileFilesDeathTest, QuitTakesUnderTwoSecondsWhileADecoderLoops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QString d = dir(QStringLiteral("quit"));
    const Hostile h = makeHostileFiles(d);
    EXPECT_EXIT(
        {
            std::atomic<int> delivered{0};
            for (const QString &file : {h.pdf, h.svg})
                KPQuickLook::thumbnailImageCreate(
                    thumbnailRequest(file, QSizeF(172, 172)), [&](const ThumbnailResult &) { ++delivered; }, false);
            ::usleep(700 * 1000); // the PDF's decoder is busy by now
            QElapsedTimer t;
            t.start();
            KPQuickLook::shutdown();
            std::_Exit(t.elapsed() < 2000 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
