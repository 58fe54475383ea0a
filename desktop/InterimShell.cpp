#include "InterimShell.h"

#include "Core.h"
#include "panes/EditingRelay.h"
#include "panes/QuickOpenPresenter.h"
#include "Store/Migrator.h"
#include "Dispatch.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>

namespace {

const QString SelectedNoteKey = QStringLiteral("selectedNoteKey");
const QString SelectedNoteStorage = QStringLiteral("selectedNoteStorage");
constexpr int SidebarWidth = 200;
constexpr int ListWidth = 280;
// How long quitting waits for the last commit (and a new note's rename) to finish.
constexpr double QuitCommitTimeout = 10;

} // namespace

InterimShell::InterimShell(QObject* parent)
    : ViewController(parent), noteController_(new NoteViewController),
      folderController_(new FolderViewController(Core::shared())),
      listController_(new ListViewController(Core::shared())),
      editingRelay_(std::make_shared<EditingRelay>(noteController_, listController_)),
      themeSettings_(new ThemeSettingsDelegate(noteController_, folderController_, listController_, this))
{
    addChild(noteController_);
    addChild(folderController_);
    addChild(listController_);
    addHandler(Selector("newDocument:"), [this](QObject*) { noteController_->newNoteDidTapFromMenu(); });
    addHandler(Selector("showThemeOptions:"), [this](QObject* sender) {
        auto* button = qobject_cast<QWidget*>(sender);
        themeSettings_->showTheme(button ? button : view());
    });
}

QWidget* InterimShell::loadView()
{
    auto* view = new QWidget;
    auto* row = new QHBoxLayout(view);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    folderController_->view()->setFixedWidth(SidebarWidth);
    row->addWidget(folderController_->view());
    listController_->view()->setFixedWidth(ListWidth);
    row->addWidget(listController_->view());
    row->addWidget(noteController_->view());
    new QuickOpenPresenter(view, *folderController_, *listController_, *noteController_); // Ctrl+O
    return view;
}

void InterimShell::start()
{
    Core& core = Core::shared();
    Migrator::migrateInMainThread();
    core.buildTagLinkAndIndexFiles();
    warehouse_ = Warehouse::create();
    warehouse_->setEditingDelegate(editingRelay_);
    noteController_->setWarehouse(warehouse_);
    noteController_->setDelegate(this);

    connect(qApp, &QCoreApplication::aboutToQuit, this, &InterimShell::applicationWillTerminate);

    folderController_->setDelegate(this);
    listController_->setDelegate(this);
    folderController_->selectStorage(NoteStorageInbox, QString());
    const NotePtr last = restoredNote();
    listController_->selectStorage(NoteStorageInbox, QString(), [list = QPointer(listController_), last](bool shown) {
        if (list && shown && last)
            list->selectNote(last);
    });
    noteController_->showNote(last, [controller = QPointer(noteController_), restore = bool(last)] {
        if (!controller)
            return;
        if (restore) {
            controller->restoreInsertionPoint();
            controller->restoreScrollPosition();
        }
        controller->textView()->setFocus(Qt::OtherFocusReason);
    });
}

void InterimShell::applicationWillTerminate()
{
    // A new note takes its readable name only after the commit, on the file queue: the key is read
    // once the commit's block has run.
    auto committed = std::make_shared<std::atomic<bool>>(false);
    noteController_->applicationWillTerminateUsingBlock([committed] { *committed = true; });
    DispatchQueue::runMainUntil([&] { return committed->load(); }, QuitCommitTimeout);
    commitNoteStorage(warehouse_->editingNote());
}

void InterimShell::folderControllerDidSelectStorage(FolderViewController&, int storage, const QString& tag)
{
    listController_->selectStorage(storage, tag, [list = QPointer(listController_)](bool shown) {
        if (list && shown && !list->selectNote(list->selectedNote()))
            list->selectNote(nullptr);
    });
}

void InterimShell::listControllerDidSelectNote(ListViewController&, const NotePtr& note)
{
    noteController_->showNote(note);
}

QString InterimShell::listControllerEditingText(ListViewController&)
{
    return noteController_->textView()->string();
}

void InterimShell::commitNoteStorage(const NotePtr& note)
{
    if (!note || note->key().isEmpty())
        return;
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(note->key(), SelectedNoteKey);
    defaults.setInteger(note->storage(), SelectedNoteStorage);
    defaults.synchronize();
}

NotePtr InterimShell::restoredNote()
{
    const UserDefaults& defaults = UserDefaults::standard();
    const QString key = defaults.stringForKey(SelectedNoteKey);
    const int storage = int(defaults.integerForKey(SelectedNoteStorage));
    if (key.isEmpty() || (storage != NoteStorageInbox && storage != NoteStorageArchive) ||
        !QFileInfo::exists(Note::documentFileForKey(key, storage)))
        return nullptr;
    return std::make_shared<Note>(key, storage);
}
