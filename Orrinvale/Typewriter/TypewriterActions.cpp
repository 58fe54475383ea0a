#include "Typewriter/Typewriter.h"

#include "Typewriter/TypewriterText.h"

#include "Log.h"

#include <algorithm>

using namespace TypewriterText;

namespace {

bool isEmphasisSymbol(InlineElement element, int flags)
{
    switch (element) {
    case InlineElementCodeSpanSymbol:
        return flags & InlineEmphasisCodeSpan;
    case InlineElementStrikeSymbol:
        return flags & InlineEmphasisStrike;
    case InlineElementAsteriskSymbol:
        return flags & (InlineEmphasisAsteriskBold | InlineEmphasisAsteriskItalic);
    case InlineElementUnderscoreSymbol:
        return flags & (InlineEmphasisUnderscoreBold | InlineEmphasisUnderscoreItalic);
    default:
        return false;
    }
}

bool touches(TextRange element, qsizetype start, qsizetype end)
{
    return element.location <= end && element.end() >= start;
}

// What a selection holding nothing but markers becomes, and where the caret goes in the result.
struct BareMarkers {
    TypewriterAction action;
    const char16_t* from;
    const char16_t* to;
    qsizetype caret;
};

constexpr BareMarkers bareMarkers[] = {
    {TypewriterActionStrikethrough, u"", u"~~~~", 2}, {TypewriterActionStrikethrough, u"~~~~", u"", 0},
    {TypewriterActionBold, u"", u"****", 2},          {TypewriterActionBold, u"**", u"******", 3},
    {TypewriterActionBold, u"****", u"", 0},          {TypewriterActionBold, u"******", u"**", 1},
    {TypewriterActionItalic, u"", u"**", 1},          {TypewriterActionItalic, u"**", u"", 0},
    {TypewriterActionItalic, u"****", u"******", 3},  {TypewriterActionItalic, u"******", u"****", 2},
};

} // namespace

bool Typewriter::handleAction(TypewriterAction action, TextRange* selection)
{
    *selection = clipped(*selection, view().length());
    EditSession session(*this);
    return runAction(action, selection);
}

bool Typewriter::runAction(TypewriterAction action, TextRange* selection)
{
    switch (action) {
    case TypewriterActionHeading1:
    case TypewriterActionHeading2:
    case TypewriterActionHeading3:
    case TypewriterActionHeading4:
    case TypewriterActionHeading5:
    case TypewriterActionHeading6:
        return handleActionHeading(int(action - TypewriterActionHeading1) + 1, selection);
    case TypewriterActionBold:
    case TypewriterActionItalic:
    case TypewriterActionStrikethrough:
        return handleActionEmphasis(action, selection);
    case TypewriterActionUnorderedList:
        return toggleListMarkers(false, selection);
    case TypewriterActionOrderedList:
        return toggleListMarkers(true, selection);
    case TypewriterActionTodoList:
        return handleActionTodoList(selection);
    case TypewriterActionTodoListComplete:
        return handleActionTodoListComplete(selection);
    case TypewriterActionAddLink:
        return handleActionAddLink(selection);
    case TypewriterActionShiftLeft:
        return handleActionShiftLeft(selection);
    case TypewriterActionShiftRight:
        return handleActionShiftRight(selection);
    default:
        LogError("typwriter:action missing %1", int64_t(action));
        return false;
    }
}

