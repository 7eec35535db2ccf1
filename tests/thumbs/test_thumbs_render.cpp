// Rendering: formats, the shared freedesktop cache, installed thumbnailers, slow volumes, bad
// files and the command-line tool.
#include "Requests.h"
#include "TestMedia.h"
#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "platform/Mounts.h"
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
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtConcurrent>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace ThumbsTestMedia;

namespace {

QString dir(const QString &name)
{
    const QString d = KelsoTest::home() + QStringLiteral("/media/") + name;
    QDir().mkpath(d);
    return d;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    KelsoTest::writeFile(path, bytes);
}

void setMtime(const QString &path, qint64 seconds)
{
    struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), tv), 0);
}

bool isReddish(QRgb c)
{
    return qRed(c) > 170 && qBlue(c) < 90 && qGreen(c) < 90;
}
bool isBluish(QRgb c)
{
    return qBlue(c) > 170 && qRed(c) < 90 && qGreen(c) < 90;
}
bool isGreenish(QRgb c)
{
    return qGreen(c) > 170 && qRed(c) < 90 && qBlue(c) < 90;
}

Thumbnailer::Result render(const QString &path, int box = 172)
{
    Thumbnailer::Request r;
    r.path = path;
    r.box = QSize(box, box);
    return Thumbnailer::create(r);
}

// The renderer with its whole fallback chain; the way it took comes back in *how.
QImage renderAll(const QString &path, int box, QString *how)
{
    ThumbnailResult result;
    const QImage img = ThumbnailRenderer::renderImageWithQuickLook(thumbnailRequest(path, QSizeF(box, box)), &result);
    if (how)
        *how = result.renderPath;
    return img;
}

struct StderrCapture {
    QTemporaryFile file;
    int saved = -1;
    StderrCapture()
    {
        file.open();
        std::fflush(stderr);
        saved = ::dup(2);
        ::dup2(file.handle(), 2);
    }
    QString finish()
    {
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        file.seek(0);
        return QString::fromUtf8(file.readAll()).trimmed();
    }
};

int runTool(const QStringList &args, QString *err)
{
    StderrCapture cap;
    const int rc = runThumbnailCommand(args);
    *err = cap.finish();
    return rc;
}

} // namespace

TEST(Thumbnails, JpegPngGifAtTheRightSizeAndOrientation)
{
    const QString d = dir(QStringLiteral("formats"));
    writeBytes(d + QStringLiteral("/plain.jpg"), encode(twoTone(400, 300, Qt::red, Qt::blue), "jpeg", 90));
    // Stored 400 × 300 with red on top; orientation 6 shows it turned clockwise: 300 × 400 with
    // red on the right.
    writeBytes(d + QStringLiteral("/turned.jpg"), jpegWithOrientation(twoTone(400, 300, Qt::red, Qt::blue), 6));
    writeBytes(d + QStringLiteral("/wide.png"), encode(twoTone(600, 200, Qt::red, Qt::blue), "png"));
    writeBytes(d + QStringLiteral("/anim.gif"), gif(400, 300, Qt::red, Qt::blue, [](int, int y) { return y >= 150; }));

    Thumbnailer::Result r = render(d + QStringLiteral("/plain.jpg"));
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_EQ(r.image.size(), QSize(172, 129));
    EXPECT_TRUE(isReddish(r.image.pixel(86, 10)));
    EXPECT_TRUE(isBluish(r.image.pixel(86, 120)));

    r = render(d + QStringLiteral("/turned.jpg"));
    EXPECT_EQ(r.image.size(), QSize(129, 172));
    EXPECT_TRUE(isReddish(r.image.pixel(120, 86)));
    EXPECT_TRUE(isBluish(r.image.pixel(8, 86)));

    // The fast path (large boxes) applies the orientation too.
    const QImage fast = ThumbnailRenderer::copyThumbOfImageFromFile(d + QStringLiteral("/turned.jpg"), QSize(300, 300));
    EXPECT_EQ(fast.size(), QSize(225, 300));
    EXPECT_TRUE(isReddish(fast.pixel(215, 150)));
    QString how;
    const QImage big = renderAll(d + QStringLiteral("/plain.jpg"), 300, &how);
    EXPECT_EQ(big.size(), QSize(300, 225));
    EXPECT_EQ(how, QStringLiteral("decoder"));

    r = render(d + QStringLiteral("/wide.png"));
    EXPECT_EQ(r.image.size(), QSize(172, 57));
    EXPECT_TRUE(isReddish(r.image.pixel(86, 5)));

    r = render(d + QStringLiteral("/anim.gif"));
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_EQ(r.image.size(), QSize(172, 129));
    EXPECT_TRUE(isReddish(r.image.pixel(86, 10)));
    EXPECT_TRUE(isBluish(r.image.pixel(86, 120)));

    // A picture smaller than the box is not enlarged.
    writeBytes(d + QStringLiteral("/tiny.png"), encode(twoTone(40, 30, Qt::red, Qt::blue), "png"));
    EXPECT_EQ(render(d + QStringLiteral("/tiny.png")).image.size(), QSize(40, 30));
}

