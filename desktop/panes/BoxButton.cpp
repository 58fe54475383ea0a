#include "panes/BoxButton.h"

#include <QPaintEvent>
#include <QPainter>

BoxButton::BoxButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void BoxButton::setBackgroundColor(const QColor& color)
{
    if (background_ == color)
        return;
    background_ = color;
    update();
}

void BoxButton::setTitleColor(const QColor& color)
{
    if (titleColor_ == color)
        return;
    titleColor_ = color;
    update();
}

void BoxButton::setPressedLook(bool on)
{
    if (pressed_ == on)
        return;
    pressed_ = on;
    update();
}

void BoxButton::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), background_);
    if (pressed_) {
        painter.setCompositionMode(QPainter::CompositionMode_HardLight);
        painter.fillRect(event->rect(), QColor(255, 255, 255, 64));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    painter.setPen(titleColor_);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

void BoxButton::mousePressEvent(QMouseEvent* event)
{
    setPressedLook(true);
    QAbstractButton::mousePressEvent(event);
}

void BoxButton::mouseReleaseEvent(QMouseEvent* event)
{
    QAbstractButton::mouseReleaseEvent(event);
    setPressedLook(false);
}
