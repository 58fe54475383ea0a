#pragma once

#include <QDateTime>
#include <QTimeZone>

#include <cstdint>
#include <optional>

// Calendar unit bits, with the platform's values (callers store and archive them).
enum CalendarUnit : uint64_t {
    CalendarUnitYear = 4,
    CalendarUnitMonth = 8,
    CalendarUnitDay = 16,
    CalendarUnitHour = 32,
    CalendarUnitMinute = 64,
    CalendarUnitSecond = 128,
    CalendarUnitWeek = 256,
    CalendarUnitWeekday = 512,
    CalendarUnitWeekdayOrdinal = 1024,
    CalendarUnitWeekOfMonth = 4096,
    CalendarUnitWeekOfYear = 8192,
};

// The difference between two moments by unit. A unit that was not asked for is absent, not 0.
struct DateComponents {
    std::optional<int64_t> year, month, week, day, hour, minute, second;

    // The component of year, month, week, day, hour, minute or second; absent for any other unit.
    std::optional<int64_t> value(uint64_t unit) const;
};

// Gregorian calendar arithmetic in one time zone.
class Calendar {
public:
    Calendar(); // the system's time zone
    explicit Calendar(const QTimeZone& timeZone);

    QTimeZone timeZone() const { return timeZone_; }
    void setTimeZone(const QTimeZone& timeZone) { timeZone_ = timeZone; }

    // Greedy from `from` towards `to`, over the units in the mask from year down to second: the most
    // whole years that do not pass `to` (a month end clamps), then months, 7-day weeks and calendar
    // days in the zone (a day of 23 or 25 hours is one day), then the elapsed hours, minutes and
    // seconds of the rest, truncated. All are negative when `to` lies before `from`.
    DateComponents components(uint64_t units, const QDateTime& from, const QDateTime& to) const;

private:
    QTimeZone timeZone_;
};
