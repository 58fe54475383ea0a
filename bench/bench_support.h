#pragma once

#include "Core.h"
#include "UserDefaults.h"
#include "markdown_corpus.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

// Notes of the synthetic corpus joined into one text of about that many bytes.
inline QString syntheticNote(qsizetype bytes)
{
    QByteArray text;
    for (const QByteArray& note : MarkdownCorpus::Generator(20261206).notes(bytes))
        text += note + '\n';
    return QString::fromUtf8(text);
}

// This process's resident memory in MB.
inline double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

inline double millisecondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Times our work as the iteration time and a peer's same work beside it: counters "ours_ms",
// "<peer>_ms" and "ratio" (ours over the peer's).
inline void timeAgainstPeer(benchmark::State& state, const char* peer, const std::function<void()>& ours,
                            const std::function<void()>& theirs)
{
    double oursTotal = 0, theirsTotal = 0;
    for (auto _ : state) {
        const double ms = millisecondsOf(ours);
        theirsTotal += millisecondsOf(theirs);
        oursTotal += ms;
        state.SetIterationTime(ms / 1000);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = oursTotal / n;
    state.counters[std::string(peer) + "_ms"] = theirsTotal / n;
    state.counters["ratio"] = oursTotal / theirsTotal;
}

// The process around a benchmark program that needs the settings: an offscreen application and the
// shared Core on a temporary home, then the benchmarks the callback registers.
inline int runWithOffscreenCore(int argc, char** argv, const std::function<void(QTemporaryDir& home)>& registerAll)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    UserDefaults defaults(home.filePath(QStringLiteral("defaults.ini")));
    Core::Configuration configuration;
    configuration.documentDirectory = home.filePath(QStringLiteral("Documents"));
    configuration.cachesDirectory = home.filePath(QStringLiteral("Caches"));
    configuration.defaults = &defaults;
    Core::configure(configuration);

    benchmark::Initialize(&argc, argv);
    registerAll(home);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
