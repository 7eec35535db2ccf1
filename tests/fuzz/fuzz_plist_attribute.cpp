// Attribute bytes as another program may have left them: parsed as a property list (binary or
// XML), and as the desktop's comma-joined tag list. A value that parses must survive being
// written back and read again.
#include "platform/Plist.h"
#include "tags/Lumitag.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    QString error;
    const QVariant value = Plist::fromData(bytes, &error);
    if (value.isValid()) {
        QString writeError;
        const QByteArray again = Plist::toBinary(value, &writeError);
        if (writeError.isEmpty()) {
            QString rereadError;
            if (!Plist::fromData(again, &rereadError).isValid())
                std::abort(); // our own output must parse
        }
        // What the tag code does with a stored value.
        (void)Lumitag::validateAsArrayOfStrings(value);
        (void)Lumitag::removeDuplicateTags(value);
    } else if (error.isEmpty() && !bytes.isEmpty()) {
        std::abort(); // a failed parse always says why
    }

    if (const auto tags = Lumitag::parseSystemTags(bytes)) {
        for (const QString &t : *tags) {
            if (t.isEmpty() || t.contains(QLatin1Char(',')) || t != t.trimmed())
                std::abort();
        }
    }
    return 0;
}
