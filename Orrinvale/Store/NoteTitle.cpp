#include "Note.h"
#include "NoteSearchRow.h"
#include "TextScans.h"

#include "Markdown/InlineParser.h"
#include "Styling/MarkdownTextStorage.h"

#include "files/UnicodeRegex.h"

#include <algorithm>
#include <utility>

namespace {

// The title pass reads no further than this into the cleaned text.
constexpr qsizetype TitleScanLimit = 10000;
constexpr qsizetype LongTitle = 100;
constexpr qsizetype ShortTitle = 50;
constexpr qsizetype SummaryLength = 300;

const QRegularExpression& regex(int which)
{
    using namespace UnicodeRegex;
    static const QRegularExpression expressions[] = {
        expression(QStringLiteral("\\{\\-\\-.*\\-\\-\\}")),
        expression(QStringLiteral("\\{\\~\\~.*\\~\\>(.*)\\~\\~\\}")),
        expression(QStringLiteral("\\{\\>\\>.*\\<\\<\\}")),
        expression(QString::fromUtf8("\\s*\\n+\\s*(?!([\\-\\+\\*•‣⁃⁌⁍∙◦]|\\d+[\\.\\)]))"), AnchorsMatchLines),
    };
    return expressions[which];
}

enum { DeletionMark, SubstitutionMark, CommentMark, SummaryBreaks };

// Each run of blanks, tabs and returns becomes one blank: a loop, since
// nearly every word ends such a run. Every unit is written and the output
// moves on past those kept, with no call per unit.
QString collapsedBlanks(const QString& text)
{
    QString collapsed(text.size(), Qt::Uninitialized);
    QChar* const begin = collapsed.data();
    QChar* out = begin;
    bool inRun = false;
    for (const QChar c : text) {
        const bool blank = c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
        *out = blank ? QChar(u' ') : c;
        out += !(blank && inRun);
        inRun = blank;
    }
    collapsed.truncate(out - begin);
    return collapsed;
}

// Whether the element is dropped from the title text: markup, not words.
bool isMarkup(InlineElement element)
{
    switch (element) {
    case InlineElementIndent:
    case InlineElementRuleLine:
    case InlineElementHeadingOpenSymbol:
    case InlineElementHeadingCloseSymbol:
    case InlineElementQuoteSymbol:
    case InlineElementHTMLTag:
    case InlineElementEntity:
    case InlineElementStrikeSymbol:
    case InlineElementStrikeText:
    case InlineElementInlineLink:
    case InlineElementInlineImage:
    case InlineElementReferenceLink:
    case InlineElementReferenceImage:
    case InlineElementAsteriskSymbol:
    case InlineElementUnderscoreSymbol:
    case InlineElementCheckboxBracket:
    case InlineElementCheckboxMarkUncompleted:
    case InlineElementCheckboxMarkCompleted:
        return true;
    default:
        return false;
    }
}

// A cut at this index must not split a surrogate pair; it moves back one unit.
qsizetype characterBoundary(const QString& text, qsizetype cut)
{
    if (cut > 0 && cut < text.size() && text.at(cut).isLowSurrogate() && text.at(cut - 1).isHighSurrogate())
        return cut - 1;
    return cut;
}

QString withoutEditorialMarks(const QString& text)
{
    QString result = UnicodeRegex::replace(text, regex(DeletionMark), QString());
    result = UnicodeRegex::replace(result, regex(SubstitutionMark), QStringLiteral("$1"));
    return UnicodeRegex::replace(result, regex(CommentMark), QString());
}

// The cleaned text T, as much of it as the title pass can read: the marks
// never span a line, so lines are cleaned one at a time until a later line
// holds words, past the line that the scan limit falls in.
QString cleanedText(const QString& text)
{
    QString result;
    // Until a line needs cleaning, the result is the stretch of the text from
    // `from` to `to`, copied once at the end.
    qsizetype from = -1;
    qsizetype to = -1;
    const auto size = [&] { return from >= 0 ? to - from : result.size(); };
    bool pastLimit = false;
    const auto isText = [](QChar c) { return !c.isSpace(); };
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        end = end < 0 ? text.size() : end + 1;
        const QStringView raw = QStringView(text).mid(start, end - start);
        const qsizetype lineStart = std::exchange(start, end);
        // Every mark opens with a brace: a line without one is taken as it is.
        const bool marked = raw.contains(QLatin1Char('{'));
        const QString cleaned = marked ? withoutEditorialMarks(raw.toString()) : QString();
        const QStringView line = marked ? QStringView(cleaned) : raw;
        const auto firstText = std::find_if(line.begin(), line.end(), isText);
        const bool blank = firstText == line.end();
        if (pastLimit && !blank)
            return from >= 0 ? text.mid(from, to - from) : result;
        if (marked && from >= 0) {
            result = text.mid(from, to - from);
            from = -1;
        }
        if (from >= 0) {
            to = end;
        } else if (!result.isEmpty()) {
            result += line;
        } else if (!blank && !marked) {
            from = lineStart + (firstText - line.begin());
            to = end;
        } else if (!blank) {
            result = line.mid(firstText - line.begin()).toString();
        }
        pastLimit = size() > TitleScanLimit;
    }
    return from >= 0 ? QStringView(text).mid(from, to - from).trimmed().toString() : std::move(result).trimmed();
}

