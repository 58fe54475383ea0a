#include "Markdown/Scanners.h"

#include <QChar>

#include <algorithm>
#include <limits>
#include <array>
#include <string_view>

using namespace MarkdownChar;

bool MarkdownChar::isPunct(char16_t c)
{
    return c < 0x80 ? isAsciiPunct(c) : QChar(c).isPunct();
}

bool MarkdownChar::isWhite(char16_t c)
{
    return c < 0x80 ? (c == u' ' || (c >= 0x09 && c <= 0x0D)) : QChar(c).isSpace();
}

namespace {

bool isEol(char16_t c) { return c == 0 || c == u'\n'; }
bool isTagSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// Schemes an autolink may use, sorted so that a lookup is a binary search.
constexpr std::array<std::string_view, 165> kSchemes = {
    "aaa", "aaas", "about", "acap", "adiumxtra", "afp", "afs", "aim", "apt", "attachment", "aw", "beshare",
    "bitcoin", "bolo", "brindlewick", "callto", "cap", "chrome", "chrome-extension", "cid", "coap",
    "com-eventbrite-attendee", "content", "crid", "cvs", "data", "dav", "dict", "dlna-playcontainer",
    "dlna-playsingle", "dns", "doi", "dtn", "dvb", "ed2k", "facetime", "feed", "file", "finger", "fish", "ftp",
    "geo", "gg", "git", "gizmoproject", "go", "gopher", "gtalk", "h323", "hcp", "http", "https", "iax", "icap",
    "icon", "im", "imap", "info", "ipn", "ipp", "irc", "irc6", "ircs", "iris", "iris.beep", "iris.lwz",
    "iris.xpc", "iris.xpcs", "itms", "jar", "javascript", "jms", "keyparc", "lastfm", "ldap", "ldaps", "magnet",
    "mailto", "maps", "market", "message", "mid", "mms", "ms-help", "msnim", "msrp", "msrps", "mtqp", "mumble",
    "mupdate", "mvn", "news", "nfs", "ni", "nih", "nntp", "notes", "oid", "opaquelocktoken", "palm", "paparazzi",
    "platform", "pop", "pres", "proxy", "psyc", "query", "res", "resource", "rmi", "rsync", "rtmp", "rtsp",
    "secondlife", "service", "session", "sftp", "sgn", "shttp", "sieve", "sip", "sips", "skype", "smb", "sms",
    "snmp", "soap.beep", "soap.beeps", "soldat", "spotify", "ssh", "steam", "svn", "tag", "teamspeak", "tel",
    "telnet", "tftp", "things", "thismessage", "tip", "tn3270", "tv", "udp", "unreal", "urn", "ut2004", "vemmi",
    "ventrilo", "view-source", "webcal", "ws", "wss", "wtai", "wyciwyg", "xcon", "xcon-userid", "xfire",
    "xmlrpc.beep", "xmlrpc.beeps", "xmpp", "xri", "ymsgr", "z39.50r", "z39.50s",
};
static_assert(std::is_sorted(kSchemes.begin(), kSchemes.end()));
constexpr size_t kLongestScheme = 23;
static_assert(std::all_of(kSchemes.begin(), kSchemes.end(), [](std::string_view s) { return s.size() <= kLongestScheme; }));

bool isSchemeNameChar(char16_t c) { return isAlnum(c) || c == u'.' || c == u'-'; }

// A domain label of 1 to 63 alphanumerics and hyphens, neither end a hyphen; the length of the maximal
// [alnum-] run is returned through `run` so callers can tell a label that was cut short.
int64_t domainLabel(const char16_t* p, int64_t* run)
{
    int64_t n = 0;
    while (isAlnum(p[n]) || p[n] == u'-')
        ++n;
    *run = n;
    if (n == 0 || p[0] == u'-')
        return 0;
    int64_t len = std::min<int64_t>(n, 63);
    while (len > 0 && p[len - 1] == u'-')
        --len;
    return len;
}

// Text that runs up to `close`, where a backslash may escape an ASCII punctuation unit or stand for
// itself. Every reading is followed at once (two states: after an ordinary unit, after a backslash that
// may still escape), so the longest match is found in one pass.
int64_t escapedUntil(const char16_t* p, char16_t close, bool stopAtAngleOrNewline)
{
    enum : unsigned { Plain = 1, Escaping = 2 };
    unsigned states = Plain;
    int64_t best = 0;
    for (int64_t i = 0; states != 0; ++i) {
        const char16_t c = p[i];
        if (c == 0)
            break;
        unsigned next = 0;
        const bool stops = c == close || (stopAtAngleOrNewline && (c == u'<' || c == u'\n'));
        if ((states & Plain) && c == close)
            best = i + 1;
        if ((states & Plain) && !stops)
            next |= c == u'\\' ? Plain | Escaping : Plain;
        if ((states & Escaping) && isAsciiPunct(c))
            next |= Plain;
        states = next;
    }
    return best;
}

// The first `c` at or after `p`, or null when none comes before the end. With a memo, a stretch already
// read is not read again, whichever order the starts come in.
const char16_t* nextUnit(const char16_t* p, char16_t c, ScanMemo::Next* memo)
{
    if (memo && memo->from && p >= memo->from && (!memo->at || p <= memo->at))
        return memo->at;
    const char16_t* q = p;
    for (; *q && *q != c; ++q) {
        if (memo && q == memo->from) {
            memo->from = p;
            return memo->at;
        }
    }
    const char16_t* at = *q ? q : nullptr;
    if (memo)
        *memo = {p, at};
    return at;
}

int64_t openingTag(const char16_t* p)
{
    // An automaton over sets of states: an unquoted value may hold blanks, so where it ends is only known
    // later, and every reading is followed at once.
    enum : unsigned {
        Name = 1,
        Spaces = 2,       // tag spaces after an element: an attribute, "/" or ">" may follow
        AttrName = 4,
        BeforeEq = 8,     // tag spaces after an attribute name, before "="
        AfterEq = 16,
        Unquoted = 32,
        Single = 64,
        Double = 128,
        AfterValue = 256,  // right after a quoted value
        Slash = 512,
    };
    if (!isLetter(p[0]))
        return 0;
    unsigned states = Name;
    int64_t best = 0;
    for (int64_t i = 1; states != 0; ++i) {
        const char16_t c = p[i];
        if (c == 0)
            break;
        unsigned next = 0;
        const bool space = isTagSpace(c);
        const bool unquotedChar = c != u'"' && c != u'\'' && c != u'=' && c != u'<' && c != u'>' && c != u'`';
        if (states & (Name | AttrName | Unquoted | AfterValue | Spaces)) {
            if (space)
                next |= Spaces;
            else if (c == u'/')
                next |= Slash;
            else if (c == u'>')
                best = i + 1;
        }
        if ((states & Name) && isAlnum(c))
            next |= Name;
        if ((states & Spaces) && (isLetter(c) || c == u'_' || c == u':'))
            next |= AttrName;
        if (states & AttrName) {
            if (isAlnum(c) || c == u':' || c == u'.' || c == u'_' || c == u'-')
                next |= AttrName;
            else if (space)
                next |= BeforeEq;
            else if (c == u'=')
                next |= AfterEq;
        }
        if (states & BeforeEq) {
            if (space)
                next |= BeforeEq;
            else if (c == u'=')
                next |= AfterEq;
        }
        if (states & AfterEq) {
            if (space)
                next |= AfterEq;
            else if (c == u'\'')
                next |= Single;
            else if (c == u'"')
                next |= Double;
            else if (unquotedChar)
                next |= Unquoted;
        }
        if ((states & Unquoted) && unquotedChar)
            next |= Unquoted;
        if (states & Single)
            next |= c == u'\'' ? AfterValue : Single;
        if (states & Double)
            next |= c == u'"' ? AfterValue : Double;
        if ((states & Slash) && c == u'>')
            best = i + 1;
        states = next;
    }
    return best;
}

int64_t closingTag(const char16_t* p)
{
    if (p[0] != u'/' || !isLetter(p[1]))
        return 0;
    int64_t i = 2;
    while (isAlnum(p[i]))
        ++i;
    while (isTagSpace(p[i]))
        ++i;
    return p[i] == u'>' ? i + 1 : 0;
}

int64_t partialTag(const char16_t* p)
{
    if (!isLetter(p[0]) && p[0] != u'/')
        return 0;
    int64_t i = 1;
    while (p[i] && p[i] != u'>' && p[i] != u'\n')
        ++i;
    return p[i] == u'>' ? i + 1 : i;
}

int64_t comment(const char16_t* p)
{
    if (p[0] != u'!' || p[1] != u'-' || p[2] != u'-')
        return 0;
    for (int64_t i = 3;; ++i) {
        if (p[i] == 0)
            return 0;
        if (p[i] == u'-' && p[i + 1] == u'-')
            return p[i + 2] == u'>' ? i + 3 : 0;
    }
}

// "?" ... "?>". A "?" pairs with the unit after it unless that unit is ">", so within a run of "?" the
// reading alternates; an end is a ">" after an odd run. Once a run started at or before `body` is known to
// reach the line's end, a later start shares its reading after the first unit that is not "?".
int64_t instruction(const char16_t* p, ScanMemo* memo)
{
    if (p[0] != u'?')
        return 0;
    const char16_t* body = p + 1;
    const bool knownToFail = memo && memo->instructionFailed && body >= memo->instructionFailed;
    bool afterQuestion = false;
    for (int64_t i = 1;; ++i) {
        const char16_t c = p[i];
        if (c == 0)
            break;
        if (afterQuestion && c == u'>')
            return i + 1;
        if (c == u'?') {
            afterQuestion = !afterQuestion;
            continue;
        }
        afterQuestion = false;
        if (knownToFail)
            return 0;
    }
    if (memo && !memo->instructionFailed)
        memo->instructionFailed = body;
    return 0;
}

int64_t declaration(const char16_t* p, ScanMemo* memo)
{
    if (p[0] != u'!' || !(p[1] >= u'A' && p[1] <= u'Z'))
        return 0;
    int64_t i = 2;
    while (p[i] >= u'A' && p[i] <= u'Z')
        ++i;
    if (!isTagSpace(p[i]))
        return 0;
    while (isTagSpace(p[i]))
        ++i;
    const char16_t* end = nextUnit(p + i, u'>', memo ? &memo->closeAngle : nullptr);
    return end ? end - p + 1 : 0;
}

// "![CDATA[" ... "]]>". Within a run of "]" the reading cycles through three states; an end is a ">"
// after the second of them. Shares the memo rule of `instruction`.
int64_t characterData(const char16_t* p, ScanMemo* memo)
{
    static constexpr char16_t kOpen[] = u"![CDATA[";
    for (int i = 0; i < 8; ++i)
        if (p[i] != kOpen[i])
            return 0;
    const char16_t* body = p + 8;
    const bool knownToFail = memo && memo->characterDataFailed && body >= memo->characterDataFailed;
    int brackets = 0;  // 0, 1 or 2 "]" pending
    for (int64_t i = 8;; ++i) {
        const char16_t c = p[i];
        if (c == 0)
            break;
        if (c == u']') {
            brackets = (brackets + 1) % 3;
            continue;
        }
        if (brackets == 2 && c == u'>')
            return i + 1;
        brackets = 0;
        if (knownToFail)
            return 0;
    }
    if (memo && !memo->characterDataFailed)
        memo->characterDataFailed = body;
    return 0;
}

}  // namespace

