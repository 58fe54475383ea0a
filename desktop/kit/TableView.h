#pragma once

#include "kit/TableLayout.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>

class TableView;

// What a table asks about its rows. Heights in points; a view comes from TableView::makeView so that
// views scrolled away are reused.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual qsizetype numberOfRowsInTableView(TableView& table) = 0;
    virtual QWidget* tableViewViewForRow(TableView& table, qsizetype row) = 0;
    virtual double tableViewHeightOfRow(TableView& table, qsizetype row) = 0;
    virtual bool tableViewShouldSelectRow(TableView&, qsizetype) { return true; }
    // A group row heads the rows after it: clicks and arrow keys never select it.
    virtual bool tableViewIsGroupRow(TableView&, qsizetype) { return false; }
    // Given to a row's view, as its "objectValue" property, when the view is built for the row.
    virtual QVariant tableViewObjectValueForRow(TableView&, qsizetype) { return {}; }
};

// A single-column table of row views on a scroll area. Only the rows on screen have views; a view
// that leaves the screen goes back to a pool under its identifier, and its next owner sets it up
// again (work it started must carry its own key, not read the view later). Heights are asked once
// per reload and kept as prefix sums.
//
// Changes: either change the model and call reloadData(), or call beginUpdates(), change the model,
// make insertRows/removeRows/moveRow calls in the model's new numbering, then endUpdates(), which
// asks the heights again and slides the views to their new places through AnimationContext.
// One row at most is selected; rows the data source refuses are never selected.
class TableView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class Animation { None, Fade, SlideUp, SlideDown };

    // The data source is not owned and must outlive the table's use of it.
    explicit TableView(QWidget* parent = nullptr);
    ~TableView() override;

    void setDataSource(TableViewDataSource* dataSource);
    TableViewDataSource* dataSource() const { return dataSource_; }

    // Called by the data source while it builds a row: a pooled view of the identifier, or a new
    // one from make(). The table owns every view it is given.
    QWidget* makeView(const QString& identifier, const std::function<QWidget*()>& make);

    void reloadData();
    void beginUpdates();
    void endUpdates();
    void insertRows(qsizetype row, qsizetype count, Animation animation = Animation::Fade);
    void removeRows(qsizetype row, qsizetype count, Animation animation = Animation::Fade);
    void moveRow(qsizetype from, qsizetype to);

    qsizetype numberOfRows() const { return layout_.count(); }
    // The view of the row; with make, built when the row has none (even off screen). Null otherwise.
    QWidget* viewAtRow(qsizetype row, bool make);
    // The row a view currently serves, or -1.
    qsizetype rowForView(const QWidget* view) const;
    // A point in the viewport's coordinates; -1 outside every row.
    qsizetype rowAtPoint(const QPoint& point) const;
    // In the viewport's coordinates.
    QRect rectOfRow(qsizetype row) const;
    void scrollRowToVisible(qsizetype row);

    // -1 when none.
    qsizetype selectedRow() const { return selected_; }
    // Selects only this row (-1 clears) without asking the data source; selectionDidChange follows a change.
    void selectRow(qsizetype row);

    void setBackgroundColor(const QColor& color);
    // Filled behind the selected row, with focused (when valid) while the table has the keys; an
    // invalid colour draws none (the row view draws its own).
    void setSelectionColor(const QColor& color, const QColor& focused = QColor());

signals:
    void selectionDidChange();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Row views may draw the selection by focus.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void relayout();
    void updateScrollRange();
    double top() const;
    // Builds views for the rows on screen; with recycle, pools the views of rows off screen.
    void tile(bool recycle);
    QWidget* buildView(qsizetype row);
    void recycle(QWidget* view);
    void placeViews();
    void revealPendingRow();
    // Neither a group row nor one the data source refuses.
    bool canSelect(qsizetype row) const;
    // The next row from the selected one, in the step's direction, that the data source lets select.
    qsizetype selectableRowFrom(qsizetype row, int step) const;
    void shiftRows(qsizetype from, qsizetype delta);

    TableViewDataSource* dataSource_ = nullptr;
    TableLayout layout_;
    std::map<qsizetype, QWidget*> views_;
    QHash<QString, QList<QWidget*>> pool_;
    // Rows inserted in the running update, with how they come in.
    std::map<qsizetype, Animation> inserted_;
    QList<std::pair<QWidget*, Animation>> removed_;
    int updateDepth_ = 0;
    qsizetype selected_ = -1;
    // Asked to be scrolled into view while hidden, before the table had its height.
    qsizetype rowToReveal_ = -1;
    QColor background_;
    QColor selectionColor_;
    QColor focusedSelectionColor_;
};
