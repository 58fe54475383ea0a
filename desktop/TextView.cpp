#include "TextView.h"
#include "TextViewLayout.h"

#include "text/FontFaces.h"

#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <functional>
#include <numeric>

namespace {

constexpr QChar BlockSeparator = QChar::ParagraphSeparator;
// Stands in for the CR of a CR LF, whose LF ends the block: the CR keeps its own position, unseen.
constexpr QChar CarriageReturnHolder = QChar(0x200B);
// The document takes these as frame marks; they are shown as the replacement character.
constexpr QChar FrameStart = QChar(0xFDD0);
constexpr QChar FrameEnd = QChar(0xFDD1);
// Deeper than any list a person nests, and well inside a page or a window's text.
constexpr double MaximumHangingIndent = 200;
// On a block that follows a piece break: the unit the break stands for.
constexpr int PieceBreakProperty = QTextFormat::UserProperty + 1;

// The document looks every inserted format up by its hash, which a format works out once and keeps;
// comparing it with another format works it out here, so the copies made for each insertion share it.
void primeHash(const QTextFormat& format)
{
    static const QTextFormat other = [] {
        QTextFormat any(QTextFormat::CharFormat);
        any.setProperty(QTextFormat::UserProperty, true);
        return any;
    }();
    (void)(format == other);
}

// Whether a unit, followed by next, ends a block in the document: the CR of a CR LF does not, its LF does.
bool endsBlock(QChar c, QChar next)
{
    return (c == u'\n' || c == u'\r' || c == BlockSeparator) && !(c == u'\r' && next == u'\n');
}

bool endsBlock(const QString& text, qsizetype index)
{
    return endsBlock(text[index], index + 1 < text.size() ? text[index + 1] : QChar());
}

// Read from the storage unit by unit, without making its text one string; nothing is read past its end.
bool endsBlock(const TextStorage& storage, qsizetype index)
{
    return endsBlock(storage.characterAtIndex(index), storage.characterAtIndex(index + 1));
}

// The unit the break before the block stands for, or none when the block starts a line.
QChar replacedByBreak(const QTextBlock& block)
{
    const QVariant unit = block.isValid() ? block.blockFormat().property(PieceBreakProperty) : QVariant();
    return unit.isValid() ? QChar(char16_t(unit.toInt())) : QChar();
}

bool isPiece(const QTextBlock& block)
{
    return !replacedByBreak(block).isNull() || !replacedByBreak(block.next()).isNull();
}

QTextCursor selecting(QTextDocument* document, qsizetype from, qsizetype to)
{
    QTextCursor cursor(document);
    cursor.setPosition(int(from));
    cursor.setPosition(int(to), QTextCursor::KeepAnchor);
    return cursor;
}

} // namespace

TextView::TextView(QWidget* parent) : QTextEdit(parent)
{
    setAcceptRichText(false);
    document()->setDocumentLayout(new TextViewLayout(document()));
    document()->setUndoRedoEnabled(false);
    document()->setDocumentMargin(0);
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int removed, int added) { documentContentsChanged(position, removed, added); });
    setFormatsInDocument(false);
}

TextView::~TextView()
{
    if (storage_)
        storage_->removeObserver(this);
}

void TextView::setTextStorage(TextStorage* storage)
{
    if (storage_)
        storage_->removeObserver(this);
    storage_ = storage;
    {
        QScopedValueRollback guard(mirroring_, true);
        document()->clear();
        applyInset();
    }
    mirrored_ = 0;
    if (!storage_)
        return;
    storage_->addObserver(this);
    mirror({0, storage_->length()}, 0);
}

void TextView::setFormatsInDocument(bool inDocument)
{
    formatsInDocument_ = inDocument;
    formats_.clear();
    static_cast<TextViewLayout*>(document()->documentLayout())
        ->setFormatSource(inDocument ? TextViewLayout::FormatSource()
                                     : [this](const QTextBlock& block) { return characterFormats(block); });
    setTextStorage(storage_);
}

void TextView::setDefaultParagraphStyle(const std::optional<ParagraphStyle>& style)
{
    defaultParagraphStyle_ = style;
    if (storage_)
        mirror({0, mirrored_}, mirrored_);
}

void TextView::setDefaultFont(const std::optional<Font>& font)
{
    document()->setDefaultFont(font ? FontFaces::qfont(*font) : QFont());
    formats_.clear();
}

void TextView::setTextContainerInset(double width, double height)
{
    insetWidth_ = width;
    insetHeight_ = height;
    QScopedValueRollback guard(mirroring_, true); // only the layout changes
    applyInset();
}

