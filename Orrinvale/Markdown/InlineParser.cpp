#include "Markdown/InlineParser.h"

#include <algorithm>
#include <array>
#include <string_view>

using namespace MarkdownChar;

namespace {

bool isParagraphEnd(char16_t c) { return c == u'\n' || c == u'\r' || c == 0x2029; }

InlineRange clamp(InlineRange range, int64_t size)
{
    const int64_t location = std::clamp<int64_t>(range.location, 0, size);
    const int64_t length = std::clamp<int64_t>(range.length, 0, size - location);
    return {location, length};
}

// The paragraph holding `position`, with its terminator.
InlineRange paragraphAt(const char16_t* s, int64_t size, int64_t position)
{
    int64_t start = position;
    if (start < size && s[start] == u'\n' && start > 0 && s[start - 1] == u'\r')
        --start;  // the LF of a CRLF belongs to the CR's paragraph
    while (start > 0 && !isParagraphEnd(s[start - 1]))
        --start;
    int64_t end = position;
    while (end < size && (s[end] > u'\r' ? s[end] != 0x2029 : !isParagraphEnd(s[end])))
        ++end;
    if (end < size)
        end += (s[end] == u'\r' && end + 1 < size && s[end + 1] == u'\n') ? 2 : 1;
    return {start, end - start};
}

// The units the inline scan acts on; every other unit is passed over.
constexpr std::array<bool, 128> kTriggers = [] {
    std::array<bool, 128> t{};
    for (char c : std::string_view("~[\\]_*`:<@#&!"))
        t[size_t(c)] = true;
    t[0] = true;
    return t;
}();

inline bool isTrigger(char16_t c) { return c < 128 && kTriggers[c]; }

// Restores the re-entry guard however the parse ends.
struct ParsingGuard {
    bool& flag;
    explicit ParsingGuard(bool& f) : flag(f) { flag = true; }
    ~ParsingGuard() { flag = false; }
};

// Adds one to a run of decimal digits without any width limit; leading zeros drop ("09" gives "10").
QString incremented(QString digits)
{
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits[first] == u'0')
        ++first;
    digits = digits.mid(first);
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != u'9') {
            digits[i] = QChar(digits[i].unicode() + 1);
            return digits;
        }
        digits[i] = u'0';
    }
    return QString(QChar(u'1')) + digits;
}

}  // namespace

InlineParser::InlineParser()
{
    _buffer.push_back(0);
    _endLine = _buffer.data();
}

void InlineParser::enumerateParagraph(const QString& text, InlineRange range, const ParagraphBlock& block)
{
    const int64_t size = text.size();
    range = clamp(range, size);
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    int64_t position = range.location;
    while (position < range.end()) {
        const InlineRange paragraph = paragraphAt(s, size, position);
        position = std::max(position + 1, paragraph.end());
        bool stop = false;
        block(paragraph, &stop);
        if (stop)
            return;
    }
}

void InlineParser::reverseEnumerateParagraph(const QString& text, InlineRange range, const ParagraphBlock& block)
{
    const int64_t size = text.size();
    range = clamp(range, size);
    if (range.length == 0)
        return;
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    int64_t position = range.end() - 1;
    for (;;) {
        const InlineRange paragraph = paragraphAt(s, size, position);
        bool stop = false;
        block(paragraph, &stop);
        if (stop || paragraph.location <= range.location)
            return;
        position = paragraph.location - 1;
    }
}

InlineRange InlineParser::paragraphRange(const QString& text, int64_t position)
{
    return ::paragraphAt(reinterpret_cast<const char16_t*>(text.utf16()), text.size(), position);
}