int64_t uscan_is_bullet_char(char16_t c)
{
    switch (c) {
    case u'*': case u'+': case u'-': case 0x2022: case 0x2023: case 0x2043: case 0x204C: case 0x204D:
    case 0x2219: case 0x25E6:
        return 1;
    default:
        return 0;
    }
}

int64_t uscan_is_eol(char16_t c) { return isEol(c) ? 1 : 0; }
int64_t uscan_is_space(char16_t c) { return isBlank(c) ? 1 : 0; }
int64_t uscan_is_digit(char16_t c) { return isDigit(c) ? 1 : 0; }

int64_t uscan_rule_line(const char16_t* p, ScanMemo* memo)
{
    const char16_t m = p[0];
    if (m != u'*' && m != u'-' && m != u'=' && m != u'_')
        return 0;
    // Every marker of a failed rule up to where it stopped fails at that same unit: a line of nested
    // bullets is read once, not once per bullet.
    if (memo && m == memo->ruleMarker && p >= memo->ruleFrom && p < memo->ruleStop)
        return 0;
    int64_t i = 1;
    while (isBlank(p[i]))
        ++i;
    if (p[i] == m) {
        ++i;
        while (p[i] == m || isBlank(p[i]))
            ++i;
        if (isEol(p[i]))
            return i + 1;
    }
    if (memo) {
        memo->ruleMarker = m;
        memo->ruleFrom = p;
        memo->ruleStop = p + i;
    }
    return 0;
}

