// The note store's write side on a seeded store of notes of about 2 KB
// carrying 1,000 different tags; the note count comes from the command line
// (1000, 10000, 50000) and names every figure:
// - the start-up rebuild of every note, none indexed yet, with its CPU
//   seconds, the growth of resident memory while it runs and the caches' size
//   on disk beside the notes' (targets: 4 s at 10,000, 12 s at 50,000; caches
//   at most 3 times the notes), beside the peer: the same files put into a
//   plain full-text table in one transaction;
// - a warm start: the same rebuild once everything is indexed, each marker
//   checked against its text file's size and time, beside the earlier check
//   that only looked for the marker's name; and the start-up tidy after it;
// - committing a 5 KB note (text, meta, header, tag links, search row, index
//   marker), p50 and p95 over repeated commits;
// - committing a new note, its file name included (target: p95 <= 10 ms),
//   and the first such commit after the start-up rebuild;
// - the search-row write alone, found through the key index beside the table
//   and written by row id, against the plain "UPDATE ... WHERE key=?" that
//   reads the whole table.
// The store lies on a memory file system when there is one (/dev/shm), so the
// figures leave out the text file's own flush to disk.
#include "Core.h"
#include "Store/NoteIndexRebuild.h"
#include "Store/NoteStoreTidy.h"
#include "Store/Note.h"
#include "Store/NoteSearchRow.h"

#include "SLDatabase.h"

#include "Clock.h"
#include "note_count.h"
#include "process_cpu.h"

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
#include <ftw.h>

namespace {

int SeededNotes = 10000;
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

// p50 and p95 in milliseconds.
void reportTimes(benchmark::State& state, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    state.counters["p50_ms"] = times[times.size() / 2];
    state.counters["p95_ms"] = times[std::min(times.size() - 1, times.size() * 95 / 100)];
}

// The peer: the same files read and put into a plain full-text table of the
// same columns in one transaction, with nothing else written.
double peerRebuildSeconds()
{
    QTemporaryDir folder;
    const auto db = SLDatabase::databaseWithPath(folder.filePath(QStringLiteral("peer.sqlite")));
    if (!db->open())
        return 0;
    const auto start = Clocked::now();
    db->executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE notes USING fts4(key, title, content, folder, hashtag, "
                                     "mention, tokenize=unicode61)"));
    db->beginTransaction();
    const QDir home(Note::documentDirectoryForStorage(NoteStorageInbox));
    for (const QString& name : home.entryList(QDir::Files)) {
        QFile file(home.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        db->executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder) VALUES(?, ?, ?, 'inbox')"),
                          name, text.section(QLatin1Char('\n'), 0, 0), text);
    }
    db->commit();
    const double elapsed = seconds(start);
    db->close();
    return elapsed;
}

// Megabytes on disk under a folder (whole blocks, as du counts them).
double diskMB(const QString& folder)
{
    static double bytes;
    bytes = 0;
    nftw(QFile::encodeName(folder).constData(),
         [](const char*, const struct stat* info, int, FTW*) {
             bytes += double(info->st_blocks) * 512;
             return 0;
         },
         16, FTW_PHYS);
    return bytes / (1024 * 1024);
}

// The caches beside the notes they were made from (target: at most 3 times).
void reportCacheSizes(benchmark::State& state)
{
    const QString caches = Core::shared().cachesDirectory();
    const double notes = diskMB(Note::documentDirectoryForStorage(NoteStorageInbox));
    double total = 0;
    for (const char* folder : {"Head", "Meta", "Index", "Link"}) {
        const double mb = diskMB(caches + QLatin1Char('/') + QLatin1String(folder));
        state.counters[QString::fromLatin1(folder).toLower().append(QStringLiteral("_MB")).toStdString()] = mb;
        total += mb;
    }
    double database = 0;
    for (const char* file : {"search", "search-side"}) {
        const QString path = caches + QLatin1Char('/') + QLatin1String(file) + QStringLiteral(".sqlite");
        database += diskMB(path) + diskMB(path + QStringLiteral("-wal"));
    }
    state.counters["database_MB"] = database;
    state.counters["notes_MB"] = notes;
    state.counters["caches_to_notes"] = notes > 0 ? (total + database) / notes : 0;
}

