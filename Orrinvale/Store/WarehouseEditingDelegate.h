#pragma once

#include "Note.h"

#include <QString>

#include <cstdint>
#include <memory>

class Warehouse;

// What the editing session asks of the window that shows the note. The
// session never reads the editor itself. Every call comes on the main thread.
class WarehouseEditingDelegate {
public:
    virtual ~WarehouseEditingDelegate() = default;

    // Copies the editor's caret, selection and scroll offset into the note.
    virtual bool warehouseReloadScrollPositionForNote(Warehouse& warehouse, const NotePtr& note) = 0;
    // Copies the editor's current text into the note; true when it did.
    virtual bool warehouseReloadTextForNote(Warehouse& warehouse, const NotePtr& note) = 0;
    // True when a timed local save may run now.
    virtual bool warehouseShouldAutoSaveEditingNote(Warehouse& warehouse, const NotePtr& note) = 0;
    // True while the user is typing in the note.
    virtual bool warehouseUserIsEditingNote(Warehouse& warehouse, const NotePtr& note) = 0;
    // A remote change is taken live: the editor shows the text.
    virtual void warehouseRemoteServerDidUpdateEditingNote(Warehouse& warehouse, const NotePtr& note,
                                                           const QString& text) = 0;
    // The note was deleted elsewhere: the editor leaves it.
    virtual void warehouseRemoteServerDidDeleteEditingNote(Warehouse& warehouse, const NotePtr& note) = 0;
    // The first change of a pass of the main queue; count is that of its first report.
    virtual void warehouseEditingNote(Warehouse& warehouse, const NotePtr& note, int64_t count) = 0;
    // A save of the note failed after the last one that worked (told once per
    // failure); its text is kept in memory and saved again until a save works.
    virtual void warehouseDidFailToSaveNote(Warehouse&, const NotePtr&) {}
    // Every note whose save failed has been saved since.
    virtual void warehouseDidSaveUnsavedNotes(Warehouse&) {}
};

using WarehouseEditingDelegatePtr = std::shared_ptr<WarehouseEditingDelegate>;
