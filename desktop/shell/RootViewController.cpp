#include "shell/RootViewController.h"

#include "kit/AnimationContext.h"
#include "kit/Image.h"
#include "kit/Popover.h"
#include "kit/QtColor.h"
#include "panes/NoteTextView.h"
#include "panes/SearchFieldWrapper.h"
#include "shell/PaneSizing.h"
#include "shell/RootWindow.h"
#include "views/PlainViews.h"
#include "views/ToolbarButton.h"

#include "ConsoleLog.h"
#include "Core.h"
#include "Log.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

// The editing session asks the editor; typing also reaches the list and the toolbar fade.
class RootViewController::EditingForwarder : public WarehouseEditingDelegate {
public:
    explicit EditingForwarder(RootViewController* root) : root_(root) {}

    bool warehouseReloadScrollPositionForNote(Warehouse& w, const NotePtr& note) override
    {
        return editor() && editor()->warehouseReloadScrollPositionForNote(w, note);
    }
    bool warehouseReloadTextForNote(Warehouse& w, const NotePtr& note) override
    {
        return editor() && editor()->warehouseReloadTextForNote(w, note);
    }
    bool warehouseShouldAutoSaveEditingNote(Warehouse& w, const NotePtr& note) override
    {
        return editor() && editor()->warehouseShouldAutoSaveEditingNote(w, note);
    }
    bool warehouseUserIsEditingNote(Warehouse&, const NotePtr&) override { return false; }
    void warehouseRemoteServerDidUpdateEditingNote(Warehouse& w, const NotePtr& note, const QString& text) override
    {
        if (editor())
            editor()->warehouseRemoteServerDidUpdateEditingNote(w, note, text);
    }
    void warehouseRemoteServerDidDeleteEditingNote(Warehouse& w, const NotePtr& note) override
    {
        if (editor())
            editor()->warehouseRemoteServerDidDeleteEditingNote(w, note);
    }
    void warehouseDidFailToSaveNote(Warehouse& w, const NotePtr& note) override
    {
        if (editor())
            editor()->warehouseDidFailToSaveNote(w, note);
    }
    void warehouseDidSaveUnsavedNotes(Warehouse& w) override
    {
        if (editor())
            editor()->warehouseDidSaveUnsavedNotes(w);
    }
    void warehouseEditingNote(Warehouse&, const NotePtr& note, int64_t) override
    {
        if (!root_)
            return;
        root_->fadeOutToolbarIfPossible();
        if (!root_->sidebarHidden_ && root_->listController_ && root_->noteController_)
            root_->listController_->noteDidEditingText(note);
    }

private:
    NoteViewController* editor() const { return root_ ? root_->noteController_.data() : nullptr; }
    QPointer<RootViewController> root_;
};

RootViewController::RootViewController(Core& core, QObject* parent)
    : ViewController(parent), core_(core), terminate_([] { QCoreApplication::quit(); })
{
    addActions();
}

RootViewController::~RootViewController()
{
    if (listener_)
        core_.removeNoteStorageListener(listener_.get());
}

RootWindow* RootViewController::rootWindow() const
{
    return isViewLoaded() ? dynamic_cast<RootWindow*>(const_cast<RootViewController*>(this)->view()->window()) : nullptr;
}

QLineEdit* RootViewController::searchField() const
{
    RootWindow* window = rootWindow();
    return window ? window->searchFieldWrapper()->searchField() : nullptr;
}

// --- Life cycle

