#include "views/ToolbarButton.h"

#include <QMouseEvent>
#include <QPainter>

ToolbarButton::ToolbarButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void ToolbarButton::setMouseUpImage(const QPixmap& image)
{
    upImage_ = image;
    updateGeometry();
    update();
}

void ToolbarButton::setMouseDownImage(const QPixmap& image)
{
    downImage_ = image;
    update();
}

QSize ToolbarButton::sizeHint() const
{
    return upImage_.isNull() ? QSize(24, 24) : upImage_.deviceIndependentSize().toSize();
}

void ToolbarButton::paintEvent(QPaintEvent*)
{
    const QPixmap& image = held_ ? downImage_ : upImage_;
    if (image.isNull())
        return;
    QPainter painter(this);
    const QSizeF size = image.deviceIndependentSize();
    painter.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), image);
}

void ToolbarButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        held_ = true;
        update();
    }
    QAbstractButton::mousePressEvent(event);
}

void ToolbarButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        held_ = false;
        update();
    }
    QAbstractButton::mouseReleaseEvent(event);
}
