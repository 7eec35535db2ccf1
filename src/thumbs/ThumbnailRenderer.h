#pragma once
// The renderer behind the thumbnail queue, usable synchronously on any thread.
//
// kpThumbnailImageCreateSync() answers Kelso's slow-render cache when the file has an entry
// there, else renderImageWithQuickLook(): the fast image path (JPEG/PNG at large boxes), the
// thumbnail service (platform/thumbnailer: freedesktop shared cache, Qt's decoders in worker
// processes, installed thumbnailers), the 32→16 retry, and the file's icon. A file whose decoder
// failed, crashed or hung is not tried a second way: it gets its icon. Files on slow (network,
// placeholder) volumes are never opened: they get their type's icon. Renders slower than an
// adaptive threshold go to the slow-render cache.
//
// The border settings and the screen scale are read on the main thread (updateCachedPrefs) and
// read by the workers as plain values.
#include "thumbs/ThumbnailRequest.h"

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

namespace ThumbnailRenderer {
// The cached picture when caching is on and the file has a cache entry, else a render.
// `result` (may be null) receives how the picture was made.
QImage kpThumbnailImageCreateSync(const ThumbnailRequest &request, ThumbnailResult *result = nullptr);
// A new picture of request.path in request.maxSize, or a null image.
QImage renderImageWithQuickLook(const ThumbnailRequest &request, ThumbnailResult *result = nullptr);
QImage copyThumbOfImageFromFile(const QString &path, QSize pixelBox);
QImage newCGIconForFile(const QString &path, QSize size);
bool useIconMode(const QString &path, QSizeF size);
bool extensionOKForHomeBrew(const QString &extension);

// Settings: reads the border settings and the main screen's scale (main thread).
void updateCachedPrefs();
bool bordersOnImages();
bool bordersOnMovies();
bool bordersOnOthers();
bool bordersOnLargeThumbs();
bool noQuickLookBorders();
double screenScale();
// True for the keys of the settings above.
bool isRendererSetting(const QString &key);

// Renders done since start.
int renderCount();
} // namespace ThumbnailRenderer
