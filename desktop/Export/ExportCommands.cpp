#include "Export/ExportCommands.h"

#include "Core.h"
#include "Dispatch.h"
#include "Export/ExportOptionsViewController.h"
#include "Export/MarkdownFormatter.h"
#include "Export/PrintingTextView.h"
#include "Export/PrintingWebView.h"
#include "Log.h"
#include "Store/Note.h"
#include "TextView.h"
#include "files/AtomicFile.h"
#include "kit/SavePanel.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QTextDocument>

namespace ExportCommands {

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("ExportCommands", text);
}

// The page is built on the file queue, then handed to `use` on the main queue.
void withPrintingPage(const QString& text, std::function<void(const QString& page)> use)
{
    Core::shared().fileQueue()->async([text, use = std::move(use)] {
        const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText(text);
        DispatchQueue::main()->async([use, page] { use(page); });
    });
}

void showFailure(QWidget* window, const Error& error)
{
    auto* alert = new QMessageBox(QMessageBox::Warning, localized("Export"), localized("The note could not be exported."),
                                  QMessageBox::Ok, window);
    alert->setInformativeText(error.localizedDescription());
    alert->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}

// Reports the outcome: an alert for a failure, then the caller's completion.
Completion reporting(QWidget* window, Completion done)
{
    return [window = QPointer<QWidget>(window), done = std::move(done)](bool written, const Error& error) {
        if (!written)
            showFailure(window, error);
        if (done)
            done(written, error);
    };
}

void runExportPanel(const QString& text, const QString& name, QWidget* window, Completion done)
{
    auto* panel = new SavePanel(window);
    panel->setWindowTitle(localized("Export"));
    panel->setNameFieldLabel(localized("Export As:"));
    panel->setNameFieldStringValue(name);
    auto* options = new ExportOptionsViewController(panel);
    options->setSavePanel(panel);
    options->restoreExportOptions();
    panel->setAccessoryView(options->view());
    panel->beginSheetModalForWindow(window, [=](SavePanel::ModalResponse response) {
        if (response != SavePanel::ModalResponseOK) {
            if (done)
                done(false, Error());
            return;
        }
        const QString path = options->takeConfirmedPath(panel->path());
        options->saveExportOptions();
        if (options->exportOutput() == ExportOutputHTML)
            markdownTextWriteHTMLToURL(text, path, window, done);
        else
            markdownTextWritePDFToURL(text, path, window, done);
    });
}

// Rich text made by a text view's mirror of the formatted note, with its plain text beside it.
QMimeData* newMimeDataWithFormattedText(const QString& text)
{
    const AttributedString formatted = MarkdownFormatter::attributedStringWithMarkdownText(text);
    TextStorage storage;
    storage.replaceCharacters({0, 0}, formatted.string());
    formatted.enumerateAttributes({0, formatted.length()}, [&storage](const TextAttributes& attributes, TextRange range) {
        storage.setAttributes(attributes, range);
    });
    // The view lets go of the storage before the storage goes.
    TextView view;
    view.setFormatsInDocument(true);
    view.setTextStorage(&storage);
    view.ensureMirrored(storage.length());
    auto* data = new QMimeData;
    data->setText(formatted.string());
    data->setHtml(view.document()->toHtml());
    view.setTextStorage(nullptr);
    return data;
}

} // namespace

void printNote(const QString& text, QWidget* window)
{
    PrintingTextView::printText(text, window);
}

void printNoteFormatted(const QString& text, QWidget* window)
{
    withPrintingPage(text, [window = QPointer<QWidget>(window)](const QString& page) {
        PrintingWebView::printHTML(page, window);
    });
}

void exportNote(const QString& text, QWidget* window, Completion done)
{
    Core::shared().fileQueue()->async([text, window = QPointer<QWidget>(window), done = std::move(done)] {
        const QString name = fileNameForText(text, QStringLiteral("pdf"));
        DispatchQueue::main()->async([text, name, window, done] { runExportPanel(text, name, window, done); });
    });
}

void markdownTextWritePDFToURL(const QString& text, const QString& path, QWidget* window, Completion done)
{
    withPrintingPage(text, [path, report = reporting(window, std::move(done))](const QString& page) {
        PrintingWebView::htmlWritePDFToURL(page, path, report);
    });
}

void markdownTextWriteHTMLToURL(const QString& text, const QString& path, QWidget* window, Completion done)
{
    Core::shared().fileQueue()->async([text, path, report = reporting(window, std::move(done))] {
        Error error;
        const bool written =
            AtomicFile::write(path, MarkdownFormatter::htmlForPrintingWithMarkdownText(text).toUtf8(), &error);
        if (!written)
            LogError("root:export error %1", error.localizedDescription());
        DispatchQueue::main()->async([report, written, error] { report(written, error); });
    });
}

QString fileNameForText(const QString& text, const QString& extension)
{
    Note note;
    note.setText(text);
    const QString base = note.shareBaseName();
    return (base.isEmpty() ? QStringLiteral("Untitled") : base) + QLatin1Char('.') + extension;
}

void copyNoteHTML(const QString& text)
{
    QApplication::clipboard()->setText(MarkdownFormatter::htmlWithMarkdownText(text));
}

void copyNoteFormattedText(const QString& text)
{
    QApplication::clipboard()->setMimeData(newMimeDataWithFormattedText(text));
}

} // namespace ExportCommands
