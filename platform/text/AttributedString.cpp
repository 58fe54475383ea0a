#include "text/AttributedString.h"

#include <algorithm>

namespace {

// Chunk bounds: large enough that a 200 k-run note has few chunks, small
// enough that inserting into one moves little memory.
constexpr size_t MaxRunsPerChunk = 128;
constexpr size_t MinRunsPerChunk = 32;

} // namespace

AttributedString::AttributedString(const QString& text, const TextAttributes& attributes)
{
    if (text.isEmpty())
        return;
    splice(0, 0, {Run{uint32_t(text.size()), intern(attributes)}});
    text_ = ChunkedText(text);
}

TextRange AttributedString::clipped(TextRange range) const
{
    const qsizetype size = text_.size();
    const qsizetype location = std::clamp<qsizetype>(range.location, 0, size);
    const qsizetype end = std::clamp<qsizetype>(range.location + std::max<qsizetype>(range.length, 0), location, size);
    return {location, end - location};
}

QChar AttributedString::characterAtIndex(qsizetype index) const
{
    return text_.at(index);
}

QString AttributedString::substring(TextRange range) const
{
    range = clipped(range);
    return text_.mid(range);
}

TextRange AttributedString::paragraphRange(TextRange range) const
{
    return text_.paragraphRange(range);
}

qsizetype AttributedString::runCount() const
{
    qsizetype count = 0;
    for (const Chunk& chunk : chunks_)
        count += qsizetype(chunk.runs.size());
    return count;
}

// --- attribute sets ---------------------------------------------------------

uint32_t AttributedString::intern(const TextAttributes& attributes)
{
    if (attributes.isEmpty())
        return 0;
    if (const auto found = ids_.constFind(attributes); found != ids_.cend())
        return found.value();
    uint32_t id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
        pool_[id] = PoolEntry{attributes, 0};
    } else {
        id = uint32_t(pool_.size());
        pool_.push_back(PoolEntry{attributes, 0});
    }
    ids_.insert(attributes, id);
    return id;
}

void AttributedString::retain(uint32_t id)
{
    if (id != 0)
        ++pool_[id].refs;
}

void AttributedString::release(uint32_t id)
{
    if (id == 0 || --pool_[id].refs != 0)
        return;
    ids_.remove(pool_[id].attributes);
    pool_[id].attributes = TextAttributes();
    free_.push_back(id);
}

// --- finding runs -----------------------------------------------------------

void AttributedString::resizeChunk(size_t chunk, qsizetype delta)
{
    chunks_[chunk].length += delta;
    total_ += delta;
    runIndex_.resized(chunk, delta);
}

AttributedString::Place AttributedString::locate(qsizetype index) const
{
    if (chunks_.empty())
        return {0, 0, 0};
    if (index >= total_)
        return {chunks_.size() - 1, chunks_.back().runs.size(), total_};
    index = std::max<qsizetype>(index, 0);
    const ChunkIndex::Found found = runIndex_.find(index, chunks_.size(),
                                                [this](size_t chunk) { return chunks_[chunk].length; });
    const size_t chunk = found.chunk;
    qsizetype start = found.start;
    const std::vector<Run>& runs = chunks_[chunk].runs;
    size_t run = 0;
    while (index >= start + qsizetype(runs[run].length))
        start += runs[run++].length;
    return {chunk, run, start};
}

const TextAttributes& AttributedString::attributesAtIndex(qsizetype index, TextRange* effectiveRange) const
{
    if (index < 0 || index >= text_.size()) {
        if (effectiveRange)
            *effectiveRange = {std::clamp<qsizetype>(index, 0, text_.size()), 0};
        return pool_[0].attributes;
    }
    const Place place = locate(index);
    const Run& run = chunks_[place.chunk].runs[place.run];
    if (effectiveRange)
        *effectiveRange = {place.runStart, run.length};
    return pool_[run.id].attributes;
}

TextRange AttributedString::longestEffectiveRange(TextAttributes::Keys keys, qsizetype index, TextRange limit) const
{
    limit = clipped(limit);
    if (!limit.contains(index))
        return {std::clamp<qsizetype>(index, limit.location, limit.end()), 0};
    TextRange range;
    const TextAttributes& here = attributesAtIndex(index, &range);
    qsizetype start = range.location;
    while (start > limit.location) {
        TextRange before;
        if (!attributesAtIndex(start - 1, &before).sameFor(here, keys))
            break;
        start = before.location;
    }
    qsizetype end = range.end();
    while (end < limit.end()) {
        TextRange after;
        if (!attributesAtIndex(end, &after).sameFor(here, keys))
            break;
        end = after.end();
    }
    start = std::max(start, limit.location);
    end = std::min(end, limit.end());
    return {start, end - start};
}

void AttributedString::enumerateAttributes(TextRange range,
                                           const std::function<void(const TextAttributes&, TextRange)>& block) const
{
    forEachRun(range, [&](uint32_t id, TextRange piece) { block(pool_[id].attributes, piece); });
}

