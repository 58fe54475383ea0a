#include "DatePattern.h"

#include <QTimeZone>

#include <algorithm>
#include <cstdlib>

namespace DatePattern {

namespace {

QString number(qint64 value, qsizetype width)
{
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

QString byWidth(qsizetype count, const QString& abbreviated, const QString& wide, const QString& narrow)
{
    return count == 4 ? wide : count >= 5 ? narrow : abbreviated;
}

// "GMT", "GMT+1", "GMT+5:30" (short) or "GMT+01:00" (long): the platform's
// name for a zone without an abbreviation of its own.
QString gmtName(int offsetSeconds, bool longForm)
{
    if (offsetSeconds == 0)
        return QStringLiteral("GMT");
    const int minutes = std::abs(offsetSeconds) / 60;
    QString text = QStringLiteral("GMT") + (offsetSeconds < 0 ? QLatin1Char('-') : QLatin1Char('+'));
    if (longForm)
        return text + number(minutes / 60, 2) + QLatin1Char(':') + number(minutes % 60, 2);
    text += QString::number(minutes / 60);
    if (minutes % 60)
        text += QLatin1Char(':') + number(minutes % 60, 2);
    return text;
}

QString zoneName(const QDateTime& time, qsizetype count, const QLocale& locale)
{
    if (count >= 4) {
        const QString name = time.timeZone().displayName(time, QTimeZone::LongName, locale);
        return name.isEmpty() ? gmtName(time.offsetFromUtc(), true) : name;
    }
    // Abbreviations of letters only ("CET", "PST"); "UTC", "+03" and the
    // like are written the platform's way.
    const QString abbreviation = time.timeZoneAbbreviation();
    const bool letters = !abbreviation.isEmpty() && abbreviation != QLatin1String("UTC")
                         && std::all_of(abbreviation.begin(), abbreviation.end(), [](QChar c) { return c.isLetter(); });
    return letters ? abbreviation : gmtName(time.offsetFromUtc(), false);
}

QString zoneOffset(int offsetSeconds, qsizetype count)
{
    if (count == 4)
        return gmtName(offsetSeconds, true);
    const int minutes = std::abs(offsetSeconds) / 60;
    const QString sign = offsetSeconds < 0 ? QStringLiteral("-") : QStringLiteral("+");
    if (count >= 5)
        return offsetSeconds == 0 ? QStringLiteral("Z") : sign + number(minutes / 60, 2) + QLatin1Char(':') + number(minutes % 60, 2);
    return sign + number(minutes / 60, 2) + number(minutes % 60, 2);
}

QString field(QChar letter, qsizetype count, const QDateTime& time, const QLocale& locale)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    switch (letter.unicode()) {
    case 'G': return count == 4 ? QStringLiteral("Anno Domini") : QStringLiteral("AD");
    case 'y':
    case 'u': return count == 2 ? number(date.year() % 100, 2) : number(date.year(), count);
    case 'M':
    case 'L': {
        if (count <= 2)
            return number(date.month(), count);
        const auto style = letter == QLatin1Char('L') ? &QLocale::standaloneMonthName : &QLocale::monthName;
        return byWidth(count, (locale.*style)(date.month(), QLocale::ShortFormat),
                       (locale.*style)(date.month(), QLocale::LongFormat),
                       (locale.*style)(date.month(), QLocale::NarrowFormat));
    }
    case 'd': return number(date.day(), count);
    case 'D': return number(date.dayOfYear(), count);
    case 'E': return byWidth(count, locale.dayName(date.dayOfWeek(), QLocale::ShortFormat),
                             locale.dayName(date.dayOfWeek(), QLocale::LongFormat),
                             locale.dayName(date.dayOfWeek(), QLocale::NarrowFormat));
    case 'a': return clock.hour() < 12 ? locale.amText() : locale.pmText();
    case 'h': return number(clock.hour() % 12 == 0 ? 12 : clock.hour() % 12, count);
    case 'H': return number(clock.hour(), count);
    case 'k': return number(clock.hour() == 0 ? 24 : clock.hour(), count);
    case 'K': return number(clock.hour() % 12, count);
    case 'm': return number(clock.minute(), count);
    case 's': return number(clock.second(), count);
    case 'S': // the leading digits of the fraction, truncated
        return number(clock.msec(), 3).leftJustified(count, QLatin1Char('0'), true);
    case 'z': return zoneName(time, count, locale);
    case 'Z': return zoneOffset(time.offsetFromUtc(), count);
    }
    return QString(count, letter);
}

} // namespace

QString format(const QDateTime& time, const QString& pattern, const QLocale& locale)
{
    QString result;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('\'')) {
            // 'text' is literal; '' is one quote, inside or outside.
            if (i + 1 < pattern.size() && pattern[i + 1] == QLatin1Char('\'')) {
                result += c;
                i += 2;
                continue;
            }
            for (++i; i < pattern.size(); ++i) {
                if (pattern[i] != QLatin1Char('\''))
                    result += pattern[i];
                else if (i + 1 < pattern.size() && pattern[i + 1] == QLatin1Char('\''))
                    result += pattern[++i];
                else
                    break;
            }
            ++i;
        } else if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))) {
            qsizetype end = i;
            while (end < pattern.size() && pattern[end] == c)
                ++end;
            result += field(c, end - i, time, locale);
            i = end;
        } else {
            result += c;
            ++i;
        }
    }
    return result;
}

} // namespace DatePattern
