#pragma once

#include "kit/ViewController.h"
#include "panes/ListEntryCell.h"
#include "panes/ListScrollView.h"
#include "panes/ListTitleCache.h"
#include "panes/TableBridge.h"

#include "Snippets/SnippetFormatter.h"
#include "Store/ListItem.h"
#include "Store/Note.h"

#include "Dispatch.h"
#include "files/FileDates.h"

#include <QByteArray>
#include <QList>

#include <deque>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Core;
class ListGestures;
class ListViewController;
class QLabel;

class ListViewControllerDelegate {
public:
    virtual ~ListViewControllerDelegate() = default;
    // A fresh note made from the row.
    virtual void listControllerDidSelectNote(ListViewController& controller, const NotePtr& note) = 0;
    virtual void listControllerDidTapArchiveNote(ListViewController& controller, const NotePtr& note) = 0;
    virtual void listControllerDidTapDeleteNote(ListViewController& controller, const NotePtr& note) = 0;
    virtual void listControllerDidTapRestoreNote(ListViewController& controller, const NotePtr& note) = 0;
    // The editor's current text; only its first LiveEditRead units are read, and need be given.
    virtual QString listControllerEditingText(ListViewController& controller) = 0;
    // Whether the note is being edited with the editor's keyboard focus.
    virtual bool listControllerIsEditingNote(ListViewController&, const NotePtr&) { return false; }
    // The left arrow, as 0xF702; the main window takes it for nothing yet.
    virtual void listControllerDidPressTriggerKey(ListViewController&, int) {}
};

using ListItems = QList<ListItemPtr>;