void InlineParser::load(const QString& text, InlineRange range)
{
    _text = text;
    _range = clamp(range, text.size());
    const char16_t* s = reinterpret_cast<const char16_t*>(_text.utf16()) + _range.location;
    _buffer.clear();
    _buffer.reserve(size_t(_range.length) + 1);
    _buffer.insert(_buffer.end(), s, s + _range.length);
    _buffer.push_back(0);
    // The line's own terminator reads as a line feed, so that CR, CRLF and U+2029 lines scan like LF
    // lines: no "\r" at the end of a heading's text, no separator at the end of a tag.
    for (int64_t i = _range.length - 1; i >= 0 && i >= _range.length - 2 && isParagraphEnd(_buffer[i]); --i)
        _buffer[i] = u'\n';
    _endLine = _buffer.data() + _range.length;
    while (_endLine > _buffer.data() && _endLine[-1] == u'\n')
        --_endLine;
    _memo = ScanMemo();
}

void InlineParser::parseBlock(const QString& text, InlineRange paragraphRange, const InlineCallback& callback)
{
    if (_parsing)
        return;
    ParsingGuard guard(_parsing);
    load(text, paragraphRange);
    parsePrefix(callback);
}

void InlineParser::parseBlockAndInline(const QString& text, InlineRange paragraphRange, const InlineCallback& callback)
{
    if (_parsing)
        return;
    ParsingGuard guard(_parsing);
    load(text, paragraphRange);
    if (const char16_t* start = parsePrefix(callback))
        parseInline(start, callback);
}

void InlineParser::stop()
{
    _stop = int16_t((_stop + 1) % 1024);
}

bool InlineParser::report(const InlineRange& range, InlineElement element, const InlineCallback& callback)
{
    callback(range, element);
    return _stop != _scanStop;
}

int16_t InlineParser::emphasis() const
{
    return int16_t(_emphasis + (_block == InlineBlockHeading ? InlineEmphasisHeading : 0));
}

