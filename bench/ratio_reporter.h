#pragma once

// Shared by the benchmarks that print a ratio against a peer: each benchmark
// runs ten repetitions, interleaved with the others so a burst of load
// elsewhere hits both sides, and the fastest of each is kept.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Keeps the fastest repetition of each benchmark for the ratios printed at the
// end: on a busy machine the minimum is the figure least disturbed by others.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::pair<double, double>> fastest; // real, CPU

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
                fastest[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Ten repetitions in milliseconds, reporting their aggregates and the minimum.
inline benchmark::internal::Benchmark* registerFastestOfTen(const char* name, void (*function)(benchmark::State&))
{
    return benchmark::RegisterBenchmark(name, function)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(10)
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ReportAggregatesOnly(true);
}

// Runs the registered benchmarks interleaved, reporting to the reporter.
inline void runInterleaved(int argc, char** argv, RatioReporter& reporter)
{
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks(&reporter);
}
