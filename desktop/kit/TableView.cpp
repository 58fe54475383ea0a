#include "kit/TableView.h"

#include "kit/AnimationContext.h"
#include "kit/ScrollerStyle.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include <cmath>

namespace {

const char* const IdentifierProperty = "tableViewIdentifier";

int pixel(double points)
{
    return int(std::lround(points));
}

} // namespace

TableView::TableView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(20);
}

TableView::~TableView() = default;

void TableView::setDataSource(TableViewDataSource* dataSource)
{
    dataSource_ = dataSource;
}

QWidget* TableView::makeView(const QString& identifier, const std::function<QWidget*()>& make)
{
    QList<QWidget*>& pooled = pool_[identifier];
    QWidget* view = pooled.isEmpty() ? make() : pooled.takeLast();
    view->setProperty(IdentifierProperty, identifier);
    view->setParent(viewport());
    return view;
}

void TableView::reloadData()
{
    // Last row first: the pool hands out its last view first and rows are built from the top, so each
    // row gets the view that showed it, whose content may well be unchanged.
    for (auto it = views_.rbegin(); it != views_.rend(); ++it)
        recycle(it->second);
    views_.clear();
    relayout();
    if (selected_ >= numberOfRows())
        selectRow(-1);
    tile(true);
    viewport()->update();
}

void TableView::beginUpdates()
{
    ++updateDepth_;
}

void TableView::insertRows(qsizetype row, qsizetype count, Animation animation)
{
    shiftRows(row, count);
    for (qsizetype i = 0; i < count; ++i)
        inserted_[row + i] = animation;
    if (updateDepth_ == 0)
        endUpdates();
}

void TableView::removeRows(qsizetype row, qsizetype count, Animation animation)
{
    for (qsizetype i = row; i < row + count; ++i) {
        if (const auto it = views_.find(i); it != views_.end()) {
            removed_.append({it->second, animation});
            views_.erase(it);
        }
        inserted_.erase(i);
    }
    const bool lostSelection = selected_ >= row && selected_ < row + count;
    shiftRows(row + count, -count);
    if (lostSelection)
        selectRow(-1);
    if (updateDepth_ == 0)
        endUpdates();
}

void TableView::moveRow(qsizetype from, qsizetype to)
{
    if (from == to)
        return;
    QWidget* moving = nullptr;
    if (const auto it = views_.find(from); it != views_.end()) {
        moving = it->second;
        views_.erase(it);
    }
    const bool wasSelected = selected_ == from;
    const auto movingInsert = inserted_.extract(from);
    shiftRows(from + 1, -1);
    shiftRows(to, 1);
    if (moving)
        views_[to] = moving;
    if (!movingInsert.empty())
        inserted_[to] = movingInsert.mapped();
    if (wasSelected)
        selected_ = to;
    if (updateDepth_ == 0)
        endUpdates();
}

void TableView::shiftRows(qsizetype from, qsizetype delta)
{
    const auto shift = [&](auto& map) {
        std::remove_reference_t<decltype(map)> shifted;
        for (auto& [row, value] : map)
            shifted.emplace(row >= from ? row + delta : row, value);
        map.swap(shifted);
    };
    shift(views_);
    shift(inserted_);
    if (selected_ >= from)
        selected_ += delta;
}

