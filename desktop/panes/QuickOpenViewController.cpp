#include "panes/QuickOpenViewController.h"

#include "kit/QtColor.h"
#include "kit/Window.h"
#include "panes/ListViewController.h"
#include "panes/SearchFieldWrapper.h"
#include "views/AttributedLabel.h"

#include "Core.h"
#include "Dispatch.h"
#include "SLDatabase.h"

#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolButton>

#include <algorithm>

namespace {

const QString EntryIdentifier = QStringLiteral("listentry");
// Section headers that show nothing still take a row; this keeps it out of sight.
constexpr double NoHeight = 2.2250738585072014e-308;

} // namespace

QuickOpenViewController::QuickOpenViewController(Core& core, QObject* parent)
    : ViewController(parent), core_(core), formatter_(std::make_shared<SnippetFormatter>()),
      tagNames_(std::make_shared<TagNameCache>())
{
    core_.addNoteStorageListener(tagNames_);
}

QuickOpenViewController::~QuickOpenViewController()
{
    core_.removeNoteStorageListener(tagNames_.get());
}

// --- Showing

void QuickOpenViewController::showQuickOpen(const std::optional<QString>& query)
{
    state_ = Preset;
    view();
    QWidget* focus = QApplication::focusWidget();
    previousFirstResponder_ = focus && !view()->isAncestorOf(focus) ? focus : previousFirstResponder_.data();
    wrapper_->searchField()->setFocus(Qt::OtherFocusReason);
    wrapper_->searchField()->setPlaceholderText(tr("File or Symbol"));
    if (query) {
        wrapper_->searchField()->setText(*query);
        selectedQuery_ = *query;
    } else {
        // The last query stays, selected, so that typing starts a new one.
        wrapper_->searchField()->selectAll();
        state_ = Shown;
    }
    view()->raise();
    resizeToFit();
}

QString QuickOpenViewController::searchQuery() const
{
    return wrapper_ ? wrapper_->searchField()->text() : QString();
}

void QuickOpenViewController::restoreFirstResponder()
{
    if (previousFirstResponder_)
        previousFirstResponder_->setFocus(Qt::OtherFocusReason);
    previousFirstResponder_.clear();
}

void QuickOpenViewController::cancelOperation()
{
    restoreFirstResponder();
    if (delegate_)
        delegate_->quickOpenWantDismiss(*this);
}

// Later on the main queue: the focus may only be passing between the field and the table.
void QuickOpenViewController::endEditing()
{
    if (!previousFirstResponder_)
        return;
    DispatchQueue::main()->async([self = QPointer(this)] {
        if (!self || !self->previousFirstResponder_ || !self->view()->isVisible())
            return;
        const QWidget* focus = QApplication::focusWidget();
        if ((focus && self->view()->isAncestorOf(focus)) || !self->delegate_)
            return;
        self->delegate_->quickOpenWantDismiss(*self);
    });
}

// --- Searching

void QuickOpenViewController::searchTextDidChange()
{
    selectedQuery_ = searchQuery();
    reloadList([self = QPointer(this)](bool) {
        if (self)
            self->selectNote(nullptr);
    });
}

void QuickOpenViewController::reloadList(Completion completion)
{
    view();
    // The field's text always gets its results: a request during a search runs once it ends.
    if (state_ == Searching) {
        searchAgain_ = true;
        if (pendingCompletion_)
            pendingCompletion_(false);
        pendingCompletion_ = std::move(completion);
        return;
    }
    state_ = Searching;
    reloadFonts();
    const QString query = selectedQuery_;
    progress_->show();
    if (query.isEmpty() || query.startsWith(QLatin1Char(':'))) {
        showResults({}, std::move(completion));
        return;
    }
    core_.fileQueue()->async([self = QPointer(this), &core = core_, tagNames = tagNames_, query,
                              completion = std::move(completion)]() mutable {
        Found found = search(core, *tagNames, query);
        DispatchQueue::main()->async([self, found = std::move(found), completion = std::move(completion)]() mutable {
            if (self)
                self->showResults(std::move(found), std::move(completion));
        });
    });
}

