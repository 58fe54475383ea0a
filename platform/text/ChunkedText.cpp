#include "text/ChunkedText.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// A flat text shorter than this stays flat: an edit moves at most half of it (tens of microseconds at
// most), and string() stays free. Past it the move grows with the note while a chunk's does not.
constexpr qsizetype ChunkedFrom = 64 * 1024;
// Chunks are cut at this size and kept between a quarter and twice of it: an edit moves a few
// kilobytes, and a 50 MB note makes some twelve thousand chunks.
constexpr qsizetype ChunkSize = 4096;
constexpr qsizetype MaxChunk = 2 * ChunkSize;
constexpr qsizetype MinChunk = ChunkSize / 4;

bool overlaps(const QString& a, const QString& b)
{
    return a.constData() < b.constData() + b.size() && b.constData() < a.constData() + a.size();
}

} // namespace

const QString& ChunkedText::string() const
{
    if (chunked_ && !joined_) {
        QString joined(size_, Qt::Uninitialized);
        QChar* out = joined.data();
        for (const QString& chunk : chunks_)
            out = std::copy(chunk.cbegin(), chunk.cend(), out);
        flat_ = std::move(joined);
        joined_ = true;
    }
    return flat_;
}

ChunkedText::Place ChunkedText::locate(qsizetype index) const
{
    const ChunkIndex::Found found =
        index_.find(index, chunks_.size(), [this](size_t chunk) { return chunks_[chunk].size(); });
    if (found.chunk < chunks_.size())
        return {found.chunk, index - found.start};
    return {chunks_.size() - 1, chunks_.back().size()};
}

QChar ChunkedText::at(qsizetype index) const
{
    if (index < 0 || index >= size_)
        return QChar();
    if (!chunked_ || joined_)
        return flat_.at(index); // not operator[]: the copy is mutable and would detach
    const Place place = locate(index);
    return chunks_[place.chunk][place.offset];
}

QString ChunkedText::mid(TextRange range) const
{
    if (range.length == 0)
        return QString();
    if (!chunked_ || joined_)
        return flat_.mid(range.location, range.length);
    Place place = locate(range.location);
    if (place.offset + range.length <= chunks_[place.chunk].size())
        return chunks_[place.chunk].mid(place.offset, range.length);
    QString result;
    result.reserve(range.length);
    for (qsizetype remaining = range.length; remaining > 0; ++place.chunk, place.offset = 0) {
        const QStringView piece = QStringView(chunks_[place.chunk]).mid(place.offset).left(remaining);
        result.append(piece);
        remaining -= piece.size();
    }
    return result;
}

TextRange ChunkedText::paragraphRange(TextRange range) const
{
    if (!chunked_ || joined_)
        return paragraphRangeForRange(flat_, range);
    return paragraphRangeIn(
        size_, range, [this](qsizetype index) { return at(index); },
        [this](qsizetype index) { return lineStart(index); }, [this](qsizetype index) { return lineEnd(index); });
}

qsizetype ChunkedText::lineStart(qsizetype index) const
{
    if (index <= 0)
        return 0;
    const Place place = locate(index - 1);
    qsizetype chunkStart = index - 1 - place.offset;
    for (size_t chunk = place.chunk;; --chunk) {
        const QChar* data = chunks_[chunk].constData();
        for (qsizetype i = chunk == place.chunk ? place.offset : chunks_[chunk].size() - 1; i >= 0; --i) {
            if (isParagraphEnd(data[i]))
                return chunkStart + i + 1;
        }
        if (chunk == 0)
            return 0;
        chunkStart -= chunks_[chunk - 1].size();
    }
}

qsizetype ChunkedText::lineEnd(qsizetype index) const
{
    if (index >= size_)
        return size_;
    const Place place = locate(index);
    qsizetype chunkStart = index - place.offset;
    for (size_t chunk = place.chunk; chunk < chunks_.size(); chunkStart += chunks_[chunk++].size()) {
        const QChar* data = chunks_[chunk].constData();
        for (qsizetype i = chunk == place.chunk ? place.offset : 0; i < chunks_[chunk].size(); ++i) {
            if (isParagraphEnd(data[i]))
                return chunkStart + i;
        }
    }
    return size_;
}

