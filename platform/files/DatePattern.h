#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Dates written with the platform's date patterns (the Unicode date field
// symbols), which differ from Qt's: "SSS" is milliseconds, "zzz" the short
// zone name ("CET"), "a" the AM/PM marker, "EEE"/"EEEE" day names, "MMM"/"MMMM"
// month names, "''" a quote and 'text' literal text; letters without a field
// here are written as they stand. Digits are ASCII whatever the locale, so
// stamps in file names stay the same. The time is written in its own zone:
// pass time.toUTC() or time.toLocalTime() as needed.
namespace DatePattern {

QString format(const QDateTime& time, const QString& pattern, const QLocale& locale = QLocale());

} // namespace DatePattern
