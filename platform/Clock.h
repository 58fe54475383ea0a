#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// The wall clock and new identifiers, both replaceable so tests are repeatable.
namespace Clock {

// Whole seconds since 1970, truncated toward zero.
int64_t now();
// Seconds since 1970 with the fraction, for intervals and log lines.
double nowPrecise();
// Replaces the wall clock; an empty function restores the real one.
void setWallClock(std::function<double()> clock);

// A new UUID in upper case, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
QString newUUID();
void setUUIDGenerator(std::function<QString()> generator);

} // namespace Clock
