#include "panes/SearchFieldWrapper.h"

#include "kit/QtColor.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <utility>

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

// The parts go while the wrapper is still whole: whoever watches the field through the wrapper meets
// a wrapper up to the field's last event, never one half torn down.
SearchFieldWrapper::~SearchFieldWrapper()
{
    delete std::exchange(searchField_, nullptr);
    delete std::exchange(searchIcon_, nullptr);
    delete std::exchange(background_, nullptr);
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
    // (26, 3) is the field's bottom-left corner counted upwards: its top lies h - 3 - (h - 4) = 1 down.
    searchField_->setGeometry(26, 1, w - 28, h - 4);
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