bool Typewriter::handleActionHeading(int level, TextRange* selection)
{
    const QString marker(level, u'#');
    const std::vector<Line> all = lines(currentParagraphs(*selection));
    const bool content = hasContent(all);
    // Heading runs of the line: the opening run of this level (or of another one) and the closing run.
    struct Runs {
        TextRange open{-1, 0};
        TextRange close{-1, 0};
    };
    const auto scan = [&](const Line& line) {
        Runs runs;
        parser_.parseBlock(line.line, [&](TextRange element, InlineElement type) {
            if (type == InlineElementHeadingOpenSymbol && runs.open.location < 0)
                runs.open = element;
            else if (type == InlineElementHeadingCloseSymbol)
                runs.close = element;
        });
        return runs;
    };
    bool removed = false;
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        const Runs runs = scan(*line);
        if (runs.open.length != level)
            continue;
        if (runs.close.location >= 0)
            replaceRangeAfterCursor(runs.close, {}, selection);
        replaceRangeBeforeCursor(parser_.indentAndPrefixRange(), {}, selection);
        removed = true;
    }
    if (removed)
        return true;
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        if (content && line->content.length == 0)
            continue;
        const Runs runs = scan(*line);
        if (runs.open.location < 0) {
            replaceRangeBeforeCursor(parser_.indentAndPrefixRange(), marker + u' ', selection);
            continue;
        }
        if (runs.close.location >= 0 && runs.close.length == runs.open.length)
            replaceRangeAfterCursor(runs.close, marker, selection);
        replaceRangeBeforeCursor(runs.open, marker, selection);
    }
    return true;
}

int64_t Typewriter::expandRangeWithEnclosingEmphasis(TextRange* range, int flags)
{
    qsizetype start = range->location, end = range->end();
    int64_t found = 0;
    for (const Line& line : lines(currentParagraphs(*range))) {
        parser_.parseBlockAndInline(line.line, [&](TextRange symbol, InlineElement type) {
            if (!isEmphasisSymbol(type, flags))
                return;
            const TextRange open = parser_.matchingOpenSymbol(type, symbol);
            if (open.location >= 0 && open.location <= end && symbol.end() >= start) {
                found = type;
                start = std::min(start, open.location);
                end = std::max(end, symbol.end());
            }
        });
    }
    if (found)
        *range = {start, end - start};
    return found;
}

bool Typewriter::handleActionEmphasis(TypewriterAction action, TextRange* selection)
{
    const bool strike = action == TypewriterActionStrikethrough;
    TextRange range = *selection;
    const int flags = strike ? InlineEmphasisStrike : InlineEmphasisAsteriskBold | InlineEmphasisAsteriskItalic;
    if (!expandRangeWithEnclosingEmphasis(&range, flags))
        parser_.expandText(currentParagraphs(range), &range, strike ? u'~' : u'*');

    TextRange heldRange = range;
    const QString held = textOf(&heldRange);
    for (const BareMarkers& bare : bareMarkers) {
        if (bare.action == action && held == QStringView(bare.from)) {
            replaceRange(range, QString::fromUtf16(bare.to));
            *selection = {range.location + bare.caret, 0};
            return true;
        }
    }
    if (!removeEmphasis(action, range, selection)) {
        const QString marker = strike ? QStringLiteral("~~") : action == TypewriterActionBold ? QStringLiteral("**")
                                                                                              : QStringLiteral("*");
        addEmphasis(marker, range, selection);
    }
    return true;
}

bool Typewriter::removeEmphasis(TypewriterAction action, TextRange range, TextRange* selection)
{
    const qsizetype start = range.location, end = range.end();
    bool removed = false;
    reverseEnumerateLineContent(currentParagraphs(range), [&](TextRange line, TextRange, bool*) {
        std::vector<TextRange> cuts;
        parser_.parseBlockAndInline(line, [&](TextRange symbol, InlineElement type) {
            if (!touches(symbol, start, end))
                return;
            if (action == TypewriterActionStrikethrough && type == InlineElementStrikeSymbol)
                cuts.push_back(symbol);
            else if (action == TypewriterActionBold && type == InlineElementAsteriskSymbol && symbol.length >= 2)
                cuts.push_back({symbol.location, 2});
            else if (action == TypewriterActionItalic && type == InlineElementAsteriskSymbol && symbol.length != 2)
                cuts.push_back({symbol.location, 1});
        });
        for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut)
            replaceRangeBeforeCursor(*cut, {}, selection);
        removed = removed || !cuts.empty();
    });
    return removed;
}

