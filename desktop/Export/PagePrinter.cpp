#include "Export/PagePrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextDocument>

namespace PagePrinter {

bool print(QTextDocument& document, QPagedPaintDevice& device, double pointsPerUnit, const PageDecorator& decorate)
{
    const QPageLayout layout = device.pageLayout();
    const QSizeF sheet = layout.fullRectPoints().size();
    // Where the device's own origin lies on the sheet (the corner when it paints the full page).
    const QPointF origin = layout.paintRect(QPageLayout::Point).topLeft();
    const QSizeF body = QSizeF(sheet.width() - 2 * MarginPoints, sheet.height() - 2 * MarginPoints) / pointsPerUnit;
    document.setPageSize(body);
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
        context.clip = QRectF(QPointF(0, page * body.height()), body);
        painter.translate(0, -context.clip.top());
        painter.setClipRect(context.clip);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    return painter.end();
}

} // namespace PagePrinter
