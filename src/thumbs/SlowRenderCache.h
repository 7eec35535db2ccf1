#pragma once
// Kelso's slow-render cache: renders that took longer than an adaptive threshold are stored as
// PNG in ourCacheFolder()/QuickLook/.cache/ under "NAME_xxUc_SIZE_MTIME_ICONMODE_.png", so that
// the next request for the same file version is served from there. One entry serves every box
// of a file version; a changed file gets a new name. Only names in the cached-names set (built
// at start from the folder, grown by the cache writer) are trusted. Pruned to the 1000 most
// recently used entries at quit and when the cache setting changes.
#include "thumbs/KPQuickLook.h"

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

namespace SlowRenderCache {
// Makes the folder and the cached-names set, checks the free space (below 8 GB on the home
// volume: no caching for the run), chooses the render size.
void initializeCache();
void setupImageCacheSize();
int cacheRenderSize();
QString cacheFolder();
bool pathIsInCacheFolder(const QString &path);
QString calculatePathForCache(const QString &path, QSizeF size);
QString cachedFilePath(const QString &path, QSizeF size);
QImage createCachedImage(const QString &path, QSizeF size);
// Renders the file at the cache render size and queues the writing of its entry.
void createCacheFile(const QString &path, QSize pixelBox);
void cleanCache();
bool useCaching();
// The "KPQuicklookCacheSlowImages" setting as last read (main thread).
void setCacheSlowImages(bool on);
// Overrides the free-space decision (tests, tools).
void setCacheAllowed(bool allowed);
} // namespace SlowRenderCache

// Writes a picture as PNG to a path atomically, then notes the source name in the cached-names
// set when the file is a cache entry.
class KPQuickLookCacher : public KPOperation
{
public:
    KPQuickLookCacher(const QImage &image, const QString &path); // initWithImage:forPath:
    void main() override;

private:
    QImage _image;
    QString _path;
};
