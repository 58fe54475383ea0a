// One calculator pass over a note of 2,000 lines, 1,000 of them with "=>" and
// 50 of those failing (each failure logged synchronously to a file logger),
// the range at the end of the note. Beside it the peer: the math library
// evaluating the same 1,000 expressions on their own, which is the floor a
// pass cannot go below. Target: one pass under 10 ms.
// Then the calculator writing the results of notes of 1 MB and 4 MB of
// "1+2*3-4/5 =>" lines (read, passed over, written back) beside the evaluator
// alone on the same lines: the time grows with the note (4 MB within 8 times
// the 1 MB time).
#include "Calculator/Calculator.h"
#include "Calculator/CalculatorResultWriter.h"
#include "QVMathEvaluator.h"
#include "VGFileLogger.h"
#include "VGLog.h"
#include "VGLogFileManagerDefault.h"

#include <benchmark/benchmark.h>

#include <QStringList>
#include <QTemporaryDir>

namespace {

// Every twentieth one is refused ("%" takes no right operand).
QStringList expressions()
{
    QStringList lines;
    for (int i = 0; i < 1000; ++i)
        lines << (i % 20 == 0 ? QStringLiteral("%1 + 10%").arg(i) : QStringLiteral("%1 * 1.5 + %2").arg(i).arg(i % 7));
    return lines;
}

QString note()
{
    QString text;
    int index = 0;
    for (const QString& expression : expressions()) {
        text += QStringLiteral("Some words about line %1, nothing to compute\n").arg(index++);
        // Words are blanked and "x" multiplies: the peer gets the cleaned text.
        text += QStringLiteral("Cost ") + QString(expression).replace(u'*', u'x') + QStringLiteral(" => 0\n");
    }
    return text;
}

void onePass(benchmark::State& state)
{
    QTemporaryDir folder;
    const auto logger = std::make_shared<VGFileLogger>(std::make_shared<VGLogFileManagerDefault>(folder.path()));
    VGLog::addLogger(logger);
    const QString text = note();
    Calculator calculator;
    qsizetype results = 0;
    for (auto _ : state)
        calculator.parseText(text, {text.size(), 0}, [&](const Number&, TextRange) { ++results; });
    VGLog::removeLogger(logger);
    state.counters["results"] = double(results) / double(state.iterations());
}

void evaluatorPeer(benchmark::State& state)
{
    const QStringList lines = expressions();
    for (auto _ : state)
        for (const QString& line : lines) {
            Error error;
            benchmark::DoNotOptimize(QVMathParsing::numberByEvaluatingString(line, {}, &error));
        }
}

const QString lineOfNote = QStringLiteral("1+2*3-4/5 =>\n");

int linesInMegabytes(std::int64_t megabytes) { return int(megabytes * 1000000 / lineOfNote.size()); }

void noteWithResults(benchmark::State& state)
{
    const QString text = lineOfNote.repeated(linesInMegabytes(state.range(0)));
    for (auto _ : state) {
        Calculator calculator;
        const auto writer = std::make_shared<CalculatorResultWriter>();
        calculator.setDelegate(writer);
        calculator.parseText(text, {0, text.size()});
        benchmark::DoNotOptimize(writer->applied(text));
    }
}

void evaluatorAlone(benchmark::State& state)
{
    const int lines = linesInMegabytes(state.range(0));
    const QString expression = lineOfNote.left(lineOfNote.indexOf(QStringLiteral(" =>")));
    for (auto _ : state)
        for (int i = 0; i < lines; ++i) {
            Error error;
            benchmark::DoNotOptimize(QVMathParsing::numberByEvaluatingString(expression, {}, &error));
        }
}

} // namespace

BENCHMARK(noteWithResults)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(evaluatorAlone)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(onePass)->Unit(benchmark::kMillisecond);
BENCHMARK(evaluatorPeer)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
