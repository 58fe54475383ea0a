// The logging call end to end (terminal to /dev/null plus a rolling file
// logger), beside a peer in the same run: an asynchronous logger writing the
// same lines to the terminal and to rotating files (1 MiB files, 3 kept). Pure asynchronous
// throughput from 1 and 4 threads, with CPU time per message; the caller's
// latency of an asynchronous call; and a synchronous error, which returns
// once every logger wrote it. Targets: our one-thread throughput at least the
// peer's, ahead with four; the synchronous error p50 <= 25 us. Beside a slow
// logger (1 ms a message, a disk or a lock that keeps it waiting), the time until
// another logger has the message, against the peer's sinks. "--load" runs it
// beside two busy processes on the same cores.
#include "Log.h"
#include "VGAbstractLogger.h"
#include "VGFileLogger.h"
#include "VGLogFileManagerDefault.h"
#include "VGTTYLogger.h"
#include "competing_load.h"
#include "process_cpu.h"

#include <benchmark/benchmark.h>

#include <spdlog/async.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
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
    logsFolder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/bench_logging-XXXXXX"));
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

// The loggers and the peer write into the folder until they are gone.
void removeLogsFolder()
{
    if (!logsFolder)
        return;
    VGLog::removeAllLoggers();
    VGLog::flushLog();
    spdlog::shutdown();
    delete std::exchange(logsFolder, nullptr);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
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

namespace {

constexpr auto SlowWrite = std::chrono::milliseconds(1);

// The moment a message last reached the fast logger or sink.
std::atomic<int64_t> receivedAt {0};

int64_t nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class SlowLogger : public VGAbstractLogger {
public:
    SlowLogger() : VGAbstractLogger(QStringLiteral("bench.slow")) {}
    void logMessage(const VGLogMessage&) override { std::this_thread::sleep_for(SlowWrite); }
};

class ProbeLogger : public VGAbstractLogger {
public:
    ProbeLogger() : VGAbstractLogger(QStringLiteral("bench.probe")) {}
    void logMessage(const VGLogMessage&) override { receivedAt.store(nowNanoseconds(), std::memory_order_release); }
};

class SlowSink : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg&) override { std::this_thread::sleep_for(SlowWrite); }
    void flush_() override {}
};

class ProbeSink : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg&) override
    {
        receivedAt.store(nowNanoseconds(), std::memory_order_release);
    }
    void flush_() override {}
};

// Microseconds from the call until the fast one has the message; the slow one
// finishes before the next call, outside the timing.
void besideASlowOne(benchmark::State& state, const std::function<void()>& logOne, const std::function<void()>& flush)
{
    std::vector<double> samples;
    for (auto _ : state) {
        receivedAt.store(0, std::memory_order_relaxed);
        const int64_t start = nowNanoseconds();
        logOne();
        int64_t received = 0;
        while ((received = receivedAt.load(std::memory_order_acquire)) == 0)
            std::this_thread::yield();
        samples.push_back(double(received - start) / 1000.0);
        state.PauseTiming();
        flush();
        state.ResumeTiming();
    }
    state.counters["p50_us"] = percentile(samples, 0.5);
    state.counters["p99_us"] = percentile(samples, 0.99);
}

} // namespace

static void OursBesideASlowLogger(benchmark::State& state)
{
    install();
    const auto slow = std::make_shared<SlowLogger>();
    const auto probe = std::make_shared<ProbeLogger>();
    VGLog::addLogger(slow);
    VGLog::addLogger(probe);
    besideASlowOne(state, [] { LogInfo("note:open %1 failed.", key); }, [] { VGLog::flushLog(); });
    VGLog::removeLogger(slow);
    VGLog::removeLogger(probe);
    VGLog::flushLog();
}
BENCHMARK(OursBesideASlowLogger)->Iterations(500)->UseRealTime();

static void PeerBesideASlowSink(benchmark::State& state)
{
    peer(); // the thread pool, one thread
    const spdlog::sinks_init_list sinks = {std::make_shared<SlowSink>(), std::make_shared<ProbeSink>()};
    const auto logger = std::make_shared<spdlog::async_logger>("peer.slow", sinks, spdlog::thread_pool(),
                                                               spdlog::async_overflow_policy::block);
    const std::string name = key.toStdString();
    besideASlowOne(state, [&] { logger->info("note:open {} failed.", name); }, [&] {
        logger->flush();
        while (spdlog::thread_pool()->queue_size() > 0)
            std::this_thread::yield();
    });
}
BENCHMARK(PeerBesideASlowSink)->Iterations(500)->UseRealTime();

int main(int argc, char** argv)
{
    CompetingLoad::startFromArguments(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeLogsFolder();
    return 0;
}
