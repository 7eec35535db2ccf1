#pragma once
// File and type icons through two caches, and the image helpers shared by the renderer.
//
// Icons are produced as encoded bytes (one producer at a time, under the class lock), then
// decoded through the shared-image table keyed by the CRC-64 of those bytes, so files whose
// icons are identical share one bitmap. The image cache in front of it keys by name, size and
// kind and remembers failures too. Every cache is bounded by being emptied whole when it passes
// its limit. All functions may be called from any thread.
#include "thumbs/KPCGImage.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

namespace KPImageUtils {

// Kinds of the image cache.
enum IconKind { FileIcon = 1, TypeIcon = 2, NamedImage = 3 };

// CRC-64 with the ECMA-182 polynomial 0x42F0E1EBA9EA3693: most significant bit first, initial
// value 0, no reflection, no final inversion ("123456789" gives 0x6C40DF5F0B497347).
quint64 crc64(const char *data, qsizetype length, quint64 crc = 0);
inline quint64 crc64(const QByteArray &data)
{
    return crc64(data.constData(), data.size());
}

// The image-cache key: name (or "null") followed by
// trunc(1000 × height + trunc(width)) + 1,000,000 × kind.
QString imageCacheKey(const QString &name, QSizeF size, int kind);

// The file's own icon (a symbolic link's own, not its target's).
KPCGImageRef newCGIconForFile(const QString &path, QSizeF size);
// The generic icon of a type identifier ("tree_" prefix ignored).
KPCGImageRef newCGIconForFileType(const QString &uti, QSizeF size);
// A picture of the program's own by name (see registerNamedImage).
KPCGImageRef newCGNamedImage(const QString &name, QSizeF size);
QImage iconForFileType(const QString &uti, QSizeF size);
QImage imageNamed(const QString &name, QSizeF size);
// The file's icon for small menu entries, from its own bounded cache.
QImage iconForFile(const QString &path, QSizeF size);

// Pictures drawn by the program itself, by name; `paint` draws the picture for a size.
void registerNamedImage(const QString &name, const std::function<QImage(QSize)> &paint);

// Cuts extreme shapes to 10:1 (top rows / left columns kept), then scales into the box keeping
// the shape; the image itself when it already fits or the box width is 0 or less; the unscaled
// image when the result would have more than 25,000,000 pixels. `interpolation` 0 = default
// (smooth), 1 = none, 2 = low, 3 = medium, 4 = high.
QImage newResizedImage(const QImage &image, int interpolation, int maxWidth, int maxHeight);
// JPEG at `quality` (0–1) or PNG (zlib level 1, chosen for speed); empty when encoding fails.
QByteArray dataForCGImage(const QImage &image, bool makeJPEG, double quality);
// The image drawn at its best-fitting size inside `maxSize`, encoded as TIFF; empty for no image
// or a zero size.
QByteArray tiffData(const QImage &image, QSizeF maxSize);
// `size` scaled by one factor to fit `maxSize`, never enlarged.
QSizeF makeOptimalDestinationRect(QSizeF size, QSizeF maxSize);
// The image unchanged.
inline QImage colorMatchImageForDisplay(const QImage &image)
{
    return image;
}

// The encoded icon bytes behind the caches (empty when there is no icon).
QByteArray iconForFileSymLink(const QString &path, QSize size);
QByteArray iconDataForFileType(const QString &uti, QSize size);
QByteArray imageNamedData(const QString &name, QSize size);
// Decodes icon bytes through the shared-image table.
QImage sharedImageForData(const QByteArray &data);

// Introspection for tests and statistics.
qsizetype imageCacheCount();
qsizetype sharedImageCount();
void clearCaches();

} // namespace KPImageUtils
