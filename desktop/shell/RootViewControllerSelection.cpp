#include "shell/RootViewController.h"

#include "panes/NoteTextView.h"
#include "panes/SearchFieldWrapper.h"
#include "shell/RootWindow.h"

#include "Core.h"
#include "UserDefaults.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>

#include <limits>

namespace {

const QString SelectedStorageKey = QStringLiteral("selectedStorage");
const QString SelectedTagKey = QStringLiteral("selectedTag");
const QString SelectedNoteKeyKey = QStringLiteral("selectedNoteKey");
const QString SelectedNoteStorageKey = QStringLiteral("selectedNoteStorage");

bool sameNote(const NotePtr& a, const NotePtr& b)
{
    return a && b && a->storage() == b->storage() && !a->key().isNull() && a->key() == b->key();
}

bool isTagKind(int storage)
{
    return storage == NoteTagHashtag || storage == NoteTagMention;
}

// As a number is read from the start of a text: blanks, a sign and the digits up to the first other
// character ("12abc" is 12); 0 without digits, the nearest limit when out of range.
qint64 leadingInteger(const QString& text)
{
    static const QRegularExpression leading(QStringLiteral("^\\s*([+-]?[0-9]+)"));
    const QRegularExpressionMatch match = leading.match(text);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const qint64 value = match.captured(1).toLongLong(&ok);
    if (ok)
        return value;
    return match.captured(1).startsWith(QLatin1Char('-')) ? std::numeric_limits<qint64>::min()
                                                          : std::numeric_limits<qint64>::max();
}

} // namespace

// Note events come from whichever queue sent them; the selection and the panes are the main thread's,
// so every event is handed to the main queue, which keeps their order.
class RootViewController::Listener : public NoteStorageListener {
public:
    explicit Listener(RootViewController* root) : root_(root) {}

    void noteDidUpdateFromRemoteServer(const NotePtr& note) override
    {
        post([note](RootViewController& root) { root.warehouse_->remoteServerDidUpdateNote(note); });
    }
    void noteDidDeleteFromRemoteServer(const NotePtr& note) override
    {
        post([note](RootViewController& root) { root.warehouse_->remoteServerDidDeleteNote(note); });
    }
    void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        post([note, storage, tag](RootViewController& root) { root.noteDidDelete(note, storage, tag); });
    }
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        post([before, after](RootViewController& root) { root.noteDidMove(before, after); });
    }
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        post([before, after](RootViewController& root) { root.noteDidMove(before, after); });
    }
    // The note in the editor got its file (a new note, or one split from it by a save): the window
    // shows it, and the list highlights its row.
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString&) override
    {
        if (storage != NoteStorageInbox && storage != NoteStorageArchive)
            return;
        post([note](RootViewController& root) {
            if (!root.warehouse_->isEditingNote(note))
                return;
            if (!sameNote(note, root.selectedNote_)) {
                root.selectedNote_ = std::make_shared<Note>(note->key(), note->storage());
                root.commitNoteStorage();
            }
            if (root.listController_)
                root.listController_->followNote(root.selectedNote_);
        });
    }
    void noteTagDidAddToStorage(const QString&, int) override {}
    void noteTagDidDeleteFromStorage(const QString&, int) override {}

private:
    void post(std::function<void(RootViewController&)> event)
    {
        DispatchQueue::main()->async([root = root_, event = std::move(event)] {
            if (root)
                event(*root);
        });
    }
    QPointer<RootViewController> root_;
};

void RootViewController::listenToNotes()
{
    listener_ = std::make_shared<Listener>(this);
    core_.addNoteStorageListener(listener_);
}

// --- Selection

void RootViewController::selectStorage(int storage, const QString& tag)
{
    selectedStorage_ = storage;
    selectedTag_ = tag;
    showStorageThen(storage, tag, [this, note = selectedNote_] {
        if (!listController_->selectNote(note))
            listController_->selectNote(nullptr);
    });
    commitFolderStorage();
}

