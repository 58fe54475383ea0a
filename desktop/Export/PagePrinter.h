#pragma once

#include <QSizeF>

#include <functional>

class QPagedPaintDevice;
class QPainter;
class QTextDocument;

// Puts a rich-text document on paper: 72-point margins on every side, the document paginated to the
// body that leaves, one sheet per page, vector output at the device's resolution. The document gets
// an explicit page size, so no page numbers of Qt's own appear, and letter spacing that keeps letters
// from joining into ligatures.
namespace PagePrinter {

// Called before each page's text is drawn, in points from the sheet's top-left corner.
using PageDecorator = std::function<void(QPainter& painter, int pageNumber, QSizeF sheet)>;

constexpr double MarginPoints = 72;

// Qt lays a line out by reading on to the next place it may break, so a word of a million letters
// would be read once for each of its lines. Words longer than `longestWord` get a zero-width space
// every `pieceLength` letters, where their lines may break.
void breakLongWords(QTextDocument& document, int longestWord, int pieceLength);

constexpr int LongestWord = 200;
constexpr int LongWordPiece = 8;

// Cuts every paragraph of more than `linesPerPiece` laid-out lines into paragraphs of that many, at the
// places its lines break, so that they lay out as before. List items are left whole.
void splitLongParagraphs(QTextDocument& document, int linesPerPiece);

constexpr int LinesPerPiece = 40;

// The part of the device's sheet inside the margins, in layout units of `pointsPerUnit` points.
QSizeF bodySize(const QPagedPaintDevice& device, double pointsPerUnit);

// `pointsPerUnit` is the size of one of the document's layout units on paper: 1 for our logical
// pixels, 0.75 for CSS pixels. False when the device cannot be painted or a page not started.
bool print(QTextDocument& document, QPagedPaintDevice& device, double pointsPerUnit,
           const PageDecorator& decorate = {});

} // namespace PagePrinter
