#include "shell/RootViewController.h"

#include "Export/ExportCommands.h"
#include "kit/Alert.h"
#include "kit/MenuItem.h"
#include "kit/SharingService.h"
#include "panes/NoteTextView.h"
#include "shell/RootWindow.h"

#include "Core.h"
#include "Log.h"
#include "UserDefaults.h"
#include "files/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QStandardPaths>

#include <unistd.h>

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("RootViewController", text);
}

// The folder of files handed to a sharing service: private to the user, made afresh when needed.
QString shareDirectory(Error* error)
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/brindlewick/share");
    QDir().mkpath(path);
    const QFileInfo info(path);
    if (!info.isDir() || info.isSymLink() || info.ownerId() != ::getuid() ||
        !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        setError(error, Error::make(QStringLiteral("root"), 1, localized("The folder for shared files cannot be used.")));
        return QString();
    }
    return path;
}

// Why a file cannot be opened as a note, or empty when it can.
QString openFileProblem(const QString& path)
{
    const QFileInfo info(QFileInfo(path).canonicalFilePath());
    if (!info.exists())
        return localized("The file does not exist.");
    if (!info.isFile())
        return localized("Only regular files can be opened as notes.");
    if (info.size() > RootViewController::OpenFileSizeLimit)
        return localized("The file is larger than 64 MB.");
    return QString();
}

void showAlert(QWidget* window, const QString& message, const QString& detail)
{
    Alert alert;
    alert.setMessageText(message);
    alert.setInformativeText(detail);
    alert.addButton(localized("OK"));
    alert.beginSheetModal(window, [](int) {});
}

} // namespace

// --- The notes the commands act on

QString RootViewController::editorText() const
{
    return noteController_ ? noteController_->editingText() : QString();
}

NotePtr RootViewController::commandNote() const
{
    const NotePtr editing = warehouse_ ? warehouse_->editingNote() : nullptr;
    return editing ? editing : selectedNote_;
}

// Pending edits of the note being edited are committed first, so the move or deletion takes the
// latest text under the note's final name.
void RootViewController::prepareNoteForMoveOrDelete(const NotePtr& note, std::function<void(const NotePtr&)> block)
{
    if (warehouse_->editingNote() && warehouse_->isEditingNote(note)) {
        warehouse_->endEditingNoteForMoveOrDelete([warehouse = warehouse_, block = std::move(block)] {
            DispatchQueue::main()->async([warehouse, block] {
                if (const NotePtr prepared = warehouse->editingNote())
                    block(prepared);
            });
        });
        return;
    }
    if (note)
        block(note);
}

// --- Commands

void RootViewController::newDocument()
{
    selectedNote_.reset();
    if (listController_)
        listController_->selectNone();
    if (noteController_)
        noteController_->newNoteDidTapFromMenu();
}

void RootViewController::deleteNote()
{
    if (editorHasFocus())
        return;
    const NotePtr note = commandNote();
    if (!note || note->key().isEmpty()) {
        if (listController_)
            listController_->selectNextNote();
        return;
    }
    deleteNoteWithConfirmation(note, {});
}

void RootViewController::deleteNoteWithConfirmation(const NotePtr& note, std::function<void(bool deleted)> completion)
{
    auto finish = [completion](bool deleted) {
        if (completion)
            DispatchQueue::main()->async([completion, deleted] { completion(deleted); });
    };
    prepareNoteForMoveOrDelete(note, [self = QPointer(this), fileQueue = core_.fileQueue(), finish](const NotePtr& prepared) {
        fileQueue->async([self, fileQueue, finish, prepared] {
            prepared->restoreHeader();
            DispatchQueue::main()->async([self, fileQueue, finish, prepared] {
                if (!self)
                    return finish(false);
                const QString title = prepared->title();
                Alert alert;
                alert.setStyle(Alert::Style::Warning);
                alert.setMessageText(title.isEmpty() ? localized("Delete this Note?")
                                                     : localized("Delete \"%1\"?").arg(title));
                alert.addButton(localized("Delete Note"));
                alert.addButton(localized("Cancel"));
                alert.beginSheetModal(self->view()->window(), [fileQueue, finish, prepared](int response) {
                    if (response != Alert::FirstButtonReturn)
                        return finish(false);
                    fileQueue->async([finish, prepared] {
                        prepared->deleteNote([finish](const Error& error) {
                            if (!error.isNull())
                                LogError("root:purge error %1", error.localizedDescription());
                            finish(error.isNull());
                        });
                    });
                });
            });
        });
    });
}

void RootViewController::archiveNote()
{
    moveNoteToStorage(commandNote(), NoteStorageArchive);
}

void RootViewController::restoreNoteToInbox()
{
    moveNoteToStorage(commandNote(), NoteStorageInbox);
}

void RootViewController::moveNoteToStorage(const NotePtr& note, int storage)
{
    prepareNoteForMoveOrDelete(note, [fileQueue = core_.fileQueue(), storage](const NotePtr& prepared) {
        if (prepared->storage() == storage)
            return;
        fileQueue->async([prepared, storage] {
            Error error;
            if (!prepared->moveNoteToStorage(storage, &error))
                LogError("root:move error %1", error.localizedDescription());
        });
    });
}

void RootViewController::selectNoteSortOptions(int64_t option)
{
    if (option == core_.noteSortOptions())
        return;
    core_.setNoteSortOptions(option);
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(option, QStringLiteral("notesort"));
    defaults.synchronize();
    if (listController_)
        listController_->reloadList();
}

// The selection, or the whole note when nothing is selected.
void RootViewController::copyNoteHTML()
{
    const QString selected = noteController_ ? noteController_->selectedText() : QString();
    ExportCommands::copyNoteHTML(selected.isEmpty() ? editorText() : selected);
}

