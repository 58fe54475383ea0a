// The logging call end to end (terminal to /dev/null plus a rolling file logger):
// throughput from 1 and 4 threads, caller latency of an asynchronous call and of a
// synchronous error.
#include "Log.h"
#include "VGFileLogger.h"
#include "VGLogFileManagerDefault.h"
#include "VGTTYLogger.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

QTemporaryDir* logsFolder = nullptr;

// Terminal output goes to /dev/null; the file logger rolls at 1 MiB and keeps 3 files.
void install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDERR_FILENO);
    ::close(devNull);
    logsFolder = new QTemporaryDir;
    auto manager = std::make_shared<VGLogFileManagerDefault>(logsFolder->path());
    manager->setMaximumNumberOfLogFiles(3);
    auto file = std::make_shared<VGFileLogger>(manager);
    file->setMaximumFileSize(1024 * 1024);
    file->setRollingFrequency(86400);
    VGLog::addLogger(VGTTYLogger::sharedInstance());
    VGLog::addLogger(file);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

const QString key = QStringLiteral("Groceries.md");

} // namespace

// Messages per second from the first call until every logger has written them.
static void Throughput(benchmark::State& state)
{
    install();
    const int threads = int(state.range(0));
    constexpr int perThread = 50000;
    for (auto _ : state) {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([] {
                for (int i = 0; i < perThread; ++i) {
                    if (i % 100 == 0)
                        LogError("note:open %1 failed.", key);
                    else
                        LogInfo("note:open %1 failed.", key);
                }
            });
        for (auto& worker : workers)
            worker.join();
        VGLog::flushLog();
    }
    state.SetItemsProcessed(state.iterations() * threads * perThread);
}
BENCHMARK(Throughput)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// Time on the caller of one asynchronous call, below the bound of 1,000.
static void AsyncCallLatency(benchmark::State& state)
{
    install();
    std::vector<double> samples;
    int sinceFlush = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        LogInfo("note:open %1 failed.", key);
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        if (++sinceFlush == 500) {
            state.PauseTiming();
            VGLog::flushLog();
            sinceFlush = 0;
            state.ResumeTiming();
        }
    }
    VGLog::flushLog();
    state.counters["p50_us"] = percentile(samples, 0.5);
    state.counters["p99_us"] = percentile(samples, 0.99);
}
BENCHMARK(AsyncCallLatency)->Iterations(200000)->UseRealTime();

// A synchronous error: returns once both loggers wrote it.
static void SyncErrorLatency(benchmark::State& state)
{
    install();
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        LogError("note:open %1 failed.", key);
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["p50_us"] = percentile(samples, 0.5);
    state.counters["p99_us"] = percentile(samples, 0.99);
}
BENCHMARK(SyncErrorLatency)->Iterations(50000)->UseRealTime();

BENCHMARK_MAIN();