int64_t uscan_atx_open(const char16_t* p, int16_t* level)
{
    int64_t n = 0;
    while (n < 7 && p[n] == u'#')
        ++n;
    if (n == 0 || n > 6)
        return 0;
    if (isEol(p[n])) {
        *level = int16_t(n);
        return n + 1;
    }
    if (!isBlank(p[n]))
        return 0;
    *level = int16_t(n);
    int64_t i = n;
    while (isBlank(p[i]))
        ++i;
    return i;
}

int64_t uscan_atx_close(const char16_t* p, const char16_t** closeStart, int64_t* closeLength)
{
    *closeStart = nullptr;
    *closeLength = 0;
    if (isEol(p[0]))
        return 0;
    int64_t blankStart = isBlank(p[0]) ? 0 : -1;
    int64_t runStart = -1, runBlankStart = -1;
    bool inRun = false;  // the unit before was part of the candidate run
    int64_t i = 1;
    for (; !isEol(p[i]); ++i) {
        const char16_t c = p[i];
        if (isBlank(c)) {
            if (blankStart < 0)
                blankStart = i;
            inRun = false;
        } else if (c == u'#' && isBlank(p[i - 1])) {
            runStart = i;
            runBlankStart = blankStart;
            blankStart = -1;
            inRun = true;
        } else if (c == u'#' && inRun) {
            // still the same run
        } else {
            runStart = -1;
            blankStart = -1;
            inRun = false;
        }
    }
    if (runStart >= 0) {
        int64_t end = runStart;
        while (p[end] == u'#')
            ++end;
        *closeStart = p + runStart;
        *closeLength = end - runStart;
        return runBlankStart;
    }
    return blankStart >= 0 ? blankStart : i;
}

