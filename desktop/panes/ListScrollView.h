#pragma once

#include "kit/TableView.h"

class ListScrollView;
class QKeyEvent;
class QWheelEvent;

class ListScrollViewDelegate {
public:
    virtual ~ListScrollViewDelegate() = default;
    // False: the event goes to the parent instead of scrolling the list.
    virtual bool listScrollViewShouldScroll(ListScrollView& view, const QWheelEvent& event) = 0;
    // True when the key was taken.
    virtual bool listScrollViewDidKeyDown(ListScrollView& view, const QKeyEvent& event) = 0;
};

// The note list's table. Wheel events pass its delegate first; keys the delegate leaves move the
// selection (arrows up and down, paging) or go to the parent once.
class ListScrollView : public TableView {
public:
    using TableView::TableView;

    // Not owned.
    void setListDelegate(ListScrollViewDelegate* delegate) { listDelegate_ = delegate; }

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    ListScrollViewDelegate* listDelegate_ = nullptr;
};
