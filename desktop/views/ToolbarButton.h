#pragma once

#include <QAbstractButton>
#include <QPixmap>

// An image button of the toolbar: shows its mouse-down image for as long as the mouse button is held
// after a press on it, wherever the pointer goes, and its mouse-up image otherwise. Like any button it
// clicks only when released over itself.
class ToolbarButton : public QAbstractButton {
public:
    explicit ToolbarButton(QWidget* parent = nullptr);

    void setMouseUpImage(const QPixmap& image);
    void setMouseDownImage(const QPixmap& image);
    const QPixmap& mouseUpImage() const { return upImage_; }
    const QPixmap& mouseDownImage() const { return downImage_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap upImage_;
    QPixmap downImage_;
    bool held_ = false;
};
