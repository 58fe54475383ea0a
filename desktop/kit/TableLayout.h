#pragma once

#include <QtGlobal>

#include <functional>
#include <utility>
#include <vector>

// The vertical geometry of a table's rows, kept as prefix sums so that placing 10,000 rows costs a
// vector and finding the rows of a strip a binary search. Heights are in points; offsets are exact
// sums, rounded only by the view that draws them.
class TableLayout {
public:
    using HeightOfRow = std::function<double(qsizetype row)>;

    void setHeights(qsizetype count, const HeightOfRow& heightOfRow);

    qsizetype count() const { return qsizetype(offsets_.size()) - 1; }
    double totalHeight() const { return offsets_.back(); }
    // The top of the row; the row count gives the bottom of the last row.
    double offsetOfRow(qsizetype row) const { return offsets_[size_t(row)]; }
    double heightOfRow(qsizetype row) const { return offsets_[size_t(row) + 1] - offsets_[size_t(row)]; }
    // The row covering y, or -1 above the first row and below the last.
    qsizetype rowAtY(double y) const;
    // The rows [first, last) that meet the strip from top to bottom.
    std::pair<qsizetype, qsizetype> rowsInStrip(double top, double bottom) const;

private:
    std::vector<double> offsets_{0.0};
};
