#pragma once
// The system thumbnail service of Kelso: one bitmap for a file at a pixel box.
//
// Order of the attempts (first that gives a picture wins):
//  1. the freedesktop shared thumbnail cache ($XDG_CACHE_HOME/thumbnails/<size>/MD5(uri).png),
//     read without touching the file's contents: an entry counts only when its Thumb::URI and
//     Thumb::MTime (and Thumb::Size, when the entry has one) match the file;
//  2. a failure recorded earlier for this file version under fail/ (by Kelso in
//     fail/kelso-VERSION/, or by another program in its own folder): nothing is tried again;
//  3. Qt's decoders, in a worker process (DecoderWorkers.h): image formats Qt reads (scaled
//     while decoding, EXIF orientation applied, refused from the header above kMaxImagePixels),
//     the first page of a PDF (QtPdf), SVG (QtSvg);
//  4. the installed freedesktop thumbnailers (*.thumbnailer in $XDG_DATA_HOME/thumbnailers and
//     $XDG_DATA_DIRS/thumbnailers) run as child processes with the same time and memory limits
//     as the workers (ChildProcesses.h).
// A picture made by 3 or 4 is written back to the shared cache as the Thumbnail Managing
// Standard asks (rendered at the size folder's size, PNG with the Thumb:: text chunks, written to
// a temporary file and renamed, folders 0700, file 0600); a failed attempt (the decoder or
// thumbnailer failed, crashed, hung or refused the file) is recorded under fail/kelso-VERSION/
// so it is not retried on every draw, nor at the next start until the file changes. Icons are not this layer's
// business: the caller falls back to them.
//
// Everything here may run on any thread, several at once.
#include <QImage>
#include <QImageWriter>
#include <QSize>
#include <QString>
#include <sys/stat.h>

namespace Thumbnailer {

enum class Source { None, FreedesktopCache, KelsoCache, Decoder, Thumbnailer, Icon };
// "freedesktop-cache", "kelso-cache", "decoder", "thumbnailer", "icon", "none".
QString sourceName(Source source);

struct Request {
    QString path;
    QSize box;             // pixels; the picture fits it, never enlarged
    bool iconMode = false; // frame and shadow around the picture
    bool readSharedCache = true;
    bool writeSharedCache = true;  // write new renders and failures back
    int thumbnailerTimeoutMs = -1; // -1: the limit every child process has
};

struct Result {
    QImage image;
    Source source = Source::None;
    // Why there is no picture, when a decoder or thumbnailer tried and failed (now or in an
    // earlier attempt on this file version); empty when the file simply has no renderer.
    QString failure;
};

Result create(const Request &request);

// Pictures with more pixels than this are refused from their header, before any decoding: a
// small file can announce a picture that would take gigabytes to decode.
constexpr qint64 kMaxImagePixels = 250'000'000;

// The fast image path (fastImageThumbnail) in a decoder worker, with the failure cache: a file
// that failed before is not tried; a file that makes the worker fail, crash or hang is recorded.
// A file that is simply not a single image gives a null picture and no failure.
Result fastImage(const QString &path, int maxPixelSize);

// --- the steps, usable on their own ------------------------------------------------------

// These decode in the calling process: Kelso calls them through DecoderWorkers only.
// Decodes an image file Qt reads, scaled into `box` while decoding, orientation applied; *why
// says what went wrong when the answer is null.
QImage decodeImageFile(const QString &path, QSize box, QString *why = nullptr);
// The fast image path: the file must hold exactly one image; the picture's longer side becomes
// at most `maxPixelSize` (never enlarged), orientation applied. Null on any failure.
QImage fastImageThumbnail(const QString &path, int maxPixelSize, QString *why = nullptr);
QImage renderPdfFirstPage(const QString &path, QSize box);
// The text of a PDF's pages in order, at most `capChars` characters; null when the file cannot
// be read as a PDF or the module is missing. Runs in this process: untrusted files go through
// DecoderWorkers (Job::PdfText), which cuts off an extraction that loops.
QString pdfText(const QString &path, int capChars);
// Null also when the file holds text and there is no QGuiApplication (see svgRenderableHere).
QImage renderSvg(const QString &path, QSize box);
// QtSvg needs Qt's font database for text, which exists only in a GUI application.
bool svgRenderableHere(const QString &path);
// Runs the installed thumbnailer for `mimeType`; *found tells whether there was one.
QImage runExternalThumbnailer(const QString &path, const QString &mimeType, int size, int timeoutMs,
                              bool *found = nullptr);
// Forgets the thumbnailer table so the next call reads the folders again (tests).
void reloadThumbnailers();
// A thin frame and a soft shadow around the picture; the whole fits `box`.
QImage drawIconMode(const QImage &picture, QSize box);
// Sets zlib level 1 on a PNG writer (for pictures that are written once per render).
void setFastPngCompression(QImageWriter &writer);
// True when Qt's decoders (images, PDF, SVG) handle this MIME type.
bool decoderHandles(const QString &mimeType);

namespace SharedCache {
// $XDG_CACHE_HOME/thumbnails
QString root();
// file:// URI of a local path, escaped as GLib escapes it (so GNOME's entries are found).
QByteArray uriForPath(const QString &path);
// "normal" (128), "large" (256), "x-large" (512), "xx-large" (1024).
int sizeOfFolder(const QString &folder);
// The folders whose pictures are big enough for a box whose longer side is `pixels`, smallest
// first; empty above 1024.
QStringList foldersForBox(int pixels);
QString thumbnailPath(const QByteArray &uri, const QString &folder);
// A valid entry for the file (any folder big enough for `pixels`), or a null image. An entry whose
// header announces more than twice its folder's size on a side is not decoded (nor used).
QImage lookup(const QString &path, const struct stat &st, int pixels);
// Writes `thumbnail` (already at most the folder's size) for the file into `folder`.
bool store(const QImage &thumbnail, const QString &path, const struct stat &st, const QString &folder);
// "fail/kelso-VERSION": where Kelso records its own failures.
QString failureFolder();
// A failure record for this file version by any program (every folder under fail/).
bool hasFailure(const QString &path, const struct stat &st);
void recordFailure(const QString &path, const struct stat &st);
} // namespace SharedCache

} // namespace Thumbnailer
