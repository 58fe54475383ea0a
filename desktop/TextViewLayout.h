#pragma once

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextLayout>

#include <deque>
#include <functional>
#include <vector>

// The layout of a TextView's document, block by block and only where it is looked at.
//
// Qt's own rich-text layout moves every block after an edit to its new place and lays out the whole
// document behind the first screen, so a keystroke and an open cost more the longer the note is. The
// plain-text layout is lazy but knows nothing of margins, first-line indents or fixed line heights, and
// its widget scrolls by lines. This one keeps the widget (its caret, selection, input methods and
// keys) and lays out the blocks the way the rich-text layout does for a document of plain paragraphs
// in one root frame: the frame's margins around, each block's left and right margins and first-line
// indent, its direction and its line-height rule. A block is laid out the first time it is drawn,
// hit or asked for its rectangle; until then its height is estimated from its length. Heights are
// summed in a Fenwick tree, so that finding a block's place, or the block at a place, and changing a
// height each take a logarithmic step instead of a walk over the blocks above.
//
// The character formats may come from a source instead of the document: a block takes them when it is
// laid out. The document then holds one fragment per line instead of one per run of a format, and a
// restyle only lays its blocks out again.
class TextViewLayout : public QAbstractTextDocumentLayout {
public:
    explicit TextViewLayout(QTextDocument* document);

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    // Lays the block out when it is not.
    QRectF blockBoundingRect(const QTextBlock& block) const override;

    // Blocks laid out so far, for the measurements and the tests.
    qsizetype laidOutBlockCount() const;
    // The units of the blocks drawn lately that keep their shaped glyphs (see setGlyphsKept).
    static constexpr qsizetype GlyphsKept = 64 * 1024;
    qsizetype keptGlyphsLength() const { return keptLength_; }

    // A block's character formats, in its own positions, covering its text. Without a source the
    // document's own formats show.
    using FormatSource = std::function<QList<QTextLayout::FormatRange>(const QTextBlock& block)>;
    void setFormatSource(FormatSource source);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    struct Margins {
        qreal left, top, right, bottom;
    };
    Margins margins() const;
    qreal availableWidth() const;
    // Lays the block out when it is not and gives its top.
    qreal place(const QTextBlock& block) const;
    // An edited block keeps its shaped glyphs until it is drawn: placing the caret and painting it
    // would each shape it again.
    qreal layOut(const QTextBlock& block, bool keepGlyphs = false) const;
    // Gives the block's layout the source's formats, around an input method's composition.
    void applyFormats(const QTextBlock& block) const;
    // Those of the count of blocks from the one given.
    std::vector<qreal> estimatedHeights(QTextBlock block, int count) const;
    qreal estimatedHeight(const QTextBlock& block, const QFontMetricsF& metrics) const;
    qreal top(int blockNumber) const;
    // The block whose span holds the height (the last one when it is below them all).
    int blockAt(qreal y) const;
    void setHeight(int blockNumber, qreal height) const;
    void rebuildTree() const;
    // Tells the widget of the new size: at once, or while it paints once the paint is done.
    void sizeChanged() const;
    void reportSize() const;
    // A drawn block keeps its glyphs, so that the next paint of its lines (a key beside them, the
    // caret) does not shape them again, and so does one edited on show until it is drawn; past
    // GlyphsKept units the least lately drawn let theirs go, but never the blocks of the paint under
    // way nor the block just kept.
    void setGlyphsKept(const QTextBlock& block, bool keep) const;
    // Block numbers move with a change of blocks; those changed are laid out afresh.
    void renumberKeptGlyphs(int first, int removed, int added);

    mutable std::vector<qreal> heights_;
    mutable std::vector<bool> laidOut_;
    mutable std::vector<qreal> tree_; // Fenwick sums of heights_, 1-based
    qreal wrapWidth_ = 0; // the available width at the last change to every block
    FormatSource formatSource_;
    mutable bool applyingFormats_ = false;
    bool drawing_ = false;
    mutable bool sizeChangePosted_ = false;
    mutable QSizeF reportedSize_;
    struct Kept {
        int block;
        qsizetype length;
    };
    mutable std::deque<Kept> kept_; // least lately drawn first
    size_t drawnBlocks_ = 0;        // by the paint under way
    mutable qsizetype keptLength_ = 0;
};
