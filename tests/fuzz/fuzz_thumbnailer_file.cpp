// The installed thumbnailers' *.thumbnailer files and the command lines made from their Exec
// values: any bytes parse, and expanding the field codes never runs away.
#include "platform/thumbnailer/ThumbnailerEntry.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const Thumbnailer::ThumbnailerEntry entry = Thumbnailer::parseThumbnailerEntry(content);
    for (const QString &m : entry.mimeTypes) {
        if (m.isEmpty())
            std::abort();
    }
    if (entry.exec != entry.exec.trimmed() || entry.tryExec != entry.tryExec.trimmed())
        std::abort();
    // A file name with spaces, quotes and percent signs must come through as one argument.
    const QString input = QStringLiteral("/home/u/My \"Files\"/100% done.pdf");
    const QString uri = QStringLiteral("file:///home/u/My%20%22Files%22/100%25%20done.pdf");
    const QString output = QStringLiteral("/tmp/out dir/thumbnail.png");
    const QStringList args = Thumbnailer::expandExec(entry.exec, input, uri, output, 256);
    if (args.size() > entry.exec.size())
        std::abort(); // every word takes at least one character of the value
    // The whole value, quoted or not, expanded on its own too.
    (void)Thumbnailer::expandExec(QString::fromUtf8(content), input, uri, output, -1);
    return 0;
}
