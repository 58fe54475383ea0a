// The tokenizer's rate on a 1,000-term sum, and the time it takes to refuse an
// expression of 4,097 tokens, each beside a regular-expression scan that
// splits the same text into numbers, names and operators.
#include "QVMathStringTokenizer.h"

#include <benchmark/benchmark.h>

#include <QRegularExpression>
#include <QStringList>

namespace {

QString sum(int terms)
{
    QStringList parts;
    for (int i = 1; i <= terms; ++i)
        parts.append(QString::number(i));
    return parts.join(QStringLiteral(" + "));
}

void tokenize(benchmark::State& state, const QString& text)
{
    qsizetype tokens = 0;
    for (auto _ : state) {
        const auto tokenizer = QVMathStringTokenizer::tokenizerWithString(text);
        tokens += tokenizer ? tokenizer->allObjects().size() : 0;
        benchmark::DoNotOptimize(tokenizer.get());
    }
    state.SetItemsProcessed(tokens);
}

void scanPeer(benchmark::State& state, const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(R"(\d+(?:\.\d*)?(?:[eE][-+]?\d+)?|\w+|\*\*|\S)"));
    qsizetype tokens = 0;
    for (auto _ : state) {
        for (auto it = pattern.globalMatch(text); it.hasNext();) {
            benchmark::DoNotOptimize(it.next().capturedView());
            ++tokens;
        }
    }
    state.SetItemsProcessed(tokens);
}

void thousandTermSum(benchmark::State& state) { tokenize(state, sum(1000)); }
void thousandTermSumPeer(benchmark::State& state) { scanPeer(state, sum(1000)); }

// 2,049 terms and 2,048 plus signs: one token over the bound.
void refuseTooLong(benchmark::State& state)
{
    const QString text = sum(2049);
    for (auto _ : state) {
        Error error;
        benchmark::DoNotOptimize(QVMathStringTokenizer::tokenizerWithString(text, nullptr, &error));
        if (error.code != 1)
            state.SkipWithError("not refused");
    }
}
void refuseTooLongPeer(benchmark::State& state) { scanPeer(state, sum(2049)); }

} // namespace

BENCHMARK(thousandTermSum)->Unit(benchmark::kMicrosecond);
BENCHMARK(thousandTermSumPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK(refuseTooLong)->Unit(benchmark::kMicrosecond);
BENCHMARK(refuseTooLongPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
