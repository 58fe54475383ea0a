// The sync folder's incoming side over 5,000 notes of 2 KB: the first import
// of every document (target: at most 30 s), beside indexing the same notes
// from scratch; and a pass over the same documents once nothing changed
// (target: at most 100 ms), beside a bare listing of the folder. The import
// commits the notes waiting at each turn of the file queue (up to eight),
// each creating about seventeen files; the turn writes their texts ahead and
// flushes them side by side, then flushes their folder once while their
// search rows go to the database queue in one transaction. Then a
// 5 KB note's folder save, which follows every local commit (target: at most
// 5 ms p95 on top of it), beside that durable local commit. The import also
// prints the floor its durability sets on this disk: the same texts alone,
// written as the turns write them (eight at a time, each on the disk before
// it takes its name, then their folder), with nothing else of the store.
#include "bench_support.h"
#include "process_cpu.h"

#include "Cloud/FolderAppleCloud.h"
#include "OfflineCKCloud.h"
#include "Store/Note.h"

#include "Dispatch.h"
#include "drive/FolderQuery.h"
#include "files/AtomicFile.h"

#include <algorithm>
#include <future>

namespace {

constexpr int Notes = 5000;
constexpr qsizetype NoteBytes = 2 * 1024;

UserDefaults* driveDefaults = nullptr;

// One whole start of the query: the gathering pass and the passes after it.
void runQuery()
{
    auto cloud = std::make_shared<FolderAppleCloud>(std::make_shared<OfflineCKCloud>(), *driveDefaults);
    cloud->startQuery();
    Dispatch::waitUntilIdle();
    cloud->stopQuery();
    Dispatch::waitUntilIdle();
}

void writeDocuments(const QString& documents)
{
    const QByteArray text = syntheticNote(NoteBytes).toUtf8().left(NoteBytes);
    for (int i = 0; i < Notes; ++i) {
        QFile file(documents + QStringLiteral("/Inbox/Note %1.txt").arg(i));
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("Note %1\n").arg(i).toUtf8() + text);
    }
}

void reindexEverything()
{
    Core& core = Core::shared();
    core.dropDatabase();
    core.buildTagLinkAndIndexFiles(); // a batch queues the next one
    Dispatch::waitUntilIdle();
}

// The import's disk pattern without the store: per turn of eight, the texts
// ahead and flushed side by side, moved into place, their folder flushed.
void writeTextsDurably(const QString& documents, const QString& folder)
{
    const QStringList names = QDir(documents + QStringLiteral("/Inbox")).entryList(QDir::Files);
    for (qsizetype turn = 0; turn < names.size(); turn += 8) {
        const QStringList taking = names.mid(turn, 8);
        std::vector<QByteArray> texts;
        for (const QString& name : taking) {
            QFile file(documents + QStringLiteral("/Inbox/") + name);
            file.open(QIODevice::ReadOnly);
            texts.push_back(file.readAll());
        }
        AtomicFile::Prepared prepared;
        for (qsizetype i = 0; i < taking.size(); ++i)
            prepared.prepare(folder + QLatin1Char('/') + taking[i], texts[size_t(i)]);
        prepared.makeDurable();
        AtomicFile::FolderFlushes folders;
        folders.collect([&] {
            for (qsizetype i = 0; i < taking.size(); ++i)
                AtomicFile::create(folder + QLatin1Char('/') + taking[i], texts[size_t(i)], nullptr, true);
        });
    }
}

qsizetype localNotes()
{
    return QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).size();
}

double percentile95(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times.empty() ? 0 : times[size_t(double(times.size() - 1) * 0.95)];
}

// Saves one edited note after another, as commits do, each waited for.
void folderSaves(benchmark::State& state)
{
    auto cloud = std::make_shared<FolderAppleCloud>(std::make_shared<OfflineCKCloud>(), *driveDefaults);
    cloud->startQuery();
    Dispatch::waitUntilIdle();
    auto note = std::make_shared<Note>(QStringLiteral("Saved.txt"), NoteStorageInbox);
    const QString text = syntheticNote(5 * 1024);
    const QString local = Note::documentFileForKey(QStringLiteral("Peer.txt"), NoteStorageInbox);
    std::vector<double> ours, theirs;
    int edit = 0;
    for (auto _ : state) {
        note->setText(text + QString::number(++edit));
        const double ms = millisecondsOf([&] {
            std::promise<void> saved;
            cloud->commitNote(note, [&](const QDateTime&, const Error&) { saved.set_value(); });
            saved.get_future().wait();
        });
        theirs.push_back(millisecondsOf([&] { AtomicFile::write(local, note->text().toUtf8(), nullptr, true); }));
        ours.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    state.counters["ours_p95_ms"] = percentile95(ours);
    state.counters["localCommit_p95_ms"] = percentile95(theirs);
    cloud->stopQuery();
    Dispatch::waitUntilIdle();
}

void registerAll(QTemporaryDir& home)
{
    Core::shared(); // the note store's services
    static UserDefaults defaults(home.filePath(QStringLiteral("drive-defaults.ini")));
    driveDefaults = &defaults;
    const QString root = home.filePath(QStringLiteral("Sync"));
    QDir().mkpath(root);
    DriveContainer container(defaults);
    container.chooseFolder(root);
    const QString documents = container.documentsPath();
    writeDocuments(documents);

    const QString floorFolder = home.filePath(QStringLiteral("DurableTexts"));
    benchmark::RegisterBenchmark("FirstImport/5000x2KB", [documents, floorFolder](benchmark::State& state) {
        ProcessCpu cpu;
        const auto importTimed = [&cpu] {
            const ProcessCpu before = processCpu();
            runQuery();
            const ProcessCpu after = processCpu();
            cpu = {after.user - before.user, after.kernel - before.kernel};
        };
        timeAgainstPeer(state, "buildTagLinkAndIndexFiles", importTimed, reindexEverything);
        state.counters["imported"] = double(localNotes());
        // Where the wall time goes: CPU of all threads, and the kernel's share.
        state.counters["ours_cpu_s"] = cpu.total();
        state.counters["ours_kernel_cpu_s"] = cpu.kernel;
        QDir(floorFolder).removeRecursively();
        QDir().mkpath(floorFolder);
        const double floor = millisecondsOf([&] { writeTextsDurably(documents, floorFolder); });
        state.counters["durableTextsAlone_ms"] = floor;
        state.counters["ratioToDurableTexts"] = state.counters["ours_ms"] / floor;
    })->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("UnchangedPass/5000", [documents](benchmark::State& state) {
        if (localNotes() < Notes)
            runQuery(); // run on its own: the import comes first, untimed
        timeAgainstPeer(state, "folderListing", runQuery,
                        [documents] { benchmark::DoNotOptimize(FolderQuery::scan(documents).size()); });
        state.counters["imported"] = double(localNotes());
    })->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("FolderSave/5KB", folderSaves)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    return runWithOffscreenCore(argc, argv, registerAll, HomeAfterRun::Retired);
}
