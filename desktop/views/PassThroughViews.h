#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

// Views that let clicks on themselves fall through to what lies beneath while their children still get
// their own. A container is masked to its children's frames (the mask follows them and also clips
// what the container would draw itself, which is nothing); a leaf view simply ignores the mouse.

// Keeps a widget's mask such that clicks on the pass-through widget (itself or one of its children)
// miss, while clicks on the pass-through widget's own children hit. The mask follows every move.
class ChildMask : public QObject {
public:
    // Parented to `masked`; `passThrough` is `masked` or one of its children.
    static void install(QWidget* masked, QWidget* passThrough);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ChildMask(QWidget* masked, QWidget* passThrough);
    void update();
    void watch(QObject* child);
    QWidget* masked_;
    QWidget* passThrough_;
};

class TransparentView : public QWidget {
public:
    explicit TransparentView(QWidget* parent = nullptr);
};

// A label the mouse passes through.
class TransparentLabel : public QLabel {
public:
    explicit TransparentLabel(QWidget* parent = nullptr);
};

// An image view the mouse passes through.
class TransparentImageView : public QLabel {
public:
    explicit TransparentImageView(QWidget* parent = nullptr);
};

// Clicks on its transparent child itself fall through, out of this view too; the child's own
// children still get theirs, and so does the rest of this view.
class TransparentChildView : public QWidget {
public:
    explicit TransparentChildView(QWidget* parent = nullptr) : QWidget(parent) {}
    // The child becomes this view's child.
    void setTransparentChild(QWidget* child);
    QWidget* transparentChild() const { return child_; }

private:
    QPointer<QWidget> child_;
};
