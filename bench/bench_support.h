#pragma once

#include "Core.h"
#include "UserDefaults.h"
#include "markdown_corpus.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

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

// An ext4 file system without a journal (this machine's) passes over every
// inode freed in the last minutes each time it makes a file, so a run soon
// after deleting an earlier run's tens of thousands of files spends most of
// its time in the kernel on them: a cost no user's import or start meets.
// Such files are moved into this folder instead and never deleted by a
// benchmark; whoever runs them deletes it when done, some minutes before any
// further run. It is on the temporary folder's file system, so moves are renames.
inline QString retiredFolder()
{
    return QDir::tempPath() + QStringLiteral("/brindlewick-bench-retired");
}

// Moves folder aside into retiredFolder(), saying where the first time.
inline bool retire(const QString& folder)
{
    static int retired = 0;
    static bool told = false;
    QDir().mkpath(retiredFolder());
    const QString to = retiredFolder()
                       + QStringLiteral("/%1-%2-%3")
                             .arg(QCoreApplication::applicationName())
                             .arg(QCoreApplication::applicationPid())
                             .arg(++retired);
    if (!QDir().rename(folder, to))
        return false;
    if (!std::exchange(told, true))
        std::fprintf(stderr, "files of this run are moved to %s; delete it when done, not just before a run\n",
                     qPrintable(retiredFolder()));
    return true;
}

// The process around a benchmark program that needs the settings: an offscreen application and the
// shared Core on a temporary home, then the benchmarks the callback registers. A home of many files
// is retired rather than deleted at the end.
enum class HomeAfterRun { Removed, Retired };
inline int runWithOffscreenCore(int argc, char** argv, const std::function<void(QTemporaryDir& home)>& registerAll,
                                HomeAfterRun after = HomeAfterRun::Removed)
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
    if (after == HomeAfterRun::Retired)
        home.setAutoRemove(!retire(home.path()));
    return 0;
}
