#include "Typewriter/LineParser.h"

QString LineParser::load(TextRange line)
{
    QString text = read_(&line);
    offset_ = line.location;
    return text;
}

void LineParser::parseBlock(TextRange line, const Callback& callback)
{
    const QString copy = load(line);
    parser_.parseBlock(copy, {0, copy.size()}, [&](const InlineRange& range, InlineElement element) {
        callback({offset_ + range.location, range.length}, element);
    });
}

void LineParser::parseBlockAndInline(TextRange line, const Callback& callback)
{
    const QString copy = load(line);
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

QString LineParser::autoIndent(TextRange line)
{
    const QString copy = load(line);
    return parser_.parseAutoIndent(copy, {0, copy.size()});
}

void LineParser::expandText(TextRange lines, TextRange* range, char16_t symbol)
{
    const QString copy = load(lines);
    InlineRange r{range->location - offset_, range->length};
    parser_.expandText(copy, &r, symbol);
    *range = {offset_ + r.location, r.length};
}