int64_t uscan_spaces(const char16_t* p)
{
    int64_t n = 0;
    while (isBlank(p[n]))
        ++n;
    return n;
}

int64_t uscan_word(const char16_t* p)
{
    int64_t n = 0;
    while (!isEol(p[n]) && !isBlank(p[n]))
        ++n;
    return n;
}

int64_t uscan_checkbox(const char16_t* p)
{
    if (p[0] != u'[')
        return 0;
    if (isEol(p[1]))
        return 1;
    if (p[1] != u' ' && p[1] != u'x' && p[1] != u'X')
        return 0;
    if (isEol(p[2]))
        return 2;
    if (p[2] != u']')
        return 0;
    return isBlank(p[3]) ? 4 : 3;
}

int64_t uscan_bullet_item(const char16_t* p)
{
    if (!uscan_is_bullet_char(p[0]))
        return 0;
    const char16_t c = p[1];
    if (c == 0 || c == u'\t' || c == u'\n' || c == u' ')
        return 2;
    return uscan_checkbox(p + 1) ? 1 : 0;
}

int64_t uscan_ordered_item(const char16_t* p, int64_t* number)
{
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t n = 0, value = 0;
    while (isDigit(p[n])) {
        const int d = p[n] - u'0';
        value = value > (kMax - d) / 10 ? kMax : value * 10 + d;  // saturates rather than wraps
        ++n;
    }
    if (n == 0 || (p[n] != u')' && p[n] != u'.'))
        return 0;
    int64_t length;
    if (isBlank(p[n + 1]))
        length = n + 1;
    else if (uscan_checkbox(p + n + 1))
        length = n;
    else
        return 0;
    *number = value;
    return length;
}

int64_t uscan_entity(const char16_t* p)
{
    if (p[0] != u'&')
        return 0;
    int64_t i;
    if (p[1] == u'#') {
        const bool hex = p[2] == u'x' || p[2] == u'X';
        i = hex ? 3 : 2;
        const int64_t first = i;
        while (i - first < 9 && (hex ? (isDigit(p[i]) || (p[i] >= u'a' && p[i] <= u'f') || (p[i] >= u'A' && p[i] <= u'F'))
                                     : isDigit(p[i])))
            ++i;
        if (i == first || i - first > 8)
            return 0;
    } else {
        if (!isLetter(p[1]))
            return 0;
        i = 2;
        while (i < 34 && isAlnum(p[i]))
            ++i;
        if (i < 3 || i > 33)
            return 0;
    }
    return p[i] == u';' ? i + 1 : 0;
}

