#include "Export/PrintingWebView.h"

#include "Dispatch.h"
#include "Export/PagePrinter.h"
#include "Export/RichTextPage.h"
#include "kit/DialogFolder.h"
#include "Log.h"
#include "text/HtmlImport.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QImage>
#include <QLocale>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QThread>

#include <memory>

namespace {

constexpr double PointsPerCssPixel = 0.75;
const char* const PrintErrorDomain = "BrindlewickPrintErrorDomain";

// The thread every page is laid out and painted on. Rich-text documents start timers, so it runs an
// event loop; a queued call on its one receiver runs after those queued before it.
QObject& renderer()
{
    static QObject* const receiver = [] {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("print"));
        thread->start();
        auto* object = new QObject;
        object->moveToThread(thread);
        qAddPostRoutine([] {
            QThread* running = renderer().thread();
            running->quit();
            running->wait();
            delete &renderer();
            delete running;
        });
        return object;
    }();
    return *receiver;
}

// A 1-pixel image whose resolution is the CSS one: the page is measured in CSS pixels.
QImage cssPixelDevice()
{
    QImage pixel(1, 1, QImage::Format_Mono);
    const int dotsPerMeter = qRound(96 / 0.0254);
    pixel.setDotsPerMeterX(dotsPerMeter);
    pixel.setDotsPerMeterY(dotsPerMeter);
    return pixel;
}

QPageSize defaultPaper()
{
    return QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter : QPageSize::A4);
}

Error printError(const QString& description)
{
    return Error::make(QString::fromLatin1(PrintErrorDomain), 1, description);
}

bool writePDF(const QString& html, const QString& path, Error& error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = printError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("Brindlewick"));
        writer.setPageSize(defaultPaper());
        writer.setPageMargins(QMarginsF());
        painted = PrintingWebView::printHTMLToDevice(html, writer);
    }
    if (!painted) {
        error = printError(QStringLiteral("Cannot lay out the PDF for %1").arg(path));
        return false;
    }
    if (!file.commit()) {
        error = printError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

} // namespace

void PrintingWebView::printHTML(const QString& html, QWidget* parent)
{
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    printer->setPageMargins(QMarginsF(PagePrinter::MarginPoints, PagePrinter::MarginPoints, PagePrinter::MarginPoints,
                                      PagePrinter::MarginPoints),
                            QPageLayout::Point);
    printer->setFullPage(true);
    QPrintDialog dialog(printer.get(), parent);
    DialogFolder::preparePrintDialog(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    DialogFolder::rememberPrintDirectory(*printer);
    const auto render = [printer, html](Error& error) {
        if (printHTMLToDevice(html, *printer))
            return true;
        error = printError(QStringLiteral("Cannot print to %1").arg(printer->printerName()));
        return false;
    };
    perform(PrintingWebViewActionPrint, render, {});
}

void PrintingWebView::htmlWritePDFToURL(const QString& html, const QString& path, Completion completion)
{
    perform(PrintingWebViewActionSaveAsPDF, [html, path](Error& error) { return writePDF(html, path, error); },
            std::move(completion));
}

bool PrintingWebView::printHTMLToDevice(const QString& html, QPagedPaintDevice& device)
{
    HtmlImport::ClosedDocument document;
    QImage layoutDevice = cssPixelDevice();
    // cmark ends a code block with a line feed, which Qt would show as one more shaded line.
    QString page = HtmlImport::withPercentLineHeights(RichTextPage::withNestingCapped(html));
    page.replace(QStringLiteral("\n</code></pre>"), QStringLiteral("</code></pre>"));
    document.setHtml(page);
    RichTextPage::showImagesAsText(document);
    // Half the width stays for the text, however deep it lies.
    RichTextPage::limitIndentation(document, PagePrinter::bodySize(device, PointsPerCssPixel).width() / 2);
    document.setDocumentMargin(0);
    document.documentLayout()->setPaintDevice(&layoutDevice);
    return PagePrinter::print(document, device, PointsPerCssPixel);
}

void PrintingWebView::perform(PrintingWebViewAction action, const std::function<bool(Error&)>& render,
                              Completion completion)
{
    QMetaObject::invokeMethod(&renderer(), [action, render, completion = std::move(completion)] {
        Error error;
        const bool success = render(error);
        if (!success && action == PrintingWebViewActionSaveAsPDF)
            LogError("print:pdf failed %1", error.localizedDescription());
        else if (!success)
            LogError("print:print failed %1", error.localizedDescription());
        DispatchQueue::main()->async([completion, success, error] {
            if (completion)
                completion(success, error);
        });
    }, Qt::QueuedConnection);
}
