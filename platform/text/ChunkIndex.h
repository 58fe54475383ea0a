#pragma once

#include <QtGlobal>

#include <cstddef>
#include <vector>

// Where each of a row of chunks starts, kept as a Fenwick tree over their lengths: a change of one
// chunk's length and finding the chunk that holds an index both cost O(log n). Adding or removing
// chunks (rare) only marks it stale; it is rebuilt on the next find.
class ChunkIndex {
public:
    struct Found {
        size_t chunk; // the chunk count when the index is at or past the end
        qsizetype start;
    };

    void invalidate() { valid_ = false; }
    void resized(size_t chunk, qsizetype delta);

    // The last chunk that starts at or before the index, skipping empty ones; `lengthOf(i)` gives
    // chunk i's length when the tree has to be rebuilt.
    template <typename LengthOf>
    Found find(qsizetype index, size_t count, LengthOf lengthOf)
    {
        if (!valid_) {
            tree_.assign(count + 1, 0);
            for (size_t i = 1; i <= count; ++i) {
                tree_[i] += lengthOf(i - 1);
                if (const size_t parent = i + lowestBit(i); parent <= count)
                    tree_[parent] += tree_[i];
            }
            valid_ = true;
        }
        return descend(index);
    }

private:
    static size_t lowestBit(size_t i) { return i & (~i + 1); }
    Found descend(qsizetype index) const;

    std::vector<qsizetype> tree_;
    bool valid_ = false;
};