QWidget* RootViewController::loadView()
{
    auto* view = new QWidget;
    view->setAutoFillBackground(true);
    mainSplitView_ = new SplitView(view);
    menuSplitView_ = new SplitView;
    folderContainer_ = new QWidget;
    listContainer_ = new BoxView;
    noteContainer_ = new QWidget;
    for (QWidget* container : {folderContainer_, static_cast<QWidget*>(listContainer_), noteContainer_}) {
        auto* layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    menuSplitView_->addSubview(folderContainer_);
    menuSplitView_->addSubview(listContainer_);
    mainSplitView_->addSubview(menuSplitView_);
    mainSplitView_->addSubview(noteContainer_);
    menuSplitView_->setDelegate(this);
    mainSplitView_->setDelegate(this);
    // Under the window's toolbar strip: a shade between the toolbar and the content scrolling under it.
    toolbar_ = new QLabel(view);
    toolbar_->setScaledContents(true);
    toolbar_->setAttribute(Qt::WA_TransparentForMouseEvents);
    return view;
}

void RootViewController::viewDidLoad()
{
    consoleLog(QStringLiteral("root:viewdidload"));
    warehouse_ = Warehouse::create();
    editingForwarder_ = std::make_shared<EditingForwarder>(this);
    warehouse_->setEditingDelegate(editingForwarder_);
    toolbarState_ = ToolbarShown;
    restoreWindowState();
    restoreStorage();
    showFolder();
    showList();
    showNote([this] { focusEditor(); });
    listenToNotes();
}

void RootViewController::viewWillAppear()
{
    bindWindow();
    applyTheme();
}

void RootViewController::viewDidAppear()
{
    focusEditor();
}

void RootViewController::viewDidLayout()
{
    mainSplitView_->setGeometry(view()->rect());
    toolbar_->setGeometry(0, 0, view()->width(), RootWindow::StripHeight);
}

// The window's parts are reached once the view is in it: the first time it appears.
void RootViewController::bindWindow()
{
    RootWindow* window = rootWindow();
    if (!window || windowBound_)
        return;
    windowBound_ = true;
    window->centralWidget()->setMinimumSize(MinimumSize);
    window->toolbar()->setDelegate(this);
    window->installEventFilter(this);
    QLineEdit* field = searchField();
    field->installEventFilter(this);
    connect(field, &QLineEdit::textEdited, this, &RootViewController::searchTextDidChange);
    if (listController_)
        listController_->setSearchField(field);
    connect(window, &Window::contentLayoutRectChanged, this, [this](const QRect& content) {
        // The editor starts below the toolbar, so neither its text, its scroll bar nor its find bar
        // runs under the toolbar's buttons.
        noteContainer_->layout()->setContentsMargins(0, content.top(), 0, 0);
        layoutToolbar();
    });
    noteContainer_->layout()->setContentsMargins(0, window->contentLayoutRect().top(), 0, 0);
    shareMenu_ = window->shareMenu();
    connect(shareMenu_, &QMenu::aboutToShow, this, &RootViewController::buildShareMenu);
    applyRestoredToolbar();
    if (sidebarHidden_)
        collapseSidebar();
    layoutToolbar();
}

void RootViewController::addActions()
{
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"newDocument:", [this] { newDocument(); }},
        {"deleteNote:", [this] { deleteNote(); }},
        {"archiveNote:", [this] { archiveNote(); }},
        {"restoreNoteToInbox:", [this] { restoreNoteToInbox(); }},
        {"toggleSidebarShown:", [this] { toggleSidebarShown(); }},
        {"openQuickly:", [this] { openQuickly(); }},
        {"search:", [this] { search(); }},
        {"showThemeOptions:", [this] { showThemeOptions(); }},
        {"print:", [this] { print(); }},
        {"printFormatted:", [this] { printFormatted(); }},
        {"exportNote:", [this] { exportNote(); }},
        {"sortNoteByUpdatedOn:", [this] { selectNoteSortOptions(0); }},
        {"sortNoteByCreatedOn:", [this] { selectNoteSortOptions(1); }},
        {"sortNoteByTitle:", [this] { selectNoteSortOptions(2); }},
        {"copyNoteHTML:", [this] { copyNoteHTML(); }},
        {"copyNoteFormattedText:", [this] { copyNoteFormattedText(); }},
        // The item that carries the share submenu.
        {"shareNote:", [] {}},
    };
    for (const auto& [selector, action] : actions)
        addHandler(Selector(selector), [action](QObject*) { action(); });
    addHandler(Selector("shareNoteWithService:"), [this](QObject* sender) {
        if (auto* item = qobject_cast<QAction*>(sender))
            shareNote(item->data().toInt());
    });
}

// --- Panes

