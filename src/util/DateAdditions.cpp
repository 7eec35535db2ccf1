#include "util/DateAdditions.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QThreadPool>
#include <QTimeZone>
#include <cmath>
#include <mutex>

namespace PimsAdditions {

namespace {
// QTimeZone::systemTimeZone() examines /etc/localtime and friends on every call, and subtitles
// ask for day numbers while cells paint. The zone is kept for a minute, and at once taken anew
// when $TZ changes. The minutely look-again runs on a pool thread while the kept zone goes on
// answering, so the thread that paints never examines those files after the first call.
struct ZoneCache {
    std::mutex mutex;
    QByteArray lastTz;
    QTimeZone zone;
    QDeadlineTimer refresh;
    bool refreshing = false;
};

ZoneCache &zoneCache()
{
    static ZoneCache cache;
    return cache;
}

QTimeZone localZone()
{
    ZoneCache &c = zoneCache();
    const QByteArray tz = qgetenv("TZ");
    std::lock_guard lock(c.mutex);
    if (!c.zone.isValid() || tz != c.lastTz) {
        c.zone = QTimeZone::systemTimeZone();
        c.lastTz = tz;
        c.refresh.setRemainingTime(60000);
    } else if (c.refresh.hasExpired() && !c.refreshing) {
        c.refreshing = true;
        c.refresh.setRemainingTime(60000);
        QThreadPool::globalInstance()->start([] {
            const QTimeZone fresh = QTimeZone::systemTimeZone();
            ZoneCache &shared = zoneCache();
            std::lock_guard guard(shared.mutex);
            if (fresh.isValid())
                shared.zone = fresh;
            shared.refreshing = false;
        });
    }
    return c.zone;
}
} // namespace

QTimeZone localTimeZone()
{
    return localZone();
}

qint64 dayNumber(KLTime date)
{
    const QDateTime dt = KLTimeUtil::toDateTime(date);
    const int offset = localZone().offsetFromUtc(dt);
    return qint64(std::floor((date + offset) / 86400.0));
}

bool sameDateAs(KLTime a, KLTime b)
{
    return a == b || dayNumber(a) == dayNumber(b);
}

int compareDay(KLTime a, KLTime b)
{
    if (a == b)
        return 0;
    const qint64 da = dayNumber(a), db = dayNumber(b);
    return da < db ? -1 : (da > db ? 1 : 0);
}

bool isExpired(KLTime date)
{
    return dayNumber(date) < dayNumber(KLTimeUtil::now());
}

bool isCurrent(KLTime date)
{
    return dayNumber(date) <= dayNumber(KLTimeUtil::now());
}

KLTime dateByAddingDays(KLTime date, int days)
{
    return date + days * 86400.0;
}

QString dayOfWeekString(KLTime date)
{
    return QLocale().dayName(KLTimeUtil::toDateTime(date).toLocalTime().date().dayOfWeek(), QLocale::LongFormat);
}

bool dateIsToday(KLTime date, KLTime now)
{
    return sameDateAs(date, now);
}

bool dateIsTodayN(KLTime date, int n, KLTime now)
{
    return dayNumber(date) == dayNumber(now) + n;
}

bool dateIsYesterday(KLTime date, KLTime now)
{
    return dayNumber(date) == dayNumber(now) - 1;
}

bool dateIsYesterdayN(KLTime date, int n, KLTime now)
{
    return dayNumber(date) == dayNumber(now) - (n + 1);
}

bool dateIsToday(KLTime date)
{
    return dateIsToday(date, KLTimeUtil::now());
}

bool dateIsTodayN(KLTime date, int n)
{
    return dateIsTodayN(date, n, KLTimeUtil::now());
}

bool dateIsYesterday(KLTime date)
{
    return dateIsYesterday(date, KLTimeUtil::now());
}

bool dateIsYesterdayN(KLTime date, int n)
{
    return dateIsYesterdayN(date, n, KLTimeUtil::now());
}

} // namespace PimsAdditions
