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

namespace {

// The print settings for one test; the defaults again afterwards.
class Settings {
public:
    Settings(SizePreset size, int64_t offset, ThemeID theme = 0) { apply(size, offset, theme); }
    ~Settings() { apply(0, 0, 0); }

private:
    static void apply(SizePreset size, int64_t offset, ThemeID theme)
    {
        Core::shared().setTypeSize(size);
        Core::shared().setTypeSizeOffset(offset);
        Core::shared().setColorTheme(theme);
    }
};

ThemeID themeNamed(const char* resource)
{
    for (int64_t i = 0; i < Themeset::numberOfThemes(); ++i) {
        if (Themeset::resourceNameForTheme(Themeset::themeAtIndex(i)) == QLatin1String(resource))
            return Themeset::themeAtIndex(i);
    }
    ADD_FAILURE() << "no theme " << resource;
    return 0;
}

QString pdfPath(const QString& name)
{
    return TestSupport::home() + QStringLiteral("/%1.pdf").arg(name);
}

PdfText printPlain(const QString& text)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(600);
    printer.setOutputFileName(pdfPath(QStringLiteral("plain")));
    printer.setFullPage(true);
    EXPECT_TRUE(PrintingTextView::newPrintingTextView(text)->print(printer));
    return PdfText(pdfPath(QStringLiteral("plain")));
}

// Asks for PDF exports one after the other; answers whether each was written, in completion order.
QList<QPair<QString, bool>> exportAll(const QList<QPair<QString, QString>>& notesAndPaths)
{
    QList<QPair<QString, bool>> done;
    for (const auto& [note, path] : notesAndPaths) {
        PrintingWebView::htmlWritePDFToURL(MarkdownFormatter::htmlForPrintingWithMarkdownText(note), path,
                                           [&done, path](bool written, const Error& error) {
                                               EXPECT_EQ(written, error.isNull()) << path.toStdString();
                                               done.append({path, written});
                                           });
    }
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return done.size() == notesAndPaths.size(); }, 60));
    return done;
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
        const PdfText pdf = printPlain(QStringLiteral("\n\n  \t\nFirst words\nthe final office\n\n \n"));
        EXPECT_NEAR(pdf.find(QStringLiteral("First")).box.height(), c.points, 0.05) << c.preset << " " << c.offset;
        // Leading blank lines would push the first line below the top margin.
        EXPECT_NEAR(pdf.find(QStringLiteral("First")).box.top(), 72, c.points * 0.5);
        // Letters Qt would join come back one by one, so the file can be searched.
        EXPECT_TRUE(pdf.joined().endsWith(QStringLiteral("the final office \u20141\u2014"))) << pdf.joined().toStdString();
        EXPECT_EQ(pdf.pages.size(), 1);
    }

    QStringList lines;
    for (int i = 1; i <= 150; ++i)
        lines += QStringLiteral("Line %1 of a long note").arg(i);
    const PdfText pdf = printPlain(lines.join(u'\n'));
    ASSERT_GE(pdf.pages.size(), 3);
    for (const PdfText::Word& w : pdf.words) {
        const QSizeF sheet = pdf.pages[w.page - 1];
        if (w.text.startsWith(u'\u2014')) {
            EXPECT_EQ(w.text, QStringLiteral("\u2014%1\u2014").arg(w.page));
            EXPECT_NEAR(w.box.center().x(), sheet.width() / 2, 1);
            EXPECT_NEAR(w.box.bottom(), sheet.height() - 36, 4);
            EXPECT_NEAR(w.box.height(), 11, 0.05);
        } else {
            // Inside the margins, and a line at a page's edge is printed once.
            EXPECT_TRUE(QRectF(QPointF(72, 71), sheet - QSizeF(144, 143)).contains(w.box)) << w.text.toStdString();
        }
    }
    EXPECT_EQ(std::count_if(pdf.words.begin(), pdf.words.end(), [](const PdfText::Word& w) { return w.text == QLatin1String("Line"); }),
              150);
}

