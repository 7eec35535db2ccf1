#include "browser/KLImageBrowserCellText.h"

#include "util/Localized.h"
#include "util/Tilde.h"

#include <QLocale>
#include <cmath>

namespace KLCellText {

KLCellFacts factsForItem(const KLItemPtr &item)
{
    KLCellFacts facts;
    if (!item)
        return facts;
    const QString path = item->lastKnownPath();
    facts.name = item->displayName();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0) {
        const QString folder = slash == 0 ? QStringLiteral("/") : path.left(slash);
        facts.folder = PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(folder);
    }
    const KLItem::RuleFacts rule = item->ruleFacts();
    facts.missing = !rule.exists;
    facts.isFolder = rule.isFolder.value_or(false);
    if (item->isStack()) {
        facts.stackCount = item->stackCount();
    } else {
        facts.date = item->imageSubtitle();
        if (!facts.missing)
            facts.size = item->fileSize();
    }
    const KLItem::TagFacts tagFacts = item->tagFacts();
    facts.tags = tagFacts.tags;
    facts.rating = tagFacts.rating;
    return facts;
}

QString kindText(const KLCellFacts &facts)
{
    if (facts.stackCount > 0 || facts.isFolder)
        return KLLocalized(QStringLiteral("KLCellKindFolder"));
    const qsizetype dot = facts.name.lastIndexOf(QLatin1Char('.'));
    // A leading dot marks a hidden name, not an extension.
    if (dot > 0 && dot < facts.name.size() - 1)
        return KLLocalized(QStringLiteral("KLCellKindExtension"), {facts.name.mid(dot + 1).toUpper()});
    return KLLocalized(QStringLiteral("KLCellKindFile"));
}

int wholeStars(double rating)
{
    if (!(rating > 0))
        return 0;
    return int(std::min(5.0, std::floor(rating + 0.5)));
}

namespace {
QString ratingNumber(double rating)
{
    return QLocale().toString(std::min(rating, 5.0), 'g', 3);
}
} // namespace

QString ratingText(double rating)
{
    if (!(rating > 0))
        return {};
    return KLLocalized(std::min(rating, 5.0) == 1.0 ? QStringLiteral("KLCellRatingOne")
                                                    : QStringLiteral("KLCellRating"),
                       {ratingNumber(rating)});
}

namespace {
QString sizeText(const KLCellFacts &facts)
{
    if (!facts.size || facts.isFolder)
        return {};
    return QLocale().formattedDataSize(qint64(*facts.size), 1, QLocale::DataSizeTraditionalFormat);
}

QString tagsText(const QStringList &tags)
{
    return tags.isEmpty() ? QString() : KLLocalized(QStringLiteral("KLCellTags"), {tags.join(QStringLiteral(", "))});
}
} // namespace

QString toolTip(const KLCellFacts &facts)
{
    QStringList lines;
    lines.append(facts.name);
    if (!facts.folder.isEmpty())
        lines.append(KLLocalized(QStringLiteral("KLCellFolder"), {facts.folder}));
    if (facts.stackCount > 0)
        lines.append(KLLocalized(QStringLiteral("KLCellStack"), {QString::number(facts.stackCount)}));
    if (facts.missing)
        lines.append(KLLocalized(QStringLiteral("KLCellMissing")));
    else if (!facts.date.isEmpty())
        lines.append(KLLocalized(QStringLiteral("KLCellDate"), {facts.date}));
    if (const QString size = sizeText(facts); !size.isEmpty())
        lines.append(KLLocalized(QStringLiteral("KLCellSize"), {size}));
    if (!facts.tags.isEmpty())
        lines.append(KLLocalized(QStringLiteral("KLCellTagsLine"), {facts.tags.join(QStringLiteral(", "))}));
    if (facts.rating > 0)
        lines.append(KLLocalized(QStringLiteral("KLCellRatingLine"), {ratingNumber(facts.rating)}));
    return lines.join(QLatin1Char('\n'));
}

QString accessibleDescription(const KLCellFacts &facts)
{
    QStringList parts;
    if (facts.missing)
        parts.append(KLLocalized(QStringLiteral("KLCellMissing")));
    if (facts.stackCount > 0)
        parts.append(KLLocalized(QStringLiteral("KLCellStack"), {QString::number(facts.stackCount)}));
    else if (!facts.date.isEmpty() && !facts.missing)
        parts.append(facts.date);
    parts.append(kindText(facts));
    if (!facts.folder.isEmpty())
        parts.append(KLLocalized(QStringLiteral("KLCellInFolder"), {facts.folder}));
    if (!facts.tags.isEmpty())
        parts.append(tagsText(facts.tags));
    if (const QString rating = ratingText(facts.rating); !rating.isEmpty())
        parts.append(rating);
    return parts.join(QStringLiteral(", "));
}

QString oneLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u == '\n' || u == '\r')
            c = QChar(0x21b5); // ↵
        else if (u == '\t')
            c = QChar(0x2192); // →
        else if (u < 0x20 || u == 0x7f)
            c = QChar(0xfffd);
    }
    return out;
}

} // namespace KLCellText
