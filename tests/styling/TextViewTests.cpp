#include "TextView.h"
#include "TextViewLayout.h"
#include "demo/EditorLook.h"

#include "LongNote.h"

#include "text/FontFaces.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextLayout>
#include <QToolTip>

#include <functional>
#include <memory>

namespace {

struct RecordingDelegate : TextViewDelegate {
    bool answer = true;
    QList<TextRange> ranges;
    QStringList strings;
    int asked = 0;
    bool textViewShouldChangeTextInRanges(TextView&, const QList<TextRange>& r, const QStringList& s) override
    {
        ++asked;
        ranges = r;
        strings = s;
        return answer;
    }
};

QColor qcolor(const Color& c)
{
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}

// Drops arrive from the window system; the test hands one over directly.
struct DroppingTextView : TextView {
    using TextView::dropEvent;
};

class StylingView : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.setTextStorage(&storage);
        view.setDelegate(&delegate);
        applyEditorLook(storage, 0, 16, 0, &view);
        view.resize(600, 400);
    }

    void setText(const QString& text) { storage.replaceCharacters({0, storage.length()}, text); }
    void key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
    {
        QKeyEvent event(QEvent::KeyPress, code, modifiers, text);
        QApplication::sendEvent(&view, &event);
    }
    void type(const QString& text)
    {
        for (QChar c : text)
            key(c == u'\n' ? Qt::Key_Return : Qt::Key_A, Qt::NoModifier, c == u'\n' ? "\r" : QString(c));
    }
    // What the unit shows in: the document's format under the one its block's layout gives it.
    QTextCharFormat formatAt(qsizetype index) const
    {
        const QTextBlock block = view.document()->findBlock(int(index));
        view.document()->documentLayout()->blockBoundingRect(block); // laid out, with its formats
        const int offset = int(index) - block.position();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (index < fragment.position() || index >= fragment.position() + fragment.length())
                continue;
            QTextCharFormat format = fragment.charFormat();
            for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
                if (offset >= range.start && offset < range.start + range.length)
                    format.merge(range.format);
            }
            return format;
        }
        return block.next().charFormat(); // the separator that ends the block
    }

    // Qt's rich-text layout needs the formats in the document: a copy of what a view keeping them
    // there holds of the same storage, set out as the view is.
    std::unique_ptr<QTextDocument> richTextCopy() { return richTextCopy(storage); }
    std::unique_ptr<QTextDocument> richTextCopy(TextStorage& shown)
    {
        TextView formatted;
        formatted.setFormatsInDocument(true);
        EditorStyle::applyToView(formatted, storage, 0);
        formatted.setTextStorage(&shown);
        formatted.ensureMirrored(shown.length());
        std::unique_ptr<QTextDocument> copy(formatted.document()->clone());
        formatted.setTextStorage(nullptr);
        copy->setPageSize(view.document()->pageSize());
        copy->setDefaultTextOption(view.document()->defaultTextOption());
        copy->rootFrame()->setFrameFormat(view.document()->rootFrame()->frameFormat());
        return copy;
    }

    static bool isPieceBreak(const QString& text, QChar shown, qsizetype i)
    {
        return shown == QChar::ParagraphSeparator && (text[i] == u' ' || text[i] == u'\t');
    }

    // The document shows every unit of the storage at its own position, blocks where the storage's
    // lines break (and where a long line's pieces do, at a space or tab), and the storage's
    // attributes at the sampled positions.
    void expectMirrored(int samples, QRandomGenerator& random)
    {
        const QString& text = storage.string();
        QTextDocument* document = view.document();
        ASSERT_EQ(document->characterCount() - 1, text.size());
        int breaks = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar shown = document->characterAt(int(i));
            const bool crOfCrLf = text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
            const bool breaksLine = !crOfCrLf && (text[i] == u'\n' || text[i] == u'\r' || text[i] == QChar(0x2029));
            breaks += breaksLine || isPieceBreak(text, shown, i);
            if (breaksLine) {
                ASSERT_EQ(shown, QChar::ParagraphSeparator) << i;
            } else if (!crOfCrLf && !isPieceBreak(text, shown, i)) {
                ASSERT_EQ(shown, text[i]) << i;
            }
        }
        ASSERT_EQ(document->blockCount(), breaks + 1);
        for (QTextBlock block = document->firstBlock(); block.isValid(); block = block.next()) {
            const bool piece = block.position() > 0 && isPieceBreak(text, QChar::ParagraphSeparator, block.position() - 1);
            ASSERT_TRUE(block.length() > 1 || !piece) << "an empty piece at " << block.position();
        }
        for (int n = 0; n < samples && !text.isEmpty(); ++n) {
            const qsizetype i = random.bounded(int(text.size()));
            const TextAttributes& attributes = storage.attributesAtIndex(i);
            const QTextCharFormat format = formatAt(i);
            if (attributes.font) {
                const QFont expected = FontFaces::qfont(*attributes.font);
                ASSERT_EQ(format.font().family(), expected.family()) << i;
                ASSERT_EQ(format.font().pointSizeF(), expected.pointSizeF()) << i;
                ASSERT_EQ(format.font().bold(), expected.bold()) << i;
            }
            // A space or tab shows no colour of its own unless a line is drawn through or under it.
            const bool inked = (text[i] != u' ' && text[i] != u'\t') || attributes.underlineStyle.value_or(0) != 0 ||
                               attributes.strikethroughStyle.value_or(0) != 0;
            if (attributes.foregroundColor && inked) {
                ASSERT_EQ(format.foreground().color(), qcolor(*attributes.foregroundColor)) << i;
            }
            // Links and tips are the storage's, read where they are used: the layouts show the look alone.
            ASSERT_FALSE(format.isAnchor()) << i;
            ASSERT_TRUE(format.toolTip().isEmpty()) << i;
            ASSERT_EQ(format.fontUnderline(), attributes.underlineStyle.value_or(0) != 0) << i;
            ASSERT_EQ(format.fontStrikeOut(), attributes.strikethroughStyle.value_or(0) != 0) << i;
            const QTextBlock shownIn = document->findBlock(int(i));
            const QTextBlockFormat block = shownIn.blockFormat();
            const ParagraphStyle style = *storage.attributesAtIndex(shownIn.position()).paragraphStyle;
            const bool piece = shownIn.position() > 0 && isPieceBreak(text, QChar::ParagraphSeparator, shownIn.position() - 1);
            ASSERT_EQ(block.leftMargin(), style.headIndent) << i;
            ASSERT_EQ(block.textIndent(), piece ? 0 : style.firstLineHeadIndent - style.headIndent) << i;
            ASSERT_EQ(block.lineHeight(), style.maximumLineHeight) << i;
            ASSERT_EQ(block.lineHeightType(), int(QTextBlockFormat::FixedHeight)) << i;
        }
    }

    // The layout's pixels with a selection across lines and a caret.
    QImage paint(QAbstractTextDocumentLayout* layout, QSizeF size) const
    {
        QImage image(size.toSize(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = view.palette();
        context.cursorPosition = 60;
        QAbstractTextDocumentLayout::Selection selection{QTextCursor(layout->document()), {}};
        selection.cursor.setPosition(8);
        selection.cursor.setPosition(90, QTextCursor::KeepAnchor);
        selection.format.setBackground(Qt::yellow);
        context.selections = {selection};
        layout->draw(&painter, context);
        return image;
    }

    MarkdownTextStorage storage;
    DroppingTextView view;
    RecordingDelegate delegate;
};

} // namespace

