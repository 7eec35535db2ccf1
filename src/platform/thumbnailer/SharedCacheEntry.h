#pragma once
// One entry of the freedesktop shared thumbnail cache, as another program may have written it:
// a PNG whose text chunks Thumb::URI, Thumb::MTime and (optionally) Thumb::Size name the file
// and the version it shows. Failure records under fail/ have the same form.
#include <QByteArray>
#include <QImage>

class QIODevice;

namespace Thumbnailer::SharedCache {

// Decodes an entry, text chunks included; null when it is not a PNG, is larger than 16 MB, has a
// chunk that runs past the end of the data (or no IEND), or its header announces a side longer
// than `maxSide`. A small file can announce a picture, or a chunk, that would take gigabytes
// to decode; no size folder holds one that large.
QImage readEntry(QIODevice *device, int maxSide);
QImage readEntry(const QString &file, int maxSide);

// Whether the entry's text chunks name this URI and file version: Thumb::URI equal, Thumb::MTime
// a whole number of seconds equal to `mtimeSecs`, Thumb::Size (when present) equal to `size`.
bool entryMatches(const QImage &entry, const QByteArray &uri, qint64 mtimeSecs, qint64 size);

} // namespace Thumbnailer::SharedCache
