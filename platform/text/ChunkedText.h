#pragma once

#include "text/ChunkIndex.h"
#include "text/TextRange.h"

#include <QString>

#include <vector>

// The units of an attributed text. A text handed over whole is kept as that one shared QString, so
// a note's text as read is not copied. A long text is cut into chunks of a few thousand units at its
// first edit, so that a key typed anywhere moves a few kilobytes instead of a quarter of the note;
// reads of a unit, a range or the lines around a range go to the chunks directly. string() joins the
// chunks into a copy kept until the next edit.
// Const reads may fill that copy and the chunk index: one object is not for several threads at once.
class ChunkedText {
public:
    ChunkedText() = default;
    explicit ChunkedText(const QString& text) : flat_(text), size_(text.size()) {}

    qsizetype size() const { return size_; }
    bool chunked() const { return chunked_; }
    // Valid until the next edit. Once chunked, an edit empties the copy behind it (it never
    // dangles): read string() again after an edit.
    const QString& string() const;
    // Nothing outside the text.
    QChar at(qsizetype index) const;
    // The range must lie within the text.
    QString mid(TextRange range) const;
    // As paragraphRangeForRange() on the whole text.
    TextRange paragraphRange(TextRange range) const;

    // The range must lie within the text. A replacement of all of it is kept shared as it is.
    // The replacement may be (a part of) string() itself.
    void replace(TextRange range, const QString& string);

private:
    struct Place {
        size_t chunk;
        qsizetype offset; // within the chunk
    };
    // The chunk holding the index; the end of the text is the end of the last chunk.
    Place locate(qsizetype index) const;
    void replaceFlat(TextRange range, const QString& string);
    void cut();
    void replaceInChunks(TextRange range, const QString& string);
    // Splits a chunk grown too long, or merges one grown too short into a neighbour.
    void balance(size_t chunk);
    // Where the line around the index starts, and where the one at the index ends (before its terminator).
    qsizetype lineStart(qsizetype index) const;
    qsizetype lineEnd(qsizetype index) const;

    // The whole text while flat; once chunked, the chunks joined when `joined_`, else empty.
    mutable QString flat_;
    mutable bool joined_ = false;
    bool chunked_ = false;
    std::vector<QString> chunks_;
    mutable ChunkIndex index_;
    qsizetype size_ = 0;
};