TEST_F(StylingView, LineBreaksKeepOnePositionPerUnit)
{
    setText("a\r\nb\rc\u2029d\ne\r\n");
    QRandomGenerator random(1);
    expectMirrored(20, random);
    EXPECT_EQ(view.document()->blockCount(), 6);
    EXPECT_EQ(view.document()->findBlock(3).position(), 3); // "b" starts its block after CR LF
    // Typing a LF after a lone CR turns the pair into one break, and deleting it splits it again.
    storage.replaceCharacters({5, 0}, "\n");
    expectMirrored(20, random);
    storage.replaceCharacters({5, 1}, "");
    expectMirrored(20, random);
}

TEST_F(StylingView, UserEditsGoThroughTheDelegateToTheStorage)
{
    setText("hello world");
    view.setSelectedRange({6, 5});
    type("x");
    EXPECT_EQ(storage.string(), QStringLiteral("hello x"));
    EXPECT_EQ(delegate.ranges, (QList<TextRange>{{6, 5}}));
    EXPECT_EQ(delegate.strings, QStringList{"x"});
    EXPECT_EQ(view.selectedRange(), (TextRange{7, 0}));

    type("\n");
    EXPECT_EQ(storage.string(), QStringLiteral("hello x\n"));
    key(Qt::Key_Backspace);
    key(Qt::Key_Backspace);
    EXPECT_EQ(storage.string(), QStringLiteral("hello "));
    view.setSelectedRange({0, 0});
    key(Qt::Key_Delete);
    EXPECT_EQ(storage.string(), QStringLiteral("ello "));

    // A refusal leaves everything as it was.
    delegate.answer = false;
    type("zz");
    key(Qt::Key_Backspace);
    EXPECT_EQ(storage.string(), QStringLiteral("ello "));
    delegate.answer = true;

    // A surrogate pair goes in one backspace.
    setText("a\U0001F600");
    view.setSelectedRange({3, 0});
    key(Qt::Key_Backspace);
    EXPECT_EQ(storage.string(), QStringLiteral("a"));

    // Paste goes the same way, as plain text.
    QGuiApplication::clipboard()->setText("pasted");
    view.setSelectedRange({0, 1});
    view.paste();
    EXPECT_EQ(storage.string(), QStringLiteral("pasted"));
    EXPECT_EQ(delegate.ranges, (QList<TextRange>{{0, 1}}));

    // A copy carries the storage's units, line breaks as they are.
    setText("a\r\nb\rc");
    view.setSelectedRange({0, 6});
    view.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("a\r\nb\rc"));
    setText("pasted");

    // Undo belongs to the editor: the widget's own does nothing.
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(storage.string(), QStringLiteral("pasted"));
}

TEST_F(StylingView, InputMethodCommitsOnlyTheCommittedText)
{
    setText("ab");
    view.setSelectedRange({1, 0});
    QInputMethodEvent composing("ka", {});
    QApplication::sendEvent(&view, &composing);
    EXPECT_EQ(storage.string(), QStringLiteral("ab"));
    EXPECT_EQ(view.document()->characterCount() - 1, 2);

    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("\u304b"));
    QApplication::sendEvent(&view, &commit);
    EXPECT_EQ(storage.string(), QStringLiteral("a\u304bb"));
    EXPECT_EQ(view.selectedRange(), (TextRange{2, 0}));

    // A commit that replaces the unit before the caret.
    QInputMethodEvent replace;
    replace.setCommitString(QStringLiteral("K"), -1, 1);
    QApplication::sendEvent(&view, &replace);
    EXPECT_EQ(storage.string(), QStringLiteral("aKb"));
}

TEST_F(StylingView, DropInsertsOrMovesThroughTheDelegate)
{
    setText("one two");
    view.show();
    QMimeData data;
    data.setText("X");
    QTextCursor at(view.document());
    at.setPosition(3);
    const QPointF point = view.cursorRect(at).center();
    QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    view.dropEvent(&drop);
    EXPECT_EQ(storage.string(), QStringLiteral("oneX two"));
    EXPECT_EQ(delegate.ranges, (QList<TextRange>{{3, 0}}));
    EXPECT_EQ(view.selectedRange(), (TextRange{3, 1}));
}

TEST_F(StylingView, WidgetChangesAreCarriedIntoTheStorage)
{
    setText("# title\nbody text");
    QTextCursor cursor(view.document());
    cursor.setPosition(8);
    cursor.insertText("more ");
    EXPECT_EQ(storage.string(), QStringLiteral("# title\nmore body text"));
    cursor.setPosition(0);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    EXPECT_EQ(storage.string(), QStringLiteral("title\nmore body text"));
    // The widget's own cut removes the selection from the storage too.
    view.setSelectedRange({0, 6});
    view.cut();
    EXPECT_EQ(storage.string(), QStringLiteral("more body text"));
    // A format the widget sets by itself gives way to the storage's.
    cursor.setPosition(0);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    QTextCharFormat red;
    red.setForeground(Qt::red);
    cursor.mergeCharFormat(red);
    EXPECT_EQ(formatAt(1).foreground().color(), qcolor(*storage.mainColor()));
    QRandomGenerator random(2);
    expectMirrored(20, random);
}