TEST(Thumbnails, WebpSvgAndPdf)
{
    const QString d = dir(QStringLiteral("documents"));
    if (QImageWriter::supportedImageFormats().contains("webp")) {
        writeBytes(d + QStringLiteral("/pic.webp"), encode(twoTone(300, 400, Qt::red, Qt::blue), "webp", 90));
        const Thumbnailer::Result r = render(d + QStringLiteral("/pic.webp"));
        EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
        EXPECT_EQ(r.image.size(), QSize(129, 172));
        EXPECT_TRUE(isReddish(r.image.pixel(64, 10)));
    } else {
        ADD_FAILURE() << "Qt has no WebP plugin (qt6-image-formats-plugins)";
    }

    writeBytes(d + QStringLiteral("/shape.svg"),
               "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100' viewBox='0 0 200 100'>"
               "<rect x='0' y='0' width='200' height='50' fill='#ff0000'/>"
               "<rect x='0' y='50' width='200' height='50' fill='#0000ff'/></svg>");
    Thumbnailer::Result r = render(d + QStringLiteral("/shape.svg"));
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_EQ(r.image.size(), QSize(172, 86));
    EXPECT_TRUE(isReddish(r.image.pixel(86, 10)));
    EXPECT_TRUE(isBluish(r.image.pixel(86, 80)));

    // Text in an SVG needs fonts, which a program without a GUI application (the command-line
    // tool, this test) does not have; the decoder worker has them, whatever its caller is.
    writeBytes(d + QStringLiteral("/label.svg"),
               "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100'>"
               "<rect width='200' height='100' fill='#ff0000'/><text x='10' y='60' font-size='40'>Hi</text></svg>");
    QString how;
    const QImage label = renderAll(d + QStringLiteral("/label.svg"), 172, &how);
    EXPECT_EQ(how, QStringLiteral("decoder"));
    EXPECT_EQ(label.size(), QSize(172, 86));

    {
        QPdfWriter writer(d + QStringLiteral("/page.pdf"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(72);
        QPainter p(&writer);
        const QRect page = p.viewport();
        p.fillRect(QRect(0, 0, page.width(), page.height() / 2), Qt::red);
        p.fillRect(QRect(0, page.height() / 2, page.width(), page.height() - page.height() / 2), Qt::blue);
    }
    r = render(d + QStringLiteral("/page.pdf"));
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_EQ(r.image.height(), 172);
    EXPECT_NEAR(r.image.width(), 172 * 210 / 297, 2); // A4 portrait
    EXPECT_TRUE(isReddish(r.image.pixel(r.image.width() / 2, 20)));
    EXPECT_TRUE(isBluish(r.image.pixel(r.image.width() / 2, 150)));
}

// The PDF renderer is a module loaded on first use; without it a PDF is no failure of the
// renderer chain: it gets a clear log line and goes on to the installed thumbnailers. Run in a
// child process, since the module is looked for once per process.
TEST(ThumbnailsDeathTest, APdfWithoutItsRendererModuleIsLoggedAndPassedOn)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QString d = dir(QStringLiteral("no-module"));
    {
        QPdfWriter writer(d + QStringLiteral("/page.pdf"));
        QPainter p(&writer);
        p.fillRect(p.viewport(), Qt::red);
    }
    EXPECT_EXIT(
        {
            qputenv("KELSO_PDF_MODULE", "/nonexistent/libkelso_pdf.so");
            const Thumbnailer::Result r = render(d + QStringLiteral("/page.pdf"));
            std::_Exit(r.source != Thumbnailer::Source::Decoder ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "cannot load the PDF renderer");
}

TEST(Thumbnails, VideoThroughTheInstalledThumbnailer)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("ffmpegthumbnailer")).isEmpty())
        GTEST_SKIP() << "ffmpeg or ffmpegthumbnailer not installed";
    const QString d = dir(QStringLiteral("video"));
    const QString clip = d + QStringLiteral("/clip.mp4");
    QProcess p;
    p.start(ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                     QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=10:duration=2"),
                     QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), clip});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0);
    Thumbnailer::Request req;
    req.path = clip;
    req.box = QSize(172, 172);
    req.thumbnailerTimeoutMs = 60000;
    const Thumbnailer::Result r = Thumbnailer::create(req);
    EXPECT_EQ(r.source, Thumbnailer::Source::Thumbnailer);
    EXPECT_EQ(r.image.width(), 172);
    EXPECT_EQ(r.image.height(), 129);
}