void RootViewController::showFolder()
{
    if (folderController_)
        return;
    folderController_ = new FolderViewController(core_, this);
    folderController_->setDelegate(this);
    folderContainer_->layout()->addWidget(folderController_->view());
    folderController_->selectStorage(selectedStorage_, selectedTag_);
}

void RootViewController::showList()
{
    if (listController_)
        return;
    listController_ = new ListViewController(core_, this);
    listController_->setDelegate(this);
    listController_->setSearchField(searchField());
    listContainer_->layout()->addWidget(listController_->view());
    listController_->tableView()->installEventFilter(this);
    // With no note remembered the list's first row is selected, and the editor shows it too.
    listController_->selectStorage(selectedStorage_, selectedTag_, [this, list = listController_, note = selectedNote_](bool) {
        if (!list)
            return;
        list->selectNote(note);
        listLoaded_ = true;
        emit listDidLoad();
    });
}

// Without a remembered note the editor starts a new one, so there is always something to type into.
void RootViewController::showNote(std::function<void()> then)
{
    if (noteController_)
        return then();
    noteController_ = new NoteViewController(this);
    noteController_->setWarehouse(warehouse_);
    noteController_->setDelegate(this);
    noteContainer_->layout()->addWidget(noteController_->view());
    if (!selectedNote_)
        return noteController_->showNote(nullptr, std::move(then));
    noteController_->showNote(selectedNote_, [editor = noteController_, then = std::move(then)] {
        if (!editor)
            return;
        editor->restoreInsertionPoint();
        editor->restoreScrollPosition();
        then();
    });
}

void RootViewController::focusEditor()
{
    if (noteController_)
        noteController_->textView()->setFocus(Qt::OtherFocusReason);
}

bool RootViewController::editorHasFocus() const
{
    return noteController_ && QApplication::focusWidget() == noteController_->textView();
}

// --- Theme

void RootViewController::applyTheme()
{
    const ThemeID theme = core_.colorTheme();
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, toQColor(Themeset::backgroundColorForTheme(theme)));
    view()->setPalette(palette);
    const QColor menuBackground = toQColor(Themeset::menuBackgroundColorForTheme(theme));
    listContainer_->setBackgroundColor(menuBackground);
    for (SplitView* split : {mainSplitView_, menuSplitView_})
        split->setDividerColor(menuBackground.darker(115));
    RootWindow* window = rootWindow();
    if (!window)
        return;
    window->applyTheme(theme, sidebarHidden_);
    toolbar_->setPixmap(Image::named(Themeset::resourceNameForTheme(theme) + QStringLiteral("-topbar"), window->devicePixelRatioF()));
    SearchFieldWrapper* wrapper = window->searchFieldWrapper();
    wrapper->setBackgroundColor(menuBackground);
    wrapper->searchIcon()->setPixmap(
        Image::named(Themeset::resourceNameForTheme(theme) + QStringLiteral("-search"), window->devicePixelRatioF()));
    wrapper->setTextColor(toQColor(Themeset::menuColorForTheme(theme)));
    QPalette field = wrapper->searchField()->palette();
    field.setColor(QPalette::Base, Qt::transparent);
    wrapper->searchField()->setPalette(field);
}

void RootViewController::reloadSideBarButton()
{
    if (RootWindow* window = rootWindow())
        window->applyTheme(core_.colorTheme(), sidebarHidden_);
}

// The sidebar is rebuilt rather than restyled: its cells carry the theme in many places.
void RootViewController::reloadTheme()
{
    applyTheme();
    listContainer_->update();
    if (noteController_)
        noteController_->reloadTheme();
    if (listController_)
        listController_->reloadTheme();
    if (quickOpenController_)
        quickOpenController_->reloadTheme();
    if (folderController_) {
        delete folderController_.data();
        showFolder();
    }
    if (QWidget* window = view()->window())
        window->update();
}

// The list, the sidebar and quick open write in the menu typeface, whatever the setting.
void RootViewController::reloadTypeFace()
{
    if (noteController_)
        noteController_->reloadTypeFace();
}

