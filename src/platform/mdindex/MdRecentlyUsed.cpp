#include "platform/mdindex/MdRecentlyUsed.h"

#include "util/FileUrls.h"

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

namespace {

// The absolute path of a file URL of this machine, trailing slashes dropped; empty for another
// host, a relative path, an encoded NUL, or a name whose bytes are not UTF-8 (which would come
// back as another name).
QString localPathOf(const QUrl &url)
{
    if (!FileUrls::namesThisMachine(url))
        return {};
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.startsWith('/') || bytes.contains('\0'))
        return {};
    QString path = QString::fromUtf8(bytes);
    if (path.toUtf8() != bytes || path.contains(QChar(0xFFFD)))
        return {};
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

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
        const QString path = localPathOf(QUrl(a.value(QLatin1String("href")).toString()));
        if (path.isEmpty())
            continue;
        qint64 used = 0;
        for (const char *key : {"visited", "modified"}) {
            const QDateTime t = QDateTime::fromString(a.value(QLatin1String(key)).toString(), Qt::ISODateWithMs);
            if (t.isValid())
                used = qMax(used, t.toMSecsSinceEpoch());
        }
        if (used > 0)
            out.append({path, used});
    }
    return out;
}

} // namespace MdIndex
