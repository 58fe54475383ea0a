#include "kit/TableLayout.h"

#include <algorithm>

void TableLayout::setHeights(qsizetype count, const HeightOfRow& heightOfRow)
{
    offsets_.assign(size_t(std::max<qsizetype>(count, 0)) + 1, 0.0);
    for (qsizetype row = 0; row < count; ++row)
        offsets_[size_t(row) + 1] = offsets_[size_t(row)] + std::max(heightOfRow(row), 0.0);
}

qsizetype TableLayout::rowAtY(double y) const
{
    if (y < 0 || y >= totalHeight())
        return -1;
    // The last offset not above y; rows of height 0 share their offset with the next row.
    const auto after = std::upper_bound(offsets_.begin(), offsets_.end(), y);
    return qsizetype(after - offsets_.begin()) - 1;
}

std::pair<qsizetype, qsizetype> TableLayout::rowsInStrip(double top, double bottom) const
{
    // Row i meets the strip when its top lies above the bottom and its end below the top.
    const auto ends = offsets_.begin() + 1;
    const qsizetype first = qsizetype(std::upper_bound(ends, offsets_.end(), top) - ends);
    const qsizetype last = qsizetype(std::lower_bound(offsets_.begin(), offsets_.end() - 1, bottom) - offsets_.begin());
    return {first, std::max(first, last)};
}
