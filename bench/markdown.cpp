// Throughput of the Markdown reader (parseBlockAndInline over whole notes, in bytes of UTF-8 input)
// against cmark's parse of the same bytes, and the time of one parse of each pathological line beside
// cmark's parse of that line.

#include "Markdown/InlineParser.h"
#include "markdown_corpus.h"

#include <benchmark/benchmark.h>
#include <cmark.h>

#include <QDirIterator>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Corpus {
    QList<QByteArray> bytes;
    QList<QString> texts;
    int64_t total = 0;

    void add(const QByteArray& b)
    {
        bytes << b;
        texts << QString::fromUtf8(b);
        total += b.size();
    }
};

const Corpus& synthetic()
{
    static const Corpus corpus = [] {
        Corpus c;
        for (const QByteArray& note : MarkdownCorpus::Generator(20261206).notes(20 * 1024 * 1024))
            c.add(note);
        return c;
    }();
    return corpus;
}

// The Markdown files installed on this machine, up to 40 MB.
const Corpus& machine()
{
    static const Corpus corpus = [] {
        Corpus c;
        QDirIterator it("/usr", {"*.md", "*.markdown"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext() && c.total < 40 * 1024 * 1024) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                c.add(file.readAll());
        }
        return c;
    }();
    return corpus;
}

int64_t parseAll(InlineParser& parser, const QString& text)
{
    int64_t elements = 0;
    const InlineCallback count = [&](const InlineRange&, InlineElement) { ++elements; };
    parser.enumerateParagraph(text, {0, text.size()}, [&](const InlineRange& paragraph, bool*) {
        parser.parseBlockAndInline(text, paragraph, count);
    });
    return elements;
}

void readerOver(benchmark::State& state, const Corpus& corpus)
{
    InlineParser parser;
    int64_t elements = 0;
    for (auto _ : state)
        for (const QString& text : corpus.texts)
            elements += parseAll(parser, text);
    benchmark::DoNotOptimize(elements);
    state.SetBytesProcessed(state.iterations() * corpus.total);
    state.counters["files"] = double(corpus.texts.size());
}

void cmarkOver(benchmark::State& state, const Corpus& corpus)
{
    for (auto _ : state) {
        for (const QByteArray& bytes : corpus.bytes) {
            cmark_node* document = cmark_parse_document(bytes.constData(), size_t(bytes.size()), CMARK_OPT_DEFAULT);
            benchmark::DoNotOptimize(document);
            cmark_node_free(document);
        }
    }
    state.SetBytesProcessed(state.iterations() * corpus.total);
}

void BM_ReaderSynthetic(benchmark::State& s) { readerOver(s, synthetic()); }
void BM_CmarkSynthetic(benchmark::State& s) { cmarkOver(s, synthetic()); }
void BM_ReaderMachine(benchmark::State& s) { readerOver(s, machine()); }
void BM_CmarkMachine(benchmark::State& s) { cmarkOver(s, machine()); }
BENCHMARK(BM_ReaderSynthetic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmarkSynthetic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderMachine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmarkMachine)->Unit(benchmark::kMillisecond);

QString repeated(const char* piece, int times) { return QString(piece).repeated(times); }

void pathological(benchmark::State& state, const QString& line)
{
    InlineParser parser;
    int64_t elements = 0;
    for (auto _ : state)
        elements += parseAll(parser, line);
    benchmark::DoNotOptimize(elements);
    state.counters["units"] = double(line.size());
}

void pathologicalCmark(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state) {
        cmark_node* document = cmark_parse_document(bytes.constData(), size_t(bytes.size()), CMARK_OPT_DEFAULT);
        benchmark::DoNotOptimize(document);
        cmark_node_free(document);
    }
}

// A line of about 1 MB: `piece` repeated, then `tail`.
QString megabyteOf(const char* piece, const char* tail)
{
    return repeated(piece, int(1000000 / std::strlen(piece))) + QString::fromLatin1(tail);
}

QString megabyteLine()
{
    QByteArray bytes;
    for (const QByteArray& note : synthetic().bytes) {
        bytes += note;
        if (bytes.size() >= 1024 * 1024)
            break;
    }
    bytes.truncate(1024 * 1024);
    bytes.replace('\n', ' ');
    return QString::fromUtf8(bytes);
}

void registerPathological()
{
    const std::map<std::string, QString> lines = {
        {"instruction <? x50000", repeated("<?", 50000)},
        {"declaration <!A x25000", repeated("<!A ", 25000)},
        {"cdata <![CDATA[ x10000", repeated("<![CDATA[", 10000)},
        {"asterisks x100000", repeated("*", 100000)},
        {"number signs x100000", repeated("#", 100000)},
        {"link titles [a](b ( x20000", repeated("[a](b (", 20000)},
        {"schemeless :// x50000", repeated("://", 50000)},
        {"single line 1 MB", megabyteLine()},
        // Nesting and openers a note may hold to hurt: about 1 MB on one line each.
        {"1 MB quotes >", megabyteOf(">", "x")},
        {"1 MB bullets - ", megabyteOf("- ", "x")},
        {"1 MB bullets * and tab", megabyteOf("*\t", "x")},
        {"1 MB numbers 1. ", megabyteOf("1. ", "x")},
        {"1 MB asterisks *", megabyteOf("*", "x")},
        {"1 MB brackets [", megabyteOf("[", "x")},
        {"1 MB backticks `", megabyteOf("`", "x")},
        {"1 MB titles [a](b ( then )", megabyteOf("[a](b (", ")")},
        {"1 MB titles [a](b ' then '", megabyteOf("[a](b '", "'")},
    };
    for (const auto& [name, line] : lines) {
        benchmark::RegisterBenchmark(("BM_Pathological/" + name).c_str(),
                                     [line = line](benchmark::State& s) { pathological(s, line); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_PathologicalCmark/" + name).c_str(),
                                     [bytes = line.toUtf8()](benchmark::State& s) { pathologicalCmark(s, bytes); })
            ->Unit(benchmark::kMillisecond);
    }
}

// Prints the reader's rate next to cmark's on the same bytes once the runs are in.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
                _rates[run.benchmark_name()] = it->second.value;
            if (run.run_type == Run::RT_Iteration)
                _times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* corpus : {"Synthetic", "Machine"}) {
            const double reader = _rates[std::string("BM_Reader") + corpus];
            const double cmark = _rates[std::string("BM_Cmark") + corpus];
            if (reader > 0 && cmark > 0)
                std::printf("%-9s reader %8.1f MB/s   cmark %8.1f MB/s   ratio %.2fx\n", corpus, reader / 1e6,
                            cmark / 1e6, reader / cmark);
        }
        const std::string reader = "BM_Pathological/", cmark = "BM_PathologicalCmark/";
        for (const auto& [name, time] : _times) {
            if (name.rfind(reader, 0) != 0)
                continue;
            const auto peer = _times.find(cmark + name.substr(reader.size()));
            if (peer != _times.end())
                std::printf("%-32s reader %9.2f ms   cmark %9.2f ms\n", name.substr(reader.size()).c_str(), time,
                            peer->second);
        }
    }

private:
    std::map<std::string, double> _rates;
    std::map<std::string, double> _times;  // per iteration, in each run's unit
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    registerPathological();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