TEST(Printing, PlainPrintThemes)
{
    const struct {
        const char* chosen;
        const char* printed;
    } cases[] = {{"night", "white"}, {"sepia", "white"}, {"charcoal", "white"}, {"whiterose", "whiterose"}};
    for (const auto& c : cases) {
        Settings settings(0, 0, themeNamed(c.chosen));
        const auto view = PrintingTextView::newPrintingTextView(QStringLiteral("# Head\nplain text"));
        const MarkdownTextStorage& storage = view->markdownStorage();
        EXPECT_EQ(storage.symbolColor(), Themeset::symbolColorForTheme(themeNamed(c.printed))) << c.chosen;
        EXPECT_EQ(storage.listColor(), Themeset::listColorForTheme(themeNamed(c.printed))) << c.chosen;
        const QTextCharFormat body = view->document()->lastBlock().begin().fragment().charFormat();
        EXPECT_EQ(body.foreground().color(), QColor(Qt::black)) << c.chosen;
    }
}

TEST(Printing, PdfExportKeepsTextSizeAndLinks)
{
    const QString note = QStringLiteral("# Heading\n\nBody words with [a link](https://example.org/x), the final office.\n\n"
                                        "<img src=\"/dev/zero\"><script>document.write('ran')</script>\n\n"
                                        "```\ncode\n```\n\nafter\n");
    ASSERT_EQ(exportAll({{note, pdfPath(QStringLiteral("export"))}}).value(0).second, true);
    const PdfText pdf(pdfPath(QStringLiteral("export")));
    EXPECT_TRUE(pdf.joined().startsWith(QStringLiteral("Heading Body words with a link, the final office."))) << pdf.joined().toStdString();
    EXPECT_FALSE(pdf.joined().contains(QStringLiteral("ran")));
    // "font-size: 16px" is 12 points on paper, inside the 72-point margin.
    EXPECT_NEAR(pdf.find(QStringLiteral("Body")).box.height(), 12, 0.05);
    EXPECT_NEAR(pdf.find(QStringLiteral("Body")).box.left(), 72, 0.5);
    EXPECT_TRUE(TestSupport::readFile(pdfPath(QStringLiteral("export"))).contains("/URI (https://example.org/x)"));
    // A code block ends with its last line, not with an empty shaded one (about 21 points more).
    EXPECT_LT(pdf.find(QStringLiteral("after")).box.top() - pdf.find(QStringLiteral("code")).box.bottom(), 28);
}

TEST(Printing, PdfExportsAreServedInOrderAndFailuresReported)
{
    const auto log = LogCapture::install();
    const QString file = TestSupport::home() + QStringLiteral("/plain-file");
    TestSupport::writeFile(file, "x");
    const QList<QPair<QString, QString>> requests = {
        {QStringLiteral("Note one"), pdfPath(QStringLiteral("one"))},
        {QStringLiteral("Under a file"), file + QStringLiteral("/out.pdf")},
        {QStringLiteral("Note two"), pdfPath(QStringLiteral("two"))},
        {QStringLiteral("Missing folder"), TestSupport::home() + QStringLiteral("/no/such/out.pdf")},
    };
    const QList<QPair<QString, bool>> done = exportAll(requests);
    ASSERT_EQ(done.size(), requests.size());
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const bool expected = requests[i].first.startsWith(QLatin1String("Note"));
        EXPECT_EQ(done[i], qMakePair(requests[i].second, expected));
        EXPECT_EQ(QFile::exists(requests[i].second), expected);
        EXPECT_EQ(expected ? PdfText(requests[i].second).joined() : QString(), expected ? requests[i].first : QString());
    }
    EXPECT_EQ(log->lines().filter(QStringLiteral("print:pdf failed")).size(), 2);
    EXPECT_EQ(TestSupport::readFile(file), "x");
    log->uninstall();
}

TEST(Printing, PrintHeightIsThePageInsideItsMarginsOverTheScale)
{
    const struct {
        QPageSize::PageSizeId paper;
        double margin;
        double scale;
        float height;
    } cases[] = {{QPageSize::Letter, 72, 1.0, 648},    {QPageSize::Letter, 72, 0.5, 1296}, {QPageSize::Letter, 0, 2.0, 396},
                 {QPageSize::A4, 72, 1.0, 698},       {QPageSize::Letter, 72, 0, 0},      {QPageSize::Letter, 72, -1, 0}};
    for (const auto& c : cases) {
        QPrinter job(QPrinter::HighResolution);
        job.setOutputFormat(QPrinter::PdfFormat);
        job.setPageSize(QPageSize(c.paper));
        job.setPageMargins(QMarginsF(c.margin, c.margin, c.margin, c.margin), QPageLayout::Point);
        EXPECT_NEAR(PrintingTextView::calculatePrintHeight(job, c.scale), c.height, 0.01) << c.paper << " " << c.scale;
    }
}
