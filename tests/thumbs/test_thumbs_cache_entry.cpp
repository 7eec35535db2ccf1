// Entries of the shared thumbnail cache written by other programs, and the installed
// thumbnailers' files: what is accepted, what is refused before it costs memory.
#include "platform/thumbnailer/SharedCacheEntry.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "platform/thumbnailer/ThumbnailerEntry.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kUri = "file:///home/u/caf%C3%A9.jpg";

QImage entry(QSize size, const QString &mtime, const QString &fileSize = {})
{
    QImage image(size, QImage::Format_Grayscale8);
    image.fill(128);
    image.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(kUri));
    image.setText(QStringLiteral("Thumb::MTime"), mtime);
    if (!fileSize.isNull())
        image.setText(QStringLiteral("Thumb::Size"), fileSize);
    return image;
}

QByteArray png(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return buffer.data();
}

QImage read(const QByteArray &bytes, int maxSide)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return Thumbnailer::SharedCache::readEntry(&buffer, maxSide);
}

} // namespace

TEST(SharedCacheEntry, TextChunksMustNameTheFileVersionExactly)
{
    using Thumbnailer::SharedCache::entryMatches;
    const QImage good = read(png(entry(QSize(4, 4), QStringLiteral("1767225600"), QStringLiteral("4096"))), 256);
    ASSERT_FALSE(good.isNull());
    EXPECT_TRUE(entryMatches(good, kUri, 1767225600, 4096));
    EXPECT_FALSE(entryMatches(good, kUri, 1767225601, 4096));
    EXPECT_FALSE(entryMatches(good, kUri, 1767225600, 4097));
    EXPECT_FALSE(entryMatches(good, "file:///home/u/cafe.jpg", 1767225600, 4096));
    // Thumb::Size is optional; Thumb::MTime is not, and must be whole seconds.
    EXPECT_TRUE(entryMatches(read(png(entry(QSize(1, 1), QStringLiteral("1767225600"))), 256), kUri, 1767225600, 7));
    EXPECT_FALSE(entryMatches(read(png(entry(QSize(1, 1), QString())), 256), kUri, 0, 0));
    EXPECT_FALSE(entryMatches(read(png(entry(QSize(1, 1), QStringLiteral("1767225600.5"))), 256), kUri, 1767225600, 0));
    EXPECT_FALSE(entryMatches(read(png(entry(QSize(1, 1), QStringLiteral("99999999999999999999999"))), 256), kUri,
                              std::numeric_limits<qint64>::max(), 0));
    // Not a PNG, or cut short: no entry.
    const QByteArray bytes = png(entry(QSize(4, 4), QStringLiteral("1767225600")));
    EXPECT_TRUE(read(bytes.left(bytes.size() / 2), 256).isNull());
    EXPECT_TRUE(read(QByteArray("GIF89a"), 256).isNull());
    EXPECT_FALSE(entryMatches(QImage(), kUri, 0, 0));
}

