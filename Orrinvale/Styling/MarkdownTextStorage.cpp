#include "Styling/MarkdownTextStorage.h"

#include <QCoreApplication>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

const QString TodoLink = QStringLiteral("brindlewick://todo");
// Pieces of restyled lines written at a time: few changes for a whole note, little held in between.
constexpr size_t PendingPieces = 1024;

TextRange textRange(const InlineRange& range)
{
    return {qsizetype(range.location), qsizetype(range.length)};
}

// The smallest range that covers both.
TextRange spanning(TextRange a, TextRange b)
{
    const qsizetype from = std::min(a.location, b.location);
    return {from, std::max(a.end(), b.end()) - from};
}

bool covers(TextRange outer, TextRange inner)
{
    return outer.length > 0 && outer.location <= inner.location && outer.end() >= inner.end();
}

bool hasEmphasis(int64_t emphasis, int64_t flags)
{
    return (emphasis & flags) != 0;
}

} // namespace

MarkdownTextStorage::MarkdownTextStorage(const TextMetrics& metrics) : metrics_(metrics) {}

void MarkdownTextStorage::reloadAttributes()
{
    const auto size = [this](const char* character, const std::optional<Font>& font) {
        return font ? metrics_.sizeOfString(QString::fromLatin1(character), *font) : QSizeF();
    };
    const double x = size("x", symbolFont_).width();
    fixedSymbolFont_.reset();
    if (symbolFont_)
        fixedSymbolFont_ = symbolFont_->withFixedAdvance(double(float(x)));

    parser_.spaceWidth = size(" ", mainFont_).width();
    parser_.tabWidth = size("\t", mainFont_).width();
    parser_.numberWidth = size("1", codeFont_).width();
    parser_.squaredBracketWidth = size("[", mainFont_).width();
    parser_.otherCharacterWidth = x;

    double height = std::max(size("L", mainFont_).height(), 0.0);
    for (const std::optional<Font>* font : {&boldFont_, &italicFont_, &boldItalicFont_, &symbolFont_, &codeFont_})
        height = std::max(height, size("L", *font).height());
    const float lineHeight = float(std::max(lineHeightMultiple_ * double(0.8f), 1.0) * height);
    lineSpacing_ = double(std::ceil(lineHeight));

    // Equal minimum and maximum: every line has the same height whatever its fonts.
    defaultParagraphStyle_ = ParagraphStyle{0, 0, lineSpacing_, lineSpacing_, lineHeightMultiple_};
}

void MarkdownTextStorage::setFont(const std::optional<Font>& font, TextRange range)
{
    if (!font) {
        removeAttributes(TextAttributes::FontKey, range);
        return;
    }
    TextAttributes attributes;
    attributes.font = font;
    addAttributes(attributes, range);
}

void MarkdownTextStorage::setFontWithEmphasis(int64_t emphasis, TextRange range)
{
    setFont(fontWithEmphasis(emphasis), range);
}

void MarkdownTextStorage::setForegroundColor(const std::optional<Color>& color, TextRange range)
{
    if (!color) {
        removeAttributes(TextAttributes::ForegroundColorKey, range);
        return;
    }
    TextAttributes attributes;
    attributes.foregroundColor = color;
    addAttributes(attributes, range);
}

void MarkdownTextStorage::setLink(const QString& link, TextRange range)
{
    TextAttributes attributes;
    attributes.link = link;
    addAttributes(attributes, range);
}

void MarkdownTextStorage::setUnderlineStyle(int64_t style, TextRange range)
{
    TextAttributes attributes;
    attributes.underlineStyle = style;
    addAttributes(attributes, range);
}

std::optional<Font> MarkdownTextStorage::fontWithEmphasis(int64_t emphasis) const
{
    if (hasEmphasis(emphasis, InlineEmphasisCodeSpan))
        return codeFont_;
    const bool bold = hasEmphasis(emphasis, InlineEmphasisAsteriskBold | InlineEmphasisUnderscoreBold |
                                                InlineEmphasisHeading);
    const bool italic = hasEmphasis(emphasis, InlineEmphasisAsteriskItalic | InlineEmphasisUnderscoreItalic);
    if (bold && italic)
        return boldItalicFont_;
    if (bold)
        return boldFont_;
    if (italic)
        return italicFont_;
    return mainFont_;
}

Font MarkdownTextStorage::smallCapFontWithFont(const Font& font)
{
    return font.withPointSize(font.pointSize * double(0.9f));
}

bool MarkdownTextStorage::isStrongTag(const QString& tag)
{
    const QString upper = tag.toUpper();
    if (upper == tag.toLower())
        return false;
    return upper == tag;
}

