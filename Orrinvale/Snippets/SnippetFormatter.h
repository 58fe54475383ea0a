#pragma once

#include "Themes/Themeset.h"
#include "Themes/Typeset.h"

#include "text/AttributedString.h"
#include "text/FontFaces.h"

#include <atomic>
#include <functional>
#include <memory>

struct Error;
class ListItem;
class Note;

// Builds the styled texts of the note list's and quick open's rows: a note's title and summary, a
// search hit with its matched words marked, a tag or storage entry with the typed letters marked.
//
// The pane calls reloadFonts() on the main thread; rows may be built at the same time on the file
// queue. Each build reads one Style snapshot, so a reload never changes fonts under a build.
class SnippetFormatter {
public:
    struct Style {
        Font regularFont, boldFont, italicFont, bigFont, codeFont;
        Color textColor;         // body text
        Color symbolColor;       // list bullets, done to-do text
        Color boldColor;         // note titles
        Color searchColor;       // text of search hits
        Color searchStrongColor; // matched words and letters
        Color trashColor;        // the "since" text of a deleted note
        double spaceWidth = 0;   // " " in the regular font
        double symbolWidth = 0;  // "+" in the code font
        double indent = 0;       // of every paragraph
        ParagraphStyle normalStyle;
        ParagraphStyle listStyle; // bullet and its blank hang left of the text
    };
    // Reads a note's title and summary; false with the error on failure.
    using HeaderReader = std::function<bool(Note& note, Error* error)>;

    explicit SnippetFormatter(const TextMetrics& metrics = FontFaces::metrics(), HeaderReader readHeader = {});

    // Fonts 6 points below the preset's size, colours of the theme.
    void reloadFonts(SizePreset preset, ThemeID theme);
    std::shared_ptr<const Style> style() const { return style_.load(); }

    // Sets the item's styled text by its tag (and, for note rows, its title). A failure is logged and
    // the item keeps the text it had.
    void restoreListItemAttributeText(ListItem& item) const;

    AttributedString newSnippetWithNote(const QString& title, const QString& summary) const;
    AttributedString newSnippetWithNote(const QString& title, const QString& summary, const QString& titleQuery) const;
    AttributedString newSnippetWithHashtagOrMention(const QString& name, const QString& query) const;
    // Words of the snippet in square brackets are shown bold, without the brackets.
    AttributedString newSnippetWithSearchTitle(const QString& title, const QString& snippet) const;
    AttributedString newQuickOpenSnippet(const QString& snippet, const QString& summary) const;
    // The title (or "Untitled"), " • " and the text in the trash button's colour, then the summary.
    AttributedString newSnippetWithDeletedNote(const Note& note, const QString& since) const;

private:
    const TextMetrics& metrics_;
    HeaderReader readHeader_;
    std::atomic<std::shared_ptr<const Style>> style_;
};
