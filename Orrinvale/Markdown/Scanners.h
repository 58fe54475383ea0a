#pragma once

#include <cstdint>

// The scanners of the Markdown reader. Each reads NUL-terminated UTF-16 text from the position given and
// returns the length of the longest match in UTF-16 units, 0 for none. None keeps state or writes to the
// text, and none reads past the terminating NUL (the backward ones never read before `textStart`).
// Out-parameters are written only on a match.

// Remembers, for the scan of one line, how far earlier scans were seen to run, so that a line full of
// unclosed openers, or of nested markers, is scanned once, not once per opener. Results are the same with
// or without it; a memo must only be shared by scans over one unchanging stretch of text, and those of
// "<?" and CDATA only in order from position to position.
struct ScanMemo {
    // The first closer at or after `from` stands at `at` (null: none before the end).
    struct Next {
        const char16_t* from = nullptr;
        const char16_t* at = nullptr;
    };
    const char16_t* instructionFailed = nullptr;  // body start of a "<?" that found no end
    const char16_t* characterDataFailed = nullptr;
    Next closeAngle;   // ">" of a declaration
    Next doubleQuote;  // closers of link titles
    Next singleQuote;
    Next closeParen;
    // A rule of `ruleMarker` that failed: from `ruleFrom` up to `ruleStop` there are only that marker and
    // blanks, and the unit at `ruleStop` can neither continue nor end a rule.
    char16_t ruleMarker = 0;
    const char16_t* ruleFrom = nullptr;
    const char16_t* ruleStop = nullptr;
};

// Block prefixes.
int64_t uscan_rule_line(const char16_t* p, ScanMemo* memo = nullptr);
int64_t uscan_atx_open(const char16_t* p, int16_t* level);
int64_t uscan_atx_close(const char16_t* p, const char16_t** closeStart, int64_t* closeLength);
int64_t uscan_is_bullet_char(char16_t c);
int64_t uscan_is_eol(char16_t c);
int64_t uscan_is_space(char16_t c);
int64_t uscan_is_digit(char16_t c);
int64_t uscan_spaces(const char16_t* p);
int64_t uscan_word(const char16_t* p);
int64_t uscan_checkbox(const char16_t* p);
int64_t uscan_bullet_item(const char16_t* p);
int64_t uscan_ordered_item(const char16_t* p, int64_t* number);

// Raw HTML, entities and autolinks; the first three start at the unit after "<".
int64_t uscan_autolink_uri(const char16_t* p);
int64_t uscan_autolink_email(const char16_t* p);
int64_t uscan_html_tag(const char16_t* p, ScanMemo* memo = nullptr);
int64_t uscan_entity(const char16_t* p);

// Marker runs, tags, bare addresses and the parts of links.
int64_t uscan_backtick_run(const char16_t* p);
int64_t uscan_tilde_run(const char16_t* p);
int32_t uscan_asterisk_run(const char16_t* p);
int32_t uscan_underscore_run(const char16_t* p);
int64_t uscan_tag_chars(const char16_t* p);
int64_t uscan_tag_digits(const char16_t* p);
int64_t uscan_tag_word(const char16_t* p);
int64_t uscan_hashtag(const char16_t* p);
int64_t uscan_mention(const char16_t* p);
int64_t uscan_is_email_local_char(char16_t c);
int64_t uscan_email_local_back(const char16_t* p, const char16_t* textStart);
int64_t uscan_bare_email(const char16_t* p, const char16_t* textStart, int64_t* localLength);
int64_t uscan_is_scheme_char(char16_t c);
int64_t uscan_scheme_back(const char16_t* p, const char16_t* textStart);
int64_t uscan_bare_url(const char16_t* p, const char16_t* textStart, int64_t* schemeLength);
int64_t uscan_link_destination(const char16_t* p);
int64_t uscan_link_title(const char16_t* p, ScanMemo* memo = nullptr);
int64_t uscan_link_label(const char16_t* p);

// Character classes shared by the scanners and the parser.
namespace MarkdownChar {
inline bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }
inline bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool isLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
inline bool isAlnum(char16_t c) { return isLetter(c) || isDigit(c); }
inline bool isAsciiPunct(char16_t c)
{
    return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}
// ASCII punctuation for ASCII, the platform's punctuation categories above it.
bool isPunct(char16_t c);
// ASCII white space for ASCII, the platform's spaces and separators above it.
bool isWhite(char16_t c);
}  // namespace MarkdownChar