// Block prefix: indentation, quote markers, a list marker, a check box, a heading or a rule, nested left
// to right. Returns where the inline content starts, or null when the line has none.
const char16_t* InlineParser::parsePrefix(const InlineCallback& callback)
{
    enum class Kind { Start, Quote, Bullet, Ordered, Checkbox };
    stop();
    _scanStop = _stop;
    _block = InlineBlockParagraph;
    _hasCheckboxMarkUncompleted = false;
    lastOrderedListNumberRange = {InlineNotFound, 0};
    _indent = InlineNotFound;
    _firstNonSpace = _range.location;

    const char16_t* p = _buffer.data();
    Kind kind = Kind::Start;
    bool firstPass = true;
    for (;;) {
        int columns = 0;
        const char16_t* q = p;
        for (; isBlank(*q); ++q)
            columns += *q == u'\t' ? 4 : 1;
        if (q > p && report({indexOf(p), q - p}, InlineElementIndent, callback))
            return nullptr;
        if (firstPass)
            _firstNonSpace = indexOf(q);
        firstPass = false;
        _indent = indexOf(q);
        if (*q == 0)
            return nullptr;
        p = q;

        if (columns < 4 && *p == u'>') {
            _block = InlineBlockQuote;
            if (report({indexOf(p), 1}, InlineElementQuoteSymbol, callback))
                return nullptr;
            _indent = indexOf(p + 1);
            ++p;
            if (isBlank(*p))
                ++p;
            kind = Kind::Quote;
            continue;
        }

        const int64_t rule = uscan_rule_line(p, &_memo);
        if (columns < 4 && rule) {
            _block = InlineBlockRule;
            if (report({indexOf(p), rule - 1}, InlineElementRuleLine, callback))
                return nullptr;
            for (const char16_t* r = p; r < p + rule - 1;) {
                const int64_t m = uscan_word(r);
                if (m == 0) {
                    ++r;
                    continue;
                }
                if (report({indexOf(r), m}, InlineElementRuleSymbol, callback))
                    return nullptr;
                r += m;
            }
            return nullptr;
        }

        const char16_t* afterMarker = nullptr;
        int64_t number = 0;
        if (uscan_bullet_item(p) && !rule) {
            _block = InlineBlockUnorderedList;
            if (report({indexOf(p), 1}, InlineElementUnorderedListBullet, callback))
                return nullptr;
            afterMarker = p + 1;
            kind = Kind::Bullet;
        } else if (const int64_t n = uscan_ordered_item(p, &number)) {
            _block = InlineBlockOrderedList;
            const char16_t* delimiter = isWhite(p[n]) ? p + n - 1 : p + n;
            lastOrderedListNumberRange = {indexOf(p), delimiter - p};
            if (report(lastOrderedListNumberRange, InlineElementOrderedListNumber, callback))
                return nullptr;
            if (report({indexOf(delimiter), 1}, InlineElementOrderedListDelimiter, callback))
                return nullptr;
            afterMarker = delimiter + 1;
            kind = Kind::Ordered;
        }

        const char16_t* pos = p;
        if (afterMarker) {
            _indent = indexOf(afterMarker);
            columns = 0;
            pos = afterMarker;
            if (isWhite(*pos)) {
                pos += uscan_spaces(pos);
                _indent = indexOf(pos);
                kind = Kind::Start;
            }
            if (uscan_checkbox(pos)) {
                kind = Kind::Checkbox;
                if (report({indexOf(pos), 1}, InlineElementCheckboxBracket, callback))
                    return nullptr;
                const char16_t mark = pos[1];
                if (mark == u' ' || mark == u'x' || mark == u'X') {
                    _hasCheckboxMarkUncompleted = mark == u' ';
                    if (report({indexOf(pos + 1), 1},
                               mark == u' ' ? InlineElementCheckboxMarkUncompleted : InlineElementCheckboxMarkCompleted,
                               callback))
                        return nullptr;
                    if (pos[2] == u']') {
                        if (report({indexOf(pos + 2), 1}, InlineElementCheckboxBracket, callback))
                            return nullptr;
                        pos += 3;
                        if (isWhite(*pos)) {
                            pos += uscan_spaces(pos);
                            kind = Kind::Start;
                        }
                        _indent = indexOf(pos);
                    } else {
                        pos += 2;
                    }
                } else {
                    pos += 1;
                }
            } else if (kind == Kind::Start) {
                // The marker's first blank belongs to it; further blanks are indentation of a new pass.
                p = afterMarker + 1;
                continue;
            }
        } else if (columns > 3) {
            pos = nullptr;  // straight to indented code
        }

        if (pos) {
            int16_t level = 0;
            if (const int64_t h = uscan_atx_open(pos, &level)) {
                _block = InlineBlockHeading;
                if (report({indexOf(pos), level}, InlineElementHeadingOpenSymbol, callback))
                    return nullptr;
                const char16_t* last = pos + h - 1;
                const char16_t* closeStart = nullptr;
                int64_t closeLength = 0;
                const int64_t e = uscan_atx_close(last, &closeStart, &closeLength);
                if (e > 0) {
                    if (report({indexOf(pos + h), e - 1}, InlineElementHeadingText, callback))
                        return nullptr;
                    _endLine = last + e;
                    *const_cast<char16_t*>(_endLine) = 0;
                }
                if (closeLength > 0 && report({indexOf(closeStart), closeLength}, InlineElementHeadingCloseSymbol, callback))
                    return nullptr;
                _indent = indexOf(pos + h);
                return pos + h;
            }
        } else {
            pos = p;
        }

        if (columns > 3 && (kind == Kind::Start || kind == Kind::Quote)) {
            _block = InlineBlockIndentedCode;
            report({indexOf(pos), std::max<int64_t>(_endLine - pos, 0)}, InlineElementIndentedCode, callback);
            _indent = indexOf(pos);
            return nullptr;
        }
        if (kind == Kind::Quote && _endLine > pos && report({indexOf(pos), _endLine - pos}, InlineElementQuoteText, callback))
            return nullptr;
        return pos;
    }
}