void TextView::applyInset()
{
    QTextFrame* root = document()->rootFrame();
    QTextFrameFormat format = root->frameFormat();
    if (format.leftMargin() == insetWidth_ && format.rightMargin() == insetWidth_ &&
        format.topMargin() == insetHeight_ && format.bottomMargin() == insetHeight_)
        return; // the layout stays
    format.setLeftMargin(insetWidth_);
    format.setRightMargin(insetWidth_);
    format.setTopMargin(insetHeight_);
    format.setBottomMargin(insetHeight_);
    root->setFrameFormat(format);
}

QString TextView::anchorAt(const QPoint& position) const
{
    if (!storage_)
        return QTextEdit::anchorAt(position);
    const QScrollBar* bar = horizontalScrollBar();
    const QPointF point(position.x() + (isRightToLeft() ? bar->maximum() - bar->value() : bar->value()),
                        position.y() + verticalScrollBar()->value());
    const int at = document()->documentLayout()->hitTest(point, Qt::ExactHit);
    if (at < 0 || at >= storage_->length())
        return {};
    return storage_->attributesAtIndex(at).link.value_or(QString());
}

std::optional<QTextCharFormat> TextView::formatAtCursor(const QTextCursor& cursor) const
{
    if (!storage_ || formatsInDocument_)
        return std::nullopt;
    const qsizetype at = cursor.position() - (cursor.atBlockStart() && cursor.block().length() > 1 ? 0 : 1);
    if (at < 0 || at >= storage_->length())
        return std::nullopt;
    const TextAttributes& attributes = storage_->attributesAtIndex(at);
    const bool fixedAdvance = attributes.font && attributes.font->fixedAdvance > 0;
    return charFormat(attributes, fixedAdvance ? storage_->characterAtIndex(at) : QChar());
}

QVariant TextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImFont) {
        if (const auto format = formatAtCursor(textCursor()))
            return format->font();
    }
    return QTextEdit::inputMethodQuery(query);
}

bool TextView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const auto format = formatAtCursor(cursorForPosition(help->pos()));
        if (format && !format->toolTip().isEmpty()) {
            QToolTip::showText(help->globalPos(), format->toolTip(), viewport());
            return true;
        }
    }
    return QTextEdit::viewportEvent(event);
}

TextRange TextView::selectedRange() const
{
    const QTextCursor cursor = textCursor();
    return {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
}

void TextView::setSelectedRange(TextRange range)
{
    ensureMirrored(range.end());
    layOutAround(range.end());
    QTextCursor cursor = textCursor();
    const int limit = document()->characterCount() - 1;
    cursor.setPosition(std::clamp(int(range.location), 0, limit));
    cursor.setPosition(std::clamp(int(range.end()), 0, limit), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QList<qsizetype> TextView::replacementOrder(const QList<TextRange>& ranges)
{
    QList<qsizetype> order(ranges.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](qsizetype a, qsizetype b) { return ranges[a].location > ranges[b].location; });
    return order;
}

bool TextView::changeTextInRanges(const QList<TextRange>& ranges, const QStringList& replacementStrings)
{
    if (!storage_ || ranges.isEmpty() || ranges.size() != replacementStrings.size())
        return false;
    if (delegate_ && !delegate_->textViewShouldChangeTextInRanges(*this, ranges, replacementStrings))
        return false;

    storage_->beginEditing();
    for (qsizetype i : replacementOrder(ranges))
        storage_->replaceCharacters(ranges[i], replacementStrings[i]);
    storage_->endEditing();

    // Where the last replacement ended up once the ranges before it changed length.
    const TextRange last = ranges.last();
    qsizetype shift = 0;
    for (qsizetype i = 0; i + 1 < ranges.size(); ++i) {
        if (ranges[i].location < last.location)
            shift += replacementStrings[i].size() - ranges[i].length;
    }
    setSelectedRange({last.location + shift + replacementStrings.last().size(), 0});
    return true;
}

void TextView::keyPressEvent(QKeyEvent* event)
{
    if (storage_ && (event->matches(QKeySequence::SelectAll) || event->matches(QKeySequence::MoveToEndOfDocument) ||
                     event->matches(QKeySequence::SelectEndOfDocument)))
        ensureMirrored(storage_->length());
    if (!storage_ || isReadOnly()) {
        QTextEdit::keyPressEvent(event);
        return;
    }
    const TextRange selection = selectedRange();
    const auto replaceSelection = [&](const QString& text) {
        changeTextInRanges({selection}, {text});
        event->accept();
    };
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        if (selection.length > 0) {
            copy();
            replaceSelection(QString());
        }
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::InsertParagraphSeparator) ||
        event->matches(QKeySequence::InsertLineSeparator)) {
        replaceSelection(QStringLiteral("\n"));
        return;
    }
    const TextRange deletion = deletionRange(event);
    if (deletion.location >= 0) {
        if (selection.length > 0)
            replaceSelection(QString());
        else if (deletion.length > 0)
            changeTextInRanges({deletion}, {QString()});
        event->accept();
        return;
    }
    const QString text = event->text();
    if (!text.isEmpty() && (text.at(0).isPrint() || text.at(0) == u'\t')) {
        replaceSelection(text);
        return;
    }
    QTextEdit::keyPressEvent(event);
}