TEST_F(StylingView, SymbolsAdvanceByTheFixedWidth)
{
    // Typeface 4's symbol face is proportional; the spacing makes every symbol equally wide.
    applyEditorLook(storage, 4, 20, 0, &view);
    setText("> - [x] item");
    view.show();
    QTextLayout* layout = view.document()->firstBlock().layout();
    ASSERT_GT(layout->lineCount(), 0);
    const QTextLine line = layout->lineAt(0);
    const double advance = storage.fixedSymbolFont()->fixedAdvance;
    ASSERT_GT(advance, 0);
    for (int i : {0, 2, 5})
        EXPECT_NEAR(line.cursorToX(i + 1) - line.cursorToX(i), advance, 0.6) << i;
}

TEST_F(StylingView, RandomEditsKeepTheMirrorEqual)
{
    const QStringList pieces = {"# ", "**", "*", "_", "~~", "`", "- ", "[ ] ", "#tag ", "@who", "\n", "\r\n", "\r",
                                "\u2029", "> ", "1. ", "word ", "é", "\U0001F600", "<a>", "http://x.y/z ", "&lt;"};
    QRandomGenerator random(1000);
    QString reference;
    for (int i = 0; i < 1000; ++i) {
        const qsizetype at = random.bounded(int(reference.size() + 1));
        const QString piece = pieces[random.bounded(int(pieces.size()))];
        const qsizetype length = std::min<qsizetype>(random.bounded(0, 3), reference.size() - at);
        switch (random.bounded(4)) {
        case 0: // the storage's owner
            storage.replaceCharacters({at, length}, piece);
            break;
        case 1: // typing over a selection
            view.setSelectedRange({at, length});
            key(Qt::Key_A, Qt::NoModifier, piece);
            break;
        case 2: // deleting
            view.setSelectedRange({at, length});
            key(Qt::Key_Delete);
            break;
        default: { // the widget by itself
            QTextCursor cursor(view.document());
            cursor.setPosition(int(at));
            cursor.setPosition(int(at + length), QTextCursor::KeepAnchor);
            cursor.insertText(piece);
            break;
        }
        }
        reference = storage.string();
        ASSERT_NO_FATAL_FAILURE(expectMirrored(3, random)) << i;
    }
    EXPECT_GT(reference.size(), 100);
}

// A line of numbered words, so that each place reads apart, longer than the length given.
QString longLine(qsizetype length, const QString& gap = QStringLiteral(" "))
{
    QString line;
    for (int n = 0; line.size() < length; ++n)
        line += QStringLiteral("w%1").arg(n) + gap;
    return line;
}

TEST_F(StylingView, ALongLineShowsInPiecesThatKeepEveryUnit)
{
    // The nth break the document shows where the storage holds a space or tab.
    const auto pieceBreak = [this](int n) {
        const QString& text = storage.string();
        for (QTextBlock block = view.document()->firstBlock().next(); block.isValid(); block = block.next()) {
            const qsizetype at = block.position() - 1;
            if ((text[at] == u' ' || text[at] == u'\t') && n-- == 0)
                return at;
        }
        ADD_FAILURE() << "no such piece";
        return qsizetype(0);
    };
    const QString line = longLine(3 * TextView::LongLine);
    const struct {
        const char* name;
        QString text;
        std::function<void()> edit;
    } cases[] = {
        {"none", line, [] {}},
        {"tabs between the words", longLine(TextView::LongLine + 1, QStringLiteral("\t")), [] {}},
        {"typing at random places", line,
         [this] {
             QRandomGenerator places(3);
             for (int i = 0; i < 200; ++i) {
                 view.setSelectedRange({places.bounded(int(storage.length())), 0});
                 if (i % 4 == 3)
                     key(Qt::Key_Backspace);
                 else
                     type(i % 4 == 2 ? " " : "k");
             }
         }},
        {"typing on either side of a break", line,
         [&] {
             const qsizetype at = pieceBreak(3);
             view.setSelectedRange({at, 0});
             type("ab");
             view.setSelectedRange({at + 3, 0});
             type("cd");
             EXPECT_EQ(storage.string().mid(at - 1, 7), line.mid(at - 1, 1) + "ab cd" + line.mid(at + 1, 1));
         }},
        {"deleting a break's space", line,
         [&] {
             const qsizetype at = pieceBreak(2);
             view.setSelectedRange({at + 1, 0});
             key(Qt::Key_Backspace);
             EXPECT_EQ(storage.string(), QString(line).remove(at, 1));
         }},
        {"emptying a piece", line,
         [&] {
             const QTextBlock piece = view.document()->findBlock(int(pieceBreak(2)) + 1);
             view.setSelectedRange({piece.position(), piece.length() - 1});
             key(Qt::Key_Delete);
         }},
        {"a line break in a piece and joining it again", line,
         [&] {
             const qsizetype at = pieceBreak(4) + 5;
             view.setSelectedRange({at, 0});
             type("\n");
             EXPECT_EQ(storage.string(), QString(line).insert(at, u'\n'));
             key(Qt::Key_Backspace);
             EXPECT_EQ(storage.string(), line);
         }},
        {"pasting a long text into a piece", line,
         [&] {
             QGuiApplication::clipboard()->setText(longLine(2 * TextView::LongLine));
             view.setSelectedRange({pieceBreak(1) + 5, 0});
             view.paste();
         }},
        {"a line break the widget makes by itself", line,
         [&] {
             const qsizetype at = pieceBreak(3) + 4;
             QTextCursor cursor(view.document());
             cursor.setPosition(int(at));
             cursor.insertText("x\ny");
             EXPECT_EQ(storage.string().mid(at, 3), QStringLiteral("x\ny"));
         }},
    };
    QRandomGenerator random(7);
    view.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setText(c.text);
        view.viewport()->repaint();
        c.edit();
        view.viewport()->repaint();
        ASSERT_NO_FATAL_FAILURE(expectMirrored(100, random));
        int longest = 0;
        for (QTextBlock block = view.document()->firstBlock(); block.isValid(); block = block.next())
            longest = std::max(longest, block.length() - 1);
        EXPECT_LE(longest, 2 * TextView::PieceLength);
    }
    EXPECT_EQ(delegate.ranges.size(), delegate.strings.size());

    // A line with no space or tab to break at stays whole; a line of a long line's length less one does too.
    for (const QString& whole : {QString(TextView::LongLine + 10, u'x'), longLine(TextView::LongLine).left(TextView::LongLine)}) {
        setText(whole);
        EXPECT_EQ(view.document()->blockCount(), 1);
        ASSERT_NO_FATAL_FAILURE(expectMirrored(10, random));
    }
}