QuickOpenViewController::Found QuickOpenViewController::search(Core& core, TagNameCache& tagNames, const QString& query)
{
    Found found;
    if (!query.contains(QLatin1Char(' '))) {
        const QChar first = query.front();
        if (first == QLatin1Char('#'))
            found.tags = tagNames.search(query, NoteTagHashtag);
        else if (first == QLatin1Char('@'))
            found.tags = tagNames.search(query, NoteTagMention);
        else if (first == QLatin1Char('a') || first == QLatin1Char('A'))
            Note::searchStorageWithQuery(query, [&](const ListItems& entries) {
                if (entries.size() == 1)
                    found.tags = entries;
            });
    }
    core.syncDatabase([&](SLDatabase& db) {
        Note::searchDatabase(db, query, [&](const ListItems& notes, const ListItems& archived) {
            found.items = notes;
            found.archived = archived;
        });
    });
    return found;
}

void QuickOpenViewController::showResults(Found found, Completion completion)
{
    state_ = Shown;
    if (std::exchange(searchAgain_, false)) {
        if (completion)
            completion(false);
        reloadList(std::exchange(pendingCompletion_, {}));
        return;
    }
    tags_ = std::move(found.tags);
    items_ = std::move(found.items);
    archivedItems_ = std::move(found.archived);
    bridge_->reloadData();
    resizeToFit();
    progress_->hide();
    if (completion)
        completion(true);
}

// --- Table

const ListItems* QuickOpenViewController::listOf(int64_t section) const
{
    return section == Tags ? &tags_ : section == Notes ? &items_ : section == Archived ? &archivedItems_ : nullptr;
}

ListItemPtr QuickOpenViewController::listItemForRow(int64_t row, int64_t section) const
{
    const ListItems* list = listOf(section);
    return list && row >= 0 && row < list->size() ? list->at(row) : nullptr;
}

int64_t QuickOpenViewController::tableViewNumberOfRowsInSection(TableView&, int64_t section)
{
    const ListItems* list = listOf(section);
    return list ? list->size() : 0;
}

double QuickOpenViewController::tableViewHeightForRow(TableView&, int64_t, int64_t section)
{
    return (section == Tags ? TagRowHeight : NoteRowHeight) + rowHeightDelta_;
}

double QuickOpenViewController::tableViewHeightForHeaderInSection(TableView&, int64_t section)
{
    return section == Archived && !archivedItems_.isEmpty() ? ArchiveHeaderHeight : NoHeight;
}

QWidget* QuickOpenViewController::tableViewHeaderViewForSection(TableView& table, int64_t section)
{
    return ListViewController::archiveHeader(table, section == Archived && !archivedItems_.isEmpty(), theme());
}

// Row texts are built only for the rows the table shows.
QWidget* QuickOpenViewController::tableViewRowViewForRow(TableView& table, int64_t row, int64_t section)
{
    const ListItemPtr item = listItemForRow(row, section);
    auto* cell = static_cast<ListEntryCell*>(table.makeView(EntryIdentifier, [] { return new ListEntryCell; }));
    cell->setDelegate(this);
    cell->setMode(ListEntryCell::OneButton);
    cell->swipeContainer()->hide();
    cell->trashButton()->hide();
    cell->resize(view()->width(), int(tableViewHeightForRow(table, row, section)));
    cell->setOffset(0);
    cell->setListItem(item);
    if (item && !item->attributedText())
        formatter_->restoreListItemAttributeText(*item);
    if (item && item->attributedText()) {
        cell->setTitleMargins(QMargins(-24, 8, 16, 4));
        cell->titleLabel()->setAttributedText(item->attributedText());
        cell->titleLabel()->show();
    } else {
        cell->titleLabel()->hide();
    }
    cell->setContentColor(toQColor(Themeset::inactiveButtonColorForTheme(theme())));
    return cell;
}

