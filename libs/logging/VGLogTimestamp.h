#pragma once

// Log time stamps in local time: "yyyy<s>MM<s>dd HH:mm:ss:SSS" for a date
// separator s. Each thread keeps the text up to the seconds of the last second
// it wrote for each of two separators, so a stream of messages converts and
// formats the date once per second and writes only the milliseconds.
namespace VGLogTimestamp {

constexpr int Length = 23;
// Writes Length bytes, no NUL; timestamp: seconds since 1970 with the fraction.
void write(char* out, double timestamp, char dateSeparator);

} // namespace VGLogTimestamp
