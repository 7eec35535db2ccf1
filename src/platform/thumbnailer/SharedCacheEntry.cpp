#include "platform/thumbnailer/SharedCacheEntry.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <cstring>

namespace Thumbnailer::SharedCache {

namespace {

// An xx-large entry (1024 × 1024, 8 bytes a pixel) stored without compression fits in this.
constexpr qint64 kMaxEntryBytes = 16 * 1024 * 1024;

bool isChunkType(const char *type)
{
    for (int i = 0; i < 4; ++i) {
        const uchar c = uchar(type[i]);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

// Whether the bytes are a PNG signature and a run of well-formed chunks up to IEND, each within
// the data. libpng trusts a chunk's length before it reads the chunk: a 100-byte file whose
// damaged chunk announces 1.4 GB makes it allocate and clear that much, for many seconds.
bool chunksWithinData(const QByteArray &data)
{
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (data.size() < 8 || !data.startsWith(QByteArray::fromRawData(signature, 8)))
        return false;
    qsizetype pos = 8;
    while (pos + 12 <= data.size()) {
        const quint32 length = qFromBigEndian<quint32>(data.constData() + pos);
        const char *type = data.constData() + pos + 4;
        if (!isChunkType(type) || qint64(length) > qint64(data.size() - pos - 12))
            return false;
        if (std::memcmp(type, "IEND", 4) == 0)
            return true;
        pos += 12 + qsizetype(length);
    }
    return false;
}

} // namespace

QImage readEntry(QIODevice *device, int maxSide)
{
    // Read whole (entries are small) and checked before libpng sees them. Files are read at
    // their size: QIODevice::read(n) allocates n bytes first.
    const bool sequential = device->isSequential();
    const qint64 left = sequential ? kMaxEntryBytes + 1 : device->size() - device->pos();
    if (!sequential && left > kMaxEntryBytes)
        return {};
    QByteArray data = device->read(left);
    if (data.size() > kMaxEntryBytes || !chunksWithinData(data))
        return {};
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
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