int64_t uscan_autolink_uri(const char16_t* p)
{
    char name[kLongestScheme];
    size_t n = 0;
    while (isSchemeNameChar(p[n])) {
        if (n == kLongestScheme)
            return 0;
        const char16_t c = p[n];
        name[n] = char(c >= u'A' && c <= u'Z' ? c + 32 : c);
        ++n;
    }
    if (n == 0 || p[n] != u':' || !std::binary_search(kSchemes.begin(), kSchemes.end(), std::string_view(name, n)))
        return 0;
    for (int64_t i = int64_t(n) + 1;; ++i) {
        const char16_t c = p[i];
        if (c == u'>')
            return i + 1;
        if (c == u'\\') {
            if (!isAsciiPunct(p[i + 1]))
                return 0;
            ++i;
            continue;
        }
        if (c <= 0x20 || c == u'<')
            return 0;
    }
}

int64_t uscan_autolink_email(const char16_t* p)
{
    static constexpr std::u16string_view kLocalExtra = u"`!#$%&'*+-./=?^_{|}~";
    int64_t i = 0;
    while (isAlnum(p[i]) || (p[i] && kLocalExtra.find(p[i]) != std::u16string_view::npos))
        ++i;
    if (i == 0 || p[i] != u'@')
        return 0;
    ++i;
    for (;;) {
        int64_t run;
        const int64_t label = domainLabel(p + i, &run);
        if (label == 0 || label != run)
            return 0;
        i += label;
        if (p[i] == u'>')
            return i + 1;
        if (p[i] != u'.')
            return 0;
        ++i;
    }
}

int64_t uscan_html_tag(const char16_t* p, ScanMemo* memo)
{
    switch (p[0]) {
    case u'!':
        if (p[1] == u'-')
            return comment(p);
        if (p[1] == u'[')
            return characterData(p, memo);
        return declaration(p, memo);
    case u'?':
        return instruction(p, memo);
    case u'/':
        return std::max(closingTag(p), partialTag(p));
    default:
        return isLetter(p[0]) ? std::max(openingTag(p), partialTag(p)) : 0;
    }
}

int64_t uscan_backtick_run(const char16_t* p)
{
    int64_t n = 0;
    while (p[n] == u'`')
        ++n;
    return n;
}

int64_t uscan_tilde_run(const char16_t* p)
{
    int64_t n = 0;
    while (p[n] == u'~')
        ++n;
    return n;
}

static int32_t markerRun(const char16_t* p, char16_t m)
{
    int32_t n = 0;
    while (n < 3 && p[n] == m)
        ++n;
    return n;
}

int32_t uscan_asterisk_run(const char16_t* p) { return markerRun(p, u'*'); }
int32_t uscan_underscore_run(const char16_t* p) { return markerRun(p, u'_'); }

static bool isTagChar(char16_t c)
{
    if (c == 0 || c == u'\t' || c == u'\n' || c == u'\r' || c == u' ')
        return false;
    return !isAsciiPunct(c) || c == u'!' || c == u'=' || c == u'~';
}

int64_t uscan_tag_chars(const char16_t* p)
{
    int64_t n = 0;
    while (isTagChar(p[n]))
        ++n;
    return n;
}

int64_t uscan_tag_digits(const char16_t* p)
{
    int64_t n = 0;
    while (isDigit(p[n]) || p[n] == u'-' || p[n] == u'!')
        ++n;
    return n;
}

int64_t uscan_tag_word(const char16_t* p)
{
    const int64_t n = uscan_tag_chars(p);
    if (n == 0)
        return 0;
    return uscan_tag_digits(p) == n ? 0 : n;
}

int64_t uscan_hashtag(const char16_t* p)
{
    if (p[0] != u'#')
        return 0;
    const int64_t n = uscan_tag_word(p + 1);
    return n ? n + 1 : 0;
}

int64_t uscan_mention(const char16_t* p)
{
    if (p[0] != u'@')
        return 0;
    const int64_t n = uscan_tag_word(p + 1);
    return n ? n + 1 : 0;
}

int64_t uscan_is_email_local_char(char16_t c)
{
    return isAlnum(c) || c == u'+' || c == u'-' || c == u'.' || c == u'_' || c == u'~' ? 1 : 0;
}

int64_t uscan_is_scheme_char(char16_t c)
{
    return isAlnum(c) || c == u'+' || c == u'-' || c == u'.' || c == u'~' ? 1 : 0;
}

