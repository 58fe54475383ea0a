#include "VGLogTimestamp.h"

#include <cmath>
#include <cstring>
#include <ctime>

namespace {

char* digits(char* out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// "yyyy<s>MM<s>dd HH:mm:ss:", the part that changes once a second.
constexpr int SecondLength = VGLogTimestamp::Length - 3;

struct CachedSecond {
    time_t second = -1;
    char separator = 0;
    bool valid = false;
    char text[SecondLength];
};

void formatSecond(CachedSecond& cached, time_t second, char separator)
{
    std::tm fields {};
    localtime_r(&second, &fields);
    char* out = digits(cached.text, fields.tm_year + 1900, 4);
    *out++ = separator;
    out = digits(out, fields.tm_mon + 1, 2);
    *out++ = separator;
    out = digits(out, fields.tm_mday, 2);
    *out++ = ' ';
    out = digits(out, fields.tm_hour, 2);
    *out++ = ':';
    out = digits(out, fields.tm_min, 2);
    *out++ = ':';
    out = digits(out, fields.tm_sec, 2);
    *out = ':';
    cached.second = second;
    cached.separator = separator;
    cached.valid = true;
}

} // namespace

void VGLogTimestamp::write(char* out, double timestamp, char dateSeparator)
{
    // Two entries: the terminal and the file loggers share one thread and
    // write the same second with different separators.
    thread_local CachedSecond cache[2];
    thread_local int replaceNext = 0;
    const double whole = std::floor(timestamp);
    const auto second = static_cast<time_t>(whole);
    CachedSecond* entry = nullptr;
    for (CachedSecond& candidate : cache) {
        if (candidate.valid && candidate.second == second && candidate.separator == dateSeparator)
            entry = &candidate;
    }
    if (!entry) {
        entry = &cache[replaceNext];
        replaceNext ^= 1;
        formatSecond(*entry, second, dateSeparator);
    }
    std::memcpy(out, entry->text, SecondLength);
    digits(out + SecondLength, static_cast<int>((timestamp - whole) * 1000), 3);
}
