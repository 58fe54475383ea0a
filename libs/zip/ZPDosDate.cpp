#include "ZPDosDate.h"

namespace ZPDosDate {

namespace {

constexpr int firstYear = 1980;
constexpr int lastYear = firstYear + 127;
constexpr int secondsPerDay = 24 * 60 * 60;

Stamp pack(QDate date, QTime time)
{
    return {static_cast<std::uint16_t>(time.hour() << 11 | time.minute() << 5 | time.second() >> 1),
            static_cast<std::uint16_t>((date.year() - firstYear) << 9 | date.month() << 5 | date.day())};
}

} // namespace

QDateTime toDateTime(std::uint16_t time, std::uint16_t date)
{
    const int month = (date >> 5) & 15;
    const int day = date & 31;
    const int seconds = (time >> 11) * 3600 + ((time >> 5) & 63) * 60 + (time & 31) * 2;
    const QDate calendarDay = QDate(firstYear + (date >> 9), 1, 1)
                                  .addMonths(month - 1)
                                  .addDays(day - 1 + seconds / secondsPerDay);
    return QDateTime(calendarDay, QTime::fromMSecsSinceStartOfDay((seconds % secondsPerDay) * 1000), Qt::LocalTime);
}

Stamp fromDateTime(const QDateTime& dateTime)
{
    const QDateTime local = dateTime.toLocalTime();
    if (!local.isValid() || local.date().year() < firstYear)
        return pack(QDate(firstYear, 1, 1), QTime(0, 0));
    if (local.date().year() > lastYear)
        return pack(QDate(lastYear, 12, 31), QTime(23, 59, 58));
    return pack(local.date(), local.time());
}

} // namespace ZPDosDate
