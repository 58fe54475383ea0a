#pragma once

#include "kit/ViewController.h"
#include "panes/FolderViewController.h"
#include "panes/NoteViewController.h"
#include "theme/ThemeSettingsDelegate.h"

#include "Store/Warehouse.h"

#include <memory>

// The main window's content until the window controller arrives: the sidebar and the editor. It owns the
// Warehouse, answers the editor as the window will (new notes go to the inbox, empty), runs the
// start-up migration and index build, reopens the last note and handles New Note.
class InterimShell : public ViewController, private NoteViewControllerDelegate {
public:
    explicit InterimShell(QObject* parent = nullptr);

    NoteViewController& noteController() { return *noteController_; }
    FolderViewController& folderController() { return *folderController_; }
    ThemeSettingsDelegate& themeSettings() { return *themeSettings_; }
    // The start-up work, then the last note (or a new one) in the editor.
    void start();

protected:
    QWidget* loadView() override;

private:
    int storageForNewNote(NoteViewController&) override { return NoteStorageInbox; }
    QString textForNewNote(NoteViewController&) override { return QStringLiteral(""); }
    void noteControllerNoteDidOpen(NoteViewController&, const NotePtr& note) override { commitNoteStorage(note); }
    bool noteControllerDidKeyDown(NoteViewController&, const QKeyEvent&) override { return false; }
    void noteControllerDidBecomeFirstResponder(NoteViewController&) override {}
    void noteControllerDidResignFirstResponder(NoteViewController&) override {}

    // Remembers the note for the next start.
    static void commitNoteStorage(const NotePtr& note);
    // The note remembered, when its file is still there.
    static NotePtr restoredNote();

    std::shared_ptr<Warehouse> warehouse_;
    NoteViewController* noteController_; // a child
    FolderViewController* folderController_; // a child, left of the editor
    ThemeSettingsDelegate* themeSettings_; // a child: the theme popover and its choices
};
