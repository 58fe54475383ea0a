#include "TextViewLayout.h"

#include <QImage>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyle>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// Unbounded width, for a document without a page width.
constexpr qreal NoWrapWidth = 1e7;
// Changes to more blocks than this lay them out only when they are looked at again.
constexpr int RelayoutAtOnce = 64;
// More than a tall window's lines; the kept blocks are looked through for each block drawn.
constexpr size_t BlocksKept = 256;

// The rich-text layout measures in 1/64 units; rounding the same way puts lines on the same pixels.
int fixed(qreal value)
{
    return int(std::lround(value * 64));
}

} // namespace

TextViewLayout::TextViewLayout(QTextDocument* document) : QAbstractTextDocumentLayout(document)
{
    documentChanged(0, 0, document->characterCount());
}

TextViewLayout::Margins TextViewLayout::margins() const
{
    const QTextFrameFormat format = document()->rootFrame()->frameFormat();
    return {format.leftMargin(), format.topMargin(), format.rightMargin(), format.bottomMargin()};
}

qreal TextViewLayout::availableWidth() const
{
    const qreal page = document()->pageSize().width();
    if (page <= 0)
        return NoWrapWidth;
    const Margins m = margins();
    return std::max<qreal>(page - m.left - m.right, 0);
}

QSizeF TextViewLayout::documentSize() const
{
    const Margins m = margins();
    const qreal page = document()->pageSize().width();
    return {page > 0 ? page : m.left + m.right, m.top + top(int(heights_.size())) + m.bottom};
}

QRectF TextViewLayout::frameBoundingRect(QTextFrame* frame) const
{
    return frame == document()->rootFrame() ? QRectF(QPointF(), documentSize()) : QRectF();
}

QRectF TextViewLayout::blockBoundingRect(const QTextBlock& block) const
{
    if (!block.isValid())
        return {};
    place(block);
    const QTextLayout* layout = block.layout();
    QRectF rect = layout->boundingRect();
    rect.moveTopLeft(layout->position());
    return rect;
}

qsizetype TextViewLayout::laidOutBlockCount() const
{
    return std::count(laidOut_.begin(), laidOut_.end(), true);
}

void TextViewLayout::setFormatSource(FormatSource source)
{
    formatSource_ = std::move(source);
    documentChanged(0, 0, document()->characterCount());
}

void TextViewLayout::documentChanged(int from, int, int charsAdded)
{
    if (applyingFormats_) // a block taking its formats: it is being laid out already
        return;
    const QTextDocument* document = this->document();
    const int count = document->blockCount();
    // A change may be reported past the end (an input method's composition has no characters).
    QTextBlock first = document->findBlock(from);
    if (!first.isValid())
        first = document->lastBlock();
    const QTextBlock last = document->findBlock(from + charsAdded);
    const int firstNumber = first.blockNumber();
    const int added = (last.isValid() ? last.blockNumber() : count - 1) - firstNumber + 1;
    const int removed = added - (count - int(heights_.size()));
    if (removed < 0 || firstNumber + removed > int(heights_.size())) { // not what the blocks say: start over
        heights_.clear();
        laidOut_.clear();
        kept_.clear();
        keptLength_ = 0;
        documentChanged(0, 0, document->characterCount());
        return;
    }
    // Blocks on show are laid out again at once (a keystroke's paragraph), so that only they are
    // repainted when their heights stay; the rest wait until they are looked at. A block's layout is
    // made only when it is laid out: one for each block of a long note would take more than its text.
    const auto begin = laidOut_.begin() + firstNumber;
    std::vector<bool> wasLaidOut(begin, begin + removed);
    const bool shown = std::find(wasLaidOut.begin(), wasLaidOut.end(), true) != wasLaidOut.end();
    const qreal oldBottom = top(firstNumber + removed);
    renumberKeptGlyphs(firstNumber, removed, added);

    // A block keeps its old height as the estimate of its new one when the change split or joined
    // none: most changes are to a block's characters or formats, and a new page width changes all.
    // Heights found while the page had no width are a line each, though, several short for a long
    // paragraph: the text would move by as much as each is laid out, so they are estimated again.
    const bool gotWidth = added == count && wrapWidth_ >= NoWrapWidth && availableWidth() < NoWrapWidth;
    if (added == count)
        wrapWidth_ = availableWidth();
    if (removed == added) {
        std::fill(begin, begin + added, false);
        if (gotWidth) {
            heights_ = estimatedHeights(first, added);
            rebuildTree();
        }
    } else {
        heights_.erase(heights_.begin() + firstNumber, heights_.begin() + firstNumber + removed);
        laidOut_.erase(begin, begin + removed);
        const std::vector<qreal> estimates = estimatedHeights(first, added);
        heights_.insert(heights_.begin() + firstNumber, estimates.begin(), estimates.end());
        laidOut_.insert(laidOut_.begin() + firstNumber, size_t(added), false);
        rebuildTree();
        // Only the first block was there before: the others are new and have no layout yet.
        wasLaidOut.assign(size_t(added), false);
        wasLaidOut[0] = shown;
    }
    QTextBlock block = first;
    for (int i = 0; i < added; ++i, block = block.next()) {
        if (shown && added <= RelayoutAtOnce)
            layOut(block, true);
        else if (wasLaidOut[size_t(i)])
            block.layout()->clearLayout();
    }
    reportSize();
    const qreal width = std::max(documentSize().width(), NoWrapWidth);
    const qreal changedTop = margins().top + top(firstNumber);
    const qreal newBottom = top(firstNumber + added);
    emit update(QRectF(0, changedTop, width, newBottom == oldBottom ? newBottom - top(firstNumber) : NoWrapWidth));
}

