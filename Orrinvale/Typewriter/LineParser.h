#pragma once

#include "Markdown/InlineParser.h"
#include "text/TextRange.h"

#include <functional>

// The Markdown reader over one line of a longer text, in the whole text's positions. The reader keeps a
// copy of what it parsed; handing it only the line keeps it from sharing the whole text, whose next
// edit would then copy every unit of it.
class LineParser {
public:
    using Callback = std::function<void(TextRange range, InlineElement element)>;

    void parseBlock(const QString& text, TextRange line, const Callback& callback);
    void parseBlockAndInline(const QString& text, TextRange line, const Callback& callback);
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
    QString autoIndent(const QString& text, TextRange line);
    // Widens the range to the blank-delimited word around it, then over adjoining runs of `symbol`.
    void expandText(const QString& text, TextRange* range, char16_t symbol);

private:
    QString load(const QString& text, TextRange line);
    TextRange shifted(InlineRange range) const { return {offset_ + range.location, range.length}; }

    InlineParser parser_;
    qsizetype offset_ = 0;
};
