// Day arithmetic in the local time zone: local midnight, daylight-saving changes, and the
// today / yesterday / N-days helpers. Each test sets TZ explicitly (and restores it).
#include "util/DateAdditions.h"
#include "util/QtTestPrinters.h"

#include <QDateTime>
#include <QTimeZone>
#include <ctime>
#include <gtest/gtest.h>

using namespace PimsAdditions;

namespace {

class DatesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_hadTZ = qEnvironmentVariableIsSet("TZ");
        m_savedTZ = qgetenv("TZ");
    }
    void TearDown() override
    {
        if (m_hadTZ)
            setenv("TZ", m_savedTZ.constData(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void useZone(const char *zone)
    {
        setenv("TZ", zone, 1);
        tzset();
        ASSERT_EQ(QTimeZone::systemTimeZoneId(), QByteArray(zone)) << "the system zone must follow TZ";
    }
    // An instant given as wall-clock time in `zone` (independent of the process's zone).
    static KLTime at(const char *zone, int y, int mo, int d, int h, int mi, int s = 0)
    {
        const QDateTime dt(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(zone));
        EXPECT_TRUE(dt.isValid());
        return KLTimeUtil::fromDateTime(dt);
    }

private:
    bool m_hadTZ = false;
    QByteArray m_savedTZ;
};

constexpr const char *kBerlin = "Europe/Berlin";

} // namespace

TEST_F(DatesTest, DayNumberCountsLocalDaysFrom2001)
{
    useZone("UTC");
    EXPECT_EQ(dayNumber(0), 0);
    EXPECT_EQ(dayNumber(86399.9), 0);
    EXPECT_EQ(dayNumber(86400), 1);
    EXPECT_EQ(dayNumber(-0.5), -1) << "days before 2001 round down, not towards zero";
    EXPECT_EQ(dayNumber(-86400), -1);
    EXPECT_EQ(dayNumber(-86400.5), -2);

    useZone(kBerlin); // UTC+1 in January: the first hour of 2001 UTC is 01:00 local
    EXPECT_EQ(dayNumber(-1), 0) << "2000-12-31 23:59:59 UTC is already 2001-01-01 in Berlin";
    EXPECT_EQ(dayNumber(at(kBerlin, 2001, 1, 1, 0, 0)), 0);
    EXPECT_EQ(dayNumber(at(kBerlin, 2000, 12, 31, 23, 59, 59)), -1);

    useZone("America/New_York"); // UTC-5
    EXPECT_EQ(dayNumber(0), -1) << "2001-01-01 00:00 UTC is still 2000-12-31 in New York";
    EXPECT_EQ(dayNumber(5 * 3600), 0);
}

TEST_F(DatesTest, LocalMidnightSeparatesDaysEvenWhenUtcDoesNot)
{
    useZone(kBerlin);
    // 23:30 and 00:30 local are 22:30 and 23:30 UTC: one UTC day, two local days.
    const KLTime lateEvening = at(kBerlin, 2024, 1, 15, 23, 30);
    const KLTime afterMidnight = at(kBerlin, 2024, 1, 16, 0, 30);
    EXPECT_EQ(dayNumber(afterMidnight) - dayNumber(lateEvening), 1);
    EXPECT_FALSE(sameDateAs(lateEvening, afterMidnight));
    EXPECT_EQ(compareDay(lateEvening, afterMidnight), -1);
    EXPECT_EQ(compareDay(afterMidnight, lateEvening), 1);

    const KLTime justBefore = at(kBerlin, 2024, 1, 15, 23, 59, 59);
    const KLTime midnight = at(kBerlin, 2024, 1, 16, 0, 0, 0);
    EXPECT_TRUE(dateIsToday(midnight, afterMidnight));
    EXPECT_FALSE(dateIsToday(justBefore, afterMidnight));
    EXPECT_TRUE(dateIsYesterday(justBefore, afterMidnight));
    EXPECT_FALSE(dateIsYesterday(midnight, afterMidnight));
}

TEST_F(DatesTest, CompareDayIgnoresTheTimeOfDay)
{
    useZone(kBerlin);
    const KLTime morning = at(kBerlin, 2024, 6, 1, 0, 1);
    const KLTime evening = at(kBerlin, 2024, 6, 1, 23, 59);
    EXPECT_EQ(compareDay(morning, evening), 0);
    EXPECT_EQ(compareDay(evening, morning), 0);
    EXPECT_EQ(compareDay(morning, morning), 0);
    EXPECT_TRUE(sameDateAs(morning, evening));
    EXPECT_EQ(compareDay(at(kBerlin, 2023, 12, 31, 12, 0), morning), -1);
    EXPECT_EQ(compareDay(at(kBerlin, 2030, 1, 1, 12, 0), morning), 1);
}

TEST_F(DatesTest, SpringForwardDayHasTwentyThreeHours)
{
    useZone(kBerlin);
    // 2024-03-31: 02:00 CET jumps to 03:00 CEST.
    const KLTime before = at(kBerlin, 2024, 3, 31, 1, 59);
    const KLTime after = at(kBerlin, 2024, 3, 31, 3, 1);
    EXPECT_DOUBLE_EQ(after - before, 120.0);
    EXPECT_TRUE(sameDateAs(before, after));
    EXPECT_EQ(dayNumber(at(kBerlin, 2024, 3, 31, 23, 59)), dayNumber(before));
    EXPECT_EQ(dayNumber(at(kBerlin, 2024, 4, 1, 0, 0)), dayNumber(before) + 1);

    // Half past midnight after the short day: one day back in seconds lands on 30 March, but
    // yesterday is 31 March.
    const KLTime now = at(kBerlin, 2024, 4, 1, 0, 30);
    EXPECT_TRUE(dateIsYesterday(at(kBerlin, 2024, 3, 31, 10, 0), now));
    EXPECT_TRUE(dateIsYesterday(at(kBerlin, 2024, 3, 31, 0, 5), now));
    EXPECT_FALSE(dateIsYesterday(at(kBerlin, 2024, 3, 30, 23, 45), now));
    EXPECT_TRUE(dateIsYesterdayN(at(kBerlin, 2024, 3, 30, 23, 45), 1, now));
    EXPECT_FALSE(dateIsToday(at(kBerlin, 2024, 3, 31, 23, 59), now));
}

TEST_F(DatesTest, FallBackDayHasTwentyFiveHours)
{
    useZone(kBerlin);
    // 2024-10-27: 03:00 CEST goes back to 02:00 CET.
    const KLTime start = at(kBerlin, 2024, 10, 27, 0, 0);
    const KLTime end = at(kBerlin, 2024, 10, 27, 23, 59, 59);
    EXPECT_DOUBLE_EQ(end - start, 25 * 3600.0 - 1);
    EXPECT_EQ(dayNumber(start), dayNumber(end));
    EXPECT_EQ(dayNumber(end + 1), dayNumber(start) + 1);

    // Late on the long day, now - 86400 s is still the same day: that is not yesterday.
    const KLTime now = at(kBerlin, 2024, 10, 27, 23, 30);
    EXPECT_TRUE(dateIsToday(at(kBerlin, 2024, 10, 27, 0, 10), now));
    EXPECT_FALSE(dateIsYesterday(at(kBerlin, 2024, 10, 27, 0, 10), now));
    EXPECT_TRUE(dateIsYesterday(at(kBerlin, 2024, 10, 26, 12, 0), now));
    EXPECT_TRUE(dateIsYesterday(at(kBerlin, 2024, 10, 26, 0, 0), now));
}

TEST_F(DatesTest, TodayNAndYesterdayNCountCalendarDays)
{
    useZone(kBerlin);
    const KLTime now = at(kBerlin, 2024, 3, 28, 12, 0); // the week spans the spring change
    for (int n = 1; n <= 7; ++n) {
        const QDate aheadDate = QDate(2024, 3, 28).addDays(n);
        const KLTime aheadMorning = at(kBerlin, aheadDate.year(), aheadDate.month(), aheadDate.day(), 0, 0);
        const KLTime aheadNight = at(kBerlin, aheadDate.year(), aheadDate.month(), aheadDate.day(), 23, 59);
        EXPECT_TRUE(dateIsTodayN(aheadMorning, n, now)) << n;
        EXPECT_TRUE(dateIsTodayN(aheadNight, n, now)) << n;
        EXPECT_FALSE(dateIsTodayN(aheadNight, n + 1, now)) << n;

        const QDate backDate = QDate(2024, 3, 28).addDays(-(n + 1));
        const KLTime back = at(kBerlin, backDate.year(), backDate.month(), backDate.day(), 12, 0);
        EXPECT_TRUE(dateIsYesterdayN(back, n, now)) << n;
        EXPECT_FALSE(dateIsYesterdayN(back, n - 1, now)) << n;
    }
    const QDate weekAfter = QDate(2024, 3, 28).addDays(7);
    EXPECT_TRUE(dateIsTodayN(at(kBerlin, weekAfter.year(), weekAfter.month(), weekAfter.day(), 12, 0), 7, now));
}

TEST_F(DatesTest, RelativeToTheRealClock)
{
    useZone(kBerlin);
    const KLTime now = KLTimeUtil::now();
    EXPECT_TRUE(dateIsToday(now));
    EXPECT_TRUE(isCurrent(now));
    EXPECT_FALSE(isExpired(now));
    // Two whole days back or ahead are never within today, whatever the hour or the zone rules.
    EXPECT_TRUE(isExpired(now - 2 * 86400));
    EXPECT_FALSE(isCurrent(now + 2 * 86400));
    EXPECT_FALSE(dateIsToday(now - 2 * 86400));
    EXPECT_DOUBLE_EQ(dateByAddingDays(100.0, 3), 100.0 + 3 * 86400.0);
    EXPECT_DOUBLE_EQ(dateByAddingDays(100.0, -2), 100.0 - 2 * 86400.0);
}

TEST_F(DatesTest, DayOfWeekFollowsTheLocalDay)
{
    useZone(kBerlin);
    // 2024-01-15 23:30 UTC is Tuesday 00:30 in Berlin.
    const KLTime t = KLTimeUtil::fromDateTime(QDateTime(QDate(2024, 1, 15), QTime(23, 30), Qt::UTC));
    EXPECT_EQ(dayOfWeekString(t), QLocale().dayName(2, QLocale::LongFormat));
}