// The text up to just after the first letter, from `from` on, that follows
// more than SummaryLength letters and digits; the whole text if there is none.
// The line and summary breaks match blanks alone and look ahead no further
// than a run of digits, so replacing them in this much gives the start of what
// replacing them in the whole text gives, and the summary needs no more.
QString throughSummary(const QString& text, qsizetype from)
{
    qsizetype kept = 0;
    for (qsizetype i = std::max<qsizetype>(from, 0); i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isLetterOrNumber() && ++kept > SummaryLength && c.isLetter())
            return text.left(i + 1);
    }
    return text;
}

// Whether the title text read so far already holds the point where the
// summary ends, so the paragraphs after it cannot change the title or summary:
// past a line break that follows a letter or digit, more than SummaryLength
// of those and then a letter. Counting from a later break than the one the
// header takes only puts that point later, so the answer is never early. Fed
// the text as it grows; what was counted is never taken back.
class SummaryEnd {
public:
    bool reachedIn(const QString& body)
    {
        for (; scanned_ < body.size() && !reached_; ++scanned_) {
            const QChar c = body.at(scanned_);
            if (!afterBreak_) {
                afterBreak_ = textSeen_ && c == QLatin1Char('\n');
                textSeen_ = textSeen_ || c.isLetterOrNumber();
            } else if (c.isLetterOrNumber() && ++counted_ > SummaryLength && c.isLetter()) {
                reached_ = true;
            }
        }
        return reached_;
    }

private:
    qsizetype scanned_ = 0;
    qsizetype counted_ = 0;
    bool textSeen_ = false;
    bool afterBreak_ = false;
    bool reached_ = false;
};

struct Header {
    QString title;
    QString summary;
};

