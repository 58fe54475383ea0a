// The printing page of a note (pre-pass, cmark, post-pass, page) against cmark alone on the same
// Markdown, in the same run: synthetic notes of 100 KB and 1 MB, the 1 MB note on one line and 10,000 nested
// quote markers. Targets: 100 KB within 10 ms, 1 MB within 100 ms. And the nesting cap on the 1 MB
// note's page against Qt's own parse of that page, which it runs before: within a tenth of it.

#include "Export/MarkdownFormatter.h"
#include "Export/RichTextPage.h"
#include "bench_support.h"

#include <benchmark/benchmark.h>
#include <cmark.h>

#include <QTextDocument>

#include <cstdlib>

namespace {

// Iteration time is ours; the counters put cmark's time on the same bytes beside it.
void printingPage(benchmark::State& state, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    timeAgainstPeer(
        state, "cmark",
        [&] { benchmark::DoNotOptimize(MarkdownFormatter::htmlForPrintingWithMarkdownText(text)); },
        [&] { std::free(cmark_markdown_to_html(bytes.constData(), bytes.size(), CMARK_OPT_UNSAFE)); });
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

// The pass that caps the page's nesting, beside the parse it protects.
void cappedPage(benchmark::State& state, const QString& text)
{
    const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText(text);
    timeAgainstPeer(
        state, "qt_parse", [&] { benchmark::DoNotOptimize(RichTextPage::withNestingCapped(page)); },
        [&] {
            QTextDocument document;
            document.setHtml(page);
        });
}

void registerAll()
{
    static const QString note100K = syntheticNote(100 << 10);
    static const QString note1M = syntheticNote(1 << 20);
    static const QString line1M = QString(note1M).replace(QLatin1Char('\n'), QLatin1Char(' '));
    static const QString quotes = QStringLiteral("> ").repeated(10000) + QStringLiteral("deep");
    const auto add = [](const char* name, const QString& text) {
        benchmark::RegisterBenchmark(name, [&text](benchmark::State& state) { printingPage(state, text); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    add("PrintingPage/note_100KB", note100K);
    add("PrintingPage/note_1MB", note1M);
    add("PrintingPage/line_1MB", line1M);
    add("PrintingPage/quotes_10000", quotes);
    benchmark::RegisterBenchmark("NestingCap/note_1MB", [](benchmark::State& state) { cappedPage(state, note1M); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    return runWithOffscreenCore(argc, argv, [](QTemporaryDir&) { registerAll(); });
}
