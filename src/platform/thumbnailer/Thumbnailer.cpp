#include "platform/thumbnailer/Thumbnailer.h"

#include "platform/StoreFile.h"
#include "platform/thumbnailer/ChildProcesses.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "platform/thumbnailer/SharedCacheEntry.h"
#include "platform/thumbnailer/ThumbnailerEntry.h"
#include "util/Logging.h"
#include "util/Paths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <QLibrary>
#include <QMimeDatabase>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace Thumbnailer {

namespace {

const QMimeDatabase &mimeDb()
{
    static const QMimeDatabase db;
    return db;
}

QSize fitInto(QSize size, QSize box)
{
    if (size.isEmpty() || box.isEmpty())
        return size;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    QSize s = size.scaled(box, Qt::KeepAspectRatio);
    return s.expandedTo(QSize(1, 1));
}

QImage scaleToFit(const QImage &img, QSize box)
{
    if (img.isNull())
        return img;
    const QSize target = fitInto(img.size(), box);
    if (target == img.size())
        return img;
    return img.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The header's promise checked before a single pixel is decoded.
bool tooManyPixels(QSize stored, QString *why)
{
    if (qint64(stored.width()) * stored.height() <= kMaxImagePixels)
        return false;
    if (why)
        *why = QStringLiteral("the picture is too large (%1 × %2 pixels; at most %3 million are decoded)")
                   .arg(stored.width())
                   .arg(stored.height())
                   .arg(kMaxImagePixels / 1000000);
    return true;
}

const QSet<QByteArray> &qtReadableMimeTypes()
{
    static const QSet<QByteArray> types = [] {
        QSet<QByteArray> s;
        for (const QByteArray &m : QImageReader::supportedMimeTypes())
            s.insert(m);
        // SVG goes through QtSvg directly, PDF through QtPdf.
        s.remove("image/svg+xml");
        s.remove("image/svg+xml-compressed");
        return s;
    }();
    return types;
}

bool isPdf(const QMimeType &mt)
{
    return mt.inherits(QStringLiteral("application/pdf"));
}

bool isSvg(const QMimeType &mt)
{
    return mt.inherits(QStringLiteral("image/svg+xml")) || mt.name() == QLatin1String("image/svg+xml-compressed");
}

bool isQtImage(const QMimeType &mt)
{
    if (qtReadableMimeTypes().contains(mt.name().toLatin1()))
        return true;
    for (const QString &alias : mt.aliases()) {
        if (qtReadableMimeTypes().contains(alias.toLatin1()))
            return true;
    }
    return false;
}

// --- installed thumbnailers ----------------------------------------------------------------

struct ExternalThumbnailer {
    QString file;
    QString exec;
};

std::mutex g_thumbnailersMutex;
bool g_thumbnailersLoaded = false;
QHash<QString, ExternalThumbnailer> g_thumbnailers; // by MIME type

QStringList thumbnailerFolders()
{
    QStringList out;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    out << dataHome + QStringLiteral("/thumbnailers");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &d : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        out << d + QStringLiteral("/thumbnailers");
    return out;
}

void loadThumbnailersLocked()
{
    if (g_thumbnailersLoaded)
        return;
    g_thumbnailersLoaded = true;
    g_thumbnailers.clear();
    QSet<QString> seenNames;
    for (const QString &folder : thumbnailerFolders()) {
        const QStringList names = QDir(folder).entryList({QStringLiteral("*.thumbnailer")}, QDir::Files, QDir::Name);
        for (const QString &name : names) {
            if (seenNames.contains(name)) // an earlier folder overrides a file of the same name
                continue;
            seenNames.insert(name);
            QFile f(folder + QLatin1Char('/') + name);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const ThumbnailerEntry parsed = parseThumbnailerEntry(f.readAll());
            const QString &exec = parsed.exec;
            const QString &tryExec = parsed.tryExec;
            const QStringList &mimes = parsed.mimeTypes;
            if (exec.isEmpty())
                continue;
            // A line that cannot be expanded is left out once here, so that another file
            // may serve its types, rather than failed on every file later.
            QString why;
            if (expandExec(exec, QStringLiteral("/f"), QStringLiteral("file:///f"), QStringLiteral("/o"), 1, &why)
                    .isEmpty()) {
                qCWarning(lcThumbs, "ignoring the thumbnailer %s: its Exec line cannot be run (%s)",
                          qUtf8Printable(f.fileName()), qUtf8Printable(why));
                continue;
            }
            if (!tryExec.isEmpty()) {
                const bool ok = tryExec.startsWith(QLatin1Char('/'))
                                    ? QFileInfo(tryExec).isExecutable()
                                    : !QStandardPaths::findExecutable(tryExec).isEmpty();
                if (!ok)
                    continue;
            }
            for (const QString &m : mimes) {
                if (!g_thumbnailers.contains(m))
                    g_thumbnailers.insert(m, {f.fileName(), exec});
            }
        }
    }
}

} // namespace

void setFastPngCompression(QImageWriter &writer)
{
    // zlib level 1: about 40 % faster to write than Qt's default (level 6 via libpng) for a few
    // more bytes. Qt's PNG writer takes the level only through the quality: level =
    // (100 − quality) × 9 / 91, so 85 means level 1 (setCompression() does not set a zlib level
    // for PNG, and quality ≥ 90 stores the pixels uncompressed).
    writer.setQuality(85);
}

namespace {

bool writeAtomically(const QString &finalPath, const QImage &image)
{
    const QString folder = QFileInfo(finalPath).absolutePath();
    // QTemporaryFile creates its file 0600, which is what the standard asks for.
    QTemporaryFile tmp(folder + QStringLiteral("/.kelso-XXXXXX.png"));
    if (!tmp.open())
        return false;
    QImageWriter writer(&tmp, "png");
    setFastPngCompression(writer);
    if (!writer.write(image)) {
        return false;
    }
    tmp.flush();
    const QByteArray from = QFile::encodeName(tmp.fileName());
    const QByteArray to = QFile::encodeName(finalPath);
    if (::rename(from.constData(), to.constData()) != 0)
        return false;
    tmp.setAutoRemove(false);
    return true;
}

// The cache folders are 0700 as the standard asks. A symbolic link planted at one of them is
// refused: making it private would change the mode of whatever it points to, and the
// thumbnails would be written there.
bool makePrivateFolder(const QString &path)
{
    return StoreFile::preparePrivateFolder(path);
}

} // namespace

QString sourceName(Source source)
{
    switch (source) {
    case Source::FreedesktopCache:
        return QStringLiteral("freedesktop-cache");
    case Source::KelsoCache:
        return QStringLiteral("kelso-cache");
    case Source::Decoder:
        return QStringLiteral("decoder");
    case Source::Thumbnailer:
        return QStringLiteral("thumbnailer");
    case Source::Icon:
        return QStringLiteral("icon");
    case Source::None:
        break;
    }
    return QStringLiteral("none");
}

bool decoderHandles(const QString &mimeType)
{
    const QMimeType mt = mimeDb().mimeTypeForName(mimeType);
    return mt.isValid() && (isPdf(mt) || isSvg(mt) || isQtImage(mt));
}

QImage decodeImageFile(const QString &path, QSize box, QString *why)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (tooManyPixels(stored, why))
        return {};
    if (stored.isValid() && !stored.isEmpty() && box.isValid()) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const QSize shown = turned ? stored.transposed() : stored;
        const QSize target = fitInto(shown, box);
        if (target != shown)
            reader.setScaledSize(turned ? target.transposed() : target);
    }
    QImage img = reader.read();
    if (img.isNull()) {
        if (why)
            *why = QStringLiteral("the file cannot be decoded (%1)").arg(reader.errorString());
        return {};
    }
    return scaleToFit(img, box);
}

