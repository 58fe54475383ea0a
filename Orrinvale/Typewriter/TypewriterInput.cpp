#include "Typewriter/Typewriter.h"

#include "Typewriter/TypewriterText.h"

#include <iterator>

using namespace TypewriterText;

namespace {

// A key of the extra key row: what it types where something opens, where something closes, and
// whether it wraps a selection.
struct Button {
    const char16_t* open;
    const char16_t* close;
    bool wraps;
};

constexpr int64_t tabButton = 0;
constexpr int64_t asteriskButton = 4;

constexpr Button buttons[] = {
    {u"\t", u"\t", false}, {u"#", u"#", false},           {u";", u";", false},   {u":", u":", false},
    {u"*", u"*", false},   {u"/", u"/", false},           {u"\u201C", u"\u201D", true},
    {u"[", u"]", true},    {u"(", u")", true},            {u"-", u"-", false},   {u"+", u"+", false},
    {u"@", u"@", false},   {u"<", u"<", false},           {u">", u">", false},   {u"?", u"?", false},
    {u",", u",", false},   {u"'", u"'", true},
};

// Quotes and brackets open at a line start, after white space or after another opening.
bool opensAfter(qsizetype index, QChar before)
{
    if (index == 0)
        return true;
    return before.isSpace() || QStringView(u"([{\u201C<").contains(before);
}

QChar closingBracket(QChar open)
{
    switch (open.unicode()) {
    case u'(':
        return u')';
    case u'[':
        return u']';
    case u'{':
        return u'}';
    default:
        return {};
    }
}

// How much of the word's start the text already holds just before `index`, as a word of its own.
qsizetype typedStart(const QString& text, qsizetype index, const QString& word)
{
    for (qsizetype length = std::min(word.size(), index); length > 0; --length) {
        const qsizetype start = index - length;
        if (start > 0 && text[start - 1].isLetterOrNumber())
            continue;
        if (QStringView(text).sliced(start, length).compare(QStringView(word).first(length), Qt::CaseInsensitive) == 0)
            return length;
    }
    return 0;
}

} // namespace

void Typewriter::write(const QString& text, TextRange* range)
{
    if (!handleChangeTextInRange(range, text))
        type(text, range);
}

bool Typewriter::handleButton(int64_t button, TextRange* range)
{
    if (button < 0 || button >= int64_t(std::size(buttons)))
        return false;
    *range = clipped(*range, view().length());
    EditSession session(*this);
    resetState();
    if (button == asteriskButton)
        return handleAsteriskInRange(range);
    if (button == tabButton && handleEnterTabInRange(range))
        return true;
    const Button& key = buttons[button];
    if (key.wraps && range->length > 0)
        wrap(range, QString::fromUtf16(key.open), QString::fromUtf16(key.close));
    else {
        flush();
        const bool opens = opensAfter(range->location, view().characterAtIndex(range->location - 1));
        type(QString::fromUtf16(opens ? key.open : key.close), range);
    }
    return true;
}

bool Typewriter::handleAsteriskInRange(TextRange* range)
{
    *range = clipped(*range, view().length());
    EditSession session(*this);
    if (range->length == 0) {
        type(QStringLiteral("*"), range);
        resetState();
        return true;
    }
    wrap(range, QStringLiteral("*"), QStringLiteral("*"));
    enterState(TypewriterStateAsteriskWrap, *range);
    return true;
}

void Typewriter::wrap(TextRange* selection, const QString& open, const QString& close)
{
    TextRange range = *selection;
    const QString held = textOf(&range);
    replaceRange(*selection, open + held + close);
    selection->length += open.size() + close.size();
}

bool Typewriter::handleSuggestWord(const QString& word, int64_t options, TextRange* range)
{
    if (word.isEmpty())
        return false;
    EditSession session(*this);
    resetState();
    flush();
    const QString& text = base();
    const TextRange selection = clipped(*range, text.size());
    qsizetype start = selection.location, end = selection.end();
    if ((options & TypewriterSuggestBareSymbol) && start >= 2 && text[start - 1] == u' ' &&
        (text[start - 2] == u'-' || text[start - 2] == u'*'))
        --start;
    if (options & TypewriterSuggestMatchStart)
        start -= typedStart(text, start, word);
    if ((options & TypewriterSuggestUnbracket) && start > 0 && end < text.size() &&
        !closingBracket(text[start - 1]).isNull() && closingBracket(text[start - 1]) == text[end]) {
        --start;
        ++end;
    }
    if (options & TypewriterSuggestSingleBlank) {
        if (word.endsWith(u' ') && end < text.size() && text[end] == u' ')
            ++end;
        if (word.startsWith(u' ') && start > 0 && text[start - 1] == u' ')
            --start;
    }
    *range = {start, end - start};
    type(word, range);
    return true;
}