void ChunkedText::replace(TextRange range, const QString& string)
{
    if (range.location == 0 && range.length == size_) {
        // Shared with whoever handed it over, unless it points into a part of the text it replaces
        // (the same units again are kept as they are).
        if (string.constData() != flat_.constData() || string.size() != flat_.size())
            flat_ = overlaps(string, flat_) ? QString(string.constData(), string.size()) : string;
        chunks_.clear();
        chunked_ = false;
        joined_ = false;
        size_ = flat_.size();
        return;
    }
    if (!chunked_ && size_ < ChunkedFrom) {
        replaceFlat(range, string);
        return;
    }
    if (!chunked_)
        cut();
    replaceInChunks(range, string);
    // Only now: the replacement may have been read out of the joined text.
    flat_ = QString();
    joined_ = false;
}

void ChunkedText::replaceFlat(TextRange range, const QString& string)
{
    // An edit to one flat text moves all the units on one side of it: the side before costs less
    // when it is shorter, taking or giving room at the start (the text keeps some there once it
    // has grown or shrunk at its start).
    const qsizetype before = range.location;
    const qsizetype change = string.size() - range.length;
    size_ += change;
    if (change == 0 || before >= flat_.size() - range.end() || overlaps(string, flat_)) {
        flat_.replace(range.location, range.length, string);
        return;
    }
    if (change > 0) {
        flat_.insert(0, string.constData(), change);
        QChar* data = flat_.data();
        std::memmove(data, data + change, size_t(before) * sizeof(QChar));
    } else {
        QChar* data = flat_.data();
        std::memmove(data - change, data, size_t(before) * sizeof(QChar));
        flat_.remove(0, -change);
    }
    std::copy(string.cbegin(), string.cend(), flat_.data() + before);
}

void ChunkedText::cut()
{
    chunks_.clear();
    chunks_.reserve(size_t(size_ / ChunkSize + 1));
    for (qsizetype from = 0; from < size_ || chunks_.empty(); from += ChunkSize)
        chunks_.emplace_back(flat_.constData() + from, std::min(ChunkSize, size_ - from));
    chunked_ = true;
    joined_ = true; // until the edit that follows
    index_.invalidate();
}

void ChunkedText::replaceInChunks(TextRange range, const QString& string)
{
    const Place first = locate(range.location);
    const Place last = range.length > 0 ? locate(range.end() - 1) : first;
    const qsizetype change = string.size() - range.length;
    if (first.chunk == last.chunk) {
        chunks_[first.chunk].replace(first.offset, range.length, string);
        index_.resized(first.chunk, change);
    } else {
        QString& head = chunks_[first.chunk];
        head.truncate(first.offset);
        head.append(string);
        head.append(QStringView(chunks_[last.chunk]).mid(last.offset + 1));
        chunks_.erase(chunks_.begin() + qsizetype(first.chunk) + 1, chunks_.begin() + qsizetype(last.chunk) + 1);
        index_.invalidate();
    }
    size_ += change;
    balance(first.chunk);
}

void ChunkedText::balance(size_t chunk)
{
    const qsizetype size = chunks_[chunk].size();
    if (size > MaxChunk) {
        const qsizetype count = (size + ChunkSize - 1) / ChunkSize;
        const QString whole = std::move(chunks_[chunk]);
        std::vector<QString> pieces;
        pieces.reserve(size_t(count));
        for (qsizetype i = 0; i < count; ++i)
            pieces.push_back(whole.mid(size * i / count, size * (i + 1) / count - size * i / count));
        chunks_.erase(chunks_.begin() + qsizetype(chunk));
        chunks_.insert(chunks_.begin() + qsizetype(chunk), std::make_move_iterator(pieces.begin()),
                       std::make_move_iterator(pieces.end()));
        index_.invalidate();
        return;
    }
    if (size >= MinChunk || chunks_.size() == 1)
        return;
    const size_t left = chunk + 1 < chunks_.size() ? chunk : chunk - 1;
    chunks_[left].append(chunks_[left + 1]);
    chunks_.erase(chunks_.begin() + qsizetype(left) + 1);
    index_.invalidate();
    balance(left);
}