void InlineParser::clearEmphasis()
{
    _emphasis = 0;
    _emphasisLocation = InlineNotFound;
}

void InlineParser::pushEmphasis(int16_t flags, int64_t at)
{
    if (flags < 1) {
        clearEmphasis();
        return;
    }
    _emphasis = flags;
    _emphasisLocation = at;
}

// Reports the open run up to `to` as the first family set, then clears that family. Returns whether the
// callback stopped the parse.
bool InlineParser::popEmphasis(int64_t to, const InlineCallback& callback)
{
    const int16_t f = _emphasis;
    if (f <= 0)
        return false;
    InlineElement element;
    int16_t family;
    if (f & InlineEmphasisCodeSpan) {
        element = InlineElementCodeSpanText;
        family = InlineEmphasisCodeSpan;
    } else if (f & InlineEmphasisStrike) {
        element = InlineElementStrikeText;
        family = InlineEmphasisStrike;
    } else if (f & InlineEmphasisAsteriskBold) {
        element = (f & InlineEmphasisAsteriskItalic) ? InlineElementAsteriskBoldItalicText : InlineElementAsteriskBoldText;
        family = InlineEmphasisAsteriskBold | InlineEmphasisAsteriskItalic;
    } else if (f & InlineEmphasisAsteriskItalic) {
        element = InlineElementAsteriskItalicText;
        family = InlineEmphasisAsteriskItalic;
    } else if (f & InlineEmphasisUnderscoreBold) {
        element = (f & InlineEmphasisUnderscoreItalic) ? InlineElementUnderscoreBoldItalicText : InlineElementUnderscoreBoldText;
        family = InlineEmphasisUnderscoreBold | InlineEmphasisUnderscoreItalic;
    } else {
        element = InlineElementUnderscoreItalicText;
        family = InlineEmphasisUnderscoreItalic;
    }
    const int64_t length = to - _emphasisLocation;
    if (length > 0 && report({_emphasisLocation, length}, element, callback))
        return true;
    _emphasis = int16_t(_emphasis & ~family);
    return false;
}

// Reports an element that interrupts the open run without ending it: the run before it, the element
// under the same flags, and a new run after it.
template <typename Report>
bool InlineParser::skipEmphasis(const InlineRange& range, const InlineCallback& callback, Report reportElement)
{
    const int16_t f = _emphasis;
    if (popEmphasis(range.location, callback))
        return true;
    _emphasis = f;
    if (reportElement())
        return true;
    pushEmphasis(f, range.end());
    return false;
}

// One run of "*" or "_" that opens or closes its family: flips bold for 2 or 3 markers, italic for 1 or 3.
bool InlineParser::toggleEmphasis(const char16_t* p, int n, int16_t boldFlag, int16_t italicFlag, InlineElement symbol,
                                  InlineRange* boldRange, InlineRange* italicRange, const InlineCallback& callback)
{
    const int16_t f = _emphasis;
    const int64_t at = indexOf(p);
    if (popEmphasis(at, callback))
        return true;
    int16_t toggled = 0;
    if (n >= 2)
        toggled |= boldFlag;
    if (n != 2)
        toggled |= italicFlag;
    if (report({at, n}, symbol, callback))
        return true;
    const int16_t flags = int16_t(f ^ toggled);
    if (toggled & boldFlag)
        *boldRange = (flags & boldFlag) ? InlineRange{at, n} : InlineRange{InlineNotFound, 0};
    if (toggled & italicFlag)
        *italicRange = (flags & italicFlag) ? InlineRange{at, n} : InlineRange{InlineNotFound, 0};
    pushEmphasis(flags, at + n);
    return false;
}

