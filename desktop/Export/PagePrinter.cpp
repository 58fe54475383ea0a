#include "Export/PagePrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

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
    document.setPageSize(body);
    withoutLigatures(document);
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
