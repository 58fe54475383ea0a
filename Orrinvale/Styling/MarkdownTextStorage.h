#pragma once

#include "Markdown/InlineParser.h"
#include "Themes/TextStorageColors.h"
#include "text/FontFaces.h"
#include "text/TextStorage.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The text store behind the note editor: live Markdown. After every edit it restyles the lines around
// the edit in place (the Markdown symbols stay in the text, dimmed and in a fixed-advance symbol font)
// and never changes a character. The owner sets the seven fonts, the line height and the colours, then
// calls reloadAttributes() before the storage receives text. A font or colour the owner leaves unset
// leaves that attribute unset on the text.
// A change over a long text (a note being opened) styles its first lines at once and the rest in slices
// in posted calls, each short enough to leave the window responsive; until its slice comes, that text
// shows in the main font and colour.
// A key in a very long paragraph does not parse it: the paragraph is restyled once typing pauses, and
// till then the key's units keep the attributes the text gives them (those of the unit beside them).
class MarkdownTextStorage : public TextStorage, public TextStorageColors {
public:
    // Widths and heights come from the metrics (the font layer unless a test gives its own).
    explicit MarkdownTextStorage(const TextMetrics& metrics = FontFaces::metrics());

    // Longer changes are styled a slice at a time; each slice is about this many units.
    static constexpr qsizetype StyledAtOnce = 128 * 1024;
    static constexpr qsizetype SliceLength = 16 * 1024;
    // A change of characters shorter than this into a paragraph longer than this restyles the paragraph
    // once no change has come for the pause.
    static constexpr qsizetype RestyledAfterPause = 16 * 1024;
    static constexpr std::chrono::milliseconds Pause{300};
    // Text waiting for its slice or for the pause; empty when all of the text is styled.
    TextRange unstyledRange() const;
    // Styles the waiting text now (for a copy that must be complete, such as a print).
    void finishStyling();
    qsizetype processedLength() const override { return unstyled_.length > 0 ? unstyled_.location : length(); }

    // The line-height multiple of the paragraph style.
    void setLineHeight(double lineHeightMultiple) { lineHeightMultiple_ = lineHeightMultiple; }
    // Measures the fonts into the parser and builds the fixed-advance symbol font, the fixed line height
    // and the default paragraph style. Text already styled keeps its attributes until it is edited.
    void reloadAttributes();

    const std::optional<Font>& mainFont() const { return mainFont_; }
    const std::optional<Font>& boldFont() const { return boldFont_; }
    const std::optional<Font>& italicFont() const { return italicFont_; }
    const std::optional<Font>& boldItalicFont() const { return boldItalicFont_; }
    const std::optional<Font>& codeFont() const { return codeFont_; }
    const std::optional<Font>& smallCapFont() const { return smallCapFont_; }
    const std::optional<Font>& symbolFont() const { return symbolFont_; }
    const std::optional<Font>& fixedSymbolFont() const { return fixedSymbolFont_; }
    void setMainFont(const std::optional<Font>& font) { mainFont_ = font; }
    void setBoldFont(const std::optional<Font>& font) { boldFont_ = font; }
    void setItalicFont(const std::optional<Font>& font) { italicFont_ = font; }
    void setBoldItalicFont(const std::optional<Font>& font) { boldItalicFont_ = font; }
    void setCodeFont(const std::optional<Font>& font) { codeFont_ = font; }
    // Held for the owner; the styling derives its small fonts from each element's own font.
    void setSmallCapFont(const std::optional<Font>& font) { smallCapFont_ = font; }
    void setSymbolFont(const std::optional<Font>& font) { symbolFont_ = font; }

    const std::optional<Color>& mainColor() const { return mainColor_; }
    const std::optional<Color>& symbolColor() const { return symbolColor_; }
    const std::optional<Color>& listColor() const { return listColor_; }
    const std::optional<Color>& codeColor() const { return codeColor_; }
    const std::optional<Color>& criticAddColor() const { return criticAddColor_; }
    const std::optional<Color>& criticDeleteColor() const { return criticDeleteColor_; }
    const std::optional<Color>& criticSubColor() const { return criticSubColor_; }
    const std::optional<Color>& criticCommentColor() const { return criticCommentColor_; }
    const std::optional<Color>& criticHighlightColor() const { return criticHighlightColor_; }
    void setMainColor(const Color& color) override { mainColor_ = color; }
    void setSymbolColor(const Color& color) override { symbolColor_ = color; }
    void setListColor(const Color& color) override { listColor_ = color; }
    void setCodeColor(const Color& color) override { codeColor_ = color; }
    void setCriticAddColor(const Color& color) override { criticAddColor_ = color; }
    void setCriticDeleteColor(const Color& color) override { criticDeleteColor_ = color; }
    void setCriticSubColor(const Color& color) override { criticSubColor_ = color; }
    void setCriticCommentColor(const Color& color) override { criticCommentColor_ = color; }
    void setCriticHighlightColor(const Color& color) override { criticHighlightColor_ = color; }

