// Serial-queue throughput, sync round trip and main-queue hop latency.
#include "Dispatch.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

static void AsyncThroughput(benchmark::State& state)
{
    auto queue = DispatchQueue::createSerial("bench.async");
    std::atomic<int64_t> ran {0};
    for (auto _ : state) {
        for (int i = 0; i < 10000; ++i)
            queue->async([&] { ran.fetch_add(1, std::memory_order_relaxed); });
        queue->sync([] {});
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(AsyncThroughput)->Unit(benchmark::kMillisecond)->UseRealTime();

static double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

static void SyncRoundTrip(benchmark::State& state)
{
    auto queue = DispatchQueue::createSerial("bench.sync");
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        queue->sync([] {});
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["p50_us"] = percentile(samples, 0.5);
    state.counters["p99_us"] = percentile(samples, 0.99);
}
BENCHMARK(SyncRoundTrip)->UseRealTime();

// A worker hands a block to the main queue; the main thread's run loop runs it.
static void MainQueueHop(benchmark::State& state)
{
    auto queue = DispatchQueue::createSerial("bench.hop");
    std::vector<double> samples;
    for (auto _ : state) {
        std::atomic<bool> done {false};
        std::chrono::steady_clock::time_point sent;
        queue->async([&] {
            sent = std::chrono::steady_clock::now();
            DispatchQueue::main()->async([&] {
                samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent).count());
                done = true;
            });
        });
        DispatchQueue::runMainUntil([&] { return done.load(); }, 5);
    }
    state.counters["p50_us"] = percentile(samples, 0.5);
}
BENCHMARK(MainQueueHop)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
