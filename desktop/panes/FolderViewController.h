#pragma once

#include "kit/ViewController.h"
#include "panes/FolderEntryCell.h"
#include "panes/FolderTableView.h"
#include "panes/TableBridge.h"

#include "Store/NoteStorageListener.h"
#include "Themes/Themeset.h"

#include <QStringList>

#include <functional>
#include <memory>

class Core;
class FolderViewController;
class QLabel;

class FolderViewControllerDelegate {
public:
    virtual ~FolderViewControllerDelegate() = default;
    // The user picked an entry: storage 1 or 2 with a null tag, 4 or 5 with the tag.
    virtual void folderControllerDidSelectStorage(FolderViewController& controller, int storage,
                                                  const QString& tag) = 0;
    // True when the key was handled.
    virtual bool folderControllerDidKeyDown(FolderViewController& controller, const KeyEvent& event) = 0;
};

// The sidebar: "All", the hashtags, the mentions and "Archive", in six sections of one table
// (padding, inbox, hashtags, mentions, archive, padding). The tag lists are read from the store's tag
// folders on the file queue and kept current from the tag events; the table reads them on the main
// thread only.
class FolderViewController : public ViewController,
                             public TableBridgeDelegate,
                             public FolderTableViewDelegate,
                             public FolderEntryCellDelegate {
    Q_OBJECT
public:
    enum Section : int64_t { TopPadding, Inbox, Hashtags, Mentions, Archive, BottomPadding, SectionCount };
    static constexpr double RowHeight = 32;
    static constexpr double TagHeaderHeight = 48;
    static constexpr double ArchiveGap = 20;
    static constexpr double TopPaddingHeight = 38;
    static constexpr double BottomPaddingHeight = 20;

    using Completion = std::function<void(bool reloaded)>;

    explicit FolderViewController(Core& core, QObject* parent = nullptr);
    ~FolderViewController() override;

    // Not owned; must outlive the controller or be cleared.
    void setDelegate(FolderViewControllerDelegate* delegate) { delegate_ = delegate; }

    // A storage below 1 selects the inbox. Reloads the folders, then calls the completion.
    void selectStorage(int storage, const QString& tag, Completion completion = {});
    // Reads both tag lists on the file queue; on the main queue installs them, reloads the table and
    // calls the completion with true.
    void reloadFolders(Completion completion = {});
    void reloadTheme();

    // The sidebar's spelling of a tag of kind 4 (hashtags) or 5 (mentions): the last entry equal to the
    // query ignoring case, else the best fuzzy match (the later of equals); null when nothing matches.
    QString findTagInStorage(int storage, const QString& query) const;

    const QStringList& hashtags() const { return hashtags_; }
    const QStringList& mentions() const { return mentions_; }
    int selectedStorage() const { return selectedStorage_; }
    const QString& selectedTag() const { return selectedTag_; }
    FolderTableView* tableView() { return tableView_; }
    TableBridge* tableBridge() { return bridge_; }

    // The display spellings of the tag folders of a kind, sorted: the ".meta" text when it spells the
    // folder's name, else the name. Hidden and unsafe names are left out. File queue.
    static QStringList tagItemsFromDirectory(const QString& directory);

    // TableBridgeDelegate
    int64_t numberOfSectionsInTableView(TableView&) override { return SectionCount; }
    int64_t tableViewNumberOfRowsInSection(TableView& table, int64_t section) override;
    QWidget* tableViewRowViewForRow(TableView& table, int64_t row, int64_t section) override;
    QWidget* tableViewHeaderViewForSection(TableView& table, int64_t section) override;
    bool tableViewShouldSelectRow(TableView& table, int64_t row, int64_t section) override;
    double tableViewHeightForRow(TableView& table, int64_t row, int64_t section) override;
    double tableViewHeightForHeaderInSection(TableView& table, int64_t section) override;
    void tableViewDidSelectRow(TableView& table, int64_t row, int64_t section) override;

    bool folderTableViewKeyDown(FolderTableView& table, const KeyEvent& event) override;
    std::optional<QColor> backgroundColorForFolderEntry(const FolderEntryCell& cell) override;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;
    void viewDidLayout() override;

private:
    class Listener;

    void tagAdded(const QString& tag, int kind);
    void tagDeleted(const QString& tag, int kind);
    QStringList* listOfKind(int kind);
    static Section sectionOfKind(int kind);
    // Collapses or grows the section's header after its list became empty or non-empty.
    void refreshHeader(Section section);
    // Selects the entry of the current storage and tag, without reporting it back.
    void selectCurrentEntry();
    ThemeID theme() const;

    Core& core_;
    FolderViewControllerDelegate* delegate_ = nullptr;
    std::shared_ptr<Listener> listener_;
    FolderTableView* tableView_ = nullptr;
    TableBridge* bridge_ = nullptr;
    QLabel* shadowView_ = nullptr;
    QStringList hashtags_;
    QStringList mentions_;
    int selectedStorage_ = NoteStorageInbox;
    QString selectedTag_;
    double topPadding_ = 0;
    double bottomPadding_ = 0;
    bool selectingFromModel_ = false;
};
