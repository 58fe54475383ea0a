#pragma once

#include "kit/AnimationContext.h"

#include <QColor>
#include <QList>
#include <QWidget>

#include <vector>

class SplitView;

// Decides how a split view's size change is shared out, and hears about every change of the layout.
class SplitViewDelegate {
public:
    virtual ~SplitViewDelegate() = default;
    // Sets the subviews' frames for the new size; the default keeps every subview but the last.
    virtual void splitViewResizeSubviewsWithOldSize(SplitView& view, const QSize& oldSize);
    // After a resize or a divider move.
    virtual void splitViewDidResizeSubviews(SplitView&) {}
};

// Subviews side by side, left to right, with a 1-pixel divider between neighbours. Each divider can
// be dragged within GrabMargin pixels either side of it. Subview frames are set directly (no layout):
// by the delegate on a resize, by setPosition() on a divider move.
//
// The first divider's position is the animatable property "splitPosition", whose animations take 0.3 s.
class SplitView : public QWidget, public AnimatableObject {
    Q_OBJECT
    Q_PROPERTY(double splitPosition READ splitPosition WRITE setSplitPosition)
public:
    static constexpr double SplitPositionAnimationDuration = 0.3;

    static constexpr int DividerThickness = 1;
    static constexpr int GrabMargin = 3;

    explicit SplitView(QWidget* parent = nullptr);

    // Takes ownership; the new subview starts right of the last one and 0 wide.
    void addSubview(QWidget* view);
    const QList<QWidget*>& subviews() const { return subviews_; }

    // Not owned.
    void setDelegate(SplitViewDelegate* delegate) { delegate_ = delegate; }

    // Moves the divider's left edge to x, kept between its neighbours' outer edges: the left
    // subview ends there, the right one starts after the divider.
    void setPosition(int x, int dividerIndex);
    // The left edge of the divider, or -1 when there is no such divider.
    int positionOfDivider(int dividerIndex) const;
    // The first subview's right edge (0 without subviews); setting it moves divider 0 there.
    double splitPosition() const;
    void setSplitPosition(double position);
    std::optional<double> defaultAnimationForKey(const QByteArray& key) const override;

    // Keeps every subview's width but the last one's, which takes the rest.
    void adjustSubviews();

    void setDividerColor(const QColor& color);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Grip;
    void didResizeSubviews();

    QList<QWidget*> subviews_;
    std::vector<Grip*> grips_;
    SplitViewDelegate* delegate_ = nullptr;
    QColor dividerColor_ = Qt::lightGray;
};
