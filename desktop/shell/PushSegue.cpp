#include "shell/PushSegue.h"

#include "kit/AnimationContext.h"

#include <QPointer>

void PushAnimation::animatePresentation(ViewController& presented, ViewController& presenting)
{
    frame_ = presenting.isViewLoaded() ? presenting.view()->geometry() : QRect();
    QWidget* oldPage = presenting.view();
    QWidget* newPage = presented.view();
    newPage->setParent(oldPage->parentWidget());
    newPage->setGeometry(frame_.translated(frame_.width(), 0));
    presenting.addChild(&presented);
    newPage->show();
    newPage->raise();
    const QRect frame = frame_;
    AnimationContext::runGroup(
        [&](AnimationContext& context) {
            context.setFrame(oldPage, frame.translated(-frame.width() / 4, 0));
            context.setFrame(newPage, frame);
        },
        [oldPage = QPointer<QWidget>(oldPage)] {
            if (oldPage)
                oldPage->hide();
        });
}

void PushAnimation::animateDismissal(ViewController& presented, ViewController& presenting)
{
    QWidget* oldPage = presenting.view();
    QWidget* newPage = presented.view();
    newPage->show();
    oldPage->show();
    const QRect frame = frame_;
    AnimationContext::runGroup(
        [&](AnimationContext& context) {
            context.setFrame(oldPage, frame);
            context.setFrame(newPage, frame.translated(frame.width(), 0));
        },
        [page = QPointer<ViewController>(&presented)] {
            if (!page)
                return;
            page->view()->setParent(nullptr);
            page->removeFromParent();
        });
}

void PushSegue::perform()
{
    source_.presentViewController(destination_, std::make_shared<PushAnimation>());
}