TEST(SharedCacheEntry, AnEntryLargerThanItsFolderIsNotDecoded)
{
    const QByteArray big = png(entry(QSize(1000, 600), QStringLiteral("1")));
    EXPECT_TRUE(read(big, 512).isNull());
    EXPECT_EQ(read(big, 1000).size(), QSize(1000, 600));

    // Through the cache: a planted 1000-pixel entry in large/ (256) is passed over, a fitting one used.
    const QString photo = KelsoTest::home() + QStringLiteral("/cache-entry/photo.jpg");
    KelsoTest::writeFile(photo, QByteArray("not really a photo"));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(photo).constData(), &st), 0);
    const QByteArray uri = Thumbnailer::SharedCache::uriForPath(photo);
    const QString file = Thumbnailer::SharedCache::thumbnailPath(uri, QStringLiteral("large"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    QImage planted(1000, 600, QImage::Format_Grayscale8);
    planted.fill(0);
    planted.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    planted.setText(QStringLiteral("Thumb::MTime"), QString::number(qint64(st.st_mtim.tv_sec)));
    ASSERT_TRUE(planted.save(file, "png"));
    EXPECT_TRUE(Thumbnailer::SharedCache::lookup(photo, st, 200).isNull());
    QImage fitting = planted.scaled(256, 154);
    ASSERT_TRUE(fitting.save(file, "png"));
    EXPECT_EQ(Thumbnailer::SharedCache::lookup(photo, st, 200).size(), QSize(256, 154));

    // A failure record that large is no failure record either.
    const QString fail = Thumbnailer::SharedCache::thumbnailPath(uri, QStringLiteral("fail/other-program"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(fail).absolutePath()));
    QImage bigMark = planted.scaled(2000, 1200);
    ASSERT_TRUE(bigMark.save(fail, "png"));
    EXPECT_FALSE(Thumbnailer::SharedCache::hasFailure(photo, st));
    ASSERT_TRUE(planted.scaled(1, 1).save(fail, "png"));
    EXPECT_TRUE(Thumbnailer::SharedCache::hasFailure(photo, st));
}

// A 1 × 1 entry followed by a damaged chunk that announces `length` bytes it does not have.
QByteArray withDamagedChunk(quint32 length)
{
    QByteArray bytes = png(entry(QSize(1, 1), QStringLiteral("1")));
    const qsizetype iend = bytes.indexOf("IEND") - 4;
    char header[8];
    qToBigEndian<quint32>(length, header);
    std::memcpy(header + 4, "tEXt", 4);
    bytes.insert(iend, QByteArray(header, 8) + "Thumb::Size");
    return bytes;
}

TEST(SharedCacheEntry, AChunkLongerThanTheFileCostsNoMemory)
{
    // Asked of a child process, so that its peak memory is the read's alone.
    const QByteArray damaged = withDamagedChunk(0x5468756d); // 1.4 GB announced in 100 bytes
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rusage before, after;
        ::getrusage(RUSAGE_SELF, &before);
        const bool isNull = read(damaged, 256).isNull();
        ::getrusage(RUSAGE_SELF, &after);
        const long grewKb = after.ru_maxrss - before.ru_maxrss;
        ::_exit(isNull && grewKb < 64 * 1024 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    // Cut short anywhere, or with bytes after the last chunk's room: no entry.
    const QByteArray good = png(entry(QSize(2, 2), QStringLiteral("1")));
    EXPECT_FALSE(read(good, 256).isNull());
    EXPECT_TRUE(read(good.left(good.size() - 1), 256).isNull());
    EXPECT_TRUE(read(withDamagedChunk(20), 256).isNull());
}

TEST(ThumbnailerFile, OnlyTheEntryGroupCountsAndExecKeepsQuotedWords)
{
    const Thumbnailer::ThumbnailerEntry e = Thumbnailer::parseThumbnailerEntry(
        "# comment\r\n[Desktop Entry]\r\nExec=wrong\r\n[Thumbnailer Entry]\r\nTryExec = thumb \r\n"
        "Exec=\"/opt/My Tools/thumb\" -s %s \"%i\" %o %%\r\nMimeType=image/png;;video/mp4;\r\n"
        "[Other]\r\nExec=later\r\n");
    EXPECT_EQ(e.exec, QStringLiteral("\"/opt/My Tools/thumb\" -s %s \"%i\" %o %%"));
    EXPECT_EQ(e.tryExec, QStringLiteral("thumb"));
    EXPECT_EQ(e.mimeTypes, QStringList({QStringLiteral("image/png"), QStringLiteral("video/mp4")}));
    EXPECT_EQ(Thumbnailer::expandExec(e.exec, QStringLiteral("/a b/c.png"), QStringLiteral("file:///a%20b/c.png"),
                                      QStringLiteral("/tmp/o.png"), 128),
              QStringList({QStringLiteral("/opt/My Tools/thumb"), QStringLiteral("-s"), QStringLiteral("128"),
                           QStringLiteral("/a b/c.png"), QStringLiteral("/tmp/o.png"), QStringLiteral("%")}));
    // Bytes that are not UTF-8, a missing group, an unterminated quote: nothing to run, no crash.
    EXPECT_TRUE(Thumbnailer::parseThumbnailerEntry("Exec=x\n").exec.isEmpty());
    EXPECT_TRUE(Thumbnailer::expandExec(QStringLiteral("\"open %i"), QStringLiteral("/f"), {}, {}, 1).isEmpty())
        << "a quote left open";
    EXPECT_TRUE(Thumbnailer::parseThumbnailerEntry("[Thumbnailer Entry]\nMimeType=\xff\xfe;\n").exec.isEmpty());
}

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Removes the cache folder, or the link standing in its place (never what the link points to).
void removeCacheFolder(const QString &root)
{
    if (S_ISLNK(modeOf(root)))
        ::unlink(QFile::encodeName(root).constData());
    else
        QDir(root).removeRecursively();
}

} // namespace

TEST(SharedCacheFolders, ALinkPlantedAtACacheFolderIsRefusedAndItsTargetLeftAlone)
{
    const QString root = Thumbnailer::SharedCache::root();
    const QString aside = root + QStringLiteral(".kept-by-test");
    const bool hadRoot = QFileInfo(root).isDir();
    if (hadRoot) {
        ASSERT_EQ(::rename(QFile::encodeName(root).constData(), QFile::encodeName(aside).constData()), 0);
    }
    const QString photo = KelsoTest::home() + QStringLiteral("/cache-links/photo.jpg");
    KelsoTest::writeFile(photo, QByteArray("bytes"));
    struct stat st {
    };
    ASSERT_EQ(::stat(QFile::encodeName(photo).constData(), &st), 0);
    QImage thumbnail(8, 8, QImage::Format_RGB32);
    thumbnail.fill(Qt::red);

    // Each folder Kelso prepares on the way to a thumbnail or a failure record, a link in turn.
    const QStringList places = {QString(), QStringLiteral("normal"), QStringLiteral("fail"),
                                Thumbnailer::SharedCache::failureFolder()};
    for (const QString &place : places) {
        SCOPED_TRACE(place.isEmpty() ? "the cache folder" : qPrintable(place));
        removeCacheFolder(root);
        const QString target = KelsoTest::home() + QStringLiteral("/cache-links/elsewhere");
        QDir(target).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(target));
        ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0755), 0);
        const QString link = place.isEmpty() ? root : root + QLatin1Char('/') + place;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(link).absolutePath()));
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);

        const bool stored = Thumbnailer::SharedCache::store(thumbnail, photo, st, QStringLiteral("normal"));
        if (place.isEmpty() || place == QLatin1String("normal")) {
            EXPECT_FALSE(stored) << "a thumbnail was written through the link";
        }
        Thumbnailer::SharedCache::recordFailure(photo, st);
        EXPECT_EQ(modeOf(target) & 07777, mode_t(0755)) << "the link's target was made private";
        EXPECT_TRUE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
            << "something was written into the link's target";
        EXPECT_TRUE(S_ISLNK(modeOf(link))) << "the planted link stays as it was";
    }

    // Without links the same calls make private folders and write.
    removeCacheFolder(root);
    EXPECT_TRUE(Thumbnailer::SharedCache::store(thumbnail, photo, st, QStringLiteral("normal")));
    EXPECT_EQ(modeOf(root + QStringLiteral("/normal")) & 07777, mode_t(0700));
    removeCacheFolder(root);
    if (hadRoot) {
        ASSERT_EQ(::rename(QFile::encodeName(aside).constData(), QFile::encodeName(root).constData()), 0);
    }
}

