#pragma once

#include <QString>
#include <QtGlobal>

// A span of UTF-16 units: where it starts and how many units it covers.
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;

    qsizetype end() const { return location + length; }
    bool contains(qsizetype index) const { return index >= location && index < end(); }
    bool operator==(const TextRange&) const = default;
};

#include <algorithm>

// A unit that ends a paragraph: LF, CR or U+2029.
inline bool isParagraphEnd(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2029);
}

// The smallest range of whole paragraphs that covers the range, each with its
// terminator (LF, CR, CR LF or U+2029). The range is clipped to the text.
TextRange paragraphRangeForRange(const QString& text, TextRange range);

// The same rule over a text read through `at(index)` (QChar() outside it), `lineStart(index)` (where the
// paragraph holding the unit before `index` begins) and `lineEnd(index)` (the first paragraph end at or
// after `index`, else the size), for a text not held in one piece.
template <typename At, typename LineStart, typename LineEnd>
TextRange paragraphRangeIn(qsizetype size, TextRange range, At at, LineStart lineStart, LineEnd lineEnd)
{
    const qsizetype first = std::clamp<qsizetype>(range.location, 0, size);
    const qsizetype last = range.length > 0 ? std::clamp<qsizetype>(range.end() - 1, first, size) : first;
    qsizetype start = first;
    // The LF of a CR LF belongs to the paragraph the CR ends.
    if (start < size && at(start) == u'\n' && at(start - 1) == u'\r')
        --start;
    start = lineStart(start);
    qsizetype end = lineEnd(last);
    if (end < size)
        end += (at(end) == u'\r' && at(end + 1) == u'\n') ? 2 : 1;
    return {start, end - start};
}
