// Loading the central directory of a 65,535-entry archive (the most the format
// holds without ZIP64) against `unzip -Z1` listing the same archive, which also
// counts its process start. The archive is made once by Python's zipfile.
#include "ZPArchive.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int entryCount = 65535;

const QString& archivePath()
{
    static QTemporaryDir directory;
    static const QString path = [] {
        const QString path = directory.filePath(QStringLiteral("many.zip"));
        const QString script = QStringLiteral(
            "import sys, zipfile\n"
            "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
            "    for i in range(%1):\n"
            "        z.writestr(f'notes/folder-{i % 100}/note-{i:05}.md', b'')\n")
                                   .arg(entryCount);
        const QByteArray command = "python3 -c \"" + script.toUtf8() + "\" '" + path.toUtf8() + "'";
        if (std::system(command.constData()) != 0)
            std::abort();
        return path;
    }();
    return path;
}

void loadDirectory(benchmark::State& state)
{
    const QString path = archivePath();
    for (auto _ : state) {
        ZPArchive archive(path);
        const auto entries = archive.entries();
        if (!entries || entries->size() != entryCount)
            state.SkipWithError("archive did not load");
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = entryCount;
}

void unzipListing(benchmark::State& state)
{
    const QByteArray path = archivePath().toUtf8();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("unzip"), const_cast<char*>("-Z1"), const_cast<char*>(path.constData()),
                        nullptr};
        pid_t child = 0;
        int status = 0;
        if (posix_spawnp(&child, "unzip", &actions, nullptr, argv, environ) != 0
            || waitpid(child, &status, 0) != child || status != 0)
            state.SkipWithError("unzip failed");
        posix_spawn_file_actions_destroy(&actions);
    }
}

} // namespace

BENCHMARK(loadDirectory)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(unzipListing)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK_MAIN();
