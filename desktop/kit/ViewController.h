#pragma once

#include "kit/Responder.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <memory>

class ViewController;

// Moves views when one controller presents another and when it is dismissed.
class PresentationAnimator {
public:
    virtual ~PresentationAnimator() = default;
    virtual void animatePresentation(ViewController& presented, ViewController& presenting) = 0;
    // Must end with presented.removeFromParent() once the presented view is gone.
    virtual void animateDismissal(ViewController& presented, ViewController& presenting) = 0;
};

// Owns one view, built on first use by loadView() and finished by viewDidLoad(). Hooks tell when the
// view appears (shown, not un-minimised), lays out and disappears. Children are owned by their parent
// controller; a controller is in the responder chain right after its view. A controller must not be
// a child of its own view (the view is deleted with the controller).
class ViewController : public QObject, public Responder {
    Q_OBJECT
public:
    explicit ViewController(QObject* parent = nullptr);
    // Deletes the view, unless a parent widget has already done so.
    ~ViewController() override;

    QWidget* view();
    bool isViewLoaded() const { return !view_.isNull(); }
    // The controller whose view this is, or null.
    static ViewController* of(const QWidget* view);

    // Takes ownership; the child leaves its former parent.
    void addChild(ViewController* child);
    // Gives ownership back to the caller.
    void removeFromParent();
    ViewController* parentViewController() const;
    QList<ViewController*> childViewControllers() const;

    // The animator makes the controller a child and brings its view in; it is kept for the dismissal,
    // after which the presented controller is deleted.
    void presentViewController(ViewController* controller, std::shared_ptr<PresentationAnimator> animator);
    void dismissViewController(ViewController* controller);

protected:
    // Builds the view; the default is an empty widget.
    virtual QWidget* loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewDidLayout() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}

    bool eventFilter(QObject* watched, QEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QPointer<QWidget> view_;
    QHash<ViewController*, std::shared_ptr<PresentationAnimator>> animators_;
    QSet<QObject*> dismissing_;
};
