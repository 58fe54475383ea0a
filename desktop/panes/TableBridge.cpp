#include "panes/TableBridge.h"

#include <QtGlobal>

#include <algorithm>
#include <limits>

TableBridge::TableBridge(TableView* table, TableBridgeDelegate* delegate, QObject* parent)
    : QObject(parent), table_(table), delegate_(delegate)
{
    table_->setDataSource(this);
    connect(table_, &TableView::selectionDidChange, this, &TableBridge::selectionDidChange);
}

void TableBridge::reloadData()
{
    recount();
    table_->reloadData();
}

void TableBridge::beginUpdates()
{
    table_->beginUpdates();
}

void TableBridge::endUpdates()
{
    recount();
    table_->endUpdates();
}

void TableBridge::recount()
{
    const int64_t sections = std::max<int64_t>(delegate_->numberOfSectionsInTableView(*table_), 0);
    int64_t total = 0;
    for (int64_t section = 0; section < sections; ++section)
        total += rowsIn(section) + 1;
    totalSections_ = sections;
    totalRows_ = total;
}

int64_t TableBridge::rowsIn(int64_t section) const
{
    return std::max<int64_t>(delegate_->tableViewNumberOfRowsInSection(*table_, section), 0);
}

void TableBridge::selectRow(int64_t row, int64_t section)
{
    const int64_t tableRow = rowForRow(row, section);
    table_->selectRow(tableRow);
    table_->scrollRowToVisible(tableRow);
}

std::optional<IndexPath> TableBridge::selectedRow() const
{
    const qsizetype tableRow = table_->selectedRow();
    if (tableRow < 0 || tableRow >= totalRows_)
        return std::nullopt;
    const IndexPath path = indexPathForRow(tableRow);
    if (path.isHeader())
        return std::nullopt;
    return path;
}

void TableBridge::reloadSelectedRow()
{
    if (const auto path = selectedRow())
        if (QWidget* view = rowView(path->row, path->section, false))
            view->update();
}

QWidget* TableBridge::rowView(int64_t row, int64_t section, bool make)
{
    return table_->viewAtRow(rowForRow(row, section), make);
}

int64_t TableBridge::rowForRow(int64_t row, int64_t section) const
{
    int64_t before = 0;
    for (int64_t s = 0; s < section; ++s)
        before += rowsIn(s) + 1;
    return before + row + 1;
}

int64_t TableBridge::rowForHeader(int64_t section) const
{
    return rowForRow(0, section) - 1;
}

IndexPath TableBridge::indexPathForRow(int64_t tableRow) const
{
    if (tableRow < 0)
        return {};
    for (int64_t section = 0; section < totalSections_; ++section) {
        const int64_t positions = rowsIn(section) + 1;
        if (tableRow < positions)
            return {section, tableRow - 1};
        tableRow -= positions;
    }
    return {};
}

int64_t TableBridge::pack(IndexPath path)
{
    const int64_t position = path.row + 1;
    if (position < 0 || position > MaxPosition)
        qFatal("table: position %lld of section %lld does not fit the packed index", static_cast<long long>(position),
               static_cast<long long>(path.section));
    return (path.section << PositionBits) | position;
}

IndexPath TableBridge::unpack(int64_t packed)
{
    return {packed >> PositionBits, (packed & MaxPosition) - 1};
}

qsizetype TableBridge::numberOfRowsInTableView(TableView&)
{
    return qsizetype(totalRows_);
}

QWidget* TableBridge::tableViewViewForRow(TableView&, qsizetype row)
{
    const IndexPath path = indexPathForRow(row);
    return path.isHeader() ? delegate_->tableViewHeaderViewForSection(*table_, path.section)
                           : delegate_->tableViewRowViewForRow(*table_, path.row, path.section);
}

double TableBridge::tableViewHeightOfRow(TableView&, qsizetype row)
{
    const IndexPath path = indexPathForRow(row);
    const double height = path.isHeader() ? delegate_->tableViewHeightForHeaderInSection(*table_, path.section)
                                          : delegate_->tableViewHeightForRow(*table_, path.row, path.section);
    // A header hidden at 0 keeps a height, as the table expects every row to have one.
    return std::max(height, std::numeric_limits<double>::min());
}

bool TableBridge::tableViewShouldSelectRow(TableView&, qsizetype row)
{
    const IndexPath path = indexPathForRow(row);
    return !path.isHeader() && delegate_->tableViewShouldSelectRow(*table_, path.row, path.section);
}

void TableBridge::selectionDidChange()
{
    if (const auto path = selectedRow())
        delegate_->tableViewDidSelectRow(*table_, path->row, path->section);
}