void RootViewController::themeControllerDidSelectTheme(ThemeViewController&, ThemeID theme)
{
    core_.setColorTheme(theme);
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(theme, QStringLiteral("theme"));
    defaults.synchronize();
    reloadTheme();
}

void RootViewController::themeControllerDidSelectTypeFace(ThemeViewController&, TypefaceID typeface)
{
    core_.setTypeFace(typeface);
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(typeface, QStringLiteral("typeface"));
    defaults.synchronize();
    reloadTypeFace();
}

void RootViewController::themeControllerDidTapSmallerFontSize(ThemeViewController&)
{
    if (noteController_)
        noteController_->useSmallerTypeSizeOffset();
}

void RootViewController::themeControllerDidTapLargerFontSize(ThemeViewController&)
{
    if (noteController_)
        noteController_->useLargerTypeSizeOffset();
}

// In full screen the popover hangs from the top edge of the window under the theme button.
void RootViewController::showThemeOptions()
{
    RootWindow* window = rootWindow();
    if (!window)
        return;
    if (popOverController_)
        popOverController_->close();
    auto* popover = new Popover(window);
    popover->setAttribute(Qt::WA_DeleteOnClose);
    auto* controller = new ThemeViewController;
    controller->setDelegate(this);
    popover->setContentViewController(controller);
    popover->setContentSize(ThemeViewController::ContentSize);
    connect(popover, &Popover::didClose, this, [this] {
        if (isFullscreen_)
            focusEditor();
        popOverController_.clear();
    });
    QWidget* button = window->themeButton();
    if (!isFullScreen()) {
        popover->show(button->rect(), button, Popover::Edge::Bottom);
    } else {
        // The top of the root view, which starts below the window's own top.
        const QRect inRoot(view()->mapFrom(window, button->mapTo(window, QPoint(0, 0))), button->size());
        popover->show(QRect(inRoot.x(), 0, inRoot.width(), 50), view(), Popover::Edge::Bottom);
    }
    popOverController_ = popover;
}

// --- Toolbar fade

namespace {

struct Fade {
    double theme, create, sidebar, strip;
};

} // namespace

bool RootViewController::fadeOutToolbarIfPossible()
{
    if (toolbarState_ == ToolbarFadedOut || isFullscreen_ || popOverController_ || !sidebarHidden_)
        return false;
    return fadeOutToolbar();
}

bool RootViewController::fadeInToolbarIfPossible()
{
    if (toolbarState_ == ToolbarShown || toolbarState_ == ToolbarFullScreen)
        return false;
    return fadeInToolbar();
}

void RootViewController::toolbarViewMouseDidEnter(ToolbarView&)
{
    fadeInToolbarIfPossible();
}

namespace {

void runFade(RootWindow* window, QWidget* strip, const Fade& fade, std::function<void()> after)
{
    if (!window)
        return;
    AnimationContext::runGroup(
        RootViewController::FadeDuration,
        [window, strip, fade](AnimationContext& context) {
            context.setAlpha(window->themeButton(), fade.theme);
            context.setAlpha(window->createNoteButton(), fade.create);
            context.setAlpha(window->toggleSideBarButton(), fade.sidebar);
            context.setAlpha(strip, fade.strip);
            // The search field rides on the window's strip, which is not faded itself: fading it would
            // nest opacity effects, which Qt does not draw again once undone.
            context.setAlpha(window->listToolbarItem(), fade.strip);
        },
        std::move(after));
}

} // namespace

bool RootViewController::fadeOutToolbar()
{
    if (toolbarState_ == ToolbarFadedOut)
        return false;
    toolbarState_ = ToolbarFadedOut;
    runFade(rootWindow(), toolbar_, {0, 0, 0, 0}, {});
    return true;
}

bool RootViewController::fadeInToolbar()
{
    if (toolbarState_ == ToolbarShown)
        return false;
    toolbarState_ = ToolbarShown;
    if (RootWindow* window = rootWindow()) {
        window->toggleSideBarButton()->show();
        window->themeButton()->show();
    }
    runFade(rootWindow(), toolbar_, {1, 1, 1, 1}, {});
    return true;
}