TEST_F(StylingView, APieceThatGrowsSplitsWhereItsLineWraps)
{
    view.show();
    setText(longLine(TextView::LongLine + 10));
    const qsizetype start = view.document()->findBlockByNumber(2).position();
    view.setSelectedRange({start + 1, 0});
    const int blocks = view.document()->blockCount();
    while (view.document()->blockCount() == blocks)
        type("z");
    view.viewport()->repaint();
    // The piece typed into ends where its last line wraps: the first word of the next piece, after
    // the space its break stands for, would not have fitted on that line.
    const QTextBlock first = view.document()->findBlock(int(start));
    const QTextBlock second = first.next();
    ASSERT_EQ(second.blockNumber(), 3);
    EXPECT_GT(first.length(), TextView::PieceLength / 2);
    const QTextLine last = first.layout()->lineAt(first.layout()->lineCount() - 1);
    const int word = int(storage.string().indexOf(u' ', second.position()) - second.position());
    const qreal space = QFontMetricsF(formatAt(second.position() - 1).font()).horizontalAdvance(u' ');
    EXPECT_GT(last.naturalTextWidth() + space + second.layout()->lineAt(0).cursorToX(word), last.width());
    QRandomGenerator random(8);
    ASSERT_NO_FATAL_FAILURE(expectMirrored(50, random));
}

TEST_F(StylingView, BlocksStateTheirDirectionFromTheStart)
{
    // Opened in one piece or edited line by line, every block states the direction of its text.
    const QString text = QStringLiteral("left to right\n\u05E9\u05DC\u05D5\u05DD world\r\n- item\r\n\n\u0627\u0644\u0639\u0631\u0628\u064A\u0629");
    MarkdownTextStorage opened;
    applyEditorLook(opened, 0, 16, 0);
    opened.replaceCharacters({0, 0}, text);
    TextView other;
    applyEditorLook(opened, 0, 16, 0, &other);
    other.setTextStorage(&opened);
    setText(text);
    storage.replaceCharacters({0, 0}, "x");
    storage.replaceCharacters({0, 1}, QString());

    const QList<Qt::LayoutDirection> expected = {Qt::LeftToRight, Qt::RightToLeft, Qt::LeftToRight,
                                                 Qt::LeftToRight, Qt::RightToLeft};
    for (QTextDocument* document : {other.document(), view.document()}) {
        ASSERT_EQ(document->blockCount(), expected.size());
        int n = 0;
        for (QTextBlock block = document->firstBlock(); block.isValid(); block = block.next(), ++n)
            EXPECT_EQ(block.blockFormat().layoutDirection(), expected[n]) << n;
    }
    for (QTextBlock a = other.document()->firstBlock(), b = view.document()->firstBlock(); a.isValid();
         a = a.next(), b = b.next())
        EXPECT_EQ(a.blockFormat(), b.blockFormat());
}

TEST_F(StylingView, LinesSitAndPaintWhereTheRichTextLayoutPutsThem)
{
    // A heading, hanging indents of wrapped list items and quotes, right-to-left text, an empty line.
    setText("# A heading\n\n- [ ] " + QStringLiteral("a list item long enough to wrap ").repeated(6) + "\n> " +
            QStringLiteral("quoted words ").repeated(20) + "\n1. one\n\u05E9\u05DC\u05D5\u05DD world\n**bold** `code` #tag");
    view.setTextContainerInset(20, 30);
    view.show();
    QApplication::processEvents();
    const std::unique_ptr<QTextDocument> reference(richTextCopy());
    QAbstractTextDocumentLayout* ours = view.document()->documentLayout();
    QAbstractTextDocumentLayout* theirs = reference->documentLayout();

    for (QTextBlock a = view.document()->firstBlock(), b = reference->firstBlock(); a.isValid(); a = a.next(), b = b.next()) {
        ASSERT_EQ(ours->blockBoundingRect(a), theirs->blockBoundingRect(b)) << a.blockNumber();
        ASSERT_EQ(a.layout()->lineCount(), b.layout()->lineCount()) << a.blockNumber();
        for (int i = 0; i < a.layout()->lineCount(); ++i) {
            const QTextLine line = a.layout()->lineAt(i);
            const QTextLine other = b.layout()->lineAt(i);
            EXPECT_EQ(line.position(), other.position()) << a.blockNumber() << ":" << i;
            EXPECT_EQ(line.width(), other.width()) << a.blockNumber() << ":" << i;
            EXPECT_EQ(line.textStart(), other.textStart()) << a.blockNumber() << ":" << i;
        }
    }
    const QSizeF size = theirs->documentSize();
    EXPECT_EQ(ours->documentSize().height(), size.height());

    // Every point finds the same position, nearest or exact, above, inside and below the text.
    for (qreal y = -5; y < size.height() + 5; y += 3) {
        for (qreal x = -5; x < size.width(); x += 11) {
            for (Qt::HitTestAccuracy accuracy : {Qt::FuzzyHit, Qt::ExactHit})
                ASSERT_EQ(ours->hitTest({x, y}, accuracy), theirs->hitTest({x, y}, accuracy)) << x << "," << y;
        }
    }

    // The same pixels, with a selection across lines and a caret.
    EXPECT_TRUE(paint(ours, size) == paint(theirs, size));
}