QColor QuickOpenViewController::backgroundColorForListEntry(const ListEntryCell& cell)
{
    const ThemeID current = theme();
    const qsizetype row = tableView_->rowForView(&cell);
    if (row < 0 || row != tableView_->selectedRow())
        return toQColor(Themeset::menuBackgroundColorForTheme(current));
    if (!tableView_->isActiveWindow())
        return toQColor(Themeset::backWindowHighlightBackgroundColorForTheme(current));
    const QWidget* focus = QApplication::focusWidget();
    const bool ours = focus && (focus == tableView_ || view()->isAncestorOf(focus));
    return toQColor(ours ? Themeset::firstResponderHighlightBackgroundColorForTheme(current)
                         : Themeset::keyWindowHighlightBackgroundColorForTheme(current));
}

// Only a click opens: moves made from the field select without the table having the focus.
void QuickOpenViewController::tableViewDidSelectRow(TableView&, int64_t row, int64_t section)
{
    if (QApplication::focusWidget() != tableView_ || !listItemForRow(row, section))
        return;
    restoreFirstResponder();
    open(row, section);
}

void QuickOpenViewController::open(int64_t row, int64_t section)
{
    const ListItemPtr item = listItemForRow(row, section);
    if (!item || !delegate_)
        return;
    if (section == Tags)
        delegate_->quickOpenDidSelectStorage(*this, item->storage(), item->key());
    else
        delegate_->quickOpenDidSelectNote(*this, std::make_shared<Note>(item->key(), item->storage()));
}

// --- Selection

void QuickOpenViewController::select(int64_t row, int64_t section)
{
    bridge_->selectRow(row, section);
}

void QuickOpenViewController::selectNextNote()
{
    const std::optional<IndexPath> at = bridge_->selectedRow();
    if (!at)
        return;
    for (int64_t section = at->section, row = at->row + 1; section <= Archived; ++section, row = 0)
        if (row < listOf(section)->size())
            return select(row, section);
}

void QuickOpenViewController::selectPreviousNote()
{
    const std::optional<IndexPath> at = bridge_->selectedRow();
    if (!at)
        return;
    if (at->row >= 1)
        return select(at->row - 1, at->section);
    for (int64_t section = at->section - 1; section >= Tags; --section)
        if (!listOf(section)->isEmpty())
            return select(listOf(section)->size() - 1, section);
}

void QuickOpenViewController::selectNote(const NotePtr& note)
{
    for (const int64_t section : {Tags, Notes, Archived}) {
        const ListItems& list = *listOf(section);
        if (!note && !list.isEmpty())
            return select(0, section);
        if (!note || section == Tags)
            continue;
        for (qsizetype row = 0; row < list.size(); ++row)
            if (list[row]->storage() == note->storage() && list[row]->key() == note->key())
                return select(row, section);
    }
}

// --- Keys

bool QuickOpenViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (wrapper_ && watched == wrapper_->searchField() && event->type() == QEvent::KeyPress)
        return handleFieldKey(static_cast<QKeyEvent*>(event)->key());
    return ViewController::eventFilter(watched, event);
}

bool QuickOpenViewController::handleFieldKey(int key)
{
    switch (key) {
    case Qt::Key_Up:
        selectPreviousNote();
        return true;
    case Qt::Key_Down:
        selectNextNote();
        return true;
    case Qt::Key_Escape:
        cancelOperation();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        enter();
        return true;
    default:
        return false;
    }
}

void QuickOpenViewController::enter()
{
    if (selectedQuery_.startsWith(QLatin1Char(':'))) {
        if (delegate_)
            delegate_->quickOpenDidEnterCommand(*this, selectedQuery_);
        return;
    }
    if (const std::optional<IndexPath> at = bridge_->selectedRow())
        open(at->row, at->section);
}

// --- Frame