bool RootViewController::fadeInToolbarFullscreen()
{
    if (toolbarState_ == ToolbarFullScreen)
        return false;
    toolbarState_ = ToolbarFullScreen;
    // The window can outlive this controller (a new content controller replaces it).
    runFade(rootWindow(), toolbar_, {0, 1, 0, 1}, [window = QPointer(rootWindow()), self = QPointer(this)] {
        if (window && self && self->toolbarState_ == ToolbarFullScreen) {
            window->toggleSideBarButton()->hide();
            window->themeButton()->hide();
        }
    });
    return true;
}

// --- Sidebar and full screen

void RootViewController::showSidebar()
{
    sidebarHidden_ = false;
    fadeInToolbarIfPossible();
    mainSplitView_->setPosition(int(listWidth_ + folderWidth_ + 1), 0);
    reloadSideBarButton();
}

void RootViewController::hideSidebar()
{
    sidebarHidden_ = true;
    collapseSidebar();
}

void RootViewController::collapseSidebar()
{
    mainSplitView_->setPosition(0, 0);
    reloadSideBarButton();
}

void RootViewController::toggleSidebarShown()
{
    reloadWindowState();
    sidebarHidden_ ? showSidebar() : hideSidebar();
    if (QWidget* window = view()->window())
        window->update();
}

bool RootViewController::isFullScreen() const
{
    const QWidget* window = isViewLoaded() ? const_cast<RootViewController*>(this)->view()->window() : nullptr;
    return isFullscreen_ || (window && window->isFullScreen());
}

void RootViewController::windowWillEnterFullScreen()
{
    isFullscreen_ = true;
    collapseSidebar();
}

void RootViewController::windowDidEnterFullScreen()
{
    fadeInToolbarFullscreen();
}

void RootViewController::windowWillExitFullScreen()
{
    isFullscreen_ = false;
    fadeInToolbar();
    if (!sidebarHidden_)
        showSidebar();
}

// --- Quit

// A cloud wait that never ends must not leave a hidden process behind: after QuitWaitTimeout the
// application ends anyway.
void RootViewController::terminateApp()
{
    quitDeadline_ = DispatchTime::now() + QuitWaitTimeout;
    // Notes that still cannot be saved are named first, and the user decides.
    noteController_->applicationShouldTerminate([self = QPointer(this)] {
        if (self)
            self->terminateAfterSaving();
    });
}

void RootViewController::terminateAfterSaving()
{
    if (QWidget* window = view()->window())
        window->hide();
    auto finished = std::make_shared<bool>(false);
    auto finish = [self = QPointer(this), finished](bool timedOut) {
        if (std::exchange(*finished, true))
            return;
        if (timedOut)
            LogError("root:cloud wait timed out");
        LogInfo("root:terminated!");
        if (!self)
            return;
        self->rememberEditingNote();
        if (self->terminate_)
            self->terminate_();
    };
    DispatchQueue::main()->after(std::max(0.0, quitDeadline_ - DispatchTime::now()), [finish] { finish(true); });
    noteController_->applicationWillTerminateUsingBlock([fileQueue = core_.fileQueue(), cloud = core_.appleCloud(), finish] {
        fileQueue->async([cloud, finish] {
            cloud->wait([finish] { DispatchQueue::main()->async([finish] { finish(false); }); });
        });
    });
}

// A new note takes its readable name only with the commit, on the file queue: the name is remembered
// once the commit's block has run.
void RootViewController::applicationWillTerminate()
{
    encodeRestorableState();
    auto committed = std::make_shared<std::atomic<bool>>(false);
    noteController_->applicationWillTerminateUsingBlock([committed] { *committed = true; });
    // The local files are written when the commit returns; its cloud save has what is left of the wait.
    const double wait = quitDeadline_ < 0 ? QuitWaitTimeout : std::max(0.0, quitDeadline_ - DispatchTime::now());
    DispatchQueue::runMainUntil([&] { return committed->load(); }, wait);
    rememberEditingNote();
}

void RootViewController::rememberEditingNote()
{
    if (const NotePtr note = warehouse_->editingNote(); note && !note->key().isEmpty()) {
        selectedNote_ = note;
        commitNoteStorage();
    }
}