std::vector<qreal> TextViewLayout::estimatedHeights(QTextBlock block, int count) const
{
    const QFontMetricsF metrics(document()->defaultFont());
    std::vector<qreal> estimates;
    estimates.reserve(size_t(count));
    for (int i = 0; i < count; ++i, block = block.next())
        estimates.push_back(estimatedHeight(block, metrics));
    return estimates;
}

qreal TextViewLayout::estimatedHeight(const QTextBlock& block, const QFontMetricsF& metrics) const
{
    const QTextBlockFormat format = block.blockFormat();
    const qreal width = availableWidth() - format.leftMargin() - format.rightMargin();
    const qreal lines = width > 0 ? std::max(1.0, std::ceil(block.length() * metrics.averageCharWidth() / width)) : 1;
    return lines * format.lineHeight(std::ceil(metrics.height()), 1);
}

qreal TextViewLayout::place(const QTextBlock& block) const
{
    const int number = block.blockNumber();
    if (!laidOut_[size_t(number)] || block.layout()->lineCount() == 0)
        layOut(block);
    const Margins m = margins();
    const QPointF position(m.left, m.top + top(number));
    if (block.layout()->position() != position)
        block.layout()->setPosition(position);
    return position.y();
}

qreal TextViewLayout::layOut(const QTextBlock& block, bool keepGlyphs) const
{
    // As the rich-text layout lays out a block of a root frame: lines as wide as the frame less the
    // block's margins, the first moved by the indent, each as high as the block's line-height rule says.
    const QTextBlockFormat format = block.blockFormat();
    const Qt::LayoutDirection direction = block.textDirection();
    QTextOption option = document()->defaultTextOption();
    option.setTextDirection(direction);
    option.setAlignment(QStyle::visualAlignment(
        direction, format.hasProperty(QTextFormat::BlockAlignment) ? format.alignment() : option.alignment()));
    if (!format.tabPositions().isEmpty())
        option.setTabs(format.tabPositions());

    QTextLayout* layout = block.layout();
    if (formatSource_)
        applyFormats(block);
    layout->setTextOption(option);
    setGlyphsKept(block, keepGlyphs);
    const qreal left = format.leftMargin();
    const qreal right = availableWidth() - format.rightMargin();
    int y = 0; // in 1/64
    bool firstLine = true;
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLeadingIncluded(true);
        qreal lineLeft = left;
        qreal lineRight = right;
        if (std::exchange(firstLine, false)) {
            if (direction == Qt::LeftToRight)
                lineLeft += format.textIndent();
            else
                lineRight -= format.textIndent();
        }
        line.setLineWidth(std::max<qreal>(lineRight - lineLeft, 0));

        const int type = format.lineHeightType();
        const int height = fixed(format.lineHeight(std::ceil(line.ascent() + line.descent() + line.leading()), 1));
        int adjustment = 0;
        if (type == QTextBlockFormat::FixedHeight)
            adjustment = fixed(line.ascent() + std::max<qreal>(line.leading(), 0)) - height * 4 / 5;
        else if (type == QTextBlockFormat::MinimumHeight)
            adjustment = fixed(line.height()) - height;
        line.setPosition(QPointF(lineLeft, qreal(y - adjustment) / 64));
        y += height;
    }
    layout->endLayout();

    const int number = block.blockNumber();
    laidOut_[size_t(number)] = true;
    const qreal height = qreal(y) / 64;
    if (height != heights_[size_t(number)]) {
        // What follows moves: repaint it.
        setHeight(number, height);
        sizeChanged();
        emit const_cast<TextViewLayout*>(this)->update(
            QRectF(0, margins().top + top(number), std::max(documentSize().width(), NoWrapWidth), NoWrapWidth));
    }
    return height;
}

