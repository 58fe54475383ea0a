// The note store's write side on a seeded store of 10,000 notes of about 2 KB
// carrying 1,000 different tags:
// - the start-up rebuild of all 10,000 notes, none indexed yet, with the
//   growth of resident memory while it runs;
// - a warm start: the same rebuild once everything is indexed, each marker
//   checked against its text file's size and time, beside the earlier check
//   that only looked for the marker's name; and the start-up tidy after it;
// - committing a 5 KB note (name, text, meta, header, tag links, search row,
//   index marker), p50 and p95 over repeated commits;
// - the search-row write alone in the 10,000-row table, found through the
//   key's full-text index and written by row id, against the plain
//   "UPDATE ... WHERE key=?" that reads the whole table.
// The store lies on a memory file system when there is one (/dev/shm), so the
// figures leave out the text file's own flush to disk.
#include "Core.h"
#include "Store/NoteIndexRebuild.h"
#include "Store/NoteStoreTidy.h"
#include "Store/Note.h"
#include "Store/NoteSearchRow.h"

#include "SLDatabase.h"

#include "Clock.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <vector>

#include <dirent.h>

namespace {

constexpr int SeededNotes = 10000;
constexpr int Tags = 1000;
using Clocked = std::chrono::steady_clock;

double seconds(Clocked::time_point start)
{
    return std::chrono::duration<double>(Clocked::now() - start).count();
}

// Kilobytes of one line of /proc/self/status ("VmRSS", "VmHWM").
double statusKB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').first().toDouble();
    }
    return 0;
}

// Makes the peak resident size start again from the current one.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QByteArray noteText(int i, int bytes)
{
    QByteArray text = "Seeded note number " + QByteArray::number(i) + "\n";
    text += "#tag" + QByteArray::number(i % Tags) + " #tag" + QByteArray::number((i * 7 + 3) % Tags) + " @person"
            + QByteArray::number(i % 97) + "\n";
    const QByteArray line = "- [ ] a task line with **bold** words, (brackets) and a link [here](https://example.org)\n";
    while (text.size() < bytes)
        text += line;
    return text;
}

struct Store {
    QTemporaryDir dir;

    Store() : dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/brindlewick-bench-XXXXXX")
                                                           : QDir::tempPath() + QStringLiteral("/brindlewick-bench-XXXXXX"))
    {
        Core::Configuration configuration;
        configuration.documentDirectory = dir.filePath(QStringLiteral("Documents"));
        configuration.cachesDirectory = dir.filePath(QStringLiteral("Caches/V5"));
        Core::configure(configuration);
        Core::shared().setEnabledAppleCloud(false);
        const QString home = Note::documentDirectoryForStorage(NoteStorageInbox);
        QDir().mkpath(home);
        for (int i = 0; i < SeededNotes; ++i) {
            QFile file(home + QStringLiteral("/Seeded note number %1.txt").arg(i));
            if (file.open(QIODevice::WriteOnly))
                file.write(noteText(i, 2048));
        }
    }
};

Store& store()
{
    static Store s;
    return s;
}

// The index rebuild alone; the tidy that follows it is measured apart.
void rebuild()
{
    Core::shared().fileQueue()->sync([] {
        NoteIndexRebuild run;
        while (run.step()) {
        }
    });
}

void Rebuild(benchmark::State& state)
{
    store();
    for (auto _ : state) {
        const double before = statusKB("VmRSS");
        resetPeakMemory();
        const auto start = Clocked::now();
        rebuild();
        state.SetIterationTime(seconds(start));
        state.counters["rss_growth_MB"] = (statusKB("VmHWM") - before) / 1024;
    }
    const int indexed = int(QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).size());
    state.counters["notes_indexed"] = indexed;
    if (indexed != SeededNotes)
        state.SkipWithError("not every note was indexed");
}
BENCHMARK(Rebuild)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void WarmStart(benchmark::State& state)
{
    store();
    for (auto _ : state)
        rebuild();
}
BENCHMARK(WarmStart)->Unit(benchmark::kMillisecond);

