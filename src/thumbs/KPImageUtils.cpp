#include "thumbs/KPImageUtils.h"

#include "fileops/XPFileUtils.h"
#include "platform/thumbnailer/IconTheme.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "platform/typeregistry/TypeRegistry.h"
#include "thumbs/KPPool.h"
#include "util/Tilde.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QPainter>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

namespace KPImageUtils {

namespace {

constexpr quint64 kPoly = 0x42F0E1EBA9EA3693ULL;

const std::array<quint64, 256> &crcTable()
{
    static const std::array<quint64, 256> table = [] {
        std::array<quint64, 256> t{};
        for (int i = 0; i < 256; ++i) {
            quint64 crc = quint64(i) << 56;
            for (int b = 0; b < 8; ++b)
                crc = (crc & (1ULL << 63)) ? (crc << 1) ^ kPoly : crc << 1;
            t[i] = crc;
        }
        return t;
    }();
    return table;
}

// The image cache (kind 1–3), emptied whole above 20,000 entries.
KPDictionary<KPCGImageRef> &imageCache()
{
    static KPDictionary<KPCGImageRef> d;
    return d;
}
// Type identifier + size → encoded icon; never emptied (one entry per type and size).
KPDictionary<QByteArray> &typeIconData()
{
    static KPDictionary<QByteArray> d;
    return d;
}
// Path + size → icon picture for menus, emptied whole above 800 entries.
KPDictionary<QImage> &fileIconImages()
{
    static KPDictionary<QImage> d;
    return d;
}

std::mutex g_sharedMutex;
QHash<quint64, QImage> g_shared; // CRC-64 of icon bytes → decoded bitmap, emptied above 500

// Serialises the icon producers (one at a time, as the caches expect one producer per key).
std::recursive_mutex g_producerMutex;

std::mutex g_namedMutex;
QHash<QString, std::function<QImage(QSize)>> g_named;

// Icon bytes: "KPIM", width, height (32-bit little endian), then premultiplied ARGB rows
// without padding. A private, codec-free format: producing and decoding an icon is a copy.
QByteArray encodeIcon(const QImage &image)
{
    if (image.isNull())
        return {};
    const QImage img = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const quint32 w = quint32(img.width()), h = quint32(img.height());
    QByteArray out;
    out.resize(12 + qsizetype(w) * h * 4);
    char *p = out.data();
    std::memcpy(p, "KPIM", 4);
    std::memcpy(p + 4, &w, 4);
    std::memcpy(p + 8, &h, 4);
    for (quint32 y = 0; y < h; ++y)
        std::memcpy(p + 12 + qsizetype(y) * w * 4, img.constScanLine(int(y)), w * 4);
    return out;
}

QImage decodeIcon(const QByteArray &data)
{
    if (data.size() < 12 || std::memcmp(data.constData(), "KPIM", 4) != 0)
        return {};
    quint32 w, h;
    std::memcpy(&w, data.constData() + 4, 4);
    std::memcpy(&h, data.constData() + 8, 4);
    if (w == 0 || h == 0 || w > 8192 || h > 8192 || data.size() != qsizetype(12 + qsizetype(w) * h * 4))
        return {};
    QImage img(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (img.isNull())
        return {};
    for (quint32 y = 0; y < h; ++y)
        std::memcpy(img.scanLine(int(y)), data.constData() + 12 + qsizetype(y) * w * 4, w * 4);
    return img;
}

int sideOf(QSize size)
{
    return qMax(1, qMin(size.width(), size.height()));
}

const QMimeDatabase &mimeDb()
{
    static const QMimeDatabase db;
    return db;
}

QStringList iconNamesForMime(const QMimeType &mt)
{
    QStringList names{mt.iconName(), mt.genericIconName()};
    for (const QString &a : mt.allAncestors()) {
        const QMimeType at = mimeDb().mimeTypeForName(a);
        names << at.iconName() << at.genericIconName();
    }
    names.removeAll(QString());
    names.removeDuplicates();
    return names;
}

// What the file looks like, without following a final symbolic link and without reading files
// on slow volumes.
QImage fileIconImage(const QString &path, int side)
{
    struct stat st;
    const QByteArray native = QFile::encodeName(path);
    QStringList names;
    bool folder = false;
    if (::lstat(native.constData(), &st) != 0) {
        names = iconNamesForMime(mimeDb().mimeTypeForFile(path, QMimeDatabase::MatchExtension));
    } else if (S_ISLNK(st.st_mode)) {
        // The link itself: named by its own name, marked as a link when that says nothing.
        const QMimeType mt = mimeDb().mimeTypeForFile(QFileInfo(path).fileName(), QMimeDatabase::MatchExtension);
        names = mt.isDefault() ? QStringList{QStringLiteral("inode-symlink")} : iconNamesForMime(mt);
    } else if (S_ISDIR(st.st_mode)) {
        QString uti;
        if (XPFileUtils::isPackage(path) && TypeRegistry::utiForFile(path, &uti))
            names = TypeRegistry::iconNamesForUTI(uti);
        else if (path == PimsAdditions::realHomeDirectory())
            names = QStringList{QStringLiteral("user-home"), QStringLiteral("folder")};
        else
            names = QStringList{QStringLiteral("folder"), QStringLiteral("inode-directory")};
        folder = true;
    } else {
        const bool slow = XPFileUtils::pathIsOnSlowVolume(path);
        names = iconNamesForMime(
            mimeDb().mimeTypeForFile(path, slow ? QMimeDatabase::MatchExtension : QMimeDatabase::MatchDefault));
    }
    names << QStringLiteral("text-x-generic") << QStringLiteral("application-x-generic");
    QImage img = IconTheme::icon(names, side);
    if (img.isNull())
        img = folder ? IconTheme::builtInFolderIcon(side) : IconTheme::builtInDocumentIcon(side);
    return img;
}

void addIconForFileType(const QString &uti, QSize size, const QString &key)
{
    const int side = sideOf(size);
    QImage img;
    if (uti == QLatin1String("public.folder"))
        img = IconTheme::icon({QStringLiteral("folder"), QStringLiteral("inode-directory")}, side);
    if (img.isNull()) {
        QStringList names = TypeRegistry::iconNamesForUTI(uti);
        if (names.isEmpty()) {
            const QString ext = TypeRegistry::preferredExtensionForUTI(uti);
            if (!ext.isEmpty())
                names = iconNamesForMime(
                    mimeDb().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension));
        }
        if (!names.isEmpty())
            img = IconTheme::icon(names, side);
    }
    if (img.isNull()) // the generic document
        img = IconTheme::icon({QStringLiteral("text-x-generic"), QStringLiteral("application-x-generic")}, side);
    if (img.isNull())
        img = uti == QLatin1String("public.folder") ? IconTheme::builtInFolderIcon(side)
                                                    : IconTheme::builtInDocumentIcon(side);
    const QByteArray data = encodeIcon(img);
    if (!data.isEmpty())
        typeIconData().setValue(data, key);
}

QByteArray produce(const QString &name, int kind, QSize size)
{
    switch (kind) {
    case FileIcon:
        return iconForFileSymLink(name, size);
    case TypeIcon:
        return iconDataForFileType(name, size);
    case NamedImage:
        return imageNamedData(name, size);
    default:
        return {};
    }
}

KPCGImageRef newCGImageCreateCached(const QString &name, QSizeF size, int kind)
{
    const QString key = KPPool::pooledString(imageCacheKey(name, size, kind));
    KPDictionary<KPCGImageRef> &cache = imageCache();
    if (cache.count() > 20000)
        cache.removeAllValues();
    if (KPCGImageRef hit = cache.valueForKey(key))
        return hit;
    const QSize pixels(qMax(1, int(size.width())), qMax(1, int(size.height())));
    const QByteArray data = produce(name, kind, pixels);
    auto image = std::make_shared<KPCGImage>(data.isEmpty() ? QImage() : sharedImageForData(data));
    // Stored also when empty, so that a failure is not tried again.
    cache.setValue(image, key);
    return image;
}

} // namespace

quint64 crc64(const char *data, qsizetype length, quint64 crc)
{
    const auto &t = crcTable();
    const uchar *p = reinterpret_cast<const uchar *>(data);
    for (qsizetype i = 0; i < length; ++i)
        crc = t[uchar((crc >> 56) ^ p[i])] ^ (crc << 8);
    return crc;
}

QString imageCacheKey(const QString &name, QSizeF size, int kind)
{
    const qint64 number = qint64(1000.0 * size.height() + std::trunc(size.width())) + 1000000LL * kind;
    return (name.isEmpty() ? QStringLiteral("null") : name) + QString::number(number);
}

KPCGImageRef newCGIconForFile(const QString &path, QSizeF size)
{
    return newCGImageCreateCached(path, size, FileIcon);
}

KPCGImageRef newCGIconForFileType(const QString &uti, QSizeF size)
{
    return newCGImageCreateCached(uti, size, TypeIcon);
}

KPCGImageRef newCGNamedImage(const QString &name, QSizeF size)
{
    return newCGImageCreateCached(name, size, NamedImage);
}

QImage iconForFileType(const QString &uti, QSizeF size)
{
    return newCGIconForFileType(uti, size)->peekImage();
}

QImage imageNamed(const QString &name, QSizeF size)
{
    return newCGNamedImage(name, size)->peekImage();
}

QImage iconForFile(const QString &path, QSizeF size)
{
    const int w = int(size.width());
    const QString key = path + QString::number(w) + QLatin1Char('.') + QString::number(w);
    KPDictionary<QImage> &cache = fileIconImages();
    if (cache.count() > 800)
        cache.removeAllValues();
    const QImage hit = cache.valueForKey(key);
    if (!hit.isNull())
        return hit;
    const QImage img = sharedImageForData(iconForFileSymLink(path, QSize(w, int(size.height()))));
    if (!img.isNull())
        cache.setValue(img, key);
    return img;
}

void registerNamedImage(const QString &name, const std::function<QImage(QSize)> &paint)
{
    std::lock_guard lock(g_namedMutex);
    g_named.insert(name, paint);
}

QByteArray iconForFileSymLink(const QString &path, QSize size)
{
    if (path.isEmpty() || size.isEmpty())
        return {};
    const QString expanded = PimsAdditions::stringByExpandingTildeInPathSANDBOX(path);
    std::lock_guard lock(g_producerMutex);
    return encodeIcon(fileIconImage(expanded, sideOf(size)));
}

QByteArray iconDataForFileType(const QString &utiIn, QSize size)
{
    if (size.isEmpty())
        return {};
    QString uti = utiIn;
    if (uti.startsWith(QLatin1String("tree_")))
        uti = uti.mid(5);
    const QString key = uti + QString::number(size.width()) + QLatin1Char('.') + QString::number(size.width());
    QByteArray data = typeIconData().valueForKey(key);
    if (!data.isEmpty())
        return data;
    std::lock_guard lock(g_producerMutex);
    data = typeIconData().valueForKey(key); // another thread may have made it meanwhile
    if (data.isEmpty()) {
        addIconForFileType(uti, size, key);
        data = typeIconData().valueForKey(key);
    }
    return data;
}

QByteArray imageNamedData(const QString &name, QSize size)
{
    if (name.isEmpty() || size.isEmpty())
        return {};
    std::function<QImage(QSize)> paint;
    {
        std::lock_guard lock(g_namedMutex);
        paint = g_named.value(name);
    }
    std::lock_guard lock(g_producerMutex);
    QImage img;
    if (paint) {
        img = paint(size);
    } else {
        for (const char *ext : {".png", ".svg", ".tif"}) {
            const QString file = QStringLiteral(":/images/") + name + QLatin1String(ext);
            if (QFile::exists(file)) {
                img = IconTheme::loadIconFile(file, sideOf(size));
                break;
            }
        }
    }
    if (!img.isNull() && img.size() != size)
        img = img.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return encodeIcon(img);
}

QImage sharedImageForData(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    const quint64 crc = crc64(data);
    std::lock_guard lock(g_sharedMutex);
    if (g_shared.size() > 500)
        g_shared.clear();
    auto it = g_shared.constFind(crc);
    if (it != g_shared.cend())
        return it.value();
    const QImage img = decodeIcon(data);
    if (!img.isNull())
        g_shared.insert(crc, img);
    return img;
}

QImage newResizedImage(const QImage &image, int interpolation, int maxWidth, int maxHeight)
{
    if (image.isNull())
        return {};
    QImage img = image;
    const int w0 = img.width(), h0 = img.height();
    if (qint64(h0) > 10LL * w0)
        img = img.copy(0, 0, w0, 10 * w0);
    else if (qint64(w0) > 10LL * h0)
        img = img.copy(0, 0, 10 * h0, h0);
    if (maxWidth <= 0)
        return img;
    const int w = img.width(), h = img.height();
    if (w <= maxWidth && h <= maxHeight)
        return img;
    const float scale = std::min(float(maxWidth) / float(w), float(maxHeight) / float(h));
    // A hair of tolerance so that 4000 × (172/4000) comes out 172, not 171.
    const int sw = qMin(maxWidth, int(float(w) * scale + 0.001f));
    const int sh = qMin(maxHeight, int(float(h) * scale + 0.001f));
    if (sw <= 0 || sh <= 0)
        return {};
    if (qint64(sw) * sh > 25000000LL)
        return img;
    const Qt::TransformationMode mode =
        (interpolation == 1 || interpolation == 2) ? Qt::FastTransformation : Qt::SmoothTransformation;
    QImage src = img;
    if (src.format() != QImage::Format_ARGB32_Premultiplied && src.format() != QImage::Format_RGB32)
        src = src.convertToFormat(src.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    QImage out = src.scaled(sw, sh, Qt::IgnoreAspectRatio, mode);
    if (out.isNull()) {
        std::fputs("Memory not allocated!\n", stderr);
        return img;
    }
    if (out.format() != QImage::Format_ARGB32_Premultiplied)
        out = out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return out;
}

QByteArray dataForCGImage(const QImage &image, bool makeJPEG, double quality)
{
    if (image.isNull())
        return {};
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, makeJPEG ? "jpeg" : "png");
    if (makeJPEG) {
        writer.setQuality(qBound(0, int(std::lround(quality * 100)), 100));
    } else {
        // zlib level 1: cache pictures are written once per render and must not cost more than
        // the render.
        Thumbnailer::setFastPngCompression(writer);
    }
    const QImage src = (makeJPEG && image.hasAlphaChannel()) ? image.convertToFormat(QImage::Format_RGB32) : image;
    if (!writer.write(src))
        return {};
    return out;
}

QSizeF makeOptimalDestinationRect(QSizeF size, QSizeF maxSize)
{
    if (size.isEmpty() || maxSize.isEmpty())
        return QSizeF(0, 0);
    if (size.width() <= maxSize.width() && size.height() <= maxSize.height())
        return size;
    const qreal f = std::min(maxSize.width() / size.width(), maxSize.height() / size.height());
    return QSizeF(size.width() * f, size.height() * f);
}

QByteArray tiffData(const QImage &image, QSizeF maxSize)
{
    if (image.isNull() || maxSize.isEmpty())
        return {};
    const QSize target = makeOptimalDestinationRect(QSizeF(image.size()), maxSize).toSize().expandedTo(QSize(1, 1));
    const QImage drawn =
        target == image.size() ? image : image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(drawn))
        return {};
    return out;
}

qsizetype imageCacheCount()
{
    return imageCache().count();
}

qsizetype sharedImageCount()
{
    std::lock_guard lock(g_sharedMutex);
    return g_shared.size();
}

void clearCaches()
{
    imageCache().removeAllValues();
    fileIconImages().removeAllValues();
    typeIconData().removeAllValues();
    std::lock_guard lock(g_sharedMutex);
    g_shared.clear();
}

} // namespace KPImageUtils