void RootViewController::copyNoteFormattedText()
{
    const QString selected = noteController_ ? noteController_->selectedText() : QString();
    ExportCommands::copyNoteFormattedText(selected.isEmpty() ? editorText() : selected);
}

void RootViewController::print()
{
    ExportCommands::printNote(editorText(), view()->window());
}

void RootViewController::printFormatted()
{
    ExportCommands::printNoteFormatted(editorText(), view()->window());
}

void RootViewController::exportNote()
{
    ExportCommands::exportNote(editorText(), view()->window());
}

// --- Opening files

bool RootViewController::openFile(const QString& path)
{
    QWidget* window = view()->window();
    if (const QString problem = openFileProblem(path); !problem.isEmpty()) {
        showAlert(window, localized("The file cannot be opened."), problem);
        return false;
    }
    const QString key = QFileInfo(path).fileName();
    Error error;
    const QString text = Note::newTextFromURL(QUrl::fromLocalFile(path), &error);
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        if (!Note::isSafePathComponent(key) || !QFileInfo(Note::documentFileForKey(key, storage)).isFile())
            continue;
        const QString stored = Note::newTextFromURL(QUrl::fromLocalFile(Note::documentFileForKey(key, storage)));
        if (error.isNull() && stored == text)
            showOpenedFile(std::make_shared<Note>(key, storage), true);
        else if (error.isNull())
            importFile(text);
        return true;
    }
    if (!error.isNull()) {
        showAlert(window, localized("The file cannot be opened."), error.localizedDescription());
        return false;
    }
    importFile(text);
    return true;
}

void RootViewController::showOpenedFile(const NotePtr& note, bool reveal)
{
    DispatchQueue::main()->async([self = QPointer(this), note, reveal] {
        if (!self || !self->noteController_)
            return;
        self->selectedNote_ = note;
        const auto show = [self, note] {
            if (self && self->noteController_)
                self->noteController_->showNote(note, [] {});
        };
        if (reveal)
            return self->revealNote(note, show);
        if (self->listController_)
            self->listController_->selectNote(note);
        show();
    });
}

// A file whose name is taken by a note of other text becomes a new note too, named from its title.
void RootViewController::importFile(const QString& text)
{
    core_.fileQueue()->async([self = QPointer(this), text] {
        auto note = std::make_shared<Note>();
        note->setText(text);
        note->commitAndCloseNote([self, note](bool ok) {
            if (!ok) {
                LogError("root:import error %1", note->key());
                return;
            }
            DispatchQueue::main()->async([self, note] {
                if (self)
                    self->showOpenedFile(std::make_shared<Note>(note->key(), note->storage()), false);
            });
        });
    });
}

// --- Sharing

void RootViewController::buildShareMenu()
{
    if (!shareMenu_ || !shareMenu_->isEmpty())
        return;
    const QList<SharingService> services =
        SharingService::sharingServicesForItems({QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/share.txt"))});
    if (!services.isEmpty())
        shareMenu_->addSeparator();
    for (const SharingService& service : services) {
        auto* item = new MenuItem(service.title(), Selector("shareNoteWithService:"), shareMenu_);
        item->setWindow(view()->window());
        item->setIcon(QIcon::fromTheme(service.imageName()));
        item->setData(int(service.kind()));
        shareMenu_->addAction(item);
    }
}

// The note goes to a private folder under its title, replacing an older file of the same name.
void RootViewController::shareNote(int service)
{
    const QString text = editorText();
    core_.fileQueue()->async([self = QPointer(this), text, service] {
        Error error;
        const QString directory = shareDirectory(&error);
        const QString path = directory + QLatin1Char('/') + ExportCommands::fileNameForText(text, QStringLiteral("txt"));
        const bool written = !directory.isEmpty() && AtomicFile::write(path, text.toUtf8(), &error);
        if (!written)
            LogError("root:share error %1", error.localizedDescription());
        DispatchQueue::main()->async([self, service, path, written, error] {
            if (!self)
                return;
            if (!written)
                return showAlert(self->view()->window(), localized("The note could not be shared."), error.localizedDescription());
            SharingService(SharingService::Kind(service)).performWithItems({QUrl::fromLocalFile(path)});
        });
    });
}

// --- Menu validation

bool RootViewController::validateMenuItem(MenuItem& item)
{
    const QByteArray& action = item.action().name();
    if (action == "toggleSidebarShown:") {
        if (!isFullScreen())
            reloadWindowState();
        item.setText(isFullScreen() || sidebarHidden_ ? localized("Show Sidebar") : localized("Hide Sidebar"));
        return !isFullScreen();
    }
    const std::pair<const char*, int64_t> sorts[] = {
        {"sortNoteByUpdatedOn:", 0}, {"sortNoteByCreatedOn:", 1}, {"sortNoteByTitle:", 2}};
    for (const auto& [sort, option] : sorts)
        if (action == sort) {
            item.setState(core_.noteSortOptions() == option);
            return true;
        }
    if (action == "toggleFullScreen:") {
        item.setText(isFullScreen() ? localized("Exit Full Screen") : localized("Enter Full Screen"));
        return true;
    }
    if (action == "copyNoteFormattedText:" || action == "copyNoteHTML:") // one unit tells: no copy of a long note
        return noteController_ && !noteController_->editingText(1).isEmpty();
    const bool keyed = selectedNote_ && !selectedNote_->key().isEmpty();
    if (action == "restoreNoteToInbox:")
        return keyed && selectedNote_->storage() == NoteStorageArchive;
    if (action == "archiveNote:")
        return keyed && selectedNote_->storage() == NoteStorageInbox;
    if (action == "deleteNote:")
        return !editorHasFocus();
    return true;
}