QImage fastImageThumbnail(const QString &path, int maxPixelSize, QString *why)
{
    if (maxPixelSize <= 0)
        return {};
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead() || reader.imageCount() > 1)
        return {};
    QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty())
        return {};
    if (tooManyPixels(stored, why))
        return {};
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize shown = turned ? stored.transposed() : stored;
    const QSize target = fitInto(shown, QSize(maxPixelSize, maxPixelSize));
    if (target != shown)
        reader.setScaledSize(turned ? target.transposed() : target);
    QImage img = reader.read();
    if (img.isNull()) {
        if (why)
            *why = QStringLiteral("the file cannot be decoded (%1)").arg(reader.errorString());
        return {};
    }
    return scaleToFit(img, QSize(maxPixelSize, maxPixelSize));
}

// The PDF renderer lives in a module loaded on first use (see PdfPage.cpp). Null when the
// module cannot be loaded: PDFs then go to the installed thumbnailers like other types.
using PdfRenderer = bool (*)(const QString &, const QSize &, QImage *);

PdfRenderer pdfRenderer()
{
    static const PdfRenderer renderer = []() -> PdfRenderer {
        QLibrary module(KLPaths::modulePath("KELSO_PDF_MODULE", QStringLiteral("libkelso_pdf.so"),
                                            QStringLiteral(KELSO_PDF_MODULE))); // never unloaded
        auto found = reinterpret_cast<PdfRenderer>(module.resolve("kelsoRenderPdfFirstPage"));
        if (!found)
            qCWarning(lcThumbs,
                      "cannot load the PDF renderer (%s); PDFs get their thumbnails from the installed "
                      "thumbnailers or show their icon",
                      qUtf8Printable(module.errorString()));
        return found;
    }();
    return renderer;
}

