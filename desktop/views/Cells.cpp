#include "views/Cells.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

ImageButtonCell::ImageButtonCell(QWidget* parent) : QPushButton(parent) {}

void ImageButtonCell::setTitleColor(const QColor& color)
{
    titleColor_ = color;
    QPalette palette = this->palette();
    palette.setColor(QPalette::ButtonText, color);
    setPalette(palette);
}

void ImageButtonCell::paintEvent(QPaintEvent* event)
{
    if (isEnabled() || !titleColor_.isValid()) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString title = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setPen(titleColor_);
    painter.drawText(style()->subElementRect(QStyle::SE_PushButtonContents, &option, this), Qt::AlignCenter, title);
}

SearchFieldCell::SearchFieldCell(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_TranslucentBackground);
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
