// The list's gestures and keys: the rows' swipe options and buttons, clicks and pans on the table,
// trackpad scrolls and the trigger key.
#include "panes/ListViewController.h"

#include "panes/ListGestures.h"

#include "kit/KeyEvent.h"

#include <QFocusEvent>
#include <QKeyEvent>

// --- Row options

void ListViewController::listEntryDidTouchDown(ListEntryCell& cell)
{
    if (showingOptions_ && showingOptions_ != &cell)
        hideShowingListEntryOptions();
}

void ListViewController::listEntryDidShowOptions(ListEntryCell& cell)
{
    if (showingOptions_ != &cell)
        hideShowingListEntryOptions();
    showingOptions_ = &cell;
}

void ListViewController::listEntryDidSwipeAction(ListEntryCell&, const QString& key, int storage)
{
    if (!delegate_ || key.isEmpty())
        return;
    delegate_->listControllerDidTapArchiveNote(*this, std::make_shared<Note>(key, storage));
    playSound_(3);
}

void ListViewController::listEntryDidTapOption(ListEntryCell& cell, int index)
{
    if (!delegate_ || !cell.listItem())
        return;
    const NotePtr note = noteOf(*cell.listItem());
    if (index == 1)
        delegate_->listControllerDidTapDeleteNote(*this, note);
    else if (index == 2) {
        playSound_(0);
        delegate_->listControllerDidTapRestoreNote(*this, note);
    }
}

// --- Gestures and keys

bool ListViewController::listScrollViewShouldScroll(ListScrollView&, const QWheelEvent& event)
{
    return gestures_->shouldScroll(event);
}

// The left arrow is the trigger key, keypad flag or not (Qt sets none on arrows).
bool ListViewController::listScrollViewDidKeyDown(ListScrollView&, const QKeyEvent& event)
{
    if (event.key() != Qt::Key_Left)
        return false;
    if (delegate_)
        delegate_->listControllerDidPressTriggerKey(*this, FunctionKey::LeftArrow);
    return true;
}

ListEntryCell* ListViewController::listEntryCellFromPoint(QPoint point) const
{
    const qsizetype row = tableView_->rowAtPoint(point);
    return row >= 0 ? dynamic_cast<ListEntryCell*>(tableView_->viewAtRow(row, false)) : nullptr;
}

void ListViewController::listDidTap(QPoint point)
{
    const qsizetype row = tableView_->rowAtPoint(point);
    if (row < 0 || row >= tableView_->numberOfRows() || !bridge_->tableViewShouldSelectRow(*tableView_, row))
        return;
    tableView_->selectRow(row);
    bridge_->reloadSelectedRow();
    if (searchField_ && searchField_->isVisible())
        searchField_->setFocus(Qt::MouseFocusReason);
    else
        tableView_->setFocus(Qt::MouseFocusReason);
}

// A list reached by the keyboard hands the keys on as a click on a row does.
bool ListViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tableView_ && event->type() == QEvent::FocusIn && searchField_ && searchField_->isVisible()) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            searchField_->setFocus(reason);
    }
    return ViewController::eventFilter(watched, event);
}