// An edited paragraph keeps its shaped glyphs until it is drawn: what it draws must still be what
// the rich-text layout draws of the text as it is now, after edits that restyle the line.
TEST_F(StylingView, EditedParagraphsPaintAsTheRichTextLayoutDoes)
{
    struct Edit {
        const char* name;
        qsizetype at;
        QString typed;
    };
    const Edit edits[] = {
        {"a letter in a wrapped item", 30, "x"},
        {"a heading marker", 0, "# "},
        {"a closing emphasis", 16, "**"},
        {"a line break", 20, "\n"},
        {"a letter before a code span", 5, "y"},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.name);
        setText("- [ ] " + QStringLiteral("an item long enough to wrap ").repeated(6) + "\n**open `code` #tag\nlast");
        view.show();
        QApplication::processEvents();
        // Twice, the second before any paint.
        for (int round = 0; round < 2; ++round) {
            view.setSelectedRange({edit.at, 0});
            type(edit.typed);
        }
        const std::unique_ptr<QTextDocument> reference(richTextCopy());
        const QSizeF size = reference->documentLayout()->documentSize();
        ASSERT_EQ(view.document()->documentLayout()->documentSize().height(), size.height());
        EXPECT_TRUE(paint(view.document()->documentLayout(), size) == paint(reference->documentLayout(), size));
    }
}

// A restyle reaches the lines it changes even when their text stays, and the document keeps no runs
// of formats: each line is one fragment, however many styles it shows.
TEST_F(StylingView, RestylesReachTheLinesTheyChangeAndTheDocumentHoldsNoRuns)
{
    const QString text = "plain words and more words\n\n- [ ] an item with **bold** and `code` #tag\n"
                         "> quoted [a link](https://example.org) text\n\nlast line of the note, long enough for the selection";
    const qsizetype fence = text.indexOf("\n- ") + 1;
    const struct {
        const char* name;
        std::function<void()> edit;
    } cases[] = {
        {"opening a code block above lines", [&] { storage.replaceCharacters({0, 0}, "```\n"); }},
        {"closing it between lines", [&] {
             storage.replaceCharacters({0, 0}, "```\n");
             view.viewport()->repaint();
             storage.replaceCharacters({fence + 4, 0}, "```\n");
         }},
        {"an emphasis closed across a line", [&] { storage.replaceCharacters({0, 0}, "**"); }},
        {"a heading marker", [&] { storage.replaceCharacters({fence, 0}, "# "); }},
        {"a new theme", [&] { applyEditorLook(storage, 0, 16, 3, &view); }},
    };
    QRandomGenerator random(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        applyEditorLook(storage, 0, 16, 0, &view);
        setText(text);
        view.show();
        QApplication::processEvents();
        view.viewport()->repaint(); // every line laid out and drawn with its formats, glyphs kept
        const auto* layout = static_cast<const TextViewLayout*>(view.document()->documentLayout());
        ASSERT_EQ(layout->laidOutBlockCount(), view.document()->blockCount());
        c.edit();
        ASSERT_NO_FATAL_FAILURE(expectMirrored(100, random));
        const std::unique_ptr<QTextDocument> reference(richTextCopy());
        const QSizeF size = reference->documentLayout()->documentSize();
        ASSERT_EQ(view.document()->documentLayout()->documentSize().height(), size.height());
        EXPECT_TRUE(paint(view.document()->documentLayout(), size) == paint(reference->documentLayout(), size));
        for (QTextBlock block = view.document()->firstBlock(); block.isValid(); block = block.next()) {
            int fragments = 0;
            for (auto it = block.begin(); !it.atEnd(); ++it)
                ++fragments;
            EXPECT_LE(fragments, 1) << block.blockNumber();
        }
    }

    // A storage that restyles nothing itself: attributes set on lines already laid out show at once.
    TextStorage plain;
    const QString lines = "first line of words\nsecond line of words\nthird line of words, long enough to "
                          "reach past the selection";
    TextAttributes base;
    base.font = storage.mainFont();
    base.foregroundColor = storage.mainColor();
    base.paragraphStyle = storage.defaultParagraphStyle();
    TextAttributes marked;
    marked.font = storage.mainFont()->withPointSize(storage.mainFont()->pointSize * 1.5);
    marked.foregroundColor = Color{0.8, 0.1, 0.1, 1};
    const struct {
        const char* name;
        TextRange range;
    } ranges[] = {{"inside a line", {26, 4}}, {"across a line break", {14, 12}}, {"a line with its break", {20, 22}}};
    view.setTextStorage(&plain);
    for (const auto& r : ranges) {
        SCOPED_TRACE(r.name);
        plain.replaceCharacters({0, plain.length()}, lines);
        plain.setAttributes(base, {0, plain.length()});
        view.viewport()->repaint();
        plain.setAttributes(marked, r.range);
        const std::unique_ptr<QTextDocument> reference(richTextCopy(plain));
        const QSizeF size = reference->documentLayout()->documentSize();
        ASSERT_EQ(view.document()->documentLayout()->documentSize().height(), size.height());
        EXPECT_TRUE(paint(view.document()->documentLayout(), size) == paint(reference->documentLayout(), size));
    }
    view.setTextStorage(&storage);
}

