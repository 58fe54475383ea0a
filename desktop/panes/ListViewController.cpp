#include "panes/ListViewController.h"

#include "panes/ListGestures.h"

#include "kit/AnimationContext.h"
#include "kit/Image.h"
#include "kit/KeyEvent.h"
#include "kit/QtColor.h"
#include "kit/Window.h"
#include "views/AttributedLabel.h"

#include "Core.h"
#include "Folders.h"
#include "Log.h"
#include "SLDatabase.h"
#include "Store/NoteHeaderFile.h"
#include "Store/NoteStorageListener.h"
#include "files/FileDates.h"
#include "text/FontFaces.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <tuple>
#include <utility>

namespace {

const QString BlankIdentifier = QStringLiteral("listblank");
const QString SwipeIdentifier = QStringLiteral("listswipe");
const QString ButtonsIdentifier = QStringLiteral("listbuttons");
const QString HeaderIdentifier = QStringLiteral("listheader");
constexpr TypefaceID PaneTypeface = 0;

bool isRegularFile(const QByteArray& path, unsigned char type)
{
    if (type != DT_UNKNOWN)
        return type == DT_REG;
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool stands(const ListItem& item, const QString& key, int storage)
{
    return item.storage() == storage && item.key() == key;
}

NotePtr noteOf(const ListItem& item)
{
    return std::make_shared<Note>(item.key(), item.storage());
}

// The first part of a long text, cut after its last whole line.
QString livePrefix(const QString& text)
{
    if (text.size() <= ListViewController::LiveEditPrefix)
        return text;
    const QString head = text.left(ListViewController::LiveEditPrefix);
    const qsizetype end = head.lastIndexOf(QLatin1Char('\n'));
    return end > 0 ? head.left(end) : head;
}

QColor themed(Color color)
{
    return toQColor(color);
}

} // namespace

// Moves every note event to the main queue before anything reads the lists.
class ListViewController::Listener : public NoteStorageListener {
public:
    explicit Listener(ListViewController* controller) : controller_(controller) {}

    void noteDidUpdateFromRemoteServer(const NotePtr& note) override
    {
        post([note](ListViewController& list) { list.remoteUpdate(note); });
    }
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        post([note, storage, tag](ListViewController& list) { list.added(note, storage, tag); });
    }
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        post([before, after](ListViewController& list) { list.moved(before, after, true); });
    }
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        post([before, after](ListViewController& list) { list.moved(before, after, false); });
    }
    void noteDidDeleteFromRemoteServer(const NotePtr&) override {}
    void noteDidDeleteFromStorage(const NotePtr&, int, const QString&) override {}
    void noteTagDidDeleteFromStorage(const QString&, int) override {}
    void noteTagDidAddToStorage(const QString&, int) override {}

private:
    void post(std::function<void(ListViewController&)> event)
    {
        DispatchQueue::main()->async([controller = controller_, event = std::move(event)] {
            if (controller)
                controller->whenLoaded([controller, event] {
                    if (controller)
                        event(*controller);
                });
        });
    }
    QPointer<ListViewController> controller_;
};

ListViewController::ListViewController(Core& core, QObject* parent)
    : ViewController(parent), core_(core), listener_(std::make_shared<Listener>(this)),
      formatter_(std::make_shared<SnippetFormatter>()),
      editQueue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".liveedit")))),
      playSound_([&core](int sound) { core.playSound(sound); })
{
    core_.addNoteStorageListener(listener_);
}

ListViewController::~ListViewController()
{
    editQueue_->sync([] {});
    core_.removeNoteStorageListener(listener_.get());
}

// --- Loading

void ListViewController::selectStorage(int storage, const QString& tag, Completion completion)
{
    storage_ = storage < NoteStorageInbox ? NoteStorageInbox : storage;
    tag_ = tag;
    reloadList(std::move(completion));
}

void ListViewController::searchNote(const QString& query, Completion completion)
{
    if (!query_.isNull() && query == query_) {
        if (completion)
            completion(false);
        return;
    }
    query_ = query;
    reloadList(std::move(completion));
}

