#pragma once

#include <QAbstractButton>
#include <QColor>

// A flat button: its colour filled, its title centred; while pressed, lightened by white at alpha 0.25
// in hard-light mode.
class BoxButton : public QAbstractButton {
public:
    explicit BoxButton(QWidget* parent = nullptr);

    void setBackgroundColor(const QColor& color);
    const QColor& backgroundColor() const { return background_; }
    void setTitleColor(const QColor& color);
    // The pressed look; set from outside too, before a gesture decides between click and drag.
    void setPressedLook(bool on);
    bool pressedLook() const { return pressed_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor background_;
    QColor titleColor_;
    bool pressed_ = false;
};
