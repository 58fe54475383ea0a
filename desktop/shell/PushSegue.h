#pragma once

#include "kit/ViewController.h"

#include <QRect>

// Slides a page in from the right over the presenting one, which moves a quarter of its width to the
// left and is hidden once covered; dismissal plays it backwards and removes the page.
class PushAnimation : public PresentationAnimator {
public:
    void animatePresentation(ViewController& presented, ViewController& presenting) override;
    void animateDismissal(ViewController& presented, ViewController& presenting) override;

    // The presenting view's frame when the push started; the dismissal returns to it.
    const QRect& frame() const { return frame_; }

private:
    QRect frame_;
};

// Presents the destination over the source with a new PushAnimation.
class PushSegue {
public:
    PushSegue(ViewController& source, ViewController* destination) : source_(source), destination_(destination) {}
    void perform();

private:
    ViewController& source_;
    ViewController* destination_;
};