// Kelso's own process only asks whether the module is there; the workers load it.
bool pdfModuleAvailable()
{
    static const bool available = [] {
        const QString path = KLPaths::modulePath("KELSO_PDF_MODULE", QStringLiteral("libkelso_pdf.so"),
                                                 QStringLiteral(KELSO_PDF_MODULE));
        const bool exists = QFileInfo(path).isFile();
        if (!exists)
            qCWarning(lcThumbs,
                      "cannot load the PDF renderer (%s is missing); PDFs get their thumbnails from the "
                      "installed thumbnailers or show their icon",
                      qUtf8Printable(path));
        return exists;
    }();
    return available;
}

QImage renderPdfFirstPage(const QString &path, QSize box)
{
    QImage page;
    const PdfRenderer render = pdfRenderer();
    return render && render(path, box, &page) ? page : QImage();
}

QString pdfText(const QString &path, int capChars)
{
    using PdfTextReader = bool (*)(const QString &, qint64, QString *);
    static const PdfTextReader reader = []() -> PdfTextReader {
        QLibrary module(KLPaths::modulePath("KELSO_PDF_MODULE", QStringLiteral("libkelso_pdf.so"),
                                            QStringLiteral(KELSO_PDF_MODULE))); // never unloaded
        return reinterpret_cast<PdfTextReader>(module.resolve("kelsoPdfText"));
    }();
    QString text;
    if (!reader || !reader(path, qMax(0, capChars), &text))
        return QString();
    return text.isNull() ? QLatin1String("") : text;
}

bool svgRenderableHere(const QString &path)
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return true;
    // Without a QGuiApplication (the command-line tool) Qt has no font database, and QtSvg
    // aborts the process on the first text element. Such files go to the installed
    // thumbnailer instead; compressed ones cannot be checked cheaply and go there too.
    QFile f(path);
    if (path.endsWith(QLatin1String(".svgz"), Qt::CaseInsensitive) || !f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(2);
    if (head == QByteArray("\x1f\x8b"))
        return false;
    f.seek(0);
    const QByteArray data = f.readAll();
    return !data.contains("<text") && !data.contains(":text") && !data.contains("font");
}

QImage renderSvg(const QString &path, QSize box)
{
    if (!svgRenderableHere(path))
        return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QSizeF s = renderer.viewBoxF().size();
    if (s.isEmpty())
        s = renderer.defaultSize();
    if (s.isEmpty())
        return {};
    const QSize target = s.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
    QImage out(target, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(target)));
    return out;
}

void reloadThumbnailers()
{
    std::lock_guard lock(g_thumbnailersMutex);
    g_thumbnailersLoaded = false;
}

