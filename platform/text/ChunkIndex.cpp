#include "text/ChunkIndex.h"

void ChunkIndex::resized(size_t chunk, qsizetype delta)
{
    if (!valid_)
        return;
    for (size_t i = chunk + 1; i < tree_.size(); i += lowestBit(i))
        tree_[i] += delta;
}

ChunkIndex::Found ChunkIndex::descend(qsizetype index) const
{
    size_t chunk = 0;
    qsizetype start = 0;
    size_t step = 1;
    while (step * 2 < tree_.size())
        step *= 2;
    for (; step > 0; step /= 2) {
        if (chunk + step < tree_.size() && start + tree_[chunk + step] <= index) {
            chunk += step;
            start += tree_[chunk];
        }
    }
    return {chunk, start};
}
