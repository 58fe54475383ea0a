// The styling text storage and its Qt mirror per keystroke: 1,000 seeded single-unit inserts and
// deletes at spread-out places in notes of 10 KB, 100 KB and 1 MB, timed one by one (p50, p95, max).
// "Restyle" is the storage alone; "Keystroke" adds the mirror, layout and a repaint of a 1000×800
// view on the offscreen platform. "Open" styles a 1 MB note, mirrors it and paints the first screen
// (the median of five opens), and reports the resident memory the first note added.
#include "offscreen_main.h"
#include "TextView.h"
#include "demo/EditorLook.h"
#include "NoteText.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

constexpr int Edits = 1000;

double residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * 4096;
}

// Wall time, and the processor time of the whole process (all threads), which a busy machine
// inflates far less.
struct Times {
    double wall = 0;
    double cpu = 0;
};

double processCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

template <typename Work>
Times microseconds(Work&& work)
{
    const double cpu = processCpuMicroseconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    return {std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count(),
            processCpuMicroseconds() - cpu};
}

void report(benchmark::State& state, const std::vector<Times>& samples, const std::string& prefix = {})
{
    std::vector<double> wall, cpu;
    for (const Times& sample : samples) {
        wall.push_back(sample.wall);
        cpu.push_back(sample.cpu);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    state.counters[prefix + "p50_us"] = wall[wall.size() / 2];
    state.counters[prefix + "p95_us"] = wall[wall.size() * 95 / 100];
    state.counters[prefix + "max_us"] = wall.back();
    state.counters[prefix + "cpu_p95_us"] = cpu[cpu.size() * 95 / 100];
}

// Times its own restyle, apart from the change to the characters that set it off.
class TimedStorage : public MarkdownTextStorage {
public:
    std::vector<Times> restyles;

protected:
    void processEditing() override
    {
        restyles.push_back(microseconds([this] { MarkdownTextStorage::processEditing(); }));
    }
};

// One seeded edit: insert a letter or delete one unit somewhere in the note.
template <typename Edit>
std::vector<Times> timeEdits(MarkdownTextStorage& storage, quint32 seed, Edit&& around)
{
    QRandomGenerator random(seed);
    std::vector<Times> micros;
    micros.reserve(Edits);
    for (int i = 0; i < Edits; ++i) {
        const qsizetype at = random.bounded(int(storage.length()));
        const bool insert = random.bounded(2) == 0 || storage.length() == 0;
        micros.push_back(around(at, [&] {
            if (insert)
                storage.replaceCharacters({at, 0}, QStringLiteral("e"));
            else
                storage.replaceCharacters({at, 1}, QString());
        }));
    }
    return micros;
}

void Restyle(benchmark::State& state)
{
    for (auto _ : state) {
        TimedStorage storage;
        applyEditorLook(storage, 0, 16, 0);
        storage.replaceCharacters({0, 0}, note(state.range(0), 7));
        storage.restyles.clear();
        // With the change to the characters ("edit_") and the restyle alone.
        report(state, timeEdits(storage, 11, [](qsizetype, auto&& edit) { return microseconds(edit); }), "edit_");
        report(state, storage.restyles);
    }
}

void Keystroke(benchmark::State& state)
{
    for (auto _ : state) {
        MarkdownTextStorage storage;
        TextView view;
        applyEditorLook(storage, 0, 16, 0, &view);
        storage.replaceCharacters({0, 0}, note(state.range(0), 7));
        view.setTextStorage(&storage);
        view.resize(1000, 800);
        view.show();
        // Let the background layout finish, as it would while the note is read: showing the end of
        // the text lays out all of it.
        view.setSelectedRange({storage.length(), 0});
        view.ensureCursorVisible();
        QApplication::processEvents();
        report(state, timeEdits(storage, 11, [&](qsizetype at, auto&& edit) {
            // Bring the place into view first, as the caret would be there already.
            view.setSelectedRange({at, 0});
            view.ensureCursorVisible();
            QApplication::processEvents();
            return microseconds([&] {
                edit();
                // What the event loop does next: paint the parts of the window the edit made dirty.
                QCoreApplication::sendPostedEvents(view.window(), QEvent::UpdateRequest);
            });
        }));
    }
}

void Open(benchmark::State& state)
{
    // A single open is at the mercy of a busy machine: the median of a few is reported, and the
    // memory the first one added.
    constexpr int Opens = 5;
    for (auto _ : state) {
        const QString text = note(1 << 20, 7);
        std::vector<double> wall, cpu;
        for (int i = 0; i < Opens; ++i) {
            const double before = residentBytes();
            auto storage = std::make_unique<MarkdownTextStorage>();
            auto view = std::make_unique<TextView>();
            view->resize(1000, 800);
            view->show();
            QApplication::processEvents();
            const Times open = microseconds([&] {
                applyEditorLook(*storage, 0, 16, 0, view.get());
                storage->replaceCharacters({0, 0}, text);
                view->setTextStorage(storage.get());
                view->viewport()->repaint();
            });
            QApplication::processEvents();
            wall.push_back(open.wall / 1000);
            cpu.push_back(open.cpu / 1000);
            if (i == 0)
                state.counters["added_MB"] = (residentBytes() - before) / (1 << 20);
        }
        std::sort(wall.begin(), wall.end());
        std::sort(cpu.begin(), cpu.end());
        state.counters["open_ms"] = wall[Opens / 2];
        state.counters["open_max_ms"] = wall.back();
        state.counters["open_cpu_ms"] = cpu[Opens / 2];
    }
}

} // namespace

BENCHMARK(Restyle)->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Keystroke)->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Open)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return runOffscreen(argc, argv);
}