void ListViewController::reloadList(Completion completion)
{
    view();
    if (reloading_) {
        reloadAgain_ = true;
        if (pendingCompletion_)
            pendingCompletion_(false);
        pendingCompletion_ = std::move(completion);
        return;
    }
    reloading_ = true;
    rowHeightDelta_ = (Typeset::fontSizeForSizePreset(core_.typeSize()) - Typeset::fontSizeForSizePreset(0)) * 4.5;
    formatter_->reloadFonts(core_.typeSize(), theme());
    core_.fileQueue()->async([self = QPointer(this), storage = storage_, tag = tag_, query = query_,
                              completion = std::move(completion)]() mutable {
        if (!self)
            return;
        Loaded loaded = self->load(storage, tag, query);
        DispatchQueue::main()->async([self, loaded = std::move(loaded), completion = std::move(completion)] {
            if (self)
                self->showRows(loaded, completion);
        });
    });
}

ListViewController::Loaded ListViewController::load(int storage, const QString& tag, const QString& query) const
{
    Loaded loaded;
    if (!query.isEmpty()) {
        core_.syncDatabase([&](SLDatabase& db) {
            Note::searchDatabase(db, query, storage, tag, [&](const auto& notes, const auto& archived) {
                loaded.items = notes;
                loaded.archived = archived;
            });
        });
        return loaded;
    }
    if (storage == NoteTagHashtag || storage == NoteTagMention) {
        if (!Note::isSafePathComponent(tag))
            return loaded;
        loaded.items = importDirectory(Note::linkDirectoryForTag(storage, tag, NoteStorageInbox), NoteStorageInbox);
        loaded.archived =
            importDirectory(Note::linkDirectoryForTag(storage, tag, NoteStorageArchive), NoteStorageArchive);
    } else {
        const int shown = storage == NoteStorageArchive ? NoteStorageArchive : NoteStorageInbox;
        loaded.items = importDirectory(Note::documentDirectoryForStorage(shown), shown);
    }
    const int64_t option = core_.noteSortOptions();
    if (option == 2) {
        readTitles(loaded.items);
        readTitles(loaded.archived);
    }
    sortListItems(loaded.items, option);
    sortListItems(loaded.archived, option);
    return loaded;
}

ListItems ListViewController::importDirectory(const QString& directory, int storage)
{
    ListItems items;
    const QByteArray path = QFile::encodeName(directory);
    DIR* dir = directory.isEmpty() ? nullptr : ::opendir(path.constData());
    if (!dir)
        return items;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name.startsWith(QLatin1Char('.')) || !Note::isSafePathComponent(name) ||
            !isRegularFile(path + '/' + entry->d_name, entry->d_type))
            continue;
        auto item = std::make_shared<ListItem>();
        item->setKey(name);
        item->setStorage(storage);
        const QString document = Note::documentFileForKey(name, storage);
        item->setCreatedOn(FileDates::creationDate(document));
        item->setUpdatedOn(FileDates::modificationDate(document));
        items.append(item);
    }
    ::closedir(dir);
    return items;
}

void ListViewController::readTitles(ListItems& items) const
{
    if (items.isEmpty())
        return;
    QHash<QString, QString> titles;
    const QString folder = Note::searchNameForStorage(items.first()->storage());
    core_.syncDatabase([&](SLDatabase& db) {
        SLResultSet rows = db.executeQuery(QStringLiteral("SELECT key, title FROM notes WHERE folder = ?"), folder);
        while (rows.next())
            titles.insert(rows.stringForColumnIndex(0), rows.stringForColumnIndex(1));
    });
    for (const ListItemPtr& item : items) {
        if (const auto title = titles.constFind(item->key()); title != titles.constEnd()) {
            item->setTitle(*title);
            continue;
        }
        QFile file(Note::headerFileForKey(item->key(), item->storage()));
        NoteHeaderFile header;
        if (file.open(QIODevice::ReadOnly) && header.read(file.readAll()))
            item->setTitle(header.title);
    }
}

void ListViewController::sortListItems(ListItems& items, int64_t option)
{
    const auto before = [option](const ListItemPtr& a, const ListItemPtr& b) {
        if (option == 1)
            return a->createdOn() > b->createdOn();
        if (option == 2)
            return a->title().compare(b->title(), Qt::CaseInsensitive) < 0;
        return a->updatedOn() > b->updatedOn();
    };
    std::stable_sort(items.begin(), items.end(), before);
}