// An input method's composition shows inside a line as it would in a document holding the formats:
// the method's formats over the style before it, and the rest of the line moved along.
TEST_F(StylingView, ACompositionShowsAsInADocumentWithItsFormats)
{
    const QString text = "# Heading words\n\nsome **bold words** and [a link](https://example.org) end\n"
                         "`code span` and the last line of the note";
    QTextCharFormat underline;
    underline.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    QTextCharFormat shaded;
    shaded.setBackground(Qt::cyan);
    const QList<QInputMethodEvent::Attribute> none;
    const QList<QInputMethodEvent::Attribute> methods = {{QInputMethodEvent::TextFormat, 0, 2, underline},
                                                         {QInputMethodEvent::TextFormat, 2, 1, shaded}};
    const struct {
        const char* name;
        qsizetype at;
        QList<QInputMethodEvent::Attribute> attributes;
    } cases[] = {
        {"inside a bold word", text.indexOf("words**") + 2, methods},
        {"at a heading's start", 0, methods},
        {"at a line's start after an empty line", text.indexOf("some"), methods},
        {"in an empty line", text.indexOf("\n\n") + 1, methods},
        {"after a link", text.indexOf("](") , none},
        {"at the end of a code span", text.indexOf("` and"), methods},
    };
    setText(text);
    TextView formatted;
    formatted.setFormatsInDocument(true);
    EditorStyle::applyToView(formatted, storage, 0);
    formatted.setTextStorage(&storage);
    formatted.resize(view.size());
    view.show();
    formatted.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (TextView* shown : {static_cast<TextView*>(&view), &formatted}) {
            shown->setSelectedRange({c.at, 0});
            QInputMethodEvent composing("kana", c.attributes);
            QApplication::sendEvent(shown, &composing);
        }
        QApplication::processEvents();
        ASSERT_EQ(view.document()->findBlock(int(c.at)).layout()->preeditAreaText(), QStringLiteral("kana"));
        const QSizeF size = formatted.document()->documentLayout()->documentSize();
        EXPECT_TRUE(paint(view.document()->documentLayout(), size) == paint(formatted.document()->documentLayout(), size));
        for (TextView* shown : {static_cast<TextView*>(&view), &formatted}) {
            QInputMethodEvent done;
            QApplication::sendEvent(shown, &done);
        }
        EXPECT_EQ(storage.string(), text);
    }
    formatted.setTextStorage(nullptr);
}

// The document holds no character formats: what the widget would read from it comes from the storage.
TEST_F(StylingView, ToolTipsLinksAndTheInputMethodsFontAreTheStorages)
{
    setText("# A heading\n- [ ] a task for #later\nplain words");
    view.show();
    const QString& text = storage.string();
    const auto pointAt = [this](qsizetype position) {
        QTextCursor cursor(view.document());
        cursor.setPosition(int(position));
        return view.cursorRect(cursor).center();
    };
    // In the order a tool tip shows and changes: none over plain words.
    const struct {
        const char* name;
        qsizetype at;
        QString tip, link;
    } tips[] = {
        {"plain words", text.indexOf("words") + 2, QString(), QString()},
        {"a check box", text.indexOf("[ ]") + 2, QStringLiteral("Tap to completed"), QStringLiteral("brindlewick://todo")},
        {"a tag", text.indexOf("#later") + 3, QStringLiteral("#later"), QStringLiteral("brindlewick://hashtag/later")},
    };
    for (const auto& t : tips) {
        SCOPED_TRACE(t.name);
        const QPoint point = pointAt(t.at);
        QHelpEvent help(QEvent::ToolTip, point, view.viewport()->mapToGlobal(point));
        QApplication::sendEvent(view.viewport(), &help);
        EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : QString(), t.tip);
        EXPECT_EQ(view.anchorAt(point), t.link);
    }
    QToolTip::hideText();

    // The font at the caret: the heading's is not the body's.
    const auto fontAtCaret = [this](qsizetype caret) {
        view.setSelectedRange({caret, 0});
        return view.inputMethodQuery(Qt::ImFont).value<QFont>();
    };
    const QFont heading = FontFaces::qfont(*storage.attributesAtIndex(4).font);
    const QFont body = FontFaces::qfont(*storage.attributesAtIndex(text.indexOf("plain")).font);
    ASSERT_NE(heading, body);
    for (const auto& [caret, expected] : {std::pair{qsizetype(5), heading}, std::pair{text.indexOf("words"), body}}) {
        EXPECT_EQ(fontAtCaret(caret).pointSizeF(), expected.pointSizeF()) << caret;
        EXPECT_EQ(fontAtCaret(caret).family(), expected.family()) << caret;
        EXPECT_EQ(fontAtCaret(caret).bold(), expected.bold()) << caret;
    }
}

// A note given to the view before it has a width: the height it shows before its paragraphs are laid
// out is near what they take once they are, so that the text and the caret stay where they are put.
TEST_F(StylingView, ParagraphsGivenBeforeTheViewHasAWidthAreEstimatedForIt)
{
    QString text;
    for (int paragraph = 0; paragraph < 100; ++paragraph)
        text += longLine(600) + u'\n';
    setText(text);
    for (int turn = 0; turn < 10000 && (storage.unstyledRange().length > 0 || view.mirroredLength() < storage.length()); ++turn)
        QCoreApplication::sendPostedEvents();
    view.show();
    QApplication::processEvents();
    QAbstractTextDocumentLayout* layout = view.document()->documentLayout();
    const qreal estimated = layout->documentSize().height();
    (void)paint(layout, layout->documentSize()); // every paragraph laid out
    const qreal laidOut = layout->documentSize().height();
    EXPECT_GT(laidOut, 100 * 4 * QFontMetricsF(view.document()->defaultFont()).height()) << "paragraphs of several lines";
    EXPECT_NEAR(estimated, laidOut, laidOut / 5);
}

