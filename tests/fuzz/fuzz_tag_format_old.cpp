// The blank-and-quote tag list format: parsing never yields an empty tag or two tags that
// differ only in case, and a list of plain tags written and parsed again comes back unchanged.
#include "tags/TagTextFormat.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList tags = PimsAdditions::arrayWithTagFormattedStringOld(text);
    QSet<QString> lower;
    for (const QString &t : tags) {
        if (t.isEmpty())
            std::abort();
        if (lower.contains(t.toLower()))
            std::abort();
        lower.insert(t.toLower());
    }

    // Quotes, colons (joined with the next item), a leading "&", "%20" and outer white space
    // are all changed by parsing, so only lists of plain tags must come back unchanged.
    bool allPlain = true;
    for (const QString &t : tags) {
        allPlain = allPlain && !t.contains(QLatin1Char('"')) && !t.contains(QLatin1Char(':')) &&
                   !t.startsWith(QLatin1Char('&')) && t == t.trimmed() && !t.contains(QLatin1String("%20")) &&
                   !t.contains(QLatin1Char('\n')) && !t.contains(QLatin1Char('\r'));
    }
    const QString written = PimsAdditions::tagFormattedStringOld(tags);
    if (allPlain && PimsAdditions::arrayWithTagFormattedStringOld(written) != tags)
        std::abort();
    return 0;
}
