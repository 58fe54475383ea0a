#include "VGLogTimestamp.h"

#include <cmath>
#include <ctime>

VGLogTimestamp VGLogTimestamp::local(double timestamp)
{
    thread_local time_t cachedSecond = -1;
    thread_local std::tm cachedFields {};
    const double whole = std::floor(timestamp);
    const auto second = static_cast<time_t>(whole);
    if (second != cachedSecond) {
        localtime_r(&second, &cachedFields);
        cachedSecond = second;
    }
    return {cachedFields.tm_year + 1900, cachedFields.tm_mon + 1, cachedFields.tm_mday, cachedFields.tm_hour,
            cachedFields.tm_min, cachedFields.tm_sec, static_cast<int>((timestamp - whole) * 1000)};
}

namespace {

char* digits(char* out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

} // namespace

void VGLogTimestamp::write(char* out, char dateSeparator) const
{
    out = digits(out, year, 4);
    *out++ = dateSeparator;
    out = digits(out, month, 2);
    *out++ = dateSeparator;
    out = digits(out, day, 2);
    *out++ = ' ';
    out = digits(out, hour, 2);
    *out++ = ':';
    out = digits(out, minute, 2);
    *out++ = ':';
    out = digits(out, second, 2);
    *out++ = ':';
    digits(out, millisecond, 3);
}
