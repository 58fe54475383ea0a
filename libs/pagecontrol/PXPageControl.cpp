#include "PXPageControl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

// The platform's greys, not Qt's.
const QColor DefaultSelected = QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3);
const QColor DefaultHighlight = QColor::fromRgbF(0.5f, 0.5f, 0.5f);
const QColor DefaultUnselected = QColor::fromRgbF(2.0f / 3, 2.0f / 3, 2.0f / 3);

QColor orDefault(const QColor& color, const QColor& fallback)
{
    return color.isValid() ? color : fallback;
}

} // namespace

void PXPageControlCell::draw(QPainter& painter, QWidget* view) const
{
    if (!drawingBlock)
        return;
    painter.save();
    drawingBlock(painter, frame, view, on, highlighted);
    painter.restore();
}

PXPageControl::PXPageControl(QWidget* parent) : QWidget(parent)
{
}

void PXPageControl::setCurrentPage(int64_t page)
{
    currentPage_ = page;
    updateCurrentPageDisplay();
}

void PXPageControl::setNumberOfPages(int64_t count)
{
    numberOfPages_ = count;
    updateCurrentPageDisplay();
    updateGeometry();
}

void PXPageControl::setUseHandCursor(bool use)
{
    useHandCursor_ = use;
    setMouseTracking(use);
    updateCurrentPageDisplay();
}

QColor PXPageControl::selectedColor() const
{
    return orDefault(selectedColor_, DefaultSelected);
}

void PXPageControl::setSelectedColor(const QColor& color)
{
    selectedColor_ = color;
    updateCurrentPageDisplay();
}

QColor PXPageControl::highlightColor() const
{
    return orDefault(highlightColor_, DefaultHighlight);
}

void PXPageControl::setHighlightColor(const QColor& color)
{
    highlightColor_ = color;
    updateCurrentPageDisplay();
}

QColor PXPageControl::unselectedColor() const
{
    return orDefault(unselectedColor_, DefaultUnselected);
}

void PXPageControl::setUnselectedColor(const QColor& color)
{
    unselectedColor_ = color;
    updateCurrentPageDisplay();
}

void PXPageControl::setDrawingBlock(PXPageControlDrawingBlock block)
{
    drawingBlock_ = std::move(block);
    updateCurrentPageDisplay();
}

QSizeF PXPageControl::sizeForNumberOfPages(int64_t count) const
{
    const double width = double(count) * diameter_ + double(count - 1) * margin_;
    return {std::max(0.0, width), diameter_};
}

QSize PXPageControl::sizeHint() const
{
    return sizeForNumberOfPages(numberOfPages_).toSize();
}

void PXPageControl::updateCurrentPageDisplay()
{
    cells_.clear();
    builtFor_ = size();
    rowFrame_ = QRectF();
    pressed_ = -1;
    update();
    if (numberOfPages_ <= 0 || (hidesForSinglePage_ && numberOfPages_ < 2))
        return;
    const QSizeF size = sizeForNumberOfPages(numberOfPages_);
    // Snapped down to whole pixels; a control narrower than the row gets a negative origin.
    const double x = std::floor(float((width() - size.width()) * 0.5));
    const double y = std::floor(float((height() - size.height()) * 0.5));
    rowFrame_ = QRectF(QPointF(x, y), size);
    // The default block holds the control weakly: a cell may outlive a paint.
    const PXPageControlDrawingBlock block =
        drawingBlock_ ? drawingBlock_
                      : [self = QPointer(this)](QPainter& painter, const QRectF& frame, QWidget*, bool selected, bool highlighted) {
                            if (self)
                                self->defaultDraw(painter, frame, selected, highlighted);
                        };
    cells_.resize(size_t(numberOfPages_));
    for (size_t i = 0; i < cells_.size(); ++i) {
        PXPageControlCell& cell = cells_[i];
        cell.frame = QRectF(x + double(i) * (diameter_ + margin_), y, diameter_, diameter_);
        cell.on = int64_t(i) == currentPage_;
        cell.drawingBlock = block;
        cell.useHandCursor = useHandCursor_;
    }
}

void PXPageControl::defaultDraw(QPainter& painter, const QRectF& frame, bool selected, bool highlighted) const
{
    const QColor fill = highlighted ? highlightColor() : selected ? selectedColor() : unselectedColor();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(frame);
}

void PXPageControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (const PXPageControlCell& cell : cells_)
        cell.draw(painter, this);
}

void PXPageControl::resizeEvent(QResizeEvent*)
{
    // The first paint delivers a resize that changes nothing.
    if (size() != builtFor_)
        updateCurrentPageDisplay();
}

int PXPageControl::cellAt(const QPointF& point) const
{
    for (size_t i = 0; i < cells_.size(); ++i)
        if (cells_[i].frame.contains(point))
            return int(i);
    return -1;
}

void PXPageControl::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton ? cellAt(event->position()) : -1;
    if (pressed_ < 0)
        return;
    cells_[size_t(pressed_)].highlighted = true;
    update();
}

void PXPageControl::mouseMoveEvent(QMouseEvent* event)
{
    const int over = cellAt(event->position());
    if (useHandCursor_)
        over >= 0 && cells_[size_t(over)].useHandCursor ? setCursor(Qt::PointingHandCursor) : unsetCursor();
    if (pressed_ < 0)
        return;
    // Highlighted only while the pointer stays on the pressed dot.
    cells_[size_t(pressed_)].highlighted = over == pressed_;
    update();
}

void PXPageControl::mouseReleaseEvent(QMouseEvent* event)
{
    const int pressed = std::exchange(pressed_, -1);
    if (pressed < 0)
        return;
    cells_[size_t(pressed)].highlighted = false;
    update();
    if (cellAt(event->position()) == pressed)
        clickedItem(pressed);
}

void PXPageControl::clickedItem(int index)
{
    for (size_t i = 0; i < cells_.size(); ++i)
        cells_[i].on = int(i) == index;
    // No rebuild: the dots already show the choice.
    currentPage_ = index;
    if (PXPageControlDelegate* delegate = delegate_.get())
        delegate->pageControlDidSelectPageAtIndex(*this, index);
}
