#include "Export/MarkdownFormatter.h"

#include "Core.h"
#include "Export/RichTextPage.h"
#include "Log.h"
#include "Styling/MarkdownTextStorage.h"
#include "Themes/Themeset.h"
#include "text/FontFaces.h"
#include "text/HtmlImport.h"
#include "BundleInfo.h"

#include <QFile>
#include <QRegularExpression>

#include <cmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

// Appends a visible text with its ASCII punctuation backslash-escaped, so that cmark shows it as
// written ("__init__" in a URL stays, instead of turning bold). Only the characters that can open or
// close CommonMark inline syntax are escaped: the rest render the same, and every escape costs cmark a
// text node of its own.
void appendEscaped(QString& out, QStringView text)
{
    static constexpr std::string_view Punctuation = "\\`*_[]<&";
    for (const QChar c : text) {
        if (c.unicode() < 0x80 && Punctuation.find(char(c.unicode())) != std::string_view::npos)
            out += QLatin1Char('\\');
        out += c;
    }
}

template <typename... Parts>
void append(QString& out, const Parts&... parts)
{
    ((out += parts), ...);
}

// <a href="brindlewick://KIND/TAG" class="KIND tag[ strong]">#TAG</a>, the sign dropped from the href.
void appendTagAnchor(QString& out, QStringView kind, QStringView tag)
{
    append(out, u"<a href=\"brindlewick://", kind, u"/", tag.mid(1), u"\" class=\"", kind);
    out += MarkdownFormatter::isStrongTag(tag.toString()) ? u" tag strong\">" : u" tag\">";
    appendEscaped(out, tag);
    out += u"</a>";
}

// <a href="HREF">TEXT</a>
void appendAnchor(QString& out, QStringView scheme, QStringView text)
{
    append(out, u"<a href=\"", scheme, text, u"\">");
    appendEscaped(out, text);
    out += u"</a>";
}

bool isCommonMarkBullet(QChar c)
{
    return c == QLatin1Char('*') || c == QLatin1Char('+') || c == QLatin1Char('-');
}

