#include "panes/NoteViewController.h"

#include "kit/Alert.h"
#include "kit/Image.h"
#include "kit/KeyEvent.h"
#include "kit/MenuItem.h"
#include "kit/QtColor.h"
#include "kit/ScrollerStyle.h"
#include "panes/EditorStyle.h"
#include "panes/FindBar.h"
#include "views/Banner.h"
#include "views/PassThroughViews.h"

#include "Core.h"
#include "Dispatch.h"
#include "ConsoleLog.h"
#include "Log.h"
#include "Themes/Themeset.h"
#include "UserDefaults.h"
#include "text/FontFaces.h"
#include "text/TextPositionMap.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr double TextInsetHeight = 70.0;
constexpr qsizetype AutoSaveMinimumLength = 32;
constexpr double PasteCountDelay = 0.1;

// Measures how much wider a typeface and size set text than the default one.
const QString WidthSample = QStringLiteral(
    "The quiet harbour town woke slowly, its fishing boats rocking gently against the weathered wooden piers.");

double widthOf(const Font& font)
{
    return QFontMetricsF(FontFaces::qfont(font)).horizontalAdvance(WidthSample);
}

// How the alerts name a note: its first line, else its file name.
QString noteLabel(const NotePtr& note)
{
    constexpr qsizetype LabelLength = 60;
    const QString line = note->text().section(QLatin1Char('\n'), 0, 0).trimmed().left(LabelLength);
    if (!line.isEmpty())
        return line;
    const QString key = note->key();
    return key.isEmpty() ? QCoreApplication::translate("NoteViewController", "New note") : key;
}

bool opensWithoutAsking(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https" || scheme == u"mailto" || scheme == u"brindlewick";
}

} // namespace