namespace {

QStringList expand(const QString &exec, QString *why = nullptr)
{
    return Thumbnailer::expandExec(exec, QStringLiteral("/in"), QStringLiteral("file:///in"), QStringLiteral("/out"),
                                   128, why);
}

} // namespace

TEST(ThumbnailerFile, FieldCodesFollowTheDesktopEntryRules)
{
    // Deprecated codes go without leaving an empty argument behind.
    EXPECT_EQ(expand(QStringLiteral("thumb %d -s %s %D %n%N %v %m %i x%dy %o")).join('|'),
              QStringLiteral("thumb|-s|128|/in|xy|/out"));
    // %% is a percent sign, in quotes too; an empty quoted argument stays one.
    EXPECT_EQ(expand(QStringLiteral("thumb 100%% \"50%%\" \"\" %u")).join('|'),
              QStringLiteral("thumb|100%|50%||file:///in"));
    // A quoted argument that is one code and nothing else is that code.
    EXPECT_EQ(expand(QStringLiteral("thumb \"%i\" \"%o\"")).join('|'), QStringLiteral("thumb|/in|/out"));

    // Lines that must not run: nothing, and the reason.
    const QStringList refused = {
        QStringLiteral("thumb %x %i %o"),              // unknown code
        QStringLiteral("thumb %f %o"),                 // no file list to give a thumbnailer
        QStringLiteral("thumb %k %i %o"),              // nor a location of its own
        QStringLiteral("thumb %i %o 100%"),            // a % at the end
        QStringLiteral("sh -c \"convert %i png:%o\""), // a path inside a shell command
        QStringLiteral("thumb \"--in=%i\" %o"),        // a code inside a quoted argument
        QStringLiteral("thumb %i \"%o"),               // a quote left open
        QStringLiteral("%d %m"),                       // nothing left to run
    };
    for (const QString &line : refused) {
        QString why;
        EXPECT_TRUE(expand(line, &why).isEmpty()) << qPrintable(line);
        EXPECT_FALSE(why.isEmpty()) << qPrintable(line);
    }
    QString why;
    expand(QStringLiteral("thumb %x %i %o"), &why);
    EXPECT_TRUE(why.contains(QStringLiteral("%x"))) << qPrintable(why);

    // A value is one argument and never read again for codes.
    EXPECT_EQ(Thumbnailer::expandExec(QStringLiteral("thumb %i %o"), QStringLiteral("/a b/%o \"q\".png"), {},
                                      QStringLiteral("/out"), 1),
              QStringList({QStringLiteral("thumb"), QStringLiteral("/a b/%o \"q\".png"), QStringLiteral("/out")}));
}
