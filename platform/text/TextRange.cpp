#include "text/TextRange.h"

#include <algorithm>

namespace {

bool isParagraphEnd(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2029);
}

} // namespace

TextRange paragraphRangeForRange(const QString& text, TextRange range)
{
    const qsizetype size = text.size();
    const qsizetype first = std::clamp<qsizetype>(range.location, 0, size);
    const qsizetype last = range.length > 0 ? std::clamp<qsizetype>(range.end() - 1, first, size) : first;

    // The LF of a CR LF belongs to the paragraph the CR ends.
    qsizetype start = first;
    if (start > 0 && start < size && text[start] == u'\n' && text[start - 1] == u'\r')
        --start;
    while (start > 0 && !isParagraphEnd(text[start - 1]))
        --start;

    qsizetype end = last;
    while (end < size && !isParagraphEnd(text[end]))
        ++end;
    if (end < size)
        end += (text[end] == u'\r' && end + 1 < size && text[end + 1] == u'\n') ? 2 : 1;
    return {start, end - start};
}
