#include "platform/thumbnailer/SharedCacheEntry.h"

#include <QFile>
#include <QImageReader>

namespace Thumbnailer::SharedCache {

QImage readEntry(QIODevice *device, int maxSide)
{
    QImageReader reader(device, "png");
    const QSize announced = reader.size();
    if (!announced.isValid() || announced.width() > maxSide || announced.height() > maxSide)
        return {};
    return reader.read();
}

QImage readEntry(const QString &file, int maxSide)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return readEntry(&f, maxSide);
}

// QImageReader::text() cannot be used here: it splits "key: value" pairs at the first colon,
// which loses every "Thumb::" key. The decoded image keeps them intact (also those written after
// the pixel data).
bool entryMatches(const QImage &entry, const QByteArray &uri, qint64 mtimeSecs, qint64 size)
{
    if (entry.isNull() || entry.text(QStringLiteral("Thumb::URI")).toUtf8() != uri)
        return false;
    bool ok = false;
    const qint64 mtime = entry.text(QStringLiteral("Thumb::MTime")).toLongLong(&ok);
    if (!ok || mtime != mtimeSecs)
        return false;
    const QString sizeText = entry.text(QStringLiteral("Thumb::Size"));
    if (!sizeText.isEmpty() && sizeText.toLongLong() != size)
        return false;
    return true;
}

} // namespace Thumbnailer::SharedCache
