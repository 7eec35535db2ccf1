#include "platform/mdindex/MdQuery.h"

#include <QLocale>
#include <QTimeZone>

namespace MdIndex {

bool timeExpression(const QString &name, int offset, const QDateTime &now, qint64 *msecs)
{
    const QDate today = now.date();
    auto startOf = [&](QDate d) { return QDateTime(d, QTime(0, 0), now.timeZone()).toMSecsSinceEpoch(); };
    if (name == QLatin1String("now")) {
        *msecs = now.addSecs(offset).toMSecsSinceEpoch();
    } else if (name == QLatin1String("today")) {
        *msecs = startOf(today.addDays(offset));
    } else if (name == QLatin1String("yesterday")) {
        *msecs = startOf(today.addDays(offset - 1));
    } else if (name == QLatin1String("this_week")) {
        const int first = QLocale().firstDayOfWeek();
        const int back = (today.dayOfWeek() - first + 7) % 7;
        *msecs = startOf(today.addDays(-back).addDays(7LL * offset));
    } else if (name == QLatin1String("this_month")) {
        *msecs = startOf(QDate(today.year(), today.month(), 1).addMonths(offset));
    } else if (name == QLatin1String("this_year")) {
        *msecs = startOf(QDate(today.year(), 1, 1).addYears(offset));
    } else {
        return false;
    }
    return true;
}

Attr attrForName(const QString &n)
{
    static const QHash<QString, Attr> names{
        {QStringLiteral("*"), Attr::Any},
        {QStringLiteral("kMDItemFSName"), Attr::FSName},
        {QStringLiteral("kMDItemDisplayName"), Attr::DisplayName},
        {QStringLiteral("kMDItemPath"), Attr::Path},
        {QStringLiteral("kMDItemContentType"), Attr::ContentType},
        {QStringLiteral("kMDItemContentTypeTree"), Attr::ContentTypeTree},
        {QStringLiteral("kMDItemContentModificationDate"), Attr::ContentModificationDate},
        {QStringLiteral("kMDItemFSContentChangeDate"), Attr::ContentModificationDate},
        {QStringLiteral("kMDItemContentCreationDate"), Attr::CreationDate},
        {QStringLiteral("kMDItemFSCreationDate"), Attr::CreationDate},
        {QStringLiteral("kMDItemLastUsedDate"), Attr::LastUsedDate},
        {QStringLiteral("kMDItemUserTags"), Attr::UserTags},
        {QStringLiteral("kMDItemStarRating"), Attr::Rating},
        {QStringLiteral("kMDItemTextContent"), Attr::TextContent},
        {QStringLiteral("kMDItemFSSize"), Attr::Size},
        {QStringLiteral("kMDItemSupportFileType"), Attr::SupportFileType},
    };
    return names.value(n, Attr::Unknown);
}

} // namespace MdIndex
