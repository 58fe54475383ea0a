#include "InterimShell.h"

#include "Core.h"
#include "Store/Migrator.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>

namespace {

const QString SelectedNoteKey = QStringLiteral("selectedNoteKey");
const QString SelectedNoteStorage = QStringLiteral("selectedNoteStorage");
constexpr int SidebarWidth = 200;

} // namespace

InterimShell::InterimShell(QObject* parent)
    : ViewController(parent), noteController_(new NoteViewController),
      folderController_(new FolderViewController(Core::shared())),
      themeSettings_(new ThemeSettingsDelegate(noteController_, folderController_, this))
{
    addChild(noteController_);
    addChild(folderController_);
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
    row->addWidget(noteController_->view());
    return view;
}

void InterimShell::start()
{
    Core& core = Core::shared();
    Migrator::migrateInMainThread();
    core.buildTagLinkAndIndexFiles();
    warehouse_ = Warehouse::create();
    warehouse_->setEditingDelegate(noteController_->editingDelegate());
    noteController_->setWarehouse(warehouse_);
    noteController_->setDelegate(this);

    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        noteController_->applicationWillTerminateUsingBlock({});
        commitNoteStorage(warehouse_->editingNote()); // a new note has its file by now
    });

    folderController_->selectStorage(NoteStorageInbox, QString());
    const NotePtr last = restoredNote();
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
