#include "Typewriter/Typewriter.h"

#include "Typewriter/TypewriterText.h"

#include <algorithm>

using namespace TypewriterText;

bool Typewriter::handleChangeTextInRange(TextRange* range, const QString& text)
{
    *range = clipped(*range, view().length());
    caretLineChanged_ = false;
    bool handled = false;
    {
        EditSession session(*this);
        if (text.isEmpty())
            handled = handleDeleteTextInRange(range);
        else if (text == u"\t")
            handled = handleEnterTabInRange(range);
        else if (text == u"\n")
            handled = handleEnterNewLineInRange(range);
        else if (text == u"]")
            handled = handleCloseSquaredBracketInRange(range);
        else if (text == u"[") {
            type(text, range);
            enterState(TypewriterStateOpenBracket, {range->location - 1, 1});
            handled = true;
        }
        if (!handled)
            resetState();
    }
    if (caretLineChanged_ && delegate_)
        delegate_->typewriterCaretDidChangeLine(*this);
    return handled;
}

void Typewriter::caretDidChangeLine()
{
    caretLineChanged_ = true;
}

void Typewriter::enterState(TypewriterState state, TextRange range)
{
    flush();
    state_ = state;
    typeStateRange_ = range;
    typeStateText_ = view().substring(range);
    typeStateTextLength_ = view().length();
}

void Typewriter::resetState()
{
    state_ = TypewriterStateIdle;
    typeStateRange_ = {};
    typeStateText_.clear();
}

bool Typewriter::typeStateIsCurrent()
{
    flush();
    const qsizetype length = view().length();
    const bool current = length == typeStateTextLength_ && typeStateRange_.location >= 0 &&
                         typeStateRange_.end() <= length && view().substring(typeStateRange_) == typeStateText_;
    if (!current)
        resetState();
    return current;
}

bool Typewriter::handleDeleteTextInRange(TextRange* range)
{
    const TypewriterState state = typeStateIsCurrent() ? state_ : TypewriterStateIdle;
    const TextRange prefix = typeStateRange_;
    const bool atPrefixEnd = prefix.length > 0 && range->location == prefix.end() - 1;
    if (state == TypewriterStateListPrefix && atPrefixEnd) {
        replaceRange(prefix, {});
        *range = {prefix.location, 0};
        resetState();
        return true;
    }
    if (state == TypewriterStateQuotePrefix && atPrefixEnd) {
        flush();
        const qsizetype inPrefix = view().substring(prefix).lastIndexOf(u'>');
        const qsizetype marker = prefix.location + inPrefix;
        if (inPrefix >= 0) {
            replaceRange({marker, prefix.end() - marker}, {});
            *range = {marker, 0};
            if (marker > prefix.location)
                enterState(TypewriterStateQuotePrefix, {prefix.location, marker - prefix.location});
            else
                resetState();
            return true;
        }
    }
    if (state == TypewriterStateAsteriskWrap && *range == prefix && prefix.length >= 2) {
        const QString wrapped = substringWithRange(prefix);
        if (wrapped.startsWith(u'*') && wrapped.endsWith(u'*')) {
            replaceRange(prefix, wrapped.sliced(1, prefix.length - 2));
            *range = {prefix.location, prefix.length - 2};
            enterState(TypewriterStateAsteriskWrap, *range);
            return true;
        }
    }
    caretDidChangeLine();
    return false;
}

bool Typewriter::handleEnterNewLineInRange(TextRange* range)
{
    const qsizetype caret = range->location;
    if (caret == 0)
        return false;
    const TextRange paragraph = currentParagraphs({caret, 0});
    const qsizetype lineStart = paragraph.location;
    const qsizetype lineEnd = lineStart + lineContentEnd(view().substring(paragraph), caret - lineStart);
    const QString prefix = parser_.autoIndent({lineStart, caret - lineStart});
    const qsizetype firstNonSpace = parser_.firstNonSpace();
    const InlineBlock block = parser_.block();
    if (prefix.isNull()) {
        const bool afterOwnPrefix = state_ == TypewriterStateListPrefix && typeStateIsCurrent() &&
                                    caret == typeStateRange_.end();
        if (!afterOwnPrefix || block == InlineBlockRule)
            return false;
        replaceRangeBeforeCursor(typeStateRange_, {}, range);
        resetState();
        return true;
    }
    if (caret - lineStart <= prefix.size() && caret == lineEnd && caret > firstNonSpace) {
        // The line holds nothing but its prefix: Return ends the list instead of continuing it.
        replaceRangeBeforeCursor({firstNonSpace, caret - firstNonSpace}, {}, range);
        resetState();
        return true;
    }
    const qsizetype newLine = range->location + 1;
    type(u'\n' + prefix, range);
    caretDidChangeLine();
    const qsizetype prefixStart = std::min(newLine + (firstNonSpace - lineStart), range->location);
    const TextRange inserted{prefixStart, range->location - prefixStart};
    if (block == InlineBlockQuote)
        enterState(TypewriterStateQuotePrefix, inserted);
    else if (inserted.length > 0)
        enterState(TypewriterStateListPrefix, inserted);
    else
        resetState();
    return true;
}

