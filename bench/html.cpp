// The printing page of a note (pre-pass, cmark, post-pass, page) against cmark alone on the same
// Markdown, in the same run: synthetic notes of 100 KB and 1 MB, the 1 MB note on one line and 10,000 nested
// quote markers. Targets: 100 KB within 10 ms, 1 MB within 100 ms.

#include "Core.h"
#include "Export/MarkdownFormatter.h"
#include "UserDefaults.h"
#include "markdown_corpus.h"

#include <benchmark/benchmark.h>
#include <cmark.h>

#include <QGuiApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>

namespace {

QString syntheticNote(qsizetype bytes)
{
    QByteArray text;
    for (const QByteArray& note : MarkdownCorpus::Generator(20261206).notes(bytes))
        text += note + '\n';
    return QString::fromUtf8(text);
}

double millisecondsOf(const auto& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Iteration time is ours; the counters put cmark's time on the same bytes beside it.
void printingPage(benchmark::State& state, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    double ours = 0, cmark = 0;
    for (auto _ : state) {
        const double ms = millisecondsOf([&] {
            benchmark::DoNotOptimize(MarkdownFormatter::htmlForPrintingWithMarkdownText(text));
        });
        cmark += millisecondsOf([&] { std::free(cmark_markdown_to_html(bytes.constData(), bytes.size(), CMARK_OPT_UNSAFE)); });
        ours += ms;
        state.SetIterationTime(ms / 1000);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours / n;
    state.counters["cmark_ms"] = cmark / n;
    state.counters["ratio"] = ours / cmark;
    state.SetBytesProcessed(int64_t(n) * bytes.size());
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
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;
    UserDefaults defaults(home.filePath(QStringLiteral("defaults.ini")));
    Core::Configuration configuration;
    configuration.documentDirectory = home.filePath(QStringLiteral("Documents"));
    configuration.cachesDirectory = home.filePath(QStringLiteral("Caches"));
    configuration.defaults = &defaults;
    Core::configure(configuration);

    benchmark::Initialize(&argc, argv);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