void TextViewLayout::applyFormats(const QTextBlock& block) const
{
    QTextLayout* layout = block.layout();
    QList<QTextLayout::FormatRange> formats = formatSource_(block);
    const QString composition = layout->preeditAreaText();
    if (!composition.isEmpty()) {
        // The composition sits between the block's characters, which move along after it. It shows
        // the input method's formats over that of the character before it, as the document would.
        const int at = layout->preeditAreaPosition();
        const int size = int(composition.size());
        const int baseAt = std::max(std::min(block.length(), at) - 1, 0);
        QTextCharFormat base;
        QList<QTextLayout::FormatRange> placed;
        for (const QTextLayout::FormatRange& range : std::as_const(formats)) {
            const int end = range.start + range.length;
            if (range.start <= baseAt && baseAt < end)
                base = range.format;
            if (range.start < at)
                placed.append({range.start, std::min(end, at) - range.start, range.format});
            if (end > at)
                placed.append({std::max(range.start, at) + size, end - std::max(range.start, at), range.format});
        }
        // The input method's own formats are those inside its composition: ours never are.
        for (const QTextLayout::FormatRange& range : layout->formats()) {
            if (range.start < at || range.start + range.length > at + size)
                continue;
            QTextCharFormat format = base;
            format.merge(range.format);
            placed.append({range.start, range.length, format});
        }
        formats = placed;
    }
    if (layout->formats() == formats)
        return;
    // Setting them marks the block changed in the document: that change is this lay-out itself, and
    // it is let go of at once rather than reported with the next edit.
    QScopedValueRollback applying(applyingFormats_, true);
    layout->setFormats(formats);
    document()->markContentsDirty(block.position(), block.length());
}

void TextViewLayout::draw(QPainter* painter, const PaintContext& context)
{
    QScopedValueRollback drawing(drawing_, true);
    QScopedValueRollback drawn(drawnBlocks_, size_t(0));
    const QTextDocument* document = this->document();
    const QRectF clip = context.clip.isValid() ? context.clip : QRectF(QPointF(), documentSize());
    const int cursorWidth = property("cursorWidth").isValid() ? property("cursorWidth").toInt() : 1;

    // A line's glyphs may reach past its block's share of the height: the blocks on either side of
    // the clip are drawn too.
    int after = 0;
    for (QTextBlock block = document->findBlockByNumber(std::max(blockAt(clip.top() - margins().top) - 1, 0));
         block.isValid() && (place(block) <= clip.bottom() || after++ == 0); block = block.next()) {
        const QTextLayout* layout = block.layout();
        const int start = block.position();
        const int length = block.length();
        QList<QTextLayout::FormatRange> selections;
        for (const Selection& selection : context.selections) {
            const int from = selection.cursor.selectionStart() - start;
            const int to = selection.cursor.selectionEnd() - start;
            if (from < length && to > 0 && to > from) {
                selections.append({from, to - from, selection.format});
            } else if (!selection.cursor.hasSelection() &&
                       selection.format.hasProperty(QTextFormat::FullWidthSelection) &&
                       block.contains(selection.cursor.position())) {
                // A whole line marked by a position on it.
                const QTextLine line = layout->lineForTextPosition(selection.cursor.position() - start);
                const int end = line.textStart() + line.textLength();
                selections.append({line.textStart(), line.textLength() + (end == length - 1), selection.format});
            }
        }
        const QPen pen = painter->pen();
        painter->setPen(context.palette.color(QPalette::Text));
        ++drawnBlocks_;
        setGlyphsKept(block, true);
        layout->draw(painter, QPointF(), selections, clip);
        if ((context.cursorPosition >= start && context.cursorPosition < start + length) ||
            (context.cursorPosition < -1 && !layout->preeditAreaText().isEmpty())) {
            const int at = context.cursorPosition < -1 ? layout->preeditAreaPosition() - (context.cursorPosition + 2)
                                                       : context.cursorPosition - start;
            layout->drawCursor(painter, QPointF(), at, cursorWidth);
        }
        painter->setPen(pen);
    }
}

void TextViewLayout::setGlyphsKept(const QTextBlock& block, bool keep) const
{
    const int number = block.blockNumber();
    const auto found =
        std::find_if(kept_.begin(), kept_.end(), [number](const Kept& kept) { return kept.block == number; });
    if (found != kept_.end()) {
        keptLength_ -= found->length;
        kept_.erase(found);
    }
    block.layout()->setCacheEnabled(keep);
    if (!keep)
        return;
    kept_.push_back({number, block.length()});
    keptLength_ += block.length();
    // Those on show keep theirs whatever their length: a line longer than the bound would otherwise be
    // shaped anew for each paint, a caret's blink among them.
    const size_t spared = std::max<size_t>(drawnBlocks_, 1);
    const auto over = [this, spared] {
        return (keptLength_ > GlyphsKept || kept_.size() > BlocksKept) && kept_.size() > spared;
    };
    if (!over())
        return;
    // A layout lets its glyphs go after a draw without its cache: these draw none of their lines.
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    while (over()) {
        const Kept oldest = kept_.front();
        kept_.pop_front();
        keptLength_ -= oldest.length;
        const QTextBlock old = document()->findBlockByNumber(oldest.block);
        if (!old.isValid())
            continue;
        old.layout()->setCacheEnabled(false);
        old.layout()->draw(&painter, QPointF(), {}, QRectF(0, -2 * NoWrapWidth, 1, 1));
    }
}