// Each lone surrogate becomes U+FFFD, so the UTF-8 cmark gets is valid.
QString withoutLoneSurrogates(const QString& text)
{
    if (QStringView(text).isValidUtf16())
        return text;
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

void logCmarkVersionOnce()
{
    static const bool logged = [] {
        LogInfo("html:cmark %1", cmark_version_string());
        return true;
    }();
    (void)logged;
}

// What the settings make of a page: the typeface, the size S and the typeface's line height at S.
struct PageLook {
    TypefaceID typeface;
    int64_t size;
    double lineHeight;
};

PageLook currentLook()
{
    const Core& core = Core::shared();
    const TypefaceID typeface = core.typeFace();
    const auto size = int64_t(MarkdownFormatter::fontSizeForSizePreset(core.typeSize(), core.typeSizeOffset()));
    return {typeface, size, Typeset::lineHeightForTypeface(typeface, size)};
}

QString lineHeight(double multiple, float factor)
{
    return QString::asprintf("line-height: %.1fem;", multiple * double(factor));
}

QString fontFamily(const QString& postScriptName)
{
    return QStringLiteral("font-family: \"%1\";").arg(FontFaces::familyForPostScriptName(postScriptName));
}

QString strikeColorRule(ThemeID theme)
{
    return QStringLiteral(".strike, .strike-text { color: %1 }")
        .arg(MarkdownFormatter::colorToHex(Themeset::symbolColorForTheme(theme)));
}

QString generatorMeta()
{
    return QStringLiteral("<meta name=\"generator\" content=\"Brindlewick %1 (%2)\">")
        .arg(BundleInfo::shortVersion(), BundleInfo::buildNumber());
}

QString codeRule(const PageLook& look)
{
    return QStringLiteral("code {") + fontFamily(Typeset::codeFontNameForTypeface(look.typeface)) +
           lineHeight(look.lineHeight, 1.07f) + QStringLiteral("}");
}

QString printStyleSheet()
{
    QFile file(QStringLiteral(":/print.css"));
    if (!file.open(QIODevice::ReadOnly)) {
        LogError("html:print style sheet unreadable");
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// Writes what replaces the element (nothing drops it); false leaves it to be copied with the next gap.
bool writePrintingElement(QString& out, QStringView content, InlineElement element)
{
    switch (element) {
    case InlineElementHTMLTag:
        for (const QChar c : content)
            out += c == QChar(0x201C) || c == QChar(0x201D) ? QChar(u'"') : c;
        return true;
    case InlineElementStrikeSymbol:
    case InlineElementAsteriskSymbol:
    case InlineElementUnderscoreSymbol:
    case InlineElementCheckboxBracket:
        return true;
    case InlineElementStrikeText:
        append(out, u"<span class=\"strike\"><span class=\"strike-text\">", content, u"</span></span>");
        return true;
    case InlineElementAsteriskItalicText:
    case InlineElementUnderscoreItalicText:
        append(out, u"<em>", content, u"</em>");
        return true;
    case InlineElementAsteriskBoldText:
    case InlineElementUnderscoreBoldText:
        append(out, u"<strong>", content, u"</strong>");
        return true;
    case InlineElementAsteriskBoldItalicText:
    case InlineElementUnderscoreBoldItalicText:
        append(out, u"<strong><em>", content, u"</em></strong>");
        return true;
    case InlineElementUnorderedListBullet:
        if (content.isEmpty() || isCommonMarkBullet(content.front()))
            return false;
        out += QLatin1Char('*');
        return true;
    case InlineElementCheckboxMarkUncompleted:
        out += u" <span class=\"checkbox uncompleted\">&#x2610;</span> ";
        return true;
    case InlineElementCheckboxMarkCompleted:
        out += u" <span class=\"checkbox completed\">&#x2612;</span> ";
        return true;
    case InlineElementHashtag:
        appendTagAnchor(out, u"hashtag", content);
        return true;
    case InlineElementMention:
        appendTagAnchor(out, u"mention", content);
        return true;
    case InlineElementEmail:
        appendAnchor(out, u"mailto:", content);
        return true;
    case InlineElementURL:
        appendAnchor(out, u"", content);
        return true;
    default:
        return false;
    }
}

// Markers, rules, tags, links and images, list bullets and check boxes go; their text stays.
bool dropMarkup(QString&, QStringView, InlineElement element)
{
    switch (element) {
    case InlineElementRuleLine:
    case InlineElementRuleSymbol:
    case InlineElementHeadingOpenSymbol:
    case InlineElementHeadingCloseSymbol:
    case InlineElementQuoteSymbol:
    case InlineElementHTMLTag:
    case InlineElementStrikeSymbol:
    case InlineElementAutolinkSymbol:
    case InlineElementInlineLink:
    case InlineElementInlineImage:
    case InlineElementReferenceLink:
    case InlineElementReferenceImage:
    case InlineElementAsteriskSymbol:
    case InlineElementUnderscoreSymbol:
    case InlineElementUnorderedListBullet:
    case InlineElementOrderedListDelimiter:
    case InlineElementOrderedListNumber:
    case InlineElementCheckboxBracket:
    case InlineElementCheckboxMarkUncompleted:
    case InlineElementCheckboxMarkCompleted:
        return true;
    default:
        return false;
    }
}

} // namespace

QString MarkdownFormatter::htmlWithMarkdownText(const QString& text)
{
    MarkdownFormatter formatter;
    return formatter.htmlWithMarkdown(formatter.markdownForPrintingWithText(text));
}

QString MarkdownFormatter::htmlForPrintingWithMarkdownText(const QString& text)
{
    const PageLook look = currentLook();
    QString page = QStringLiteral("<html><head><meta charset=\"UTF-8\">") + generatorMeta();
    page += QStringLiteral("<style type=\"text/css\">body {") + lineHeight(look.lineHeight, 1.1f) +
            fontFamily(Typeset::regularFontNameForTypeface(look.typeface)) + QStringLiteral("font-size: 16px;}");
    page += codeRule(look);
    page += QStringLiteral(".tag, a {color: #0099ff}") + strikeColorRule(0) + printStyleSheet();
    page += QStringLiteral("</style></head><body>") + htmlWithMarkdownText(text) + QStringLiteral("</body></html>");
    return page;
}

QString MarkdownFormatter::htmlForViewingWithMarkdownText(const QString& text, int64_t caret)
{
    const PageLook look = currentLook();
    const ThemeID theme = Core::shared().colorTheme();
    const QString background = colorToHex(Themeset::backgroundColorForTheme(theme));
    const QString textColor = colorToHex(Themeset::textColorForTheme(theme));
    QString page = QStringLiteral("<html><head><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                                  "<meta charset=\"UTF-8\">") +
                   generatorMeta();
    page += QStringLiteral("<style type=\"text/css\">body {") + fontFamily(Typeset::regularFontNameForTypeface(look.typeface)) +
            QStringLiteral("}") + codeRule(look) + printStyleSheet();
    page += QStringLiteral("html,body {background: %1;color: %2;}").arg(background, textColor);
    page += QStringLiteral("ul > li .checkbox {background: %1; %2}")
                .arg(background, look.typeface == 1 ? QStringLiteral("margin-top: -.4em;") : QStringLiteral("margin-top: -.15em;"));
    page += QStringLiteral("hr { border-color: %1 }").arg(colorToHex(Themeset::symbolColorForTheme(theme)));
    page += QStringLiteral("blockquote cite,blockquote p,h1,h2,h3,h4,h5,h6 {color: %1;}body {font-size: 16px;}").arg(textColor);
    page += QStringLiteral(".tag, a {color: %1}").arg(colorToHex(Themeset::listColorForTheme(theme))) + strikeColorRule(theme);
    page += QStringLiteral("</style></head><body>");
    if (caret == InlineNotFound || caret < 1) {
        page += htmlWithMarkdownText(text);
    } else {
        // Near a line break the marker goes before the line's last character, where cmark keeps it
        // inside the line's own element; a caret past the end marks the end.
        const QChar marker(0x200B);
        QString marked = QString(text).remove(marker);
        const int64_t length = marked.size();
        const int64_t from = std::min(std::max<int64_t>(caret - 5, 0), length);
        const int64_t to = std::min(caret + 5, length);
        const qsizetype lineFeed = QStringView(marked).mid(from, to - from).indexOf(QLatin1Char('\n'));
        marked.insert(lineFeed < 0 ? std::min(caret, length) : std::max<int64_t>(from + lineFeed - 1, 0), marker);
        page += htmlWithMarkdownText(marked).replace(marker, QStringLiteral("<b id=\"kt9vrstart\"></b>"));
        page += QStringLiteral("<script>window.scrollTo(0, document.getElementById('kt9vrstart').getBoundingClientRect().top);</script>");
    }
    page += QStringLiteral("</body></html>");
    return page;
}

AttributedString MarkdownFormatter::attributedStringWithMarkdownText(const QString& text)
{
    const PageLook look = currentLook();
    const auto rule = [](const QString& selector, const QString& postScriptName) {
        return selector + QStringLiteral(" { ") + fontFamily(postScriptName) + QStringLiteral("}\n");
    };
    QString page = QStringLiteral("<html><head><style>body {") + lineHeight(look.lineHeight, 1.1f) +
                   QStringLiteral("\n") + fontFamily(Typeset::regularFontNameForTypeface(look.typeface)) +
                   QStringLiteral("\nfont-size: %1px;\n}").arg(look.size);
    page += QStringLiteral("code {") + fontFamily(Typeset::codeFontNameForTypeface(look.typeface)) +
            QStringLiteral("\n") + lineHeight(look.lineHeight, 1.07f) + QStringLiteral("\n}");
    page += QStringLiteral("h1,h2,h3,h4 {font-weight: 500}");
    page += rule(QStringLiteral("strong"), Typeset::boldFontNameForTypeface(look.typeface));
    page += rule(QStringLiteral("em"), Typeset::italicFontNameForTypeface(look.typeface));
    page += rule(QStringLiteral("strong em, em strong"), Typeset::boldItalicFontNameForTypeface(look.typeface));
    page += QStringLiteral(".strike { text-decoration:line-through; }") + strikeColorRule(0);
    page += QStringLiteral("</style></head><body>") + htmlWithMarkdownText(text) + QStringLiteral("</body></html>");
    return HtmlImport::attributedStringWithHTML(RichTextPage::withNestingCapped(page));
}

QString MarkdownFormatter::plainTextWithMarkdownText(const QString& text)
{
    return MarkdownFormatter().plainTextWithText(text);
}

QString MarkdownFormatter::colorToHex(const std::optional<Color>& color)
{
    if (!color)
        return {};
    const auto byte = [](double component) {
        return std::clamp(int(std::lround(float(component) * 255.0f)), 0, 255);
    };
    return QString::asprintf("#%02x%02x%02x", byte(color->red), byte(color->green), byte(color->blue));
}

double MarkdownFormatter::fontSizeForSizePreset(SizePreset preset, int64_t offset)
{
    const int64_t size = Typeset::fontSizeForSizePreset(preset) + offset - 4;
    return double(size >= 9 ? size : 8);
}

bool MarkdownFormatter::isStrongTag(const QString& tag)
{
    return MarkdownTextStorage::isStrongTag(tag);
}

QString MarkdownFormatter::markdownForPrintingWithText(const QString& text)
{
    return rewrite(text, writePrintingElement);
}

QString MarkdownFormatter::plainTextWithText(const QString& text)
{
    static const QRegularExpression leadingBlanks(QStringLiteral("^[ \t]+"), QRegularExpression::MultilineOption);
    return rewrite(text, dropMarkup).remove(leadingBlanks);
}

QString MarkdownFormatter::rewrite(const QString& text, ElementWriter write)
{
    QString out;
    out.reserve(text.size() * 2);
    QString written;
    int64_t cursor = 0;
    // An element left as it is copies nothing yet: the reader reports the underscores inside an
    // address before the address, whose text would otherwise be copied twice.
    const InlineCallback element = [&](const InlineRange& range, InlineElement type) {
        written.truncate(0);
        if (!write(written, QStringView(text).mid(range.location, range.length), type))
            return;
        if (range.location > cursor) {
            out += QStringView(text).mid(cursor, range.location - cursor);
            cursor = range.location;
        }
        out += written;
        cursor = std::max(cursor, range.end());
    };
    parser_.enumerateParagraph(text, {0, text.size()}, [&](const InlineRange& line, bool*) {
        parser_.parseBlockAndInline(text, line, element);
    });
    if (cursor < text.size())
        out += QStringView(text).mid(cursor);
    return out;
}

QString MarkdownFormatter::htmlWithMarkdown(const QString& markdown)
{
    logCmarkVersionOnce();
    const QByteArray bytes = withoutLoneSurrogates(markdown).toUtf8();
    const qsizetype nul = bytes.indexOf('\0');
    const size_t length = size_t(nul < 0 ? bytes.size() : nul);
    char* html = cmark_markdown_to_html(bytes.constData(), length, CMARK_OPT_UNSAFE);
    QString fragment = QString::fromUtf8(html);
    std::free(html);
    return fragment.replace(QStringLiteral("<li><span class=\"checkbox"),
                            QStringLiteral("<li class=\"task\"><span class=\"checkbox"));
}
