// The 38-digit decimal against Boost's 50-digit decimal float on the same work:
// 10,000 sines of 1.234 and 10,000 square roots of 2 (target: under 2 s each),
// and the rate of additions, multiplications and divisions.
#include "QVDecimalMath.h"

#include <benchmark/benchmark.h>

#include <boost/multiprecision/cpp_dec_float.hpp>

namespace {

using Peer = boost::multiprecision::cpp_dec_float_50;
constexpr int calls = 10000;

const Decimal& operandA()
{
    static const Decimal a = *Decimal::parse("1234.5678901234567890123456789012345678");
    return a;
}

const Decimal& operandB()
{
    static const Decimal b = *Decimal::parse("0.98765432109876543210987654321098765432");
    return b;
}

void tenThousandSines(benchmark::State& state)
{
    const Decimal x = *Decimal::parse("1.234");
    for (auto _ : state)
        for (int i = 0; i < calls; ++i)
            benchmark::DoNotOptimize(QVDecimalSin(x));
}

void tenThousandSinesPeer(benchmark::State& state)
{
    const Peer x("1.234");
    for (auto _ : state)
        for (int i = 0; i < calls; ++i)
            benchmark::DoNotOptimize(Peer(sin(x)));
}

void tenThousandRoots(benchmark::State& state)
{
    const Decimal two = QVDecimalTwo();
    for (auto _ : state)
        for (int i = 0; i < calls; ++i)
            benchmark::DoNotOptimize(QVDecimalSqrt(two));
}

void tenThousandRootsPeer(benchmark::State& state)
{
    const Peer two(2);
    for (auto _ : state)
        for (int i = 0; i < calls; ++i)
            benchmark::DoNotOptimize(Peer(sqrt(two)));
}

template <CalculationError (*operation)(Decimal*, const Decimal&, const Decimal&, RoundingMode)>
void arithmetic(benchmark::State& state)
{
    Decimal result;
    for (auto _ : state) {
        operation(&result, operandA(), operandB(), RoundingMode::Bankers);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations());
}

template <int operation> void arithmeticPeer(benchmark::State& state)
{
    const Peer a("1234.5678901234567890123456789012345678");
    const Peer b("0.98765432109876543210987654321098765432");
    for (auto _ : state) {
        Peer r = operation == 0 ? Peer(a + b) : operation == 1 ? Peer(a * b) : Peer(a / b);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(tenThousandSines)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(tenThousandSinesPeer)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(tenThousandRoots)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(tenThousandRootsPeer)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(arithmetic<DecimalAdd>)->Name("add");
BENCHMARK(arithmeticPeer<0>)->Name("addPeer");
BENCHMARK(arithmetic<DecimalMultiply>)->Name("multiply");
BENCHMARK(arithmeticPeer<1>)->Name("multiplyPeer");
BENCHMARK(arithmetic<DecimalDivide>)->Name("divide");
BENCHMARK(arithmeticPeer<2>)->Name("dividePeer");

BENCHMARK_MAIN();
