#include "tags/editor/XPTagEditorRules.h"

#include "util/Localized.h"
#include "util/Tilde.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>

namespace XPTagEditorRules {

Gate gateForFileCount(qsizetype count)
{
    if (count > kRefuseAbove)
        return Gate::Refuse;
    if (count > kConfirmAbove)
        return Gate::Confirm;
    return Gate::WriteAtOnce;
}

bool showsProgress(qsizetype count)
{
    return count >= kProgressFrom;
}

namespace {
QString lastComponent(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}
} // namespace

FailureReport failureReport(const QStringList &failed, const QStringList &all, const QHash<QString, QString> &reasons)
{
    FailureReport report;
    if (failed.isEmpty())
        return report;
    QString titleKey;
    QString messageKey;
    if (failed.size() == 1 && all.size() <= 1) {
        titleKey = QStringLiteral("XPOneTagsNotSetTitle");
        messageKey = QStringLiteral("XPOneTagsNotSetComments");
    } else if (failed.size() == 1) {
        titleKey = QStringLiteral("XPOneTagsNotSetOneOfManyTitle");
        messageKey = QStringLiteral("XPOneTagsNotSetComments");
    } else if (failed.size() >= all.size()) {
        titleKey = QStringLiteral("XPNoTagsSetTitle");
        messageKey = QStringLiteral("XPNoTagsSetComments");
    } else {
        titleKey = QStringLiteral("XPSomeTagsSetTitle");
        messageKey = QStringLiteral("XPSomeTagsSetComments");
    }
    // Ten names; an eleventh only when it is the last one (a "1 more" line would take as much
    // room as the name itself).
    const qsizetype listed = failed.size() > kReportedNames + 1 ? kReportedNames : failed.size();
    for (qsizetype i = 0; i < listed; ++i) {
        const QString reason = reasons.value(failed.at(i));
        report.nameLines.append(reason.isEmpty() ? lastComponent(failed.at(i))
                                                 : KLLocalized(QStringLiteral("XPTagsNotSetNameAndReason"),
                                                               {lastComponent(failed.at(i)), reason}));
    }
    if (listed < failed.size())
        report.nameLines.append(
            KLLocalized(QStringLiteral("XPSomeTagsSetLeftovers"),
                        {QString(), QString(), QString(), QString::number(failed.size() - listed)}));
    const QStringList args{report.nameLines.join(QLatin1Char('\n')),
                           PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(failed.first()),
                           QString::number(failed.size())};
    report.title = KLLocalized(titleKey, args);
    report.message = KLLocalized(messageKey, args);
    return report;
}

QString ratingText(double rating)
{
    if (rating <= 0)
        return KLLocalized(QStringLiteral("not rated"));
    return KLLocalized(QStringLiteral("rated %1/5"), {QString::number(qint64(std::trunc(rating)))});
}

RatingDisplay ratingDisplay(const QList<double> &ratings)
{
    RatingDisplay display;
    if (!ratings.isEmpty())
        display.value = ratings.first();
    for (double r : ratings) {
        if (r != display.value) {
            display.value = 0;
            display.text = KLLocalized(QStringLiteral("various"));
            return display;
        }
    }
    display.text = ratingText(display.value);
    return display;
}

QString windowTitleForFileCount(qsizetype count, const QString &firstFileName)
{
    if (count <= 0)
        return QString();
    if (count == 1)
        return KLLocalized(QStringLiteral("XPTagHUDWindowTemplate"), {firstFileName});
    return KLLocalized(QStringLiteral("XPTagHUDMultipleDocsWindowTemplate"), {QString::number(count)});
}

QString tagFieldTitle(qsizetype count)
{
    return KLLocalized(count > 1 ? QStringLiteral("XPTagEditorTagFieldTitleMultiple")
                                 : QStringLiteral("XPTagEditorTagFieldTitle"));
}

QString fileNameLine(qsizetype count, const QString &firstFileName)
{
    if (count <= 1)
        return firstFileName;
    return KLLocalized(QStringLiteral("XPTagFileNameMultipleDocsTemplate"), {QString::number(count)});
}

QString queryTagWord(const QString &fileManagerWord)
{
    QString word = fileManagerWord.isEmpty() ? QStringLiteral("Tags:") : fileManagerWord;
    if (word.endsWith(QLatin1String("s:")))
        word.replace(QLatin1String("s:"), QLatin1String(":"));
    if (word.endsWith(QLatin1String("s :")))
        word.replace(QLatin1String("s :"), QLatin1String(":"));
    return QLatin1Char(' ') + word.toLower() + QLatin1Char(' ');
}

QString tagQueryText(const QStringList &tags, double minimumRating, const QString &fileManagerWord)
{
    const QString word = queryTagWord(fileManagerWord);
    QString query;
    for (const QString &tag : tags) {
        query += word;
        query += tag.contains(QLatin1Char(' ')) ? QLatin1Char('"') + tag + QLatin1Char('"') : tag;
    }
    if (minimumRating > 0)
        query += QStringLiteral(" starrating:>=") + QString::number(minimumRating, 'g', QLocale::FloatingPointShortest);
    return query;
}

} // namespace XPTagEditorRules