QStringList names(const QString& folder)
{
    QStringList list;
    if (DIR* dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent* entry = ::readdir(dir))
            list.append(QFile::decodeName(entry->d_name));
        ::closedir(dir);
    }
    return list;
}

// The earlier warm start: both listings and a look-up of each name.
void WarmStartNameOnlyReference(benchmark::State& state)
{
    store();
    for (auto _ : state) {
        Core::shared().fileQueue()->sync([] {
            const QStringList notes = names(Note::documentDirectoryForStorage(NoteStorageInbox));
            const QStringList markers = names(Note::indexDirectoryForStorage(NoteStorageInbox));
            const QSet<QString> indexed(markers.cbegin(), markers.cend());
            int unindexed = 0;
            for (const QString& name : notes)
                unindexed += !name.startsWith(QLatin1Char('.')) && !indexed.contains(name);
            benchmark::DoNotOptimize(unindexed);
        });
    }
}
BENCHMARK(WarmStartNameOnlyReference)->Unit(benchmark::kMillisecond);

// The tidy after the rebuild: save temporaries in the note folders and the
// caches' tree, old purged notes, rows whose file is gone.
void StartUpTidy(benchmark::State& state)
{
    store();
    rebuild();
    for (auto _ : state)
        Core::shared().fileQueue()->sync([] { NoteStoreTidy::atStart(); });
}
BENCHMARK(StartUpTidy)->Unit(benchmark::kMillisecond);

void Commit(benchmark::State& state)
{
    store();
    auto note = std::make_shared<Note>();
    std::vector<double> times;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        note->setText(QString::fromUtf8(noteText(SeededNotes + round % 50, 5120)) + QString::number(round));
        note->setUpdatedOn(Clock::now());
        ++round;
        state.ResumeTiming();
        const auto start = Clocked::now();
        bool ok = false;
        Core::shared().fileQueue()->sync([&] { note->commitNote([&](bool done) { ok = done; }); });
        times.push_back(seconds(start) * 1000);
        if (!ok)
            state.SkipWithError("commit failed");
    }
    std::sort(times.begin(), times.end());
    state.counters["p50_ms"] = times[times.size() / 2];
    state.counters["p95_ms"] = times[std::min(times.size() - 1, times.size() * 95 / 100)];
}
BENCHMARK(Commit)->Iterations(300)->Unit(benchmark::kMillisecond);

// p50 and p95 of one row write for an existing key, in milliseconds.
template <typename Write>
void rowWrites(benchmark::State& state, Write write)
{
    store();
    const NoteSearchRow row(NoteStorageInbox, QStringLiteral("Seeded note number 4242.txt"),
                            QStringLiteral("Seeded note number 4242"), QString::fromUtf8(noteText(4242, 5120)),
                            {QStringLiteral("tag242")}, {QStringLiteral("person69")});
    std::vector<double> times;
    for (auto _ : state) {
        bool ok = false;
        const auto start = Clocked::now();
        Core::shared().syncDatabase([&](SLDatabase& db) { ok = write(db, row); });
        times.push_back(seconds(start) * 1000);
        if (!ok)
            state.SkipWithError("row write failed");
    }
    std::sort(times.begin(), times.end());
    state.counters["p50_ms"] = times[times.size() / 2];
    state.counters["p95_ms"] = times[std::min(times.size() - 1, times.size() * 95 / 100)];
}

void RowWriteByRowId(benchmark::State& state)
{
    rowWrites(state, [](SLDatabase& db, const NoteSearchRow& row) { return row.write(db); });
}
BENCHMARK(RowWriteByRowId)->Iterations(200)->Unit(benchmark::kMillisecond);

void RowWriteWhereKeyReference(benchmark::State& state)
{
    rowWrites(state, [](SLDatabase& db, const NoteSearchRow& row) {
        return db.executeUpdate(
                   QStringLiteral("UPDATE notes SET title=?, content=?, folder=?, hashtag=?, mention=? WHERE key=?"),
                   row.title, row.content, row.folder, row.hashtag, row.mention, row.key)
               && db.changes() == 1;
    });
}
BENCHMARK(RowWriteWhereKeyReference)->Iterations(50)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
