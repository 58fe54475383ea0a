#include "panes/SearchFieldWrapper.h"

#include "kit/QtColor.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

SearchFieldWrapper::SearchFieldWrapper(QWidget* parent)
    : QWidget(parent), background_(new QWidget(this)), searchIcon_(new QLabel(this)), searchField_(new QLineEdit(this))
{
    background_->setAutoFillBackground(true);
    // Presses on the frame and the icon fall through to the wrapper, which hands them to the field.
    background_->setAttribute(Qt::WA_TransparentForMouseEvents);
    searchIcon_->setAttribute(Qt::WA_TransparentForMouseEvents);
    searchField_->setFrame(false);
    searchIcon_->setGeometry(6, 0, 18, 18);
    searchField_->raise();
}

void SearchFieldWrapper::setBackgroundColor(const QColor& color)
{
    QPalette palette = background_->palette();
    palette.setColor(QPalette::Window, color);
    background_->setPalette(palette);
    QPalette field = searchField_->palette();
    field.setColor(QPalette::Base, color);
    searchField_->setPalette(field);
}

void SearchFieldWrapper::setTextColor(const QColor& color)
{
    QPalette field = searchField_->palette();
    field.setColor(QPalette::Text, color);
    field.setColor(QPalette::PlaceholderText, placeholderColor(color));
    searchField_->setPalette(field);
}

void SearchFieldWrapper::reloadLayout()
{
    const int w = width();
    const int h = height();
    searchField_->setGeometry(26, 3, w - 28, h - 4);
    background_->setGeometry(2, 1, w - 4, h - 2);
    searchIcon_->move(6, (h - searchIcon_->height()) / 2);
}

void SearchFieldWrapper::mousePressEvent(QMouseEvent* event)
{
    searchField_->setFocus(Qt::MouseFocusReason);
    event->accept();
}

void SearchFieldWrapper::resizeEvent(QResizeEvent*)
{
    reloadLayout();
}
