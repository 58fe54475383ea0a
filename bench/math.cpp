// The tokenizer's rate on a 1,000-term sum, and the time it takes to refuse an
// expression of 4,097 tokens, each beside a regular-expression scan that
// splits the same text into numbers, names and operators. The evaluator on
// the same sum (tokenized, parsed, evaluated) beside the C library reading
// and adding its numbers, and its refusals of 4,097 tokens and of 257 nested
// parentheses beside the scan. 10,000 evaluations of «sin(1.234)» and of
// «sqrt(2)» in high precision, each beside the same in double.
#include "QVMathEvaluator.h"
#include "QVMathStringTokenizer.h"

#include <benchmark/benchmark.h>

#include <QRegularExpression>
#include <QStringList>

#include <cstdlib>

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

void evaluateThousandTermSum(benchmark::State& state)
{
    const QString text = sum(1000);
    QVMathEvaluator evaluator;
    for (auto _ : state) {
        const auto value = evaluator.evaluateString(text, {}, nullptr);
        if (!value || value->toDouble() != 500500)
            state.SkipWithError("wrong sum");
    }
}

void evaluateThousandTermSumPeer(benchmark::State& state)
{
    const QByteArray text = sum(1000).toUtf8();
    for (auto _ : state) {
        double total = 0;
        for (const char* p = text.constData(); *p;) {
            char* end = nullptr;
            total += std::strtod(p, &end);
            p = *end ? end + 3 : end; // " + "
        }
        benchmark::DoNotOptimize(total);
    }
}

void refuse(benchmark::State& state, const QString& text, int code)
{
    QVMathEvaluator evaluator;
    for (auto _ : state) {
        Error error;
        benchmark::DoNotOptimize(evaluator.evaluateString(text, {}, &error));
        if (error.code != code)
            state.SkipWithError("not refused");
    }
}

QString nested(int depth) { return QStringLiteral("(").repeated(depth) + QStringLiteral("1") + QStringLiteral(")").repeated(depth); }

void evaluateRefuseTooLong(benchmark::State& state) { refuse(state, sum(2049), 1); }
void evaluateRefuseTooDeep(benchmark::State& state) { refuse(state, nested(257), 7); }
void evaluateRefuseTooDeepPeer(benchmark::State& state) { scanPeer(state, nested(257)); }

// One iteration is 10,000 evaluations of the same text.
void evaluateTenThousand(benchmark::State& state, const QString& text, bool precise)
{
    QVMathEvaluator evaluator;
    evaluator.setUsesHighPrecisionEvaluation(precise);
    for (auto _ : state) {
        for (int i = 0; i < 10000; ++i) {
            if (!evaluator.evaluateString(text, {}, nullptr))
                state.SkipWithError("refused");
        }
    }
}

void preciseSin(benchmark::State& state) { evaluateTenThousand(state, QStringLiteral("sin(1.234)"), true); }
void preciseSinPeerDouble(benchmark::State& state) { evaluateTenThousand(state, QStringLiteral("sin(1.234)"), false); }
void preciseSqrt(benchmark::State& state) { evaluateTenThousand(state, QStringLiteral("sqrt(2)"), true); }
void preciseSqrtPeerDouble(benchmark::State& state) { evaluateTenThousand(state, QStringLiteral("sqrt(2)"), false); }

} // namespace

BENCHMARK(preciseSin)->Unit(benchmark::kMillisecond);
BENCHMARK(preciseSinPeerDouble)->Unit(benchmark::kMillisecond);
BENCHMARK(preciseSqrt)->Unit(benchmark::kMillisecond);
BENCHMARK(preciseSqrtPeerDouble)->Unit(benchmark::kMillisecond);
BENCHMARK(evaluateThousandTermSum)->Unit(benchmark::kMicrosecond);
BENCHMARK(evaluateThousandTermSumPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK(evaluateRefuseTooLong)->Unit(benchmark::kMicrosecond);
BENCHMARK(evaluateRefuseTooDeep)->Unit(benchmark::kMicrosecond);
BENCHMARK(evaluateRefuseTooDeepPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK(thousandTermSum)->Unit(benchmark::kMicrosecond);
BENCHMARK(thousandTermSumPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK(refuseTooLong)->Unit(benchmark::kMicrosecond);
BENCHMARK(refuseTooLongPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