TEST(Thumbnails, InstalledThumbnailersGetTheirArgumentsAndATimeLimit)
{
    const QString home = KelsoTest::home();
    const QString tdir = home + QStringLiteral("/.local/share/thumbnailers");
    QDir().mkpath(tdir);
    const QString log = home + QStringLiteral("/thumbnailer.log");
    ASSERT_TRUE(twoTone(300, 150, Qt::green, Qt::green).save(home + QStringLiteral("/fake-out.png")));
    KelsoTest::writeFile(home + QStringLiteral("/fake-thumb.sh"),
                         QStringLiteral("#!/bin/sh\necho \"$1|$2|$3|$4\" >> '%1'\ncp '%2/fake-out.png' \"$2\"\n")
                             .arg(log, home)
                             .toUtf8());
    KelsoTest::writeFile(home + QStringLiteral("/slow-thumb.sh"),
                         QStringLiteral("#!/bin/sh\necho slow >> '%1'\nexec sleep 30\n").arg(log).toUtf8());
    QFile::setPermissions(home + QStringLiteral("/fake-thumb.sh"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(home + QStringLiteral("/slow-thumb.sh"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    KelsoTest::writeFile(
        tdir + QStringLiteral("/kelso-fake.thumbnailer"),
        QStringLiteral("[Thumbnailer Entry]\nExec=%1/fake-thumb.sh %i \"%o\" %s %u\nMimeType=application/x-blender;\n")
            .arg(home)
            .toUtf8());
    KelsoTest::writeFile(
        tdir + QStringLiteral("/kelso-slow.thumbnailer"),
        QStringLiteral("[Thumbnailer Entry]\nExec=%1/slow-thumb.sh %i %o\nMimeType=application/x-cpio;\n")
            .arg(home)
            .toUtf8());
    Thumbnailer::reloadThumbnailers();

    const QString d = dir(QStringLiteral("external"));
    const QString scene = d + QStringLiteral("/my scene.blend");
    writeBytes(scene, QByteArray("BLENDER-v300") + QByteArray(200, '\0'));
    const Thumbnailer::Result r = render(scene);
    EXPECT_EQ(r.source, Thumbnailer::Source::Thumbnailer);
    EXPECT_EQ(r.image.size(), QSize(172, 86));
    EXPECT_TRUE(isGreenish(r.image.pixel(86, 43)));
    QFile lf(log);
    ASSERT_TRUE(lf.open(QIODevice::ReadOnly));
    const QStringList fields = QString::fromUtf8(lf.readAll()).trimmed().split(QLatin1Char('|'));
    lf.close();
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields.at(0), scene);
    EXPECT_TRUE(fields.at(1).endsWith(QStringLiteral(".png")));
    EXPECT_EQ(fields.at(2), QStringLiteral("256")); // rendered at the "large" folder's size
    EXPECT_EQ(fields.at(3), QString::fromLatin1(Thumbnailer::SharedCache::uriForPath(scene)));

    // A thumbnailer that hangs is stopped at the time limit, and the failure is not retried.
    const QString archive = d + QStringLiteral("/old.cpio");
    writeBytes(archive, QByteArray("070707") + QByteArray(100, '0'));
    Thumbnailer::Request req;
    req.path = archive;
    req.box = QSize(172, 172);
    req.thumbnailerTimeoutMs = 1500;
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(Thumbnailer::create(req).image.isNull());
    EXPECT_LT(t.elapsed(), 25000); // the child sleeps 30 s
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(archive).constData(), &st), 0);
    EXPECT_TRUE(Thumbnailer::SharedCache::hasFailure(archive, st));
    auto slowRuns = [&] {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).count(QStringLiteral("slow")) : -1;
    };
    const int runs = slowRuns();
    EXPECT_LE(runs, 1);
    t.restart();
    EXPECT_TRUE(Thumbnailer::create(req).image.isNull());
    EXPECT_LT(t.elapsed(), 1500); // answered from the failure record…
    EXPECT_EQ(slowRuns(), runs);  // …without starting the thumbnailer again
}

