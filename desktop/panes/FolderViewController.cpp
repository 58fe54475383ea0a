#include "panes/FolderViewController.h"

#include "kit/Image.h"
#include "kit/QtColor.h"

#include "Core.h"
#include "Dispatch.h"
#include "Log.h"
#include "Search/Score.h"
#include "Themes/Typeset.h"
#include "text/FontFaces.h"

#include <QCollator>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString BlankIdentifier = QStringLiteral("folderblank");
const QString EntryIdentifier = QStringLiteral("folderentry");
const QString HeaderIdentifier = QStringLiteral("folderheader");
constexpr TypefaceID SidebarTypeface = 0;
constexpr qint64 MaxMetaSize = 4096;

// The sidebar's order of tags: the locale's, ignoring case.
struct TagOrder {
    QCollator collator = [] {
        QCollator made;
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    bool operator()(const QString& a, const QString& b) const { return collator.compare(a, b) < 0; }
};

bool isLight(ThemeID theme)
{
    return Themeset::themeStyleForTheme(theme) == ThemeStyleLight;
}

// The ".meta" text when it is UTF-8, not empty, at most 4 KiB and spells the name; else the name.
QString displaySpelling(const QString& directory, const QString& name)
{
    QFile meta(directory + QLatin1Char('/') + name + QStringLiteral("/.meta"));
    if (!meta.open(QIODevice::ReadOnly))
        return name;
    const QByteArray bytes = meta.read(MaxMetaSize + 1);
    if (bytes.isEmpty() || bytes.size() > MaxMetaSize)
        return name;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString spelling = decoder(bytes);
    if (decoder.hasError() || spelling.toLower() != name)
        return name;
    return spelling;
}

// A section title over a fill of its own (translucent in the dark themes, so drawn over the table's).
class HeaderView : public QLabel {
public:
    HeaderView() { keepInset(); }

    void setFill(const QColor& fill)
    {
        fill_ = fill;
        update();
    }

protected:
    bool event(QEvent* event) override
    {
        const bool handled = QLabel::event(event);
        // A frame sets its margins anew when it is moved to another parent or polished.
        if (event->type() == QEvent::ParentChange || event->type() == QEvent::Polish)
            keepInset();
        return handled;
    }

    void paintEvent(QPaintEvent* event) override
    {
        if (fill_.isValid())
            QPainter(this).fillRect(rect(), fill_);
        QLabel::paintEvent(event);
    }

private:
    // Margins, not an indent: a label indents from the bottom too when aligned there.
    void keepInset() { setContentsMargins(FolderEntryCell::TextInset, 0, 0, 8); }

    QColor fill_;
};

} // namespace

// Hands the store's tag events to the controller on the main queue; the controller may be gone by then.
class FolderViewController::Listener : public NoteStorageListener {
public:
    explicit Listener(FolderViewController* controller) : controller_(controller) {}

    void noteTagDidAddToStorage(const QString& name, int tag) override
    {
        DispatchQueue::main()->async([controller = controller_, name, tag] {
            if (controller)
                controller->tagAdded(name, tag);
        });
    }
    void noteTagDidDeleteFromStorage(const QString& name, int tag) override
    {
        DispatchQueue::main()->async([controller = controller_, name, tag] {
            if (controller)
                controller->tagDeleted(name, tag);
        });
    }
    void noteDidUpdateFromRemoteServer(const NotePtr&) override {}
    void noteDidDeleteFromRemoteServer(const NotePtr&) override {}
    void noteDidAddToStorage(const NotePtr&, int, const QString&) override {}
    void noteDidDeleteFromStorage(const NotePtr&, int, const QString&) override {}
    void noteDidMoveTo(const NotePtr&, const NotePtr&) override {}
    void noteWillMoveTo(const NotePtr&, const NotePtr&) override {}

private:
    QPointer<FolderViewController> controller_;
};

FolderViewController::FolderViewController(Core& core, QObject* parent)
    : ViewController(parent), core_(core), listener_(std::make_shared<Listener>(this))
{
}

FolderViewController::~FolderViewController()
{
    core_.removeNoteStorageListener(listener_.get());
    LogInfo("folder:dealloc");
}