bool AttributedString::isEqualToAttributedString(const AttributedString& other) const
{
    if (length() != other.length() || string() != other.string())
        return false;
    // Adjacent runs differ, so equal texts have the same runs; texts that are not equal never do.
    std::vector<std::pair<const TextAttributes*, TextRange>> runs;
    enumerateAttributes({0, length()}, [&](const TextAttributes& attributes, TextRange range) {
        runs.emplace_back(&attributes, range);
    });
    size_t next = 0;
    bool same = true;
    other.enumerateAttributes({0, other.length()}, [&](const TextAttributes& attributes, TextRange range) {
        same = same && next < runs.size() && runs[next].second == range && *runs[next].first == attributes;
        ++next;
    });
    return same && next == runs.size();
}

void AttributedString::forEachRun(TextRange range, const std::function<void(uint32_t, TextRange)>& block) const
{
    range = clipped(range);
    if (range.length == 0)
        return;
    Place place = locate(range.location);
    qsizetype start = place.runStart;
    while (start < range.end()) {
        const std::vector<Run>& runs = chunks_[place.chunk].runs;
        if (place.run == runs.size()) {
            ++place.chunk;
            place.run = 0;
            continue;
        }
        const Run& run = runs[place.run++];
        const qsizetype from = std::max(start, range.location);
        const qsizetype to = std::min(start + qsizetype(run.length), range.end());
        block(run.id, {from, to - from});
        start += run.length;
    }
}

// --- changing runs ----------------------------------------------------------

AttributedString::Place AttributedString::splitAt(qsizetype index)
{
    const Place place = locate(index);
    if (chunks_.empty() || place.runStart == index || place.run == chunks_[place.chunk].runs.size())
        return place;
    Chunk& chunk = chunks_[place.chunk];
    Run& run = chunk.runs[place.run];
    const uint32_t head = uint32_t(index - place.runStart);
    const Run tail{run.length - head, run.id};
    run.length = head;
    retain(tail.id);
    chunk.runs.insert(chunk.runs.begin() + qsizetype(place.run) + 1, tail);
    return {place.chunk, place.run + 1, index};
}

void AttributedString::splice(qsizetype start, qsizetype end, const std::vector<Run>& runs)
{
    // The new runs are retained first so a set they share with the removed
    // runs is never released in between.
    qsizetype inserted = 0;
    for (const Run& run : runs) {
        retain(run.id);
        inserted += run.length;
    }

    splitAt(end);
    const Place at = splitAt(start);

    size_t chunk = at.chunk;
    size_t run = at.run;
    for (qsizetype remaining = end - start; remaining > 0;) {
        Chunk& current = chunks_[chunk];
        size_t last = run;
        while (last < current.runs.size() && remaining > 0) {
            remaining -= current.runs[last].length;
            resizeChunk(chunk, -qsizetype(current.runs[last].length));
            release(current.runs[last].id);
            ++last;
        }
        current.runs.erase(current.runs.begin() + qsizetype(run), current.runs.begin() + qsizetype(last));
        if (remaining > 0) {
            ++chunk;
            run = 0;
        }
    }

    if (chunks_.empty()) {
        chunks_.emplace_back();
        runIndex_.invalidate();
    }
    Chunk& target = chunks_[at.chunk];
    target.runs.insert(target.runs.begin() + qsizetype(at.run), runs.begin(), runs.end());
    resizeChunk(at.chunk, inserted);

    for (size_t i = std::min(chunk, chunks_.size() - 1) + 1; i-- > at.chunk;) {
        if (chunks_[i].runs.empty()) {
            chunks_.erase(chunks_.begin() + qsizetype(i));
            runIndex_.invalidate();
        }
    }
    // The chunk after may have lost most of its runs to the removal.
    balance(at.chunk + 1);
    balance(at.chunk);

    mergeAt(start);
    mergeAt(start + inserted);
}

void AttributedString::balance(size_t index)
{
    if (index >= chunks_.size())
        return;
    Chunk& chunk = chunks_[index];
    if (chunk.runs.size() > MaxRunsPerChunk) {
        std::vector<Chunk> pieces;
        for (size_t from = 0; from < chunk.runs.size(); from += MaxRunsPerChunk / 2) {
            Chunk piece;
            const size_t to = std::min(chunk.runs.size(), from + MaxRunsPerChunk / 2);
            piece.runs.assign(chunk.runs.begin() + qsizetype(from), chunk.runs.begin() + qsizetype(to));
            for (const Run& run : piece.runs)
                piece.length += run.length;
            pieces.push_back(std::move(piece));
        }
        chunks_.erase(chunks_.begin() + qsizetype(index));
        chunks_.insert(chunks_.begin() + qsizetype(index), std::make_move_iterator(pieces.begin()),
                       std::make_move_iterator(pieces.end()));
        runIndex_.invalidate();
        return;
    }
    if (chunk.runs.size() >= MinRunsPerChunk)
        return;
    const auto absorb = [this](size_t into) {
        Chunk& left = chunks_[into];
        Chunk& right = chunks_[into + 1];
        left.runs.insert(left.runs.end(), right.runs.begin(), right.runs.end());
        left.length += right.length;
        chunks_.erase(chunks_.begin() + qsizetype(into) + 1);
        runIndex_.invalidate();
    };
    if (index + 1 < chunks_.size() && chunk.runs.size() + chunks_[index + 1].runs.size() <= MaxRunsPerChunk)
        absorb(index);
    else if (index > 0 && chunk.runs.size() + chunks_[index - 1].runs.size() <= MaxRunsPerChunk)
        absorb(index - 1);
}

