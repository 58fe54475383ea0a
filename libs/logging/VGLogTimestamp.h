#pragma once

#include <cstdint>

// Local calendar fields of a log time stamp. Each thread caches the fields of the
// last second it converted, so a stream of messages costs one conversion per second.
struct VGLogTimestamp {
    int year, month, day, hour, minute, second, millisecond;

    // timestamp: seconds since 1970 with the fraction.
    static VGLogTimestamp local(double timestamp);

    static constexpr int Length = 23;
    // Writes "yyyy<s>MM<s>dd HH:mm:ss:SSS" (Length bytes, no NUL) for a date separator s.
    void write(char* out, char dateSeparator) const;
};