void Typewriter::addEmphasis(const QString& marker, TextRange range, TextRange* selection)
{
    const qsizetype start = range.location, end = range.end();
    const TextRange paragraphs = currentParagraphs(range);
    reverseEnumerateLineContent(paragraphs, [&](TextRange line, TextRange content, bool*) {
        if (content.length == 0)
            return;
        parser_.parseBlock(line, [](TextRange, InlineElement) {});
        const qsizetype open = std::max(start, parser_.indentAndPrefixRange().end());
        const qsizetype close = std::min(end, content.end());
        replaceRangeAfterCursor({close, 0}, marker, selection);
        replaceRangeBeforeCursor({open, 0}, marker, selection);
    });
}

namespace {

// What a prefix scan of one line found: its list marker, check box and heading closing run.
struct ListPrefix {
    TextRange bullet{-1, 0};
    TextRange number{-1, 0};
    TextRange delimiter{-1, 0};
    TextRange box{-1, 0};  // from the opening bracket over the mark and the closing bracket
    TextRange headingClose{-1, 0};
};

ListPrefix scanListPrefix(LineParser& parser, TextRange line)
{
    ListPrefix found;
    parser.parseBlock(line, [&](TextRange element, InlineElement type) {
        switch (type) {
        case InlineElementUnorderedListBullet:
            found.bullet = element;
            break;
        case InlineElementOrderedListNumber:
            found.number = element;
            break;
        case InlineElementOrderedListDelimiter:
            found.delimiter = element;
            break;
        case InlineElementCheckboxBracket:
        case InlineElementCheckboxMarkUncompleted:
        case InlineElementCheckboxMarkCompleted:
            if (found.box.location < 0)
                found.box = element;
            else
                found.box.length = element.end() - found.box.location;
            break;
        case InlineElementHeadingCloseSymbol:
            found.headingClose = element;
            break;
        default:
            break;
        }
    });
    return found;
}

} // namespace

bool Typewriter::toggleListMarkers(bool numbered, TextRange* selection)
{
    const std::vector<Line> all = lines(currentParagraphs(*selection));
    bool removed = false;
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        const ListPrefix found = scanListPrefix(parser_, line->line);
        const TextRange marker = numbered ? found.number : found.bullet;
        if (marker.location < 0 || found.box.location >= 0)
            continue;  // to-do items belong to the to-do command
        const qsizetype prefixEnd = parser_.indentAndPrefixRange().end();
        replaceRangeBeforeCursor({marker.location, prefixEnd - marker.location}, {}, selection);
        removed = true;
    }
    if (removed)
        return true;
    const bool content = hasContent(all);
    // Numbered from the top, blank lines left out while there is content; the walk runs upwards.
    qsizetype number = std::count_if(all.begin(), all.end(), [](const Line& line) { return line.content.length > 0; });
    if (number < 1)
        number = qsizetype(all.size());
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        if (content && line->content.length == 0)
            continue;
        const ListPrefix found = scanListPrefix(parser_, line->line);
        const TextRange prefix = parser_.prefixRange();
        if (found.headingClose.location >= 0)
            replaceRangeAfterCursor(found.headingClose, {}, selection);
        const qsizetype prefixEnd = found.box.location >= 0 ? found.box.location : prefix.end();
        const QString marker = numbered ? QStringLiteral("%1. ").arg(number--) : QStringLiteral("- ");
        replaceRangeBeforeCursor({prefix.location, prefixEnd - prefix.location}, marker, selection);
    }
    return true;
}

bool Typewriter::handleActionTodoList(TextRange* selection)
{
    const TextRange paragraphs = currentParagraphs(*selection);
    const std::vector<Line> all = lines(paragraphs);
    bool removed = false;
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        const ListPrefix found = scanListPrefix(parser_, line->line);
        if (found.box.location < 0)
            continue;
        const TextRange marker = found.bullet.location >= 0 ? found.bullet : found.number;
        const bool withMarker = marker.location >= 0 && shouldRemoveCheckboxAlongWithListMarker();
        const qsizetype from = withMarker ? marker.location : found.box.location;
        replaceRangeBeforeCursor({from, parser_.indentAndPrefixRange().end() - from}, {}, selection);
        removed = true;
    }
    if (!removed)
        addTodoBoxes(paragraphs, selection);
    return true;
}

