#pragma once

#include "panes/ListViewController.h"
#include "panes/NoteViewController.h"

#include "Store/WarehouseEditingDelegate.h"

#include <QPointer>

// Hands the session's questions to the editor, and its typing reports to the list as well.
class EditingRelay : public WarehouseEditingDelegate {
public:
    EditingRelay(NoteViewController* editor, ListViewController* list) : editor_(editor), list_(list) {}
    bool warehouseReloadScrollPositionForNote(Warehouse& w, const NotePtr& n) override
    {
        return editor_ && editor_->warehouseReloadScrollPositionForNote(w, n);
    }
    bool warehouseReloadTextForNote(Warehouse& w, const NotePtr& n) override
    {
        return editor_ && editor_->warehouseReloadTextForNote(w, n);
    }
    bool warehouseShouldAutoSaveEditingNote(Warehouse& w, const NotePtr& n) override
    {
        return editor_ && editor_->warehouseShouldAutoSaveEditingNote(w, n);
    }
    bool warehouseUserIsEditingNote(Warehouse& w, const NotePtr& n) override
    {
        return editor_ && editor_->warehouseUserIsEditingNote(w, n);
    }
    void warehouseRemoteServerDidUpdateEditingNote(Warehouse& w, const NotePtr& n, const QString& text) override
    {
        if (editor_)
            editor_->warehouseRemoteServerDidUpdateEditingNote(w, n, text);
    }
    void warehouseRemoteServerDidDeleteEditingNote(Warehouse& w, const NotePtr& n) override
    {
        if (editor_)
            editor_->warehouseRemoteServerDidDeleteEditingNote(w, n);
    }
    void warehouseEditingNote(Warehouse& w, const NotePtr& n, int64_t count) override
    {
        if (editor_)
            editor_->warehouseEditingNote(w, n, count);
        if (list_)
            list_->noteDidEditingText(n);
    }

private:
    QPointer<NoteViewController> editor_;
    QPointer<ListViewController> list_;
};