TextRange TextView::deletionRange(QKeyEvent* event) const
{
    const qsizetype caret = textCursor().position();
    const auto at = [this](qsizetype index) { return storage_->characterAtIndex(index); };
    QTextCursor cursor = textCursor();
    cursor.clearSelection();
    const auto cursorRange = [&]() -> TextRange {
        return {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
    };

    if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier)) {
        if (caret == 0)
            return {caret, 0};
        qsizetype start = caret - 1;
        // A whole code point, and a whole CR LF: its CR has no place of its own on screen.
        if (start > 0 && at(start).isLowSurrogate() && at(start - 1).isHighSurrogate())
            --start;
        else if (start > 0 && at(start) == u'\n' && at(start - 1) == u'\r')
            --start;
        return {start, caret - start};
    }
    if (event->matches(QKeySequence::Delete)) {
        if (caret >= storage_->length())
            return {caret, 0};
        qsizetype end = caret + 1;
        if ((at(caret).isHighSurrogate() && at(end).isLowSurrogate()) || (at(caret) == u'\r' && at(end) == u'\n'))
            ++end;
        return {caret, end - caret};
    }
    if (event->matches(QKeySequence::DeleteStartOfWord)) {
        cursor.movePosition(QTextCursor::PreviousWord, QTextCursor::KeepAnchor);
        return cursorRange();
    }
    if (event->matches(QKeySequence::DeleteEndOfWord)) {
        cursor.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
        return cursorRange();
    }
    // The storage's lines: a long line's pieces end before them.
    if (event->matches(QKeySequence::DeleteEndOfLine)) {
        const TextRange line = storage_->paragraphRange({caret, 0});
        const qsizetype end = line.length > 0 && endsBlock(*storage_, line.end() - 1) ? line.end() - 1
                                                                                                : line.end();
        return {caret, (caret == end ? std::min(end + 1, storage_->length()) : end) - caret};
    }
    if (event->matches(QKeySequence::DeleteCompleteLine))
        return storage_->paragraphRange({caret, 0});
    return {-1, 0};
}

void TextView::inputMethodEvent(QInputMethodEvent* event)
{
    if (!storage_ || isReadOnly()) {
        QTextEdit::inputMethodEvent(event);
        return;
    }
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        TextRange range = selectedRange();
        if (range.length == 0 && event->replacementLength() > 0) {
            const qsizetype from = std::clamp<qsizetype>(range.location + event->replacementStart(), 0,
                                                         storage_->length());
            const qsizetype to = std::min<qsizetype>(from + event->replacementLength(), storage_->length());
            range = {from, to - from};
        }
        changeTextInRanges({range}, {event->commitString()});
    }
    // The widget shows the composition; it never enters the text.
    QInputMethodEvent composition(event->preeditString(), event->attributes());
    QTextEdit::inputMethodEvent(&composition);
    event->accept();
}

QMimeData* TextView::createMimeDataFromSelection() const
{
    if (!storage_)
        return QTextEdit::createMimeDataFromSelection();
    const TextRange selection = selectedRange();
    auto* data = new QMimeData;
    data->setText(storage_->substring(selection));
    return data;
}

bool TextView::canInsertFromMimeData(const QMimeData* source) const
{
    return storage_ ? source->hasText() : QTextEdit::canInsertFromMimeData(source);
}

void TextView::insertFromMimeData(const QMimeData* source)
{
    if (!storage_ || isReadOnly()) {
        QTextEdit::insertFromMimeData(source);
        return;
    }
    const QString text = source->text();
    if (!text.isEmpty())
        changeTextInRanges({selectedRange()}, {text});
}

void TextView::dropEvent(QDropEvent* event)
{
    if (!storage_ || isReadOnly() || !event->mimeData()->hasText()) {
        QTextEdit::dropEvent(event);
        return;
    }
    // Let the widget take down its drop caret; the drop itself is ours.
    QDragLeaveEvent leave;
    QTextEdit::dragLeaveEvent(&leave);

    const qsizetype at = cursorForPosition(event->position().toPoint()).position();
    const QString text = event->mimeData()->text();
    const TextRange selection = selectedRange();
    const bool moveWithin = (event->source() == viewport() || event->source() == this) &&
                            event->dropAction() == Qt::MoveAction && selection.length > 0;
    event->acceptProposedAction();
    if (moveWithin && at >= selection.location && at <= selection.end())
        return;
    const bool changed = moveWithin ? changeTextInRanges({selection, {at, 0}}, {QString(), text})
                                    : changeTextInRanges({{at, 0}}, {text});
    if (changed) {
        const qsizetype start = textCursor().position() - text.size();
        setSelectedRange({start, text.size()});
    }
}

