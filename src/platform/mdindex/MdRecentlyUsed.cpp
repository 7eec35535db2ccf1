#include "platform/mdindex/MdRecentlyUsed.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>
#include <QXmlStreamReader>

namespace MdIndex {

QString recentlyUsedPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/recently-used.xbel");
}

QList<RecentlyUsed> readRecentlyUsed(const QString &xbelPath)
{
    QList<RecentlyUsed> out;
    QFile f(xbelPath);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    QXmlStreamReader xml(&f);
    while (!xml.atEnd()) { // an error ends the document too
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("bookmark"))
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const QUrl url(a.value(QLatin1String("href")).toString());
        if (!url.isLocalFile())
            continue;
        qint64 used = 0;
        for (const char *key : {"visited", "modified"}) {
            const QDateTime t = QDateTime::fromString(a.value(QLatin1String(key)).toString(), Qt::ISODateWithMs);
            if (t.isValid())
                used = qMax(used, t.toMSecsSinceEpoch());
        }
        if (used > 0)
            out.append({url.toLocalFile(), used});
    }
    return out;
}

} // namespace MdIndex