void MarkdownTextStorage::processEditing()
{
    if (std::exchange(writingRestyle_, false))
        return;
    const TextRange edited = editedRange();
    carry(unstyled_, edited, changeInLength());
    carry(afterPause_, edited, changeInLength());
    // A change of characters may change how the lines beside it read; a pass over attributes alone
    // (a slice) styles only its own lines, so a long line before it is not styled again every slice.
    const bool characters = editedMask() & EditedCharacters;
    const qsizetype reach = characters ? 2 : 0;
    const qsizetype start = std::max<qsizetype>(edited.location - reach, 0);
    const qsizetype end = std::max(start, std::min(edited.end() + reach, length()));
    if (characters && edited.length < RestyledAfterPause && QCoreApplication::instance()) {
        const std::optional<TextRange> now = linesStyledNow({start, end - start});
        if (afterPause_.length > 0) {
            // Each change of characters puts the pause off.
            if (!pause_) {
                // The timer is the storage's own and stops with it.
                pause_ = std::make_unique<QTimer>();
                pause_->setSingleShot(true);
                pause_->setInterval(Pause);
                QObject::connect(pause_.get(), &QTimer::timeout, [this] { restyleAfterPause(); });
            }
            pause_->start();
        }
        if (now)
            styleLines(*now, characters);
        return;
    }
    styleLines(paragraphRange({start, end - start}), characters);
}

std::optional<TextRange> MarkdownTextStorage::linesStyledNow(TextRange changed)
{
    // Only the text near the change is read: a paragraph at either end that is cut off there is a long
    // one, and parsing it again on every key would take longer than a key may. A long paragraph waits
    // for the pause; the lines between the two ends are styled now.
    const qsizetype nearStart = std::max<qsizetype>(changed.location - RestyledAfterPause - 1, 0);
    const TextRange near{nearStart, std::min(changed.end() + RestyledAfterPause + 1, length()) - nearStart};
    const QString text = substring(near);
    const auto paragraphAt = [&](qsizetype index) {
        const TextRange paragraph = paragraphRangeForRange(text, {index - near.location, 0});
        return TextRange{near.location + paragraph.location, paragraph.length};
    };
    const TextRange first = paragraphAt(changed.location);
    const TextRange last = changed.end() > first.end() ? paragraphAt(changed.end() - 1) : first;
    // A paragraph cut off where the near text ends holds more units than that of it.
    const bool firstWaits = first.length > RestyledAfterPause;
    const bool lastWaits = last.length > RestyledAfterPause;
    // What a slice is to style anyway needs no pause.
    if ((firstWaits || lastWaits) && !covers(unstyled_, changed))
        afterPause_ = afterPause_.length > 0 ? spanning(afterPause_, changed) : changed;
    // The end of a long paragraph that was cut off is not needed: the other end is the same paragraph.
    const qsizetype from = firstWaits ? first.end() : first.location;
    const qsizetype to = std::max(from, lastWaits ? last.location : last.end());
    if (from == to && (firstWaits || lastWaits))
        return std::nullopt;
    return TextRange{from, to - from};
}

void MarkdownTextStorage::styleLines(TextRange lines, bool characters)
{
    const TextRange head = paragraphRange({lines.location, std::min(SliceLength, lines.length)});
    if (lines.length > StyledAtOnce && head.end() < lines.end() && QCoreApplication::instance()) {
        // The first slice now, the rest in slices. New text is plain until its turn: it would keep
        // whatever the text it replaced had. Restyled text keeps its old look until then.
        const TextRange rest{head.end(), lines.end() - head.end()};
        if (characters) {
            TextAttributes plain;
            plain.font = mainFont_;
            plain.foregroundColor = mainColor_;
            plain.paragraphStyle = defaultParagraphStyle_;
            setAttributes(plain, rest);
        }
        unstyled_ = unstyled_.length > 0 ? spanning(unstyled_, rest) : rest;
        lines = head;
    }
    // Only the lines are read: a long text is never taken whole on a keystroke.
    lines_ = substring(lines);
    linesStart_ = lines.location;
    parser_.enumerateParagraph(lines_, {0, lines_.size()},
                               [this](const InlineRange& line, bool*) { restyleLine(textRange(line)); });
    writePending();
    // The parser holds on to the lines it read last, which may share all of the text; letting go of
    // them lets the next edit change the text in place instead of copying all of it.
    parser_.parseBlock(QString(), {0, 0}, [](const InlineRange&, InlineElement) {});
    lines_.clear();

    // What waits no longer holds the lines just styled at either of its ends; what waits for its slice
    // needs no pause.
    for (TextRange* waiting : {&unstyled_, &afterPause_}) {
        if (lines.location <= waiting->location && lines.end() > waiting->location)
            *waiting = {lines.end(), std::max<qsizetype>(waiting->end() - lines.end(), 0)};
        else if (lines.end() >= waiting->end() && lines.location < waiting->end())
            waiting->length = lines.location - waiting->location;
        if (waiting->length <= 0)
            *waiting = {0, 0};
    }
    if (covers(unstyled_, afterPause_))
        afterPause_ = {0, 0};
    if (unstyled_.length > 0 && !std::exchange(sliceQueued_, true))
        // A posted call, not a block on the main queue: that queue runs what is added while it runs,
        // and the window would wait for all of the slices.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = std::weak_ptr(self_)] {
                if (const auto storage = self.lock())
                    (*storage)->styleNextSlice();
            },
            Qt::QueuedConnection);
}