QString FolderViewController::findTagInStorage(int storage, const QString& query) const
{
    const QStringList* list = storage == NoteTagHashtag ? &hashtags_ : storage == NoteTagMention ? &mentions_ : nullptr;
    if (!list)
        return {};
    for (qsizetype i = list->size() - 1; i >= 0; --i)
        if (list->at(i).compare(query, Qt::CaseInsensitive) == 0)
            return list->at(i);
    QString best;
    double bestScore = 0;
    for (const QString& tag : *list)
        if (const double score = Score::scoreAgainst(tag, query, std::nullopt, ScoreOptionDivideByStringLength);
            score > 0 && score >= bestScore) {
            best = tag;
            bestScore = score;
        }
    return best;
}

QStringList FolderViewController::tagItemsFromDirectory(const QString& directory)
{
    QStringList items;
    const QStringList names = QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        if (!name.startsWith(QLatin1Char('.')) && Note::isSafePathComponent(name))
            items.append(displaySpelling(directory, name));
    std::sort(items.begin(), items.end(), TagOrder());
    return items;
}

void FolderViewController::selectStorage(int storage, const QString& tag, Completion completion)
{
    selectedStorage_ = storage < NoteStorageInbox ? NoteStorageInbox : storage;
    selectedTag_ = tag;
    reloadFolders(std::move(completion));
}

void FolderViewController::reloadFolders(Completion completion)
{
    view();
    core_.fileQueue()->async([self = QPointer(this), completion = std::move(completion)] {
        QStringList mentions = tagItemsFromDirectory(Note::linkDirectoryForTag(NoteTagMention));
        QStringList hashtags = tagItemsFromDirectory(Note::linkDirectoryForTag(NoteTagHashtag));
        // Installed on the main queue, where the table reads them.
        DispatchQueue::main()->async([self, mentions, hashtags, completion] {
            if (!self)
                return;
            self->mentions_ = mentions;
            self->hashtags_ = hashtags;
            self->bridge_->reloadData();
            self->selectCurrentEntry();
            self->tableView_->show();
            if (completion)
                completion(true);
        });
    });
}

