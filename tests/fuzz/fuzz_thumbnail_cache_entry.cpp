// Entries of the shared thumbnail cache are written by every thumbnailing program of the
// session: a PNG whose text chunks name the file and its version. The first byte chooses how the
// rest is used: as a whole PNG file, or as the text values of an otherwise valid entry.
#include "platform/thumbnailer/SharedCacheEntry.h"

#include <QBuffer>
#include <QImageWriter>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kMaxSide = 256;
const QByteArray kUri = "file:///home/u/Pictures/caf%C3%A9.jpg";
constexpr qint64 kMtime = 1767225600;
constexpr qint64 kSize = 4096;

void checkEntry(const QByteArray &png)
{
    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    const QImage entry = Thumbnailer::SharedCache::readEntry(&buffer, kMaxSide);
    if (!entry.isNull() && (entry.width() > kMaxSide || entry.height() > kMaxSide))
        std::abort();
    const bool matches = Thumbnailer::SharedCache::entryMatches(entry, kUri, kMtime, kSize);
    if (matches && entry.text(QStringLiteral("Thumb::URI")).toUtf8() != kUri)
        std::abort();
    (void)Thumbnailer::SharedCache::entryMatches(entry, QByteArray(), 0, 0);
}

// A 1 × 1 entry whose Thumb::URI, Thumb::MTime and Thumb::Size are the NUL-separated parts.
QByteArray entryWithText(const QByteArray &text)
{
    const QList<QByteArray> parts = text.split('\0');
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const char *keys[] = {"Thumb::URI", "Thumb::MTime", "Thumb::Size"};
    for (qsizetype i = 0; i < parts.size() && i < 3; ++i)
        image.setText(QString::fromLatin1(keys[i]), QString::fromUtf8(parts.at(i)));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    return buffer.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] & 1)
        checkEntry(entryWithText(rest));
    else
        checkEntry(rest);
    return 0;
}