void MarkdownTextStorage::carry(TextRange& waiting, TextRange edited, qsizetype changeInLength) const
{
    if (waiting.length == 0)
        return;
    const qsizetype oldEnd = edited.end() - changeInLength; // where the edit ended before it
    if (waiting.location >= oldEnd)
        waiting.location += changeInLength;
    else if (waiting.end() > edited.location)
        waiting = spanning({waiting.location, waiting.length + changeInLength}, edited);
    const qsizetype from = std::clamp<qsizetype>(waiting.location, 0, length());
    waiting = {from, std::clamp<qsizetype>(waiting.end(), from, length()) - from};
}

TextRange MarkdownTextStorage::unstyledRange() const
{
    if (afterPause_.length == 0)
        return unstyled_;
    return unstyled_.length > 0 ? spanning(unstyled_, afterPause_) : afterPause_;
}

void MarkdownTextStorage::finishStyling()
{
    restyleAfterPause();
    while (unstyled_.length > 0)
        styleNextSlice();
}

void MarkdownTextStorage::styleNextSlice()
{
    sliceQueued_ = false;
    if (unstyled_.length == 0)
        return;
    // A pass over the slice's lines with no change to the text: processEditing() styles them.
    beginEditing();
    edited(EditedAttributes, {unstyled_.location, std::min(unstyled_.length, SliceLength)}, 0);
    endEditing();
}

void MarkdownTextStorage::restyleAfterPause()
{
    if (pause_)
        pause_->stop();
    if (afterPause_.length == 0)
        return;
    // Styled first and written in a pass of its own, which reports only the runs that changed (none
    // when the keys changed nothing), not all of the paragraphs.
    const TextRange lines = paragraphRange(std::exchange(afterPause_, {0, 0}));
    beginEditing();
    styleLines(lines, false);
    writingRestyle_ = true;
    endEditing();
    writingRestyle_ = false; // when nothing changed there was no pass to take it
}

void MarkdownTextStorage::restyleLine(TextRange lineInLines)
{
    const TextRange line{linesStart_ + lineInLines.location, lineInLines.length};
    // Every attribute of the line is decided afresh: the base style, then the elements in the order
    // reported (a later one wins where they overlap), then the paragraph style.
    TextAttributes base;
    base.font = mainFont_;
    base.foregroundColor = mainColor_;
    line_.assign(1, LineRun{line.end(), base});
    lineStart_ = line.location;

    parser_.parseBlockAndInline(lines_, {lineInLines.location, lineInLines.length},
                                [this, line](const InlineRange& range, InlineElement element) {
                                    styleElement({linesStart_ + range.location, qsizetype(range.length)}, element,
                                                 line);
                                });

    // List items and quotes hang their wrapped lines under the text after the prefix.
    std::optional<ParagraphStyle> paragraph = defaultParagraphStyle_;
    const double indent = parser_.lastIndentWidth();
    if (paragraph && indent > 0) {
        paragraph->firstLineHeadIndent = 0;
        paragraph->headIndent = indent;
    }
    for (LineRun& run : line_)
        run.attributes.paragraphStyle = paragraph;
    writeLine(line);
}

void MarkdownTextStorage::change(TextRange range, const std::function<void(TextAttributes&)>& edit)
{
    const qsizetype from = std::max(range.location, lineStart_);
    const qsizetype to = std::min(range.end(), line_.back().end);
    if (from >= to)
        return;
    // Splits the run holding the position so that a run starts there; gives that run's index. The
    // runs' ends increase strictly, so a search finds it: a long line may hold a million runs.
    const auto split = [this](qsizetype position) {
        const auto run = std::upper_bound(line_.begin(), line_.end(), position,
                                          [](qsizetype p, const LineRun& r) { return p < r.end; });
        const size_t i = size_t(run - line_.begin());
        const qsizetype start = i == 0 ? lineStart_ : line_[i - 1].end;
        if (start == position)
            return i;
        line_.insert(line_.begin() + i, LineRun{position, line_[i].attributes});
        return i + 1;
    };
    const size_t first = split(from);
    const size_t last = to < line_.back().end ? split(to) : line_.size();
    for (size_t i = first; i < last; ++i)
        edit(line_[i].attributes);
}

