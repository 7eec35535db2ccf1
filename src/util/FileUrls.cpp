#include "util/FileUrls.h"

#include <QUrl>

namespace FileUrls {

QString localPath(const QUrl &url)
{
    if (!url.isValid() || !url.isLocalFile())
        return {};
    if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return {};
    const QString path = url.path(QUrl::FullyDecoded);
    return path.startsWith(QLatin1Char('/')) ? path : QString();
}

} // namespace FileUrls
