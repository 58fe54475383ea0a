#pragma once

#include "Markdown/InlineElement.h"
#include "Markdown/Scanners.h"

#include <QString>

#include <functional>
#include <vector>

// The line-oriented Markdown reader. It builds no tree: each parse reads one line (a paragraph range of
// the text) and reports every element it finds, in text order, to a callback as a range of the whole
// text and an element type. Nothing carries from one line to the next. One parser serves one thread.
class InlineParser {
public:
    using ParagraphBlock = std::function<void(const InlineRange& paragraph, bool* stop)>;

    InlineParser();

    // Calls the block for each paragraph that meets the range, first to last (or last to first), each
    // with its terminator. LF, CR, CRLF and U+2029 end a paragraph; U+2028 does not.
    void enumerateParagraph(const QString& text, InlineRange range, const ParagraphBlock& block);
    void reverseEnumerateParagraph(const QString& text, InlineRange range, const ParagraphBlock& block);
    // The paragraph holding the position (inside the text), with its terminator.
    static InlineRange paragraphRange(const QString& text, int64_t position);

    // Parse one line: its block prefix only, or the prefix and then its inline elements. A range outside
    // the text is clamped; a parse started from inside this parser's own callback does nothing.
    void parseBlock(const QString& text, InlineRange paragraphRange, const InlineCallback& callback);
    void parseBlockAndInline(const QString& text, InlineRange paragraphRange, const InlineCallback& callback);
    // From inside a callback: ends the parse of the line after that callback returns.
    void stop();

    // What the last parsed line was; inside a callback, as far as the scan has come.
    InlineBlock block() const { return _block; }
    int16_t emphasis() const;
    double lastIndentWidth() const;
    InlineRange lastParagraphRange() const;
    InlineRange lastIndentRange() const;
    InlineRange lastPrefixRange() const;
    InlineRange lastIndentAndPrefixRange() const;
    int64_t lastFirstNonSpace() const { return _firstNonSpace; }

    static bool isUnorderedListBullet(char16_t c);
    // The prefix a new line after this one continues with, or a null string (heading, rule, no prefix).
    QString parseAutoIndent(const QString& text, InlineRange paragraphRange);
    // Widens the range to the blank-delimited word(s) around it, then over adjoining runs of `symbol`.
    bool expandText(const QString& text, InlineRange* range, char16_t symbol);

    // Inside the callback of a closing symbol: the range of the symbol it closes, else {InlineNotFound, 0}.
    InlineRange matchingOpenSymbolFormat(InlineElement element, InlineRange closingRange) const;
    // The parts of the last link or image; null when the part is absent.
    QString lastInlineLinkText() const { return substring(lastInlineLinkTextRange); }
    QString lastInlineLinkURL() const { return substring(lastInlineLinkURLRange); }
    QString lastInlineLinkTitle() const { return substring(lastInlineLinkTitleRange); }
    QString lastInlineLinkLabel() const { return substring(lastInlineLinkLabelRange); }

    const QString& text() const { return _text; }
    InlineRange range() const { return _range; }

    // Measured by the user in its body font; read only by lastIndentWidth().
    double spaceWidth = 0;
    double numberWidth = 0;
    double tabWidth = 0;
    double squaredBracketWidth = 0;
    double otherCharacterWidth = 0;

    InlineRange lastOpenStrikeSymbolRange;
    InlineRange lastOpenCodeSpanSymbolRange;
    InlineRange lastOpenAsteriskBoldSymbolRange;
    InlineRange lastOpenAsteriskItalicSymbolRange;
    InlineRange lastOpenUnderscoreBoldSymbolRange;
    InlineRange lastOpenUnderscoreItalicSymbolRange;
    InlineRange lastInlineLinkURLRange;
    InlineRange lastInlineLinkTitleRange;
    InlineRange lastInlineLinkLabelRange;
    InlineRange lastInlineLinkTextRange;
    InlineRange lastOrderedListNumberRange;

private:
    void load(const QString& text, InlineRange range);
    int64_t indexOf(const char16_t* p) const { return _range.location + (p - _buffer.data()); }
    const char16_t* parsePrefix(const InlineCallback& callback);
    void parseInline(const char16_t* start, const InlineCallback& callback);
    bool report(const InlineRange& range, InlineElement element, const InlineCallback& callback);
    void clearEmphasis();
    void pushEmphasis(int16_t flags, int64_t at);
    bool popEmphasis(int64_t to, const InlineCallback& callback);
    template <typename Report>
    bool skipEmphasis(const InlineRange& range, const InlineCallback& callback, Report reportElement);
    bool toggleEmphasis(const char16_t* p, int n, int16_t boldFlag, int16_t italicFlag, InlineElement symbol,
                        InlineRange* boldRange, InlineRange* italicRange, const InlineCallback& callback);
    QString substring(const InlineRange& range) const;

    // One reused copy of the line, NUL-terminated; the scan writes NULs into it (heading ends, the last
    // unit of tags, addresses and URLs) so that later scans stop there.
    std::vector<char16_t> _buffer;
    const char16_t* _endLine = nullptr;  // the line's end after its trailing line feeds
    ScanMemo _memo;  // per line; the NULs the scan writes lie behind every position it asks the memo about
    QString _text;
    InlineRange _range{0, 0};
    InlineBlock _block = InlineBlockParagraph;
    int16_t _emphasis = 0;
    int16_t _stop = 0;
    int16_t _scanStop = 0;  // the stop counter when the current scan began
    int64_t _emphasisLocation = InlineNotFound;
    int64_t _indent = InlineNotFound;
    int64_t _firstNonSpace = 0;
    bool _hasCheckboxMarkUncompleted = false;
    bool _parsing = false;
};
