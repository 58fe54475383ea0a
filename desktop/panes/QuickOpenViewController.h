#pragma once

#include "kit/ViewController.h"
#include "panes/ListEntryCell.h"
#include "panes/SearchFieldWrapper.h"
#include "panes/TableBridge.h"
#include "panes/TagNameCache.h"

#include "Snippets/SnippetFormatter.h"
#include "Store/ListItem.h"
#include "Store/Note.h"

#include <QList>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class Core;
class QProgressBar;
class QToolButton;
class QuickOpenViewController;

class QuickOpenViewControllerDelegate {
public:
    virtual ~QuickOpenViewControllerDelegate() = default;
    // The owner hides the panel in each of these.
    virtual void quickOpenWantDismiss(QuickOpenViewController& panel) = 0;
    // A fresh note made from the row.
    virtual void quickOpenDidSelectNote(QuickOpenViewController& panel, const NotePtr& note) = 0;
    // A storage (1, 2) with an empty tag, or a tag kind (4, 5) with the tag.
    virtual void quickOpenDidSelectStorage(QuickOpenViewController& panel, int storage, const QString& tag) = 0;
    // The whole query, ":" first.
    virtual void quickOpenDidEnterCommand(QuickOpenViewController& panel, const QString& command) = 0;
    // The panel is centred over this view.
    virtual QWidget* containerViewForQuickOpen(QuickOpenViewController& panel) = 0;
};

using ListItems = QList<ListItemPtr>;

// A search field over a results table, laid as a child over the window's content: tags, mentions or
// the storages (section 0), notes found outside the archive (1) and in it (2). Searches run on the
// file queue; one asked for while another runs is run after it with the field's latest text.
class QuickOpenViewController : public ViewController, public TableBridgeDelegate, public ListEntryCellDelegate {
    Q_OBJECT
public:
    enum Section : int64_t { Tags, Notes, Archived };
    enum State : int64_t { Preset = 0, Searching = 1, Shown = 2 };
    static constexpr double TagRowHeight = 52;
    static constexpr double NoteRowHeight = 96;
    static constexpr double FieldHeight = 48;
    static constexpr double ArchiveHeaderHeight = 20;

    using Completion = std::function<void(bool reloaded)>;

    explicit QuickOpenViewController(Core& core, QObject* parent = nullptr);
    ~QuickOpenViewController() override;

    // Not owned.
    void setDelegate(QuickOpenViewControllerDelegate* delegate) { delegate_ = delegate; }

    // Each time the owner shows the panel: the focus moves to the field; a query replaces its text
    // without searching, none keeps the text and the last results.
    void showQuickOpen(const std::optional<QString>& query = std::nullopt);
    void reloadList(Completion completion = {});
    void selectNextNote();
    void selectPreviousNote();
    // Null selects the first row of the first section with rows; a note its row in sections 1 or 2.
    void selectNote(const NotePtr& note);
    QString searchQuery() const;
    void restoreFirstResponder();
    void cancelOperation();
    void reloadTheme();
    void resizeToFit();

    State state() const { return state_; }
    const ListItems& tags() const { return tags_; }
    const ListItems& items() const { return items_; }
    const ListItems& archivedItems() const { return archivedItems_; }
    SearchFieldWrapper* searchFieldWrapper() const { return wrapper_; }
    TableView* tableView() const { return tableView_; }
    TableBridge* tableBridge() const { return bridge_; }
    QProgressBar* progressIndicator() const { return progress_; }
    ListItemPtr listItemForRow(int64_t row, int64_t section) const;

    // TableBridgeDelegate
    int64_t numberOfSectionsInTableView(TableView&) override { return 3; }
    int64_t tableViewNumberOfRowsInSection(TableView& table, int64_t section) override;
    QWidget* tableViewRowViewForRow(TableView& table, int64_t row, int64_t section) override;
    QWidget* tableViewHeaderViewForSection(TableView& table, int64_t section) override;
    bool tableViewShouldSelectRow(TableView&, int64_t, int64_t) override { return true; }
    double tableViewHeightForRow(TableView& table, int64_t row, int64_t section) override;
    double tableViewHeightForHeaderInSection(TableView& table, int64_t section) override;
    void tableViewDidSelectRow(TableView& table, int64_t row, int64_t section) override;

    // ListEntryCellDelegate: the panel's rows never swipe.
    void listEntryDidTouchDown(ListEntryCell&) override {}
    void listEntryDidShowOptions(ListEntryCell&) override {}
    void listEntryDidSwipeAction(ListEntryCell&, const QString&, int) override {}
    void listEntryDidTapOption(ListEntryCell&, int) override {}
    bool listEntryWillPan(ListEntryCell&) override { return false; }
    QColor backgroundColorForListEntry(const ListEntryCell& cell) override;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewDidLayout() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Found {
        ListItems tags, items, archived;
    };
    static Found search(Core& core, TagNameCache& tagNames, const QString& query);
    void showResults(Found found, Completion completion);
    void searchTextDidChange();
    bool handleFieldKey(int key);
    void enter();
    void open(int64_t row, int64_t section);
    void endEditing();
    void select(int64_t row, int64_t section);
    const ListItems* listOf(int64_t section) const;
    void reloadFonts();
    ThemeID theme() const;

    Core& core_;
    QuickOpenViewControllerDelegate* delegate_ = nullptr;
    std::shared_ptr<SnippetFormatter> formatter_;
    std::shared_ptr<TagNameCache> tagNames_;
    // Cleared as it goes: events reach the filter while the view's other children are destroyed.
    QPointer<SearchFieldWrapper> wrapper_;
    TableView* tableView_ = nullptr;
    TableBridge* bridge_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QToolButton* cancelButton_ = nullptr;
    QPointer<QWidget> previousFirstResponder_;

    State state_ = Preset;
    bool searchAgain_ = false;
    Completion pendingCompletion_;
    double rowHeightDelta_ = 0;
    QString selectedQuery_;
    ListItems tags_;
    ListItems items_;
    ListItems archivedItems_;
};
