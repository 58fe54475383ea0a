#pragma once

#include "kit/Popover.h"
#include "kit/SplitView.h"
#include "kit/ViewController.h"
#include "panes/FolderViewController.h"
#include "panes/ListViewController.h"
#include "panes/NoteViewController.h"
#include "panes/QuickOpenViewController.h"
#include "theme/ThemeViewController.h"
#include "views/PlainViews.h"
#include "views/ToolbarView.h"

#include "Store/Note.h"
#include "Store/NoteStorageListener.h"
#include "Store/Warehouse.h"

#include <QMenu>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Core;
class MenuItem;
class QLabel;
class QLineEdit;
class RootWindow;
class UserDefaults;

// The main window's content: the sidebar (folder and list panes) and the editor in two split views,
// the toolbar in the theme, its fade while the user types, the sidebar and full screen, the theme
// popover, the selection and the toolbar search, quick open, the note commands and the quit sequence.
// The delegate of every pane, of the editing session and of the theme popover; it hears the note events.
// Everything but the note events belongs to the main thread.
class RootViewController : public ViewController,
                           public ListViewControllerDelegate,
                           public FolderViewControllerDelegate,
                           public NoteViewControllerDelegate,
                           public QuickOpenViewControllerDelegate,
                           public ToolbarViewDelegate,
                           public ThemeViewControllerDelegate,
                           public SplitViewDelegate {
    Q_OBJECT
public:
    enum ToolbarState : int64_t { ToolbarShown = 0, ToolbarFadedOut = 1, ToolbarFullScreen = 2 };
    static constexpr double FadeDuration = 0.6;
    static constexpr double ResizeSettleDelay = 0.2;
    // How long quitting waits, from the quit command, for the cloud work to drain. The notes are
    // saved first whatever that takes; what is not sent by then goes at the next start.
    static constexpr double QuitWaitTimeout = 1.0;
    // Small enough for any screen, large enough that no pane or toolbar item gets a negative width.
    static constexpr QSize MinimumSize{240, 200};
    // Files opened from outside are read whole: larger ones are refused.
    static constexpr qint64 OpenFileSizeLimit = 64LL * 1024 * 1024;

    explicit RootViewController(Core& core, QObject* parent = nullptr);
    ~RootViewController() override;

    // --- From the application delegate
    // Hides the window, commits the edited note, waits for the cloud work (until QuitWaitTimeout
    // seconds after the call), logs "root:terminated!" and ends the application; first, with notes
    // that could not be saved, asks whether to quit.
    void terminateApp();
    // Commits the note being edited at once; waits for its cloud save no longer than the quit's wait.
    void applicationWillTerminate();
    // What ends the application at the end of terminateApp(); QCoreApplication::quit by default.
    void setTerminate(std::function<void()> terminate) { terminate_ = std::move(terminate); }
    void windowWillEnterFullScreen();
    void windowDidEnterFullScreen();
    void windowWillExitFullScreen();
    void windowDidExitFullScreen() {}
    // Selects a note of the same name and text, or imports the file as a new inbox note. False, with
    // an alert, for what is no readable regular file of at most OpenFileSizeLimit bytes.
    bool openFile(const QString& path);
    void openQuickly() { showOpenQuickly(std::nullopt); }
    void showOpenQuickly(const std::optional<QString>& query);
    void hideQuickOpen();
    void showThemeOptions();

    // --- Selection and search (also the URL handler's)
    // Storage 1 or 2 with no tag, 4 or 5 with a tag; remembered at once.
    void selectStorage(int storage, const QString& tag);
    bool isSelectedStorage(int storage, const QString& tag) const;
    // Puts the text into the search field and searches the list; "" clears the search.
    void queryNote(const QString& text);
    int selectedStorage() const { return selectedStorage_; }
    const QString& selectedTag() const { return selectedTag_; }
    const NotePtr& selectedNote() const { return selectedNote_; }

    // --- Window state
    // Reads the real sidebar and toolbar state and pane widths, then writes them to the user defaults.
    void encodeRestorableState();
    void invalidateRestorableState() { encodeRestorableState(); }
    bool isFullScreen() const;
    bool isSidebarHidden() const { return sidebarHidden_; }
    double folderWidth() const { return folderWidth_; }
    double listWidth() const { return listWidth_; }
    void showSidebar();
    void hideSidebar();
    void toggleSidebarShown();

    // --- Toolbar fade; each answers whether it started an animation.
    bool fadeOutToolbarIfPossible();
    bool fadeInToolbarIfPossible();
    ToolbarState toolbarState() const { return toolbarState_; }

    // --- Theme
    void reloadTheme();
    void reloadTypeFace();

    // --- Note commands
    void newDocument();
    void deleteNote();
    void archiveNote();
    void restoreNoteToInbox();
    // 0 updated, 1 created, 2 title; the order in use changes nothing.
    void selectNoteSortOptions(int64_t option);
    void copyNoteHTML();
    void copyNoteFormattedText();
    void print();
    void printFormatted();
    void exportNote();
    void search();
    // Asks before deleting the note; the completion (may be empty) gets whether it was deleted.
    void deleteNoteWithConfirmation(const NotePtr& note, std::function<void(bool deleted)> completion);
    void moveNoteToStorage(const NotePtr& note, int storage);
    bool validateMenuItem(MenuItem& item) override;

    // --- Parts
    const std::shared_ptr<Warehouse>& warehouse() const { return warehouse_; }
    NoteViewController* noteController() const { return noteController_; }
    ListViewController* listController() const { return listController_; }
    FolderViewController* folderController() const { return folderController_; }
    QuickOpenViewController* quickOpenController() const { return quickOpenController_; }
    Popover* popOverController() const { return popOverController_; }
    SplitView* mainSplitView() const { return mainSplitView_; }
    SplitView* menuSplitView() const { return menuSplitView_; }
    QWidget* noteContainer() const { return noteContainer_; }
    // The image strip under the window's toolbar; it fades with the toolbar buttons and stays in full screen.
    QLabel* toolbar() const { return toolbar_; }
    // True once the list has loaded its rows for the first time.
    bool hasLoadedList() const { return listLoaded_; }
    RootWindow* rootWindow() const;
    QLineEdit* searchField() const;

    // --- Delegates
    void listControllerDidSelectNote(ListViewController& controller, const NotePtr& note) override;
    void listControllerDidTapArchiveNote(ListViewController& controller, const NotePtr& note) override;
    void listControllerDidTapDeleteNote(ListViewController& controller, const NotePtr& note) override;
    void listControllerDidTapRestoreNote(ListViewController& controller, const NotePtr& note) override;
    QString listControllerEditingText(ListViewController& controller) override;
    bool listControllerIsEditingNote(ListViewController& controller, const NotePtr& note) override;
    void folderControllerDidSelectStorage(FolderViewController& controller, int storage, const QString& tag) override;
    bool folderControllerDidKeyDown(FolderViewController& controller, const KeyEvent& event) override;
    int storageForNewNote(NoteViewController& controller) override;
    QString textForNewNote(NoteViewController& controller) override;
    void noteControllerNoteDidOpen(NoteViewController& controller, const NotePtr& note) override;
    bool noteControllerDidKeyDown(NoteViewController& controller, const QKeyEvent& event) override;
    void noteControllerDidBecomeFirstResponder(NoteViewController& controller) override;
    void noteControllerDidResignFirstResponder(NoteViewController& controller) override;
    void quickOpenWantDismiss(QuickOpenViewController& panel) override;
    void quickOpenDidSelectNote(QuickOpenViewController& panel, const NotePtr& note) override;
    void quickOpenDidSelectStorage(QuickOpenViewController& panel, int storage, const QString& tag) override;
    void quickOpenDidEnterCommand(QuickOpenViewController& panel, const QString& command) override;
    QWidget* containerViewForQuickOpen(QuickOpenViewController& panel) override;
    void toolbarViewMouseDidEnter(ToolbarView& view) override;
    void toolbarViewMouseDidExit(ToolbarView&) override {}
    void themeControllerDidSelectTheme(ThemeViewController& controller, ThemeID theme) override;
    void themeControllerDidSelectTypeFace(ThemeViewController& controller, TypefaceID typeface) override;
    void themeControllerDidTapSmallerFontSize(ThemeViewController& controller) override;
    void themeControllerDidTapLargerFontSize(ThemeViewController& controller) override;
    void splitViewResizeSubviewsWithOldSize(SplitView& view, const QSize& oldSize) override;
    void splitViewDidResizeSubviews(SplitView& view) override;

signals:
    // The list's first load after start-up has ended.
    void listDidLoad();

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewDidLayout() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Listener;
    class EditingForwarder;
    friend class Listener;
    friend class EditingForwarder;

    // Life cycle and panes
    void showFolder();
    void showList();
    void showNote(std::function<void()> then);
    void addActions();
    void bindWindow();
    void focusEditor();
    bool editorHasFocus() const;
    // The edited note, under the name its last commit gave it, is the one to reopen.
    void rememberEditingNote();
    // Theme, toolbar, sidebar, full screen
    void applyTheme();
    void reloadSideBarButton();
    bool fadeOutToolbar();
    bool fadeInToolbar();
    bool fadeInToolbarFullscreen();
    void collapseSidebar();
    // Sizing and window state
    void layoutMenuSplit(const QSize& oldSize);
    void layoutToolbar();
    void reloadWindowState();
    void restoreWindowState();
    void applyRestoredToolbar();
    void splitViewDidEndResizeSubviews();
    // Selection and search
    void restoreStorage();
    void commitFolderStorage();
    void commitNoteStorage();
    void searchTextDidChange(const QString& query);
    // The search field's commands; true when handled.
    bool searchFieldCommand(int key, Qt::KeyboardModifiers modifiers);
    void showStorageThen(int storage, const QString& tag, std::function<void()> then);
    void openFromQuickOpen(const NotePtr& note, const QString& query);
    // Selects the note in the list; when the list does not show it, the sidebar first switches to the
    // note's storage with no tag. Then runs the block.
    void revealNote(const NotePtr& note, std::function<void()> then);
    void listenToNotes();
    // Note events, on the main queue in the order they were sent.
    void noteDidDelete(const NotePtr& note, int storage, const QString& tag);
    void noteDidMove(const NotePtr& before, const NotePtr& after);
    // The quit itself, once nothing unsaved stands in its way.
    void terminateAfterSaving();
    // Note commands
    NotePtr commandNote() const;
    void prepareNoteForMoveOrDelete(const NotePtr& note, std::function<void(const NotePtr&)> block);
    QString editorText() const;
    // Selects the note in the list and shows it; with reveal, a note the list does not show switches the
    // sidebar to its storage first. A new note from outside is shown wherever the list stands.
    void showOpenedFile(const NotePtr& note, bool reveal);
    void importFile(const QString& text);
    void buildShareMenu();
    void shareNote(int service);

    Core& core_;
    double listWidth_ = 200;
    double folderWidth_ = 120;
    bool isFullscreen_ = false;
    bool sidebarHidden_ = false;
    bool toolbarHidden_ = false;
    bool isRestoringWindowState_ = false;
    bool windowBound_ = false;
    bool listLoaded_ = false;
    ToolbarState toolbarState_ = ToolbarShown;
    std::shared_ptr<Warehouse> warehouse_;
    std::shared_ptr<EditingForwarder> editingForwarder_;
    NoteStorageListenerPtr listener_;
    int selectedStorage_ = 0;
    QString selectedTag_;
    NotePtr selectedNote_;
    SplitView* mainSplitView_ = nullptr;
    SplitView* menuSplitView_ = nullptr;
    QWidget* folderContainer_ = nullptr;
    BoxView* listContainer_ = nullptr;
    QWidget* noteContainer_ = nullptr;
    QLabel* toolbar_ = nullptr;
    QPointer<NoteViewController> noteController_;
    QPointer<ListViewController> listController_;
    QPointer<FolderViewController> folderController_;
    QPointer<QuickOpenViewController> quickOpenController_;
    QPointer<Popover> popOverController_;
    QPointer<QMenu> shareMenu_;
    DispatchHandle settle_;
    std::function<void()> terminate_;
    // Dispatch time at which the quit's wait ends; negative before a quit.
    double quitDeadline_ = -1;
};
