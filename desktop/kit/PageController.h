#pragma once

#include "kit/ViewController.h"
#include "WeakDelegate.h"

#include <QVariant>

class AnimationContext;
class PageController;

// What a PageController asks about its pages.
class PageControllerDelegate {
public:
    virtual ~PageControllerDelegate() = default;
    virtual QString pageControllerIdentifierForObject(PageController& pager, const QVariant& object) = 0;
    // A new controller for pages of the identifier; the page controller owns it.
    virtual ViewController* pageControllerViewControllerForIdentifier(PageController& pager, const QString& identifier) = 0;
    // In the page controller's view.
    virtual QRect pageControllerFrameForObject(PageController& pager, const QVariant& object) = 0;
    virtual void pageControllerPrepareViewController(PageController& pager, ViewController& page, const QVariant& object) = 0;
    // After a swipe by wheel or drag has settled on a page.
    virtual void pageControllerDidEndLiveTransition(PageController& pager) = 0;
};

// Pages through its arranged objects on a horizontal strip, one view controller per object, made and
// prepared through the delegate. The strip moves to the selected index directly or in an animation;
// completeTransition() lines it up exactly. A horizontal wheel or a drag swipes one page.
class PageController : public ViewController {
    Q_OBJECT
public:
    explicit PageController(QObject* parent = nullptr);

    // Held weakly; it must be a QObject.
    void setDelegate(PageControllerDelegate* delegate) { delegate_ = delegate; }
    void setArrangedObjects(const QList<QVariant>& objects);
    const QList<QVariant>& arrangedObjects() const { return objects_; }

    int64_t selectedIndex() const { return selectedIndex_; }
    void setSelectedIndex(int64_t index);
    // Moves the strip in the animation of the context.
    void animateSelectedIndex(AnimationContext& context, int64_t index);
    void completeTransition();
    // The page controller of the selected object, or null.
    ViewController* selectedViewController() const;

protected:
    QWidget* loadView() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The strip's frame with the page in view.
    QRect stripFrame(int64_t index) const;
    void swipe(int step);
    void layoutPages();

    WeakDelegate<PageControllerDelegate> delegate_;
    QList<QVariant> objects_;
    QList<ViewController*> pages_; // children
    QWidget* strip_ = nullptr;
    int64_t selectedIndex_ = 0;
    int wheelDelta_ = 0;
    int dragStartX_ = -1;
    int dragStartOffset_ = 0;
};
