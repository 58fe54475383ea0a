#pragma once

#include "text/TextStorage.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QTextCharFormat>
#include <QTextEdit>
#include <QTextLayout>

#include <functional>
#include <optional>
#include <vector>

class TextView;

class TextViewDelegate {
public:
    virtual ~TextViewDelegate() = default;
    // Asked before every user edit (keys, input methods, paste, drop); NO leaves the text as it is.
    virtual bool textViewShouldChangeTextInRanges(TextView& view, const QList<TextRange>& ranges,
                                                  const QStringList& replacementStrings) = 0;
};

// A text view on a Qt text widget that shows a TextStorage. The widget's document mirrors the storage
// one UTF-16 unit for one position, with block formats for the paragraph styles; the character formats
// of the runs (fonts, colours, anchors and tool tips for links) go to each block's layout as it is laid
// out, or into the document too when it is to be copied (see setFormatsInDocument). User edits never
// reach the document directly: they go to the delegate and then to the storage, whose changes come
// back through the mirror.
// Whatever the widget changes on its own is carried into the storage, so the two never diverge.
// A long text is mirrored from its start a slice at a time (see FillSlice).
// Undo is left to the owner: the widget keeps none.
class TextView : public QTextEdit, private TextStorageObserver {
public:
    explicit TextView(QWidget* parent = nullptr);
    ~TextView() override;

    // Not owned; it must outlive the view or be replaced first.
    void setTextStorage(TextStorage* storage);
    TextStorage* textStorage() const { return storage_; }
    void setDelegate(TextViewDelegate* delegate) { delegate_ = delegate; }

    // What an empty line or a run without these attributes shows.
    void setDefaultParagraphStyle(const std::optional<ParagraphStyle>& style);
    void setDefaultFont(const std::optional<Font>& font);

    // The character formats go into the document as well as the layouts: for a view whose document is
    // copied (printed, turned into rich text), not for one that is only looked at, where one fragment
    // per run of a format would take more than the text itself.
    void setFormatsInDocument(bool inDocument);

    // Space left and right of the text, and above and below it; kept when the document is rebuilt.
    void setTextContainerInset(double width, double height);

    // The link under the viewport point, read from the storage: the widget's own look-up walks every
    // block above the point.
    QString anchorAt(const QPoint& position) const;

    // The font an input method is told of is that at the caret, read from the storage.
    using QTextEdit::inputMethodQuery;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

    TextRange selectedRange() const;
    // Puts the text up to the range's end into the document first.
    void setSelectedRange(TextRange range);

    // A long text goes into the document a slice at a time in posted calls, the first at once, so
    // that opening it never holds the window up for long; mirroredLength() is how much is in so far.
    static constexpr qsizetype FillSlice = 32 * 1024;
    static constexpr qsizetype FilledAtOnce = 128 * 1024;
    qsizetype mirroredLength() const { return mirrored_; }
    // Puts the text up to the position (and a slice after it) into the document now.
    void ensureMirrored(qsizetype position);
    // All of the text, not only what the document holds so far.
    void selectAll();
    // The character formats made for the storage's attribute sets are kept, up to this many: a note
    // of many tags or links has as many sets, and all of them kept would outgrow the text and hold the
    // view's teardown at quit for seconds.
    static constexpr qsizetype FormatsKept = 4096;
    qsizetype keptFormatsCount() const { return formats_.size(); }
    // A line longer than LongLine shows as pieces of about PieceLength units, each a block of its own
    // that ends at a space or tab standing as the break: a key lays out its piece, not the whole line.
    // Each piece wraps on its own, so a line may end short where a piece ends. A piece that grows past
    // twice the length is split again at one of its wraps.
    static constexpr qsizetype LongLine = 16 * 1024;
    static constexpr qsizetype PieceLength = 512;
    // Lays out the lines a viewport's height above and below the position. Scrolled to with their
    // estimated heights, the lines above would move the position once drawn and the next key would
    // scroll; those below would change the scroll bar after the paint, a loop turn later.
    void layOutAround(qsizetype position);