void TextViewLayout::renumberKeptGlyphs(int first, int removed, int added)
{
    std::erase_if(kept_, [&](Kept& kept) {
        if (kept.block >= first + removed) {
            kept.block += added - removed;
            return false;
        }
        if (kept.block < first)
            return false;
        // The change took its glyphs; it keeps new ones once laid out on show or drawn.
        if (kept.block < first + added)
            document()->findBlockByNumber(kept.block).layout()->setCacheEnabled(false);
        keptLength_ -= kept.length;
        return true;
    });
}

int TextViewLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    const QTextDocument* document = this->document();
    const qreal frameTop = margins().top;
    // Laying a block out changes its height: look again until the block found is the one laid out.
    QTextBlock block = document->findBlockByNumber(blockAt(point.y() - frameTop));
    for (int tries = 0; tries < 4; ++tries) {
        place(block);
        const QTextBlock found = document->findBlockByNumber(blockAt(point.y() - frameTop));
        if (found == block)
            break;
        block = found;
    }
    const QTextLayout* layout = block.layout();
    const QRectF text = layout->boundingRect().translated(layout->position());
    int position = block.position();
    bool exact = false;
    if (point.y() > text.bottom()) {
        position += block.length() - 1;
    } else if (point.y() >= text.top()) {
        const QPointF at = point - text.topLeft();
        int offset = 0;
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const QRectF rect = line.naturalTextRect();
            if (rect.top() > at.y()) {
                offset = std::min(offset, line.textStart());
            } else if (rect.bottom() <= at.y()) {
                offset = std::max(offset, line.textStart() + line.textLength());
            } else {
                exact = rect.left() <= at.x() && rect.right() >= at.x();
                // A hit on a link counts on all of its characters, not only on their left halves.
                offset = line.xToCursor(at.x(), accuracy == Qt::ExactHit ? QTextLine::CursorOnCharacter
                                                                         : QTextLine::CursorBetweenCharacters);
                break;
            }
        }
        position += offset;
    }
    if (accuracy == Qt::ExactHit && !exact)
        return -1;
    const int last = document->rootFrame()->lastPosition() + int(layout->preeditAreaText().size());
    return std::clamp(position, 0, last);
}

qreal TextViewLayout::top(int blockNumber) const
{
    qreal sum = 0;
    for (size_t i = size_t(blockNumber); i > 0; i -= i & (~i + 1))
        sum += tree_[i];
    return sum;
}

int TextViewLayout::blockAt(qreal y) const
{
    const size_t count = heights_.size();
    size_t position = 0;
    size_t step = 1;
    while (step * 2 <= count)
        step *= 2;
    for (; step > 0; step /= 2) {
        if (position + step <= count && tree_[position + step] <= y) {
            position += step;
            y -= tree_[position];
        }
    }
    return int(std::min(position, count - 1));
}

void TextViewLayout::setHeight(int blockNumber, qreal height) const
{
    const qreal change = height - heights_[size_t(blockNumber)];
    heights_[size_t(blockNumber)] = height;
    for (size_t i = size_t(blockNumber) + 1; i < tree_.size(); i += i & (~i + 1))
        tree_[i] += change;
}

void TextViewLayout::rebuildTree() const
{
    tree_.assign(heights_.size() + 1, 0);
    for (size_t i = 1; i < tree_.size(); ++i) {
        tree_[i] += heights_[i - 1];
        const size_t parent = i + (i & (~i + 1));
        if (parent < tree_.size())
            tree_[parent] += tree_[i];
    }
}

void TextViewLayout::sizeChanged() const
{
    if (!drawing_) {
        reportSize();
        return;
    }
    if (std::exchange(sizeChangePosted_, true))
        return;
    QMetaObject::invokeMethod(
        const_cast<TextViewLayout*>(this),
        [this] {
            sizeChangePosted_ = false;
            reportSize();
        },
        Qt::QueuedConnection);
}

void TextViewLayout::reportSize() const
{
    const QSizeF size = documentSize();
    if (size == reportedSize_)
        return;
    reportedSize_ = size;
    emit const_cast<TextViewLayout*>(this)->documentSizeChanged(size);
}
