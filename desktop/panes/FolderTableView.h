#pragma once

#include "kit/KeyEvent.h"
#include "kit/TableView.h"

class FolderTableView;

class FolderTableViewDelegate {
public:
    virtual ~FolderTableViewDelegate() = default;
    // True when the key was handled; the table then does nothing with it.
    virtual bool folderTableViewKeyDown(FolderTableView& table, const KeyEvent& event) = 0;
};

// The sidebar's table: every key press, Tab included, goes to its delegate first.
class FolderTableView : public TableView {
public:
    explicit FolderTableView(QWidget* parent = nullptr) : TableView(parent) {}

    // Not owned; null lets the table handle every key.
    void setFolderDelegate(FolderTableViewDelegate* delegate) { folderDelegate_ = delegate; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool delegateHandles(const QKeyEvent& event);

    FolderTableViewDelegate* folderDelegate_ = nullptr;
};