TEST_F(StylingView, ALongTextGoesInASliceAtATime)
{
    const auto runPosted = [this] {
        for (int turn = 0; turn < 10000 && (storage.unstyledRange().length > 0 || view.mirroredLength() < storage.length());
             ++turn)
            QCoreApplication::sendPostedEvents();
    };
    // The document holds the storage's text from the start to mirroredLength(), each unit in its place.
    const auto expectStartMirrored = [this] {
        ASSERT_EQ(view.document()->characterCount() - 1, view.mirroredLength());
        ASSERT_EQ(view.document()->toPlainText(), storage.string().left(view.mirroredLength()));
    };
    const struct {
        const char* name;
        std::function<void()> edit;
    } cases[] = {
        {"none", [] {}},
        {"typing in the part in", [this] {
             view.setSelectedRange({10, 0});
             type("x\n");
         }},
        {"an edit past it", [this] { storage.replaceCharacters({storage.length() - 10, 3}, "**z**"); }},
        {"an edit across its end",
         [this] { storage.replaceCharacters({view.mirroredLength() - 5, 10}, "# new\nline"); }},
        {"another long text", [this] { setText(longNote(6)); }},
        {"a short text", [this] { setText("short"); }},
    };
    QRandomGenerator random(55);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setText(longNote(5));
        EXPECT_GT(view.mirroredLength(), 0);
        EXPECT_LE(view.mirroredLength(), TextView::FillSlice + 200);
        ASSERT_NO_FATAL_FAILURE(expectStartMirrored());
        c.edit();
        ASSERT_NO_FATAL_FAILURE(expectStartMirrored());
        runPosted();
        ASSERT_NO_FATAL_FAILURE(expectMirrored(200, random));
    }

    // A selection past the part in brings the text up to it in at once; so does selecting everything.
    setText(longNote(7));
    const qsizetype length = storage.length();
    view.setSelectedRange({length - 3, 2});
    EXPECT_EQ(view.selectedRange(), (TextRange{length - 3, 2}));
    for (const bool readOnly : {false, true}) {
        view.setReadOnly(readOnly);
        setText(longNote(8));
        key(Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(view.selectedRange(), (TextRange{0, storage.length()})) << readOnly;
    }
}

TEST_F(StylingView, OnlyWhatIsLookedAtIsLaidOut)
{
    setText(longNote(5));
    view.show();
    for (int turn = 0; turn < 10000 && view.mirroredLength() < storage.length(); ++turn)
        QCoreApplication::sendPostedEvents();
    view.viewport()->repaint();
    const auto* layout = static_cast<const TextViewLayout*>(view.document()->documentLayout());
    const int blocks = view.document()->blockCount();
    EXPECT_GT(layout->laidOutBlockCount(), 0);
    EXPECT_LT(layout->laidOutBlockCount(), blocks / 20);

    // A keystroke lays out its own paragraph again, and the end shows where its height says.
    view.setSelectedRange({0, 0});
    type("x");
    view.viewport()->repaint();
    EXPECT_LT(layout->laidOutBlockCount(), blocks / 20);
    view.setSelectedRange({storage.length(), 0});
    view.ensureCursorVisible();
    view.viewport()->repaint();
    EXPECT_TRUE(view.viewport()->rect().contains(view.cursorRect())) << view.cursorRect().y();
    EXPECT_LT(layout->laidOutBlockCount(), blocks / 10);
}

// Drawn paragraphs keep their shaped glyphs, a bounded number of them: a later paint must still draw
// what the rich-text layout draws of the text as it is by then, for those kept and those let go alike.
TEST_F(StylingView, ParagraphsThatKeptTheirGlyphsPaintTheTextAsItIsNow)
{
    QString text;
    for (int line = 0; line < 300; ++line) // more blocks than keep their glyphs at once
        text += QStringLiteral("%1 **bold** `code` #tag %2\n").arg(line % 7 == 0 ? "# Heading" : line % 7 == 3 ? "http://x.y" : "word").arg(line);
    const auto lineStart = [this](int line) { return qsizetype(view.document()->findBlockByNumber(line).position()); };
    const struct {
        const char* name;
        std::function<void()> change;
    } changes[] = {
        {"nothing", [] {}},
        {"a letter in the line after the caret's", [&] {
             view.setSelectedRange({lineStart(3) + 2, 0});
             type("x");
         }},
        {"two lines joined", [&] {
             view.setSelectedRange({lineStart(4), 0});
             key(Qt::Key_Backspace);
         }},
        {"another theme", [this] { applyEditorLook(storage, 0, 16, 1, &view); }},
        {"a narrower view", [this] {
             view.resize(300, 400);
             QApplication::processEvents();
         }},
    };
    const auto* layout = static_cast<const TextViewLayout*>(view.document()->documentLayout());
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        applyEditorLook(storage, 0, 16, 0, &view);
        view.resize(600, 400);
        setText(text);
        view.show();
        QApplication::processEvents();
        // Everything drawn once, so that the last blocks drawn keep their glyphs and the first let go.
        const QSizeF before = view.document()->documentLayout()->documentSize();
        (void)paint(view.document()->documentLayout(), before);
        EXPECT_LE(layout->keptGlyphsLength(), TextViewLayout::GlyphsKept);
        c.change();
        const std::unique_ptr<QTextDocument> reference(richTextCopy());
        const QSizeF size = reference->documentLayout()->documentSize();
        ASSERT_EQ(view.document()->documentLayout()->documentSize().height(), size.height());
        EXPECT_TRUE(paint(view.document()->documentLayout(), size) == paint(reference->documentLayout(), size));
    }
}

// Scrolling through a long note, while lines come and go above, keeps the glyphs of a bounded part of
// it only.
TEST_F(StylingView, KeptGlyphsStayWithinTheirBound)
{
    const auto* layout = static_cast<const TextViewLayout*>(view.document()->documentLayout());
    const auto keeping = [this] {
        qsizetype length = 0;
        for (QTextBlock block = view.document()->firstBlock(); block.isValid(); block = block.next()) {
            if (block.layout()->cacheEnabled())
                length += block.length();
        }
        return length;
    };
    setText(longNote(5));
    view.show();
    for (int turn = 0; turn < 10000 && view.mirroredLength() < storage.length(); ++turn)
        QCoreApplication::sendPostedEvents();
    QApplication::processEvents();
    QScrollBar* bar = view.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    for (int value = 0, step = 0; value < bar->maximum(); value += view.viewport()->height() / 2, ++step) {
        if (step % 3 == 1)
            storage.replaceCharacters({0, 0}, QStringLiteral("a new first line\n"));
        else if (step % 3 == 2)
            storage.replaceCharacters({0, paragraphRangeForRange(storage.string(), {0, 0}).length}, QString());
        bar->setValue(value);
        view.viewport()->repaint();
    }
    EXPECT_GT(keeping(), 0);
    EXPECT_EQ(keeping(), layout->keptGlyphsLength());
    EXPECT_LE(keeping(), TextViewLayout::GlyphsKept);
}

