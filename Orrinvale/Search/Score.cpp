#include "Search/Score.h"

#include <QStringView>

namespace {

// Where either case form of the character c first begins in rest, or -1.
qsizetype firstHit(QStringView rest, QStringView c)
{
    // Typed queries are mostly ASCII, whose case forms are single units: one scan, nothing allocated.
    if (c.size() == 1 && c[0].unicode() < 0x80) {
        const char16_t lower = QChar::toLower(c[0].unicode());
        const char16_t upper = QChar::toUpper(c[0].unicode());
        for (qsizetype k = 0; k < rest.size(); ++k) {
            const char16_t unit = rest[k].unicode();
            if (unit == lower || unit == upper)
                return k;
        }
        return -1;
    }
    // Full case mapping: the upper form of 'ß' is "SS".
    const QString lower = c.toString().toLower();
    const QString upper = c.toString().toUpper();
    const qsizetype atLower = rest.indexOf(lower);
    const qsizetype atUpper = upper == lower ? -1 : rest.indexOf(upper);
    if (atLower < 0 || atUpper < 0)
        return atLower < 0 ? atUpper : atLower;
    return qMin(atLower, atUpper);
}

} // namespace

namespace Score {

double scoreAgainst(const QString& text, const QString& abbreviation, std::optional<float> fuzziness, int options)
{
    if (text == abbreviation)
        return 10.0;
    // An empty text matches nothing, and there is no length to divide by.
    if (abbreviation.isEmpty() || text.isEmpty())
        return 0.0;

    const qsizetype n = abbreviation.size();
    const qsizetype m = text.size();
    double total = 0.0;
    double fuzzies = 1.0;
    bool startBonus = false;
    QStringView rest(text);

    for (qsizetype i = 0; i < n;) {
        // Searching a surrogate pair by its halves would match half of one character and half of another.
        const qsizetype width = abbreviation[i].isHighSurrogate() && i + 1 < n && abbreviation[i + 1].isLowSurrogate() ? 2 : 1;
        const QStringView c = QStringView(abbreviation).mid(i, width);
        const qsizetype idx = firstHit(rest, c);
        if (idx < 0) {
            if (!fuzziness)
                return 0.0;
            for (qsizetype k = 0; k < width; ++k) {
                fuzzies += double(1.0f - *fuzziness);
                total += 0.1;
            }
        } else {
            const double base = rest.mid(idx, width) == c ? 0.2 : 0.1;
            for (qsizetype k = 0; k < width && idx + k < rest.size(); ++k) {
                double score = base;
                // The low half of a pair always directly follows its high half.
                if (k > 0 || idx == 0)
                    score += 0.6;
                else if (rest[idx - 1] == u' ')
                    score += 0.8;
                total += score;
            }
            if (idx == 0 && i == 0)
                startBonus = true;
            rest = rest.mid(qMin(idx + width, rest.size()));
        }
        i += width;
    }

    if (options & ScoreOptionDivideByStringLength)
        return total / double(m);
    // A fuzziness above 1.0 can bring the divisor to zero or below; such a rating means nothing.
    if (!(fuzzies > 0.0))
        return 0.0;
    const double s = total / double(n);
    const double r = (options & ScoreOptionIntegerLengthRatio) ? double(n / m) : double(n) / double(m);
    double result = (s * r + s) * 0.5 / fuzzies;
    if (startBonus)
        result += double(0.15f);
    return result;
}

} // namespace Score