QImage runExternalThumbnailer(const QString &path, const QString &mimeType, int size, int timeoutMs, bool *found)
{
    if (found)
        *found = false;
    ExternalThumbnailer entry;
    {
        std::lock_guard lock(g_thumbnailersMutex);
        loadThumbnailersLocked();
        QStringList candidates{mimeType};
        const QMimeType mt = mimeDb().mimeTypeForName(mimeType);
        if (mt.isValid()) {
            candidates << mt.name() << mt.aliases() << mt.allAncestors();
        }
        for (const QString &c : candidates) {
            auto it = g_thumbnailers.constFind(c);
            if (it != g_thumbnailers.cend()) {
                entry = it.value();
                break;
            }
        }
    }
    if (entry.exec.isEmpty())
        return {};
    if (found)
        *found = true;
    QTemporaryDir dir; // 0700, removed with everything in it
    if (!dir.isValid())
        return {};
    const QString output = dir.path() + QStringLiteral("/thumbnail.png");
    const QStringList args =
        expandExec(entry.exec, path, QString::fromLatin1(SharedCache::uriForPath(path)), output, size);
    if (args.isEmpty())
        return {};
    if (timeoutMs < 0)
        timeoutMs = ChildProcesses::jobTimeLimitMs();
    QProcess proc;
    proc.setProgram(args.first());
    proc.setArguments(args.mid(1));
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.setStandardErrorFile(QProcess::nullDevice());
    ChildProcesses::applyLimits(proc); // memory limit, none of Kelso's descriptors
    proc.start();
    if (!proc.waitForStarted(5000))
        return {};
    const pid_t pid = pid_t(proc.processId());
    if (!ChildProcesses::track(pid)) { // Kelso is quitting
        proc.waitForFinished(100);
        return {};
    }
    const bool finished = proc.waitForFinished(timeoutMs);
    ChildProcesses::untrack(pid);
    if (!finished) {
        qCWarning(lcThumbs, "Thumbnailer %s took too long; stopped", qPrintable(QFileInfo(entry.file).fileName()));
        ChildProcesses::killWithGroup(pid); // and whatever it started
        proc.kill();
        proc.waitForFinished(100); // QProcess reaps it later if it lingers
        return {};
    }
    if (proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0)
        return {};
    // The thumbnailer's picture is one more file Kelso did not make: decoded by a worker too.
    return DecoderWorkers::run(DecoderWorkers::Job::Image, output, QSize(size, size)).image;
}

QImage drawIconMode(const QImage &picture, QSize box)
{
    if (picture.isNull() || box.isEmpty())
        return picture;
    const int side = qMin(box.width(), box.height());
    const int margin = qMax(2, side / 24); // room for the frame and the shadow
    const int frame = qMax(1, side / 64);  // white border inside the line
    const QSize inner = fitInto(picture.size(), box - QSize(2 * (margin + frame), 2 * (margin + frame)));
    if (inner.isEmpty())
        return picture;
    const QSize outer = inner + QSize(2 * (margin + frame), 2 * (margin + frame));
    QImage out(outer, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card(margin, margin * 0.6, inner.width() + 2 * frame, inner.height() + 2 * frame);
    // A soft shadow: a few widening, fading outlines below the card.
    p.setPen(Qt::NoPen);
    for (int i = margin; i >= 1; --i) {
        p.setBrush(QColor(0, 0, 0, 60 / margin + 6));
        p.drawRoundedRect(card.translated(0, margin * 0.4).adjusted(-i * 0.6, -i * 0.3, i * 0.6, i * 0.8), i, i);
    }
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0, 0, 0, 70), 1));
    p.drawRect(card.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(card.x() + frame, card.y() + frame, inner.width(), inner.height()), picture);
    return out;
}

namespace SharedCache {

QString root()
{
    QString cacheHome = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cacheHome.isEmpty() || !cacheHome.startsWith(QLatin1Char('/')))
        cacheHome = QDir::homePath() + QStringLiteral("/.cache");
    return cacheHome + QStringLiteral("/thumbnails");
}

QByteArray uriForPath(const QString &path)
{
    // GLib's g_filename_to_uri(): unreserved characters and !$&'()*+,-./:=@_~ stay, every other
    // byte is %XX with upper-case hex. Other programs name their cache files by this text.
    static const char *allowed = "!$&'()*+,-./:=@_~";
    const QByteArray bytes = QFile::encodeName(path);
    QByteArray out("file://");
    out.reserve(int(bytes.size() * 1.2) + 8);
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            (u && std::strchr(allowed, c))) {
            out.append(c);
        } else {
            out.append('%');
            out.append(hex[u >> 4]);
            out.append(hex[u & 15]);
        }
    }
    return out;
}