void TextView::selectAll()
{
    if (storage_)
        ensureMirrored(storage_->length());
    QTextEdit::selectAll();
}

void TextView::ensureMirrored(qsizetype position)
{
    if (storage_ && position > mirrored_) {
        fillTo(position + FillSlice);
        queueFill();
    }
}

void TextView::layOutAround(qsizetype position)
{
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    // Up to a viewport's height each way, and the block beyond it, which a paint draws as well.
    const auto layOut = [this, layout](QTextBlock block, QTextBlock (QTextBlock::*step)() const) {
        for (qreal height = 0; block.isValid(); block = (block.*step)()) {
            const bool beyond = height >= viewport()->height();
            const QTextLayout* lines = block.layout();
            height += lines->lineCount() > 0 ? lines->boundingRect().height()
                                             : layout->blockBoundingRect(block).height();
            if (beyond)
                break;
        }
    };
    const QTextBlock at = document()->findBlock(int(position));
    layOut(at, &QTextBlock::previous);
    layOut(at.next(), &QTextBlock::next);
}

void TextView::textStorageDidProcessEditing(TextStorage&, int, TextRange editedRange, qsizetype changeInLength)
{
    if (documentAhead_) { // after a change the widget made itself the document holds the new characters
        mirrored_ += changeInLength;
        mirror(editedRange, editedRange.length);
        return;
    }
    if (editedRange.end() - changeInLength <= mirrored_) {
        mirrored_ += changeInLength;
        mirror(editedRange, editedRange.length - changeInLength);
    } else if (editedRange.location < mirrored_) {
        // The change runs past what the document holds: from its start the text goes in again.
        cutBackTo(editedRange.location);
        fillTo(editedRange.location + FillSlice);
    }
    // A change wholly past it goes in with its slice, once processed.
    queueFill();
}

void TextView::cutBackTo(qsizetype position)
{
    // A CR shows as a line break or not by the unit after it: it goes too.
    if (storage_->characterAtIndex(position - 1) == u'\r')
        --position;
    QScopedValueRollback guard(mirroring_, true);
    if (position == 0) { // far quicker than taking the text out
        document()->clear();
        applyInset();
    } else {
        selecting(document(), position, document()->characterCount() - 1).removeSelectedText();
    }
    mirrored_ = position;
}

void TextView::fillTo(qsizetype end)
{
    end = std::min(end, storage_->length());
    if (end > 0)
        end = storage_->paragraphRange({end - 1, 1}).end(); // whole lines
    if (end <= mirrored_)
        return;

    QScopedValueRollback guard(mirroring_, true);
    // New text at the end would carry a caret that is there along with it.
    const int anchor = textCursor().anchor();
    const int position = textCursor().position();
    const int documentEnd = document()->characterCount() - 1;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (mirrored_ == 0)
        cursor.setBlockFormat(blockFormat(0));
    const TextRange range{mirrored_, end - mirrored_};
    insertMirrored(cursor, range);
    breakLongBlocks(cursor, range, false);
    mirrorBlockFormats(cursor, {range.location, 0});
    cursor.endEditBlock();
    mirrored_ = end;
    if (anchor == documentEnd || position == documentEnd) {
        QTextCursor caret(document());
        caret.setPosition(anchor);
        caret.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(caret);
    }
}

void TextView::queueFill()
{
    // Text the storage has yet to process would take its formats twice: it waits for its pass.
    if (!storage_ || mirrored_ >= storage_->processedLength() || std::exchange(fillQueued_, true))
        return;
    // A posted call, not a block on the main queue: that queue runs what is added while it runs, and
    // the window would wait for all of the slices.
    QMetaObject::invokeMethod(
        this,
        [this] {
            fillQueued_ = false;
            if (!storage_)
                return;
            fillTo(std::min(mirrored_ + FillSlice, storage_->processedLength()));
            queueFill();
        },
        Qt::QueuedConnection);
}

