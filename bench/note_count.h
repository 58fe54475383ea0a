#pragma once

// What the store benchmarks share: the note count of a run, given as the
// first argument (1000, 10000, 50000; 10,000 without one), and a store folder
// kept between runs, on a memory file system when there is one, so that a
// large store is seeded once.
#include "competing_load.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QString>

#include <cstdlib>
#include <functional>

namespace NoteCount {

// Takes the count out of the arguments, so the benchmark library sees its own only.
inline int fromArguments(int& argc, char** argv)
{
    if (argc < 2 || argv[1][0] < '0' || argv[1][0] > '9')
        return 10000;
    const int count = std::atoi(argv[1]);
    for (int i = 1; i + 1 < argc; ++i)
        argv[i] = argv[i + 1];
    --argc;
    return count > 0 ? count : 10000;
}

inline QString storeFolder(const char* bench, int notes)
{
    const QString root = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return QStringLiteral("%1/brindlewick-bench-%2-%3").arg(root, QLatin1String(bench)).arg(notes);
}

// Registers the benchmarks for the count, then runs them; "--load" anywhere
// runs them beside the competing processes.
inline int run(int argc, char** argv, const std::function<void(int notes)>& registerAll)
{
    CompetingLoad::startFromArguments(argc, argv);
    registerAll(fromArguments(argc, argv));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace NoteCount
