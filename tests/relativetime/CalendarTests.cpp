#include "Calendar.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

using Components = std::array<std::optional<int64_t>, 7>; // year, month, week, day, hour, minute, second
constexpr auto none = std::nullopt;
constexpr uint64_t allUnits = 508;

Components asArray(const DateComponents& c) { return {c.year, c.month, c.week, c.day, c.hour, c.minute, c.second}; }

QDateTime at(const char* zone, const char* isoLocal)
{
    return QDateTime(QDateTime::fromString(QString::fromLatin1(isoLocal), Qt::ISODateWithMs).date(),
                     QDateTime::fromString(QString::fromLatin1(isoLocal), Qt::ISODateWithMs).time(),
                     QTimeZone(zone));
}

} // namespace

TEST(RelativeTimeCalendar, ComponentsAreGreedyFromTheStartInTheZone)
{
    struct Case {
        const char* name;
        const char* zone;
        const char* from;
        const char* to;
        uint64_t units;
        Components expected;
    };
    const Case cases[] = {
        {"a month after 31 Jan clamps to 28 Feb", "UTC", "2026-01-31T00:00:00", "2026-03-01T00:00:00", allUnits, {0, 1, 0, 1, 0, 0, 0}},
        {"backwards the signs turn", "UTC", "2026-03-01T00:00:00", "2026-01-31T00:00:00", allUnits, {0, -1, 0, -1, 0, 0, 0}},
        {"a leap day's year ends on 28 Feb", "UTC", "2024-02-29T10:00:00", "2025-02-28T10:00:00", allUnits, {1, 0, 0, 0, 0, 0, 0}},
        {"a 23-hour day is one day", "Europe/Berlin", "2026-03-28T12:00:00", "2026-03-29T12:00:00", allUnits, {0, 0, 0, 1, 0, 0, 0}},
        {"a 25-hour day is one day", "Europe/Berlin", "2026-10-24T12:00:00", "2026-10-25T12:30:00", allUnits, {0, 0, 0, 1, 0, 30, 0}},
        {"without days the hours are elapsed time", "Europe/Berlin", "2026-03-28T12:00:00", "2026-03-29T12:00:00", 32, {none, none, none, none, 23, none, none}},
        {"without years the months go on", "UTC", "2024-01-15T00:00:00", "2026-03-20T00:00:00", 8 | 16, {none, 26, none, 5, none, none, none}},
        {"without weeks the days go on", "UTC", "2026-03-01T00:00:00", "2026-03-20T06:00:00", 16 | 32, {none, none, none, 19, 6, none, none}},
        {"weeks are seven days", "UTC", "2026-03-24T00:00:00", "2026-03-01T00:00:00", 256 | 16, {none, none, -3, -2, none, none, none}},
        {"seconds truncate towards zero", "UTC", "2026-03-01T00:00:00.000", "2026-03-01T01:02:05.900", allUnits, {0, 0, 0, 0, 1, 2, 5}},
        {"negative seconds truncate towards zero", "UTC", "2026-03-01T00:00:01.500", "2026-03-01T00:00:00.000", 128, {none, none, none, none, none, none, -1}},
        {"an hour short of a day is no day", "UTC", "2026-03-01T12:00:00", "2026-03-02T11:00:00", allUnits, {0, 0, 0, 0, 23, 0, 0}},
    };
    for (const Case& c : cases) {
        const Calendar calendar {QTimeZone(c.zone)};
        EXPECT_EQ(asArray(calendar.components(c.units, at(c.zone, c.from), at(c.zone, c.to))), c.expected) << c.name;
    }
}

TEST(RelativeTimeCalendar, ComponentsAddUpToTheEndAndEachIsTheLargestThatFits)
{
    const Calendar calendar {QTimeZone("Europe/Berlin")};
    const QDateTime origin = at("Europe/Berlin", "2026-03-29T01:30:00");
    uint64_t seed = 12345;
    for (int i = 0; i < 1000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        // From a millisecond to about two years, either way, as many short spans as long ones.
        const double magnitude = std::pow(10.0, double(seed >> 11) / double(1ULL << 53) * 10.8);
        const int64_t offset = seed & 1 ? int64_t(magnitude) : -int64_t(magnitude);
        const QDateTime to = origin.addMSecs(offset);
        const DateComponents c = calendar.components(allUnits, origin, to);
        const QDateTime days = origin.addYears(int(*c.year)).addMonths(int(*c.month)).addDays(*c.week * 7 + *c.day);
        EXPECT_EQ(days.addMSecs(((*c.hour * 60 + *c.minute) * 60 + *c.second) * 1000).msecsTo(to), offset % 1000) << offset;
        const QDateTime oneMoreDay = days.addDays(offset < 0 ? -1 : 1);
        EXPECT_TRUE(offset < 0 ? oneMoreDay < to : oneMoreDay > to) << offset;
        EXPECT_LT(std::abs(*c.week), 5) << offset;
        EXPECT_LT(std::abs(*c.month), 12) << offset;
    }
}