// The middle pane: the notes of a storage, a tag (its inbox notes, then its archived ones under a
// header) or a search, in sections 1 and 2 of a bridged table (section 0 is one blank row). Rows are
// loaded on the file queue, sorted by the core's sort option and installed on the main queue; note
// events and the editor's typing change single rows. Every field belongs to the main thread.
class ListViewController : public ViewController,
                           public TableBridgeDelegate,
                           public ListEntryCellDelegate,
                           public ListScrollViewDelegate {
    Q_OBJECT
public:
    enum Section : int64_t { Blank, Notes, Archived };
    static constexpr double BaseRowHeight = 96;
    static constexpr double ArchiveHeaderHeight = 48;
    // Of the editor's text, the live row is built from this much: a title and summary take far less,
    // and a cut inside a long line keeps the part of it they show.
    static constexpr qsizetype LiveEditPrefix = 8192;
    // How much of its text the editor hands the list.
    static constexpr qsizetype LiveEditRead = LiveEditPrefix;
    static constexpr size_t StyledRowsKept = 200;

    using Completion = std::function<void(bool reloaded)>;

    explicit ListViewController(Core& core, QObject* parent = nullptr);
    ~ListViewController() override;

    // Not owned.
    void setDelegate(ListViewControllerDelegate* delegate) { delegate_ = delegate; }
    // The window's search field, or null; while it shows, it takes the keys of a list reached by a
    // click on a row or by Tab or Shift-Tab.
    void setSearchField(QWidget* field) { searchField_ = field; }
    // Archive (3) and restore (0) sounds; the core's by default.
    void setSoundPlayer(std::function<void(int)> play) { playSound_ = std::move(play); }
    ListGestures* gestures() const { return gestures_; }

    // A storage below 1 lists the inbox.
    void selectStorage(int storage, const QString& tag, Completion completion = {});
    // The same text again: the completion gets false and nothing reloads.
    void searchNote(const QString& query, Completion completion = {});
    // Asked during a reload, one more runs when it ends with the latest storage, tag and query; every
    // completion is called once: the latest with true once its rows show, those it supersedes with false.
    void reloadList(Completion completion = {});
    void reloadTheme();

    // Null selects the first row. False when no row was selected.
    bool selectNote(const NotePtr& note);
    // The note the window shows: its row keeps the highlight, in view, through reloads, re-sorts,
    // insertions and removals; while it has no row, no row is highlighted. The delegate hears of no
    // other note.
    void followNote(const NotePtr& note);
    bool selectNextNote();
    bool selectPreviousNote();
    void selectNone();
    void highlightSelectedNote();
    void hideShowingListEntryOptions();
    // The editor changed the note: its row follows the text.
    void noteDidEditingText(const NotePtr& note);
    // The title and snippet of an edited row, built on the live-edit queue from the editor's text; a
    // throw is logged and leaves the row as it was.
    using LiveRow = std::pair<QString, std::shared_ptr<const AttributedString>>;
    using LiveRowBuilder = std::function<LiveRow(const SnippetFormatter& formatter, const QString& text)>;
    static LiveRow buildLiveRow(const SnippetFormatter& formatter, const QString& text);
    void setLiveRowBuilder(LiveRowBuilder builder) { liveRowBuilder_ = std::move(builder); }
    // The main window passes every deletion here.
    void noteDidDelete(const NotePtr& note, int storage, const QString& tag);

    const ListItems& items() const { return items_; }
    const ListItems& archivedItems() const { return archivedItems_; }
    const NotePtr& selectedNote() const { return selectedNote_; }
    int selectedStorage() const { return storage_; }
    TableView* tableView() const { return tableView_; }
    TableBridge* tableBridge() const { return bridge_; }
    QLabel* shortEmptyLabel() const { return shortEmptyLabel_; }
    QLabel* longEmptyLabel() const { return longEmptyLabel_; }
    QWidget* emptyView() const { return emptyView_; }
    QLabel* shadowView() const { return shadowView_; }
    const DispatchQueuePtr& editQueue() const { return editQueue_; }

    // The names a folder's listing gave, each ending in NUL, in the listing's order, with the kinds it
    // gave; and the folder's version before it was listed, when that vouches for the listing until the
    // version changes: the folder had settled (FileDates::isSettled) on a file system that
    // keepsFolderChanges.
    struct ListedNames {
        QByteArray names;
        std::vector<qsizetype> offsets;
        std::vector<unsigned char> types;
        std::optional<FileDates::Version> settledFolder;
    };
    // The rows of a directory's regular files with safe names, dated from the notes' text files: the
    // creation date only for the sort option 1 that orders by it (it costs another look per file);
    // with titles, each row's title read as soon as it is dated, and with titleKeys its order key
    // (appendTitleOrderKey) made, at the row's index. With last, the rows of the names it holds (the
    // folder's last listing) are made while the folder is read again, or instead of reading it when
    // the folder's version is the one its listing settled at; it ends holding this listing.
    static ListItems importDirectory(const QString& directory, int storage, int64_t option,
                                     ListTitleReader* titles = nullptr,
                                     std::vector<std::string>* titleKeys = nullptr, ListedNames* last = nullptr);
    // Stable, by the sort option: 1 newest created first, 2 title ignoring case, else newest modified;
    // with tiesByLatestChange, of rows equal by the option (dates are whole seconds) the note whose
    // file changed last comes first.
    static void sortListItems(ListItems& items, int64_t option, bool tiesByLatestChange = false);
    // Appends the title folded as the case-insensitive comparison of titles folds it, letter by letter
    // (a surrogate pair's second half as the whole letter): keys order as their titles compare.
    static void appendTitleOrderKey(const QString& title, std::string& key);
    // The "A R C H I V E" header, or an empty one in the list's colour.
    static QWidget* archiveHeader(TableView& table, bool archive, ThemeID theme);

    // TableBridgeDelegate
    int64_t numberOfSectionsInTableView(TableView&) override { return 3; }
    int64_t tableViewNumberOfRowsInSection(TableView& table, int64_t section) override;
    QWidget* tableViewRowViewForRow(TableView& table, int64_t row, int64_t section) override;
    QWidget* tableViewHeaderViewForSection(TableView& table, int64_t section) override;
    bool tableViewShouldSelectRow(TableView&, int64_t, int64_t section) override { return section != Blank; }
    double tableViewHeightForRow(TableView& table, int64_t row, int64_t section) override;
    double tableViewHeightForHeaderInSection(TableView& table, int64_t section) override;
    void tableViewDidSelectRow(TableView& table, int64_t row, int64_t section) override;

    // ListEntryCellDelegate
    void listEntryDidTouchDown(ListEntryCell& cell) override;
    void listEntryDidShowOptions(ListEntryCell& cell) override;
    void listEntryDidSwipeAction(ListEntryCell& cell, const QString& key, int storage) override;
    void listEntryDidTapOption(ListEntryCell& cell, int index) override;
    bool listEntryWillPan(ListEntryCell&) override { return true; }
    QColor backgroundColorForListEntry(const ListEntryCell& cell) override;

    // ListScrollViewDelegate
    bool listScrollViewShouldScroll(ListScrollView& view, const QWheelEvent& event) override;
    bool listScrollViewDidKeyDown(ListScrollView& view, const QKeyEvent& event) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidLayout() override;

private:
    class Listener;
    struct Loaded {
        ListItems items;
        ListItems archived;
    };

    // A row stands for a note of the same storage and key.
    static bool stands(const ListItem& item, const QString& key, int storage);
    static NotePtr noteOf(const ListItem& item);
    static bool sortsBefore(const ListItem& a, const ListItem& b, int64_t option);
    // sortListItems by title, each row's order key given at its index.
    static void sortByTitleKeys(ListItems& items, const std::vector<std::string>& keys, bool tiesByLatestChange);
    Loaded load(int storage, const QString& tag, const QString& query) const;
    // The storage's kept titles; on the file queue.
    ListTitleCache& titleCache(int storage) const;
    void showRows(Loaded loaded, Completion completion);
    void reloadEmptyView();
    void reloadEmptyTexts();
    void dressCell(ListEntryCell& cell, const ListItemPtr& item);
    void restoreText(const ListItemPtr& item);
    void showText(ListEntryCell& cell, const ListItem& item);
    ListItems* listOf(int64_t section);
    ListItemPtr itemAt(int64_t row, int64_t section) const;
    // The (row, section) of the note's row, searched from the last row; section 1 first.
    std::optional<IndexPath> find(const QString& key, int storage) const;
    void select(int64_t row, int64_t section);
    // The selected note's row takes the highlight, or no row does.
    void highlightSelectedRow();
    ListEntryCell* listEntryCellFromPoint(QPoint point) const;
    void listDidTap(QPoint point);
    // Sorts the list by the sort option with the changed row first among its equals (it changed
    // last); the row's index.
    int64_t placeRow(ListItems& list, const ListItemPtr& item) const;
    // Gives the note's row its new title, text and date, as a plain note row, and in a list that is
    // not a search moves it where the sort option wants it; the row's index.
    int64_t changeRow(IndexPath at, const QString& title, std::shared_ptr<const AttributedString> text, int64_t updatedOn);
    // Places the row at index anew and moves it there with an animation; the row's new index.
    int64_t sortAndMove(int64_t index, int64_t section);
    double rowHeight() const;
    ThemeID theme() const;
    // How far the window's toolbar strip reaches down over the pane.
    int stripOverlap();

    // Note events, on the main queue; held back while a reload runs.
    void whenLoaded(std::function<void()> event);
    void remoteUpdate(const NotePtr& note);
    void added(const NotePtr& note, int storage, const QString& tag);
    void moved(const NotePtr& before, const NotePtr& after, bool done);
    bool takesEvent(int storage, const QString& tag) const;

    // Live edits.
    void startEditPass(const NotePtr& note);
    void applyEdit(const NotePtr& note, const QString& title, std::shared_ptr<const AttributedString> text);

    Core& core_;
    ListViewControllerDelegate* delegate_ = nullptr;
    std::shared_ptr<Listener> listener_;
    std::shared_ptr<SnippetFormatter> formatter_;
    DispatchQueuePtr editQueue_;
    TableView* tableView_ = nullptr;
    TableBridge* bridge_ = nullptr;
    QWidget* emptyView_ = nullptr;
    QLabel* shortEmptyLabel_ = nullptr;
    QLabel* longEmptyLabel_ = nullptr;
    bool longShowing_ = true;
    QLabel* shadowView_ = nullptr;
    QPointer<ListEntryCell> showingOptions_;
    ListGestures* gestures_ = nullptr;
    QPointer<QWidget> searchField_;
    std::function<void(int)> playSound_;
    QMetaObject::Connection layoutRectConnection_;

    ListItems items_;
    ListItems archivedItems_;
    int storage_ = NoteStorageInbox;
    QString tag_;
    QString query_;
    NotePtr selectedNote_;
    bool loaded_ = false;
    double rowHeightDelta_ = 0;

    bool reloading_ = false;
    bool reloadAgain_ = false;
    Completion pendingCompletion_;
    QList<std::function<void()>> heldEvents_;
    std::deque<std::weak_ptr<ListItem>> styled_;

    // Each storage's, on the file queue only.
    mutable std::map<int, ListTitleCache> titleCaches_;
    mutable std::map<int, ListedNames> listedNames_;

    LiveRowBuilder liveRowBuilder_ = &ListViewController::buildLiveRow;
    bool editing_ = false;
    uint64_t editKey_ = 0;
};
