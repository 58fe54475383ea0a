#include "Export/MarkdownFormatter.h"
#include "Export/PrintingTextView.h"
#include "Export/PrintingWebView.h"
#include "PdfText.h"

#include "../store/LogCapture.h"
#include "Core.h"
#include "Dispatch.h"
#include "Styling/MarkdownTextStorage.h"
#include "TestSupport.h"

#include <QFile>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

// Sets the print settings for one test and restores the defaults.
class Settings {
public:
    Settings(SizePreset size, int64_t offset, ThemeID theme = 0) { apply(size, offset, theme); }
    ~Settings() { apply(0, 0, 0); }

private:
    static void apply(SizePreset size, int64_t offset, ThemeID theme)
    {
        Core& core = Core::shared();
        core.setTypeSize(size);
        core.setTypeSizeOffset(offset);
        core.setColorTheme(theme);
    }
};

ThemeID themeNamed(const QString& resource)
{
    for (int64_t i = 0; i < Themeset::numberOfThemes(); ++i) {
        if (Themeset::resourceNameForTheme(Themeset::themeAtIndex(i)) == resource)
            return Themeset::themeAtIndex(i);
    }
    ADD_FAILURE() << "no theme " << resource.toStdString();
    return 0;
}

QString pdfPath(const char* name)
{
    return TestSupport::home() + QStringLiteral("/%1.pdf").arg(QLatin1String(name));
}

PdfText printPlain(const QString& text, const char* name)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(600);
    printer.setOutputFileName(pdfPath(name));
    printer.setFullPage(true);
    EXPECT_TRUE(PrintingTextView::newPrintingTextView(text)->print(printer));
    return PdfText::read(pdfPath(name));
}

struct Written {
    bool done = false;
    bool success = false;
    Error error;
};

PrintingWebView::Completion recording(Written& written, QStringList* order = nullptr, const QString& name = {})
{
    return [&written, order, name](bool success, const Error& error) {
        written = {true, success, error};
        if (order)
            order->append(name);
    };
}

bool waitFor(const Written& written)
{
    return DispatchQueue::runMainUntil([&] { return written.done; }, 60);
}

} // namespace

TEST(Printing, PlainPrintSizesTrimsAndNumbersPages)
{
    const struct {
        SizePreset preset;
        int64_t offset;
        double points;
    } sizes[] = {{0, 0, 12}, {3, -4, 4}, {3, 0, 8}, {3, -3, 5}, {0, -30, 4}};
    for (const auto& c : sizes) {
        Settings settings(c.preset, c.offset);
        EXPECT_EQ(PrintingTextView::fontSizeForSizePreset(c.preset, c.offset), c.points);
        const PdfText pdf = printPlain(QStringLiteral("\n\n  \t\nFirst words here\nthe final office\n\n \n"), "sizes");
        // Letters Qt would join come back one by one, so the file can be searched.
        EXPECT_TRUE(pdf.joined().contains(QStringLiteral("the final office"))) << pdf.joined().toStdString();
        const PdfWord first = pdf.find(QStringLiteral("First"));
        EXPECT_NEAR(first.box.height(), c.points, 0.05) << c.preset << " " << c.offset;
        // Leading blank lines would push the first line down from the top margin.
        EXPECT_NEAR(first.box.top(), 72, c.points * 0.5);
        EXPECT_EQ(pdf.pages.size(), 1);
    }

    Settings settings(0, 0);
    QStringList lines;
    for (int i = 1; i <= 150; ++i)
        lines += QStringLiteral("Line %1 of a long note").arg(i);
    const PdfText pdf = printPlain(lines.join(u'\n') + QStringLiteral("\n\n\n"), "pages");
    ASSERT_GE(pdf.pages.size(), 3);
    for (int page = 1; page <= pdf.pages.size(); ++page) {
        const QString number = QStringLiteral("\u2014%1\u2014").arg(page);
        const auto it = std::find_if(pdf.words.begin(), pdf.words.end(), [&](const PdfWord& w) { return w.text == number; });
        ASSERT_NE(it, pdf.words.end()) << "page " << page;
        EXPECT_EQ(it->page, page);
        EXPECT_NEAR(it->box.center().x(), pdf.pages[page - 1].width() / 2, 1);
        EXPECT_NEAR(it->box.bottom(), pdf.pages[page - 1].height() - 36, 4);
        EXPECT_NEAR(it->box.height(), 11, 0.05);
    }
    // Text stays inside the 72-point margins.
    for (const PdfWord& w : pdf.words) {
        if (w.text.startsWith(u'\u2014'))
            continue;
        EXPECT_GE(w.box.left(), 71.9) << w.text.toStdString();
        EXPECT_LE(w.box.bottom(), pdf.pages[w.page - 1].height() - 72 + 0.1) << w.text.toStdString();
    }
}

