// The note store's own work, timed on realistic sizes:
// - finding a new file name in a folder of 10,000 notes (one listing, hashed
//   folded names), where the title and its first variants are taken;
// - deriving the title, summary, hashtags and mentions of a 1 MB note.
#include "Store/Note.h"
#include "markdown_corpus.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr int FolderNotes = 10000;

struct NoteFolder {
    QTemporaryDir dir;

    NoteFolder()
    {
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

void findUnusedReadableFileName(benchmark::State& state)
{
    static NoteFolder folder;
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

BENCHMARK(findUnusedReadableFileName)->Unit(benchmark::kMillisecond);
BENCHMARK(titleAndTagsOfMegabyteNote)->Unit(benchmark::kMillisecond);
BENCHMARK(titleOfMegabyteNote)->Unit(benchmark::kMillisecond);


BENCHMARK_MAIN();