void TextView::mirror(TextRange range, qsizetype oldLength)
{
    // A CR before the range shows differently once the unit after it is (or stops being) a LF.
    if (storage_->characterAtIndex(range.location - 1) == u'\r') {
        --range.location;
        ++range.length;
        ++oldLength;
    }
    QScopedValueRollback guard(mirroring_, true);
    QTextDocument* document = this->document();
    if (range.location == 0 && range.length == storage_->length() && oldLength == document->characterCount() - 1) {
        mirrorEverything();
        return;
    }
    const QString wanted = mirroredText(range);
    const QString current = oldLength > 0 ? documentText(range.location, range.location + oldLength) : QString();

    // Only the characters that differ are replaced, so the caret and the layout of the rest stay.
    const qsizetype common = std::min(wanted.size(), current.size());
    qsizetype head = 0;
    while (head < common && wanted[head] == current[head])
        ++head;
    qsizetype tail = 0;
    while (tail < common - head && wanted[wanted.size() - 1 - tail] == current[current.size() - 1 - tail])
        ++tail;

    QTextCursor cursor(document);
    cursor.beginEditBlock();
    const TextRange inserted{range.location + head, wanted.size() - head - tail};
    const bool textChanged = head + tail < current.size() || inserted.length > 0;
    if (textChanged) {
        cursor.setPosition(int(inserted.location));
        cursor.setPosition(int(range.location + current.size() - tail), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        insertMirrored(cursor, inserted);
        breakLongBlocks(cursor, inserted, false);
    }
    mirrorFormats(cursor, {range.location, head});
    mirrorFormats(cursor, {inserted.end(), range.end() - inserted.end()});
    mirrorBlockFormats(cursor, range);
    cursor.endEditBlock();
    if (textChanged) { // the piece typed into is laid out again by now: it splits at one of its wraps
        cursor.beginEditBlock();
        breakLongBlocks(cursor, inserted, true);
        cursor.endEditBlock();
    }
    if (formatsInDocument_ || range.length == 0)
        return;
    // The restyled lines take their formats when they are laid out again. The lines whose text
    // changed are laid out again already: a keystroke's line is not laid out twice.
    const int first = document->findBlock(int(range.location)).blockNumber();
    const int last = document->findBlock(int(range.end() - 1)).blockNumber();
    if (!textChanged || first < document->findBlock(int(inserted.location)).blockNumber() ||
        last > document->findBlock(int(inserted.end())).blockNumber())
        document->markContentsDirty(int(range.location), int(range.length));
}

QString TextView::documentText(qsizetype from, qsizetype to) const
{
    QString text = selecting(document(), from, to).selectedText();
    for (QTextBlock block = document()->findBlock(int(from) + 1); block.isValid() && block.position() <= to;
         block = block.next()) {
        const qsizetype at = block.position() - 1;
        const QChar unit = replacedByBreak(block);
        if (at >= from && at < to && !unit.isNull())
            text[at - from] = unit;
    }
    return text;
}

QTextBlockFormat TextView::pieceFormat(QTextBlockFormat format, QChar replaced) const
{
    // A piece goes on from the line's wrapped lines: no first-line indent.
    format.setTextIndent(0);
    format.setProperty(PieceBreakProperty, int(replaced.unicode()));
    primeHash(format);
    return format;
}

void TextView::breakLongBlocks(QTextCursor& cursor, TextRange range, bool atWraps)
{
    if (formatsInDocument_) // a copy keeps the storage's lines
        return;
    // A break goes in before the unit it stands for goes out, and a unit back in before its break goes
    // out, so that the carets on either side stay where they were.
    const auto replace = [&](qsizetype at, const std::function<void()>& insert) {
        cursor.setPosition(int(at) + 1);
        insert();
        cursor.setPosition(int(at));
        cursor.setPosition(int(at) + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    };
    QTextBlock block = document()->findBlock(int(range.location));
    if (block.previous().isValid()) // an emptied piece ends just before the range
        block = block.previous();
    while (block.isValid() && block.position() <= range.end()) {
        const qsizetype length = block.length() - 1;
        if (length == 0 && isPiece(block)) {
            // An empty piece would show as an empty line: its break goes back to the unit.
            const QChar before = replacedByBreak(block);
            const qsizetype at = before.isNull() ? block.position() : block.position() - 1;
            const QChar unit = before.isNull() ? replacedByBreak(block.next()) : before;
            replace(at, [&] { cursor.insertText(QString(unit), QTextCharFormat()); });
            block = document()->findBlock(int(at));
            continue;
        }
        if (length > LongLine || (atWraps && length > 2 * PieceLength && isPiece(block))) {
            for (qsizetype at = pieceBreakIn(block, atWraps); at >= 0;) {
                const QTextBlockFormat format = pieceFormat(block.blockFormat(), storage_->characterAtIndex(at));
                replace(at, [&] { cursor.insertBlock(format, QTextCharFormat()); });
                block = document()->findBlock(int(at) + 1);
                at = block.length() - 1 > 2 * PieceLength ? pieceBreakIn(block, false) : -1;
            }
        }
        block = block.next();
    }
}

qsizetype TextView::pieceBreakIn(const QTextBlock& block, bool atWraps) const
{
    const qsizetype start = block.position();
    const qsizetype end = start + block.length() - 1;
    // Neither piece is left empty.
    const auto breaks = [&](qsizetype at) {
        if (at <= start || at + 1 >= end)
            return false;
        const QChar c = storage_->characterAtIndex(at);
        return c == u' ' || c == u'\t';
    };
    const qsizetype wanted = start + PieceLength;
    const QTextLayout* layout = block.layout();
    if (atWraps && layout->lineCount() > 1) {
        // Where a wrapped line starts after a space the piece ends as it shows now.
        qsizetype best = -1;
        for (int i = 1; i < layout->lineCount(); ++i) {
            const qsizetype at = start + layout->lineAt(i).textStart() - 1;
            if (breaks(at) && (best < 0 || std::abs(at - wanted) < std::abs(best - wanted)))
                best = at;
        }
        if (best >= 0)
            return best;
    }
    for (qsizetype at = wanted; at > start + PieceLength / 2; --at) {
        if (breaks(at))
            return at;
    }
    for (qsizetype at = wanted + 1; at + 1 < end; ++at) {
        if (breaks(at))
            return at;
    }
    return -1;
}

void TextView::mirrorEverything()
{
    // A long text goes in a slice at a time, the first one now. The selection stays, within that slice.
    const TextRange selection = selectedRange();
    cutBackTo(0);
    const qsizetype length = storage_->length();
    fillTo(length <= FilledAtOnce ? length : std::min(FillSlice, storage_->processedLength()));
    queueFill();
    const auto within = [this](qsizetype position) { return int(std::min(position, mirrored_)); };
    QTextCursor cursor(document());
    cursor.setPosition(within(selection.location));
    cursor.setPosition(within(selection.end()), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void TextView::insertMirrored(QTextCursor& cursor, TextRange range)
{
    // New text goes in with its formats, or plain when the layouts take them; each line break as a
    // block in its paragraph's format, the break keeping its own format (an empty line after it takes
    // its height from it).
    const QString shown = mirroredText(range);
    // The document copies what it is given, so the pieces need no copies of their own.
    const auto piece = [&](qsizetype from, qsizetype to) {
        return QString::fromRawData(shown.constData() + (from - range.location), to - from);
    };
    const QTextCharFormat plain;
    qsizetype start = range.location; // what is not in yet
    forEachFormat(range, [&](qsizetype from, qsizetype to, const QTextCharFormat& format, const TextAttributes&) {
        for (qsizetype i = from; i < to; ++i) {
            if (shown[i - range.location] != BlockSeparator)
                continue;
            if (i > start)
                cursor.insertText(piece(start, i), formatsInDocument_ ? format : plain);
            cursor.insertBlock(blockFormat(i + 1), format);
            start = i + 1;
        }
        if (formatsInDocument_ && to > start) {
            cursor.insertText(piece(start, to), format);
            start = to;
        }
    });
    if (range.end() > start)
        cursor.insertText(piece(start, range.end()), plain);
}

QString TextView::mirroredText(TextRange range) const
{
    // With the unit after the range, which tells whether a CR at its end ends a block.
    QString result = storage_->substring({range.location, range.length + 1});
    const qsizetype length = std::min(result.size(), range.length);
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = result[i];
        if (endsBlock(result, i))
            result[i] = BlockSeparator;
        else if (c == u'\r')
            result[i] = CarriageReturnHolder;
        else if (c == FrameStart || c == FrameEnd)
            result[i] = QChar::ReplacementCharacter;
    }
    result.truncate(length);
    return result;
}

void TextView::forEachFormat(
    TextRange range,
    const std::function<void(qsizetype, qsizetype, const QTextCharFormat&, const TextAttributes&)>& block)
{
    // While the runs are read, one attribute set is one object: its format is found once per call.
    QHash<QPair<const TextAttributes*, QChar>, QTextCharFormat> seen;
    const auto format = [&](const TextAttributes& attributes, QChar fixedAdvanceCharacter = {}) {
        const QPair<const TextAttributes*, QChar> key(&attributes, fixedAdvanceCharacter);
        const auto found = seen.constFind(key);
        return found != seen.cend() ? found.value()
                                    : seen.insert(key, shownFormat(attributes, fixedAdvanceCharacter)).value();
    };
    storage_->attributedString().enumerateAttributes(range, [&](const TextAttributes& attributes, TextRange run) {
        if (!attributes.font || attributes.font->fixedAdvance <= 0) {
            block(run.location, run.end(), format(attributes), attributes);
            return;
        }
        // Each character gets the spacing that makes its advance the fixed one.
        const QString text = storage_->substring(run);
        qsizetype start = 0;
        while (start < text.size()) {
            qsizetype end = start + 1;
            while (end < text.size() && text[end] == text[start])
                ++end;
            block(run.location + start, run.location + end, format(attributes, text[start]), attributes);
            start = end;
        }
    });
}

void TextView::mirrorFormats(QTextCursor& cursor, TextRange range)
{
    if (range.length <= 0)
        return;
    const QString text = storage_->substring({range.location, range.length + 1}); // the unit after it too
    forEachFormat(range, [&](qsizetype from, qsizetype to, const QTextCharFormat& format, const TextAttributes&) {
        if (formatsInDocument_) {
            cursor.setPosition(int(from));
            cursor.setPosition(int(to), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
            return;
        }
        for (qsizetype i = from; i < to; ++i) {
            // A block's own format is that of the break before it.
            if (!endsBlock(text, i - range.location) || document()->findBlock(int(i) + 1).charFormat() == format)
                continue;
            cursor.setPosition(int(i));
            cursor.setPosition(int(i) + 1, QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    });
}

QList<QTextLayout::FormatRange> TextView::characterFormats(const QTextBlock& block)
{
    QList<QTextLayout::FormatRange> formats;
    if (!storage_)
        return formats;
    const qsizetype start = block.position();
    // The document's blocks hold the storage's text at the same positions once a change is in.
    const qsizetype end = std::min<qsizetype>(start + block.length() - 1, storage_->length());
    if (end <= start)
        return formats;
    const TextAttributes* last = nullptr; // those of the last range's first run
    forEachFormat({start, end - start}, [&](qsizetype from, qsizetype to, const QTextCharFormat& format,
                                            const TextAttributes& attributes) {
        // Neighbours in equal formats are one run, as the document would make them one fragment:
        // text is shaped the same across them. Each run is shaped and drawn apart, and a line of tags
        // would be hundreds of them.
        if (!formats.isEmpty() && (formats.last().format == format || showsAlike(*last, attributes, {from, to - from}))) {
            formats.last().length += int(to - from);
            return;
        }
        formats.append({int(from - start), int(to - from), format});
        last = &attributes;
    });
    return formats;
}

// Spaces and tabs show no ink unless underlined or struck through: they look alike in any colour.
bool TextView::showsAlike(const TextAttributes& before, const TextAttributes& attributes, TextRange run) const
{
    const auto decorated = [](const TextAttributes& a) {
        return a.underlineStyle.value_or(0) != 0 || a.strikethroughStyle.value_or(0) != 0;
    };
    if (attributes.font != before.font || decorated(attributes) || decorated(before) ||
        (attributes.font && attributes.font->fixedAdvance > 0))
        return false;
    for (qsizetype i = run.location; i < run.end(); ++i) {
        if (const QChar c = storage_->characterAtIndex(i); c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

void TextView::mirrorBlockFormats(QTextCursor& cursor, TextRange range)
{
    for (QTextBlock block = document()->findBlock(int(range.location));
         block.isValid() && block.position() <= range.end(); block = block.next()) {
        const qsizetype at = block.position();
        const QTextBlockFormat format =
            at > 0 && !endsBlock(*storage_, at - 1)
                ? pieceFormat(block.previous().blockFormat(), storage_->characterAtIndex(at - 1))
                : blockFormat(at);
        if (block.blockFormat() == format)
            continue;
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}

const QTextCharFormat& TextView::charFormat(const TextAttributes& attributes, QChar fixedAdvanceCharacter) const
{
    const QPair<TextAttributes, QChar> key(attributes, fixedAdvanceCharacter);
    auto found = formats_.constFind(key);
    if (found != formats_.cend())
        return found.value();

    QTextCharFormat format;
    if (attributes.font) {
        const Font& font = *attributes.font;
        const QFont face = FontFaces::qfont(font);
        // For the layouts only what the face states: the rest is the document's default, as it would
        // be anyway. A layout merges its formats for every run each time it is drawn, and the fewer
        // properties the quicker that is. A document that is copied keeps every property, so its rich
        // text and print stay as they were.
        format.setFont(face, formatsInDocument_ ? QTextCharFormat::FontPropertiesAll
                                                : QTextCharFormat::FontPropertiesSpecifiedOnly);
        if (font.fixedAdvance > 0) {
            const double natural = QFontMetricsF(face).horizontalAdvance(fixedAdvanceCharacter);
            format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            format.setFontLetterSpacing(font.fixedAdvance - natural);
        }
    }
    if (attributes.foregroundColor) {
        const Color& color = *attributes.foregroundColor;
        format.setForeground(QColor::fromRgbF(float(color.red), float(color.green), float(color.blue),
                                              float(color.alpha)));
    }
    if (attributes.link) {
        format.setAnchor(true);
        format.setAnchorHref(*attributes.link);
    }
    if (attributes.underlineStyle && *attributes.underlineStyle != 0)
        format.setFontUnderline(true);
    if (attributes.strikethroughStyle && *attributes.strikethroughStyle != 0)
        format.setFontStrikeOut(true);
    if (attributes.toolTip)
        format.setToolTip(*attributes.toolTip);
    primeHash(format);
    if (formats_.size() >= FormatsKept)
        formats_.clear();
    return formats_.insert(key, format).value();
}

// The layouts take the look alone: a link and a tip are read from the storage where they are used (the
// anchor under the mouse, the tool tip), and without them the tags of a long line share one format
// rather than each making its own, to be built, looked up at every draw and kept by the document.
const QTextCharFormat& TextView::shownFormat(const TextAttributes& attributes, QChar fixedAdvanceCharacter) const
{
    if (formatsInDocument_ || (!attributes.link && !attributes.toolTip))
        return charFormat(attributes, fixedAdvanceCharacter);
    return charFormat(attributes.without(TextAttributes::LinkKey | TextAttributes::ToolTipKey), fixedAdvanceCharacter);
}

QTextBlockFormat TextView::blockFormat(qsizetype position) const
{
    std::optional<ParagraphStyle> style = defaultParagraphStyle_;
    if (position < storage_->length()) {
        const TextAttributes& attributes = storage_->attributesAtIndex(position);
        if (attributes.paragraphStyle)
            style = attributes.paragraphStyle;
    }
    // A stated direction spares the layout a look at the block's text each time it moves the block.
    const QString line = storage_->substring({position, storage_->paragraphRange({position, 0}).end() - position});
    qsizetype end = 0;
    while (end < line.size() && !endsBlock(line, end))
        ++end;
    const bool rightToLeft = QStringView(line).first(end).isRightToLeft();

    // A note has few paragraph styles, so their formats are kept, each built and hashed once.
    for (const BlockFormat& known : blockFormats_) {
        if (known.style == style && known.rightToLeft == rightToLeft)
            return known.format;
    }
    QTextBlockFormat format;
    if (style) {
        // The hanging indent is as wide as the line's prefix, which a hostile line makes a million
        // points wide: laid out that far in, every character would take a line of its own.
        const double indent = std::min(style->headIndent, MaximumHangingIndent);
        format.setLeftMargin(indent);
        format.setTextIndent(style->firstLineHeadIndent - indent);
        if (style->maximumLineHeight > 0 && style->minimumLineHeight == style->maximumLineHeight)
            format.setLineHeight(style->maximumLineHeight, QTextBlockFormat::FixedHeight);
        else if (style->minimumLineHeight > 0)
            format.setLineHeight(style->minimumLineHeight, QTextBlockFormat::MinimumHeight);
        else if (style->lineHeightMultiple > 0)
            format.setLineHeight(style->lineHeightMultiple * 100, QTextBlockFormat::ProportionalHeight);
    }
    format.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    primeHash(format);
    if (blockFormats_.size() >= 64)
        blockFormats_.clear();
    blockFormats_.push_back({style, rightToLeft, format});
    return format;
}

void TextView::documentContentsChanged(int position, int removed, int added)
{
    if (mirroring_ || !storage_)
        return;
    // The widget changed its document by itself: carry the change into the storage. The document's
    // closing block separator has no unit in the storage, nor has the document the part not yet in.
    const qsizetype oldLength = mirrored_;
    const qsizetype newLength = document()->characterCount() - 1;
    qsizetype from = position;
    qsizetype oldSpan = std::min<qsizetype>(removed, oldLength - from);
    qsizetype newSpan = std::min<qsizetype>(added, newLength - from);
    if (from > oldLength || oldSpan < 0 || newSpan < 0 || oldLength - oldSpan + newSpan != newLength) {
        from = 0;
        oldSpan = oldLength;
        newSpan = newLength;
    }
    // Breaks the widget made are line breaks, even in a piece whose format the new block took.
    QString text = documentText(from, from + newSpan);
    const QString made = selecting(document(), position, position + added).selectedText();
    for (qsizetype i = 0; i < made.size(); ++i) {
        if (made[i] == BlockSeparator && position + i >= from && position + i < from + newSpan)
            text[position + i - from] = BlockSeparator;
    }
    if (text == mirroredText({from, oldSpan})) {
        // Only formats changed: the storage's win.
        QScopedValueRollback guard(mirroring_, true);
        QTextCursor cursor = selecting(document(), from, from + oldSpan);
        cursor.beginEditBlock();
        if (!formatsInDocument_)
            cursor.setCharFormat(QTextCharFormat());
        mirrorFormats(cursor, {from, oldSpan});
        mirrorBlockFormats(cursor, {from, oldSpan});
        cursor.endEditBlock();
        return;
    }
    text.replace(BlockSeparator, u'\n');
    QScopedValueRollback ahead(documentAhead_, true);
    storage_->replaceCharacters({from, oldSpan}, text);
}