TEST(SharedCache, NamesFoldersAndEscaping)
{
    using namespace Thumbnailer::SharedCache;
    EXPECT_EQ(uriForPath(QStringLiteral("/home/a b/#1 ü[x].png")),
              QByteArray("file:///home/a%20b/%231%20%C3%BC%5Bx%5D.png"));
    EXPECT_EQ(uriForPath(QStringLiteral("/x/!$&'()*+,-.:=@_~")), QByteArray("file:///x/!$&'()*+,-.:=@_~"));
    EXPECT_EQ(foldersForBox(172),
              (QStringList{QStringLiteral("large"), QStringLiteral("x-large"), QStringLiteral("xx-large")}));
    EXPECT_EQ(foldersForBox(100).first(), QStringLiteral("normal"));
    EXPECT_TRUE(foldersForBox(1025).isEmpty());
    EXPECT_EQ(thumbnailPath("file:///home/jens/photos/me.png", QStringLiteral("normal")),
              root() + QStringLiteral("/normal/") +
                  QString::fromLatin1(
                      QCryptographicHash::hash("file:///home/jens/photos/me.png", QCryptographicHash::Md5).toHex()) +
                  QStringLiteral(".png"));
}

TEST(SharedCache, UsesAnotherProgramsThumbnailAndRendersAChangedFileAgain)
{
    const QString d = dir(QStringLiteral("shared"));
    const QString photo = d + QStringLiteral("/photo.jpg");
    writeBytes(photo, encode(twoTone(400, 300, Qt::red, Qt::red), "jpeg", 90));
    setMtime(photo, 1700000000);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(photo).constData(), &st), 0);

    // Another program's entry: green, though the photo is red.
    const QByteArray uri = Thumbnailer::SharedCache::uriForPath(photo);
    const QString entry = Thumbnailer::SharedCache::thumbnailPath(uri, QStringLiteral("large"));
    QDir().mkpath(QFileInfo(entry).absolutePath());
    QImage green = twoTone(256, 192, Qt::green, Qt::green);
    green.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    green.setText(QStringLiteral("Thumb::MTime"), QStringLiteral("1700000000"));
    ASSERT_TRUE(green.save(entry, "png"));
    Thumbnailer::Result r = render(photo);
    EXPECT_EQ(r.source, Thumbnailer::Source::FreedesktopCache);
    EXPECT_EQ(r.image.size(), QSize(172, 129));
    EXPECT_TRUE(isGreenish(r.image.pixel(86, 60)));
    QString how;
    renderAll(photo, 172, &how);
    EXPECT_EQ(how, QStringLiteral("freedesktop-cache"));

    // An entry whose recorded size disagrees is stale.
    green.setText(QStringLiteral("Thumb::Size"), QString::number(qint64(st.st_size) + 1));
    ASSERT_TRUE(green.save(entry, "png"));
    r = render(photo);
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_TRUE(isReddish(r.image.pixel(86, 60)));
    // …and was replaced by ours, written as the standard says.
    const QImage written(entry);
    EXPECT_EQ(written.text(QStringLiteral("Thumb::URI")), QString::fromLatin1(uri));
    EXPECT_EQ(written.text(QStringLiteral("Thumb::MTime")), QStringLiteral("1700000000"));
    EXPECT_EQ(written.text(QStringLiteral("Thumb::Size")), QString::number(qint64(st.st_size)));
    EXPECT_EQ(written.text(QStringLiteral("Software")), QStringLiteral("Kelso"));
    EXPECT_EQ(written.size(), QSize(256, 192));
    EXPECT_EQ(QFileInfo(entry).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    EXPECT_EQ(QFileInfo(QFileInfo(entry).absolutePath()).permissions() & 0x0077, 0); // nobody else
    EXPECT_EQ(render(photo).source, Thumbnailer::Source::FreedesktopCache);

    // The photo changes: the old entry no longer counts.
    writeBytes(photo, encode(twoTone(400, 300, Qt::blue, Qt::blue), "jpeg", 90));
    setMtime(photo, 1700000100);
    r = render(photo);
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_TRUE(isBluish(r.image.pixel(86, 60)));
    EXPECT_EQ(render(photo).source, Thumbnailer::Source::FreedesktopCache);
    EXPECT_TRUE(isBluish(render(photo).image.pixel(86, 60)));
}

