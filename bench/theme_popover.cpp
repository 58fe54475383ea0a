// The theme popover from creation to its first paint, beside a plain-Qt panel of the same widgets;
// and its themed images from the cache, beside drawing them afresh. Target: first paint in < 50 ms.
#include "kit/Image.h"
#include "theme/ThemeViewController.h"

#include "Themes/Themeset.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

namespace {

// Ours: a new controller shown in a host of the popover's size and painted once.
void ShowToFirstPaint(benchmark::State& state)
{
    for (auto _ : state) {
        QWidget host;
        host.setFixedSize(ThemeViewController::ContentSize);
        ThemeViewController controller;
        controller.view()->setParent(&host);
        host.show();
        benchmark::DoNotOptimize(host.grab());
    }
}

// Peer: the same widgets laid out by plain Qt: two stacked pages of four icon buttons, two radio
// dots, the sample, its name and the size buttons.
void ShowToFirstPaintPlainQt(benchmark::State& state)
{
    const QPixmap circle = Image::named(QStringLiteral("white-circle"));
    for (auto _ : state) {
        QWidget host;
        host.setFixedSize(ThemeViewController::ContentSize);
        auto* column = new QVBoxLayout(&host);
        auto* pages = new QStackedWidget;
        for (int p = 0; p < 2; ++p) {
            auto* page = new QWidget;
            auto* row = new QHBoxLayout(page);
            for (int i = 0; i < 4; ++i) {
                auto* button = new QPushButton;
                button->setIcon(circle);
                row->addWidget(button);
            }
            pages->addWidget(page);
        }
        column->addWidget(pages);
        auto* dots = new QHBoxLayout;
        dots->addWidget(new QRadioButton);
        dots->addWidget(new QRadioButton);
        column->addLayout(dots);
        auto* sample = new QHBoxLayout;
        sample->addWidget(new QPushButton(QStringLiteral("Aa")));
        sample->addWidget(new QLabel(QStringLiteral("Avenir Next")));
        column->addLayout(sample);
        auto* sizes = new QHBoxLayout;
        sizes->addWidget(new QPushButton(QStringLiteral("A")));
        sizes->addWidget(new QPushButton(QStringLiteral("A")));
        column->addLayout(sizes);
        host.show();
        benchmark::DoNotOptimize(host.grab());
    }
}

// The five themed images of every theme, as the popover asks for them.
const QStringList& themedNames()
{
    static const QStringList names = [] {
        QStringList all;
        for (int64_t i = 0; i < Themeset::numberOfThemes(); ++i)
            for (const char* suffix : {"-circle", "-circle-selected", "-right", "-left", "-tick"})
                all.append(Themeset::resourceNameForTheme(Themeset::themeAtIndex(i)) + QLatin1String(suffix));
        return all;
    }();
    return names;
}

void ThemedImagesCached(benchmark::State& state)
{
    for (auto _ : state)
        for (const QString& name : themedNames())
            benchmark::DoNotOptimize(Image::named(name));
    state.counters["images"] = double(themedNames().size());
}

// Each iteration asks at a pixel ratio never asked before, so every image is drawn anew.
void ThemedImagesUncached(benchmark::State& state)
{
    double ratio = 1.0;
    for (auto _ : state) {
        ratio += 1.0 / 1024;
        for (const QString& name : themedNames())
            benchmark::DoNotOptimize(Image::named(name, ratio));
    }
    state.counters["images"] = double(themedNames().size());
}

} // namespace

BENCHMARK(ShowToFirstPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(ShowToFirstPaintPlainQt)->Unit(benchmark::kMillisecond);
BENCHMARK(ThemedImagesCached)->Unit(benchmark::kMicrosecond);
// Bounded: every iteration adds its images to the cache.
BENCHMARK(ThemedImagesUncached)->Unit(benchmark::kMicrosecond)->Iterations(200);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Core reads its settings from a home of its own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
