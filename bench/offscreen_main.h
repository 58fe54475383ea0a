#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

// Paints the widget as a screen would, into an image nobody looks at.
inline void paint(QWidget* viewport)
{
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    viewport->render(&image);
    benchmark::DoNotOptimize(image.constBits());
}

inline double secondsPerIteration(const benchmark::State& state, const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e9 / double(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

// The value below which the fraction p of the values lie (0.95 for the p95).
inline double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

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