void FolderViewController::selectCurrentEntry()
{
    const auto rowOfTag = [&](const QStringList& list) -> int64_t {
        for (qsizetype i = 0; i < list.size(); ++i)
            if (list[i].compare(selectedTag_, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    };
    std::optional<IndexPath> entry;
    switch (selectedStorage_) {
    case NoteStorageInbox:
        entry = IndexPath{Inbox, 0};
        break;
    case NoteStorageArchive:
        entry = IndexPath{Archive, 0};
        break;
    case NoteTagHashtag:
    case NoteTagMention:
        if (const int64_t row = rowOfTag(*listOfKind(selectedStorage_)); row >= 0)
            entry = IndexPath{sectionOfKind(selectedStorage_), row};
        break;
    }
    selectingFromModel_ = true;
    if (entry)
        bridge_->selectRow(entry->row, entry->section);
    else
        tableView_->selectRow(-1);
    selectingFromModel_ = false;
}

void FolderViewController::reloadTheme()
{
    const ThemeID current = theme();
    const QColor background = toQColor(Themeset::menuBackgroundColorForTheme(current));
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, background);
    view()->setPalette(palette);
    tableView_->setBackgroundColor(background);
    // Light themes get the source-list fill from the table, tinted while it has the keys; the others'
    // cells fill themselves.
    if (isLight(current))
        tableView_->setSelectionColor(toQColor(Themeset::highlightBackgroundColorForTheme(current)),
                                      toQColor(Themeset::firstResponderHighlightBackgroundColorForTheme(current)));
    else
        tableView_->setSelectionColor(QColor());
    const QPixmap shadow = Image::named(Themeset::resourceNameForTheme(current) + QStringLiteral("-topbar"));
    shadowView_->setPixmap(shadow);
    shadowView_->setFixedHeight(shadow.isNull() ? 0 : int(shadow.deviceIndependentSize().height()));
    bridge_->reloadData();
    selectCurrentEntry();
}

ThemeID FolderViewController::theme() const
{
    return core_.colorTheme();
}

QWidget* FolderViewController::loadView()
{
    auto* view = new QWidget;
    view->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    tableView_ = new FolderTableView(view);
    tableView_->hide(); // until the first folders are in
    column->addWidget(tableView_);
    shadowView_ = new QLabel(view);
    shadowView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    shadowView_->setScaledContents(true);
    bridge_ = new TableBridge(tableView_, this, this);
    return view;
}

void FolderViewController::viewDidLoad()
{
    tableView_->setFolderDelegate(this);
    reloadTheme();
}

void FolderViewController::viewWillAppear()
{
    core_.removeNoteStorageListener(listener_.get());
    core_.addNoteStorageListener(listener_);
}

void FolderViewController::viewDidDisappear()
{
    core_.removeNoteStorageListener(listener_.get());
}

void FolderViewController::viewDidLayout()
{
    shadowView_->setGeometry(0, 0, view()->width(), shadowView_->height());
    shadowView_->raise();
    if (topPadding_ == TopPaddingHeight && bottomPadding_ == BottomPaddingHeight)
        return;
    topPadding_ = TopPaddingHeight;
    bottomPadding_ = BottomPaddingHeight;
    bridge_->reloadData();
    selectCurrentEntry();
}

QStringList* FolderViewController::listOfKind(int kind)
{
    return kind == NoteTagHashtag ? &hashtags_ : kind == NoteTagMention ? &mentions_ : nullptr;
}

FolderViewController::Section FolderViewController::sectionOfKind(int kind)
{
    return kind == NoteTagHashtag ? Hashtags : Mentions;
}

int64_t FolderViewController::tableViewNumberOfRowsInSection(TableView&, int64_t section)
{
    switch (section) {
    case TopPadding:
        return topPadding_ > 0 ? 1 : 0;
    case Hashtags:
        return hashtags_.size();
    case Mentions:
        return mentions_.size();
    case BottomPadding:
        return bottomPadding_ > 0 ? 1 : 0;
    default:
        return 1;
    }
}

double FolderViewController::tableViewHeightForRow(TableView&, int64_t, int64_t section)
{
    return section == TopPadding ? topPadding_ : section == BottomPadding ? bottomPadding_ : RowHeight;
}

double FolderViewController::tableViewHeightForHeaderInSection(TableView&, int64_t section)
{
    switch (section) {
    case Hashtags:
        return hashtags_.isEmpty() ? 0 : TagHeaderHeight;
    case Mentions:
        return mentions_.isEmpty() ? 0 : TagHeaderHeight;
    case Archive:
        return ArchiveGap;
    default:
        return 0;
    }
}

bool FolderViewController::tableViewShouldSelectRow(TableView&, int64_t, int64_t section)
{
    return section >= Inbox && section <= Archive;
}

QWidget* FolderViewController::tableViewRowViewForRow(TableView& table, int64_t row, int64_t section)
{
    if (section == TopPadding || section == BottomPadding)
        return table.makeView(BlankIdentifier, [] { return new QWidget; });
    auto* cell = static_cast<FolderEntryCell*>(table.makeView(EntryIdentifier, [] { return new FolderEntryCell; }));
    switch (section) {
    case Inbox:
        cell->setText(tr("All"));
        cell->setAccessibleName(tr("All Notes"));
        break;
    case Hashtags:
        cell->setText(Note::localizedNameForHashtag(hashtags_[row]));
        cell->setAccessibleName(Note::localizedAccessibilityLabelForHashtag(hashtags_[row]));
        break;
    case Mentions:
        cell->setText(Note::localizedNameForMention(mentions_[row]));
        cell->setAccessibleName(Note::localizedAccessibilityLabelForMention(mentions_[row]));
        break;
    default:
        cell->setText(Note::localizedNameForStorage(NoteStorageArchive));
        cell->setAccessibleName(QString());
    }
    cell->setDelegate(this);
    const ThemeID current = theme();
    cell->setTextColor(isLight(current) ? table.palette().color(QPalette::Text)
                                        : toQColor(Themeset::menuStrongColorForTheme(current)));
    cell->setFont(FontFaces::qfont(Typeset::boldFontForTypeface(SidebarTypeface, section == Inbox ? 18 : 14)));
    return cell;
}

QWidget* FolderViewController::tableViewHeaderViewForSection(TableView& table, int64_t section)
{
    auto* header = static_cast<HeaderView*>(table.makeView(HeaderIdentifier, [] {
        auto* label = new HeaderView;
        label->setForegroundRole(QPalette::WindowText); // else the table's Text, which the theme leaves alone
        label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        return label;
    }));
    const bool tags = (section == Hashtags && !hashtags_.isEmpty()) || (section == Mentions && !mentions_.isEmpty());
    header->setText(!tags ? QString() : section == Hashtags ? tr("H A S H T A G S") : tr("M E N T I O N S"));
    header->setAccessibleName(!tags ? QString() : section == Hashtags ? tr("Hashtags") : tr("Mentions"));
    header->setFont(FontFaces::qfont(Typeset::regularFontForTypeface(SidebarTypeface, 12)));
    const ThemeID current = theme();
    QPalette palette = table.palette();
    palette.setColor(QPalette::WindowText, isLight(current) ? table.palette().color(QPalette::Text)
                                                            : toQColor(Themeset::headerColorForTheme(current)));
    header->setPalette(palette);
    header->setFill(tags && !isLight(current) ? toQColor(Themeset::headerBackgroundColorForTheme(current)) : QColor());
    return header;
}

void FolderViewController::tableViewDidSelectRow(TableView&, int64_t row, int64_t section)
{
    if (selectingFromModel_)
        return;
    switch (section) {
    case Inbox:
        selectedStorage_ = NoteStorageInbox;
        selectedTag_.clear();
        break;
    case Hashtags:
    case Mentions:
        selectedStorage_ = section == Hashtags ? NoteTagHashtag : NoteTagMention;
        selectedTag_ = (section == Hashtags ? hashtags_ : mentions_)[row];
        break;
    case Archive:
        selectedStorage_ = NoteStorageArchive;
        selectedTag_.clear();
        break;
    default:
        return;
    }
    if (delegate_)
        delegate_->folderControllerDidSelectStorage(*this, selectedStorage_, selectedTag_);
}

bool FolderViewController::folderTableViewKeyDown(FolderTableView&, const KeyEvent& event)
{
    return delegate_ && delegate_->folderControllerDidKeyDown(*this, event);
}

std::optional<QColor> FolderViewController::backgroundColorForFolderEntry(const FolderEntryCell& cell)
{
    const ThemeID current = theme();
    if (isLight(current))
        return std::nullopt;
    const bool selected = tableView_->selectedRow() >= 0 && tableView_->rowForView(&cell) == tableView_->selectedRow();
    if (!selected)
        return toQColor(Themeset::menuBackgroundColorForTheme(current));
    if (!tableView_->isActiveWindow())
        return toQColor(Themeset::backWindowHighlightBackgroundColorForTheme(current));
    return toQColor(tableView_->hasFocus() ? Themeset::firstResponderHighlightBackgroundColorForTheme(current)
                                           : Themeset::keyWindowHighlightBackgroundColorForTheme(current));
}

void FolderViewController::tagAdded(const QString& tag, int kind)
{
    QStringList* list = listOfKind(kind);
    if (!list || list->contains(tag, Qt::CaseInsensitive))
        return;
    const Section section = sectionOfKind(kind);
    bridge_->beginUpdates();
    const int64_t index = std::upper_bound(list->begin(), list->end(), tag, TagOrder()) - list->begin();
    list->insert(index, tag);
    tableView_->insertRows(bridge_->rowForRow(index, section), 1, TableView::Animation::SlideUp);
    if (list->size() == 1)
        refreshHeader(section);
    bridge_->endUpdates();
}

void FolderViewController::tagDeleted(const QString& tag, int kind)
{
    QStringList* list = listOfKind(kind);
    if (!list)
        return;
    const Section section = sectionOfKind(kind);
    for (qsizetype i = list->size() - 1; i >= 0; --i) {
        if ((*list)[i].compare(tag, Qt::CaseInsensitive) != 0)
            continue;
        bridge_->beginUpdates();
        tableView_->removeRows(bridge_->rowForRow(i, section), 1, TableView::Animation::SlideDown);
        list->removeAt(i);
        if (list->isEmpty())
            refreshHeader(section);
        bridge_->endUpdates();
    }
    // The shown tag is gone: the sidebar falls back to all notes, as if the user had picked it.
    if (selectedStorage_ == kind && selectedTag_.compare(tag, Qt::CaseInsensitive) == 0)
        bridge_->selectRow(0, Inbox);
}

void FolderViewController::refreshHeader(Section section)
{
    const int64_t header = bridge_->rowForHeader(section);
    tableView_->removeRows(header, 1, TableView::Animation::SlideDown);
    tableView_->insertRows(header, 1, TableView::Animation::SlideDown);
}
