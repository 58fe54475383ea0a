#include "panes/NoteTextView.h"

#include "kit/AnimationContext.h"
#include "kit/MenuItem.h"
#include "kit/ViewController.h"
#include "kit/Window.h"

#include "Typewriter/TypewriterText.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>

namespace {

// The formatting commands in TypewriterAction order.
constexpr const char* FormattingActions[] = {
    "makeHeading1:", "makeHeading2:", "makeHeading3:", "makeHeading4:", "makeHeading5:",
    "makeHeading6:", "makeBold:", "makeItalic:", "makeStrikethrough:", "makeCode:",
    "makeUnorderedList:", "makeOrderedList:", "makeTodoList:", "makeTodoListComplete:", "makeAddLink:",
    "makeShiftLeft:", "makeShiftRight:", "makeMoveLineUp:", "makeMoveLineDown:", "makeClearFormatting:",
};

constexpr double FindIndicatorHold = 1.0;
constexpr double FindIndicatorFade = 0.3;

// Focus moving with the window or into a popup leaves the view the window's first responder.
bool keepsResponder(Qt::FocusReason reason)
{
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

} // namespace

NoteTextView::NoteTextView(QWidget* parent) : TextView(parent)
{
    TextView::setDelegate(this);
    setCursorWidth(0);
    viewport()->setMouseTracking(true);
    caretBlink_.setInterval(std::max(QApplication::cursorFlashTime() / 2, 1));
    connect(&caretBlink_, &QTimer::timeout, this, [this] {
        caretOn_ = !caretOn_;
        updateCaret();
    });
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] { restartCaretBlink(); });
    addActions();
}

NoteTextView::~NoteTextView()
{
    if (textStorage())
        textStorage()->removeObserver(&watch_);
}

void NoteTextView::setTextStorage(TextStorage* storage)
{
    if (textStorage())
        textStorage()->removeObserver(&watch_);
    TextView::setTextStorage(storage);
    history_.clear();
    if (storage)
        storage->addObserver(&watch_);
}

void NoteTextView::setCaretColor(const QColor& color)
{
    caretColor_ = color;
    updateCaret();
}

void NoteTextView::addActions()
{
    for (size_t code = 0; code < std::size(FormattingActions); ++code) {
        addHandler(Selector(FormattingActions[code]), [this, code](QObject*) {
            if (noteDelegate_)
                noteDelegate_->noteTextViewDidTypewriterAction(*this, TypewriterAction(code));
        });
    }
    addHandler(Selector("undo:"), [this](QObject*) { undo(); });
    addHandler(Selector("redo:"), [this](QObject*) { redo(); });
    addHandler(Selector("cut:"), [this](QObject*) { cut(); });
    addHandler(Selector("copy:"), [this](QObject*) { copy(); });
    addHandler(Selector("paste:"), [this](QObject*) { paste(); });
    addHandler(Selector("selectAll:"), [this](QObject*) { selectAll(); });
}

bool NoteTextView::validateMenuItem(MenuItem& item)
{
    const QByteArray& action = item.action().name();
    const bool hasSelection = selectedRange().length > 0;
    if (action == "undo:")
        return canUndo() && !isReadOnly();
    if (action == "redo:")
        return canRedo() && !isReadOnly();
    if (action == "cut:")
        return hasSelection && !isReadOnly();
    if (action == "copy:")
        return hasSelection;
    if (action == "paste:")
        return !isReadOnly() && canPaste();
    if (action == "selectAll:")
        return true;
    return !isReadOnly();
}

// --- The text as the typewriter edits it

const QString& NoteTextView::string() const
{
    static const QString none;
    return textStorage() ? textStorage()->string() : none;
}

qsizetype NoteTextView::length() const
{
    return textStorage() ? textStorage()->length() : 0;
}

QChar NoteTextView::characterAtIndex(qsizetype index) const
{
    return textStorage() ? textStorage()->characterAtIndex(index) : QChar();
}

QString NoteTextView::substring(TextRange range) const
{
    return textStorage() ? textStorage()->substring(range) : QString();
}

TextRange NoteTextView::paragraphRange(TextRange range) const
{
    return textStorage() ? textStorage()->paragraphRange(range) : TextRange{0, 0};
}