    // None until reloadAttributes().
    const std::optional<ParagraphStyle>& defaultParagraphStyle() const { return defaultParagraphStyle_; }

    // Each replaces its attribute over the range; a missing value removes it.
    void setFont(const std::optional<Font>& font, TextRange range);
    void setFontWithEmphasis(int64_t emphasis, TextRange range);
    void setForegroundColor(const std::optional<Color>& color, TextRange range);
    void setLink(const QString& link, TextRange range);
    void setUnderlineStyle(int64_t style, TextRange range);

    // The font for text under the InlineEmphasis flags.
    std::optional<Font> fontWithEmphasis(int64_t emphasis) const;
    // The same face at 0.9 times the size.
    static Font smallCapFontWithFont(const Font& font);
    // Whether a hashtag or mention (sign included) has a letter with case and is all upper case. The
    // note store and the HTML renderer share this rule.
    static bool isStrongTag(const QString& tag);

protected:
    void processEditing() override;

private:
    // A stretch of the line being restyled that has one set of attributes, up to `end`.
    using LineRun = AttributedString::AttributeRun;

    // Keeps waiting text where it is when the change moves it.
    void carry(TextRange& waiting, TextRange edited, qsizetype changeInLength) const;
    // Restyles the lines now, or their first slice now and the rest in slices when they are long.
    void styleLines(TextRange lines, bool characters);
    // For a short change of characters: leaves a long paragraph at either end of the changed units for
    // the pause and gives the lines to style now, if any.
    std::optional<TextRange> linesStyledNow(TextRange changed);
    void styleNextSlice();
    void restyleAfterPause();
    // The line is given within lines_.
    void restyleLine(TextRange lineInLines);
    QString linesText(TextRange range) const { return lines_.mid(range.location - linesStart_, range.length); }
    void styleElement(TextRange range, InlineElement element, TextRange line);
    void styleTag(TextRange range, const QString& host);
    // Changes the attributes of the line being restyled over the range (clipped to the line).
    void change(TextRange range, const std::function<void(TextAttributes&)>& edit);
    // Queues the restyled line, its alike neighbours joined, for writePending().
    void writeLine(TextRange line);
    // Writes the queued lines into the text, from the first piece that differs from what the text has
    // to the last, in one change.
    void writePending();

    const TextMetrics& metrics_;
    double lineHeightMultiple_ = double(1.4f);
    double lineSpacing_ = 24.0; // the fixed line height in points
    std::optional<Font> mainFont_, boldFont_, italicFont_, boldItalicFont_, codeFont_, smallCapFont_, symbolFont_;
    std::optional<Color> codeColor_, mainColor_, symbolColor_, listColor_;
    std::optional<Color> criticAddColor_, criticDeleteColor_, criticSubColor_, criticCommentColor_,
        criticHighlightColor_;
    std::optional<ParagraphStyle> defaultParagraphStyle_;
    std::optional<Font> fixedSymbolFont_;
    InlineParser parser_;
    // The lines being restyled, read out of the text once per pass, and where they start in it.
    QString lines_;
    qsizetype linesStart_ = 0;
    // The line being restyled is built here, apart from the text, so that restyling a line that did
    // not change costs no edits and reports no change.
    std::vector<LineRun> line_;
    qsizetype lineStart_ = 0;
    // Restyled lines waiting to be written, which follow each other from pendingStart_.
    std::vector<LineRun> pending_;
    qsizetype pendingStart_ = 0;
    std::vector<std::pair<qsizetype, const TextAttributes*>> current_; // the text's runs, by end
    TextRange unstyled_{0, 0};
    bool sliceQueued_ = false;
    // The units changed in long paragraphs; their paragraphs are restyled when pause_ fires.
    TextRange afterPause_{0, 0};
    std::unique_ptr<QTimer> pause_;
    // The pass that writes the paragraphs restyled after the pause: they are styled already.
    bool writingRestyle_ = false;
    // A queued slice holds it weakly: the storage may be gone when the slice's turn comes.
    std::shared_ptr<MarkdownTextStorage*> self_ = std::make_shared<MarkdownTextStorage*>(this);
};