    // Offers the change to the delegate and, when it agrees, makes it in the storage; the caret ends
    // after the last replacement. The path of every user edit.
    bool changeTextInRanges(const QList<TextRange>& ranges, const QStringList& replacementStrings);

protected:
    // The order changeTextInRanges() makes the replacements in: from the last range to the first, so
    // that the earlier ranges stay where they were.
    static QList<qsizetype> replacementOrder(const QList<TextRange>& ranges);

    // Tool tips of links, check boxes and tags are the storage's.
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    // Copies and drags carry the storage's own units, not the document's stand-ins for them.
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dropEvent(QDropEvent* event) override;

private:
    void textStorageDidProcessEditing(TextStorage& storage, int editedMask, TextRange editedRange,
                                      qsizetype changeInLength) override;
    // Brings the document's span that held `oldLength` units at the range's start in line with the
    // storage's range: the differing characters first, then every format over the range.
    void mirror(TextRange range, qsizetype oldLength);
    void mirrorEverything();
    // Takes the document's text from the position on out, to go in again.
    void cutBackTo(qsizetype position);
    // Puts the storage's text from the end of the document up to the line end at or after `end` in.
    void fillTo(qsizetype end);
    // Posts the next slice while some processed text is still out.
    void queueFill();
    // Puts the inset on the document's root frame, unless it is there already.
    void applyInset();
    void insertMirrored(QTextCursor& cursor, TextRange range);
    void mirrorFormats(QTextCursor& cursor, TextRange range);
    // The formats a block's layout shows its text in.
    QList<QTextLayout::FormatRange> characterFormats(const QTextBlock& block);
    // Calls the block for each stretch of the range that shows in one character format, with the
    // attributes it shows.
    void forEachFormat(TextRange range, const std::function<void(qsizetype from, qsizetype to, const QTextCharFormat& format,
                                                                 const TextAttributes& attributes)>& block);
    // Whether the run shows as it would in the attributes before it.
    bool showsAlike(const TextAttributes& before, const TextAttributes& attributes, TextRange run) const;
    void mirrorBlockFormats(QTextCursor& cursor, TextRange range);
    // The document's characters for the storage's range.
    QString mirroredText(TextRange range) const;
    // The document's characters over the span, each piece break as the unit it stands for.
    QString documentText(qsizetype from, qsizetype to) const;
    // Splits the blocks about the range that are too long: by their text those longer than a long
    // line, within an edit; at their wraps the pieces that grew, once laid out. Joins empty pieces.
    void breakLongBlocks(QTextCursor& cursor, TextRange range, bool atWraps);
    // Where the block is split next (a space or tab), or -1.
    qsizetype pieceBreakIn(const QTextBlock& block, bool atWraps) const;
    QTextBlockFormat pieceFormat(QTextBlockFormat format, QChar replaced) const;
    const QTextCharFormat& charFormat(const TextAttributes& attributes, QChar fixedAdvanceCharacter = {}) const;
    const QTextCharFormat& shownFormat(const TextAttributes& attributes, QChar fixedAdvanceCharacter) const;
    // The format the widget reads at a cursor (that of the unit before it, at a line's start that of
    // its first), when the document holds none.
    std::optional<QTextCharFormat> formatAtCursor(const QTextCursor& cursor) const;
    QTextBlockFormat blockFormat(qsizetype position) const;
    void documentContentsChanged(int position, int removed, int added);
    // The range a deletion key removes when nothing is selected.
    TextRange deletionRange(QKeyEvent* event) const;

    TextStorage* storage_ = nullptr;
    TextViewDelegate* delegate_ = nullptr;
    std::optional<ParagraphStyle> defaultParagraphStyle_;
    bool formatsInDocument_ = false;
    bool mirroring_ = false;
    bool documentAhead_ = false;
    qsizetype mirrored_ = 0; // the storage's units the document holds, from the start
    bool fillQueued_ = false;
    double insetWidth_ = 0;
    double insetHeight_ = 0;
    mutable QHash<QPair<TextAttributes, QChar>, QTextCharFormat> formats_;
    struct BlockFormat {
        std::optional<ParagraphStyle> style;
        bool rightToLeft;
        QTextBlockFormat format;
    };
    mutable std::vector<BlockFormat> blockFormats_;
};