void TableView::endUpdates()
{
    if (updateDepth_ > 0 && --updateDepth_ > 0)
        return;
    relayout();
    tile(false);
    const auto inserted = std::exchange(inserted_, {});
    const auto removed = std::exchange(removed_, {});
    for (const auto& [row, animation] : inserted) {
        const auto it = views_.find(row);
        if (it == views_.end() || animation == Animation::None)
            continue;
        QRect start = rectOfRow(row);
        if (animation == Animation::SlideDown)
            start.moveBottom(start.top());
        start.setHeight(animation == Animation::Fade ? start.height() : 0);
        it->second->setGeometry(start);
        if (animation == Animation::Fade)
            AnimationContext::runGroup(0, [&](AnimationContext& context) { context.setAlpha(it->second, 0); });
    }
    QPointer<TableView> self(this);
    AnimationContext::runGroup(
        [&](AnimationContext& context) {
            for (const auto& [row, view] : views_) {
                context.setFrame(view, rectOfRow(row));
                if (AnimationContext::alpha(view) < 1)
                    context.setAlpha(view, 1);
            }
            for (const auto& [view, animation] : removed) {
                if (animation == Animation::Fade) {
                    context.setAlpha(view, 0);
                } else if (animation == Animation::SlideUp) {
                    // Slides up behind the rows that close the gap.
                    view->lower();
                    context.setFrame(view, view->geometry().translated(0, -view->height()));
                } else {
                    context.setFrame(view, view->geometry().adjusted(0, 0, 0, -view->height()));
                }
            }
        },
        [self, removed] {
            if (!self)
                return;
            for (const auto& entry : removed)
                self->recycle(entry.first);
            self->tile(true);
        });
    viewport()->update();
}

QWidget* TableView::viewAtRow(qsizetype row, bool make)
{
    if (const auto it = views_.find(row); it != views_.end())
        return it->second;
    if (!make || row < 0 || row >= numberOfRows() || !dataSource_)
        return nullptr;
    return buildView(row);
}

qsizetype TableView::rowForView(const QWidget* view) const
{
    for (const auto& [row, candidate] : views_)
        if (candidate == view)
            return row;
    return -1;
}

qsizetype TableView::rowAtPoint(const QPoint& point) const
{
    if (point.x() < 0 || point.x() >= viewport()->width())
        return -1;
    return layout_.rowAtY(point.y() + top());
}

QRect TableView::rectOfRow(qsizetype row) const
{
    if (row < 0 || row >= numberOfRows())
        return {};
    const int y = pixel(layout_.offsetOfRow(row));
    const int bottom = pixel(layout_.offsetOfRow(row + 1));
    return {0, y - pixel(top()), viewport()->width(), bottom - y};
}

void TableView::scrollRowToVisible(qsizetype row)
{
    // A hidden table has no height of its own yet (a layout sizes only what
    // it shows): scrolled now, it would stay scrolled against a height it
    // never has.
    if (!isVisible()) {
        rowToReveal_ = row;
        return;
    }
    rowToReveal_ = -1;
    const QRect rect = rectOfRow(row);
    if (rect.isNull())
        return;
    QScrollBar* bar = verticalScrollBar();
    if (rect.top() < 0)
        bar->setValue(bar->value() + rect.top());
    else if (rect.bottom() >= viewport()->height())
        bar->setValue(bar->value() + rect.bottom() + 1 - viewport()->height());
}

void TableView::selectRow(qsizetype row)
{
    if (row >= numberOfRows())
        row = -1;
    if (row == selected_)
        return;
    const qsizetype old = std::exchange(selected_, row < 0 ? -1 : row);
    for (const qsizetype changed : {old, selected_})
        if (QWidget* view = viewAtRow(changed, false))
            view->update();
    viewport()->update();
    emit selectionDidChange();
}

void TableView::setBackgroundColor(const QColor& color)
{
    background_ = color;
    // The desktop's scroll bar is light whatever the pane's colour.
    ScrollerStyle::apply(*verticalScrollBar(), color, ScrollerStyle::knobOn(color));
    viewport()->update();
}

void TableView::setSelectionColor(const QColor& color, const QColor& focused)
{
    selectionColor_ = color;
    focusedSelectionColor_ = focused;
    viewport()->update();
}

bool TableView::canSelect(qsizetype row) const
{
    auto& self = const_cast<TableView&>(*this);
    return dataSource_ && !dataSource_->tableViewIsGroupRow(self, row) && dataSource_->tableViewShouldSelectRow(self, row);
}