void InlineParser::parseInline(const char16_t* start, const InlineCallback& callback)
{
    stop();
    _scanStop = _stop;
    for (InlineRange* r : {&lastOpenStrikeSymbolRange, &lastOpenCodeSpanSymbolRange, &lastOpenAsteriskBoldSymbolRange,
                           &lastOpenAsteriskItalicSymbolRange, &lastOpenUnderscoreBoldSymbolRange,
                           &lastOpenUnderscoreItalicSymbolRange})
        *r = {InlineNotFound, 0};
    clearEmphasis();

    constexpr int16_t kAsterisk = InlineEmphasisAsteriskBold | InlineEmphasisAsteriskItalic;
    constexpr int16_t kUnderscore = InlineEmphasisUnderscoreBold | InlineEmphasisUnderscoreItalic;
    char16_t* const buffer = _buffer.data();
    const char16_t* const end = _endLine;
    InlineRange codeSpan{InlineNotFound, 0};
    const char16_t* bracket = nullptr;
    int depth = 0;
    const char16_t* bang = nullptr;

    // Reports an element inside the open run, which goes on after it.
    auto skip = [&](InlineRange range, InlineElement element) {
        return skipEmphasis(range, callback, [&] { return report(range, element, callback); });
    };
    char16_t* p = const_cast<char16_t*>(start);
    while (p < end) {
        if (!isTrigger(*p)) {
            ++p;
            continue;
        }
        const char16_t prev = p > buffer ? p[-1] : 0;
        const char16_t c = *p;
        if (c == 0)
            break;
        const bool codeOpen = codeSpan.location != InlineNotFound;
        switch (c) {
        case u'~': {
            if (bracket) {
                ++p;
                break;
            }
            const int64_t n = uscan_tilde_run(p);
            if (!codeOpen && n == 2 && !(_emphasis & (kAsterisk | kUnderscore))) {
                const int16_t f = _emphasis;
                const int64_t at = indexOf(p);
                if (popEmphasis(at, callback) || report({at, 2}, InlineElementStrikeSymbol, callback))
                    return;
                lastOpenStrikeSymbolRange = (f & InlineEmphasisStrike) ? InlineRange{InlineNotFound, 0} : InlineRange{at, 2};
                pushEmphasis(int16_t(f ^ InlineEmphasisStrike), at + 2);
                p += 2;
            } else {
                if (skip({indexOf(p), n}, InlineElementStrikeLiteralSymbol))
                    return;
                p += n;
            }
            break;
        }
        case u'[':
            if (bracket)
                ++depth;
            else {
                bracket = p;
                depth = 1;
            }
            ++p;
            break;
        case u'\\':
            p += isPunct(p[1]) ? 2 : 1;
            break;
        case u']': {
            if (!bracket || --depth > 0) {
                ++p;
                break;
            }
            const char16_t* open = bracket;
            bracket = nullptr;
            const bool image = bang && bang + 1 == open;
            const char16_t* from = image ? bang : open;
            const InlineRange linkText{indexOf(open + 1), p - open - 1};
            const char16_t* q = p + 1;
            if (*q == u'(') {
                ++q;
                q += uscan_spaces(q);
                const char16_t* destination = q;
                const int64_t destinationLength = uscan_link_destination(q);
                q += destinationLength;
                const int64_t blanks = uscan_spaces(q);
                q += blanks;
                InlineRange title{InlineNotFound, 0};
                if (blanks > 0) {
                    if (const int64_t t = uscan_link_title(q, &_memo)) {
                        title = {indexOf(q), t};
                        q += t;
                        q += uscan_spaces(q);
                    }
                }
                if (*q != u')') {
                    ++p;
                    break;
                }
                lastInlineLinkTextRange = linkText;
                lastInlineLinkURLRange = {indexOf(destination), destinationLength};
                lastInlineLinkTitleRange = title;
                lastInlineLinkLabelRange = {InlineNotFound, 0};
                if (skip({indexOf(from), q + 1 - from}, image ? InlineElementInlineImage : InlineElementInlineLink))
                    return;
                p = const_cast<char16_t*>(q + 1);
            } else {
                q += uscan_spaces(q);
                const int64_t label = uscan_link_label(q);
                if (label == 0) {
                    ++p;
                    break;
                }
                lastInlineLinkTextRange = linkText;
                lastInlineLinkLabelRange = {indexOf(q + 1), label - 2};
                lastInlineLinkURLRange = {InlineNotFound, 0};
                lastInlineLinkTitleRange = {InlineNotFound, 0};
                if (skip({indexOf(from), q + label - from}, image ? InlineElementReferenceImage : InlineElementReferenceLink))
                    return;
                p = const_cast<char16_t*>(q + label);
            }
            break;
        }
        case u'_':
        case u'*': {
            if (bracket) {
                ++p;
                break;
            }
            const bool asterisk = c == u'*';
            const int n = asterisk ? uscan_asterisk_run(p) : uscan_underscore_run(p);
            const char16_t after = p[n];
            const int16_t others = InlineEmphasisStrike | (asterisk ? kUnderscore : kAsterisk);
            const bool literal = (n == 1 && isBlank(prev) && isBlank(after)) ||
                                 (!asterisk && isAlnum(prev) && isAlnum(after)) || codeOpen || (_emphasis & others);
            if (literal) {
                if (skip({indexOf(p), n}, asterisk ? InlineElementAsteriskLiteralSymbol : InlineElementUnderscoreLiteralSymbol))
                    return;
            } else if (asterisk ? toggleEmphasis(p, n, InlineEmphasisAsteriskBold, InlineEmphasisAsteriskItalic,
                                                 InlineElementAsteriskSymbol, &lastOpenAsteriskBoldSymbolRange,
                                                 &lastOpenAsteriskItalicSymbolRange, callback)
                                : toggleEmphasis(p, n, InlineEmphasisUnderscoreBold, InlineEmphasisUnderscoreItalic,
                                                 InlineElementUnderscoreSymbol, &lastOpenUnderscoreBoldSymbolRange,
                                                 &lastOpenUnderscoreItalicSymbolRange, callback)) {
                return;
            }
            p += n;
            break;
        }
        case u'`': {
            const int64_t n = uscan_backtick_run(p);
            const int64_t at = indexOf(p);
            if (!codeOpen) {
                const int16_t f = _emphasis;
                codeSpan = {at, n};
                if (popEmphasis(at, callback) || report({at, n}, InlineElementCodeSpanSymbol, callback))
                    return;
                lastOpenCodeSpanSymbolRange = {at, n};
                pushEmphasis(int16_t(f | InlineEmphasisCodeSpan), at + n);
            } else if (n == codeSpan.length) {
                if (popEmphasis(at, callback) || report({at, n}, InlineElementCodeSpanSymbol, callback))
                    return;
                lastOpenCodeSpanSymbolRange = {InlineNotFound, 0};
                pushEmphasis(_emphasis, at + n);
                codeSpan = {InlineNotFound, 0};
            } else if (skip({at, n}, InlineElementCodeSpanLiteralSymbol)) {
                return;
            }
            p += n;
            break;
        }
        case u':': {
            int64_t scheme = 0;
            const int64_t n = uscan_bare_url(p, buffer, &scheme);
            if (n == 0) {
                ++p;
                break;
            }
            if (skip({indexOf(p) - scheme, scheme + n}, InlineElementURL))
                return;
            p[n - 1] = 0;
            p += n;
            break;
        }
        case u'<': {
            InlineElement inner = InlineElementAutolinkURL;
            int64_t n = uscan_autolink_uri(p + 1);
            if (n == 0) {
                inner = InlineElementAutolinkEmail;
                n = uscan_autolink_email(p + 1);
            }
            if (n > 0) {
                const int64_t at = indexOf(p);
                if (skipEmphasis({at, n + 1}, callback, [&] {
                        return report({at, 1}, InlineElementAutolinkSymbol, callback) ||
                               report({at + 1, n - 1}, inner, callback) ||
                               report({at + n, 1}, InlineElementAutolinkSymbol, callback);
                    }))
                    return;
                p += n + 1;
            } else if ((n = uscan_html_tag(p + 1, &_memo))) {
                if (skip({indexOf(p), n + 1}, InlineElementHTMLTag))
                    return;
                p += n + 1;
            } else {
                ++p;
            }
            break;
        }
        case u'@':
        case u'#': {
            const bool tagAllowed = !codeOpen && prev != u'!' && prev != u'#' && prev != u'&' && prev != u'@' &&
                                    (prev == 0 || isWhite(prev) || isPunct(prev));
            int64_t n = tagAllowed ? (c == u'#' ? uscan_hashtag(p) : uscan_mention(p)) : 0;
            if (n > 0) {
                if (skip({indexOf(p), n}, c == u'#' ? InlineElementHashtag : InlineElementMention))
                    return;
            } else if (c == u'@') {
                int64_t local = 0;
                n = uscan_bare_email(p, buffer, &local);
                if (n > 0 && skip({indexOf(p) - local, local + n}, InlineElementEmail))
                    return;
            }
            if (n > 0) {
                p[n - 1] = 0;  // the next unit sees NUL before it: "#one#two" is two tags
                p += n;
            } else {
                ++p;
            }
            break;
        }
        case u'&': {
            const int64_t n = uscan_entity(p);
            if (n > 0) {
                if (skip({indexOf(p), n}, InlineElementEntity))
                    return;
                p += n;
            } else {
                ++p;
            }
            break;
        }
        case u'!':
            bang = p;
            ++p;
            break;
        default:
            ++p;
            break;
        }
    }
    const int64_t lineEnd = indexOf(end);
    if (_emphasis > 0 && popEmphasis(lineEnd, callback))
        return;
    if (_emphasis > 0)
        popEmphasis(lineEnd, callback);
}

