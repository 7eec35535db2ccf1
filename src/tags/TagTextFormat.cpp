#include "tags/TagTextFormat.h"

#include "platform/Defaults.h"

#include <QSet>

namespace PimsAdditions {

namespace {

const QChar kBlank = QLatin1Char(' ');
const QChar kQuote = QLatin1Char('"');

QString trimBlanks(const QString &s)
{
    qsizetype start = 0;
    qsizetype end = s.size();
    while (start < end && s.at(start) == kBlank)
        ++start;
    while (end > start && s.at(end - 1) == kBlank)
        --end;
    return s.mid(start, end - start);
}

QString caseKey(const QString &s)
{
    return s.toLower().normalized(QString::NormalizationForm_D);
}

} // namespace

QString cleanedTag(const QString &tag)
{
    QString s = trimBlanks(tag);
    s.remove(QLatin1Char('\n'));
    s.remove(QLatin1Char('\r'));
    s.replace(QLatin1String("%20"), QLatin1String(" "));
    return s;
}

QString formattedTag(const QString &tag)
{
    if (tag.contains(kBlank))
        return kQuote + tag + kQuote;
    return tag;
}

QString tagFormattedStringOld(const QStringList &tags)
{
    QStringList parts;
    parts.reserve(tags.size());
    for (const QString &t : tags)
        parts.append(formattedTag(t));
    return parts.join(kBlank).trimmed();
}

QStringList componentsSeparatedByBlanksAndQuotes(const QString &text)
{
    QString spaced = text;
    spaced.replace(kQuote, QStringLiteral(" \" "));
    const QStringList pieces = spaced.split(kBlank);

    QStringList items;
    const qsizetype n = pieces.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QString &piece = pieces.at(i);
        if (piece.isEmpty())
            continue;
        if (!piece.contains(kQuote)) {
            items.append(piece.trimmed());
            continue;
        }
        // A quote opens a quoted item: collect up to and including the closing quote.
        QString collected = piece + kBlank;
        qsizetype j = i + 1;
        bool closed = false;
        for (; j < n; ++j) {
            collected += pieces.at(j) + kBlank;
            if (pieces.at(j).contains(kQuote)) {
                closed = true;
                break;
            }
        }
        collected.remove(kQuote);
        items.append(collected.trimmed());
        // Skip past the closing quote and the empty piece made by the blank after it. A word
        // glued to the closing quote ("a b"c) is kept as an item of its own, not dropped.
        if (!closed)
            i = n;
        else if (j + 1 < n && pieces.at(j + 1).isEmpty())
            i = j + 1;
        else
            i = j;
    }

    // Join "kind:" with the item after it.
    QStringList joined;
    joined.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString &item = items.at(i);
        if (item.endsWith(QLatin1Char(':')) && i + 1 < items.size()) {
            joined.append(item + items.at(i + 1));
            ++i;
        } else {
            joined.append(item);
        }
    }
    return joined;
}

QStringList arrayWithTagFormattedStringOld(const QString &text)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString &item : componentsSeparatedByBlanksAndQuotes(text)) {
        QString tag = cleanedTag(item);
        if (tag.startsWith(QLatin1Char('&')))
            tag.remove(0, 1);
        if (tag.isEmpty())
            continue;
        const QString key = tag.toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        out.append(tag);
    }
    return out;
}

QStringList combineArraysSkipDuplicatesCaseInsensitive(const QVariantList &one, const QVariantList &two)
{
    QStringList out;
    QSet<QString> seen;
    for (const QVariantList *list : {&one, &two}) {
        for (const QVariant &item : *list) {
            if (item.typeId() != QMetaType::QString)
                continue;
            const QString s = item.toString();
            const QString key = caseKey(s);
            if (seen.contains(key) || key.contains(QLatin1String("%20")))
                continue;
            seen.insert(key);
            out.append(s);
        }
    }
    return out;
}

QStringList combineArraysSkipDuplicatesCaseInsensitive(const QStringList &one, const QStringList &two)
{
    QVariantList a;
    for (const QString &s : one)
        a.append(s);
    QVariantList b;
    for (const QString &s : two)
        b.append(s);
    return combineArraysSkipDuplicatesCaseInsensitive(a, b);
}

qint64 indexOfCaseInsensitiveString(const QStringList &list, const QString &string)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list.at(i).compare(string, Qt::CaseInsensitive) == 0)
            return i;
    }
    return kNotFound;
}

bool containsLiteralString(const QString &text, const QString &string)
{
    return text.contains(string, Qt::CaseSensitive);
}

QString stringByReplacingLITERALOccurrencesOfString(const QString &text, const QString &search,
                                                    const QString &replacement)
{
    if (search.isEmpty())
        return text;
    QString out = text;
    out.replace(search, replacement, Qt::CaseSensitive);
    return out;
}

} // namespace PimsAdditions

namespace XPTagText {

QStringList grepStringForTags(const QString &text, bool useCommas)
{
    if (text.isEmpty())
        return {};
    QStringList pieces;
    const bool hasQuote = text.contains(QLatin1Char('"'));
    const bool hasComma = text.contains(QLatin1Char(','));
    if (!hasQuote && (hasComma || (useCommas && text.size() <= 39))) {
        for (const QString &piece : text.split(QLatin1Char(','))) {
            if (!piece.isEmpty())
                pieces.append(piece);
        }
    } else {
        pieces = PimsAdditions::arrayWithTagFormattedStringOld(text);
    }
    return tagDisplayNamesForEditingStrings(pieces, true, false);
}

QStringList grepStringForTags(const QString &text)
{
    const QVariant setting = Defaults::standard().value(QStringLiteral("KPUseCommas"));
    const bool useCommas = setting.isValid() ? Defaults::standard().boolForKey(QStringLiteral("KPUseCommas")) : true;
    return grepStringForTags(text, useCommas);
}

QStringList tagDisplayNamesForEditingStrings(const QStringList &strings, bool removeDuplicates, bool changeCaseOK)
{
    Q_UNUSED(changeCaseOK);
    QStringList out;
    QSet<QString> seen;
    for (const QString &s : strings) {
        if (s.isEmpty())
            continue;
        const QString tag = userStringToDisplayString(s);
        if (removeDuplicates) {
            if (seen.contains(tag))
                continue;
            seen.insert(tag);
        }
        out.append(tag);
    }
    return out;
}

QString displayStringToUserString(const QString &tag)
{
    const QString cleaned = PimsAdditions::cleanedTag(tag);
    if (cleaned.contains(QLatin1Char(' ')))
        return QLatin1Char('"') + cleaned + QLatin1Char('"');
    return cleaned;
}

QString userStringToDisplayString(const QString &text)
{
    if (text.isNull())
        return QString();
    QString s = text;
    if (s.startsWith(QLatin1Char('"')) && s.endsWith(QLatin1Char('"')))
        s.remove(QLatin1Char('"'));
    return PimsAdditions::cleanedTag(s);
}

} // namespace XPTagText
