// The note record's text codec on a 100 KB note: gzip deflate and inflate of
// its UTF-16 bytes against zlib's own compress2 and uncompress on the same
// bytes, at the same level. Ratios use the fastest of 10 repetitions.
#include "Cloud/NoteRecord.h"
#include "markdown_corpus.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <algorithm>
#include <cstdio>
#include <map>

#include <zlib.h>

namespace {

constexpr qsizetype NoteBytes = 100 * 1024;

const QString& noteText()
{
    static const QString text = [] {
        QByteArray utf8;
        for (const QByteArray& part : MarkdownCorpus::Generator(31).notes(NoteBytes))
            utf8 += part;
        return QString::fromUtf8(utf8.left(NoteBytes));
    }();
    return text;
}

// What the codec compresses: the mark and the UTF-16 text.
const QByteArray& utf16()
{
    static const QByteArray bytes = *NoteRecord::gzipInflate(NoteRecord::dataFromString(noteText()));
    return bytes;
}

const QByteArray& zlibStream()
{
    static const QByteArray stream = [] {
        uLongf size = compressBound(uLong(utf16().size()));
        QByteArray out(qsizetype(size), Qt::Uninitialized);
        compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(utf16().constData()),
                  uLong(utf16().size()), Z_DEFAULT_COMPRESSION);
        out.truncate(qsizetype(size));
        return out;
    }();
    return stream;
}

void deflateCodec(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(NoteRecord::gzipDeflate(utf16()));
}

void deflateZlib(benchmark::State& state)
{
    QByteArray out(qsizetype(compressBound(uLong(utf16().size()))), Qt::Uninitialized);
    for (auto _ : state) {
        uLongf size = uLongf(out.size());
        benchmark::DoNotOptimize(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                                           reinterpret_cast<const Bytef*>(utf16().constData()),
                                           uLong(utf16().size()), Z_DEFAULT_COMPRESSION));
    }
}

void inflateCodec(benchmark::State& state)
{
    const QByteArray stream = NoteRecord::gzipDeflate(utf16());
    for (auto _ : state)
        benchmark::DoNotOptimize(NoteRecord::gzipInflate(stream));
}

void inflateZlib(benchmark::State& state)
{
    QByteArray out(utf16().size(), Qt::Uninitialized);
    for (auto _ : state) {
        uLongf size = uLongf(out.size());
        benchmark::DoNotOptimize(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                                            reinterpret_cast<const Bytef*>(zlibStream().constData()),
                                            uLong(zlibStream().size())));
    }
}

// Keeps the fastest repetition of each benchmark for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> fastest; // real time, ms

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
                fastest[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    zlibStream();
    const auto add = [](const char* name, void (*function)(benchmark::State&)) {
        benchmark::RegisterBenchmark(name, function)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(10)
            ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
            ->ReportAggregatesOnly(true);
    };
    add("deflate/zlib", deflateZlib);
    add("deflate/codec", deflateCodec);
    add("inflate/zlib", inflateZlib);
    add("inflate/codec", inflateCodec);

    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* work : {"deflate", "inflate"}) {
        const auto zlib = reporter.fastest.find(std::string(work) + "/zlib");
        const auto codec = reporter.fastest.find(std::string(work) + "/codec");
        if (zlib == reporter.fastest.end() || codec == reporter.fastest.end())
            continue;
        std::printf("%s of a %lld-character note (%lld bytes of UTF-16): zlib %.3f ms, codec %.3f ms, codec/zlib %.3f\n",
                    work, static_cast<long long>(noteText().size()), static_cast<long long>(utf16().size()),
                    zlib->second, codec->second, codec->second / zlib->second);
    }
    benchmark::Shutdown();
    return 0;
}