NoteViewController::NoteViewController(QObject* parent)
    : ViewController(parent)
    , forwarder_(static_cast<WarehouseEditingDelegate*>(this), [](WarehouseEditingDelegate*) {})
    , openLink_([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    addHandler(Selector("useDefaultTypeSizeOffset:"), [this](QObject*) { useDefaultTypeSizeOffset(); });
    addHandler(Selector("useSmallerTypeSizeOffset:"), [this](QObject*) { useSmallerTypeSizeOffset(); });
    addHandler(Selector("useLargerTypeSizeOffset:"), [this](QObject*) { useLargerTypeSizeOffset(); });
    addHandler(Selector("performFindPanelAction:"), [this](QObject*) {
        view();
        findBar_->open();
    });
}

NoteViewController::~NoteViewController()
{
    // The view goes first: its text view must not outlive the storage it shows.
    if (isViewLoaded())
        delete view();
    consoleLog(QStringLiteral("note:dealloc!"));
}

NoteTextView* NoteViewController::textView()
{
    view();
    return textView_;
}

Typewriter& NoteViewController::typewriter()
{
    view();
    return *typewriter_;
}

QWidget* NoteViewController::loadView()
{
    auto* view = new QWidget;
    textView_ = new NoteTextView;
    textView_->setFrameShape(QFrame::NoFrame);
    saveFailureBar_ = new Banner;
    saveFailureBar_->setButtonTitle(tr("OK"));
    connect(saveFailureBar_->button(), &QPushButton::clicked, this, &NoteViewController::dismissSaveFailure);
    saveFailureBar_->hide();
    readOnlyBar_ = new Banner;
    connect(readOnlyBar_->button(), &QPushButton::clicked, this, &NoteViewController::makeEditable);
    readOnlyBar_->hide();
    findBar_ = new FindBar(*textView_);
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(saveFailureBar_);
    column->addWidget(readOnlyBar_);
    column->addWidget(findBar_);
    column->addWidget(textView_, 1);
    // The fade at the top of the text, over it.
    shadowView_ = new TransparentImageView(textView_);
    shadowView_->setScaledContents(true);
    return view;
}

void NoteViewController::viewDidLoad()
{
    textView_->setTextStorage(&textStorage_);
    typewriter_ = std::make_unique<Typewriter>(textView_);
    typewriter_->setDelegate(this);
    textView_->setDelegate(this);
    textView_->setNoteDelegate(this);
    reloadTextStorage();
    reloadThemeColors();
    reloadTextContainerInset();
}

void NoteViewController::viewDidLayout()
{
    reloadTextContainerInset();
    // The text view spans the pane's width, wherever the bars above it put its top.
    shadowView_->setGeometry(0, 0, view()->width(), shadowView_->pixmap().isNull() ? 0 : 24);
    shadowView_->raise();
}

bool NoteViewController::validateMenuItem(MenuItem& item)
{
    if (item.action() == Selector("useSmallerTypeSizeOffset:"))
        return canHaveSmallerTypeSizeOffset();
    if (item.action() == Selector("useLargerTypeSizeOffset:"))
        return canHaveLargerTypeSizeOffset();
    return true;
}

// --- Type size, typeface, theme, margins

double NoteViewController::fontSizeForSizePreset(SizePreset preset, int64_t offset)
{
    const double size = double(Typeset::fontSizeForSizePreset(preset) + offset - 4);
    return size < 9 ? 8.0 : size;
}

double NoteViewController::textInsetForWidth(double width, double ratio)
{
    const double h = width / 2;
    const double x = std::min({std::max(h - 360, 70.0), std::max(h - 220, 70.0), std::max(h - 150, 10.0)});
    return std::max(10.0, x) / ratio;
}

bool NoteViewController::canHaveSmallerTypeSizeOffset() const
{
    const Core& core = Core::shared();
    return fontSizeForSizePreset(core.typeSize(), core.typeSizeOffset()) >
           fontSizeForSizePreset(core.typeSize(), core.typeSizeOffset() - 1);
}

void NoteViewController::useDefaultTypeSizeOffset()
{
    setTypeSizeOffset(0);
}

void NoteViewController::useSmallerTypeSizeOffset()
{
    if (canHaveSmallerTypeSizeOffset())
        setTypeSizeOffset(Core::shared().typeSizeOffset() - 1);
}

void NoteViewController::useLargerTypeSizeOffset()
{
    if (canHaveLargerTypeSizeOffset())
        setTypeSizeOffset(Core::shared().typeSizeOffset() + 1);
}

void NoteViewController::setTypeSizeOffset(int64_t offset)
{
    Core::shared().setTypeSizeOffset(offset);
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(offset, QStringLiteral("typeoffset"));
    defaults.synchronize();
    reloadTypeSize();
}

void NoteViewController::reloadTypeSize()
{
    view();
    auto snapshot = std::make_shared<Note>();
    snapshotScrollPosition(*snapshot);
    reloadTextStorage();
    reloadThemeColors();
    reloadTextContainerInset();
    restoreNoteScrollPosition(snapshot);
    restoreNoteInsertionPoint(snapshot);
}

void NoteViewController::reloadTypeFace()
{
    view();
    reloadTextStorage();
}

void NoteViewController::reloadTheme()
{
    view();
    reloadTextStorage();
    reloadThemeColors();
}

void NoteViewController::reloadTextStorage()
{
    const Core& core = Core::shared();
    EditorStyle::applyToStorage(textStorage_, core.typeFace(),
                                fontSizeForSizePreset(core.typeSize(), core.typeSizeOffset()), core.colorTheme());
    EditorStyle::applyToView(*textView_, textStorage_, core.colorTheme());
}

void NoteViewController::reloadThemeColors()
{
    const ThemeID theme = Core::shared().colorTheme();
    textView_->setCaretColor(toQColor(Themeset::caretColorForTheme(theme)));
    shadowView_->setPixmap(Image::named(Themeset::resourceNameForTheme(theme) + QStringLiteral("-topbar"),
                                        view()->devicePixelRatioF()));
    for (Banner* banner : {saveFailureBar_, readOnlyBar_})
        banner->setColors(toQColor(Themeset::conflictBackdropColorForTheme(theme)),
                          toQColor(Themeset::textColorForTheme(theme)),
                          toQColor(Themeset::backgroundColorForTheme(theme)));
    QPalette find = findBar_->palette();
    find.setColor(QPalette::Window, toQColor(Themeset::backgroundColorForTheme(theme)));
    find.setColor(QPalette::Base, toQColor(Themeset::fieldBackgroundColorForTheme(theme)));
    const QColor findText = toQColor(Themeset::fieldColorForTheme(theme));
    find.setColor(QPalette::Text, findText);
    find.setColor(QPalette::PlaceholderText, placeholderColor(findText));
    findBar_->setPalette(find);
    ScrollerStyle::apply(*textView_->verticalScrollBar(), toQColor(Themeset::backgroundColorForTheme(theme)),
                         toQColor(Themeset::symbolColorForTheme(theme)));
}

void NoteViewController::reloadTextContainerInset()
{
    double ratio = 1.0;
    const Core& core = Core::shared();
    if (core.typeSizeOffset() >= 1) {
        const double base = widthOf(Typeset::regularFontForTypeface(0, int64_t(fontSizeForSizePreset(0, 0))));
        const double size = fontSizeForSizePreset(core.typeSize(), core.typeSizeOffset());
        const double current = widthOf(Typeset::regularFontForTypeface(core.typeFace(), int64_t(size)));
        if (current > base)
            ratio = current / base;
    }
    const double width = isViewLoaded() ? view()->width() : 0;
    textView()->setTextContainerInset(textInsetForWidth(width, ratio), TextInsetHeight);
}

// --- Showing notes

void NoteViewController::showNote(const NotePtr& note, Completion completion)
{
    view();
    if (warehouse_->editingNote()) {
        if (warehouse_->isEditingNote(note)) {
            if (completion)
                completion();
            return;
        }
        warehouse_->endEditingNote([] {});
    }
    if (note && !note->key().isEmpty())
        showStoredNote(note, std::move(completion));
    else
        showNewNote(std::move(completion));
}

void NoteViewController::showStoredNote(const NotePtr& note, Completion completion)
{
    LogInfo("note:show %1/%2", Note::resourceNameForStorage(note->storage()), note->key());
    auto opened = std::make_shared<Note>(note->key(), note->storage());
    if (delegate_)
        delegate_->noteControllerNoteDidOpen(*this, opened);
    // Until its text is in, the view still shows the previous note's: nothing typed there may
    // reach either note.
    shownNote_.reset();
    shownNew_ = false;
    textView_->setReadOnly(true);
    warehouse_->startEditingNote(opened, [self = QPointer(this), opened, completion = std::move(completion)] {
        // On the file queue: the text was read; nothing here touches the view.
        const QString text = opened->text().isNull() ? QStringLiteral("") : opened->text();
        const QString failure = opened->readFailure();
        const QString caution = opened->readCaution();
        Note::services()->appleCloud()->prepareNote(opened, {});
        DispatchQueue::main()->async([self, opened, text, failure, caution, completion] {
            // A note opened since owns the view now; this one's text must not reach it.
            if (self && self->warehouse_ && self->warehouse_->editingNote() == opened)
                self->openText(opened, text, failure, caution);
            if (completion)
                completion();
        });
    });
}

void NoteViewController::showNewNote(Completion completion)
{
    LogInfo("note:show new");
    const QString text = delegate_ ? delegate_->textForNewNote(*this) : QString();
    auto note = std::make_shared<Note>();
    note->setStorage(delegate_ ? delegate_->storageForNewNote(*this) : NoteStorageInbox);
    warehouse_->startEditingNote(note, [this, note, text, completion = std::move(completion)] {
        openText(note, text, QString(), QString());
        shownNew_ = true;
        if (completion)
            completion();
    });
}

void NoteViewController::openText(const NotePtr& note, const QString& text, const QString& readFailure,
                                  const QString& caution)
{
    if (!readFailure.isEmpty())
        showReadOnlyBar(tr("This note could not be read, so it is shown read-only and never saved: %1").arg(readFailure),
                        false);
    else if (!caution.isEmpty())
        showReadOnlyBar(tr("%1 It is shown read-only so that saving does not replace those bytes; a copy of the "
                           "file goes to the Trash before the first save.")
                            .arg(caution),
                        true);
    else
        showReadOnlyBar(QString(), false);
    typewriter_->setText(text);
    // No caret left from the note shown before: the opener restores the note's own, if it wants it.
    textView_->setSelectedRange({0, 0});
    shownNote_ = note;
    reloadTextContainerInset();
    textView_->clearUndoHistory();
    warehouse_->resetEditingChanges();
}

void NoteViewController::showReadOnlyBar(const QString& reason, bool editable)
{
    readOnlyReason_ = reason;
    textView_->setReadOnly(!reason.isEmpty());
    readOnlyBar_->setMessage(reason);
    readOnlyBar_->setButtonTitle(editable ? tr("Edit Anyway") : QString());
    readOnlyBar_->setVisible(!reason.isEmpty());
}

void NoteViewController::makeEditable()
{
    if (!shownNote_ || shownNote_->readCaution().isEmpty())
        return;
    LogInfo("note:%1 made editable as read", shownNote_->key());
    shownNote_->acceptReadText();
    showReadOnlyBar(QString(), false);
}

bool NoteViewController::showsEditingNote() const
{
    return shownNote_ && warehouse_ && shownNote_ == warehouse_->editingNote();
}

QString NoteViewController::editingText()
{
    return showsEditingNote() ? textView()->string() : QString();
}

QString NoteViewController::editingText(qsizetype length)
{
    return showsEditingNote() ? textView()->substring({0, length}) : QString();
}

void NoteViewController::newNoteDidTapFromMenu()
{
    showNote(nullptr, [self = QPointer(this)] {
        if (self)
            self->textView_->setFocus(Qt::OtherFocusReason);
    });
}

void NoteViewController::restoreInsertionPoint()
{
    if (const NotePtr note = warehouse_->editingNote())
        restoreNoteInsertionPoint(note);
}

void NoteViewController::restoreNoteInsertionPoint(const NotePtr& note)
{
    const qsizetype length = textView()->length();
    textView_->setSelectedRange({std::clamp<qsizetype>(note->selectedCaret(), 0, length), 0});
}

void NoteViewController::restoreScrollPosition()
{
    if (const NotePtr note = warehouse_->editingNote())
        restoreNoteScrollPosition(note);
}

void NoteViewController::restoreNoteScrollPosition(const NotePtr& note)
{
    const qsizetype length = textView()->length();
    const int64_t caret = note->scrollCaret();
    if (caret < 1 || length == 0) {
        scrollToTop();
        return;
    }
    // A meta file may hold anything: the span in view is clamped to the text.
    const double offset = note->scrollCaretOffset();
    const double end = double(caret) + (std::isfinite(offset) && offset > 0 ? offset : 0.0);
    const qsizetype start = std::min<qsizetype>(caret, length - 1);
    const qsizetype last = end < double(length) ? qsizetype(end) : length - 1;
    textView_->scrollRangeToVisible({start, std::max(last, start) - start});
}

void NoteViewController::scrollToTop()
{
    textView()->verticalScrollBar()->setValue(0);
}

void NoteViewController::goToLine(qsizetype line)
{
    const TextRange range = typewriter().lineRangeForLineNumber(line);
    textView_->setSelectedRange({range.location, 0});
    textView_->ensureCursorVisible();
}

QString NoteViewController::selectedText()
{
    const TextRange selection = textView()->selectedRange();
    return textView_->substring(selection);
}

bool NoteViewController::showFindIndicator(const QString& query, bool excludeFirstLine)
{
    const QString& text = textView()->string();
    const qsizetype at = query.isEmpty() ? -1 : text.indexOf(query, 0, Qt::CaseInsensitive);
    if (at < 0 || (excludeFirstLine && paragraphRangeForRange(text, {at, query.size()}).location == 0)) {
        textView_->showFindIndicatorForRange({0, 0});
        return false;
    }
    const TextRange match{at, query.size()};
    textView_->setSelectedRange({match.end(), 0});
    textView_->scrollRangeToVisible(match);
    // Twice through the main queue, so the layout has settled before the mark is drawn; a text that
    // changed meanwhile gets none.
    const qsizetype length = text.size();
    DispatchQueue::main()->async([self = QPointer(this), match, length] {
        if (!self || self->textView_->length() != length)
            return;
        self->textView_->scrollRangeToVisible(match);
        DispatchQueue::main()->async([self, match, length] {
            if (self && self->textView_->length() == length)
                self->textView_->showFindIndicatorForRange(match);
        });
    });
    return true;
}

void NoteViewController::applicationWillTerminateUsingBlock(Completion block)
{
    warehouse_->emergencyCommitEditingNote(std::move(block));
}

void NoteViewController::applicationShouldTerminate(Completion proceed)
{
    warehouse_->emergencyCommitEditingNote({});
    const QList<NotePtr> unsaved = warehouse_->unsavedNotes();
    if (unsaved.isEmpty()) {
        proceed();
        return;
    }
    QStringList names;
    for (const NotePtr& note : unsaved)
        names.append(QStringLiteral("• ") + noteLabel(note));
    Alert alert;
    alert.setStyle(Alert::Style::Critical);
    alert.setMessageText(tr("Some notes could not be saved"));
    alert.setInformativeText(tr("%1\n\nTheir text is kept only in memory while the application runs, and is "
                                "saved as soon as the disk takes it. Quitting now loses it: free some space or make "
                                "the notes folder writable, or copy the text elsewhere, before you quit.")
                                 .arg(names.join(QLatin1Char('\n'))));
    alert.addButton(tr("Don't Quit"));
    alert.addButton(tr("Quit Anyway"));
    alert.beginSheetModal(view()->window(), [proceed = std::move(proceed)](int response) {
        if (response == Alert::FirstButtonReturn + 1)
            proceed();
    });
}

// Told above the text, not in a window of its own: a window that opens while the user types would
// take the keys meant for the note.
void NoteViewController::warehouseDidFailToSaveNote(Warehouse&, const NotePtr& note)
{
    view();
    const QString label = tr("“%1”").arg(noteLabel(note));
    if (!unsavedLabels_.contains(label))
        unsavedLabels_.append(label);
    saveFailureBar_->setMessage(tr("%1 could not be saved. The text is kept in memory and saved as soon as the disk "
                                   "takes it (it is tried again every few seconds, and when you quit).")
                                    .arg(unsavedLabels_.join(QStringLiteral(", "))));
    saveFailureBar_->show();
}

QString NoteViewController::saveFailureMessage() const
{
    return unsavedLabels_.isEmpty() ? QString() : saveFailureBar_->message();
}

void NoteViewController::warehouseDidSaveUnsavedNotes(Warehouse&)
{
    dismissSaveFailure();
}

void NoteViewController::dismissSaveFailure()
{
    unsavedLabels_.clear();
    if (isViewLoaded())
        saveFailureBar_->hide();
}

// --- The Warehouse's questions

bool NoteViewController::warehouseReloadScrollPositionForNote(Warehouse&, const NotePtr& note)
{
    if (note != shownNote_)
        return false;
    snapshotScrollPosition(*note);
    return true;
}

void NoteViewController::snapshotScrollPosition(Note& note)
{
    const QRect visible = textView()->viewport()->rect();
    const qsizetype top = textView_->characterIndexForPoint(visible.topLeft());
    const qsizetype bottom = textView_->characterIndexForPoint(visible.bottomRight());
    note.setScrollCaret(top);
    note.setScrollCaretOffset(double(std::max(bottom, top) - top));
    note.setSelectedCaret(textView_->selectedRange().location);
}

// The view's text belongs to the note it was set for, and to no other.
bool NoteViewController::warehouseReloadTextForNote(Warehouse&, const NotePtr& note)
{
    if (note != shownNote_)
        return false;
    note->setText(typewriter().textForSaving());
    return true;
}

// A short stored note waits for an explicit save, a switch or the quit; a note begun here is saved
// after a pause whatever its length, like a long one.
bool NoteViewController::warehouseShouldAutoSaveEditingNote(Warehouse&, const NotePtr&)
{
    return shownNew_ || textView()->length() >= AutoSaveMinimumLength;
}

void NoteViewController::warehouseRemoteServerDidUpdateEditingNote(Warehouse&, const NotePtr& note, const QString& text)
{
    DispatchQueue::main()->async([self = QPointer(this), note, text] {
        // Another note opened meanwhile: the text is not its.
        if (!self || self->shownNote_ != note)
            return;
        self->replaceTextInPlace(text);
        self->warehouse_->resetEditingChanges();
    });
}

// Only what differs is replaced: the caret, the selection and the line at the top of the view stay
// with the text they stood in. The view forgets its undo history, whose steps point into the old text.
void NoteViewController::replaceTextInPlace(const QString& text)
{
    NoteTextView* view = textView();
    const TextPositionMap map(view->string(), text);
    const TextRange selection = view->selectedRange();
    const qsizetype top = view->characterIndexForPoint(view->viewport()->rect().topLeft());
    const int topY = view->caretRectForPosition(top).top();
    const TextRange changed = map.changedAfter();
    textStorage_.replaceCharacters(map.changedBefore(), text.mid(changed.location, changed.length));
    typewriter_->resetState();
    view->clearUndoHistory();
    view->setSelectedRange(map.map(selection));
    view->scrollPositionToY(map.map(top), topY);
}

// --- Typing

void NoteViewController::addEditingChanges(int64_t count)
{
    if (warehouse_)
        warehouse_->addEditingChanges(count);
}

bool NoteViewController::textViewShouldChangeTextInRanges(TextView&, const QList<TextRange>& ranges,
                                                          const QStringList& replacementStrings)
{
    if (typewriter_->isEditingText() || ranges.size() != 1)
        return true;
    TextRange range = ranges.first();
    const int64_t count = replacementStrings.first().size() + range.length;
    const bool handled = typewriter_->handleChangeTextInRange(&range, replacementStrings.first());
    if (handled)
        textView_->setSelectedRange(range);
    addEditingChanges(count);
    return !handled;
}

void NoteViewController::noteTextViewDidBecomeFirstResponder(NoteTextView&)
{
    if (delegate_)
        delegate_->noteControllerDidBecomeFirstResponder(*this);
}

void NoteViewController::noteTextViewDidResignFirstResponder(NoteTextView&)
{
    if (delegate_)
        delegate_->noteControllerDidResignFirstResponder(*this);
}

bool NoteViewController::noteTextViewDidKeyDown(NoteTextView&, const QKeyEvent& event)
{
    const KeyEvent key = KeyEvent::fromQt(event);
    if (key.has(KeyEvent::CommandKey) && key.charactersIgnoringModifiers == u"s") {
        warehouse_->endEditingNote([] {});
        return true;
    }
    return delegate_ && delegate_->noteControllerDidKeyDown(*this, event);
}

void NoteViewController::noteTextViewDidTypewriterAction(NoteTextView&, TypewriterAction action)
{
    if (textView_->isReadOnly())
        return;
    TextRange selection = textView_->selectedRange();
    typewriter_->handleAction(action, &selection);
    textView_->setSelectedRange(selection);
    addEditingChanges(1);
}

bool NoteViewController::noteTextViewReadSelectionFromPasteboard(NoteTextView&, const QMimeData&)
{
    // Counted for the note pasted into only.
    DispatchQueue::main()->after(PasteCountDelay, [self = QPointer(this), note = shownNote_] {
        if (self && note && self->shownNote_ == note)
            self->addEditingChanges(1);
    });
    return true;
}

void NoteViewController::noteTextViewClickedOnLink(NoteTextView&, const QString& link, qsizetype index)
{
    typewriter_->handleLink(link, index);
}

void NoteViewController::noteTextViewDidUndo(NoteTextView&, qsizetype count)
{
    typewriter_->resetState();
    addEditingChanges(count);
}

// --- Links and check boxes

bool NoteViewController::typewriterHandleTapEmail(Typewriter&, const QString& address)
{
    openLink(QStringLiteral("mailto:") + address);
    return true;
}

bool NoteViewController::typewriterHandleTapLink(Typewriter&, const QString& link)
{
    openLink(link);
    return true;
}

void NoteViewController::openLink(const QString& link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    if (opensWithoutAsking(url)) {
        openLink_(url);
        return;
    }
    // Any other scheme may start a program (a file link to a launcher): the user decides, and
    // Cancel is the default.
    Alert alert;
    alert.setMessageText(tr("Open \u201C%1\u201D?").arg(url.toDisplayString()));
    alert.addButton(QCoreApplication::translate("Alert", "Cancel"));
    alert.addButton(tr("Open"));
    alert.beginSheetModal(view()->window(), [self = QPointer(this), url](int response) {
        if (self && response == Alert::FirstButtonReturn + 1)
            self->openLink_(url);
    });
}

void NoteViewController::typewriterDidTapToCompletedCheckbox(Typewriter&, TextRange mark)
{
    setCheckboxCompleted(true, mark);
}

void NoteViewController::typewriterDidTapToUncompletedCheckbox(Typewriter&, TextRange mark)
{
    setCheckboxCompleted(false, mark);
}

void NoteViewController::setCheckboxCompleted(bool completed, TextRange mark)
{
    const TextRange selection = textView_->selectedRange();
    const int scroll = textView_->verticalScrollBar()->value();
    typewriter_->setCheckboxCompleted(completed, mark);
    textView_->setSelectedRange(selection);
    textView_->verticalScrollBar()->setValue(scroll);
    addEditingChanges(1);
}