InlineRange InlineParser::matchingOpenSymbolFormat(InlineElement element, InlineRange closingRange) const
{
    auto earlier = [](InlineRange bold, InlineRange italic) -> InlineRange {
        if (italic.location != InlineNotFound && (bold.location == InlineNotFound || italic.location < bold.location))
            return italic;
        return bold;
    };
    auto byLength = [&](InlineRange bold, InlineRange italic) {
        if (closingRange.length == 2)
            return bold;
        if (closingRange.length == 1)
            return italic;
        return earlier(bold, italic);
    };
    switch (element) {
    case InlineElementCodeSpanSymbol:
        return lastOpenCodeSpanSymbolRange;
    case InlineElementStrikeSymbol:
        return lastOpenStrikeSymbolRange;
    case InlineElementAsteriskSymbol:
        return byLength(lastOpenAsteriskBoldSymbolRange, lastOpenAsteriskItalicSymbolRange);
    case InlineElementUnderscoreSymbol:
        return byLength(lastOpenUnderscoreBoldSymbolRange, lastOpenUnderscoreItalicSymbolRange);
    default:
        return {InlineNotFound, 0};
    }
}

QString InlineParser::substring(const InlineRange& range) const
{
    if (range.location == InlineNotFound)
        return {};
    const InlineRange r = clamp(range, _text.size());
    return _text.mid(r.location, r.length);
}

