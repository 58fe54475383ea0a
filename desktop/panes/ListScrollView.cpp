#include "panes/ListScrollView.h"

#include <QKeyEvent>
#include <QWheelEvent>

void ListScrollView::wheelEvent(QWheelEvent* event)
{
    if (!listDelegate_ || listDelegate_->listScrollViewShouldScroll(*this, *event))
        TableView::wheelEvent(event);
    else
        event->ignore();
}

void ListScrollView::keyPressEvent(QKeyEvent* event)
{
    if (listDelegate_ && listDelegate_->listScrollViewDidKeyDown(*this, *event))
        return event->accept();
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return TableView::keyPressEvent(event);
    default:
        event->ignore();
    }
}