void ListViewController::showRows(Loaded loaded, Completion completion)
{
    if (std::exchange(reloadAgain_, false)) {
        if (completion)
            completion(false);
        reloading_ = false;
        reloadList(std::exchange(pendingCompletion_, {}));
        return;
    }
    items_ = std::move(loaded.items);
    archivedItems_ = std::move(loaded.archived);
    loaded_ = true;
    bridge_->reloadData();
    reloadEmptyView();
    reloading_ = false;
    for (const auto& event : std::exchange(heldEvents_, {}))
        event();
    if (completion)
        completion(true);
}

void ListViewController::reloadEmptyView()
{
    reloadEmptyTexts();
    emptyView_->setVisible(items_.isEmpty() && archivedItems_.isEmpty());
}

void ListViewController::reloadEmptyTexts()
{
    // A search that found nothing says so, rather than that the storage has no notes.
    const QString longText =
        query_.isEmpty() ? tr("No notes here yet.\nPress %1 to write one.")
                               .arg(QKeySequence(QKeySequence::New).toString(QKeySequence::NativeText))
                         : tr("No notes match\n\u201C%1\u201D.")
                               .arg(query_);
    if (longEmptyLabel_->text() != longText) {
        longEmptyLabel_->setText(longText);
        shortEmptyLabel_->setText(query_.isEmpty() ? tr("No notes") : tr("No matches"));
        longEmptyLabel_->adjustSize();
        viewDidLayout();
    }
}

// --- Table

int64_t ListViewController::tableViewNumberOfRowsInSection(TableView&, int64_t section)
{
    return section == Blank ? 1 : section == Notes ? items_.size() : section == Archived ? archivedItems_.size() : 0;
}

double ListViewController::rowHeight() const
{
    return BaseRowHeight + rowHeightDelta_;
}

double ListViewController::tableViewHeightForRow(TableView&, int64_t, int64_t section)
{
    return section == Blank ? 0 : rowHeight();
}

double ListViewController::tableViewHeightForHeaderInSection(TableView&, int64_t section)
{
    return section == Archived && !archivedItems_.isEmpty() ? ArchiveHeaderHeight : 0;
}

QWidget* ListViewController::tableViewHeaderViewForSection(TableView& table, int64_t section)
{
    return archiveHeader(table, section == Archived && !archivedItems_.isEmpty(), theme());
}

QWidget* ListViewController::archiveHeader(TableView& table, bool archive, ThemeID current)
{
    auto* header = static_cast<QLabel*>(table.makeView(HeaderIdentifier, [] {
        auto* label = new QLabel;
        label->setAlignment(Qt::AlignCenter);
        // In the table a label would take the table's Base and Text roles, which the theme leaves alone.
        label->setBackgroundRole(QPalette::Window);
        label->setForegroundRole(QPalette::WindowText);
        label->setAutoFillBackground(true);
        return label;
    }));
    header->setText(archive ? tr("A R C H I V E") : QString());
    header->setAccessibleName(archive ? tr("Archive") : QString());
    header->setFont(FontFaces::qfont(Typeset::regularFontForTypeface(PaneTypeface, 12)));
    QPalette palette = header->palette();
    palette.setColor(QPalette::WindowText, themed(Themeset::headerColorForTheme(current)));
    palette.setColor(QPalette::Window, archive ? themed(Themeset::headerBackgroundColorForTheme(current))
                                               : themed(Themeset::menuBackgroundColorForTheme(current)));
    header->setPalette(palette);
    return header;
}

QWidget* ListViewController::tableViewRowViewForRow(TableView& table, int64_t row, int64_t section)
{
    const ListItemPtr item = itemAt(row, section);
    if (!item)
        return table.makeView(BlankIdentifier, [] { return new QWidget; });
    const bool archived = item->storage() == NoteStorageArchive;
    auto* cell = static_cast<ListEntryCell*>(
        table.makeView(archived ? ButtonsIdentifier : SwipeIdentifier, [] { return new ListEntryCell; }));
    cell->setMode(archived ? ListEntryCell::TwoButtons : ListEntryCell::Swipe);
    dressCell(*cell, item);
    if (selectedNote_ && stands(*item, selectedNote_->key(), selectedNote_->storage()) &&
        table.selectedRow() != bridge_->rowForRow(row, section))
        DispatchQueue::main()->async([self = QPointer(this), row, section] {
            if (self)
                self->select(row, section);
        });
    return cell;
}

