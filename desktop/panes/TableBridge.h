#pragma once

#include "kit/TableView.h"

#include <QObject>

#include <cstdint>
#include <optional>

// A place in a sectioned model: a row of a section, or its header (row -1).
struct IndexPath {
    int64_t section = 0;
    int64_t row = -1;

    bool isHeader() const { return row < 0; }
    bool operator==(const IndexPath&) const = default;
};

// The model's side of a TableBridge. Rows are counted without the section's header; the table is
// passed back so that one owner can serve several tables.
class TableBridgeDelegate {
public:
    virtual ~TableBridgeDelegate() = default;
    virtual int64_t numberOfSectionsInTableView(TableView& table) = 0;
    virtual int64_t tableViewNumberOfRowsInSection(TableView& table, int64_t section) = 0;
    // Views come from table.makeView().
    virtual QWidget* tableViewRowViewForRow(TableView& table, int64_t row, int64_t section) = 0;
    virtual QWidget* tableViewHeaderViewForSection(TableView& table, int64_t section) = 0;
    virtual bool tableViewShouldSelectRow(TableView& table, int64_t row, int64_t section) = 0;
    virtual double tableViewHeightForRow(TableView& table, int64_t row, int64_t section) = 0;
    virtual double tableViewHeightForHeaderInSection(TableView& table, int64_t section) = 0;
    virtual void tableViewDidSelectRow(TableView& table, int64_t row, int64_t section) = 0;
};

// Shows sections, each a header row and then its rows, as one run of table rows: section s takes
// rows(s) + 1 table rows in order. Headers are never selected and never reported.
//
// The counts the table sees are those of the last reloadData() or endUpdates(); between them a
// changed model does not show. Animated changes: beginUpdates(), change the model, insert or remove
// table rows numbered by rowForRow()/rowForHeader() on the new model, endUpdates().
class TableBridge : public QObject, public TableViewDataSource {
    Q_OBJECT
public:
    // A section holds its header and at most MaxPosition - 1 rows in the packed form.
    static constexpr int PositionBits = 20;
    static constexpr int64_t MaxPosition = (int64_t(1) << PositionBits) - 1;

    // Becomes the table's data source; neither is owned, and the delegate must outlive the bridge.
    TableBridge(TableView* table, TableBridgeDelegate* delegate, QObject* parent = nullptr);

    TableView* tableView() const { return table_; }
    int64_t totalSections() const { return totalSections_; }
    int64_t totalRows() const { return totalRows_; }

    void reloadData();
    void beginUpdates();
    void endUpdates();

    // Makes it the only selected row and scrolls it into view.
    void selectRow(int64_t row, int64_t section);
    // None when nothing, or nothing inside the counted sections, is selected.
    std::optional<IndexPath> selectedRow() const;
    // Repaints the selected row's view, if it has one.
    void reloadSelectedRow();
    QWidget* rowView(int64_t row, int64_t section, bool make);

    // Table rows of the model as it is now (counts asked afresh).
    int64_t rowForRow(int64_t row, int64_t section) const;
    int64_t rowForHeader(int64_t section) const;
    // The place of a table row; past the end, or with no sections, the header of section 0.
    IndexPath indexPathForRow(int64_t tableRow) const;

    // The packed form, (section << 20) | position with 0 the header and row r at r + 1, for those
    // who store one integer. Stops the process when the position does not fit.
    static int64_t pack(IndexPath path);
    static IndexPath unpack(int64_t packed);

    // TableViewDataSource
    qsizetype numberOfRowsInTableView(TableView& table) override;
    QWidget* tableViewViewForRow(TableView& table, qsizetype row) override;
    double tableViewHeightOfRow(TableView& table, qsizetype row) override;
    bool tableViewShouldSelectRow(TableView& table, qsizetype row) override;
    // No row is a group row and none carries an object value: the delegate's views show everything.
    bool tableViewIsGroupRow(TableView&, qsizetype) override { return false; }
    QVariant tableViewObjectValueForRow(TableView&, qsizetype) override { return {}; }

private:
    void recount();
    int64_t rowsIn(int64_t section) const;
    void selectionDidChange();

    TableView* table_;
    TableBridgeDelegate* delegate_;
    int64_t totalSections_ = 0;
    int64_t totalRows_ = 0;
};
