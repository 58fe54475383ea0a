// The note record's text codec on a 100 KB note: gzip deflate and inflate of
// its UTF-16 bytes against zlib's own compress2 and uncompress on the same
// bytes, at the same level. Ratios use the fastest of 10 repetitions.
#include "Cloud/NoteRecord.h"
#include "markdown_corpus.h"
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv)
{
    zlibStream();
    registerFastestOfTen("deflate/zlib", deflateZlib);
    registerFastestOfTen("deflate/codec", deflateCodec);
    registerFastestOfTen("inflate/zlib", inflateZlib);
    registerFastestOfTen("inflate/codec", inflateCodec);
    RatioReporter reporter;
    runInterleaved(argc, argv, reporter);
    for (const char* work : {"deflate", "inflate"}) {
        const auto zlib = reporter.fastest.find(std::string(work) + "/zlib");
        const auto codec = reporter.fastest.find(std::string(work) + "/codec");
        if (zlib == reporter.fastest.end() || codec == reporter.fastest.end())
            continue;
        std::printf("%s of a %lld-character note (%lld bytes of UTF-16): zlib %.3f ms, codec %.3f ms, codec/zlib %.3f\n",
                    work, static_cast<long long>(noteText().size()), static_cast<long long>(utf16().size()),
                    zlib->second.first, codec->second.first, codec->second.first / zlib->second.first);
    }
    benchmark::Shutdown();
    return 0;
}
