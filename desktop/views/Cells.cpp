#include "views/Cells.h"

#include <QPainter>

void ImageButtonCell::setTitleColor(const QColor& color)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::ButtonText, color); // all colour groups, the disabled one too
    setPalette(palette);
}

SearchFieldCell::SearchFieldCell(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    setPalette(palette);
}

LabelCell::LabelCell(QWidget* parent) : QLabel(parent) {}

int LabelCell::titleOffset(int boundsHeight, int textHeight)
{
    return int((boundsHeight - textHeight) * 0.3f);
}

QRect LabelCell::titleRectForBounds(const QRect& bounds) const
{
    const int textHeight = fontMetrics().height();
    return {bounds.x(), bounds.y() + titleOffset(bounds.height(), textHeight), bounds.width(), textHeight};
}

void LabelCell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(titleRectForBounds(contentsRect()), int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop, text());
}
