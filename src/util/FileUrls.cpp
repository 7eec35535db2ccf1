#include "util/FileUrls.h"

#include <QUrl>

namespace FileUrls {

bool namesThisMachine(const QUrl &url)
{
    // QUrl::isLocalFile() looks at the scheme alone: "file://otherhost/x" passes it.
    return url.isValid() && url.isLocalFile() &&
           (url.host().isEmpty() || url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0);
}

QString localPath(const QUrl &url)
{
    if (!namesThisMachine(url))
        return {};
    const QString path = url.path(QUrl::FullyDecoded);
    return path.startsWith(QLatin1Char('/')) ? path : QString();
}

} // namespace FileUrls
