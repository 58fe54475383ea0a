// The editing session's autosave of a 100 KB note: the main thread only hands
// work to the file queue and never waits on the disk. Each iteration is one
// typed change and the autosave its timer fires; the figure that matters is
// the longest stretch the main thread spent in one go (a session call or one
// drain of the main queue) while the commit ran (target: at most 2 ms). The
// main thread runs an event loop between them, as the application's does, so
// it sleeps until a block comes. On a loaded machine the wall time includes
// preemption, so the longest CPU time the main thread spent in one such
// stretch is printed beside it, and how often the thread slept inside one
// (a wait on a lock, a queue or the disk) tells a wait from preemption.
#include "Core.h"
#include "Store/Note.h"
#include "Store/Warehouse.h"
#include "markdown_corpus.h"

#include "Dispatch.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include <sys/resource.h>
#include <time.h>

namespace {

constexpr qsizetype NoteBytes = 100 * 1024;
constexpr int Autosaves = 100;

// The longest stretch of main-thread work: wall time and the thread's CPU
// time; and the times the thread slept inside any stretch.
struct Longest {
    double wallMs = 0;
    double cpuMs = 0;
    long waits = 0;
};
Longest longestMainBlock;

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

long threadVoluntarySwitches()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// Times one stretch of main-thread work; true when it did something.
template <typename Work>
bool timeMainWork(Longest& longest, const Work& work)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuMs();
    const long switchesBefore = threadVoluntarySwitches();
    const bool didWork = work();
    if (didWork) {
        longest.waits += threadVoluntarySwitches() - switchesBefore;
        longest.cpuMs = std::max(longest.cpuMs, threadCpuMs() - cpuStart);
        longest.wallMs = std::max(longest.wallMs,
                                  std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return didWork;
}

class Editor : public WarehouseEditingDelegate {
public:
    QString text;

    bool warehouseReloadScrollPositionForNote(Warehouse&, const NotePtr& note) override
    {
        note->setScrollCaret(0);
        note->setSelectedCaret(text.size() / 2);
        return true;
    }
    bool warehouseReloadTextForNote(Warehouse&, const NotePtr& note) override
    {
        note->setText(text);
        return true;
    }
    bool warehouseShouldAutoSaveEditingNote(Warehouse&, const NotePtr&) override { return true; }
    bool warehouseUserIsEditingNote(Warehouse&, const NotePtr&) override { return false; }
    void warehouseRemoteServerDidUpdateEditingNote(Warehouse&, const NotePtr&, const QString&) override {}
    void warehouseRemoteServerDidDeleteEditingNote(Warehouse&, const NotePtr&) override {}
    void warehouseEditingNote(Warehouse&, const NotePtr&, int64_t) override {}
};

QString hundredKilobyteNote()
{
    QByteArray bytes = "Autosave benchmark note\n";
    for (const QByteArray& part : MarkdownCorpus::Generator(20261206).notes(NoteBytes)) {
        bytes += part;
        bytes += "\n#draft @editor\n";
    }
    return QString::fromUtf8(bytes.left(NoteBytes));
}

// Times every event the main thread handles while a stretch is being watched.
class TimingApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!watched)
            return QCoreApplication::notify(receiver, event);
        bool handled = false;
        timeMainWork(*watched, [&] {
            handled = QCoreApplication::notify(receiver, event);
            return true;
        });
        return handled;
    }
    Longest* watched = nullptr;
};

// Moves virtual time on another thread while the main thread runs its event
// loop, which drains the main queue whenever a block is posted to it.
void advanceTimingMainDrains(double seconds, Longest& longest)
{
    auto* app = static_cast<TimingApplication*>(QCoreApplication::instance());
    QEventLoop loop;
    std::thread clock([&] {
        DispatchTime::advance(seconds);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    app->watched = &longest;
    loop.exec();
    app->watched = nullptr;
    clock.join();
}

void autosaveOfHundredKilobyteNote(benchmark::State& state)
{
    auto editor = std::make_shared<Editor>();
    editor->text = hundredKilobyteNote();
    auto warehouse = Warehouse::create();
    warehouse->setEditingDelegate(editor);
    const auto note = std::make_shared<Note>();
    warehouse->startEditingNote(note, [] {});
    warehouse->addEditingChanges(1); // a note without a file is committed at once
    Dispatch::waitUntilIdle();
    if (note->key().isEmpty())
        state.SkipWithError("the note was not saved");

    Longest longest;
    int saves = 0;
    for (auto _ : state) {
        state.PauseTiming();
        editor->text[(saves * 997) % editor->text.size()] = QChar(u'a' + saves % 26);
        state.ResumeTiming();
        timeMainWork(longest, [&] {
            warehouse->addEditingChanges(1);
            return true;
        });
        advanceTimingMainDrains(Warehouse::AutoSaveDelay, longest);
        if (warehouse->editingChanges() != 0)
            state.SkipWithError("the autosave did not run");
        ++saves;
    }
    const QString saved = Note::newTextFromURL(QUrl::fromLocalFile(Note::documentFileForKey(note->key(), note->storage())));
    if (saved != editor->text)
        state.SkipWithError("the last autosave is not on disk");
    longestMainBlock = longest;
    state.counters["longest_main_block_ms"] = longest.wallMs;
    state.counters["longest_main_cpu_ms"] = longest.cpuMs;
    state.counters["main_waits"] = double(longest.waits);
    state.counters["note_kb"] = double(editor->text.toUtf8().size()) / 1024;
    state.SetBytesProcessed(state.iterations() * editor->text.toUtf8().size());
}

} // namespace

BENCHMARK(autosaveOfHundredKilobyteNote)->Iterations(Autosaves)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    // Every file of the run lives in a temporary home, settings included.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/brindlewick-bench-XXXXXX"));
    if (!home.isValid())
        return 2;
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_DOCUMENTS_DIR"})
        qputenv(variable, home.path().toLocal8Bit());
    TimingApplication app(argc, argv);
    Core::Configuration configuration;
    configuration.documentDirectory = home.filePath(QStringLiteral("Documents"));
    configuration.cachesDirectory = home.filePath(QStringLiteral("Caches"));
    Core::configure(configuration);
    Core::shared();
    DispatchTime::setVirtual(true);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("longest main-thread block during %d autosaves of a %lld KB note: %.3f ms wall "
                "(target: at most 2 ms); longest CPU time in one: %.3f ms; waits inside any: %ld\n",
                Autosaves, static_cast<long long>(NoteBytes / 1024), longestMainBlock.wallMs, longestMainBlock.cpuMs,
                longestMainBlock.waits);
    Dispatch::waitUntilIdle();
    return 0;
}