qsizetype TableView::selectableRowFrom(qsizetype row, int step) const
{
    for (qsizetype next = row + step; next >= 0 && next < numberOfRows(); next += step)
        if (canSelect(next))
            return next;
    return -1;
}

void TableView::keyPressEvent(QKeyEvent* event)
{
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const int step = event->key() == Qt::Key_Up ? -1 : 1;
        const qsizetype from = selected_ >= 0 ? selected_ : (step > 0 ? -1 : numberOfRows());
        const qsizetype next = selectableRowFrom(from, step);
        if (next >= 0) {
            selectRow(next);
            scrollRowToVisible(next);
        }
        return;
    }
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        bar->setValue(bar->value() + (event->key() == Qt::Key_PageUp ? -bar->pageStep() : bar->pageStep()));
        return;
    case Qt::Key_Home:
        bar->setValue(bar->minimum());
        return;
    case Qt::Key_End:
        bar->setValue(bar->maximum());
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TableView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const qsizetype row = rowAtPoint(event->position().toPoint());
    if (row >= 0 && canSelect(row))
        selectRow(row);
}

void TableView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    if (background_.isValid())
        painter.fillRect(viewport()->rect(), background_);
    if (selectionColor_.isValid() && selected_ >= 0)
        painter.fillRect(rectOfRow(selected_),
                         hasFocus() && focusedSelectionColor_.isValid() ? focusedSelectionColor_ : selectionColor_);
}

void TableView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TableView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TableView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    placeViews();
    tile(true);
    revealPendingRow();
}

void TableView::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    // After the layout has given the table its height, when showing changed it.
    QTimer::singleShot(0, this, &TableView::revealPendingRow);
}

void TableView::revealPendingRow()
{
    if (rowToReveal_ >= 0 && isVisible())
        scrollRowToVisible(std::exchange(rowToReveal_, -1));
}

void TableView::scrollContentsBy(int, int)
{
    placeViews();
    tile(true);
    viewport()->update();
}

void TableView::relayout()
{
    if (dataSource_)
        layout_.setHeights(dataSource_->numberOfRowsInTableView(*this),
                           [this](qsizetype row) { return dataSource_->tableViewHeightOfRow(*this, row); });
    else
        layout_.setHeights(0, {});
    updateScrollRange();
}

void TableView::updateScrollRange()
{
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, std::max(0, pixel(layout_.totalHeight()) - viewport()->height()));
}

double TableView::top() const
{
    return verticalScrollBar()->value();
}

void TableView::placeViews()
{
    for (const auto& [row, view] : views_) {
        AnimationContext::stopFrame(view);
        view->setGeometry(rectOfRow(row));
    }
}

void TableView::tile(bool recycleOffScreen)
{
    if (!dataSource_)
        return;
    const auto [first, last] = layout_.rowsInStrip(top(), top() + viewport()->height());
    if (recycleOffScreen) {
        for (auto it = views_.begin(); it != views_.end();) {
            if (it->first >= first && it->first < last) {
                ++it;
                continue;
            }
            recycle(it->second);
            it = views_.erase(it);
        }
    }
    for (qsizetype row = first; row < last; ++row)
        if (!views_.contains(row))
            buildView(row);
}

QWidget* TableView::buildView(qsizetype row)
{
    QWidget* view = dataSource_->tableViewViewForRow(*this, row);
    if (!view)
        return nullptr;
    views_[row] = view;
    view->setProperty("objectValue", dataSource_->tableViewObjectValueForRow(*this, row));
    view->setParent(viewport());
    view->setGeometry(rectOfRow(row));
    view->show();
    return view;
}

void TableView::recycle(QWidget* view)
{
    // A slide still running would carry the view off the row it serves next.
    AnimationContext::stopFrame(view);
    view->hide();
    view->setGraphicsEffect(nullptr);
    const QString identifier = view->property(IdentifierProperty).toString();
    if (identifier.isEmpty())
        view->deleteLater();
    else
        pool_[identifier].append(view);
}
