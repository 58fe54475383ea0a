#include "panes/FindBar.h"

#include "panes/NoteTextView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>

FindBar::FindBar(NoteTextView& textView, QWidget* parent) : QFrame(parent), textView_(textView), field_(new QLineEdit)
{
    field_->setPlaceholderText(tr("Find in Note"));
    field_->setClearButtonEnabled(true);
    field_->installEventFilter(this);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    row->addWidget(field_);
    connect(field_, &QLineEdit::textEdited, this, [this] { find(textView_.selectedRange().location, false); });
    hide();
}

void FindBar::open()
{
    show();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

void FindBar::close()
{
    hide();
    textView_.showFindIndicatorForRange({0, 0});
    textView_.setFocus(Qt::OtherFocusReason);
}

bool FindBar::find(qsizetype from, bool backwards)
{
    const QString query = field_->text();
    const QString& text = textView_.string();
    if (query.isEmpty())
        return false;
    qsizetype at = backwards ? (from > 0 ? text.lastIndexOf(query, from - 1, Qt::CaseInsensitive) : -1)
                             : text.indexOf(query, from, Qt::CaseInsensitive);
    if (at < 0)
        at = backwards ? text.lastIndexOf(query, -1, Qt::CaseInsensitive) : text.indexOf(query, 0, Qt::CaseInsensitive);
    if (at < 0)
        return false;
    const TextRange match{at, query.size()};
    textView_.setSelectedRange(match);
    textView_.scrollRangeToVisible(match);
    textView_.showFindIndicatorForRange(match);
    return true;
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != field_ || event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        const TextRange selection = textView_.selectedRange();
        const bool backwards = key->modifiers() & Qt::ShiftModifier;
        find(backwards ? selection.location : selection.end(), backwards);
        return true;
    }
    return false;
}