InlineRange InlineParser::lastParagraphRange() const
{
    return {_range.location, _endLine - _buffer.data()};
}

InlineRange InlineParser::lastIndentRange() const
{
    return {_range.location, _firstNonSpace - _range.location};
}

InlineRange InlineParser::lastPrefixRange() const
{
    if (_indent == InlineNotFound)
        return {_firstNonSpace, 0};
    return {_firstNonSpace, std::max<int64_t>(std::min(_indent, indexOf(_endLine)) - _firstNonSpace, 0)};
}

InlineRange InlineParser::lastIndentAndPrefixRange() const
{
    if (_indent == InlineNotFound)
        return {_range.location, 0};
    return {_range.location, std::max<int64_t>(std::min(_indent, indexOf(_endLine)) - _range.location, 0)};
}

double InlineParser::lastIndentWidth() const
{
    double width = _block == InlineBlockIndentedCode ? 4 * otherCharacterWidth : 0;
    if (_indent == InlineNotFound || _indent < 1)
        return width;
    // A heading's prefix may reach past the line's one unit; never read beyond the copy.
    const int64_t count = std::min(_indent, _range.end()) - _range.location;
    for (int64_t i = 0; i < count; ++i) {
        const char16_t c = _buffer[i];
        if (c == u'\t')
            width += tabWidth;
        else if (c == u' ')
            width += spaceWidth;
        else if (c < 0x20)
            width += otherCharacterWidth;
        else if (isDigit(c) || c == u'.' || c == u')')
            width += numberWidth;
        else if (c == u'[' || c == u']')
            width += squaredBracketWidth;
        else
            width += otherCharacterWidth;
    }
    if (_hasCheckboxMarkUncompleted)
        width += otherCharacterWidth - spaceWidth;
    return width;
}

