#include "PanesTestSupport.h"

#include "panes/TableBridge.h"

#include <QLabel>

namespace {

// Sections of given sizes; rows 10 high, headers as given. Records what the bridge reports.
struct Sections : TableBridgeDelegate {
    QList<int64_t> rows;
    QList<double> headerHeights;
    QList<IndexPath> selected;

    int64_t numberOfSectionsInTableView(TableView&) override { return rows.size(); }
    int64_t tableViewNumberOfRowsInSection(TableView&, int64_t section) override { return rows[section]; }
    QWidget* tableViewRowViewForRow(TableView& table, int64_t row, int64_t section) override
    {
        return label(table, QStringLiteral("%1.%2").arg(section).arg(row));
    }
    QWidget* tableViewHeaderViewForSection(TableView& table, int64_t section) override
    {
        return label(table, QStringLiteral("header %1").arg(section));
    }
    bool tableViewShouldSelectRow(TableView&, int64_t, int64_t) override { return true; }
    double tableViewHeightForRow(TableView&, int64_t, int64_t) override { return 10; }
    double tableViewHeightForHeaderInSection(TableView&, int64_t section) override { return headerHeights[section]; }
    void tableViewDidSelectRow(TableView&, int64_t row, int64_t section) override { selected.append({section, row}); }

    static QWidget* label(TableView& table, const QString& text)
    {
        auto* view = static_cast<QLabel*>(table.makeView(QStringLiteral("label"), [] { return new QLabel; }));
        view->setText(text);
        return view;
    }
};

class PanesTableBridge : public PaneTest {
protected:
    void SetUp() override
    {
        model.rows = {0, 2, 1};
        model.headerHeights = {0, 20, 20};
        table.resize(200, 300);
        table.show();
        bridge.reloadData();
    }

    Sections model;
    TableView table;
    TableBridge bridge{&table, &model};
};

TEST_F(PanesTableBridge, FlattensSectionsPacksEachRowAndKeepsHiddenHeadersAboveZeroHigh)
{
    ASSERT_EQ(bridge.totalRows(), 6);
    ASSERT_EQ(table.numberOfRows(), 6);
    const int64_t packed[] = {0, 1'048'576, 1'048'577, 1'048'578, 2'097'152, 2'097'153};
    for (int64_t row = 0; row < 6; ++row) {
        const IndexPath path = bridge.indexPathForRow(row);
        EXPECT_EQ(TableBridge::pack(path), packed[row]) << row;
        EXPECT_EQ(TableBridge::unpack(packed[row]), path) << row;
    }
    EXPECT_EQ(bridge.rowForRow(0, 1), 2);
    EXPECT_EQ(bridge.rowForHeader(2), 4);
    EXPECT_EQ(bridge.indexPathForRow(6), IndexPath{});
    EXPECT_EQ(static_cast<QLabel*>(bridge.rowView(1, 1, true))->text(), QStringLiteral("1.1"));
    EXPECT_EQ(static_cast<QLabel*>(table.viewAtRow(4, true))->text(), QStringLiteral("header 2"));
    // A hidden header stays above zero high.
    EXPECT_EQ(table.dataSource()->tableViewHeightOfRow(table, 0), 2.2250738585072014e-308);
    EXPECT_EQ(table.dataSource()->tableViewHeightOfRow(table, 1), 20);
    EXPECT_EQ(table.rectOfRow(0).height(), 0);
    EXPECT_EQ(table.rectOfRow(2).top(), 20);
    // No row is a group row, none has an object value: the views show everything themselves.
    for (int64_t row = 0; row < 6; ++row) {
        EXPECT_FALSE(table.dataSource()->tableViewIsGroupRow(table, row)) << row;
        EXPECT_FALSE(table.dataSource()->tableViewObjectValueForRow(table, row).isValid()) << row;
        EXPECT_FALSE(table.viewAtRow(row, true)->property("objectValue").isValid()) << row;
    }
}

TEST(PanesTableBridgePacking, TheLargestSectionFitsAndOneMoreRowStops)
{
    const IndexPath last{3, TableBridge::MaxPosition - 1};
    EXPECT_EQ(TableBridge::unpack(TableBridge::pack(last)), last);
    EXPECT_EQ(TableBridge::unpack(TableBridge::pack({7, -1})), (IndexPath{7, -1}));
    EXPECT_DEATH(TableBridge::pack({3, TableBridge::MaxPosition}), "does not fit");
}

TEST_F(PanesTableBridge, NeverSelectsOrReportsAHeader)
{
    EXPECT_EQ(bridge.selectedRow(), std::nullopt);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.rectOfRow(1).center());
    EXPECT_EQ(table.selectedRow(), -1);
    EXPECT_TRUE(model.selected.isEmpty());

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.rectOfRow(3).center());
    EXPECT_EQ(bridge.selectedRow(), (IndexPath{1, 1}));
    QTest::keyClick(&table, Qt::Key_Down);
    EXPECT_EQ(bridge.selectedRow(), (IndexPath{2, 0}));
    bridge.selectRow(0, 1);
    EXPECT_EQ(model.selected, (QList<IndexPath>{{1, 1}, {2, 0}, {1, 0}}));
}

TEST_F(PanesTableBridge, CountsStayUntilReloadOrEndOfUpdates)
{
    model.rows[2] = 3;
    EXPECT_EQ(table.numberOfRows(), 6);
    EXPECT_EQ(bridge.rowForRow(2, 2), 7); // asked afresh
    bridge.reloadData();
    EXPECT_EQ(table.numberOfRows(), 8);

    bridge.beginUpdates();
    model.rows[0] = 1;
    table.insertRows(bridge.rowForRow(0, 0), 1);
    EXPECT_EQ(bridge.totalRows(), 8);
    bridge.endUpdates();
    settle();
    EXPECT_EQ(bridge.totalRows(), 9);
    EXPECT_EQ(table.numberOfRows(), 9);
    EXPECT_EQ(static_cast<QLabel*>(table.viewAtRow(1, false))->text(), QStringLiteral("0.0"));
}

} // namespace