void MarkdownTextStorage::writeLine(TextRange line)
{
    if (!pending_.empty() && (line.location != pending_.back().end || pending_.size() >= PendingPieces))
        writePending();
    if (pending_.empty())
        pendingStart_ = line.location;
    for (size_t i = 0; i < line_.size(); ++i) {
        // Neighbours that came out alike are written as one.
        while (i + 1 < line_.size() && line_[i + 1].attributes == line_[i].attributes)
            ++i;
        pending_.push_back(std::move(line_[i]));
    }
}

void MarkdownTextStorage::writePending()
{
    if (pending_.empty())
        return;
    current_.clear();
    const qsizetype pendingEnd = std::min(pending_.back().end, length());
    attributedString().enumerateAttributes({pendingStart_, pendingEnd - pendingStart_},
                                           [this](const TextAttributes& attributes, TextRange run) {
                                               current_.emplace_back(run.end(), &attributes);
                                           });
    // A piece is written when a unit of it has other attributes (an empty piece: when the unit at its
    // start has); the text keeps the pieces before the first and after the last such piece.
    static const TextAttributes none;
    size_t first = pending_.size();
    size_t last = 0;
    size_t run = 0;
    qsizetype start = pendingStart_;
    for (size_t i = 0; i < pending_.size(); ++i) {
        const qsizetype end = pending_[i].end;
        while (run < current_.size() && current_[run].first <= start)
            ++run;
        bool differs = false;
        for (size_t j = run;; ++j) {
            const TextAttributes& have = j < current_.size() ? *current_[j].second : none;
            if (have != pending_[i].attributes) {
                differs = true;
                break;
            }
            if (j >= current_.size() || current_[j].first >= end)
                break;
        }
        if (differs) {
            first = std::min(first, i);
            last = i;
        }
        start = end;
    }
    if (first < pending_.size()) {
        const qsizetype from = first == 0 ? pendingStart_ : pending_[first - 1].end;
        setAttributeRuns({from, pending_[last].end - from},
                         std::span<const LineRun>(pending_).subspan(first, last - first + 1));
    }
    pending_.clear();
}