void ListViewController::dressCell(ListEntryCell& cell, const ListItemPtr& item)
{
    const ThemeID current = theme();
    const QFont bold = FontFaces::qfont(Typeset::boldFontForTypeface(PaneTypeface, 14));
    const bool swipe = cell.mode() == ListEntryCell::Swipe;
    cell.swipeContainer()->setVisible(swipe);
    if (swipe) {
        cell.setSwipeTitle(tr("Archive"), themed(Themeset::inactiveTextColorForTheme(current)));
        cell.swipeArrow()->setPixmap(Image::named(Themeset::resourceNameForTheme(current) + QStringLiteral("-swipe-arrow")));
    }
    const auto dress = [&](BoxButton* button, const QString& title, Color fill, Color text) {
        button->setText(title);
        button->setFont(bold);
        button->setBackgroundColor(themed(fill));
        button->setTitleColor(themed(text));
    };
    dress(cell.restoreButton(), tr("Restore"), Themeset::restoreButtonColorForTheme(current),
          Themeset::restoreTextColorForTheme(current));
    dress(cell.trashButton(), tr("Delete"), Themeset::trashButtonColorForTheme(current),
          Themeset::trashTextColorForTheme(current));
    cell.resize(view()->width(), int(rowHeight()));
    cell.setListItem(item);
    if (!item->attributedText())
        restoreText(item);
    showText(cell, *item);
    cell.setDelegate(this);
    cell.trashButton()->show();
    cell.setOffset(0);
    cell.setContentColor(themed(Themeset::inactiveButtonColorForTheme(current)));
}

// Styled texts are kept for the rows shown last only: 10,000 of them would cost over 100 MB.
void ListViewController::restoreText(const ListItemPtr& item)
{
    formatter_->restoreListItemAttributeText(*item);
    styled_.push_back(item);
    if (styled_.size() <= StyledRowsKept)
        return;
    if (const ListItemPtr oldest = styled_.front().lock(); oldest && oldest != item)
        oldest->setAttributedText(nullptr);
    styled_.pop_front();
}

// The label starts left of the container: the snippet's own indent brings the text in.
void ListViewController::showText(ListEntryCell& cell, const ListItem& item)
{
    cell.setTitleMargins(QMargins(-24, 8, 16, 4));
    cell.titleLabel()->setAttributedText(item.attributedText());
    cell.titleLabel()->show();
}

void ListViewController::tableViewDidSelectRow(TableView&, int64_t row, int64_t section)
{
    const ListItemPtr item = itemAt(row, section);
    if (!item)
        return;
    if (showingOptions_ && showingOptions_->listItem() != item)
        hideShowingListEntryOptions();
    // Always told: the delegate decides whether the note is the one it shows.
    selectedNote_ = noteOf(*item);
    if (delegate_)
        delegate_->listControllerDidSelectNote(*this, noteOf(*item));
}

ListItems* ListViewController::listOf(int64_t section)
{
    return section == Notes ? &items_ : section == Archived ? &archivedItems_ : nullptr;
}

ListItemPtr ListViewController::itemAt(int64_t row, int64_t section) const
{
    const ListItems* list = section == Notes ? &items_ : section == Archived ? &archivedItems_ : nullptr;
    return list && row >= 0 && row < list->size() ? list->at(row) : nullptr;
}

std::optional<IndexPath> ListViewController::find(const QString& key, int storage) const
{
    for (const int64_t section : {Notes, Archived}) {
        const ListItems& list = section == Notes ? items_ : archivedItems_;
        for (qsizetype i = list.size() - 1; i >= 0; --i)
            if (stands(*list[i], key, storage))
                return IndexPath{section, i};
    }
    return std::nullopt;
}

void ListViewController::select(int64_t row, int64_t section)
{
    bridge_->selectRow(row, section);
}

// --- Selection

bool ListViewController::selectNote(const NotePtr& note)
{
    std::optional<IndexPath> path;
    if (!note)
        path = !items_.isEmpty() ? std::optional(IndexPath{Notes, 0})
             : !archivedItems_.isEmpty() ? std::optional(IndexPath{Archived, 0}) : std::nullopt;
    else
        path = find(note->key(), note->storage());
    if (!path)
        return false;
    const ListItemPtr item = itemAt(path->row, path->section);
    const NotePtr previous = std::exchange(selectedNote_, noteOf(*item));
    // The table reports a changed row only, yet a new list may have put another note at the selected one.
    const bool unreported = bridge_->selectedRow() == path && !(previous && stands(*item, previous->key(), previous->storage()));
    select(path->row, path->section);
    if (unreported)
        tableViewDidSelectRow(*tableView_, path->row, path->section);
    return true;
}

