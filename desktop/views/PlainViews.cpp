#include "views/PlainViews.h"

#include <QGraphicsDropShadowEffect>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

void BoxView::setBackgroundColor(const QColor& color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void BoxView::paintEvent(QPaintEvent* event)
{
    QPainter(this).fillRect(event->rect(), color_);
}

void RoundedView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), CornerRadius, CornerRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

ShadowView::ShadowView(QWidget* parent) : QWidget(parent)
{
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.9f));
    shadow->setBlurRadius(6);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);
}
