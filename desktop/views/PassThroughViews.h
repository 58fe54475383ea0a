#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

// Views that let clicks on themselves fall through to what lies beneath while their children still get
// their own. A container is masked to its children's frames (the mask follows them); a leaf view with
// nothing inside simply ignores the mouse.

// Keeps a widget's mask equal to the union of its visible children's frames.
class ChildMask : public QObject {
public:
    // Parented to the widget.
    static void install(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ChildMask(QWidget* widget);
    void update();
    void watch(QObject* child);
    QWidget* widget_;
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

// Clicks on its transparent child itself fall through; the child's own children still get theirs.
class TransparentChildView : public QWidget {
public:
    explicit TransparentChildView(QWidget* parent = nullptr) : QWidget(parent) {}
    // The child becomes this view's child.
    void setTransparentChild(QWidget* child);
    QWidget* transparentChild() const { return child_; }

private:
    QPointer<QWidget> child_;
};
