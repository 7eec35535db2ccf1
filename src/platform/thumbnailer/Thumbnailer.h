#pragma once
// The system thumbnail service of Kelso: one bitmap for a file at a pixel box.
//
// Order of the attempts (first that gives a picture wins):
//  1. the freedesktop shared thumbnail cache ($XDG_CACHE_HOME/thumbnails/<size>/MD5(uri).png),
//     read without touching the file's contents: an entry counts only when its Thumb::URI and
//     Thumb::MTime (and Thumb::Size, when the entry has one) match the file;
//  2. a failure recorded earlier under fail/kelso/ for this file version: nothing is tried again;
//  3. Qt's decoders: image formats Qt reads (scaled while decoding, EXIF orientation applied),
//     the first page of a PDF (QtPdf), SVG (QtSvg);
//  4. the installed freedesktop thumbnailers (*.thumbnailer in $XDG_DATA_HOME/thumbnailers and
//     $XDG_DATA_DIRS/thumbnailers) run as child processes with a time limit.
// A picture made by 3 or 4 is written back to the shared cache as the Thumbnail Managing
// Standard asks (rendered at the size folder's size, PNG with the Thumb:: text chunks, written to
// a temporary file and renamed, folders 0700, file 0600); a failed attempt is recorded under
// fail/kelso/ so it is not retried on every draw. Icons are not this layer's business: the
// caller falls back to them.
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
    QSize box;                      // pixels; the picture fits it, never enlarged
    bool iconMode = false;          // frame and shadow around the picture
    bool readSharedCache = true;
    bool writeSharedCache = true;   // write new renders and failures back
    int thumbnailerTimeoutMs = 10000;
};

struct Result {
    QImage image;
    Source source = Source::None;
};

Result create(const Request &request);

// --- the steps, usable on their own ------------------------------------------------------

// Decodes an image file Qt reads, scaled into `box` while decoding, orientation applied.
QImage decodeImageFile(const QString &path, QSize box);
// The fast image path: the file must hold exactly one image; the picture's longer side becomes
// at most `maxPixelSize` (never enlarged), orientation applied. Null on any failure.
QImage fastImageThumbnail(const QString &path, int maxPixelSize);
QImage renderPdfFirstPage(const QString &path, QSize box);
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
// A valid entry for the file (any folder big enough for `pixels`), or a null image.
QImage lookup(const QString &path, const struct stat &st, int pixels);
// Writes `thumbnail` (already at most the folder's size) for the file into `folder`.
bool store(const QImage &thumbnail, const QString &path, const struct stat &st, const QString &folder);
bool hasFailure(const QString &path, const struct stat &st);
void recordFailure(const QString &path, const struct stat &st);
} // namespace SharedCache

} // namespace Thumbnailer
