#pragma once

#include <QDateTime>

#include <cstdint>

// MS-DOS time and date fields, in the system's local time zone.
namespace ZPDosDate {

struct Stamp {
    std::uint16_t time = 0;
    std::uint16_t date = 0;
};

// Out-of-range parts roll over (month 0 is December before, second 60 the next minute).
QDateTime toDateTime(std::uint16_t time, std::uint16_t date);

// Seconds round down to even; instants before 1980 or after 2107 are clamped to
// the first or last representable one.
Stamp fromDateTime(const QDateTime& dateTime);

} // namespace ZPDosDate
