// The logging call end to end (terminal to /dev/null plus a rolling file
// logger), beside a peer in the same run: an asynchronous logger writing the
// same lines to the terminal and to rotating files (1 MiB files, 3 kept). Pure asynchronous
// throughput from 1 and 4 threads, with CPU time per message; the caller's
// latency of an asynchronous call; and a synchronous error, which returns
// once every logger wrote it. Targets: our one-thread throughput at least the
// peer's, ahead with four; the synchronous error p50 <= 25 us. "--load" runs
// it beside two busy processes on the same cores.
#include "Log.h"
#include "VGFileLogger.h"
#include "VGLogFileManagerDefault.h"
#include "VGTTYLogger.h"
#include "competing_load.h"

#include <benchmark/benchmark.h>

#include <spdlog/async.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
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

std::shared_ptr<spdlog::logger> peer()
{
    static const auto logger = [] {
        install();
        spdlog::init_thread_pool(8192, 1);
        const spdlog::sinks_init_list sinks = {
            std::make_shared<spdlog::sinks::stderr_sink_mt>(),
            std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
                (logsFolder->path() + QStringLiteral("/peer/peer.log")).toStdString(), 1024 * 1024, 3)};
        return std::make_shared<spdlog::async_logger>("peer", sinks, spdlog::thread_pool(),
                                                      spdlog::async_overflow_policy::block);
    }();
    return logger;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

double processCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

const QString key = QStringLiteral("Groceries.md");
constexpr int PerThread = 50000;

// Messages per second from the first call until every line is written, and
// the process's CPU time per message.
void throughput(benchmark::State& state, const std::function<void()>& logOne, const std::function<void()>& flush)
{
    const int threads = int(state.range(0));
    double cpu = 0;
    for (auto _ : state) {
        const double cpuStart = processCpuSeconds();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                for (int i = 0; i < PerThread; ++i)
                    logOne();
            });
        for (auto& worker : workers)
            worker.join();
        flush();
        cpu += processCpuSeconds() - cpuStart;
    }
    const double messages = double(state.iterations()) * threads * PerThread;
    state.SetItemsProcessed(int64_t(messages));
    state.counters["cpu_ns_per_msg"] = cpu / messages * 1e9;
}

} // namespace

static void OursAsyncThroughput(benchmark::State& state)
{
    install();
    throughput(state, [] { LogInfo("note:open %1 failed.", key); }, [] { VGLog::flushLog(); });
}
BENCHMARK(OursAsyncThroughput)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

static void PeerAsyncThroughput(benchmark::State& state)
{
    const auto logger = peer();
    const std::string name = key.toStdString();
    throughput(state, [&] { logger->info("note:open {} failed.", name); }, [&] {
        // The peer's flush is queued behind the lines; its pool has one thread.
        logger->flush();
        while (spdlog::thread_pool()->queue_size() > 0)
            std::this_thread::yield();
    });
}
BENCHMARK(PeerAsyncThroughput)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

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

int main(int argc, char** argv)
{
    CompetingLoad::startFromArguments(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
