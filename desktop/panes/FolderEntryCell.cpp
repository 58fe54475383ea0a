#include "panes/FolderEntryCell.h"

#include <QPaintEvent>
#include <QPainter>

FolderEntryCell::FolderEntryCell(QWidget* parent) : QWidget(parent)
{
    // Clicks select through the table.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FolderEntryCell::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
}

void FolderEntryCell::setTextColor(const QColor& color)
{
    if (color == textColor_)
        return;
    textColor_ = color;
    update();
}

void FolderEntryCell::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (delegate_)
        if (const std::optional<QColor> background = delegate_->backgroundColorForFolderEntry(*this))
            painter.fillRect(event->rect(), *background);
    painter.setFont(font());
    painter.setPen(textColor_);
    const QRect text = rect().adjusted(TextInset, 0, -4, 0);
    // A name wider than the sidebar ends in an ellipsis rather than a letter cut in half.
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(text_, Qt::ElideRight, text.width()));
}
