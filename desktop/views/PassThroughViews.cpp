#include "views/PassThroughViews.h"

#include <QChildEvent>
#include <QEvent>

void ChildMask::install(QWidget* widget)
{
    new ChildMask(widget);
}

ChildMask::ChildMask(QWidget* widget) : QObject(widget), widget_(widget)
{
    widget->installEventFilter(this);
    for (QObject* child : widget->children())
        watch(child);
    update();
}

void ChildMask::watch(QObject* child)
{
    if (child->isWidgetType())
        child->installEventFilter(this);
}

bool ChildMask::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        if (watched == widget_)
            watch(static_cast<QChildEvent*>(event)->child());
        update();
        break;
    case QEvent::ChildRemoved:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        update();
        break;
    default:
        break;
    }
    return false;
}

void ChildMask::update()
{
    QRegion region;
    for (QObject* child : widget_->children())
        if (auto* view = qobject_cast<QWidget*>(child); view && !view->isHidden() && !view->isWindow())
            region += view->geometry();
    // An empty region would clear the mask and make the whole view catch clicks.
    widget_->setMask(region.isEmpty() ? QRegion(-1, -1, 1, 1) : region);
}

TransparentView::TransparentView(QWidget* parent) : QWidget(parent)
{
    ChildMask::install(this);
}

TransparentLabel::TransparentLabel(QWidget* parent) : QLabel(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

TransparentImageView::TransparentImageView(QWidget* parent) : QLabel(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TransparentChildView::setTransparentChild(QWidget* child)
{
    child_ = child;
    child->setParent(this);
    ChildMask::install(child);
}