bool RootViewController::isSelectedStorage(int storage, const QString& tag) const
{
    if (storage != selectedStorage_)
        return false;
    if (!isTagKind(storage))
        return true;
    return (tag.isEmpty() && selectedTag_.isEmpty()) || tag == selectedTag_;
}

// The sidebar shows the storage first, then the list; then runs while both still exist.
void RootViewController::showStorageThen(int storage, const QString& tag, std::function<void()> then)
{
    if (!folderController_ || !listController_)
        return;
    folderController_->selectStorage(storage, tag, [self = QPointer(this), storage, tag, then = std::move(then)](bool) {
        if (self && self->listController_)
            self->listController_->selectStorage(storage, tag, [self, then](bool) {
                if (self && self->listController_)
                    then();
            });
    });
}

void RootViewController::commitFolderStorage()
{
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(selectedStorage_, SelectedStorageKey);
    defaults.setString(selectedTag_.isEmpty() ? QStringLiteral("") : selectedTag_, SelectedTagKey);
    defaults.synchronize();
}

void RootViewController::commitNoteStorage()
{
    if (!selectedNote_ || selectedNote_->key().isEmpty())
        return;
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(selectedNote_->key(), SelectedNoteKeyKey);
    defaults.setInteger(selectedNote_->storage(), SelectedNoteStorageKey);
    defaults.synchronize();
}

// A tag or note whose file is gone, or whose stored name could leave its folder, is dropped.
void RootViewController::restoreStorage()
{
    const UserDefaults& defaults = UserDefaults::standard();
    const int storage = int(defaults.integerForKey(SelectedStorageKey));
    const QString tag = defaults.stringForKey(SelectedTagKey);
    selectedStorage_ = 0;
    selectedTag_.clear();
    if (storage == NoteStorageInbox || storage == NoteStorageArchive) {
        selectedStorage_ = storage;
    } else if (isTagKind(storage) && Note::isSafePathComponent(tag) && QFileInfo::exists(Note::metaFileForTag(storage, tag))) {
        selectedStorage_ = storage;
        selectedTag_ = tag;
    }
    const QString key = defaults.stringForKey(SelectedNoteKeyKey);
    const int noteStorage = int(defaults.integerForKey(SelectedNoteStorageKey));
    selectedNote_.reset();
    if ((noteStorage == NoteStorageInbox || noteStorage == NoteStorageArchive) && Note::isSafePathComponent(key) &&
        QFileInfo(Note::documentFileForKey(key, noteStorage)).isFile())
        selectedNote_ = std::make_shared<Note>(key, noteStorage);
}

// --- Search field

void RootViewController::queryNote(const QString& text)
{
    if (QLineEdit* field = searchField())
        field->setText(text);
    searchTextDidChange(text);
}

void RootViewController::searchTextDidChange(const QString& query)
{
    if (!listController_)
        return;
    if (noteController_)
        noteController_->showFindIndicator(query);
    listController_->searchNote(query, [self = QPointer(this)](bool reloaded) {
        if (self && reloaded && self->listController_ && !self->listController_->selectNote(self->selectedNote_))
            self->listController_->selectNote(nullptr);
    });
}

bool RootViewController::eventFilter(QObject* watched, QEvent* event)
{
    // The window becoming or ceasing to be the key window takes the strip's image away.
    if ((event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate) && watched == rootWindow())
        toolbar_->clear();
    if (event->type() == QEvent::KeyPress && watched == searchField()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        return searchFieldCommand(key->key(), key->modifiers());
    }
    // Return on a list row goes on to the note, as it does from the search field.
    if (event->type() == QEvent::KeyPress && listController_ && watched == listController_->tableView()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && noteController_) {
            focusEditor();
            return true;
        }
    }
    return ViewController::eventFilter(watched, event);
}

