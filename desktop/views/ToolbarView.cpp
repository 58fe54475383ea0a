#include "views/ToolbarView.h"

ToolbarView::ToolbarView(QWidget* parent) : QLabel(parent)
{
    setScaledContents(true);
}

void ToolbarView::enterEvent(QEnterEvent* event)
{
    QLabel::enterEvent(event);
    if (delegate_)
        delegate_->toolbarViewMouseDidEnter(*this);
}

void ToolbarView::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    if (delegate_)
        delegate_->toolbarViewMouseDidExit(*this);
}
