#pragma once

#include "Markdown/InlineParser.h"
#include "Themes/Typeset.h"
#include "text/AttributedString.h"
#include "text/Color.h"

#include <QString>

#include <optional>

// Turns a note's Markdown into HTML in three steps: a pre-pass driven by our own reader rewrites the
// inline extensions CommonMark does not know (strike-through, check boxes, tags, bare addresses, any
// bullet) into plain Markdown with inline HTML; cmark renders it; a post-pass marks to-do items. The
// class operations wrap the fragment into pages. Raw HTML in a note passes through: it is the user's.
class MarkdownFormatter {
public:
    // The fragment alone, no page around it.
    static QString htmlWithMarkdownText(const QString& text);
    // The complete page for printing and export, in the settings' typeface.
    static QString htmlForPrintingWithMarkdownText(const QString& text);
    // The note as formatted text, for the pasteboard.
    static AttributedString attributedStringWithMarkdownText(const QString& text);
    // A page for reading on screen in the settings' colour theme, with a marker near the caret (a UTF-16
    // index; InlineNotFound or below 1 for none) and a script that scrolls to it. Nothing shows it yet.
    static QString htmlForViewingWithMarkdownText(const QString& text, int64_t caret);
    // The text without its Markdown markers, links and images, each line without its leading blanks.
    static QString plainTextWithMarkdownText(const QString& text);

    // "#rrggbb" (alpha ignored); a null string for no colour.
    static QString colorToHex(const std::optional<Color>& color);
    // The preset's size + offset − 4, never below 8.
    static double fontSizeForSizePreset(SizePreset preset, int64_t offset);
    // A tag (sign included) with a cased letter and nothing in lower case.
    static bool isStrongTag(const QString& tag);

    // The pre-pass: the Markdown cmark is given.
    QString markdownForPrintingWithText(const QString& text);
    // The render and the post-pass.
    QString htmlWithMarkdown(const QString& markdown);
    QString plainTextWithText(const QString& text);

private:
    // Walks the elements of every line: `write` appends what replaces an element (nothing drops it) or
    // answers false to leave it, to be copied with the next gap.
    using ElementWriter = bool (*)(QString& out, QStringView content, InlineElement element);
    QString rewrite(const QString& text, ElementWriter write);

    InlineParser parser_;
};
