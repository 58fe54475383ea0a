#include "Calendar.h"

namespace {

using Step = QDateTime (*)(const QDateTime&, int64_t);

QDateTime addYears(const QDateTime& start, int64_t n) { return start.addYears(int(n)); }
QDateTime addMonths(const QDateTime& start, int64_t n) { return start.addMonths(int(n)); }
QDateTime addWeeks(const QDateTime& start, int64_t n) { return start.addDays(n * 7); }
QDateTime addDays(const QDateTime& start, int64_t n) { return start.addDays(n); }

// The most whole steps from `start` that do not pass `to`, searched from a close estimate.
int64_t wholeSteps(const QDateTime& start, const QDateTime& to, Step step, int64_t estimate)
{
    const int64_t sign = start <= to ? 1 : -1;
    const auto within = [&](int64_t n) {
        const QDateTime moment = step(start, n);
        return moment.isValid() && (sign > 0 ? moment <= to : moment >= to);
    };
    int64_t n = estimate * sign > 0 ? estimate : 0;
    while (n != 0 && !within(n))
        n -= sign;
    while (within(n + sign))
        n += sign;
    return n;
}

struct CalendarStep {
    uint64_t unit;
    std::optional<int64_t> DateComponents::*field;
    Step step;
    int64_t (*estimate)(const QDateTime& start, const QDateTime& end);
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

const CalendarStep calendarSteps[] = {
    {CalendarUnitYear, &DateComponents::year, addYears, yearsBetween},
    {CalendarUnitMonth, &DateComponents::month, addMonths, monthsBetween},
    {CalendarUnitWeek, &DateComponents::week, addWeeks, weeksBetween},
    {CalendarUnitDay, &DateComponents::day, addDays, daysBetween},
};

struct ClockUnit {
    uint64_t unit;
    std::optional<int64_t> DateComponents::*field;
    int64_t milliseconds;
};

const ClockUnit clockUnits[] = {
    {CalendarUnitHour, &DateComponents::hour, 3'600'000},
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
        const int64_t n = wholeSteps(anchor, end, step.step, step.estimate(anchor, end));
        result.*step.field = n;
        anchor = step.step(anchor, n);
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
