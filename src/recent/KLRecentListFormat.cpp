#include "recent/KLRecentListFormat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace KLRecentListFormat {

QJsonArray toJsonArray(const QList<KLItemPtr> &items)
{
    QJsonArray array;
    for (const KLItemPtr &item : items) {
        if (!item)
            continue;
        QJsonObject o;
        o.insert(QStringLiteral("path"), item->lastKnownPath());
        o.insert(QStringLiteral("title"), item->imageTitle());
        o.insert(QStringLiteral("subtitle"), item->imageSubtitle());
        o.insert(QStringLiteral("time"), qint64(std::floor(KLTimeUtil::toUnix(item->timeOfFile()))));
        if (item->isStack()) {
            QJsonArray stack;
            for (const KLItemPtr &sub : item->stack())
                stack.append(sub->lastKnownPath());
            o.insert(QStringLiteral("stack"), stack);
        }
        array.append(o);
    }
    return array;
}

QByteArray toJson(const QList<KLItemPtr> &items)
{
    return QJsonDocument(toJsonArray(items)).toJson(QJsonDocument::Compact);
}

QString plainFromJson(const QJsonArray &array)
{
    QString out;
    for (const QJsonValue &v : array) {
        const QJsonObject o = v.toObject();
        out += escapeForLine(o.value(QStringLiteral("title")).toString()) + QLatin1Char('\t') +
               escapeForLine(o.value(QStringLiteral("subtitle")).toString()) + QLatin1Char('\t') +
               escapeForLine(o.value(QStringLiteral("path")).toString()) + QLatin1Char('\n');
    }
    return out;
}

QString escapeForLine(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString toPlainText(const QList<KLItemPtr> &items)
{
    return plainFromJson(toJsonArray(items));
}

} // namespace KLRecentListFormat