Header headerOf(const QString& text)
{
    const QString t = cleanedText(text);
    const qsizetype limit = std::min(t.size(), TitleScanLimit);

    QString body;
    body.reserve(limit);
    QString tail;
    qsizetype p = 0;
    InlineParser parser;
    SummaryEnd summaryEnd;
    parser.enumerateParagraph(t, {0, limit}, [&](const InlineRange& paragraph, bool* stop) {
        const qsizetype lineStart = body.size();
        InlineElement checkbox = InlineElement(0);
        parser.parseBlockAndInline(t, paragraph, [&](const InlineRange& r, InlineElement element) {
            if (r.location > p) {
                body += QStringView(t).mid(p, r.location - p);
                p = r.location;
            }
            if (isMarkup(element)) {
                p = std::max<qsizetype>(p, r.end());
                if (element == InlineElementCheckboxMarkUncompleted || element == InlineElementCheckboxMarkCompleted)
                    checkbox = element;
            }
        });
        const qsizetype e = parser.lastParagraphRange().end();
        if (e > p) {
            body += QStringView(t).mid(p, e - p);
            p = e;
        }
        if (parser.lastIndentAndPrefixRange().length == parser.lastParagraphRange().length) {
            body.truncate(lineStart);
        } else if (checkbox == InlineElementCheckboxMarkCompleted) {
            // Completed to-do items go to the end, each marked with "~".
            if (!tail.endsWith(QLatin1Char('\n')))
                tail += QLatin1Char('\n');
            tail += QStringView(body).mid(lineStart);
            tail += QLatin1Char('~');
            body.truncate(lineStart);
        }
        // The rest, and the completed items after it, would be cut off.
        *stop = summaryEnd.reachedIn(body);
    });
    if (!summaryEnd.reachedIn(body)) {
        if (p < limit)
            body += QStringView(t).mid(p, limit - p);
        body += tail;
    }

    for (const char16_t quote : {u'\u201C', u'\u201D', u'"'})
        body.replace(QChar(quote), QLatin1Char(' '));
    // Every mark holds a brace: one look for those spares four searches.
    if (body.contains(QLatin1Char('{')) || body.contains(QLatin1Char('}'))) {
        for (const char* mark : {"{++", "++}", "{==", "==}"})
            body.remove(QLatin1String(mark));
    }
    body = body.trimmed();
    // The title ends on the first line; the summary follows it.
    const qsizetype firstBreak = body.indexOf(QLatin1Char('\n'));
    if (firstBreak >= 0)
        body = throughSummary(body, firstBreak);
    const QString s = collapsedBlanks(TextScans::joinedLineBreaks(body));

    qsizetype n = s.indexOf(QLatin1Char('\n'));
    if (n < 0)
        n = s.size();
    const qsizetype tilde = s.indexOf(QLatin1Char('~'));
    qsizetype c;
    if (tilde >= 0 && tilde < n) {
        c = tilde;
    } else {
        const qsizetype end = TextScans::sentenceEnd(QStringView(s).left(n));
        c = end >= 0 ? end : n;
    }
    if (c >= LongTitle) {
        const qsizetype space = s.left(ShortTitle).lastIndexOf(QLatin1Char(' '));
        c = space >= 0 ? space : ShortTitle;
    }

    QString title;
    QString summary;
    if (c + 1 < s.size()) {
        const qsizetype cut = characterBoundary(s, c + 1);
        title = s.left(cut).trimmed();
        summary = UnicodeRegex::replace(throughSummary(s, cut).mid(cut), regex(SummaryBreaks), QStringLiteral(" "));
        if (summary.size() > SummaryLength)
            summary.truncate(characterBoundary(summary, SummaryLength));
        summary = summary.trimmed();
    } else {
        title = s;
        summary = QStringLiteral("");
    }
    return {title, summary};
}

} // namespace

struct Note::Parsed {
    QString text;
    int storage = 0;
    Header header;
    TagLinks tags;
    QString content;
};

void Note::parseAhead()
{
    const Fields f = fields();
    auto parsed = std::make_shared<Parsed>();
    parsed->text = f.text;
    parsed->storage = f.storage;
    parsed->header = headerOf(f.text);
    parsed->tags = tagLinksOf(f.text, f.storage);
    parsed->content = NoteSearchRow::cleanedContent(f.text);
    std::lock_guard lock(mutex_);
    parsed_ = std::move(parsed);
}

std::shared_ptr<const Note::Parsed> Note::parsedAhead(const QString& text, int storage) const
{
    std::lock_guard lock(mutex_);
    return parsed_ && parsed_->storage == storage && parsed_->text == text ? parsed_ : nullptr;
}