void Typewriter::addTodoBoxes(TextRange paragraphs, TextRange* selection)
{
    const std::vector<Line> all = lines(paragraphs);
    const bool content = hasContent(all);
    // New boxes take the bullet of the topmost bulleted line.
    QString bullet = QStringLiteral("-");
    for (const Line& line : all) {
        const ListPrefix found = scanListPrefix(parser_, line.line);
        if (found.bullet.location >= 0) {
            bullet = substringWithRange(found.bullet);
            break;
        }
    }
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        if (content && line->content.length == 0)
            continue;
        const ListPrefix found = scanListPrefix(parser_, line->line);
        if (found.box.location >= 0)
            continue;
        const TextRange prefix = parser_.prefixRange();
        if (found.headingClose.location >= 0)
            replaceRangeAfterCursor(found.headingClose, {}, selection);
        const TextRange marker = found.delimiter.location > found.bullet.location ? found.delimiter : found.bullet;
        if (marker.location >= 0)
            replaceRangeBeforeCursor({marker.end(), 0}, QStringLiteral(" [ ]"), selection);
        else
            replaceRangeBeforeCursor(prefix, bullet + QStringLiteral(" [ ] "), selection);
    }
}

bool Typewriter::handleActionTodoListComplete(TextRange* selection)
{
    const TextRange paragraphs = currentParagraphs(*selection);
    if (replaceCheckboxMarks(paragraphs, InlineElementCheckboxMarkUncompleted, QStringLiteral("x")))
        return true;
    if (replaceCheckboxMarks(paragraphs, InlineElementCheckboxMarkCompleted, QStringLiteral(" ")))
        return true;
    addTodoBoxes(paragraphs, selection);
    return true;
}

bool Typewriter::handleActionAddLink(TextRange* selection)
{
    QString url = pasteboard_ ? pasteboard_() : QString();
    const bool singleLine = !url.contains(u'\n') && !url.contains(u'\r') && !url.contains(QChar(0x2029));
    if (!url.contains(QStringLiteral("://")) || !singleLine)
        url.clear();
    if (selection->length == 0)
        parser_.expandText(currentParagraphs(*selection), selection, 0);
    if (selection->length == 0) {
        replaceRange(*selection, QStringLiteral("[](%1)").arg(url));
        *selection = {selection->location + 1, 0};
        return true;
    }
    TextRange linked = *selection;
    const QString link = QStringLiteral("[%1](%2)").arg(textOf(&linked), url);
    replaceRange(*selection, link);
    *selection = {selection->location + link.size() - (url.isEmpty() ? 1 : 0), 0};
    return true;
}

bool Typewriter::handleActionShiftRight(TextRange* selection)
{
    const std::vector<Line> all = lines(currentParagraphs(*selection));
    // Lines indented with blanks only take four blanks; a tab anywhere in the indents makes it a tab.
    bool tabs = false, blanks = false;
    for (auto line = all.rbegin(); line != all.rend() && !(tabs && blanks); ++line) {
        const QChar first = line->line.length > 0 ? view().characterAtIndex(line->line.location) : QChar();
        tabs = tabs || first == u'\t';
        blanks = blanks || first == u' ';
    }
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        settleBefore(line->line.end());
        const bool lineTab = line->line.length > 0 && view().characterAtIndex(line->line.location) == u'\t';
        const QString unit = tabs || !blanks || lineTab ? QStringLiteral("\t") : QStringLiteral("    ");
        replaceRangeBeforeCursor({line->line.location, 0}, unit, selection);
    }
    return true;
}

bool Typewriter::handleActionShiftLeft(TextRange* selection)
{
    const std::vector<Line> all = lines(currentParagraphs(*selection));
    for (auto line = all.rbegin(); line != all.rend(); ++line) {
        TextRange head{line->line.location, std::min<qsizetype>(line->line.length, 4)};
        const QString text = textOf(&head);
        qsizetype indent = 0;
        while (indent < text.size() && isBlank(text[indent]))
            ++indent;
        if (indent > 0)
            replaceRangeBeforeCursor({head.location, text[0] == u'\t' ? 1 : indent}, {}, selection);
    }
    return true;
}
