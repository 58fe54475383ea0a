#include "views/PassThroughViews.h"

#include <QChildEvent>
#include <QEvent>

void ChildMask::install(QWidget* masked, QWidget* passThrough)
{
    new ChildMask(masked, passThrough);
}

ChildMask::ChildMask(QWidget* masked, QWidget* passThrough) : QObject(masked), masked_(masked), passThrough_(passThrough)
{
    masked->installEventFilter(this);
    watch(passThrough);
    for (QObject* child : passThrough->children())
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
        if (watched == passThrough_)
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
    if (passThrough_ != masked_)
        region = QRegion(masked_->rect()) - passThrough_->geometry();
    const QPoint offset = passThrough_ == masked_ ? QPoint() : passThrough_->pos();
    for (QObject* child : passThrough_->children())
        if (auto* view = qobject_cast<QWidget*>(child); view && !view->isHidden() && !view->isWindow())
            region += view->geometry().translated(offset);
    // An empty region would clear the mask and make the whole view catch clicks.
    masked_->setMask(region.isEmpty() ? QRegion(-1, -1, 1, 1) : region);
}

TransparentView::TransparentView(QWidget* parent) : QWidget(parent)
{
    ChildMask::install(this, this);
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
    ChildMask::install(this, child);
}
