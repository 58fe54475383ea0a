#pragma once

#include <cstdint>
#include <functional>
#include <limits>

// The numbers the Markdown reader hands to its users. The styling, the HTML pre-pass, the title and
// tag extraction and the typewriter all switch on these values, so they never change.

enum InlineElement : int64_t {
    InlineElementIndent = 1,
    InlineElementRuleLine = 2,
    InlineElementRuleSymbol = 3,
    InlineElementHeadingOpenSymbol = 4,
    InlineElementHeadingCloseSymbol = 5,
    InlineElementHeadingText = 6,
    InlineElementQuoteSymbol = 7,
    InlineElementQuoteText = 8,
    InlineElementHTMLTag = 9,
    InlineElementEntity = 10,
    InlineElementIndentedCode = 11,
    InlineElementCodeSpanSymbol = 12,
    InlineElementCodeSpanText = 13,
    InlineElementCodeSpanLiteralSymbol = 14,
    InlineElementStrikeSymbol = 15,
    InlineElementStrikeText = 16,
    InlineElementStrikeLiteralSymbol = 17,
    InlineElementAutolinkSymbol = 18,
    InlineElementAutolinkURL = 19,
    InlineElementAutolinkEmail = 20,
    InlineElementInlineLink = 21,
    InlineElementInlineImage = 22,
    InlineElementReferenceLink = 23,
    InlineElementReferenceImage = 24,
    InlineElementAsteriskLiteralSymbol = 25,
    InlineElementAsteriskSymbol = 26,
    InlineElementUnderscoreLiteralSymbol = 27,
    InlineElementUnderscoreSymbol = 28,
    InlineElementAsteriskItalicText = 29,
    InlineElementAsteriskBoldText = 30,
    InlineElementAsteriskBoldItalicText = 31,
    InlineElementUnderscoreItalicText = 32,
    InlineElementUnderscoreBoldText = 33,
    InlineElementUnderscoreBoldItalicText = 34,
    InlineElementUnorderedListBullet = 35,
    InlineElementOrderedListDelimiter = 36,
    InlineElementOrderedListNumber = 37,
    InlineElementCheckboxBracket = 38,
    InlineElementCheckboxMarkUncompleted = 39,
    InlineElementCheckboxMarkCompleted = 40,
    InlineElementHashtag = 41,
    InlineElementMention = 42,
    InlineElementEmail = 43,
    InlineElementURL = 44,
};

// 6 is deliberately unused.
enum InlineBlock : int64_t {
    InlineBlockParagraph = 0,
    InlineBlockIndentedCode = 1,
    InlineBlockHeading = 2,
    InlineBlockQuote = 3,
    InlineBlockUnorderedList = 4,
    InlineBlockOrderedList = 5,
    InlineBlockRule = 7,
};

// Bits of the open inline run; 128 is only ever added by InlineParser::emphasis() on heading lines.
enum InlineEmphasis : int16_t {
    InlineEmphasisCodeSpan = 2,
    InlineEmphasisStrike = 4,
    InlineEmphasisAsteriskBold = 8,
    InlineEmphasisAsteriskItalic = 16,
    InlineEmphasisUnderscoreBold = 32,
    InlineEmphasisUnderscoreItalic = 64,
    InlineEmphasisHeading = 128,
};

inline constexpr int64_t InlineNotFound = std::numeric_limits<int64_t>::max();

// A stretch of the parsed text in UTF-16 units of the whole text.
struct InlineRange {
    int64_t location = InlineNotFound;
    int64_t length = 0;

    int64_t end() const { return location + length; }
    bool operator==(const InlineRange&) const = default;
};

// Receives every element of a parsed line in text order. The range belongs to the parser: read it during
// the call, never keep a reference to it.
using InlineCallback = std::function<void(const InlineRange& range, InlineElement element)>;