int sizeOfFolder(const QString &folder)
{
    if (folder == QLatin1String("normal"))
        return 128;
    if (folder == QLatin1String("large"))
        return 256;
    if (folder == QLatin1String("x-large"))
        return 512;
    if (folder == QLatin1String("xx-large"))
        return 1024;
    return 0;
}

QStringList foldersForBox(int pixels)
{
    static const QStringList all = {QStringLiteral("normal"), QStringLiteral("large"), QStringLiteral("x-large"),
                                    QStringLiteral("xx-large")};
    QStringList out;
    for (const QString &f : all) {
        if (sizeOfFolder(f) >= pixels)
            out.append(f);
    }
    return out;
}

QString thumbnailPath(const QByteArray &uri, const QString &folder)
{
    const QByteArray md5 = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex();
    return root() + QLatin1Char('/') + folder + QLatin1Char('/') + QString::fromLatin1(md5) + QStringLiteral(".png");
}

QImage lookup(const QString &path, const struct stat &st, int pixels)
{
    const QByteArray uri = uriForPath(path);
    for (const QString &folder : foldersForBox(pixels)) {
        const QString file = thumbnailPath(uri, folder);
        if (::access(QFile::encodeName(file).constData(), R_OK) != 0)
            continue;
        const QImage img = readEntry(file, 2 * sizeOfFolder(folder));
        if (entryMatches(img, uri, qint64(st.st_mtim.tv_sec), qint64(st.st_size)))
            return img;
    }
    return {};
}

bool store(const QImage &thumbnail, const QString &path, const struct stat &st, const QString &folder)
{
    if (thumbnail.isNull() || sizeOfFolder(folder) == 0)
        return false;
    const QString rootPath = root();
    if (!makePrivateFolder(rootPath) || !makePrivateFolder(rootPath + QLatin1Char('/') + folder))
        return false;
    QImage out = thumbnail;
    const QByteArray uri = uriForPath(path);
    out.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    out.setText(QStringLiteral("Thumb::MTime"), QString::number(qint64(st.st_mtim.tv_sec)));
    out.setText(QStringLiteral("Thumb::Size"), QString::number(qint64(st.st_size)));
    out.setText(QStringLiteral("Software"), QStringLiteral("Kelso"));
    return writeAtomically(thumbnailPath(uri, folder), out);
}

QString failureFolder()
{
    return QStringLiteral("fail/kelso-" KELSO_VERSION);
}

// Failure records are 1 × 1 pictures; anything much larger is not one.
constexpr int kMaxFailureRecordSide = 1024;

bool hasFailure(const QString &path, const struct stat &st)
{
    const QByteArray uri = uriForPath(path);
    const QByteArray name = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
    // Every program records its failures in a folder of its own under fail/; a file that
    // made another thumbnailer fail is not worth Kelso's try either.
    const QString failRoot = root() + QStringLiteral("/fail");
    const QStringList folders = QDir(failRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &folder : folders) {
        const QString file = failRoot + QLatin1Char('/') + folder + QLatin1Char('/') + QString::fromLatin1(name);
        if (::access(QFile::encodeName(file).constData(), R_OK) != 0)
            continue;
        if (entryMatches(readEntry(file, kMaxFailureRecordSide), uri, qint64(st.st_mtim.tv_sec), qint64(st.st_size)))
            return true;
    }
    return false;
}

void recordFailure(const QString &path, const struct stat &st)
{
    const QString rootPath = root();
    if (!makePrivateFolder(rootPath) || !makePrivateFolder(rootPath + QStringLiteral("/fail")) ||
        !makePrivateFolder(rootPath + QLatin1Char('/') + failureFolder()))
        return;
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    const QByteArray uri = uriForPath(path);
    mark.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    mark.setText(QStringLiteral("Thumb::MTime"), QString::number(qint64(st.st_mtim.tv_sec)));
    mark.setText(QStringLiteral("Thumb::Size"), QString::number(qint64(st.st_size)));
    mark.setText(QStringLiteral("Software"), QStringLiteral("Kelso"));
    writeAtomically(thumbnailPath(uri, failureFolder()), mark);
}

} // namespace SharedCache

