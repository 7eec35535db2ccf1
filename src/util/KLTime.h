#pragma once
// Times as the stores keep them: seconds since 2001-01-01 00:00:00 UTC.
#include <QDateTime>

using KLTime = double;

namespace KLTimeUtil {
constexpr double kReferenceUnixOffset = 978307200.0; // 2001-01-01 in Unix seconds

KLTime now();
inline KLTime fromUnix(double unixSeconds)
{
    return unixSeconds - kReferenceUnixOffset;
}
inline double toUnix(KLTime t)
{
    return t + kReferenceUnixOffset;
}
KLTime fromDateTime(const QDateTime &dt);
QDateTime toDateTime(KLTime t);
} // namespace KLTimeUtil
