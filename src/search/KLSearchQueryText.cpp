#include "search/KLSearchQueryText.h"

namespace KLSearchQueryText {
namespace {

const QString kQuote = QStringLiteral("\"");

QString joinCondition(const QString &q, const QString &condition)
{
    if (condition.isEmpty())
        return q;
    if (q.isEmpty())
        return condition;
    return q + QStringLiteral(" && ") + condition;
}

// Labels compare without case, blanks and "&" so that "yesterday-today" or "last2weeks" work
// on the command line.
QString labelKey(const QString &s)
{
    QString key;
    for (const QChar ch : s)
        if (ch.isLetterOrNumber())
            key.append(ch.toLower());
    return key;
}

template <typename Entry> int indexForName(const QList<Entry> &entries, const QString &name)
{
    bool isNumber = false;
    const int index = name.trimmed().toInt(&isNumber);
    if (isNumber)
        return index >= 0 && index < entries.size() ? index : -1;
    const QString key = labelKey(name);
    if (key.isEmpty())
        return -1;
    for (int i = 0; i < entries.size(); ++i)
        if (labelKey(entries.at(i).label) == key)
            return i;
    return -1;
}

using TermCondition = QString (*)(const QString &term);

QString addTermConditions(const QString &q, const QString &fieldText, TermCondition condition)
{
    if (fieldText.isEmpty() || fieldText == allPlaceholder())
        return q;
    QString result = q;
    for (const QString &term : readSpaceAndQuoteDelimitedStringIntoArray(fieldText))
        result = joinCondition(result, condition(term));
    return result;
}

QString nameCondition(const QString &term)
{
    if (term.size() == 1)
        return QStringLiteral("( kMDItemDisplayName == \"%1*\"cdw )").arg(term);
    return QStringLiteral("( kMDItemDisplayName == \"*%1*\"cd )").arg(term);
}

QString nameOrContentCondition(const QString &term)
{
    if (term.size() == 1)
        return QStringLiteral("( kMDItemDisplayName == \"%1*\"cd )").arg(term);
    return QStringLiteral("( * == \"%1*\"cdw || kMDItemTextContent == \"%1*\"cdw )").arg(term);
}

} // namespace

const QList<KindEntry> &kinds()
{
    // The identifiers are those of the type registry's tree (MdIndex keeps each file's type and
    // the registry's parents it conforms to), so "Images" finds every image/* type.
    static const QList<KindEntry> table = {
        {QStringLiteral("Any Kind"), {}},
        {QStringLiteral("PDF"), {QStringLiteral("com.adobe.pdf")}},
        {QStringLiteral("Images"), {QStringLiteral("public.image")}},
        {QStringLiteral("iWork"), {QStringLiteral("com.apple.iwork.*")}},
        {QStringLiteral("Word"),
         {QStringLiteral("com.microsoft.word.doc"), QStringLiteral("org.openxmlformats.wordprocessingml.document")}},
        {QStringLiteral("Excel"),
         {QStringLiteral("com.microsoft.excel.xls"), QStringLiteral("org.openxmlformats.spreadsheetml.sheet")}},
        {QStringLiteral("Presentations"), {QStringLiteral("public.presentation")}},
        {QStringLiteral("Movies"), {QStringLiteral("public.movie")}},
        {QStringLiteral("Audio"), {QStringLiteral("public.audio")}},
        {QStringLiteral("Photoshop"), {QStringLiteral("com.adobe.photoshop-image")}},
        {QStringLiteral("JPG"), {QStringLiteral("public.jpeg")}},
        {QStringLiteral("PNG"), {QStringLiteral("public.png")}},
        {QStringLiteral("Source Code"), {QStringLiteral("public.source-code")}},
        {QStringLiteral("RTF"), {QStringLiteral("public.rtf")}},
        {QStringLiteral("Folders"), {QStringLiteral("public.folder")}},
    };
    return table;
}

const QList<TimeEntry> &times()
{
    static const QList<TimeEntry> table = {
        {QStringLiteral("Any Time"), {}},
        {QStringLiteral("Today"), QStringLiteral("$time.today")},
        {QStringLiteral("Yesterday & Today"), QStringLiteral("$time.yesterday")},
        {QStringLiteral("This Week"), QStringLiteral("$time.this_week")},
        {QStringLiteral("Last 2 Weeks"), QStringLiteral("$time.this_week(-1)")},
        {QStringLiteral("This Month"), QStringLiteral("$time.this_month")},
        {QStringLiteral("This Year"), QStringLiteral("$time.this_year")},
    };
    return table;
}

int kindIndexForName(const QString &name)
{
    return indexForName(kinds(), name);
}

int timeIndexForName(const QString &name)
{
    return indexForName(times(), name);
}

QString allPlaceholder()
{
    return QStringLiteral("\"All\"");
}

QString trimWhiteStuff(const QString &s)
{
    // QString::trimmed() strips exactly white space and line breaks (Unicode White_Space).
    return s.trimmed();
}

QStringList readSpaceAndQuoteDelimitedStringIntoArray(const QString &s)
{
    QString spaced = s;
    spaced.replace(kQuote, QStringLiteral(" \" "));
    const QStringList pieces = spaced.split(QLatin1Char(' '));

    QStringList terms;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QString &piece = pieces.at(i);
        if (piece.isEmpty())
            continue;
        QString term;
        if (!piece.contains(kQuote)) {
            term = trimWhiteStuff(piece);
        } else {
            QString phrase = piece;
            while (++i < pieces.size()) {
                phrase += pieces.at(i) + QLatin1Char(' ');
                if (pieces.at(i).contains(kQuote))
                    break;
            }
            // The piece after the closing quote is the empty one made by step one's blank,
            // unless the text went on without a blank ("a"b): then it is a term of its own and
            // is kept rather than dropped.
            phrase.remove(kQuote);
            term = trimWhiteStuff(phrase);
        }
        // A piece of white space alone, or "", would match every name: not a term.
        if (!term.isEmpty())
            terms.append(term);
    }
    for (qsizetype i = 0; i + 1 < terms.size();) {
        if (terms.at(i).endsWith(QLatin1Char(':'))) {
            terms[i] += terms.at(i + 1);
            terms.removeAt(i + 1);
        } else {
            ++i;
        }
    }
    return terms;
}

