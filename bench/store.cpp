// The note store's own work, timed on realistic sizes:
// - finding a new file name in a folder of as many notes as the command line
//   gives (1000, 10000, 50000), where the title and its first variants are
//   taken: the folder's listing, which the start-up rebuild makes before any
//   note is named, then each search on the cached names, the first included
//   (target: <= 1 ms at 50,000);
// - deriving the title, summary, hashtags and mentions of a 1 MB note.
#include "Store/FolderNameCache.h"
#include "Store/Note.h"
#include "markdown_corpus.h"
#include "note_count.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>

namespace {

int FolderNotes = 10000;

// Kept between runs of the same size.
struct NoteFolder {
    QDir dir{NoteCount::storeFolder("names", FolderNotes)};

    NoteFolder()
    {
        if (dir.exists() && int(dir.count()) - 2 == FolderNotes)
            return;
        dir.removeRecursively();
        dir.mkpath(dir.path());
        const QString names[] = {QStringLiteral("Meeting notes %1.txt"), QStringLiteral("Café 東京 plan %1.txt"),
                                 QStringLiteral("Untitled Note 2024-03-15 at 09-30-%1 CET.txt"),
                                 QStringLiteral("Shopping list %1.txt")};
        for (int i = 0; i < FolderNotes - 6; ++i)
            touch(names[i % 4].arg(i));
        // The title's own name and its first variants are taken, in other cases.
        touch(QStringLiteral("weekly PLAN review.txt"));
        for (int n = 2; n <= 6; ++n)
            touch(QStringLiteral("Weekly plan REVIEW %1.txt").arg(n));
    }

    void touch(const QString& name) { QFile(dir.filePath(name)).open(QIODevice::WriteOnly); }
};

NoteFolder& noteFolder()
{
    static NoteFolder instance;
    return instance;
}

// The listing the start-up rebuild makes for the name cache.
void folderListingAtStartUp(benchmark::State& state)
{
    const NoteFolder& folder = noteFolder();
    for (auto _ : state)
        FolderNameCache::shared().prepare(folder.dir.path());
}

// Every search after the listing uses the folder's cached names.
void findUnusedReadableFileName(benchmark::State& state)
{
    const NoteFolder& folder = noteFolder();
    Note note;
    note.setText(QStringLiteral("Weekly plan review\nagenda"));
    QString name;
    for (auto _ : state) {
        name = note.findUnusedReadableFileNameForDirectory(folder.dir.path());
        benchmark::DoNotOptimize(name);
    }
    if (name != QStringLiteral("Weekly plan review 7.txt"))
        state.SkipWithError("unexpected name");
    state.counters["entries"] = double(QDir(folder.dir.path()).count() - 2);
}

QString megabyteNote()
{
    QByteArray bytes;
    for (const QByteArray& part : MarkdownCorpus::Generator(20261206).notes(1024 * 1024)) {
        bytes += part;
        bytes += "\n#project @team\n";
    }
    return QString::fromUtf8(bytes.left(1024 * 1024));
}

void titleAndTagsOfMegabyteNote(benchmark::State& state)
{
    static const QString text = megabyteNote();
    Note note;
    note.setText(text);
    qsizetype tags = 0;
    for (auto _ : state) {
        note._reloadHeader();
        QStringList hashtags;
        QStringList mentions;
        Note::fillHashtags(&hashtags, &mentions, note.text(), true);
        tags = hashtags.size() + mentions.size();
        benchmark::DoNotOptimize(tags);
    }
    state.counters["tags"] = double(tags);
    state.SetBytesProcessed(state.iterations() * text.toUtf8().size());
}

void titleOfMegabyteNote(benchmark::State& state)
{
    static const QString text = megabyteNote();
    Note note;
    note.setText(text);
    for (auto _ : state)
        note._reloadHeader();
}

} // namespace



int main(int argc, char** argv)
{
    return NoteCount::run(argc, argv, [](int notes) {
        FolderNotes = notes;
        const auto name = [notes](const char* what) { return QStringLiteral("%1/%2").arg(QLatin1String(what)).arg(notes).toStdString(); };
        benchmark::RegisterBenchmark(name("FolderListingAtStartUp").c_str(), folderListingAtStartUp)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(name("FindNameCached").c_str(), findUnusedReadableFileName)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("titleAndTagsOfMegabyteNote", titleAndTagsOfMegabyteNote)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("titleOfMegabyteNote", titleOfMegabyteNote)->Unit(benchmark::kMillisecond);
    });
}
