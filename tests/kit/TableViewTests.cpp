#include "KitTestSupport.h"
#include "SteppedAnimationClock.h"

#include "kit/AnimationContext.h"
#include "kit/TableLayout.h"
#include "kit/TableView.h"

#include <QLabel>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <map>

#include <functional>

namespace {

TEST(KitTableLayout, FindsRowsByOffsetAcrossEmptyRows)
{
    TableLayout layout;
    const std::vector<double> heights{10, 0, 5, 20};
    layout.setHeights(qsizetype(heights.size()), [&](qsizetype row) { return heights[size_t(row)]; });
    EXPECT_EQ(layout.totalHeight(), 35);
    EXPECT_EQ(layout.offsetOfRow(3), 15);

    const struct {
        double y;
        qsizetype row;
    } points[] = {{-0.5, -1}, {0, 0}, {9.9, 0}, {10, 2}, {14.9, 2}, {15, 3}, {34.9, 3}, {35, -1}};
    for (const auto& point : points)
        EXPECT_EQ(layout.rowAtY(point.y), point.row) << point.y;

    const struct {
        double top, bottom;
        qsizetype first, last;
    } strips[] = {{0, 1000, 0, 4}, {10, 15, 2, 3}, {9, 16, 0, 4}, {35, 50, 4, 4}, {0, 0, 0, 0}};
    for (const auto& strip : strips)
        EXPECT_EQ(layout.rowsInStrip(strip.top, strip.bottom), std::pair(strip.first, strip.last))
            << strip.top << ".." << strip.bottom;
}

// Rows of varied heights, shown by labels that carry their row's name.
struct Rows : TableViewDataSource {
    struct Row {
        QString name;
        double height;
    };
    QList<Row> rows;
    int made = 0;
    QSet<qsizetype> unselectable;
    QSet<qsizetype> groups;

    qsizetype numberOfRowsInTableView(TableView&) override { return rows.size(); }
    double tableViewHeightOfRow(TableView&, qsizetype row) override { return rows[row].height; }
    bool tableViewShouldSelectRow(TableView&, qsizetype row) override { return !unselectable.contains(row); }
    bool tableViewIsGroupRow(TableView&, qsizetype row) override { return groups.contains(row); }
    QVariant tableViewObjectValueForRow(TableView&, qsizetype row) override { return rows[row].name + "!"; }
    QWidget* tableViewViewForRow(TableView& table, qsizetype row) override
    {
        auto* label = static_cast<QLabel*>(table.makeView(QStringLiteral("row"), [this] {
            ++made;
            return new QLabel;
        }));
        label->setText(rows[row].name);
        return label;
    }
};

class KitTableView : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 40; ++i)
            rows.rows.append({QStringLiteral("r%1").arg(i), 10.0 + i % 3 * 5});
        table.setDataSource(&rows);
        table.resize(200, 120);
        table.show();
        table.reloadData();
    }

    // Every built view sits on its row, shows it, and serves no other row.
    void expectViewsOnTheirRows()
    {
        QSet<QWidget*> seen;
        int built = 0;
        for (qsizetype row = 0; row < table.numberOfRows(); ++row) {
            QWidget* view = table.viewAtRow(row, false);
            if (!view)
                continue;
            ++built;
            EXPECT_FALSE(seen.contains(view)) << "row " << row;
            seen.insert(view);
            EXPECT_EQ(view->geometry(), table.rectOfRow(row)) << "row " << row;
            EXPECT_EQ(static_cast<QLabel*>(view)->text(), rows.rows[row].name) << "row " << row;
            EXPECT_EQ(table.rowForView(view), row);
        }
        EXPECT_GT(built, 0);
    }

    Rows rows;
    TableView table;
};

TEST_F(KitTableView, BuildsOnlyVisibleRowsAndReusesThem)
{
    const int firstScreen = rows.made;
    EXPECT_LE(firstScreen, 12);
    for (int page = 0; page < 10; ++page)
        QTest::keyClick(&table, Qt::Key_PageDown);
    settle();
    EXPECT_EQ(table.rowAtPoint({5, table.viewport()->height() - 1}), rows.rows.size() - 1);
    EXPECT_LE(rows.made, firstScreen + 2);
    expectViewsOnTheirRows();
    EXPECT_EQ(table.viewAtRow(0, false), nullptr);
    QWidget* made = table.viewAtRow(0, true);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(table.rowForView(made), 0);
}

// A row whose content did not change keeps what its view has laid out.
TEST_F(KitTableView, AReloadGivesEveryShownRowTheViewThatShowedIt)
{
    QTest::keyClick(&table, Qt::Key_PageDown);
    settle();
    std::map<qsizetype, QWidget*> before;
    for (qsizetype row = 0; row < table.numberOfRows(); ++row) {
        if (QWidget* view = table.viewAtRow(row, false))
            before[row] = view;
    }
    ASSERT_GT(before.size(), 2u);
    const int made = rows.made;
    table.reloadData();
    for (const auto& [row, view] : before)
        EXPECT_EQ(table.viewAtRow(row, false), view) << "row " << row;
    EXPECT_EQ(rows.made, made);
    expectViewsOnTheirRows();
}