void MarkdownTextStorage::styleElement(TextRange range, InlineElement element, TextRange line)
{
    const int64_t emphasis = parser_.emphasis();
    const auto font = [this](const std::optional<Font>& value, TextRange over) {
        change(over, [&](TextAttributes& attributes) { attributes.font = value; });
    };
    const auto emphasisFont = [&](int64_t flags, TextRange over) { font(fontWithEmphasis(flags), over); };
    const auto color = [this](const std::optional<Color>& value, TextRange over) {
        change(over, [&](TextAttributes& attributes) { attributes.foregroundColor = value; });
    };
    const auto linkAndToolTip = [this](const QString& link, const QString& toolTip, TextRange over) {
        change(over, [&](TextAttributes& attributes) {
            attributes.link = link;
            attributes.toolTip = toolTip;
        });
    };
    const auto underlinedLink = [&](const QString& link) {
        change(range, [&](TextAttributes& attributes) {
            attributes.underlineStyle = 1;
            attributes.link = link;
        });
    };
    const auto checkbox = [&](const char* toolTip) {
        // The two brackets and the mark, clipped to the line.
        const qsizetype from = std::max(range.location - 1, line.location);
        const qsizetype to = std::min(range.location + 2, line.end());
        linkAndToolTip(TodoLink, QCoreApplication::translate("Localizable", toolTip), {from, to - from});
    };

    switch (element) {
    case InlineElementRuleSymbol:
    case InlineElementHeadingOpenSymbol:
    case InlineElementHeadingCloseSymbol:
    case InlineElementStrikeSymbol:
        font(fixedSymbolFont_, range);
        color(symbolColor_, range);
        break;
    case InlineElementHeadingText:
    case InlineElementAsteriskBoldText:
    case InlineElementUnderscoreBoldText:
        font(boldFont_, range);
        break;
    case InlineElementQuoteSymbol:
    case InlineElementAsteriskSymbol:
    case InlineElementUnderscoreSymbol:
        font(fixedSymbolFont_, range);
        break;
    case InlineElementQuoteText:
        emphasisFont(emphasis, range);
        break;
    case InlineElementHTMLTag:
    case InlineElementIndentedCode:
    case InlineElementCodeSpanText:
        font(codeFont_, range);
        color(codeColor_, range);
        break;
    case InlineElementEntity:
        color(symbolColor_, range);
        break;
    case InlineElementCodeSpanSymbol:
    case InlineElementCodeSpanLiteralSymbol:
        font(fixedSymbolFont_, range);
        color(codeColor_, range);
        break;
    case InlineElementStrikeText: {
        emphasisFont(emphasis, range);
        color(symbolColor_, range);
        change(range, [](TextAttributes& attributes) { attributes.strikethroughStyle = 1; });
        break;
    }
    case InlineElementStrikeLiteralSymbol:
    case InlineElementAsteriskLiteralSymbol:
    case InlineElementUnderscoreLiteralSymbol:
        font(fixedSymbolFont_, range);
        // Dimmed only in plain text, code and strike-through; bold, italic and headings keep their colour.
        if (emphasis == 0 || hasEmphasis(emphasis, InlineEmphasisCodeSpan | InlineEmphasisStrike))
            color(symbolColor_, range);
        break;
    case InlineElementAutolinkSymbol:
    case InlineElementOrderedListDelimiter:
        font(codeFont_, range);
        color(symbolColor_, range);
        break;
    case InlineElementAutolinkURL:
        font(codeFont_, range);
        color(listColor_, range);
        underlinedLink(linesText(range));
        break;
    case InlineElementAutolinkEmail:
        font(codeFont_, range);
        color(listColor_, range);
        underlinedLink(QStringLiteral("mailto:") + linesText(range));
        break;
    case InlineElementInlineLink:
    case InlineElementInlineImage:
    case InlineElementReferenceLink:
    case InlineElementReferenceImage:
        emphasisFont(emphasis, range);
        color(codeColor_, range);
        break;
    case InlineElementAsteriskItalicText:
    case InlineElementUnderscoreItalicText:
        font(italicFont_, range);
        break;
    case InlineElementAsteriskBoldItalicText:
    case InlineElementUnderscoreBoldItalicText:
        font(boldItalicFont_, range);
        break;
    case InlineElementUnorderedListBullet:
        font(fixedSymbolFont_, range);
        color(listColor_, range);
        break;
    case InlineElementOrderedListNumber:
        font(codeFont_, range);
        color(listColor_, range);
        break;
    case InlineElementCheckboxBracket:
        color(listColor_, range);
        break;
    case InlineElementCheckboxMarkUncompleted:
        font(fixedSymbolFont_, range);
        checkbox("Tap to completed");
        break;
    case InlineElementCheckboxMarkCompleted:
        font(fixedSymbolFont_, range);
        color(listColor_, range);
        checkbox("Tap to uncompleted");
        break;
    case InlineElementHashtag:
        styleTag(range, QStringLiteral("hashtag"));
        break;
    case InlineElementMention:
        styleTag(range, QStringLiteral("mention"));
        break;
    case InlineElementEmail:
        emphasisFont(emphasis, range);
        color(listColor_, range);
        underlinedLink(QStringLiteral("mailto:") + linesText(range));
        break;
    case InlineElementURL:
        emphasisFont(emphasis, range);
        color(listColor_, range);
        underlinedLink(linesText(range));
        break;
    default:
        break;
    }
}

void MarkdownTextStorage::styleTag(TextRange range, const QString& host)
{
    const QString tag = linesText(range);
    const QString link =
        QStringLiteral("brindlewick://%1/%2").arg(host, QString::fromLatin1(QUrl::toPercentEncoding(tag.mid(1))));
    change(range, [&](TextAttributes& attributes) {
        attributes.link = link;
        attributes.toolTip = tag;
        attributes.foregroundColor = listColor_;
    });

    // An all-capitals tag reads as small capitals: the sign and the first character at full size (a
    // surrogate pair is never cut), the rest smaller.
    const std::optional<Font> font = fontWithEmphasis(parser_.emphasis());
    qsizetype head = tag.size();
    if (tag.size() >= 3 && isStrongTag(tag))
        head = (tag[1].isHighSurrogate() && tag[2].isLowSurrogate()) ? 3 : 2;
    change({range.location, head}, [&](TextAttributes& attributes) { attributes.font = font; });
    if (head < tag.size()) {
        const std::optional<Font> small = font ? std::optional<Font>(smallCapFontWithFont(*font)) : std::nullopt;
        change({range.location + head, tag.size() - head}, [&](TextAttributes& attributes) { attributes.font = small; });
    }
}