bool RootViewController::searchFieldCommand(int key, Qt::KeyboardModifiers modifiers)
{
    if (!listController_ || !noteController_ || (modifiers & ~(Qt::ShiftModifier | Qt::KeypadModifier)))
        return false;
    switch (key) {
    case Qt::Key_Up:
        listController_->selectPreviousNote();
        return true;
    case Qt::Key_Down:
        listController_->selectNextNote();
        return true;
    case Qt::Key_Escape:
        queryNote(QStringLiteral(""));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        focusEditor();
        return true;
    case Qt::Key_Tab:
        if (modifiers & Qt::ShiftModifier)
            break;
        focusEditor();
        listController_->tableBridge()->reloadSelectedRow();
        return true;
    case Qt::Key_Backtab:
        break;
    default:
        return false;
    }
    if (folderController_)
        folderController_->tableView()->setFocus(Qt::BacktabFocusReason);
    listController_->tableBridge()->reloadSelectedRow();
    return true;
}

void RootViewController::search()
{
    RootWindow* window = rootWindow();
    if (!sidebarHidden_ && !isFullScreen() && window && !window->searchFieldWrapper()->isHidden())
        searchField()->setFocus(Qt::ShortcutFocusReason);
    else
        showOpenQuickly(std::nullopt);
}

// --- Quick open

void RootViewController::showOpenQuickly(const std::optional<QString>& query)
{
    if (!quickOpenController_) {
        quickOpenController_ = new QuickOpenViewController(core_, this);
        quickOpenController_->view()->setParent(view());
    }
    quickOpenController_->view()->show();
    quickOpenController_->view()->raise();
    quickOpenController_->setDelegate(this);
    quickOpenController_->showQuickOpen(query);
}

void RootViewController::hideQuickOpen()
{
    if (quickOpenController_)
        quickOpenController_->view()->hide();
}

QWidget* RootViewController::containerViewForQuickOpen(QuickOpenViewController&)
{
    return noteContainer_;
}

void RootViewController::quickOpenWantDismiss(QuickOpenViewController&)
{
    hideQuickOpen();
}

// ":25" goes to line 25, ":ab" to line 0; anything else only closes the panel.
void RootViewController::quickOpenDidEnterCommand(QuickOpenViewController&, const QString& command)
{
    hideQuickOpen();
    if (command.startsWith(QLatin1Char(':')) && noteController_)
        noteController_->goToLine(leadingInteger(command.mid(1)));
    focusEditor();
}

void RootViewController::quickOpenDidSelectStorage(QuickOpenViewController& panel, int storage, const QString& tag)
{
    panel.restoreFirstResponder();
    hideQuickOpen();
    selectedStorage_ = storage;
    selectedTag_ = tag;
    commitFolderStorage();
    showStorageThen(storage, tag, [this, note = selectedNote_] {
        if (!listController_->selectNote(note))
            listController_->selectNote(nullptr);
        focusEditor();
    });
}

// A note outside the shown storage first switches the sidebar and the list to its storage.
void RootViewController::quickOpenDidSelectNote(QuickOpenViewController& panel, const NotePtr& note)
{
    panel.restoreFirstResponder();
    hideQuickOpen();
    selectedNote_ = note;
    revealNote(note, [this, note, query = panel.searchQuery()] { openFromQuickOpen(note, query); });
}

void RootViewController::revealNote(const NotePtr& note, std::function<void()> then)
{
    if (!listController_ || !folderController_ || listController_->selectNote(note))
        return then();
    selectedStorage_ = note->storage();
    selectedTag_.clear();
    commitFolderStorage();
    showStorageThen(note->storage(), QString(), [this, note, then = std::move(then)] {
        if (!listController_->selectNote(note))
            listController_->selectNone();
        then();
    });
}

void RootViewController::openFromQuickOpen(const NotePtr& note, const QString& query)
{
    if (!noteController_)
        return;
    noteController_->showNote(note, [editor = noteController_, self = QPointer(this), query] {
        if (!editor || !self)
            return;
        if (!editor->showFindIndicator(query, true)) {
            editor->restoreInsertionPoint();
            editor->restoreScrollPosition();
        }
        self->focusEditor();
    });
}

// --- Panes

void RootViewController::listControllerDidSelectNote(ListViewController&, const NotePtr& note)
{
    if (sameNote(note, selectedNote_) || !noteController_)
        return;
    selectedNote_ = note;
    noteController_->showNote(note, [editor = noteController_, self = QPointer(this)] {
        if (editor && self && !editor->showFindIndicator(self->searchField() ? self->searchField()->text() : QString()))
            editor->scrollToTop();
    });
}