namespace {

// One line per file and version: the failure record keeps it from coming back.
void logFailure(const QString &path, const QString &why)
{
    qCWarning(lcThumbs, "no thumbnail of %s (%s); the file gets its icon", qUtf8Printable(path), qUtf8Printable(why));
}

} // namespace

Result create(const Request &request)
{
    Result result;
    if (request.path.isEmpty() || request.box.isEmpty())
        return result;
    struct stat st;
    const QByteArray native = QFile::encodeName(request.path);
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return result;
    const int longSide = qMax(request.box.width(), request.box.height());
    auto finish = [&](QImage img, Source source) {
        img = scaleToFit(img, request.box);
        if (request.iconMode)
            img = drawIconMode(img, request.box);
        result.image = img;
        result.source = source;
        return result;
    };

    if (request.readSharedCache) {
        QImage cached = SharedCache::lookup(request.path, st, longSide);
        if (!cached.isNull())
            return finish(cached, Source::FreedesktopCache);
        if (SharedCache::hasFailure(request.path, st)) {
            result.failure = QStringLiteral("an earlier attempt failed (recorded in %1/fail)").arg(SharedCache::root());
            return result;
        }
    }

    // Thumbnails of thumbnails are never stored (the standard says so, and it would loop).
    const bool insideCache = request.path.startsWith(SharedCache::root() + QLatin1Char('/'));
    const QStringList folders = SharedCache::foldersForBox(longSide);
    const bool writeBack = request.writeSharedCache && !insideCache && !folders.isEmpty();
    // Render at the size folder's size when writing back, so the entry serves every box up to it.
    const QSize renderBox =
        writeBack ? QSize(SharedCache::sizeOfFolder(folders.first()), SharedCache::sizeOfFolder(folders.first()))
                  : request.box;

    const QMimeType mt = mimeDb().mimeTypeForFile(request.path);
    QImage img;
    Source source = Source::None;
    bool blameFile = false;
    std::optional<DecoderWorkers::Job> job;
    if (isPdf(mt) && pdfModuleAvailable())
        job = DecoderWorkers::Job::PdfPage;
    else if (isSvg(mt))
        job = DecoderWorkers::Job::Svg;
    else if (isQtImage(mt))
        job = DecoderWorkers::Job::Image;
    if (job) {
        const DecoderWorkers::Outcome out = DecoderWorkers::run(*job, request.path, renderBox);
        img = out.image;
        blameFile = out.fileAtFault;
        result.failure = out.failure;
        source = Source::Decoder;
    } else {
        bool found = false;
        img = runExternalThumbnailer(request.path, mt.name(), qMax(renderBox.width(), renderBox.height()),
                                     request.thumbnailerTimeoutMs, &found);
        blameFile = found && !ChildProcesses::stopping();
        if (found && img.isNull())
            result.failure = QStringLiteral("the installed thumbnailer failed or took too long");
        source = Source::Thumbnailer;
    }
    if (img.isNull()) {
        if (blameFile && request.writeSharedCache && !insideCache) {
            SharedCache::recordFailure(request.path, st);
            logFailure(request.path, result.failure);
        }
        return result;
    }
    if (writeBack)
        SharedCache::store(scaleToFit(img, renderBox), request.path, st, folders.first());
    return finish(img, source);
}

Result fastImage(const QString &path, int maxPixelSize)
{
    Result result;
    struct stat st;
    if (maxPixelSize <= 0 || ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return result;
    if (SharedCache::hasFailure(path, st)) {
        result.failure = QStringLiteral("an earlier attempt failed (recorded in %1/fail)").arg(SharedCache::root());
        return result;
    }
    const DecoderWorkers::Outcome out =
        DecoderWorkers::run(DecoderWorkers::Job::SingleImage, path, QSize(maxPixelSize, maxPixelSize));
    if (out.image.isNull()) {
        if (out.fileAtFault) {
            result.failure = out.failure;
            if (!path.startsWith(SharedCache::root() + QLatin1Char('/'))) {
                SharedCache::recordFailure(path, st);
                logFailure(path, out.failure);
            }
        }
        return result;
    }
    result.image = out.image;
    result.source = Source::Decoder;
    return result;
}

} // namespace Thumbnailer