QString addFileNameSearch(const QString &q, const QString &fieldText)
{
    return addTermConditions(q, fieldText, nameCondition);
}

QString addAllSearch(const QString &q, const QString &fieldText)
{
    return addTermConditions(q, fieldText, nameOrContentCondition);
}

QString addFileTypeQuery(const QString &q, int kindIndex)
{
    if (kindIndex <= 0 || kindIndex >= kinds().size())
        return q;
    QStringList parts;
    for (const QString &type : kinds().at(kindIndex).contentTypes)
        parts.append(QStringLiteral("(kMDItemContentTypeTree == \"%1\")").arg(type));
    if (parts.isEmpty())
        return q;
    return joinCondition(q, QLatin1Char('(') + parts.join(QStringLiteral(" || ")) + QLatin1Char(')'));
}

QString addDateQuery(const QString &q, int timeIndex)
{
    if (timeIndex <= 0 || timeIndex >= times().size())
        return q;
    const QString &expression = times().at(timeIndex).expression;
    if (expression.isEmpty())
        return q;
    return joinCondition(
        q, QStringLiteral("((kMDItemContentModificationDate > %1) || (kMDItemLastUsedDate > %1))").arg(expression));
}

QString addNoSystemFiles(const QString &q)
{
    return joinCondition(q, QStringLiteral("(kMDItemSupportFileType != MDSystemFile)"));
}

namespace {
QString complete(const QString &q, const Criteria &c)
{
    return addNoSystemFiles(addDateQuery(addFileTypeQuery(q, c.kindIndex), c.timeIndex));
}
} // namespace

QString nameQuery(const Criteria &c)
{
    return complete(addFileNameSearch(QString(), c.text), c);
}

QString allQuery(const Criteria &c)
{
    return complete(addAllSearch(QString(), c.text), c);
}

bool isNoSearch(const Criteria &c, bool locationPicked)
{
    const bool kindIsAny = c.kindIndex <= 0 || c.kindIndex >= kinds().size();
    const bool timeIsAny = c.timeIndex <= 0 || c.timeIndex >= times().size();
    return trimWhiteStuff(c.text).isEmpty() && kindIsAny && timeIsAny && !locationPicked;
}

QStringList mergeResults(const QStringList &names, const QStringList &contents)
{
    const QList<QString> merged = mergeResults<QString>(names, contents, [](const QString &path) { return path; });
    return merged;
}

} // namespace KLSearchQueryText
