#pragma once

#include "Error.h"

#include <QString>

#include <functional>

class QPagedPaintDevice;
class QWidget;

enum PrintingWebViewAction : int64_t {
    PrintingWebViewActionPrint = 0,
    PrintingWebViewActionSaveAsPDF = 1,
};

// Puts a note's printing page on paper or into a PDF file. Pages are laid out by Qt's rich text at
// 96 dots an inch (CSS pixels), in a document that runs no script and loads nothing the page names.
// The work runs on one rendering thread of its own, one request after the other in the order they
// came; completions come back on the main queue.
class PrintingWebView {
public:
    using Completion = std::function<void(bool success, const Error& error)>;

    // Asks for a printer with the print dialog, then prints the page to it.
    static void printHTML(const QString& html, QWidget* parent = nullptr);
    // Writes the page as a PDF file to the path, whole or not at all. A failure is logged and handed
    // to the completion with its error.
    static void htmlWritePDFToURL(const QString& html, const QString& path, Completion completion);

    // Lays the page out and paints it, on the calling thread.
    static bool printHTMLToDevice(const QString& html, QPagedPaintDevice& device);

private:
    static void perform(PrintingWebViewAction action, const std::function<bool(Error&)>& render, Completion completion);
};
