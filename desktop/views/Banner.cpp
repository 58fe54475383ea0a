#include "views/Banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

Banner::Banner(QWidget* parent) : QWidget(parent), label_(new QLabel), button_(new QPushButton)
{
    setAutoFillBackground(true);
    label_->setWordWrap(true);
    button_->setFocusPolicy(Qt::TabFocus);
    button_->hide();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->addWidget(label_, 1);
    row->addWidget(button_);
}

QString Banner::message() const
{
    return label_->text();
}

void Banner::setMessage(const QString& text)
{
    label_->setText(text);
}

void Banner::setButtonTitle(const QString& title)
{
    button_->setText(title);
    button_->setVisible(!title.isEmpty());
}

void Banner::setColors(const QColor& background, const QColor& text, const QColor& buttonBackground)
{
    QPalette strip = palette();
    strip.setColor(QPalette::Window, background);
    strip.setColor(QPalette::WindowText, text);
    setPalette(strip);
    QPalette button = button_->palette();
    button.setColor(QPalette::Button, buttonBackground);
    button.setColor(QPalette::ButtonText, text);
    button_->setPalette(button);
}
