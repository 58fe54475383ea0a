#include "Snippets/SnippetFormatter.h"

#include "Markdown/InlineParser.h"
#include "Store/ListItem.h"
#include "Store/Note.h"

#include "Log.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <exception>

namespace {

using Snapshot = std::shared_ptr<const SnippetFormatter::Style>;

TextAttributes run(const Font& font, std::optional<Color> color)
{
    TextAttributes attributes;
    attributes.font = font;
    attributes.foregroundColor = color;
    return attributes;
}

void append(AttributedString& text, const QString& part, const TextAttributes& attributes)
{
    const qsizetype start = text.length();
    text.replaceCharacters({start, 0}, part);
    text.setAttributes(attributes, {start, part.size()});
}

// Colours each letter of the query at its next place in the text, in order; letters with no later
// place are skipped.
void highlight(AttributedString& text, const QString& query, const Color& strong)
{
    const QString lowerQuery = query.toLower();
    const QString lowerText = text.string().toLower();
    const qsizetype limit = std::min(lowerText.size(), text.length());
    TextAttributes mark;
    mark.foregroundColor = strong;
    qsizetype from = 0;
    for (const QChar c : lowerQuery) {
        const qsizetype at = lowerText.indexOf(c, from);
        if (at < 0 || at >= limit)
            continue;
        text.addAttributes(mark, {at, 1});
        from = at + 1;
    }
}

// "[word]" becomes "word" in bold, its "#" or "@" sign included. A mark runs from a "[" to the next
// "]", so "[[a]]" shows "[a]" with "[a" marked; a lone "[" or "]" stays as text.
void markSearchWords(AttributedString& text, const SnippetFormatter::Style& style)
{
    static const QRegularExpression keyword(QStringLiteral("\\[([^\\]]*)\\]"));
    const QString copy = text.string();
    TextAttributes mark = run(style.boldFont, style.searchStrongColor);
    qsizetype removed = 0;
    for (auto it = keyword.globalMatch(copy); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const qsizetype loc = match.capturedStart();
        const qsizetype len = match.capturedLength();
        const qsizetype pos = loc - removed;
        text.replaceCharacters({pos, len}, match.captured(1));
        TextRange marked{pos, len - 2};
        if (loc > 0 && (copy[loc - 1] == u'#' || copy[loc - 1] == u'@'))
            marked = {pos - 1, len - 1};
        text.addAttributes(mark, marked);
        removed += 2;
    }
}

// List lines hang their bullet left of the text; a done to-do line ("~" at its end) is struck
// through and its "~" hidden.
void adjustIndent(AttributedString& text, const SnippetFormatter::Style& style)
{
    InlineParser parser;
    const QString string = text.string();
    TextAttributes bullet = run(style.codeFont, style.symbolColor);
    TextAttributes done;
    done.foregroundColor = style.symbolColor;
    done.strikethroughStyle = 1;
    TextAttributes clear;
    clear.foregroundColor = Color{0, 0, 0, 0};
    parser.enumerateParagraph(string, {0, string.size()}, [&](const InlineRange& paragraph, bool*) {
        const qsizetype start = paragraph.location;
        TextAttributes paragraphStyle;
        paragraphStyle.paragraphStyle = style.normalStyle;
        if (paragraph.length > 2 && InlineParser::isUnorderedListBullet(string[start].unicode())
            && string[start + 1].isSpace()) {
            text.addAttributes(bullet, {start, 1});
            qsizetype end = paragraph.end();
            if (string[end - 1] == u'\n')
                --end;
            if (end - 1 >= start + 2 && string[end - 1] == u'~') {
                text.addAttributes(clear, {end - 1, 1});
                text.addAttributes(done, {start + 2, end - 1 - (start + 2)});
            }
            paragraphStyle.paragraphStyle = style.listStyle;
        }
        text.addAttributes(paragraphStyle, {start, paragraph.length});
    });
}

AttributedString finished(AttributedString text, const SnippetFormatter::Style& style)
{
    adjustIndent(text, style);
    return text;
}

QString localized(const char* text)
{
    return QCoreApplication::translate("SnippetFormatter", text);
}

} // namespace

SnippetFormatter::SnippetFormatter(const TextMetrics& metrics, HeaderReader readHeader)
    : metrics_(metrics), readHeader_(std::move(readHeader)), style_(std::make_shared<const Style>())
{
    if (!readHeader_)
        readHeader_ = [](Note& note, Error* error) { return note.restoreHeader(error); };
}

