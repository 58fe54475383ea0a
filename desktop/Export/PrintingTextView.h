#pragma once

#include "TextView.h"

#include "Themes/Themeset.h"
#include "Themes/Typeset.h"
#include "text/Font.h"

#include <memory>

class MarkdownTextStorage;
class QPagedPaintDevice;
class QWidget;

// Prints a note's plain Markdown text styled as in the editor, a little smaller, in a light theme with
// black text, and with "—n—" at the foot of each page. The view mirrors its own styling storage; the
// printed document is a copy of that mirror laid out to the page.
class PrintingTextView : public TextView {
public:
    // Trims the text, asks for a printer with the print dialog and prints to it.
    static void printText(const QString& text, QWidget* parent = nullptr);

    // A view holding the trimmed text in the settings' typeface, size and theme, ready to print.
    static std::unique_ptr<PrintingTextView> newPrintingTextView(const QString& text);
    // The preset's size + offset − 8, never below 4.
    static double fontSizeForSizePreset(SizePreset preset, int64_t offset);
    // The theme printing uses for the chosen one: dark and sepia themes print in theme 0.
    static ThemeID printingTheme(ThemeID theme);

    ~PrintingTextView() override;

    // Paginates and paints every page; false when the device could not be painted.
    bool print(QPagedPaintDevice& device);
    // The height of a page of the print job inside its margins, in points, divided by the scale the
    // text is printed at (0 for a scale that is not positive). Nothing in the application calls it.
    static float calculatePrintHeight(const QPagedPaintDevice& job, double scalingFactor);

    const Font& pageNumberFont() const { return pageNumberFont_; }
    MarkdownTextStorage& markdownStorage() { return *storage_; }

private:
    PrintingTextView();
    void drawPageBorder(QPainter& painter, int pageNumber, QSizeF sheet) const;

    std::unique_ptr<MarkdownTextStorage> storage_;
    Font pageNumberFont_;
};
