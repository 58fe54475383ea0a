#pragma once

#include "panes/QuickOpenViewController.h"

#include <QObject>

class FolderViewController;
class ListViewController;
class NoteViewController;

// Shows the quick-open panel over the editor on Ctrl+O and carries out its choices in the three
// panes: a note is selected in the list and opened, a storage or tag selected in the sidebar, ":N"
// moves the editor to line N.
class QuickOpenPresenter : public QObject, private QuickOpenViewControllerDelegate {
public:
    // The panel becomes a child of host; the panes are not owned and must outlive the presenter.
    QuickOpenPresenter(QWidget* host, FolderViewController& folders, ListViewController& list,
                       NoteViewController& editor);

    void showOpenQuickly();
    void hideQuickOpen();
    QuickOpenViewController* panel() const { return panel_; }

private:
    void quickOpenWantDismiss(QuickOpenViewController&) override { hideQuickOpen(); }
    void quickOpenDidSelectNote(QuickOpenViewController& panel, const NotePtr& note) override;
    void quickOpenDidSelectStorage(QuickOpenViewController& panel, int storage, const QString& tag) override;
    void quickOpenDidEnterCommand(QuickOpenViewController& panel, const QString& command) override;
    QWidget* containerViewForQuickOpen(QuickOpenViewController&) override;
    // The sidebar, then the list, show the storage or tag; then done runs.
    void showStorage(int storage, const QString& tag, std::function<void()> done);
    void openInEditor(const NotePtr& note);
    void focusEditor();

    QWidget* host_;
    FolderViewController& folders_;
    ListViewController& list_;
    NoteViewController& editor_;
    QuickOpenViewController* panel_ = nullptr;
};