bool InlineParser::isUnorderedListBullet(char16_t c)
{
    return uscan_is_bullet_char(c) != 0;
}

QString InlineParser::parseAutoIndent(const QString& text, InlineRange paragraphRange)
{
    if (_parsing)
        return {};
    int64_t marker = InlineNotFound;
    InlineRange digits{InlineNotFound, 0};
    parseBlock(text, paragraphRange, [&](const InlineRange& range, InlineElement element) {
        if (element == InlineElementUnorderedListBullet) {
            marker = range.location;
            digits = {InlineNotFound, 0};
        } else if (element == InlineElementOrderedListNumber) {
            marker = range.location;
            digits = range;
        } else if (element == InlineElementCheckboxMarkCompleted) {
            _buffer[range.location - _range.location] = u' ';  // a done box continues as an open one
        }
    });
    if (_block == InlineBlockHeading || _block == InlineBlockRule)
        return {};
    if (marker != InlineNotFound) {
        // Outer prefixes ("> ", "1. ") continue as indentation in front of the innermost marker.
        for (int64_t i = 0; i < marker - _range.location; ++i)
            if (!isWhite(_buffer[i]))
                _buffer[i] = u' ';
    }
    const InlineRange prefix = lastIndentAndPrefixRange();
    if (prefix.length == 0)
        return {};
    QString result = QString::fromUtf16(_buffer.data(), prefix.length);
    if (digits.location != InlineNotFound) {
        const qsizetype at = digits.location - _range.location;
        result.replace(at, digits.length, incremented(result.mid(at, digits.length)));
    }
    return result;
}

bool InlineParser::expandText(const QString& text, InlineRange* range, char16_t symbol)
{
    const int64_t size = text.size();
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    const InlineRange r = clamp(*range, size);
    const int64_t lineStart = paragraphAt(s, size, r.location).location;
    int64_t lineEnd = paragraphAt(s, size, std::max<int64_t>(r.end() - 1, r.location)).end();
    while (lineEnd > lineStart && isParagraphEnd(s[lineEnd - 1]))
        --lineEnd;
    auto boundary = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    int64_t start = r.location, end = std::min(r.end(), std::max(lineEnd, r.location));
    while (start < end && boundary(s[start]))
        ++start;
    while (end > start && boundary(s[end - 1]))
        --end;
    while (start > lineStart && !boundary(s[start - 1]))
        --start;
    while (end < lineEnd && !boundary(s[end]))
        ++end;
    if (symbol != 0) {
        while (start > lineStart && s[start - 1] == symbol)
            --start;
        while (end < lineEnd && s[end] == symbol)
            ++end;
    }
    *range = {start, end - start};
    return true;
}