bool ListViewController::selectNextNote()
{
    const std::optional<IndexPath> at = bridge_->selectedRow();
    if (!selectedNote_ || !at || at->section == Blank)
        return selectNote(nullptr);
    if (at->section == Notes && at->row + 1 < items_.size())
        select(at->row + 1, Notes);
    else if (at->section == Notes && !archivedItems_.isEmpty())
        select(0, Archived);
    else if (at->section == Archived && at->row + 1 < archivedItems_.size())
        select(at->row + 1, Archived);
    else
        return false;
    return true;
}

bool ListViewController::selectPreviousNote()
{
    const std::optional<IndexPath> at = bridge_->selectedRow();
    if (!at || at->section == Blank || (at->section == Notes && at->row < 1))
        return false;
    if (at->row >= 1)
        select(at->row - 1, at->section);
    else if (!items_.isEmpty())
        select(items_.size() - 1, Notes);
    else
        return false;
    return true;
}

void ListViewController::selectNone()
{
    selectedNote_.reset();
    bridge_->reloadSelectedRow();
    tableView_->selectRow(0);
}

void ListViewController::highlightSelectedNote()
{
    bridge_->reloadSelectedRow();
}

void ListViewController::hideShowingListEntryOptions()
{
    if (showingOptions_)
        showingOptions_->hideOptions();
    showingOptions_.clear();
}

QColor ListViewController::backgroundColorForListEntry(const ListEntryCell& cell)
{
    const ThemeID current = theme();
    const qsizetype row = tableView_->rowForView(&cell);
    if (!selectedNote_ || row < 0 || row != tableView_->selectedRow())
        return themed(Themeset::menuBackgroundColorForTheme(current));
    if (!tableView_->isActiveWindow())
        return themed(Themeset::backWindowHighlightBackgroundColorForTheme(current));
    const QWidget* focus = tableView_->window()->focusWidget();
    // The list and the window's search field both steer the list.
    const bool listFocused =
        focus && (tableView_->isAncestorOf(focus) || (searchField_ && searchField_->isAncestorOf(focus)));
    return themed(listFocused ? Themeset::firstResponderHighlightBackgroundColorForTheme(current)
                              : Themeset::keyWindowHighlightBackgroundColorForTheme(current));
}

// --- Row options

void ListViewController::listEntryDidTouchDown(ListEntryCell& cell)
{
    if (showingOptions_ && showingOptions_ != &cell)
        hideShowingListEntryOptions();
}

void ListViewController::listEntryDidShowOptions(ListEntryCell& cell)
{
    if (showingOptions_ != &cell)
        hideShowingListEntryOptions();
    showingOptions_ = &cell;
}

void ListViewController::listEntryDidSwipeAction(ListEntryCell&, const QString& key, int storage)
{
    if (!delegate_ || key.isEmpty())
        return;
    delegate_->listControllerDidTapArchiveNote(*this, std::make_shared<Note>(key, storage));
    playSound_(3);
}

void ListViewController::listEntryDidTapOption(ListEntryCell& cell, int index)
{
    if (!delegate_ || !cell.listItem())
        return;
    const NotePtr note = noteOf(*cell.listItem());
    if (index == 1)
        delegate_->listControllerDidTapDeleteNote(*this, note);
    else if (index == 2) {
        playSound_(0);
        delegate_->listControllerDidTapRestoreNote(*this, note);
    }
}

// --- Gestures and keys

bool ListViewController::listScrollViewShouldScroll(ListScrollView&, const QWheelEvent& event)
{
    return gestures_->shouldScroll(event);
}

// The left arrow is the trigger key, keypad flag or not (Qt sets none on arrows).
bool ListViewController::listScrollViewDidKeyDown(ListScrollView&, const QKeyEvent& event)
{
    if (event.key() != Qt::Key_Left)
        return false;
    if (delegate_)
        delegate_->listControllerDidPressTriggerKey(*this, FunctionKey::LeftArrow);
    return true;
}

ListEntryCell* ListViewController::listEntryCellFromPoint(QPoint point) const
{
    const qsizetype row = tableView_->rowAtPoint(point);
    return row >= 0 ? dynamic_cast<ListEntryCell*>(tableView_->viewAtRow(row, false)) : nullptr;
}

