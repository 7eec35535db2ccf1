#include "util/KLTime.h"

namespace KLTimeUtil {

KLTime now()
{
    return fromUnix(QDateTime::currentMSecsSinceEpoch() / 1000.0);
}

KLTime fromDateTime(const QDateTime &dt)
{
    return fromUnix(dt.toMSecsSinceEpoch() / 1000.0);
}

QDateTime toDateTime(KLTime t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(toUnix(t) * 1000.0)), Qt::UTC);
}

} // namespace KLTimeUtil
