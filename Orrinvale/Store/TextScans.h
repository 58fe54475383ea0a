#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// Scans that read text as the platform's regular expressions do: \s knows
// every Unicode space, "$" comes before any line terminator, and text that is
// not valid UTF-16 (a lone surrogate) matches nothing at all.
namespace TextScans {

// White space to the expressions' \s. U+180E stays in their horizontal
// space though Unicode no longer counts it as a space.
inline bool isExpressionSpace(char16_t c)
{
    return QChar::isSpace(c) || c == 0x180E;
}

// Each run of white space that holds a line feed becomes one line feed
// (the expression \s*\n+\s*); null when the result is empty.
QString joinedLineBreaks(const QString& text);

// The first "." or "?" that white space or the end follows (the expression
// [.?](?=($|\s)) over the line); -1 for none.
qsizetype sentenceEnd(QStringView line);

} // namespace TextScans