void ListViewController::listDidTap(QPoint point)
{
    const qsizetype row = tableView_->rowAtPoint(point);
    if (row < 0 || row >= tableView_->numberOfRows() || !bridge_->tableViewShouldSelectRow(*tableView_, row))
        return;
    tableView_->selectRow(row);
    bridge_->reloadSelectedRow();
    if (searchField_ && searchField_->isVisible())
        searchField_->setFocus(Qt::MouseFocusReason);
    else
        tableView_->setFocus(Qt::MouseFocusReason);
}

// --- Note events

void ListViewController::whenLoaded(std::function<void()> event)
{
    // A reload's listing may predate the event: apply it once the new rows are in.
    if (reloading_)
        heldEvents_.append(std::move(event));
    else if (loaded_)
        event();
}

bool ListViewController::takesEvent(int storage, const QString& tag) const
{
    if (storage_ != storage)
        return false;
    return (storage != NoteTagHashtag && storage != NoteTagMention) || tag_.toLower() == tag.toLower();
}

void ListViewController::remoteUpdate(const NotePtr& note)
{
    const std::optional<IndexPath> at = query_.isEmpty() ? find(note->key(), note->storage()) : std::nullopt;
    if (!at)
        return;
    ListItem& item = *itemAt(at->row, at->section);
    const QString oldTitle = item.title();
    item.setTitle(note->title());
    item.setUpdatedOn(note->updatedOn());
    item.setAttributedText(nullptr);
    const int64_t option = core_.noteSortOptions();
    int64_t row = at->row;
    if ((option == 0 && row != 0) || (option == 2 && (item.title().isNull() || item.title() != oldTitle))) {
        row = sortAndMove(row, at->section);
        if (row != at->row && selectedNote_)
            selectNote(selectedNote_);
    }
    if (auto* cell = dynamic_cast<ListEntryCell*>(bridge_->rowView(row, at->section, false))) {
        restoreText(itemAt(row, at->section));
        showText(*cell, item);
    }
}

void ListViewController::noteDidDelete(const NotePtr& note, int storage, const QString& tag)
{
    if (!loaded_ || (query_.isEmpty() && !takesEvent(storage, tag)))
        return;
    std::optional<int64_t> removedAt[3];
    bool wasSelected[3] = {};
    bridge_->beginUpdates();
    for (const int64_t section : {Archived, Notes}) {
        ListItems& list = *listOf(section);
        for (qsizetype i = list.size() - 1; i >= 0; --i) {
            if (!stands(*list[i], note->key(), note->storage()))
                continue;
            const int64_t tableRow = bridge_->rowForRow(i, section);
            wasSelected[section] = tableView_->selectedRow() == tableRow;
            list.removeAt(i);
            tableView_->removeRows(tableRow, 1, TableView::Animation::SlideUp);
            removedAt[section] = i;
            break;
        }
    }
    bridge_->endUpdates();
    reloadEmptyView();
    const auto pick = [&](int64_t section, int64_t index) {
        const ListItems& list = *listOf(section);
        const ListItems& other = *listOf(section == Notes ? Archived : Notes);
        if (list.size() > index)
            select(index, section);
        else if (index >= 1)
            select(index - 1, section);
        else if (!other.isEmpty())
            select(section == Notes ? 0 : other.size() - 1, section == Notes ? Archived : Notes);
        else
            selectedNote_.reset();
    };
    if (wasSelected[Notes])
        pick(Notes, *removedAt[Notes]);
    else if (wasSelected[Archived])
        pick(Archived, *removedAt[Archived]);
}

void ListViewController::added(const NotePtr& note, int storage, const QString& tag)
{
    if (!query_.isEmpty() || !takesEvent(storage, tag) || find(note->key(), note->storage()))
        return;
    const bool archived = (storage_ == NoteTagHashtag || storage_ == NoteTagMention) &&
                          note->storage() == NoteStorageArchive;
    const int64_t section = archived ? Archived : Notes;
    ListItems& list = *listOf(section);
    auto item = std::make_shared<ListItem>();
    item->setKey(note->key());
    item->setStorage(note->storage());
    const QString document = Note::documentFileForKey(note->key(), note->storage());
    item->setCreatedOn(FileDates::creationDate(document));
    item->setUpdatedOn(FileDates::modificationDate(document));
    list.append(item);
    ListItems single{item};
    if (core_.noteSortOptions() == 2)
        readTitles(single);
    sortListItems(list, core_.noteSortOptions());
    const int64_t index = list.indexOf(item);
    bridge_->beginUpdates();
    tableView_->insertRows(bridge_->rowForRow(index, section), 1, TableView::Animation::SlideDown);
    bridge_->endUpdates();
    reloadEmptyView();
}