// A line of tags longer than the bound, on show: a paint (the caret's blink among them), a click and
// a key keep its glyphs, so the next paint does not shape the whole line anew; once other lines take
// its place it lets them go. Its thousands of tags, each a link of its own, do not each keep a format.
TEST_F(StylingView, ALineLongerThanTheBoundKeepsItsGlyphsWhileOnShow)
{
    const auto* layout = static_cast<const TextViewLayout*>(view.document()->documentLayout());
    QString line;
    for (int tag = 0; line.size() < TextViewLayout::GlyphsKept * 2; ++tag)
        line += QStringLiteral("#t%1 ").arg(tag);
    const auto click = [this](QPoint at) {
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(view.viewport(), &event);
        }
    };
    const struct {
        const char* name;
        std::function<void()> step;
    } steps[] = {
        {"shown", [this] { view.viewport()->repaint(); }},
        {"the caret's rectangle painted", [this] { view.viewport()->repaint(view.cursorRect()); }},
        {"a click on it", [&] {
             click(view.viewport()->rect().center());
             view.viewport()->repaint();
         }},
        {"a key typed", [&] {
             type("x");
             view.viewport()->repaint();
         }},
        {"a short line drawn after it", [&] {
             storage.replaceCharacters({storage.length(), 0}, QStringLiteral("\nshort"));
             view.viewport()->repaint();
         }},
    };
    setText(line);
    view.show();
    QApplication::processEvents();
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        s.step();
        const QTextBlock shown = view.document()->firstBlock();
        EXPECT_TRUE(shown.layout()->cacheEnabled());
        EXPECT_GE(layout->keptGlyphsLength(), shown.length());
        EXPECT_LE(view.keptFormatsCount(), TextView::FormatsKept);
    }

    setText(QStringLiteral("words\n").repeated(50));
    view.viewport()->repaint();
    EXPECT_GT(layout->keptGlyphsLength(), 0);
    EXPECT_LE(layout->keptGlyphsLength(), TextViewLayout::GlyphsKept);
}

// A caret put far into a long note is scrolled to with the lines around it laid out: drawing them does
// not move it, so the first key typed there does not scroll the view.
TEST_F(StylingView, TheFirstKeyAfterAJumpDoesNotScroll)
{
    // Wrapped headings of wide letters and list items of narrow ones: taller and shorter than their
    // lengths make them out to be.
    QString text;
    for (int line = 0; line < 1500; ++line)
        text += line % 3 ? "- [ ] " + QStringLiteral("ill iii ").repeated(line % 20 + 5) + '\n'
                         : "# " + QStringLiteral("WIDE words ").repeated(12) + '\n';
    setText(text);
    view.show();
    for (int turn = 0; turn < 10000 && (storage.unstyledRange().length > 0 || view.mirroredLength() < storage.length());
         ++turn)
        QCoreApplication::sendPostedEvents();
    QApplication::processEvents();
    QScrollBar* bar = view.verticalScrollBar();
    // Down to the end, then up a step at a time: the caret sits on the first line shown or the last.
    const struct {
        const char* name;
        double at; // of the text
    } jumps[] = {{"to the end", 1.0}, {"up to 0.9", 0.9}, {"up to 0.7", 0.7}, {"up to 0.5", 0.5},
                 {"up to 0.3", 0.3}, {"up to 0.1", 0.1}, {"down to 0.6", 0.6}};
    for (const auto& jump : jumps) {
        SCOPED_TRACE(jump.name);
        view.setSelectedRange({qsizetype(double(storage.length() - 1) * jump.at), 0});
        for (int turn = 0; turn < 5; ++turn)
            QApplication::processEvents();
        const int value = bar->value();
        const int maximum = bar->maximum();
        EXPECT_TRUE(view.viewport()->rect().contains(view.cursorRect())) << view.cursorRect().y();
        type("x");
        EXPECT_EQ(bar->value(), value);
        EXPECT_EQ(bar->maximum(), maximum);
        EXPECT_TRUE(view.viewport()->rect().contains(view.cursorRect())) << view.cursorRect().y();
    }
}

// Blocks drawn keep their glyphs for the next repaint, but only the last ones drawn: scrolling through
// a long note, editing and restyling it leave no more layouts holding glyphs than the bound. (That
// what they paint stays right after edits and restyles, the pixel tests above check.)
TEST_F(StylingView, OnlyTheLastBlocksDrawnKeepTheirGlyphs)
{
    setText(longNote(9));
    view.show();
    for (int turn = 0; turn < 10000 && view.mirroredLength() < storage.length(); ++turn)
        QCoreApplication::sendPostedEvents();
    QApplication::processEvents(); // shown: a repaint draws
    const auto* layout = static_cast<const TextViewLayout*>(view.document()->documentLayout());
    const auto lengthKeepingGlyphs = [this] {
        qsizetype length = 0;
        for (QTextBlock block = view.document()->firstBlock(); block.isValid(); block = block.next())
            length += block.layout()->cacheEnabled() ? block.length() : 0;
        return length;
    };
    const struct {
        const char* name;
        std::function<void()> step;
    } steps[] = {
        {"scrolling through", [this] {
             QScrollBar* bar = view.verticalScrollBar();
             for (int value = 0; value <= bar->maximum(); value += std::max(bar->pageStep(), 1)) {
                 bar->setValue(value);
                 view.viewport()->repaint();
             }
         }},
        {"typing at the top", [this] {
             view.verticalScrollBar()->setValue(0);
             view.setSelectedRange({3, 0});
             type("x\n# y");
             view.viewport()->repaint();
         }},
        {"restyling blocks drawn before and on show", [this] {
             view.verticalScrollBar()->setValue(view.verticalScrollBar()->pageStep());
             view.viewport()->repaint();
             TextAttributes underlined;
             underlined.underlineStyle = 1;
             storage.beginEditing();
             storage.addAttributes(underlined, {0, 2000});
             storage.endEditing();
             view.viewport()->repaint();
         }},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        s.step();
        EXPECT_GT(layout->keptGlyphsLength(), 0);
        EXPECT_LE(layout->keptGlyphsLength(), TextViewLayout::GlyphsKept);
        EXPECT_EQ(lengthKeepingGlyphs(), layout->keptGlyphsLength());
    }
}