AttributedString NoteTextView::attributedString() const
{
    return textStorage() ? textStorage()->attributedString() : AttributedString();
}

void NoteTextView::setString(const QString& string)
{
    if (!textStorage())
        return;
    textStorage()->replaceCharacters({0, textStorage()->length()}, string);
    history_.clear();
}

void NoteTextView::insertText(const QString& text, TextRange replacementRange)
{
    changeTextInRanges({replacementRange}, {text});
}

bool NoteTextView::textViewShouldChangeTextInRanges(TextView&, const QList<TextRange>& ranges,
                                                    const QStringList& replacementStrings)
{
    if (changeDelegate_ && !changeDelegate_->textViewShouldChangeTextInRanges(*this, ranges, replacementStrings))
        return false;
    const qsizetype length = this->length();
    bool changes = false;
    // Several ranges (a drop that moves text) are one step; a single change may join a run of typing.
    const bool alone = ranges.size() == 1;
    if (!alone)
        history_.beginGroup();
    for (qsizetype i : replacementOrder(ranges)) { // recorded in the order the base makes them
        const TextRange range = TypewriterText::clipped(ranges[i], length);
        changes = changes || range.length > 0 || !replacementStrings[i].isEmpty();
        history_.record({range.location, substring(range), replacementStrings[i]});
    }
    if (!alone)
        history_.endGroup();
    expectingRecordedPass_ = expectingRecordedPass_ || changes;
    ++recordedChanges_;
    return true;
}

void NoteTextView::storageDidProcessEditing(int editedMask)
{
    if (editedMask & TextStorage::EditedCharacters) {
        // A find mark belongs to the text it was found in: an edit or another note ends it.
        if (findIndicator_.length > 0)
            showFindIndicatorForRange({0, 0});
        // A change that went around the history would make its steps point into another text.
        if (!std::exchange(expectingRecordedPass_, false))
            history_.clear();
    }
}

// --- Undo

void NoteTextView::undo()
{
    if (!canUndo() || isReadOnly())
        return;
    const UndoHistory::Step step = history_.undo();
    replay(step, true);
    setSelectedRange({step.front().location, step.front().oldText.size()});
    if (noteDelegate_)
        noteDelegate_->noteTextViewDidUndo(*this, UndoHistory::size(step));
}

void NoteTextView::redo()
{
    if (!canRedo() || isReadOnly())
        return;
    const UndoHistory::Step step = history_.redo();
    replay(step, false);
    setSelectedRange({step.back().location + step.back().newText.size(), 0});
    if (noteDelegate_)
        noteDelegate_->noteTextViewDidUndo(*this, UndoHistory::size(step));
}

void NoteTextView::replay(const UndoHistory::Step& step, bool backwards)
{
    TextStorage* storage = textStorage();
    const auto replace = [storage](qsizetype location, qsizetype length, const QString& text) {
        storage->replaceCharacters({location, length}, text);
    };
    storage->beginEditing();
    if (backwards)
        UndoHistory::revert(step, replace);
    else
        UndoHistory::apply(step, replace);
    expectingRecordedPass_ = true;
    storage->endEditing();
}

// --- Keys, focus, pasteboard

bool NoteTextView::isShiftTab(const QKeyEvent& event)
{
    const bool backtab = event.key() == Qt::Key_Backtab || (event.key() == Qt::Key_Tab && event.modifiers() & Qt::ShiftModifier);
    return backtab && !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

void NoteTextView::keyPressEvent(QKeyEvent* event)
{
    if (noteDelegate_ && noteDelegate_->noteTextViewDidKeyDown(*this, *event)) {
        event->accept();
        return;
    }
    // Shift-Tab takes back what Tab did, as the Shift Left command; it never leaves the note.
    if (isShiftTab(*event)) {
        if (noteDelegate_)
            noteDelegate_->noteTextViewDidTypewriterAction(*this, TypewriterActionShiftLeft);
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        event->matches(QKeySequence::Undo) ? undo() : redo();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        cut();
        event->accept();
        return;
    }
    const qsizetype before = recordedChanges_;
    const TextRange selection = selectedRange();
    TextView::keyPressEvent(event);
    // A key that moved the caret ends the run of typing; one that did nothing at all (Shift on its own,
    // pressed for "!" or "<") leaves it open.
    if (recordedChanges_ == before && selectedRange() != selection)
        history_.breakRun();
}

void NoteTextView::cut()
{
    const TextRange selection = selectedRange();
    if (selection.length == 0 || isReadOnly())
        return;
    copy();
    history_.beginGroup();
    changeTextInRanges({selection}, {QString()});
    history_.endGroup();
}

void NoteTextView::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || (noteDelegate_ && !noteDelegate_->noteTextViewReadSelectionFromPasteboard(*this, *source)))
        return;
    history_.beginGroup();
    TextView::insertFromMimeData(source);
    history_.endGroup();
}

