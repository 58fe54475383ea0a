// Printing and PDF export against Qt's own QTextDocument::print of the same document, in the same run:
// the PDF export of a 1-page note and of 250 pages of the marked-up corpus and of plain prose (our layer: page built, laid out on the rendering
// thread, written through a save file, completion back on the main queue) beside a bare print of the
// same HTML into a PDF writer, and plain print of 10 pages to a 600-dpi PDF printer beside a bare print
// of the same text. Targets: 1 page within 50 ms, 250 pages within 1 s, at most 1.2 times the bare
// print; plain print of 10 pages within 1 s; no child process; memory back where it was. And the PDF
// export of one line of 100,000 ">" within 2 s, beside plain print of the same note; the same for notes
// of one line of a megabyte (">", one word of "[", one paragraph of words): both within 2 s.

#include "Dispatch.h"
#include "Export/MarkdownFormatter.h"
#include "Export/PrintingTextView.h"
#include "Export/PrintingWebView.h"
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QPdfWriter>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextDocument>

#include <malloc.h>
#include <random>
#include <unistd.h>

namespace {

QTemporaryDir* scratch;

QString path(const char* name)
{
    return scratch->filePath(QString::fromLatin1(name));
}

int pagesIn(const QString& pdf)
{
    QFile file(pdf);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    return int(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "));
}

// What the process holds once the allocator has handed back its free pages.
long residentKilobytes()
{
    malloc_trim(0);
    QFile status(QStringLiteral("/proc/self/statm"));
    status.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

int childProcesses()
{
    int children = 0;
    const QByteArray self = QByteArray::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            children += fields.value(1) == self;
        }
    }
    return children;
}

// Our time beside the bare print's, and the pages our output has.
void timeAgainstBare(benchmark::State& state, const std::function<void()>& ours, const std::function<void()>& bare,
                     const QString& output)
{
    timeAgainstPeer(state, "bare_print", ours, bare);
    state.counters["pages"] = pagesIn(output);
}

void exportPDF(const QString& page, const QString& to)
{
    bool done = false;
    PrintingWebView::htmlWritePDFToURL(page, to, [&done](bool, const Error&) { done = true; });
    DispatchQueue::runMainUntil([&done] { return done; }, 60);
}

void barePrint(const QString& html, const QString& to)
{
    QTextDocument document;
    document.setHtml(html);
    QPdfWriter writer(to);
    document.print(&writer);
}

void pdfExport(benchmark::State& state, const QString& note)
{
    const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText(note);
    // Both paths once first: fonts and caches loaded by either are not growth.
    exportPDF(page, path("warm.pdf"));
    barePrint(page, path("warm-bare.pdf"));
    const long rssBefore = residentKilobytes();
    timeAgainstBare(
        state, [&] { exportPDF(page, path("ours.pdf")); }, [&] { barePrint(page, path("bare.pdf")); }, path("ours.pdf"));
    state.counters["rss_growth_kb"] = double(residentKilobytes() - rssBefore);
    state.counters["child_processes"] = childProcesses();
}

std::unique_ptr<QPrinter> pdfPrinter(const QString& to)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setResolution(600);
    printer->setOutputFileName(to);
    printer->setFullPage(true);
    return printer;
}

void plainPrint(benchmark::State& state, const QString& note)
{
    const auto bare = [&] {
        QTextDocument document;
        document.setPlainText(note);
        document.print(pdfPrinter(path("plain-bare.pdf")).get());
    };
    timeAgainstBare(
        state, [&] { PrintingTextView::newPrintingTextView(note)->print(*pdfPrinter(path("plain.pdf"))); }, bare,
        path("plain.pdf"));
}

// The PDF export of a note beside its plain print into a PDF.
void deepExport(benchmark::State& state, const QString& note)
{
    timeAgainstPeer(
        state, "plain_print", [&] { exportPDF(MarkdownFormatter::htmlForPrintingWithMarkdownText(note), path("deep.pdf")); },
        [&] { PrintingTextView::newPrintingTextView(note)->print(*pdfPrinter(path("deep-plain.pdf"))); });
    state.counters["pages"] = pagesIn(path("deep.pdf"));
}

// Paragraphs of plain words, without the corpus's markup, links and other scripts.
QString proseOfParagraphs(int paragraphs)
{
    static const char* const words[] = {"note", "meeting", "plan", "idea", "the", "a", "and", "review", "draft",
                                        "budget", "travel", "to", "of", "release", "garden", "weekly", "read"};
    std::mt19937 random(20261206);
    QStringList out;
    for (int p = 0; p < paragraphs; ++p) {
        QStringList paragraph;
        for (int w = 0; w < 60; ++w)
            paragraph += QLatin1String(words[random() % std::size(words)]);
        out += paragraph.join(u' ') + u'.';
    }
    return out.join(QStringLiteral("\n\n"));
}

void registerAll()
{
    static const QString onePage = syntheticNote(4 << 10).section(QLatin1Char('\n'), 0, 18);
    static const QString manyPages = syntheticNote(500 << 10);
    static const QString prosePages = proseOfParagraphs(1660);
    static const QString tenPages = syntheticNote(20 << 10);
    static const QString quotes = QStringLiteral(">").repeated(100000) + QStringLiteral(" deep");
    const auto add = [](const char* name, void (*run)(benchmark::State&, const QString&), const QString& note) {
        return benchmark::RegisterBenchmark(name, [run, &note](benchmark::State& state) { run(state, note); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    add("PdfExport/one_page", pdfExport, onePage);
    // Three rounds after the warm-up one, so that memory still held afterwards would be a leak.
    add("PdfExport/many_pages", pdfExport, manyPages)->Iterations(3);
    add("PdfExport/prose_pages", pdfExport, prosePages)->Iterations(3);
    add("PlainPrint/600dpi", plainPrint, tenPages);
    // Plain print of this one long line takes seconds: one round is enough.
    add("PdfExport/quotes_100000", deepExport, quotes)->Iterations(1);
    static const QString quotesMegabyte = QStringLiteral(">").repeated(1 << 20);
    static const QString wordMegabyte = QStringLiteral("[").repeated(1 << 20);
    static const QString paragraphMegabyte = QStringLiteral("word ").repeated(1 << 18);
    add("PdfExport/quotes_1MB", deepExport, quotesMegabyte)->Iterations(1);
    add("PdfExport/word_1MB", deepExport, wordMegabyte)->Iterations(1);
    add("PdfExport/paragraph_1MB", deepExport, paragraphMegabyte)->Iterations(1);
}

} // namespace

int main(int argc, char** argv)
{
    return runWithOffscreenCore(argc, argv, [](QTemporaryDir& home) {
        scratch = &home;
        registerAll();
    });
}
