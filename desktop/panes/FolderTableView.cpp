#include "panes/FolderTableView.h"

#include <QKeyEvent>

bool FolderTableView::event(QEvent* event)
{
    // Tab never reaches keyPressEvent: the focus chain takes it first, unless the delegate does.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && delegateHandles(*key))
            return true;
    }
    return TableView::event(event);
}

void FolderTableView::keyPressEvent(QKeyEvent* event)
{
    if (!delegateHandles(*event))
        TableView::keyPressEvent(event);
}

bool FolderTableView::delegateHandles(const QKeyEvent& event)
{
    return folderDelegate_ && folderDelegate_->folderTableViewKeyDown(*this, KeyEvent::fromQt(event));
}
