#include "panes/FolderTableView.h"

#include <QKeyEvent>

bool FolderTableView::event(QEvent* event)
{
    // Tab would move the focus before keyPressEvent sees it.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return TableView::event(event);
}

void FolderTableView::keyPressEvent(QKeyEvent* event)
{
    if (folderDelegate_ && folderDelegate_->folderTableViewKeyDown(*this, KeyEvent::fromQt(*event)))
        return;
    TableView::keyPressEvent(event);
}