// The panel keeps its top edge and grows downwards as results arrive, centred over the container.
void QuickOpenViewController::resizeToFit()
{
    QWidget* superview = view()->parentWidget();
    QWidget* container = delegate_ ? delegate_->containerViewForQuickOpen(*this) : nullptr;
    if (!superview)
        return;
    const QRect r = container ? QRect(container->mapTo(superview, QPoint(0, 0)), container->size()) : QRect();
    const double tagRow = TagRowHeight + rowHeightDelta_;
    const double itemRow = NoteRowHeight + rowHeightDelta_;
    const double content = tags_.size() * tagRow + FieldHeight + (items_.size() + archivedItems_.size()) * itemRow;
    const double maxHeight = 3 * itemRow + FieldHeight;
    const double height = std::min(maxHeight, content);
    const double width = std::min(double(0.8f) * r.width(), maxHeight);
    const double x = r.left() + (r.width() - width) * 0.5;
    // Heights as the window's: all of it, and the content below its toolbar strip (all of it without one).
    const auto* window = qobject_cast<const Window*>(superview->window());
    const double layoutHeight = window ? window->contentLayoutRect().height() : superview->height();
    const double frameHeight = superview->height();
    // The bottom edge counted upwards, as the top is never above the content's top.
    const double bottom = std::min(layoutHeight - height, (maxHeight - height) + (frameHeight - maxHeight) * double(0.6f));
    const double top = frameHeight - (bottom + height);
    view()->setGeometry(qRound(x), qRound(top), qRound(width), qRound(height));
}

// --- View

QWidget* QuickOpenViewController::loadView()
{
    auto* view = new QWidget;
    view->setAutoFillBackground(true);
    auto* shadow = new QGraphicsDropShadowEffect(view);
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    shadow->setColor(QColor(0, 0, 0, 90));
    view->setGraphicsEffect(shadow);
    wrapper_ = new SearchFieldWrapper(view);
    wrapper_->searchField()->installEventFilter(this);
    tableView_ = new TableView(view);
    tableView_->setFocusPolicy(Qt::StrongFocus);
    bridge_ = new TableBridge(tableView_, this, this);
    progress_ = new QProgressBar(view);
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->hide();
    cancelButton_ = new QToolButton(view);
    cancelButton_->setText(QStringLiteral("\u2715"));
    cancelButton_->setAutoRaise(true);
    connect(cancelButton_, &QToolButton::clicked, this, &QuickOpenViewController::cancelOperation);
    connect(wrapper_->searchField(), &QLineEdit::textEdited, this, &QuickOpenViewController::searchTextDidChange);
    connect(wrapper_->searchField(), &QLineEdit::editingFinished, this, &QuickOpenViewController::endEditing);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget*) {
        if (old && this->view()->isAncestorOf(old))
            endEditing();
    });
    connect(tableView_, &TableView::selectionDidChange, this, [this] { bridge_->reloadSelectedRow(); });
    return view;
}

void QuickOpenViewController::viewDidLoad()
{
    reloadFonts();
    reloadTheme();
}

void QuickOpenViewController::viewDidLayout()
{
    const int w = view()->width();
    wrapper_->setGeometry(8, 10, w - 44, 28);
    cancelButton_->setGeometry(w - 34, 10, 28, 28);
    progress_->setGeometry(w - 70, 18, 30, 12);
    tableView_->setGeometry(0, int(FieldHeight), w, std::max(0, view()->height() - int(FieldHeight)));
}

void QuickOpenViewController::reloadFonts()
{
    rowHeightDelta_ = (Typeset::fontSizeForSizePreset(core_.typeSize()) - Typeset::fontSizeForSizePreset(0)) * 4.5;
    formatter_->reloadFonts(core_.typeSize(), theme());
}

void QuickOpenViewController::reloadTheme()
{
    const QColor background = toQColor(Themeset::menuBackgroundColorForTheme(theme()));
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, background);
    view()->setPalette(palette);
    tableView_->setBackgroundColor(background);
    tableView_->setSelectionColor(QColor());
    wrapper_->setBackgroundColor(toQColor(Themeset::headerBackgroundColorForTheme(theme())));
    wrapper_->setTextColor(toQColor(Themeset::fieldColorForTheme(theme())));
    for (const ListItems* list : {&tags_, &items_, &archivedItems_})
        for (const ListItemPtr& item : *list)
            item->setAttributedText(nullptr);
    reloadFonts();
    bridge_->reloadData();
}

ThemeID QuickOpenViewController::theme() const
{
    return core_.colorTheme();
}