void RootViewController::listControllerDidTapDeleteNote(ListViewController&, const NotePtr& note)
{
    deleteNoteWithConfirmation(note, [list = listController_](bool) {
        if (list)
            list->hideShowingListEntryOptions();
    });
}

void RootViewController::listControllerDidTapArchiveNote(ListViewController&, const NotePtr& note)
{
    moveNoteToStorage(note, NoteStorageArchive);
}

void RootViewController::listControllerDidTapRestoreNote(ListViewController&, const NotePtr& note)
{
    moveNoteToStorage(note, NoteStorageInbox);
}

QString RootViewController::listControllerEditingText(ListViewController&)
{
    return noteController_ ? noteController_->editingText(ListViewController::LiveEditRead) : QString();
}

bool RootViewController::listControllerIsEditingNote(ListViewController&, const NotePtr& note)
{
    return warehouse_->isEditingNote(note) && editorHasFocus();
}

void RootViewController::folderControllerDidSelectStorage(FolderViewController&, int storage, const QString& tag)
{
    if (!isSelectedStorage(storage, tag))
        selectStorage(storage, tag);
}

// Tab moves on to the search field while it shows; Shift-Tab stops here.
bool RootViewController::folderControllerDidKeyDown(FolderViewController&, const KeyEvent& event)
{
    if (event.charactersIgnoringModifiers != QString(QChar(KeyCharacter::Tab)))
        return false;
    if (event.has(KeyEvent::ShiftKey))
        return true;
    RootWindow* window = rootWindow();
    if (sidebarHidden_ || isFullScreen() || !window || window->searchFieldWrapper()->isHidden())
        return false;
    searchField()->setFocus(Qt::TabFocusReason);
    if (listController_)
        listController_->tableBridge()->reloadSelectedRow();
    return true;
}

int RootViewController::storageForNewNote(NoteViewController&)
{
    return selectedStorage_ == NoteStorageArchive ? NoteStorageArchive : NoteStorageInbox;
}

QString RootViewController::textForNewNote(NoteViewController&)
{
    if (!core_.enabledPostTemplate() || sidebarHidden_ || selectedTag_.isEmpty())
        return QStringLiteral("");
    if (selectedStorage_ == NoteTagHashtag)
        return QStringLiteral("\n\n#%1\n ").arg(selectedTag_);
    if (selectedStorage_ == NoteTagMention)
        return QStringLiteral("\n\n@%1\n ").arg(selectedTag_);
    return QStringLiteral("");
}

void RootViewController::noteControllerNoteDidOpen(NoteViewController&, const NotePtr& note)
{
    selectedNote_ = note;
    commitNoteStorage();
    if (listController_)
        listController_->followNote(note);
}

bool RootViewController::noteControllerDidKeyDown(NoteViewController&, const QKeyEvent&)
{
    fadeOutToolbarIfPossible();
    return false;
}

void RootViewController::noteControllerDidBecomeFirstResponder(NoteViewController&)
{
    if (listController_)
        listController_->highlightSelectedNote();
}

void RootViewController::noteControllerDidResignFirstResponder(NoteViewController&)
{
    if (listController_)
        listController_->highlightSelectedNote();
}

// --- Note events

void RootViewController::noteDidDelete(const NotePtr& note, int storage, const QString& tag)
{
    const bool editing = (storage == NoteStorageInbox || storage == NoteStorageArchive) && warehouse_->isEditingNote(note);
    if (!editing || !noteController_) {
        if (listController_)
            listController_->noteDidDelete(note, storage, tag);
        return;
    }
    noteController_->showNote(nullptr, [list = listController_, note, storage, tag] {
        if (list)
            list->noteDidDelete(note, storage, tag);
    });
}

void RootViewController::noteDidMove(const NotePtr& before, const NotePtr& after)
{
    if (sameNote(before, selectedNote_))
        selectedNote_ = after;
}