void ListViewController::moved(const NotePtr& before, const NotePtr& after, bool done)
{
    if (before->storage() == after->storage()) {
        if (const std::optional<IndexPath> at = find(before->key(), before->storage()))
            itemAt(at->row, at->section)->setKey(after->key());
        // The selection follows its note to the new name.
        if (selectedNote_ && selectedNote_->storage() == before->storage() && selectedNote_->key() == before->key())
            selectedNote_ = std::make_shared<Note>(after->key(), after->storage());
        return;
    }
    if (!done || storage_ == NoteTagHashtag || storage_ == NoteTagMention)
        return;
    noteDidDelete(before, before->storage(), QString());
    added(after, after->storage(), QString());
}

int64_t ListViewController::sortAndMove(int64_t index, int64_t section)
{
    ListItems& list = *listOf(section);
    const ListItemPtr item = list.at(index);
    sortListItems(list, core_.noteSortOptions());
    const int64_t moved = list.indexOf(item);
    if (moved != index) {
        const int64_t from = bridge_->rowForRow(index, section);
        const int64_t to = bridge_->rowForRow(moved, section);
        bridge_->beginUpdates();
        tableView_->moveRow(from, to);
        bridge_->endUpdates();
    }
    return moved;
}

// --- Live edits

void ListViewController::noteDidEditingText(const NotePtr& note)
{
    ++editKey_;
    if (std::exchange(editing_, true))
        return;
    startEditPass(note);
}

// One pass at a time: the text is taken once per pass, and a pass that ends behind the key starts another.
void ListViewController::startEditPass(const NotePtr& note)
{
    const uint64_t key = editKey_;
    const QString text = livePrefix(delegate_ ? delegate_->listControllerEditingText(*this) : QString());
    editQueue_->async([self = QPointer(this), formatter = formatter_, build = liveRowBuilder_, note, key, text] {
        QString title;
        std::shared_ptr<const AttributedString> snippet;
        bool built = false;
        try {
            std::tie(title, snippet) = build(*formatter, text);
            built = true;
        } catch (const std::exception& exception) {
            LogError("list:updateEditingNote error %1", QString::fromUtf8(exception.what()));
        }
        DispatchQueue::main()->async([self, note, key, title, snippet, built] {
            if (!self)
                return;
            if (built)
                self->applyEdit(note, title, snippet);
            if (self->editKey_ != key)
                self->startEditPass(note);
            else
                self->editing_ = false;
        });
    });
}

ListViewController::LiveRow ListViewController::buildLiveRow(const SnippetFormatter& formatter, const QString& text)
{
    Note scratch;
    scratch.setText(text);
    scratch._reloadHeader();
    return {scratch.title(), std::make_shared<AttributedString>(formatter.newSnippetWithNote(scratch.title(), scratch.summary()))};
}

void ListViewController::applyEdit(const NotePtr& note, const QString& title, std::shared_ptr<const AttributedString> text)
{
    const std::optional<IndexPath> at = note->key().isEmpty() ? std::nullopt : find(note->key(), note->storage());
    if (!at)
        return;
    ListItem& item = *itemAt(at->row, at->section);
    const QString oldTitle = item.title();
    item.setTitle(title);
    item.setAttributedText(std::move(text));
    item.setUpdatedOn(QDateTime::currentSecsSinceEpoch());
    const int64_t option = core_.noteSortOptions();
    int64_t row = at->row;
    if ((option == 2 && (title.isNull() || title != oldTitle)) || (option == 0 && row != 0))
        row = sortAndMove(row, at->section);
    if (auto* cell = dynamic_cast<ListEntryCell*>(bridge_->rowView(row, at->section, false))) {
        select(row, at->section);
        showText(*cell, item);
    }
}

// --- View

