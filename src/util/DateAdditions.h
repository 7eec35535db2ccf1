#pragma once
// Day arithmetic for "today" / "yesterday" subtitles. A day number counts local days:
// floor((seconds since 2001-01-01 + the local zone's offset from GMT at that date) / 86400),
// so a time just after local midnight is "today" even while GMT is still on yesterday.
#include "util/KLTime.h"
#include <QString>

class QTimeZone;

namespace PimsAdditions {

// The system's time zone, looked up at most once a minute (and when $TZ changes). Converting
// with it, rather than to Qt::LocalTime, keeps the C library from re-examining /etc/localtime
// on every conversion, which matters for texts made while cells paint.
QTimeZone localTimeZone();

qint64 dayNumber(KLTime date);
bool sameDateAs(KLTime a, KLTime b);
int compareDay(KLTime a, KLTime b); // -1, 0, +1 by day number
bool isExpired(KLTime date);        // earlier day than today
bool isCurrent(KLTime date);        // not later than today
KLTime dateByAddingDays(KLTime date, int days);
QString dayOfWeekString(KLTime date);
// "Today", "yesterday" and their neighbours compare local day numbers: yesterday is the local
// calendar day before today's, not "the day that held now - 86400 s" (which, next to a
// daylight-saving change, is sometimes today and sometimes two days ago).
bool dateIsToday(KLTime date);
// dateIsTodayN: n days after today (1..7).
bool dateIsTodayN(KLTime date, int n);
bool dateIsYesterday(KLTime date);
// dateIsYesterdayN: n + 1 days before today (1..7 → 2..8 days ago).
bool dateIsYesterdayN(KLTime date, int n);

// The same, with an explicit "now", for tests and for callers that hold one instant.
bool dateIsToday(KLTime date, KLTime now);
bool dateIsTodayN(KLTime date, int n, KLTime now);
bool dateIsYesterday(KLTime date, KLTime now);
bool dateIsYesterdayN(KLTime date, int n, KLTime now);

} // namespace PimsAdditions
