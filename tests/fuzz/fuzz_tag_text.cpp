// Text typed or pasted as tags, through the splitting the token field uses.
#include "tags/TagTextFormat.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool useCommas = data[0] & 1;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const QStringList tags = XPTagText::grepStringForTags(text, useCommas);
    QSet<QString> seen;
    for (const QString &t : tags) {
        if (seen.contains(t))
            std::abort(); // exact duplicates are removed
        seen.insert(t);
        if (t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\r')))
            std::abort(); // cleaning drops line breaks
    }
    (void)PimsAdditions::componentsSeparatedByBlanksAndQuotes(text);
    (void)PimsAdditions::combineArraysSkipDuplicatesCaseInsensitive(tags, tags);
    for (const QString &t : tags) {
        (void)XPTagText::displayStringToUserString(t);
        (void)XPTagText::userStringToDisplayString(t);
    }
    return 0;
}
