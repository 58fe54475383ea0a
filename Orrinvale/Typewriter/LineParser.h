#pragma once

#include "Markdown/InlineParser.h"
#include "text/TextRange.h"

#include <functional>

// The Markdown reader over one line of a longer text, in the whole text's positions. It reads only the
// line, through the reader it is given: a long text is never taken whole, and the reader's copy of the
// line never shares the whole text, whose next edit would then copy every unit of it.
class LineParser {
public:
    using Callback = std::function<void(TextRange range, InlineElement element)>;
    // Clips the range to the text and gives what it holds, current.
    using Reader = std::function<QString(TextRange* range)>;

    explicit LineParser(Reader read) : read_(std::move(read)) {}

    void parseBlock(TextRange line, const Callback& callback);
    void parseBlockAndInline(TextRange line, const Callback& callback);
    // From inside a callback: ends the parse after it returns.
    void stop() { parser_.stop(); }

    // The last parsed line.
    InlineBlock block() const { return parser_.block(); }
    TextRange indentAndPrefixRange() const { return shifted(parser_.lastIndentAndPrefixRange()); }
    TextRange prefixRange() const { return shifted(parser_.lastPrefixRange()); }
    qsizetype firstNonSpace() const { return offset_ + parser_.lastFirstNonSpace(); }
    // Inside the callback of a closing symbol: the symbol it closes, or an empty range at -1.
    TextRange matchingOpenSymbol(InlineElement element, TextRange closing) const;

    // The prefix that continues the line on a new one, null for none.
    QString autoIndent(TextRange line);
    // Widens the range to the blank-delimited word around it, then over adjoining runs of `symbol`;
    // `lines` are the whole lines around the range.
    void expandText(TextRange lines, TextRange* range, char16_t symbol);

private:
    QString load(TextRange line);
    TextRange shifted(InlineRange range) const { return {offset_ + range.location, range.length}; }

    Reader read_;
    InlineParser parser_;
    qsizetype offset_ = 0;
};