TEST(Printing, PlainPrintThemes)
{
    const struct {
        const char* chosen;
        const char* printed;
    } cases[] = {{"night", "white"}, {"sepia", "white"}, {"charcoal", "white"}, {"whiterose", "whiterose"}, {"white", "white"}};
    for (const auto& c : cases) {
        Settings settings(0, 0, themeNamed(QLatin1String(c.chosen)));
        const ThemeID printed = themeNamed(QLatin1String(c.printed));
        const auto view = PrintingTextView::newPrintingTextView(QStringLiteral("# Head\nplain text"));
        const MarkdownTextStorage& storage = view->markdownStorage();
        EXPECT_EQ(storage.mainColor(), Color(0, 0, 0)) << c.chosen;
        EXPECT_EQ(storage.symbolColor(), Themeset::symbolColorForTheme(printed)) << c.chosen;
        EXPECT_EQ(storage.listColor(), Themeset::listColorForTheme(printed)) << c.chosen;
        // What reaches paper: the plain words are black in the printed document.
        const QTextBlock body = view->document()->lastBlock();
        EXPECT_EQ(body.begin().fragment().charFormat().foreground().color(), QColor(Qt::black)) << c.chosen;
    }
}

TEST(Printing, PdfExportKeepsTextSizeAndLinks)
{
    Settings settings(0, 0);
    const QString note = QStringLiteral("# Heading\n\nBody words with [a link](https://example.org/x), the final office.\n\n"
                                        "<img src=\"/dev/zero\"><script>document.write('ran')</script>\n\n"
                                        "```\ncode line\n```\n");
    Written written;
    PrintingWebView::htmlWritePDFToURL(MarkdownFormatter::htmlForPrintingWithMarkdownText(note), pdfPath("export"),
                                       recording(written));
    ASSERT_TRUE(waitFor(written));
    EXPECT_TRUE(written.success) << written.error.localizedDescription().toStdString();
    const PdfText pdf = PdfText::read(pdfPath("export"));
    EXPECT_TRUE(pdf.joined().contains(QStringLiteral("Heading Body words with a link, the final office."))) << pdf.joined().toStdString();
    EXPECT_FALSE(pdf.joined().contains(QStringLiteral("ran"))) << pdf.joined().toStdString();
    // "font-size: 16px" is 12 points on paper.
    EXPECT_NEAR(pdf.find(QStringLiteral("Body")).box.height(), 12, 0.05);
    EXPECT_NEAR(pdf.find(QStringLiteral("Body")).box.left(), 72, 0.5);
    QFile file(pdfPath("export"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.contains("/URI (https://example.org/x)")) << "the link is not clickable";
}

TEST(Printing, PdfExportsAreServedInOrderAndFailuresReported)
{
    const auto log = LogCapture::install();
    TestSupport::writeFile(TestSupport::home() + QStringLiteral("/plain-file"), "x");
    const struct {
        const char* name;
        QString path;
        bool written;
    } requests[] = {
        {"first", pdfPath("first"), true},
        {"under a file", TestSupport::home() + QStringLiteral("/plain-file/out.pdf"), false},
        {"second", pdfPath("second"), true},
        {"missing folder", TestSupport::home() + QStringLiteral("/no/such/folder/out.pdf"), false},
    };
    Written results[std::size(requests)];
    QStringList order;
    for (size_t i = 0; i < std::size(requests); ++i) {
        const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText(QStringLiteral("Note %1").arg(requests[i].name));
        PrintingWebView::htmlWritePDFToURL(page, requests[i].path, recording(results[i], &order, requests[i].name));
    }
    ASSERT_TRUE(waitFor(results[std::size(requests) - 1]));
    QStringList expectedOrder;
    for (size_t i = 0; i < std::size(requests); ++i) {
        const auto& r = requests[i];
        expectedOrder += r.name;
        EXPECT_EQ(results[i].success, r.written) << r.name;
        EXPECT_EQ(results[i].error.isNull(), r.written) << r.name;
        EXPECT_EQ(QFile::exists(r.path), r.written) << r.name;
        if (r.written)
            EXPECT_TRUE(PdfText::read(r.path).joined().contains(QStringLiteral("Note %1").arg(r.name))) << r.name;
    }
    EXPECT_EQ(order, expectedOrder);
    EXPECT_EQ(log->lines().filter(QStringLiteral("print:pdf failed")).size(), 2) << log->lines().join(u'\n').toStdString();
    EXPECT_EQ(TestSupport::readFile(TestSupport::home() + QStringLiteral("/plain-file")), "x");
    log->uninstall();
}