void Rebuild(benchmark::State& state)
{
    store();
    for (auto _ : state) {
        const double before = statusKB("VmRSS");
        resetPeakMemory();
        const double cpuBefore = processCpuSeconds();
        const auto start = Clocked::now();
        rebuild();
        state.SetIterationTime(seconds(start));
        state.counters["cpu_s"] = processCpuSeconds() - cpuBefore;
        state.counters["rss_growth_MB"] = (statusKB("VmHWM") - before) / 1024;
    }
    state.counters["peer_fts4_s"] = peerRebuildSeconds();
    const int indexed = int(QDir(Note::indexDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files).size());
    state.counters["notes_indexed"] = indexed;
    reportCacheSizes(state);
    if (indexed != SeededNotes)
        state.SkipWithError("not every note was indexed");
}

void WarmStart(benchmark::State& state)
{
    store();
    for (auto _ : state)
        rebuild();
}

// A commit on the file queue, as the editing session makes it; milliseconds.
double timedCommit(benchmark::State& state, const NotePtr& note)
{
    const auto start = Clocked::now();
    bool ok = false;
    Core::shared().fileQueue()->sync([&] { note->commitNote([&](bool done) { ok = done; }); });
    if (!ok)
        state.SkipWithError("commit failed");
    return seconds(start) * 1000;
}

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

// The tidy after the rebuild: save temporaries in the note folders and the
// caches' tree, old purged notes, rows whose file is gone.
void StartUpTidy(benchmark::State& state)
{
    store();
    rebuild();
    for (auto _ : state)
        Core::shared().fileQueue()->sync([] { NoteStoreTidy::atStart(); });
}

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
        times.push_back(timedCommit(state, note));
    }
    reportTimes(state, times);
}

// A note the user just wrote: its name is found in the full folder first.
void NewNoteCommit(benchmark::State& state)
{
    store();
    static int round = 0;
    std::vector<double> times;
    for (auto _ : state) {
        auto note = std::make_shared<Note>();
        ++round;
        note->setText(QStringLiteral("Meeting with the design team %1\n").arg(round) +
                      QString::fromUtf8(noteText(round, 2048)));
        times.push_back(timedCommit(state, note));
    }
    // The first includes the folder's listing unless the start-up rebuild made it.
    state.counters["first_ms"] = times.front();
    reportTimes(state, times);
}

// p50 and p95 of one row write for an existing key, in milliseconds.
template <typename Write>
void rowWrites(benchmark::State& state, Write write)
{
    store();
    const int n = SeededNotes / 2;
    const NoteSearchRow row(NoteStorageInbox, QStringLiteral("Seeded note number %1.txt").arg(n),
                            QStringLiteral("Seeded note number %1").arg(n), QString::fromUtf8(noteText(n, 5120)),
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
    reportTimes(state, times);
}

void RowWriteByRowId(benchmark::State& state)
{
    rowWrites(state, [](SLDatabase& db, const NoteSearchRow& row) { return row.write(db); });
}

void RowWriteWhereKeyReference(benchmark::State& state)
{
    rowWrites(state, [](SLDatabase& db, const NoteSearchRow& row) {
        return db.executeUpdate(
                   QStringLiteral("UPDATE notes SET title=?, content=?, folder=?, hashtag=?, mention=? WHERE key=?"),
                   row.title, row.content, row.folder, row.hashtag, row.mention, row.key)
               && db.changes() == 1;
    });
}

} // namespace

int main(int argc, char** argv)
{
    return NoteCount::run(argc, argv, [](int notes) {
        SeededNotes = notes;
        const auto name = [notes](const char* what) { return QStringLiteral("%1/%2").arg(QLatin1String(what)).arg(notes).toStdString(); };
        benchmark::RegisterBenchmark(name("Rebuild").c_str(), Rebuild)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("WarmStart").c_str(), WarmStart)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("WarmStartNameOnlyReference").c_str(), WarmStartNameOnlyReference)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("StartUpTidy").c_str(), StartUpTidy)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("Commit").c_str(), Commit)->Iterations(300)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("NewNoteCommit").c_str(), NewNoteCommit)
            ->Iterations(300)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("RowWriteByRowId").c_str(), RowWriteByRowId)
            ->Iterations(200)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("RowWriteWhereKeyReference").c_str(), RowWriteWhereKeyReference)
            ->Iterations(50)
            ->Unit(benchmark::kMillisecond);
    });
}
