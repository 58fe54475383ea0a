#include "Typewriter/LineParser.h"

#include <algorithm>

QString LineParser::load(const QString& text, TextRange line)
{
    offset_ = std::clamp<qsizetype>(line.location, 0, text.size());
    return text.mid(offset_, std::clamp<qsizetype>(line.length, 0, text.size() - offset_));
}

void LineParser::parseBlock(const QString& text, TextRange line, const Callback& callback)
{
    const QString copy = load(text, line);
    parser_.parseBlock(copy, {0, copy.size()}, [&](const InlineRange& range, InlineElement element) {
        callback({offset_ + range.location, range.length}, element);
    });
}

void LineParser::parseBlockAndInline(const QString& text, TextRange line, const Callback& callback)
{
    const QString copy = load(text, line);
    parser_.parseBlockAndInline(copy, {0, copy.size()}, [&](const InlineRange& range, InlineElement element) {
        callback({offset_ + range.location, range.length}, element);
    });
}

TextRange LineParser::matchingOpenSymbol(InlineElement element, TextRange closing) const
{
    const InlineRange open = parser_.matchingOpenSymbolFormat(element, {closing.location - offset_, closing.length});
    if (open.location == InlineNotFound)
        return {-1, 0};
    return shifted(open);
}

QString LineParser::autoIndent(const QString& text, TextRange line)
{
    const QString copy = load(text, line);
    return parser_.parseAutoIndent(copy, {0, copy.size()});
}

void LineParser::expandText(const QString& text, TextRange* range, char16_t symbol)
{
    InlineRange r{range->location, range->length};
    parser_.expandText(text, &r, symbol);
    *range = {r.location, r.length};
}