TEST_F(KitTableView, AnimatedChangesLeaveEveryRowAtItsOffset)
{
    using Change = std::function<void()>;
    using Animation = TableView::Animation;
    const auto insert = [&](qsizetype at, const QString& name, double height, Animation animation) -> Change {
        return [=, this] {
            rows.rows.insert(at, {name, height});
            table.insertRows(at, 1, animation);
        };
    };
    const auto remove = [&](qsizetype at, Animation animation) -> Change {
        return [=, this] {
            rows.rows.remove(at);
            table.removeRows(at, 1, animation);
        };
    };
    const auto move = [&](qsizetype from, qsizetype to) -> Change {
        return [=, this] {
            rows.rows.move(from, to);
            table.moveRow(from, to);
        };
    };
    const QList<QList<Change>> batches = {
        {insert(0, QStringLiteral("new0"), 30, Animation::SlideDown)},
        {remove(2, Animation::Fade), insert(3, QStringLiteral("new3"), 12, Animation::Fade)},
        {move(1, 5), move(6, 0)},
        {remove(0, Animation::SlideUp), remove(0, Animation::None),
         insert(1, QStringLiteral("new1"), 7, Animation::SlideUp), move(3, 2)},
    };
    for (const QList<Change>& batch : batches) {
        table.beginUpdates();
        for (const Change& change : batch)
            change();
        table.endUpdates();
        settle();
        ASSERT_EQ(table.numberOfRows(), rows.rows.size());
        expectViewsOnTheirRows();
    }
}

TEST_F(KitTableView, AViewReusedWhileItSlidesSitsOnItsNewRow)
{
    AnimationContext::setTestMode(false);
    SteppedAnimationClock clock;
    const struct {
        const char* name;
        std::function<void()> midway;
    } interruptions[] = {
        {"a reload", [this] { table.reloadData(); }},
        {"a scroll", [this] { table.verticalScrollBar()->setValue(table.verticalScrollBar()->value() + 45); }},
    };
    for (const auto& i : interruptions) {
        SCOPED_TRACE(i.name);
        table.beginUpdates();
        rows.rows.insert(0, {QStringLiteral("new"), 48});
        table.insertRows(0, 1, TableView::Animation::SlideDown);
        table.endUpdates();
        clock.step(0);
        clock.step(40);
        i.midway();
        for (int step = 0; step < 20; ++step)
            clock.step(50);
        settle();
        expectViewsOnTheirRows();
    }
    AnimationContext::setTestMode(true);
}

TEST_F(KitTableView, SelectionSkipsRefusedRowsAndFollowsItsRow)
{
    rows.unselectable = {0, 2};
    int changes = 0;
    QObject::connect(&table, &TableView::selectionDidChange, [&] { ++changes; });
    QTest::keyClick(&table, Qt::Key_Down);
    EXPECT_EQ(table.selectedRow(), 1);
    QTest::keyClick(&table, Qt::Key_Down);
    EXPECT_EQ(table.selectedRow(), 3);
    QTest::keyClick(&table, Qt::Key_Up);
    EXPECT_EQ(table.selectedRow(), 1);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.rectOfRow(0).center());
    EXPECT_EQ(table.selectedRow(), 1);
    EXPECT_EQ(changes, 3);

    rows.rows.insert(0, {QStringLiteral("top"), 10});
    table.insertRows(0, 1);
    EXPECT_EQ(table.selectedRow(), 2);
    rows.rows.remove(2);
    table.removeRows(2, 1);
    EXPECT_EQ(table.selectedRow(), -1);
    EXPECT_EQ(changes, 4);
    settle();
}

TEST_F(KitTableView, GroupRowsAreNeverSelectedAndViewsCarryTheirObjectValue)
{
    rows.groups = {0, 2};
    const struct {
        const char* how;
        std::function<void()> act;
        qsizetype selected;
    } steps[] = {
        {"down from none skips the group row", [&] { QTest::keyClick(&table, Qt::Key_Down); }, 1},
        {"down skips the next group row", [&] { QTest::keyClick(&table, Qt::Key_Down); }, 3},
        {"a click on a group row", [&] { QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.rectOfRow(2).center()); }, 3},
        {"up skips the group row", [&] { QTest::keyClick(&table, Qt::Key_Up); }, 1},
        {"up has nothing above", [&] { QTest::keyClick(&table, Qt::Key_Up); }, 1},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(table.selectedRow(), step.selected) << step.how;
    }
    for (const qsizetype row : {0, 1, 5})
        EXPECT_EQ(table.viewAtRow(row, true)->property("objectValue").toString(), rows.rows[row].name + "!") << row;
}

TEST_F(KitTableView, ScrollsASelectedRowIntoView)
{
    const qsizetype last = table.numberOfRows() - 1;
    table.selectRow(last);
    table.scrollRowToVisible(last);
    settle();
    const QRect rect = table.rectOfRow(last);
    EXPECT_EQ(rect.bottom(), table.viewport()->height() - 1);
    table.scrollRowToVisible(0);
    EXPECT_EQ(table.rectOfRow(0).top(), 0);
}

// Asked while hidden, before its layout gave it a height, the table scrolls
// once shown and sized: a row near the top needs no scroll, one far down
// still comes into view.
TEST(KitTableViewHidden, RevealsARowAskedForWhileHiddenOnceShownAtItsHeight)
{
    Rows rows;
    for (int i = 0; i < 40; ++i)
        rows.rows.append({QStringLiteral("r%1").arg(i), 20.0});
    for (const qsizetype row : {qsizetype(2), qsizetype(39)}) {
        SCOPED_TRACE(row);
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        auto* table = new TableView;
        table->hide();
        column->addWidget(table);
        table->setDataSource(&rows);
        window.resize(200, 300);
        window.show();
        table->reloadData();
        table->scrollRowToVisible(row);
        table->show();
        settle();
        ASSERT_GT(table->viewport()->height(), 100);
        if (row == 2)
            EXPECT_EQ(table->verticalScrollBar()->value(), 0);
        else
            EXPECT_EQ(table->rectOfRow(row).bottom(), table->viewport()->height() - 1);
    }
}

} // namespace
