#include "Export/PrintingTextView.h"

#include "Core.h"
#include "Export/PagePrinter.h"
#include "kit/DialogFolder.h"
#include "panes/EditorStyle.h"
#include "Styling/MarkdownTextStorage.h"
#include "text/FontFaces.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>

namespace {

constexpr double PageNumberPoints = 11;
// The page number's lower edge stands this far above the sheet's bottom edge.
constexpr double PageNumberLift = 36;

} // namespace

PrintingTextView::PrintingTextView() : storage_(std::make_unique<MarkdownTextStorage>()) {}

PrintingTextView::~PrintingTextView()
{
    // The mirror lets go of the storage before the storage goes.
    setTextStorage(nullptr);
}

void PrintingTextView::printText(const QString& text, QWidget* parent)
{
    const std::unique_ptr<PrintingTextView> view = newPrintingTextView(text);
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageMargins(QMarginsF(PagePrinter::MarginPoints, PagePrinter::MarginPoints, PagePrinter::MarginPoints,
                                     PagePrinter::MarginPoints),
                           QPageLayout::Point);
    printer.setFullPage(true);
    QPrintDialog dialog(&printer, parent);
    DialogFolder::preparePrintDialog(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    DialogFolder::rememberPrintDirectory(printer);
    view->print(printer);
}

std::unique_ptr<PrintingTextView> PrintingTextView::newPrintingTextView(const QString& text)
{
    const Core& core = Core::shared();
    const TypefaceID face = core.typeFace();
    const double size = fontSizeForSizePreset(core.typeSize(), core.typeSizeOffset());

    std::unique_ptr<PrintingTextView> view(new PrintingTextView);
    MarkdownTextStorage& storage = *view->storage_;
    EditorStyle::applyToStorage(storage, face, size, printingTheme(core.colorTheme()));
    storage.setMainColor(Color{0, 0, 0});
    storage.reloadAttributes();

    view->pageNumberFont_ = Typeset::regularFontForTypeface(face, int64_t(PageNumberPoints));
    view->setDefaultParagraphStyle(storage.defaultParagraphStyle());
    view->setDefaultFont(storage.mainFont());
    view->setFormatsInDocument(true); // printed from a copy of the document
    storage.replaceCharacters({0, 0}, text.trimmed());
    view->setTextStorage(&storage);
    return view;
}

double PrintingTextView::fontSizeForSizePreset(SizePreset preset, int64_t offset)
{
    const int64_t size = Typeset::fontSizeForSizePreset(preset) + offset - 4;
    return double(size >= 9 ? size - 4 : 4);
}

ThemeID PrintingTextView::printingTheme(ThemeID theme)
{
    const ThemeStyle style = Themeset::themeStyleForTheme(theme);
    return style == ThemeStyleDark || style == ThemeStyleSepia ? 0 : theme;
}

bool PrintingTextView::print(QPagedPaintDevice& device)
{
    // A long note is styled and shown a slice at a time: the copy needs all of it.
    storage_->finishStyling();
    ensureMirrored(storage_->length());
    // Our sizes are logical pixels, which the screen's resolution turned into Qt's points: the copy is
    // laid out at that same resolution, so one of its units is one point on paper.
    const std::unique_ptr<QTextDocument> document(this->document()->clone());
    return PagePrinter::print(*document, device, 1.0, [this](QPainter& painter, int page, QSizeF sheet) {
        drawPageBorder(painter, page, sheet);
    });
}

float PrintingTextView::calculatePrintHeight(const QPagedPaintDevice& job, double scalingFactor)
{
    if (!(scalingFactor > 0))
        return 0;
    return float(job.pageLayout().paintRect(QPageLayout::Point).height() / scalingFactor);
}

void PrintingTextView::drawPageBorder(QPainter& painter, int pageNumber, QSizeF sheet) const
{
    // The painter already counts in points: the font's size undoes the device's own point scale.
    QFont font = FontFaces::qfont(pageNumberFont_);
    font.setPointSizeF(pageNumberFont_.pointSize * 72.0 / painter.device()->logicalDpiY());
    const QString number = QStringLiteral("\u2014%1\u2014").arg(pageNumber);
    const QFontMetricsF metrics(font, painter.device());
    const QSizeF size(metrics.horizontalAdvance(number), metrics.height());
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(QPointF((sheet.width() - size.width()) / 2, sheet.height() - size.height() - PageNumberLift), size),
                     Qt::AlignCenter, number);
}