void AttributedString::mergeAt(qsizetype index)
{
    if (index <= 0 || index >= total_)
        return;
    const Place place = locate(index);
    if (place.runStart != index)
        return;
    const size_t before = place.run > 0 ? place.chunk : place.chunk - 1;
    Run& previous = place.run > 0 ? chunks_[before].runs[place.run - 1] : chunks_[before].runs.back();
    Chunk& chunk = chunks_[place.chunk];
    const Run run = chunk.runs[place.run];
    if (previous.id != run.id)
        return;
    previous.length += run.length;
    release(run.id);
    chunk.runs.erase(chunk.runs.begin() + qsizetype(place.run));
    if (before != place.chunk) {
        resizeChunk(before, run.length);
        resizeChunk(place.chunk, -qsizetype(run.length));
    }
    if (chunk.runs.empty()) {
        chunks_.erase(chunks_.begin() + qsizetype(place.chunk));
        runIndex_.invalidate();
    }
}

void AttributedString::transform(TextRange range,
                                 const std::function<std::optional<TextAttributes>(const TextAttributes&)>& change)
{
    range = clipped(range);
    if (range.length == 0)
        return;
    // Each set is changed once per call; the mapping lives in a scratch table
    // indexed by id and stamped with the call, so nothing is allocated.
    if (++mappingStamp_ == 0) {
        std::fill(mappingStamps_.begin(), mappingStamps_.end(), 0);
        mappingStamp_ = 1;
    }
    std::vector<Run> runs;
    bool changed = false;
    forEachRun(range, [&](uint32_t id, TextRange piece) {
        if (mappingStamps_.size() < pool_.size()) {
            mappingStamps_.resize(pool_.size() * 2, 0);
            mappings_.resize(pool_.size() * 2);
        }
        if (mappingStamps_[id] != mappingStamp_) {
            const std::optional<TextAttributes> result = change(pool_[id].attributes);
            mappings_[id] = result ? intern(*result) : id;
            mappingStamps_[id] = mappingStamp_;
        }
        const uint32_t mapped = mappings_[id];
        changed = changed || mapped != id;
        if (!runs.empty() && runs.back().id == mapped)
            runs.back().length += uint32_t(piece.length);
        else
            runs.push_back({uint32_t(piece.length), mapped});
    });
    if (changed)
        splice(range.location, range.end(), runs);
}

void AttributedString::replaceCharacters(TextRange range, const QString& string)
{
    range = clipped(range);
    std::vector<Run> runs;
    if (!string.isEmpty()) {
        uint32_t id = 0;
        if (text_.size() > 0) {
            const qsizetype from = range.length > 0 ? range.location : std::max<qsizetype>(range.location - 1, 0);
            const Place place = locate(from);
            id = chunks_[place.chunk].runs[place.run].id;
        }
        runs.push_back({uint32_t(string.size()), id});
    }
    splice(range.location, range.end(), runs);
    text_.replace(range, string);
}

void AttributedString::setAttributes(const TextAttributes& attributes, TextRange range)
{
    range = clipped(range);
    if (range.length > 0)
        splice(range.location, range.end(), {Run{uint32_t(range.length), intern(attributes)}});
}

void AttributedString::setAttributeRuns(TextRange range, std::span<const AttributeRun> runs)
{
    range = clipped(range);
    std::vector<Run> pieces;
    qsizetype start = range.location;
    for (const AttributeRun& run : runs) {
        const qsizetype end = std::min(run.end, range.end());
        if (end <= start)
            continue;
        const uint32_t id = intern(run.attributes);
        if (!pieces.empty() && pieces.back().id == id)
            pieces.back().length += uint32_t(end - start);
        else
            pieces.push_back({uint32_t(end - start), id});
        start = end;
    }
    if (start > range.location)
        splice(range.location, start, pieces);
}

void AttributedString::addAttributes(const TextAttributes& attributes, TextRange range)
{
    transform(range, [&](const TextAttributes& old) -> std::optional<TextAttributes> {
        if (old.includes(attributes))
            return std::nullopt;
        return old.merged(attributes);
    });
}

void AttributedString::removeAttributes(TextAttributes::Keys keys, TextRange range)
{
    transform(range, [&](const TextAttributes& old) -> std::optional<TextAttributes> {
        if (!(old.keys() & keys))
            return std::nullopt;
        return old.without(keys);
    });
}
