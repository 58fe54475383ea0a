#pragma once

#include <QApplication>
#include <benchmark/benchmark.h>

// The process around a benchmark program of widgets: an offscreen application, then every registered benchmark.
inline int runOffscreen(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