static int64_t countBack(const char16_t* p, const char16_t* textStart, int64_t (*member)(char16_t))
{
    int64_t n = 0;
    while (p - n > textStart && member(p[-n - 1]))
        ++n;
    return n;
}

int64_t uscan_email_local_back(const char16_t* p, const char16_t* textStart)
{
    return countBack(p, textStart, uscan_is_email_local_char);
}

int64_t uscan_scheme_back(const char16_t* p, const char16_t* textStart)
{
    return countBack(p, textStart, uscan_is_scheme_char);
}

int64_t uscan_bare_email(const char16_t* p, const char16_t* textStart, int64_t* localLength)
{
    if (p[0] != u'@')
        return 0;
    int64_t i = 1, labels = 0, end = 0;
    for (;;) {
        int64_t run;
        const int64_t label = domainLabel(p + i, &run);
        if (label == 0)
            break;
        ++labels;
        end = i + label;
        if (label != run || p[end] != u'.')
            break;
        i = end + 1;
    }
    if (labels < 2)
        return 0;
    const int64_t local = uscan_email_local_back(p, textStart);
    if (local == 0)
        return 0;
    *localLength = local;
    return end;
}

static bool isUrlTrailing(char16_t c)
{
    return c == u'!' || c == u',' || c == u'.' || c == u':' || c == u';' || c == u'?';
}

static bool isUrlSolid(char16_t c)
{
    switch (c) {
    case u'#': case u'%': case u'&': case u'+': case u'-': case u'/': case u'=': case u'@': case u'_': case u'|':
    case u'~':
        return true;
    default:
        return isAlnum(c);
    }
}

int64_t uscan_bare_url(const char16_t* p, const char16_t* textStart, int64_t* schemeLength)
{
    if (p[0] != u':' || p[1] != u'/' || p[2] != u'/')
        return 0;
    // The scheme is counted first: a line of "://" without one must not be read forward at every colon.
    const int64_t scheme = uscan_scheme_back(p, textStart);
    if (scheme == 0)
        return 0;
    int64_t i = 3, end = 0;
    while (isUrlSolid(p[i]) || isUrlTrailing(p[i])) {
        if (i > 3 && isUrlSolid(p[i]))
            end = i + 1;
        ++i;
    }
    if (end == 0)
        return 0;
    *schemeLength = scheme;
    return end;
}

static bool isRawDestinationUnit(char16_t c)
{
    return c > 0x20 && c != u'\\' && c != u'(' && c != u')';
}

int64_t uscan_link_destination(const char16_t* p)
{
    const int64_t angle = p[0] == u'<' ? escapedUntil(p + 1, u'>', true) : 0;
    int64_t i = 0;
    for (;;) {
        if (isRawDestinationUnit(p[i])) {
            ++i;
        } else if (p[i] == u'(') {
            int64_t j = i + 1;
            while (isRawDestinationUnit(p[j]))
                ++j;
            if (p[j] != u')')
                break;
            i = j + 1;
        } else {
            break;
        }
    }
    return std::max(angle ? angle + 1 : 0, i);
}

int64_t uscan_link_title(const char16_t* p, ScanMemo* memo)
{
    switch (p[0]) {
    case u'"': {
        // The escaped reading only runs on past a closer, so without one there is no title.
        if (!nextUnit(p + 1, u'"', memo ? &memo->doubleQuote : nullptr))
            return 0;
        const int64_t n = escapedUntil(p + 1, u'"', false);
        return n ? n + 1 : 0;
    }
    case u'\'':
    case u'(': {
        const bool paren = p[0] == u'(';
        ScanMemo::Next* next = memo ? (paren ? &memo->closeParen : &memo->singleQuote) : nullptr;
        const char16_t* end = nextUnit(p + 1, paren ? u')' : u'\'', next);
        return end ? end - p + 1 : 0;
    }
    default:
        return 0;
    }
}

int64_t uscan_link_label(const char16_t* p)
{
    if (p[0] != u'[')
        return 0;
    for (int64_t i = 1;; ++i) {
        const char16_t c = p[i];
        if (c == 0 || c == u'[')
            return 0;
        if (c == u']')
            return i + 1;
        if (c == u'\\' && p[i + 1] && isPunct(p[i + 1]))
            ++i;
    }
}