bool Typewriter::handleEnterTabInRange(TextRange* range)
{
    const qsizetype caret = range->location;
    if (caret == 0)
        return false;
    const qsizetype lineStart = currentParagraphs({caret, 0}).location;
    TextRange marker{-1, 0};
    InlineElement kind = InlineElementIndent;
    parser_.parseBlock({lineStart, caret - lineStart}, [&](TextRange element, InlineElement type) {
        if (type == InlineElementUnorderedListBullet || type == InlineElementOrderedListNumber) {
            marker = element;
            kind = type;
            parser_.stop();
        }
    });
    if (marker.location < 0)
        return false;
    if (kind == InlineElementOrderedListNumber)
        replaceRangeBeforeCursor(marker, QStringLiteral("1"), range);
    replaceRangeBeforeCursor({lineStart, 0}, QStringLiteral("\t"), range);
    return true;
}

bool Typewriter::handleCloseSquaredBracketInRange(TextRange* range)
{
    if (state_ != TypewriterStateOpenBracket || range->length > 0 || !typeStateIsCurrent())
        return false;
    const qsizetype caret = range->location;
    const qsizetype lineStart = currentParagraphs({caret, 0}).location;
    int boxParts = 0;
    parser_.parseBlock({lineStart, caret - lineStart}, [&](TextRange, InlineElement type) {
        boxParts += type == InlineElementCheckboxBracket || type == InlineElementCheckboxMarkUncompleted ||
                    type == InlineElementCheckboxMarkCompleted;
    });
    if (boxParts != 1)
        return false;
    type(QStringLiteral(" ] "), range);
    caretDidChangeLine();
    enterState(TypewriterStateListPrefix, {caret, 3});
    return true;
}

bool Typewriter::setCheckboxCompleted(bool completed, TextRange range)
{
    EditSession session(*this);
    flush();
    range = clipped(range, view().length());
    if (range.length == 0)
        range = view().paragraphRange(range);
    return completed ? replaceCheckboxMarks(range, InlineElementCheckboxMarkUncompleted, QStringLiteral("x"))
                     : replaceCheckboxMarks(range, InlineElementCheckboxMarkCompleted, QStringLiteral(" "));
}

bool Typewriter::replaceCheckboxMarks(TextRange paragraphs, InlineElement mark, const QString& with)
{
    bool replaced = false;
    reverseEnumerateLineContent(paragraphs, [&](TextRange line, TextRange, bool*) {
        std::vector<TextRange> marks;
        parser_.parseBlock(line, [&](TextRange element, InlineElement type) {
            if (type == mark)
                marks.push_back(element);
        });
        for (auto at = marks.rbegin(); at != marks.rend(); ++at)
            replaceRange(*at, with);
        replaced = replaced || !marks.empty();
    });
    return replaced;
}

bool Typewriter::handleLink(const QString& link, qsizetype index)
{
    if (index < 0 || index >= view().length())
        return false;
    static const QString mailto = QStringLiteral("mailto:");
    if (link.startsWith(mailto))
        return delegate_ && delegate_->typewriterHandleTapEmail(*this, link.mid(mailto.size()));
    if (link.startsWith(QStringLiteral("brindlewick://todo"))) {
        TextRange mark{-1, 0};
        InlineElement kind = InlineElementIndent;
        parser_.parseBlock(view().paragraphRange({index, 0}), [&](TextRange element, InlineElement type) {
            if (type == InlineElementCheckboxMarkUncompleted || type == InlineElementCheckboxMarkCompleted) {
                mark = element;
                kind = type;
                parser_.stop();
            }
        });
        if (mark.location >= 0) {
            if (!delegate_)
                return true;
            if (kind == InlineElementCheckboxMarkUncompleted)
                delegate_->typewriterDidTapToCompletedCheckbox(*this, mark);
            else
                delegate_->typewriterDidTapToUncompletedCheckbox(*this, mark);
            return true;
        }
    }
    return delegate_ && delegate_->typewriterHandleTapLink(*this, link);
}
