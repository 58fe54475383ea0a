#pragma once

#include <QRegularExpression>
#include <QString>

// Regular expressions that behave like the platform's: \w, \d, \s and \b know
// every Unicode letter, digit and space (Qt's own would treat "é" as a
// non-word character), case-insensitive matching folds all scripts, "^", "$"
// and "." know every line terminator (\n, \r\n, \r, U+0085, U+2028, U+2029).
namespace UnicodeRegex {

// The platform's option values, so the numbers of the design carry over.
enum Option : unsigned {
    CaseInsensitive = 1,
    AllowCommentsAndWhitespace = 2,
    IgnoreMetacharacters = 4,
    DotMatchesLineSeparators = 8,
    AnchorsMatchLines = 16,
    UseUnixLineSeparators = 32,
};

QRegularExpression expression(const QString& pattern, unsigned options = 0);

// Replaces every match with the template, where "$0".."$9" stand for the
// captured texts (an unmatched group gives nothing) and "\" takes the next
// character literally, as the platform's templates do.
QString replace(const QString& text, const QRegularExpression& expression, const QString& templ);

} // namespace UnicodeRegex
