#include "Calendar.h"

#include <cstdlib>

namespace {

using Step = QDateTime (*)(const QDateTime&, int64_t);

QDateTime addYears(const QDateTime& start, int64_t n) { return start.addYears(int(n)); }
QDateTime addMonths(const QDateTime& start, int64_t n) { return start.addMonths(int(n)); }
QDateTime addWeeks(const QDateTime& start, int64_t n) { return start.addDays(n * 7); }
QDateTime addDays(const QDateTime& start, int64_t n) { return start.addDays(n); }

struct CalendarStep {
    uint64_t unit;
    std::optional<int64_t> DateComponents::*field;
    Step step;
    int64_t (*estimate)(const QDateTime& start, const QDateTime& end);
    int64_t shortest; // milliseconds: no single step is shorter, whatever the zone does
};

int64_t yearsBetween(const QDateTime& start, const QDateTime& end)
{
    return int64_t(end.date().year()) - start.date().year();
}

int64_t monthsBetween(const QDateTime& start, const QDateTime& end)
{
    return yearsBetween(start, end) * 12 + end.date().month() - start.date().month();
}

int64_t daysBetween(const QDateTime& start, const QDateTime& end) { return start.date().daysTo(end.date()); }
int64_t weeksBetween(const QDateTime& start, const QDateTime& end) { return daysBetween(start, end) / 7; }

constexpr int64_t hourMs = 3'600'000;

const CalendarStep calendarSteps[] = {
    {CalendarUnitYear, &DateComponents::year, addYears, yearsBetween, 360 * 24 * hourMs},
    {CalendarUnitMonth, &DateComponents::month, addMonths, monthsBetween, 27 * 24 * hourMs},
    {CalendarUnitWeek, &DateComponents::week, addWeeks, weeksBetween, 6 * 24 * hourMs},
    {CalendarUnitDay, &DateComponents::day, addDays, daysBetween, 22 * hourMs},
};

// Moves `start` by the most whole steps that do not pass `end`, searched from a close estimate, and
// returns their number. Each step costs a conversion in the zone, so spans too short for one take none.
int64_t advance(QDateTime* start, const QDateTime& end, const CalendarStep& step)
{
    if (std::abs(start->msecsTo(end)) < step.shortest)
        return 0;
    const int64_t sign = *start <= end ? 1 : -1;
    const auto at = [&](int64_t n) { return n == 0 ? *start : step.step(*start, n); };
    const auto within = [&](const QDateTime& moment) {
        return moment.isValid() && (sign > 0 ? moment <= end : moment >= end);
    };
    const int64_t estimate = step.estimate(*start, end);
    int64_t n = estimate * sign > 0 ? estimate : 0;
    QDateTime reached = at(n);
    while (n != 0 && !within(reached)) {
        n -= sign;
        reached = at(n);
    }
    for (QDateTime next = at(n + sign); within(next); next = at(n + sign)) {
        n += sign;
        reached = next;
    }
    *start = reached;
    return n;
}

struct ClockUnit {
    uint64_t unit;
    std::optional<int64_t> DateComponents::*field;
    int64_t milliseconds;
};

const ClockUnit clockUnits[] = {
    {CalendarUnitHour, &DateComponents::hour, hourMs},
    {CalendarUnitMinute, &DateComponents::minute, 60'000},
    {CalendarUnitSecond, &DateComponents::second, 1'000},
};

} // namespace

std::optional<int64_t> DateComponents::value(uint64_t unit) const
{
    for (const auto& step : calendarSteps)
        if (step.unit == unit)
            return this->*step.field;
    for (const auto& clock : clockUnits)
        if (clock.unit == unit)
            return this->*clock.field;
    return std::nullopt;
}

Calendar::Calendar()
    : timeZone_(QTimeZone::systemTimeZone())
{
}

Calendar::Calendar(const QTimeZone& timeZone)
    : timeZone_(timeZone)
{
}

DateComponents Calendar::components(uint64_t units, const QDateTime& from, const QDateTime& to) const
{
    DateComponents result;
    QDateTime anchor = from.toTimeZone(timeZone_);
    const QDateTime end = to.toTimeZone(timeZone_);
    for (const auto& step : calendarSteps) {
        if (!(units & step.unit))
            continue;
        result.*step.field = advance(&anchor, end, step);
    }
    int64_t rest = anchor.msecsTo(end);
    for (const auto& clock : clockUnits) {
        if (!(units & clock.unit))
            continue;
        result.*clock.field = rest / clock.milliseconds;
        rest %= clock.milliseconds;
    }
    return result;
}