QWidget* ListViewController::loadView()
{
    auto* view = new QWidget;
    view->setAutoFillBackground(true);
    auto* scrollView = new ListScrollView(view);
    scrollView->setListDelegate(this);
    tableView_ = scrollView;
    tableView_->setFocusPolicy(Qt::StrongFocus);
    gestures_ = new ListGestures(tableView_, {[this](QPoint at) { return listEntryCellFromPoint(at); },
                                              [this](QPoint at) { listDidTap(at); }});
    bridge_ = new TableBridge(tableView_, this, this);
    emptyView_ = new QWidget(view);
    emptyView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    longEmptyLabel_ = new QLabel(emptyView_);
    shortEmptyLabel_ = new QLabel(emptyView_);
    for (QLabel* label : {longEmptyLabel_, shortEmptyLabel_}) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setWordWrap(label == shortEmptyLabel_);
    }
    shortEmptyLabel_->hide();
    emptyView_->hide();
    shadowView_ = new QLabel(view);
    shadowView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    shadowView_->setScaledContents(true);
    connect(tableView_, &TableView::selectionDidChange, this, [this] { bridge_->reloadSelectedRow(); });
    return view;
}

void ListViewController::viewDidLoad()
{
    reloadTheme();
    reloadEmptyTexts();
}

void ListViewController::reloadTheme()
{
    const ThemeID current = theme();
    const QColor background = themed(Themeset::menuBackgroundColorForTheme(current));
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, background);
    view()->setPalette(palette);
    tableView_->setBackgroundColor(background);
    tableView_->setSelectionColor(QColor());
    for (QLabel* label : {longEmptyLabel_, shortEmptyLabel_}) {
        QPalette text = label->palette();
        text.setColor(QPalette::WindowText, themed(Themeset::menuColorForTheme(current)));
        label->setPalette(text);
    }
    shadowView_->setPixmap(Image::named(Themeset::resourceNameForTheme(current) + QStringLiteral("-topbar")));
    if (loaded_)
        reloadList();
}

void ListViewController::viewWillAppear()
{
    disconnect(layoutRectConnection_);
    if (auto* window = qobject_cast<Window*>(view()->window()))
        layoutRectConnection_ = connect(window, &Window::contentLayoutRectChanged, this, [this] { viewDidLayout(); });
}

int ListViewController::stripOverlap()
{
    const auto* window = qobject_cast<const Window*>(view()->window());
    const QWidget* content = window && window->contentViewController() ? window->contentViewController()->view() : nullptr;
    if (!content || (content != view() && !content->isAncestorOf(view())))
        return 0;
    return std::max(0, window->contentLayoutRect().top() - view()->mapTo(content, QPoint()).y());
}

// The rows start below the toolbar strip; the pane's own background and the top shadow show in the
// strip, never over a row at rest. The long text when it fits with 50 points beside and 100 below,
// else the short one; a swap cross-fades.
void ListViewController::viewDidLayout()
{
    const QRect bounds = view()->rect();
    const int strip = stripOverlap();
    tableView_->setGeometry(bounds.adjusted(0, strip, 0, 0));
    emptyView_->setGeometry(bounds);
    const QPixmap& shadow = shadowView_->pixmap();
    const int shadowHeight = shadow.isNull() ? 0 : int(shadow.deviceIndependentSize().height());
    shadowView_->setGeometry(0, 0, bounds.width(), std::min(shadowHeight, strip));
    shadowView_->raise();
    const int w = bounds.width();
    const int h = bounds.height();
    const QSize long_ = longEmptyLabel_->size();
    const bool fits = long_.width() + 50 <= w && long_.height() + 100 <= h;
    QLabel* shown = fits ? longEmptyLabel_ : shortEmptyLabel_;
    QLabel* hidden = fits ? shortEmptyLabel_ : longEmptyLabel_;
    if (fits)
        longEmptyLabel_->move(int((w - long_.width()) * 0.5), int((h - long_.height()) * 0.4f));
    else
        shortEmptyLabel_->setGeometry(0, 60, w, h - 100);
    if (fits == longShowing_)
        return;
    longShowing_ = fits;
    AnimationContext::runGroup(0, [&](AnimationContext& context) { context.setAlpha(shown, 0); });
    shown->show();
    AnimationContext::runGroup(
        [&](AnimationContext& context) {
            context.setAlpha(shown, 1);
            context.setAlpha(hidden, 0);
        },
        [self = QPointer(this), hidden = QPointer(hidden), fits] {
            if (self && hidden && self->longShowing_ == fits)
                hidden->hide();
        });
}

ThemeID ListViewController::theme() const
{
    return core_.colorTheme();
}