bool Note::_reloadHeader(Error*)
{
    const Fields f = fields();
    const std::shared_ptr<const Parsed> ahead = parsedAhead(f.text, f.storage);
    const Header header = ahead ? ahead->header : headerOf(f.text);
    std::lock_guard lock(mutex_);
    fields_.title = header.title;
    fields_.summary = header.summary;
    return true;
}

Note::TagLinks Note::tagLinks() const
{
    const Fields f = fields();
    const std::shared_ptr<const Parsed> ahead = parsedAhead(f.text, f.storage);
    return ahead ? ahead->tags : tagLinksOf(f.text, f.storage);
}

Note::TagLinks Note::tagLinksOf(const QString& text, int storage)
{
    TagLinks tags;
    fillHashtags(&tags.hashtags, &tags.mentions, text, true);
    if (storage == NoteStorageInbox) {
        tags.linkedHashtags = tags.hashtags;
        tags.linkedMentions = tags.mentions;
    } else {
        // Archived notes appear only under all-capital tags.
        fillHashtags(&tags.linkedHashtags, &tags.linkedMentions, text, false);
    }
    return tags;
}

NoteSearchRow Note::searchRow(const TagLinks& tags) const
{
    const Fields f = fields();
    const std::shared_ptr<const Parsed> ahead = parsedAhead(f.text, f.storage);
    if (!ahead)
        return NoteSearchRow(f.storage, f.key, f.title, f.text, tags.hashtags, tags.mentions);
    // The content was cleaned ahead: the row is made of no text.
    NoteSearchRow row(f.storage, f.key, f.title, QString(), tags.hashtags, tags.mentions);
    row.content = ahead->content;
    return row;
}

void Note::fillHashtags(QStringList* hashtags, QStringList* mentions, const QString& text, bool weak)
{
    // Per kind, the lower-case forms met in the text, weak or strong, up to
    // the limit, and those taken: strong tags come only from the forms the
    // weak list holds, so the search row names every folder a note is under.
    // Sorted lists: a note has a few tags, and a hash set would be made for
    // each note.
    struct Seen {
        QStringList met;
        QStringList taken;
    };
    // False when the form was there already.
    const auto insert = [](QStringList& forms, const QString& form) {
        const auto at = std::lower_bound(forms.begin(), forms.end(), form);
        if (at != forms.end() && *at == form)
            return false;
        forms.insert(at, form);
        return true;
    };
    Seen seenHashtags;
    Seen seenMentions;
    InlineParser parser;
    // Every tag opens with one of these, and nothing carries from one line to
    // the next: only the lines that hold one are parsed.
    const auto isTagSymbol = [](QChar c) { return c == QLatin1Char('#') || c == QLatin1Char('@'); };
    for (qsizetype from = 0;;) {
        const auto symbol = std::find_if(text.begin() + from, text.end(), isTagSymbol);
        if (symbol == text.end())
            return;
        const InlineRange paragraph = InlineParser::paragraphRange(text, symbol - text.begin());
        from = paragraph.end();
        parser.parseBlockAndInline(text, paragraph, [&](const InlineRange& r, InlineElement element) {
            if (element != InlineElementHashtag && element != InlineElementMention)
                return;
            const bool hashtag = element == InlineElementHashtag;
            Seen& seen = hashtag ? seenHashtags : seenMentions;
            const QString tag = text.mid(r.location + 1, r.length - 1);
            const QString lower = tag.toLower();
            if (seen.met.size() == MaximumTagsPerKind && !std::binary_search(seen.met.cbegin(), seen.met.cend(), lower))
                return;
            insert(seen.met, lower);
            if ((!weak && !isStrongTag(tag)) || !insert(seen.taken, lower))
                return;
            (hashtag ? hashtags : mentions)->append(tag);
        });
    }
}

bool Note::isStrongTag(const QString& tag)
{
    return MarkdownTextStorage::isStrongTag(tag);
}