TEST(Thumbnails, CorruptAndTruncatedImagesFallBackToTheIcon)
{
    const QString d = dir(QStringLiteral("bad"));
    QByteArray garbage("\xff\xd8\xff\xe0", 4);
    for (int i = 0; i < 2000; ++i)
        garbage += char((i * 7919) & 0xff);
    writeBytes(d + QStringLiteral("/bad.jpg"), garbage);
    writeBytes(d + QStringLiteral("/cut.png"), encode(twoTone(400, 300, Qt::red, Qt::blue), "png").left(60));
    writeBytes(d + QStringLiteral("/empty.png"), QByteArray());
    for (const QString &name : {QStringLiteral("bad.jpg"), QStringLiteral("cut.png"), QStringLiteral("empty.png")}) {
        for (int box : {172, 400}) {
            QString how;
            const QImage img = renderAll(d + QLatin1Char('/') + name, box, &how);
            EXPECT_FALSE(img.isNull()) << qPrintable(name);
            EXPECT_EQ(how, QStringLiteral("icon")) << qPrintable(name) << " at " << box;
        }
    }
    // The failure is remembered so the next draw does not try again.
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(d + QStringLiteral("/bad.jpg")).constData(), &st), 0);
    EXPECT_TRUE(Thumbnailer::SharedCache::hasFailure(d + QStringLiteral("/bad.jpg"), st));
}

TEST(Thumbnails, UnknownFileGetsItsTypeIcon)
{
    const QString d = dir(QStringLiteral("unknown"));
    writeBytes(d + QStringLiteral("/data.kelsoq"), QByteArray(300, '\x01'));
    QString how;
    const QImage img = renderAll(d + QStringLiteral("/data.kelsoq"), 172, &how);
    EXPECT_EQ(how, QStringLiteral("icon"));
    EXPECT_EQ(img.size(), QSize(172, 172));
    EXPECT_TRUE(renderAll(QString(), 172, &how).isNull());
}

