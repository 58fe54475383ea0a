#include "kit/ViewController.h"

#include <QChildEvent>
#include <QEvent>
#include <QVariant>

namespace {
const char* const ControllerProperty = "kitViewController";
}

ViewController::ViewController(QObject* parent) : QObject(parent) {}

ViewController::~ViewController()
{
    delete view_.data();
}

QWidget* ViewController::view()
{
    if (!view_) {
        view_ = loadView();
        view_->setProperty(ControllerProperty, QVariant::fromValue(static_cast<QObject*>(this)));
        view_->installEventFilter(this);
        viewDidLoad();
    }
    return view_;
}

ViewController* ViewController::of(const QWidget* view)
{
    return view ? qobject_cast<ViewController*>(view->property(ControllerProperty).value<QObject*>()) : nullptr;
}

QWidget* ViewController::loadView()
{
    return new QWidget;
}

void ViewController::addChild(ViewController* child)
{
    child->setParent(this);
}

void ViewController::removeFromParent()
{
    setParent(nullptr);
}

ViewController* ViewController::parentViewController() const
{
    return qobject_cast<ViewController*>(parent());
}

QList<ViewController*> ViewController::childViewControllers() const
{
    return findChildren<ViewController*>(Qt::FindDirectChildrenOnly);
}

void ViewController::presentViewController(ViewController* controller, std::shared_ptr<PresentationAnimator> animator)
{
    animators_.insert(controller, animator);
    animator->animatePresentation(*controller, *this);
}

void ViewController::dismissViewController(ViewController* controller)
{
    const std::shared_ptr<PresentationAnimator> animator = animators_.take(controller);
    if (!animator)
        return;
    dismissing_.insert(controller);
    animator->animateDismissal(*controller, *this);
}

void ViewController::childEvent(QChildEvent* event)
{
    // A dismissed controller leaves when its animation ends; nobody owns it after that.
    if (event->removed() && dismissing_.remove(event->child()))
        event->child()->deleteLater();
    QObject::childEvent(event);
}

bool ViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != view_)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        if (!event->spontaneous()) {
            viewWillAppear();
            viewDidAppear();
        }
        break;
    case QEvent::Hide:
        if (!event->spontaneous()) {
            viewWillDisappear();
            viewDidDisappear();
        }
        break;
    case QEvent::Resize:
    case QEvent::LayoutRequest:
        viewDidLayout();
        break;
    default:
        break;
    }
    return false;
}
