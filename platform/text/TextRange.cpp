#include "text/TextRange.h"

#include <algorithm>

TextRange paragraphRangeForRange(const QString& text, TextRange range)
{
    const qsizetype size = text.size();
    const auto at = [&](qsizetype index) { return index >= 0 && index < size ? text[index] : QChar(); };
    const auto lineStart = [&](qsizetype index) {
        while (index > 0 && !isParagraphEnd(text[index - 1]))
            --index;
        return index;
    };
    const auto lineEnd = [&](qsizetype index) {
        while (index < size && !isParagraphEnd(text[index]))
            ++index;
        return index;
    };
    return paragraphRangeIn(size, range, at, lineStart, lineEnd);
}