TEST(Thumbnails, FileOnASlowVolumeIsNeverOpened)
{
    const QString d = dir(QStringLiteral("nas"));
    // A FIFO: anything that opens it for reading blocks until a writer comes.
    const QString trap = d + QStringLiteral("/holiday.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(trap).constData(), 0644), 0);
    const QString mountinfo = KelsoTest::home() + QStringLiteral("/mountinfo");
    KelsoTest::writeFile(mountinfo,
                         QStringLiteral("22 1 253:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                                        "99 22 0:77 / %1 rw,relatime shared:50 - nfs4 nas:/export rw,vers=4.2\n")
                             .arg(d)
                             .toUtf8());
    Mounts::setMountInfoPathForTesting(mountinfo);
    XPFileUtils::rebuildSlowVolumes();
    ASSERT_TRUE(XPFileUtils::pathIsOnSlowVolume(trap));

    QFuture<QPair<QImage, QString>> f = QtConcurrent::run([trap] {
        ThumbnailResult result;
        const QImage img =
            ThumbnailRenderer::kpThumbnailImageCreateSync(thumbnailRequest(trap, QSizeF(172, 172)), &result);
        return qMakePair(img, result.renderPath);
    });
    const bool done = KelsoTest::waitFor([&] { return f.isFinished(); }, 30000);
    if (!done) {
        // Free the stuck reader before failing.
        const int fd = ::open(QFile::encodeName(trap).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        f.waitForFinished();
    }
    Mounts::setMountInfoPathForTesting(QString());
    XPFileUtils::rebuildSlowVolumes();
    ASSERT_TRUE(done) << "the renderer opened a file on a slow volume";
    EXPECT_EQ(f.result().second, QStringLiteral("icon"));
    EXPECT_EQ(f.result().first.size(), QSize(172, 172));
}

TEST(Thumbnails, SpecialFilesAreNotReadButGetAnIcon)
{
    // A FIFO named like a picture: reading it would block the worker for good.
    const QString d = dir(QStringLiteral("special"));
    const QString fifo = d + QStringLiteral("/pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    QFuture<QString> f = QtConcurrent::run([fifo] {
        QString how;
        const QImage img = renderAll(fifo, 172, &how);
        return img.isNull() ? QStringLiteral("null") : how;
    });
    const bool done = KelsoTest::waitFor([&] { return f.isFinished(); }, 30000);
    if (!done) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        f.waitForFinished();
    }
    ASSERT_TRUE(done) << "the renderer opened a FIFO";
    EXPECT_EQ(f.result(), QStringLiteral("icon"));
    // A folder is drawn as a folder icon.
    QString how;
    EXPECT_EQ(renderAll(d, 64, &how).size(), QSize(64, 64));
    EXPECT_EQ(how, QStringLiteral("icon"));
}

TEST(ThumbnailCommand, RendersThroughTheCachesAndSaysWhichWay)
{
    const QString d = dir(QStringLiteral("tool"));
    const QString photo = d + QStringLiteral("/shot.jpg");
    writeBytes(photo, encode(twoTone(800, 600, Qt::red, Qt::blue), "jpeg", 90));
    const QString out = d + QStringLiteral("/out.png");
    QString err;
    ASSERT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("128"), QStringLiteral("--output"), out}, &err),
              0)
        << qPrintable(err);
    EXPECT_EQ(err, QStringLiteral("decoder"));
    QImage img(out);
    EXPECT_EQ(img.size(), QSize(128, 96));
    EXPECT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("128"), QStringLiteral("--output"), out}, &err),
              0);
    EXPECT_EQ(err, QStringLiteral("freedesktop-cache"));

    // Icon mode: the frame leaves transparent corners around an opaque picture.
    ASSERT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("128"), QStringLiteral("--output"), out,
                       QStringLiteral("--icon-mode")},
                      &err),
              0);
    img = QImage(out);
    EXPECT_LE(img.width(), 128);
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(img.pixel(img.width() / 2, img.height() / 2)), 255);

    writeBytes(d + QStringLiteral("/odd.kelsoq"), QByteArray(64, '\x02'));
    ASSERT_EQ(runTool({d + QStringLiteral("/odd.kelsoq"), QStringLiteral("--size"), QStringLiteral("64"),
                       QStringLiteral("--output"), out},
                      &err),
              0);
    EXPECT_EQ(err, QStringLiteral("icon"));

    // Kelso's own slow-render cache, once an entry exists.
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), true);
    SlowRenderCache::setCacheAllowed(true);
    ThumbnailRenderer::updateCachedPrefs();
    SlowRenderCache::createCacheFile(photo, QSize(200, 200));
    ASSERT_TRUE(KPQuickLook::waitUntilAllOperationsAreFinished(30000));
    ASSERT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("200"), QStringLiteral("--output"), out}, &err),
              0);
    EXPECT_EQ(err, QStringLiteral("kelso-cache"));
    EXPECT_EQ(QImage(out).size(), QSize(200, 150));
    Defaults::standard().setBool(QStringLiteral("KPQuicklookCacheSlowImages"), false);
    ThumbnailRenderer::updateCachedPrefs();

    EXPECT_EQ(runTool({photo, QStringLiteral("--output"), out}, &err), 2);
    EXPECT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("0"), QStringLiteral("--output"), out}, &err),
              2);
    EXPECT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("64")}, &err), 2);
    EXPECT_EQ(runTool({d + QStringLiteral("/missing.jpg"), QStringLiteral("--size"), QStringLiteral("64"),
                       QStringLiteral("--output"), out},
                      &err),
              1);
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(runTool({photo, QStringLiteral("--size"), QStringLiteral("64"), QStringLiteral("--output"),
                       d + QStringLiteral("/no/such/dir/x.png")},
                      &err),
              1);
}

