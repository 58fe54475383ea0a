// Converts, prints or exports a Markdown note with the settings' typeface, size and theme.
//   export_demo --html NOTE.md OUT.html         the printing page
//   export_demo --pdf NOTE.md OUT.pdf           the PDF export
//   export_demo --print-plain NOTE.md OUT.pdf   plain print, to a PDF printer
//   export_demo --print-html NOTE.md OUT.pdf    formatted print, to a PDF printer
#include "Dispatch.h"
#include "Export/MarkdownFormatter.h"
#include "Export/PrintingTextView.h"
#include "Export/PrintingWebView.h"

#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QSaveFile>

#include <cstdio>

namespace {

bool writeHTML(const QString& page, const QString& path)
{
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(page.toUtf8()) >= 0 && out.commit())
        return true;
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(out.errorString()));
    return false;
}

bool writePDF(const QString& page, const QString& path)
{
    bool done = false, written = false;
    PrintingWebView::htmlWritePDFToURL(page, path, [&](bool success, const Error& error) {
        done = true;
        written = success;
        if (!success)
            std::fprintf(stderr, "%s\n", qPrintable(error.localizedDescription()));
    });
    DispatchQueue::runMainUntil([&] { return done; }, 120);
    return written;
}

std::unique_ptr<QPrinter> pdfPrinter(const QString& path)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    printer->setFullPage(true);
    return printer;
}

} // namespace

int main(int argc, char* argv[])
{
    const QByteArray mode = argc == 4 ? QByteArray(argv[1]) : QByteArray();
    if (mode != "--html" && mode != "--pdf" && mode != "--print-plain" && mode != "--print-html") {
        std::fprintf(stderr, "usage: export_demo --html|--pdf|--print-plain|--print-html NOTE.md OUT\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QFile in(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[2], qPrintable(in.errorString()));
        return 1;
    }
    const QString note = QString::fromUtf8(in.readAll());
    const QString out = QString::fromLocal8Bit(argv[3]);
    if (mode == "--print-plain")
        return PrintingTextView::newPrintingTextView(note)->print(*pdfPrinter(out)) ? 0 : 1;
    const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText(note);
    if (mode == "--print-html")
        return PrintingWebView::printHTMLToDevice(page, *pdfPrinter(out)) ? 0 : 1;
    return (mode == "--pdf" ? writePDF(page, out) : writeHTML(page, out)) ? 0 : 1;
}