void NoteTextView::dropEvent(QDropEvent* event)
{
    if (!isReadOnly() && noteDelegate_ && !noteDelegate_->noteTextViewReadSelectionFromPasteboard(*this, *event->mimeData())) {
        event->ignore();
        return;
    }
    history_.beginGroup();
    TextView::dropEvent(event);
    history_.endGroup();
}

void NoteTextView::focusInEvent(QFocusEvent* event)
{
    TextView::focusInEvent(event);
    restartCaretBlink();
    if (noteDelegate_ && !keepsResponder(event->reason()))
        noteDelegate_->noteTextViewDidBecomeFirstResponder(*this);
}

void NoteTextView::focusOutEvent(QFocusEvent* event)
{
    TextView::focusOutEvent(event);
    caretBlink_.stop();
    updateCaret();
    if (noteDelegate_ && !keepsResponder(event->reason()))
        noteDelegate_->noteTextViewDidResignFirstResponder(*this);
}

void NoteTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    const auto add = [&](const QString& title, bool enabled, void (NoteTextView::*run)()) {
        menu.addAction(title, this, run)->setEnabled(enabled);
    };
    const bool selection = selectedRange().length > 0;
    add(tr("Undo"), canUndo() && !isReadOnly(), &NoteTextView::undo);
    add(tr("Redo"), canRedo() && !isReadOnly(), &NoteTextView::redo);
    menu.addSeparator();
    add(tr("Cut"), selection && !isReadOnly(), &NoteTextView::cut);
    add(tr("Copy"), selection, &QTextEdit::copy);
    add(tr("Paste"), canPaste() && !isReadOnly(), &QTextEdit::paste);
    menu.addSeparator();
    add(tr("Select All"), true, &QTextEdit::selectAll);
    menu.exec(event->globalPos());
}

// --- Links and the pointer

void NoteTextView::mousePressEvent(QMouseEvent* event)
{
    pressedAnchor_.clear();
    if (event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier) {
        pressedAnchor_ = anchorAt(event->position().toPoint());
        pressPoint_ = event->position().toPoint();
    }
    // A press on a link leaves the caret where it is.
    if (!pressedAnchor_.isEmpty()) {
        event->accept();
        return;
    }
    history_.breakRun();
    TextView::mousePressEvent(event);
}

void NoteTextView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (pressedAnchor_.isEmpty())
        TextView::mouseMoveEvent(event);
    Qt::CursorShape shape = anchorAt(point).isEmpty() ? Qt::IBeamCursor : Qt::PointingHandCursor;
    // Over the strip that covers the top of the window the pointer is an arrow, as over a title bar.
    if (auto* window = dynamic_cast<Window*>(this->window()); window && window->contentViewController()) {
        QWidget* content = window->contentViewController()->view();
        if (!window->contentLayoutRect().contains(viewport()->mapTo(content, point)))
            shape = Qt::ArrowCursor;
    }
    viewport()->setCursor(shape);
}