TEST(Thumbnails, AThumbnailerWhoseExecCannotRunIsPassedOverForTheNextOne)
{
    // Two thumbnailers for one type; the first (by name) puts the file's path inside a shell
    // command, which is refused when the files are read, so the second one is used.
    const QString home = KelsoTest::home();
    const QString tdir = home + QStringLiteral("/.local/share/thumbnailers");
    QDir().mkpath(tdir);
    const QString ran = home + QStringLiteral("/refused-ran");
    ASSERT_TRUE(twoTone(300, 150, Qt::green, Qt::green).save(home + QStringLiteral("/good-out.png")));
    KelsoTest::writeFile(home + QStringLiteral("/good-thumb.sh"),
                         QStringLiteral("#!/bin/sh\ncp '%1/good-out.png' \"$2\"\n").arg(home).toUtf8());
    QFile::setPermissions(home + QStringLiteral("/good-thumb.sh"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    KelsoTest::writeFile(tdir + QStringLiteral("/a-refused.thumbnailer"),
                         QStringLiteral("[Thumbnailer Entry]\nExec=sh -c \"touch '%1'; cp %i %o\"\n"
                                        "MimeType=application/x-krita;\n")
                             .arg(ran)
                             .toUtf8());
    KelsoTest::writeFile(
        tdir + QStringLiteral("/b-good.thumbnailer"),
        QStringLiteral("[Thumbnailer Entry]\nExec=%1/good-thumb.sh %i %o\nMimeType=application/x-krita;\n")
            .arg(home)
            .toUtf8());
    Thumbnailer::reloadThumbnailers();

    const QString painting = dir(QStringLiteral("refused-exec")) + QStringLiteral("/painting.kra");
    writeBytes(painting, QByteArray("PK\x03\x04 not really a krita file"));
    const Thumbnailer::Result r = render(painting);
    EXPECT_EQ(r.source, Thumbnailer::Source::Thumbnailer);
    ASSERT_FALSE(r.image.isNull());
    EXPECT_TRUE(isGreenish(r.image.pixel(r.image.width() / 2, r.image.height() / 2)));
    EXPECT_FALSE(QFile::exists(ran)) << "the refused command line ran";
}