void SnippetFormatter::reloadFonts(SizePreset preset, ThemeID theme)
{
    constexpr TypefaceID typeface = 0; // list texts keep the first typeface, whatever the editor's
    const int64_t size = Typeset::fontSizeForSizePreset(preset) - 6;
    auto style = std::make_shared<Style>();
    style->regularFont = Typeset::regularFontForTypeface(typeface, size);
    style->boldFont = Typeset::boldFontForTypeface(typeface, size);
    style->italicFont = Typeset::italicFontForTypeface(typeface, size);
    style->bigFont = Typeset::boldFontForTypeface(typeface, size + 4);
    style->codeFont = Typeset::codeFontForTypeface(typeface, size);
    if (style->codeFont.postScriptName.isEmpty())
        style->codeFont = style->regularFont;
    style->boldColor = Themeset::snippetTitleColorForTheme(theme);
    style->textColor = Themeset::snippetColorForTheme(theme);
    style->symbolColor = Themeset::snippetSymbolColorForTheme(theme);
    style->searchColor = Themeset::snippetSearchColorForTheme(theme);
    style->searchStrongColor = Themeset::snippetSearchStrongColorForTheme(theme);
    style->trashColor = Themeset::trashButtonColorForTheme(theme);
    style->symbolWidth = metrics_.sizeOfString(QStringLiteral("+"), style->codeFont).width();
    style->spaceWidth = metrics_.sizeOfString(QStringLiteral(" "), style->regularFont).width();
    const double hang = style->symbolWidth - 16 + style->spaceWidth;
    style->indent = hang > 0 ? hang + 40 : 40;
    style->normalStyle.firstLineHeadIndent = style->indent;
    style->normalStyle.headIndent = style->indent;
    style->listStyle.firstLineHeadIndent = style->indent - (style->spaceWidth + style->symbolWidth);
    style->listStyle.headIndent = style->indent;
    style_.store(std::move(style));
}

AttributedString SnippetFormatter::newSnippetWithNote(const QString& title, const QString& summary) const
{
    return newSnippetWithNote(title, summary, QString());
}

AttributedString SnippetFormatter::newSnippetWithNote(const QString& title, const QString& summary,
                                                      const QString& titleQuery) const
{
    const Snapshot style = style_.load();
    AttributedString text;
    if (title.isEmpty()) {
        append(text, localized("New Note..."), run(style->italicFont, style->textColor));
        return finished(std::move(text), *style);
    }
    append(text, title, run(style->boldFont, style->boldColor));
    if (!titleQuery.isEmpty())
        highlight(text, titleQuery, style->searchStrongColor);
    if (!summary.isEmpty())
        append(text, QLatin1Char('\n') + summary, run(style->regularFont, style->textColor));
    return finished(std::move(text), *style);
}

AttributedString SnippetFormatter::newSnippetWithHashtagOrMention(const QString& name, const QString& query) const
{
    const Snapshot style = style_.load();
    AttributedString text;
    if (name.isEmpty())
        return finished(std::move(text), *style);
    append(text, name, run(style->bigFont, style->textColor));
    highlight(text, query, style->searchStrongColor);
    return finished(std::move(text), *style);
}

AttributedString SnippetFormatter::newSnippetWithSearchTitle(const QString& title, const QString& snippet) const
{
    const Snapshot style = style_.load();
    AttributedString text;
    append(text, title, run(style->boldFont, style->searchColor));
    if (!snippet.isEmpty()) {
        append(text, QStringLiteral("\n"), run(style->regularFont, std::nullopt));
        append(text, snippet, run(style->regularFont, style->searchColor));
    }
    markSearchWords(text, *style);
    return finished(std::move(text), *style);
}

AttributedString SnippetFormatter::newQuickOpenSnippet(const QString& snippet, const QString& summary) const
{
    const Snapshot style = style_.load();
    AttributedString text;
    append(text, snippet, run(style->boldFont, style->searchColor));
    markSearchWords(text, *style);
    if (!summary.isEmpty())
        append(text, QLatin1Char('\n') + summary, run(style->regularFont, style->searchColor));
    return finished(std::move(text), *style);
}

AttributedString SnippetFormatter::newSnippetWithDeletedNote(const Note& note, const QString& since) const
{
    const Snapshot style = style_.load();
    AttributedString text;
    const QString title = note.title();
    append(text, title.isEmpty() ? localized("Untitled") : title, run(style->boldFont, style->boldColor));
    append(text, QStringLiteral(" \u2022 %1\n").arg(since), run(style->regularFont, style->trashColor));
    if (const QString summary = note.summary(); !summary.isEmpty())
        append(text, summary, run(style->regularFont, style->textColor));
    return finished(std::move(text), *style);
}

void SnippetFormatter::restoreListItemAttributeText(ListItem& item) const
{
    const auto readNote = [&] {
        auto note = std::make_shared<Note>(item.key(), item.storage());
        Error error;
        if (!readHeader_(*note, &error))
            LogError("snippet:reload error: %1", error.localizedDescription());
        return note;
    };
    try {
        AttributedString text;
        switch (item.tag()) {
        case ListItemTitleMatch:
            text = newQuickOpenSnippet(item.snippet(), readNote()->summary());
            break;
        case ListItemContentMatch:
            text = newSnippetWithSearchTitle(item.title(), item.snippet());
            break;
        case ListItemFuzzyMatch: {
            const NotePtr note = readNote();
            const QString query = item.title();
            item.setTitle(note->title());
            text = newSnippetWithNote(note->title(), note->summary(), query);
            break;
        }
        case ListItemTagEntry:
            text = newSnippetWithHashtagOrMention(item.title(), item.snippet());
            break;
        default: {
            const NotePtr note = readNote();
            item.setTitle(note->title());
            text = newSnippetWithNote(note->title(), note->summary());
        }
        }
        item.setAttributedText(std::make_shared<const AttributedString>(std::move(text)));
    } catch (const std::exception& exception) {
        LogError("snippet:reload error error %1", QString::fromUtf8(exception.what()));
    }
}
