#include "theme/ThemeButtons.h"

#include <QPaintEvent>
#include <QPainter>

void fillWhite(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

ThemeCircleButton::ThemeCircleButton(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void ThemeCircleButton::setImage(const QPixmap& image)
{
    image_ = image;
    update();
}

void ThemeCircleButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QSizeF size = image_.deviceIndependentSize();
    painter.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), image_);
}

ThemePageButton::ThemePageButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    fillWhite(this);
    setFlat(true);
}

TextButton::TextButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus); // it takes first responder
}

void TextButton::setBackgroundColor(const QColor& color)
{
    backgroundColor_ = color;
    update();
}

void TextButton::setTitle(const QString& text, const QFont& font)
{
    setText(text);
    setFont(font);
    textColor_ = QColor();
    update();
}

void TextButton::setTextColor(const QColor& color)
{
    textColor_ = color;
    update();
}

void TextButton::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setOpacity(isDown() ? PressedOpacity : 1.0);
    painter.fillRect(event->rect(), backgroundColor_);
    painter.setPen(textColor_.isValid() ? textColor_ : palette().color(QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}