void NoteTextView::mouseReleaseEvent(QMouseEvent* event)
{
    const QString anchor = std::exchange(pressedAnchor_, QString());
    if (anchor.isEmpty()) {
        TextView::mouseReleaseEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    event->accept();
    const bool stayed = (point - pressPoint_).manhattanLength() < QApplication::startDragDistance();
    if (stayed && anchorAt(point) == anchor && noteDelegate_)
        noteDelegate_->noteTextViewClickedOnLink(*this, anchor, characterIndexForPoint(point));
}

// --- Geometry

qsizetype NoteTextView::characterIndexForPoint(const QPoint& point) const
{
    return cursorForPosition(point).position();
}

QRect NoteTextView::caretRectForPosition(qsizetype position)
{
    ensureMirrored(position);
    layOutAround(position);
    QTextCursor cursor(document());
    cursor.setPosition(int(std::clamp<qsizetype>(position, 0, document()->characterCount() - 1)));
    return cursorRect(cursor);
}

void NoteTextView::scrollPositionToY(qsizetype position, int y)
{
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + caretRectForPosition(position).top() - y);
}

void NoteTextView::scrollRangeToVisible(TextRange range)
{
    const QRect end = caretRectForPosition(range.end());
    const QRect wanted = caretRectForPosition(range.location).united(end);
    QScrollBar* bar = verticalScrollBar();
    const int height = viewport()->height();
    if (wanted.top() < 0 || wanted.height() > height)
        bar->setValue(bar->value() + wanted.top());
    else if (wanted.bottom() > height)
        bar->setValue(bar->value() + wanted.bottom() - height);
}

// --- Caret

QRect NoteTextView::caretRect() const
{
    if (!hasFocus() || isReadOnly() || textCursor().hasSelection())
        return {};
    const QTextCursor cursor = textCursor();
    const QTextBlock block = cursor.block();
    // A document emptied and refilled in one edit may keep its block without lines until it is
    // edited again; the caret needs the line.
    if (block.layout() && block.layout()->lineCount() == 0)
        document()->markContentsDirty(block.position(), block.length());
    document()->documentLayout()->blockBoundingRect(block); // lays the block out when it is not yet
    const QTextLayout* layout = block.layout();
    const int offset = cursor.position() - block.position();
    const QTextLine line = layout ? layout->lineForTextPosition(offset) : QTextLine();
    if (!line.isValid())
        return {};
    const QPointF origin =
        layout->position() - QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int x = qRound(origin.x() + line.cursorToX(offset));
    return {x - 1, qRound(origin.y() + line.y()), CaretWidth, qRound(line.height())};
}

void NoteTextView::restartCaretBlink()
{
    caretOn_ = true;
    if (hasFocus() && QApplication::cursorFlashTime() > 0)
        caretBlink_.start();
    updateCaret();
}

void NoteTextView::updateCaret()
{
    viewport()->update(lastCaretRect_.adjusted(-2, -2, 2, 2));
    viewport()->update(caretRect().adjusted(-2, -2, 2, 2));
}

void NoteTextView::paintEvent(QPaintEvent* event)
{
    TextView::paintEvent(event);
    lastCaretRect_ = caretOn_ ? caretRect() : QRect();
    if (lastCaretRect_.isEmpty())
        return;
    QPainter painter(viewport());
    painter.fillRect(lastCaretRect_, caretColor_);
}

// --- Find indicator

void NoteTextView::showFindIndicatorForRange(TextRange range)
{
    findIndicatorHold_.cancel();
    findIndicator_ = TypewriterText::clipped(range, length());
    setFindIndicatorAlpha(findIndicator_.length > 0 ? 1.0 : 0.0);
    if (findIndicator_.length == 0)
        return;
    findIndicatorHold_ = DispatchQueue::main()->after(FindIndicatorHold, [self = QPointer(this)] {
        if (!self)
            return;
        AnimationContext::runGroup(
            FindIndicatorFade, [&](AnimationContext& context) { context.animate(self, "findIndicatorAlpha", 0.0); },
            [self] {
                if (self && self->findIndicatorAlpha_ == 0)
                    self->findIndicator_ = {0, 0};
            });
    });
}

void NoteTextView::setFindIndicatorAlpha(double alpha)
{
    findIndicatorAlpha_ = alpha;
    QList<QTextEdit::ExtraSelection> selections;
    if (alpha > 0 && findIndicator_.length > 0) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(document());
        mark.cursor.setPosition(int(findIndicator_.location));
        mark.cursor.setPosition(int(findIndicator_.end()), QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(255, 221, 0, qRound(alpha * 255)));
        selections.append(mark);
    }
    setExtraSelections(selections);
}
