#include "Typewriter/Typewriter.h"

#include "Typewriter/TypewriterText.h"

#include <algorithm>

using namespace TypewriterText;

namespace {

// The position a selection end takes when the range is replaced by `inserted` units.
qsizetype moved(qsizetype position, TextRange range, qsizetype inserted, bool beforeCursor)
{
    if (range.length > 0)
        position = position < range.end() ? std::min(position, range.location) : position - range.length;
    if (inserted > 0 && (beforeCursor ? position >= range.location : position > range.location))
        position += inserted;
    return position;
}

} // namespace

Typewriter::EditSession::EditSession(Typewriter& typewriter) : typewriter_(typewriter)
{
    ++typewriter_.sessionDepth_;
}

Typewriter::EditSession::~EditSession()
{
    if (--typewriter_.sessionDepth_ > 0)
        return;
    typewriter_.flush();
    if (typewriter_.undoGroupOpen_) {
        typewriter_.undoGroupOpen_ = false;
        typewriter_.textView_->endUndoGroup();
    }
}

Typewriter::Typewriter() = default;

Typewriter::Typewriter(TypewriterTextView* textView) : textView_(textView) {}

void Typewriter::setText(const QString& text)
{
    editingText_ = true;
    view().setString(text);
    editingText_ = false;
    resetState();
}

AttributedString Typewriter::attributedText() const
{
    return view().attributedString();
}

QString Typewriter::substringWithRange(TextRange range) const
{
    return view().substring(range);
}

void Typewriter::settleBefore(qsizetype end)
{
    if (batch_.lowest(view().length()) < end)
        flush();
}

QString Typewriter::textOf(TextRange* range)
{
    settleBefore(range->end());
    *range = clipped(*range, view().length());
    return view().substring(*range);
}

TextRange Typewriter::currentParagraphs(TextRange range)
{
    flush();
    return view().paragraphRange(range);
}

void Typewriter::flush()
{
    if (batch_.isEmpty())
        return;
    const TextRange span = batch_.span();
    const QString replacement = batch_.replacement(view().substring(span));
    batch_.clear();
    applyEdit(span, replacement);
}

void Typewriter::applyEdit(TextRange range, const QString& text)
{
    editingText_ = true;
    if (textView_ && !undoGroupOpen_) {
        undoGroupOpen_ = true;
        textView_->beginUndoGroup();
    }
    view().insertText(text, range);
    editingText_ = false;
}

TextRange Typewriter::editRange(TextRange range)
{
    // The edits held are made first unless this one lies wholly before them.
    settleBefore(range.location + std::max<qsizetype>(range.length, 0));
    return clipped(range, view().length());
}

void Typewriter::replaceRange(TextRange range, const QString& text)
{
    EditSession session(*this);
    range = editRange(range);
    if (range.length > 0 || !text.isEmpty())
        batch_.add(range, text);
}

void Typewriter::replace(TextRange range, const QString& text, TextRange* selection, bool beforeCursor)
{
    EditSession session(*this);
    range = editRange(range);
    const qsizetype start = moved(selection->location, range, text.size(), beforeCursor);
    const qsizetype end = moved(selection->end(), range, text.size(), beforeCursor);
    replaceRange(range, text);
    *selection = {start, std::max<qsizetype>(end - start, 0)};
}

void Typewriter::replaceRangeAfterCursor(TextRange range, const QString& text, TextRange* selection)
{
    replace(range, text, selection, false);
}

void Typewriter::replaceRangeBeforeCursor(TextRange range, const QString& text, TextRange* selection)
{
    replace(range, text, selection, true);
}

void Typewriter::type(const QString& text, TextRange* range)
{
    EditSession session(*this);
    const TextRange replaced = editRange(*range);
    replaceRange(replaced, text);
    *range = {replaced.location + text.size(), 0};
}

std::vector<Typewriter::Line> Typewriter::lines(TextRange range)
{
    settleBefore(range.end() + 1);
    range = clipped(range, view().length());
    // Read once, the lines from the one holding the range's start to the one holding its end.
    const TextRange span = view().paragraphRange(range);
    const QString text = view().substring(span);
    const qsizetype at = span.location;
    std::vector<Line> result;
    qsizetype position = 0;
    for (;;) {
        const qsizetype end = lineContentEnd(text, position);
        qsizetype first = position, last = end;
        while (first < last && isBlank(text[first]))
            ++first;
        while (last > first && isBlank(text[last - 1]))
            --last;
        result.push_back({{at + position, end - position}, {at + first, last - first}});
        if (end >= text.size())
            break;
        position = nextLineStart(text, end);
        if (at + position >= range.end())
            break;
    }
    return result;
}

bool Typewriter::hasContent(const std::vector<Line>& lines)
{
    return std::any_of(lines.begin(), lines.end(), [](const Line& line) { return line.content.length > 0; });
}

void Typewriter::reverseEnumerateLineContent(TextRange range, const LineContentBlock& block)
{
    EditSession session(*this);
    const std::vector<Line> all = lines(range);
    bool stop = false;
    for (auto line = all.rbegin(); line != all.rend() && !stop; ++line)
        block(line->line, line->content, &stop);
}

TextRange Typewriter::lineRangeForLineNumber(qsizetype number) const
{
    const QString& text = base();
    qsizetype start = 0;
    for (qsizetype line = 1; line < number; ++line) {
        const qsizetype end = lineContentEnd(text, start);
        if (end >= text.size())
            return {text.size(), 0};
        start = nextLineStart(text, end);
    }
    return {start, lineContentEnd(text, start) - start};
}
