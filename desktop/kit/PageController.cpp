#include "kit/PageController.h"

#include "kit/AnimationContext.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>

namespace {

// A wheel notch, and the share of a page a drag must cover, to turn the page.
constexpr int WheelStep = 120;
constexpr int DragDivisor = 4;

} // namespace

PageController::PageController(QObject* parent) : ViewController(parent)
{
}

QWidget* PageController::loadView()
{
    auto* view = new QWidget;
    strip_ = new QWidget(view);
    view->installEventFilter(this);
    strip_->installEventFilter(this);
    return view;
}

void PageController::setArrangedObjects(const QList<QVariant>& objects)
{
    objects_ = objects;
    selectedIndex_ = std::clamp<int64_t>(selectedIndex_, 0, std::max<int64_t>(0, objects_.size() - 1));
    layoutPages();
}

void PageController::layoutPages()
{
    PageControllerDelegate* delegate = delegate_.get();
    if (!delegate)
        return;
    QWidget* host = view();
    while (pages_.size() > objects_.size())
        delete pages_.takeLast();
    for (qsizetype i = 0; i < objects_.size(); ++i) {
        if (i == pages_.size()) {
            ViewController* page =
                delegate->pageControllerViewControllerForIdentifier(*this, delegate->pageControllerIdentifierForObject(*this, objects_[i]));
            addChild(page);
            page->view()->setParent(strip_);
            page->view()->show();
            pages_.append(page);
        }
        delegate->pageControllerPrepareViewController(*this, *pages_[i], objects_[i]);
        pages_[i]->view()->setGeometry(delegate->pageControllerFrameForObject(*this, objects_[i]).translated(int(i) * host->width(), 0));
    }
    strip_->setGeometry(stripFrame(selectedIndex_));
}

QRect PageController::stripFrame(int64_t index) const
{
    const QSize page = strip_->parentWidget()->size();
    return QRect(int(-index) * page.width(), 0, page.width() * int(std::max<qsizetype>(1, objects_.size())), page.height());
}

void PageController::setSelectedIndex(int64_t index)
{
    selectedIndex_ = index;
    view();
    strip_->setGeometry(stripFrame(index));
}

void PageController::animateSelectedIndex(AnimationContext& context, int64_t index)
{
    selectedIndex_ = index;
    view();
    context.setFrame(strip_, stripFrame(index));
}

void PageController::completeTransition()
{
    view();
    strip_->setGeometry(stripFrame(selectedIndex_));
    if (ViewController* page = selectedViewController(); page && delegate_)
        delegate_->pageControllerPrepareViewController(*this, *page, objects_[qsizetype(selectedIndex_)]);
}

ViewController* PageController::selectedViewController() const
{
    return selectedIndex_ >= 0 && selectedIndex_ < pages_.size() ? pages_[qsizetype(selectedIndex_)] : nullptr;
}

void PageController::swipe(int step)
{
    const int64_t target = std::clamp<int64_t>(selectedIndex_ + step, 0, std::max<int64_t>(0, objects_.size() - 1));
    AnimationContext::runGroup([&](AnimationContext& context) { animateSelectedIndex(context, target); },
                               [self = QPointer(this)] {
                                   if (self && self->delegate_)
                                       self->delegate_->pageControllerDidEndLiveTransition(*self);
                               });
}

bool PageController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != strip_ && !(isViewLoaded() && watched == view()))
        return ViewController::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        if (watched != strip_)
            layoutPages();
        break;
    case QEvent::Wheel: {
        wheelDelta_ += static_cast<QWheelEvent*>(event)->angleDelta().x();
        if (std::abs(wheelDelta_) >= WheelStep) {
            swipe(wheelDelta_ < 0 ? 1 : -1);
            wheelDelta_ = 0;
        }
        return true;
    }
    case QEvent::MouseButtonPress:
        dragStartX_ = int(static_cast<QMouseEvent*>(event)->globalPosition().x());
        dragStartOffset_ = strip_->x();
        return true;
    case QEvent::MouseMove:
        if (dragStartX_ >= 0)
            strip_->move(dragStartOffset_ + int(static_cast<QMouseEvent*>(event)->globalPosition().x()) - dragStartX_, 0);
        return true;
    case QEvent::MouseButtonRelease: {
        if (dragStartX_ < 0)
            break;
        const int moved = int(static_cast<QMouseEvent*>(event)->globalPosition().x()) - dragStartX_;
        dragStartX_ = -1;
        const int needed = std::max(1, view()->width() / DragDivisor);
        swipe(moved <= -needed ? 1 : moved >= needed ? -1 : 0);
        return true;
    }
    default:
        break;
    }
    return ViewController::eventFilter(watched, event);
}
