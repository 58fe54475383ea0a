#include "kit/Popover.h"

#include "kit/ViewController.h"

#include <QKeyEvent>
#include <QScreen>

namespace {

QRect placed(const QRect& anchor, const QSize& size, Popover::Edge edge)
{
    const QPoint center(anchor.x() + anchor.width() / 2, anchor.y() + anchor.height() / 2);
    switch (edge) {
    case Popover::Edge::Top:
        return {QPoint(center.x() - size.width() / 2, anchor.top() - size.height()), size};
    case Popover::Edge::Bottom:
        return {QPoint(center.x() - size.width() / 2, anchor.bottom() + 1), size};
    case Popover::Edge::Left:
        return {QPoint(anchor.left() - size.width(), center.y() - size.height() / 2), size};
    case Popover::Edge::Right:
        return {QPoint(anchor.right() + 1, center.y() - size.height() / 2), size};
    }
    return {};
}

Popover::Edge opposite(Popover::Edge edge)
{
    switch (edge) {
    case Popover::Edge::Top:
        return Popover::Edge::Bottom;
    case Popover::Edge::Bottom:
        return Popover::Edge::Top;
    case Popover::Edge::Left:
        return Popover::Edge::Right;
    case Popover::Edge::Right:
        return Popover::Edge::Left;
    }
    return edge;
}

// Along the edge the panel only slides: into the window's part of the screen when it fits there,
// else onto the screen.
QRect keptAlong(QRect frame, const QRect& screen, const QRect& window, Popover::Edge edge)
{
    const bool vertical = edge == Popover::Edge::Top || edge == Popover::Edge::Bottom;
    const QRect inside = window.intersected(screen);
    const bool fits = vertical ? inside.width() >= frame.width() : inside.height() >= frame.height();
    const QRect& bounds = fits && !inside.isEmpty() ? inside : screen;
    if (vertical)
        frame.moveLeft(std::clamp(frame.left(), bounds.left(), std::max(bounds.left(), bounds.right() + 1 - frame.width())));
    else
        frame.moveTop(std::clamp(frame.top(), bounds.top(), std::max(bounds.top(), bounds.bottom() + 1 - frame.height())));
    return frame;
}

} // namespace

Popover::Popover(QWidget* parent) : QFrame(parent, Qt::Popup)
{
    setFrameShape(QFrame::StyledPanel);
}

Popover::~Popover()
{
    delete content_;
}

void Popover::setContentViewController(ViewController* controller)
{
    delete content_;
    content_ = controller;
    if (!content_)
        return;
    content_->removeFromParent();
    content_->view()->setParent(this);
    content_->view()->setGeometry(rect());
}

void Popover::setContentSize(const QSize& size)
{
    contentSize_ = size;
}

QRect Popover::frameFor(const QRect& anchor, const QSize& size, Edge preferred, const QRect& screen, Edge* used,
                        const QRect& window)
{
    Edge edge = preferred;
    QRect frame = placed(anchor, size, edge);
    if (!screen.contains(frame) && screen.contains(placed(anchor, size, opposite(edge)))) {
        edge = opposite(edge);
        frame = placed(anchor, size, edge);
    }
    if (used)
        *used = edge;
    return keptAlong(frame, screen, window, edge);
}

void Popover::show(const QRect& anchor, QWidget* anchorView, Edge preferredEdge)
{
    const QRect global(anchorView->mapToGlobal(anchor.topLeft()), anchor.size());
    QScreen* screen = anchorView->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(global.topLeft(), contentSize_ * 4);
    const QWidget* window = anchorView->window();
    const QRect windowFrame(window->mapToGlobal(QPoint(0, 0)), window->size());
    setGeometry(frameFor(global, contentSize_, preferredEdge, area, &shownEdge_, windowFrame));
    if (content_)
        content_->view()->setGeometry(rect());
    QFrame::show();
    if (content_)
        content_->view()->setFocus();
}

void Popover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

void Popover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    emit didClose();
}
