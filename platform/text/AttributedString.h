#pragma once

#include "text/ChunkIndex.h"
#include "text/ChunkedText.h"
#include "text/TextAttributes.h"
#include "text/TextRange.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// Characters with attributes, stored compactly: each distinct attribute set is
// kept once (interned, reference-counted by the runs that use it), and the runs
// of equal attributes are kept in chunks so an edit touches one short array.
// Adjacent runs always differ, so a run's range is the longest effective range.
// The characters are a ChunkedText: a long text goes into chunks at its first edit.
// Ranges past the end of the text are clipped to it.
class AttributedString {
public:
    AttributedString() = default;
    explicit AttributedString(const QString& text, const TextAttributes& attributes = {});

    // Valid until the next change of characters (attribute changes keep it). Once a long text is in
    // chunks this joins them, a copy of all of it that the next edit empties: what reads on every key
    // uses the reads below instead.
    const QString& string() const { return text_.string(); }
    qsizetype length() const { return text_.size(); }
    // Reads of a part of the text, for callers that must not take all of it on every key.
    QChar characterAtIndex(qsizetype index) const;
    QString substring(TextRange range) const; // clipped to the text
    // The whole lines around the range, as paragraphRangeForRange() finds them.
    TextRange paragraphRange(TextRange range) const;

    // The attributes at the index and, optionally, the range over which they
    // are the same. An index outside the text has no attributes and an empty range.
    const TextAttributes& attributesAtIndex(qsizetype index, TextRange* effectiveRange = nullptr) const;
    // The longest range, within the limit, around the index over which the
    // attributes of the keys stay the same.
    TextRange longestEffectiveRange(TextAttributes::Keys keys, qsizetype index, TextRange limit) const;
    // Calls the block for every run of equal attributes in the range, clipped to it.
    void enumerateAttributes(TextRange range, const std::function<void(const TextAttributes&, TextRange)>& block) const;

    // The new characters take the attributes of the first replaced character,
    // else of the character before, else of the character after.
    void replaceCharacters(TextRange range, const QString& string);
    void setAttributes(const TextAttributes& attributes, TextRange range);
    // Sets the attributes present in `attributes`, keeping the others.
    void addAttributes(const TextAttributes& attributes, TextRange range);
    void removeAttributes(TextAttributes::Keys keys, TextRange range);

    // A stretch of attributes that ends at `end`, a text index.
    struct AttributeRun {
        qsizetype end;
        TextAttributes attributes;
    };
    // Gives the range the attributes of the runs, which follow each other from the range's start (units
    // past the last run keep theirs). One splice however many runs: styling a whole text is one pass.
    void setAttributeRuns(TextRange range, std::span<const AttributeRun> runs);

    TextRange clipped(TextRange range) const;
    qsizetype runCount() const;
    // The same characters with the same attributes, run for run.
    bool isEqualToAttributedString(const AttributedString& other) const;
    qsizetype attributeSetCount() const { return qsizetype(pool_.size() - free_.size()); }

private:
    struct Run {
        uint32_t length;
        uint32_t id;
    };
    struct Chunk {
        std::vector<Run> runs;
        qsizetype length = 0;
    };
    struct Place {
        size_t chunk;
        size_t run;
        qsizetype runStart; // text index where that run starts
    };
    struct PoolEntry {
        TextAttributes attributes;
        uint32_t refs = 0;
    };

    uint32_t intern(const TextAttributes& attributes);
    void retain(uint32_t id);
    void release(uint32_t id);

    // The run that contains the index; the end of the text gives the place after the last run.
    Place locate(qsizetype index) const;
    void resizeChunk(size_t chunk, qsizetype delta);
    // Makes a run start at the index and returns its place.
    Place splitAt(qsizetype index);
    // Replaces the runs over [start, end) (both run boundaries) by `runs`.
    void splice(qsizetype start, qsizetype end, const std::vector<Run>& runs);
    // Merges the runs that meet at the index when their attributes are equal.
    void mergeAt(qsizetype index);
    void balance(size_t chunk);
    void forEachRun(TextRange range, const std::function<void(uint32_t id, TextRange)>& block) const;
    // Maps every run in the range to new attributes (none: unchanged).
    void transform(TextRange range,
                   const std::function<std::optional<TextAttributes>(const TextAttributes&)>& change);

    ChunkedText text_;
    std::vector<Chunk> chunks_;
    qsizetype total_ = 0; // the runs' length: the text's, once an edit is done
    mutable ChunkIndex runIndex_;

    std::vector<PoolEntry> pool_{PoolEntry{}}; // id 0: no attributes, never released
    QHash<TextAttributes, uint32_t> ids_;
    std::vector<uint32_t> free_;
    std::vector<uint32_t> mappings_;
    std::vector<uint32_t> mappingStamps_;
    uint32_t mappingStamp_ = 0;
};
