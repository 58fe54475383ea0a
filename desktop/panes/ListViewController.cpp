// The list pane's frame: its construction and listener, the bridged table's sections and row views,
// the selection and its highlight, and the view's layout and theme. Loading, gestures and note
// events have files of their own.
#include "panes/ListViewController.h"

#include "panes/ListGestures.h"

#include "kit/AnimationContext.h"
#include "kit/Image.h"
#include "kit/QtColor.h"
#include "kit/Window.h"
#include "views/AttributedLabel.h"

#include "Core.h"
#include "Folders.h"
#include "Store/NoteStorageListener.h"
#include "text/FontFaces.h"

#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace {

const QString BlankIdentifier = QStringLiteral("listblank");
const QString SwipeIdentifier = QStringLiteral("listswipe");
const QString ButtonsIdentifier = QStringLiteral("listbuttons");
const QString HeaderIdentifier = QStringLiteral("listheader");
constexpr TypefaceID PaneTypeface = 0;

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

bool ListViewController::stands(const ListItem& item, const QString& key, int storage)
{
    return item.storage() == storage && item.key() == key;
}

NotePtr ListViewController::noteOf(const ListItem& item)
{
    return std::make_shared<Note>(item.key(), item.storage());
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
    selectedNote_ = noteOf(*itemAt(path->row, path->section));
    // The table reports a changed row only, yet the window may show another note than the highlighted one
    // (a new list put another note there, or the typing was just split off into a file of its own).
    const bool unreported = bridge_->selectedRow() == path;
    select(path->row, path->section);
    if (unreported)
        tableViewDidSelectRow(*tableView_, path->row, path->section);
    return true;
}

void ListViewController::followNote(const NotePtr& note)
{
    selectedNote_ = note;
    highlightSelectedRow();
}

void ListViewController::highlightSelectedRow()
{
    const std::optional<IndexPath> at = selectedNote_ ? find(selectedNote_->key(), selectedNote_->storage()) : std::nullopt;
    if (!at)
        tableView_->selectRow(-1);
    else if (bridge_->selectedRow() != at)
        select(at->row, at->section);
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

// --- View

QWidget* ListViewController::loadView()
{
    auto* view = new QWidget;
    view->setAutoFillBackground(true);
    auto* scrollView = new ListScrollView(view);
    scrollView->setListDelegate(this);
    tableView_ = scrollView;
    tableView_->setFocusPolicy(Qt::StrongFocus);
    tableView_->installEventFilter(this);
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
