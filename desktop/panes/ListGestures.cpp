#include "panes/ListGestures.h"

#include "kit/TableView.h"
#include "panes/ListEntryCell.h"

#include "Dispatch.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

ListGestures::ListGestures(TableView* table, Hooks hooks) : QObject(table), table_(table), hooks_(std::move(hooks))
{
    table_->viewport()->installEventFilter(this);
}

bool ListGestures::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        return watched == table_->viewport() && mouse(static_cast<const QMouseEvent&>(*event));
    default:
        return false;
    }
}

ListEntryCell* ListGestures::pannableCellAt(QPoint at) const
{
    ListEntryCell* cell = hooks_.cellAt(at);
    return cell && (!cell->delegate() || cell->delegate()->listEntryWillPan(*cell)) ? cell : nullptr;
}

// Presses are held back from the table: a row is selected on release, when no drag began.
bool ListGestures::mouse(const QMouseEvent& event)
{
    const QPoint at = event.position().toPoint();
    if (event.type() == QEvent::MouseButtonPress) {
        if (event.button() == Qt::LeftButton && state_ != Swiping)
            pressAt_ = at;
        return true;
    }
    if (!pressAt_)
        return true;
    if (event.type() == QEvent::MouseMove) {
        if (state_ != Panning && (at - *pressAt_).manhattanLength() >= QApplication::startDragDistance()) {
            state_ = Panning;
            panning_ = pannableCellAt(*pressAt_);
            if (panning_)
                panning_->containerPanDidStart();
        }
        if (state_ == Panning && panning_)
            panning_->containerPanDidMove(at.x() - pressAt_->x());
        return true;
    }
    if (state_ == Panning) {
        if (panning_)
            panning_->containerPanDidEnd();
        state_ = Idle;
    } else {
        hooks_.click(*pressAt_);
    }
    pressAt_.reset();
    return true;
}

bool ListGestures::shouldScroll(const QWheelEvent& event)
{
    QPointF delta = event.pixelDelta();
    if (event.inverted())
        delta.setX(-delta.x());
    scroll(phaseOf(event), delta, event.position().toPoint()); // the viewport's coordinates
    return state_ == Idle;
}

// Phases as the platform gives them, else made up from the pauses between pixel-precise events.
Qt::ScrollPhase ListGestures::phaseOf(const QWheelEvent& event)
{
    if (event.phase() != Qt::NoScrollPhase)
        return event.phase();
    if (event.pixelDelta().isNull())
        return Qt::NoScrollPhase;
    const double now = DispatchTime::now();
    const bool begins = now - lastWheel_ >= QuietBeforeBegin;
    lastWheel_ = now;
    DispatchQueue::main()->after(EndAfter, [self = QPointer(this), wheel = ++wheels_] {
        if (self && self->wheels_ == wheel)
            self->scroll(Qt::ScrollEnd, {}, {});
    });
    return begins ? Qt::ScrollBegin : Qt::ScrollUpdate;
}

void ListGestures::scroll(Qt::ScrollPhase phase, QPointF delta, QPoint position)
{
    if (phase == Qt::NoScrollPhase || phase == Qt::ScrollMomentum)
        return;
    if (phase == Qt::ScrollBegin) {
        // A new gesture ends the swipe still running, on its own row.
        if (cancel_ && !cancel_->exchange(true))
            endSwipe();
        if (state_ == Idle) {
            panning_ = pannableCellAt(position);
            if (!panning_)
                return;
            state_ = Undecided;
            travel_ = 0;
        }
    }
    const bool ends = phase == Qt::ScrollEnd;
    if (state_ == Undecided || state_ == Swiping)
        travel_ += delta.x(); // the row follows the fingers from the gesture's start
    if (state_ == Undecided) {
        const float dx = std::abs(float(delta.x()));
        const float dy = std::abs(float(delta.y()));
        if (dy > dx + Lead || ends) {
            state_ = Idle;
            return;
        }
        if (dx <= dy + Lead)
            return;
        state_ = Swiping;
        cancel_ = std::make_shared<std::atomic<bool>>(false);
        if (panning_)
            panning_->containerPanDidStart();
    }
    if (state_ != Swiping)
        return;
    const double amount = std::clamp(travel_ / PixelsPerGestureUnit, -1.0, 1.0);
    if (panning_)
        panning_->containerPanDidMove(amount * PointsPerGestureUnit);
    if (ends)
        endSwipe();
}

void ListGestures::endSwipe()
{
    cancel_.reset();
    if (state_ == Idle)
        return;
    state_ = Idle;
    if (panning_)
        panning_->containerPanDidEnd();
}
