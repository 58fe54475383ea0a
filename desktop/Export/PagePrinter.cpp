#include "Export/PagePrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextList>

#include <algorithm>
#include <vector>

namespace PagePrinter {

namespace {

constexpr double EdgeTolerance = 0.5;

// Letter spacing, even the normal 100 %, keeps Qt from joining letters into ligatures, which a PDF
// gives back as one sign ("ﬁ") or none at all: searching or copying the file would miss words. The
// default font carries it to every format that names no spacing of its own.
void withoutLigatures(QTextDocument& document)
{
    QFont font = document.defaultFont();
    font.setLetterSpacing(QFont::PercentageSpacing, 100);
    document.setDefaultFont(font);
    // Formats that name a spacing (a text view's copy does) get it over the whole text.
    const QList<QTextFormat> formats = document.allFormats();
    if (std::none_of(formats.begin(), formats.end(),
                     [](const QTextFormat& f) { return f.hasProperty(QTextFormat::FontLetterSpacing); }))
        return;
    QTextCharFormat spacing;
    spacing.setFontLetterSpacingType(QFont::PercentageSpacing);
    spacing.setFontLetterSpacing(100);
    QTextCursor cursor(&document);
    cursor.select(QTextCursor::Document);
    cursor.mergeCharFormat(spacing);
}

} // namespace

void splitLongParagraphs(QTextDocument& document, int linesPerPiece)
{
    struct Cut {
        int position; // where a piece's first line starts
        bool lastPiece;
    };
    std::vector<Cut> cuts;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        // A list item's marker would repeat on every piece.
        if (block.textList() || layout->lineCount() <= linesPerPiece)
            continue;
        for (int line = linesPerPiece; line < layout->lineCount(); line += linesPerPiece)
            cuts.push_back({block.position() + layout->lineAt(line).textStart(), line + linesPerPiece >= layout->lineCount()});
    }
    if (cuts.empty())
        return;
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    // From the end, so that every cut still lies in the block it was measured in.
    for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut) {
        cursor.setPosition(cut->position);
        const QTextBlockFormat whole = cursor.blockFormat();
        // The pieces go on where the one before ended: no first-line indent, no spacing between them.
        QTextBlockFormat piece = whole;
        piece.setTextIndent(0);
        piece.setTopMargin(0);
        piece.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
        if (!cut->lastPiece)
            piece.setBottomMargin(0);
        cursor.insertBlock(piece);
        const bool firstPiece = std::next(cut) == cuts.rend() || std::next(cut)->lastPiece;
        if (firstPiece) {
            QTextBlockFormat first = whole;
            first.setBottomMargin(0);
            cursor.movePosition(QTextCursor::PreviousBlock);
            cursor.setBlockFormat(first);
        }
    }
    cursor.endEditBlock();
}

void breakLongWords(QTextDocument& document, int longestWord, int pieceLength)
{
    std::vector<int> breaks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (text.size() <= longestWord)
            continue;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
        for (qsizetype from = 0, to = finder.toNextBoundary(); to >= 0; from = to, to = finder.toNextBoundary()) {
            // The spaces after a word go with it.
            qsizetype end = to;
            while (end > from && text[end - 1].isSpace())
                --end;
            if (end - from <= longestWord)
                continue;
            for (qsizetype at = from + pieceLength; at < end; at += pieceLength) {
                // Never between the halves of a surrogate pair or before a combining mark.
                while (at < end && (text[at].isLowSurrogate() || text[at].isMark()))
                    ++at;
                if (at < end)
                    breaks.push_back(block.position() + int(at));
            }
        }
    }
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    for (auto at = breaks.rbegin(); at != breaks.rend(); ++at) {
        cursor.setPosition(*at);
        cursor.insertText(QString(QChar(0x200B)));
    }
    cursor.endEditBlock();
}

QSizeF bodySize(const QPagedPaintDevice& device, double pointsPerUnit)
{
    const QSizeF sheet = device.pageLayout().fullRectPoints().size();
    return QSizeF(sheet.width() - 2 * MarginPoints, sheet.height() - 2 * MarginPoints) / pointsPerUnit;
}

bool print(QTextDocument& document, QPagedPaintDevice& device, double pointsPerUnit, const PageDecorator& decorate)
{
    const QPageLayout layout = device.pageLayout();
    const QSizeF sheet = layout.fullRectPoints().size();
    // Where the device's own origin lies on the sheet (the corner when it paints the full page).
    const QPointF origin = layout.paintRect(QPageLayout::Point).topLeft();
    const QSizeF body = bodySize(device, pointsPerUnit);
    breakLongWords(document, LongestWord, LongWordPiece);
    document.setPageSize(body);
    withoutLigatures(document);
    // Qt shapes a whole paragraph again each time it draws any of it, so one running over many pages
    // would be shaped once per page.
    document.pageCount();
    splitLongParagraphs(document, LinesPerPiece);
    const int pages = document.pageCount();

    QPainter painter(&device);
    if (!painter.isActive())
        return false;
    const double devicePerPoint = device.logicalDpiY() / 72.0;
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black);
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !device.newPage())
            return false;
        painter.save();
        painter.scale(devicePerPoint, devicePerPoint);
        painter.translate(-origin);
        if (decorate)
            decorate(painter, page + 1, sheet);
        painter.translate(MarginPoints, MarginPoints);
        painter.scale(pointsPerUnit, pointsPerUnit);
        const QRectF clip(QPointF(0, page * body.height()), body);
        painter.translate(0, -clip.top());
        painter.setClipRect(clip);
        // Lines that only touch the page's edges belong to the neighbouring page: drawn here, hidden
        // by the clip, they would still be text in a PDF.
        context.clip = clip.adjusted(0, EdgeTolerance, 0, -EdgeTolerance);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    return painter.end();
}

} // namespace PagePrinter
