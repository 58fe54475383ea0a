#pragma once

#include "kit/ViewController.h"
#include "panes/FolderViewController.h"
#include "panes/ListViewController.h"
#include "panes/NoteViewController.h"
#include "theme/ThemeSettingsDelegate.h"

#include "Store/Warehouse.h"

#include <memory>

// The main window's content until the window controller arrives: the sidebar, the list and the editor. It owns the
// Warehouse, answers the editor as the window will (new notes go to the inbox, empty), runs the
// start-up migration and index build, reopens the last note and handles New Note.
class InterimShell : public ViewController,
                     private NoteViewControllerDelegate,
                     private FolderViewControllerDelegate,
                     private ListViewControllerDelegate {
public:
    explicit InterimShell(QObject* parent = nullptr);

    NoteViewController& noteController() { return *noteController_; }
    FolderViewController& folderController() { return *folderController_; }
    ListViewController& listController() { return *listController_; }
    ThemeSettingsDelegate& themeSettings() { return *themeSettings_; }
    // The start-up work, then the last note (or a new one) in the editor.
    void start();
    // Commits the note being edited and remembers it under the name it ends up with.
    void applicationWillTerminate();

protected:
    QWidget* loadView() override;

private:
    int storageForNewNote(NoteViewController&) override { return NoteStorageInbox; }
    QString textForNewNote(NoteViewController&) override { return QStringLiteral(""); }
    void noteControllerNoteDidOpen(NoteViewController&, const NotePtr& note) override { commitNoteStorage(note); }
    bool noteControllerDidKeyDown(NoteViewController&, const QKeyEvent&) override { return false; }
    void noteControllerDidBecomeFirstResponder(NoteViewController&) override {}
    void noteControllerDidResignFirstResponder(NoteViewController&) override {}

    void folderControllerDidSelectStorage(FolderViewController&, int storage, const QString& tag) override;
    bool folderControllerDidKeyDown(FolderViewController&, const KeyEvent&) override { return false; }
    void listControllerDidSelectNote(ListViewController&, const NotePtr& note) override;
    // Archiving, deleting and restoring arrive with the window's note commands.
    void listControllerDidTapArchiveNote(ListViewController&, const NotePtr&) override {}
    void listControllerDidTapDeleteNote(ListViewController&, const NotePtr&) override {}
    void listControllerDidTapRestoreNote(ListViewController&, const NotePtr&) override {}
    QString listControllerEditingText(ListViewController&) override;

    // Remembers the note for the next start.
    static void commitNoteStorage(const NotePtr& note);
    // The note remembered, when its file is still there.
    static NotePtr restoredNote();

    std::shared_ptr<Warehouse> warehouse_;
    NoteViewController* noteController_; // a child
    FolderViewController* folderController_; // a child, left of the list
    ListViewController* listController_; // a child, left of the editor
    std::shared_ptr<WarehouseEditingDelegate> editingRelay_;
    ThemeSettingsDelegate* themeSettings_; // a child: the theme popover and its choices
};
