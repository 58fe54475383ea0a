#pragma once

#include "text/TextRange.h"

#include <QString>

#include <algorithm>

// Small readings of the text shared by the engine's source files. Lines end where the Markdown reader's
// paragraphs end: LF, CR, CR LF or U+2029.
namespace TypewriterText {

inline bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

inline TextRange clipped(TextRange range, qsizetype size)
{
    const qsizetype location = std::clamp<qsizetype>(range.location, 0, size);
    return {location, std::clamp<qsizetype>(range.length, 0, size - location)};
}

// Where the line holding `index` ends, before its terminator.
inline qsizetype lineContentEnd(const QString& text, qsizetype index)
{
    while (index < text.size() && !isParagraphEnd(text[index]))
        ++index;
    return index;
}

// The start of the next line, given where this one's content ends (before the text's end).
inline qsizetype nextLineStart(const QString& text, qsizetype contentEnd)
{
    const bool crlf = text[contentEnd] == u'\r' && contentEnd + 1 < text.size() && text[contentEnd + 1] == u'\n';
    return contentEnd + (crlf ? 2 : 1);
}

} // namespace TypewriterText
