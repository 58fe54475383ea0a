// Zip reading beside real peers in the same run:
// - loading the central directory of a 65,535-entry archive against `unzip -Z1`;
// - inflating every entry of a ~300 MB archive (zip -6 of text and random runs)
//   to memory against `unzip -p` into /dev/null;
// - AES-256 deflated entries (made by 7zz) against `7zz x -so` into /dev/null;
// - the AES key stream alone against OpenSSL's own AES-256-CTR;
// - peak resident memory reading an entry that declares 4 GiB for 1 KB.
// - writing the same files at levels 6 and 1 against `zip -6` and `zip -1`;
// - storing 1 GB held in memory into tmpfs, with `zip -0` of the same bytes
//   from tmpfs files beside it;
// - appending one entry to a 1 GB archive in place against `zip -u`.
// The archives are made once per run by a seeded script; the peers' figures
// include their process start.
#include "ZPMutableArchive.h"
#include "ZPNewArchiveEntry.h"

#include "Stopwatch.h"
#include "ZPAESKeystream.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr int entryCount = 65535;

const QTemporaryDir& workDirectory()
{
    static QTemporaryDir directory;
    return directory;
}

// Runs the Python script in the work folder with the archive's path and the
// further arguments; the archive's path is returned.
QString makeArchive(const QString& name, const QString& script, const QByteArray& arguments = {})
{
    const QString path = workDirectory().filePath(name);
    const QByteArray command = "cd '" + workDirectory().path().toUtf8() + "' && python3 -c \"" + script.toUtf8()
        + "\" '" + path.toUtf8() + "' " + arguments;
    if (std::system(command.constData()) != 0)
        std::abort();
    return path;
}

const QString& manyEntries()
{
    static const QString path = makeArchive(QStringLiteral("many.zip"), QStringLiteral(
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for i in range(%1):\n"
        "        z.writestr(f'notes/folder-{i % 100}/note-{i:05}.md', b'')\n").arg(entryCount));
    return path;
}

// Files of alternating runs of seeded word text and random bytes in a folder
// named by the argument, then the archive command given after it.
const char* const sourceScript =
    "import os, random, subprocess, sys\n"
    "rng = random.Random(42)\n"
    "words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 10))) for _ in range(5000)]\n"
    "text = ' '.join(rng.choices(words, k=1500000)).encode()\n"
    "folder, count, command = sys.argv[2], int(sys.argv[3]), sys.argv[4:]\n"
    "os.makedirs(folder, exist_ok=True)\n"
    "for i in range(count):\n"
    "    parts = []\n"
    "    for j in range(64):\n"
    "        at = rng.randrange(len(text) - 98304)\n"
    "        parts.append(text[at:at + 98304] if j % 3 else rng.randbytes(32768))\n"
    "    open(f'{folder}/file-{i:03}.bin', 'wb').write(b''.join(parts))\n"
    "subprocess.run(command + [sys.argv[1]] + sorted(f'{folder}/{n}' for n in os.listdir(folder)), check=True)\n";

QString makeMixed(const QString& name, int files, const QString& command)
{
    return makeArchive(name, QString::fromLatin1(sourceScript),
                       "src-" + name.toUtf8() + ' ' + QByteArray::number(files) + ' ' + command.toUtf8());
}

// About 300 MB of archive from 120 files of 4.8 MB.
const QString& deflatedArchive()
{
    static const QString path = makeMixed(QStringLiteral("deflated.zip"), 120, QStringLiteral("zip -q -6"));
    return path;
}

const QString& aesArchive()
{
    static const QString path = makeMixed(QStringLiteral("aes.zip"), 16,
                                          QStringLiteral("7zz a -bd -bso0 -tzip -psecret -mem=AES256 -mx=5"));
    return path;
}

const QString& declaresFourGiB()
{
    static const QString path = makeArchive(QStringLiteral("declares.zip"), QStringLiteral(
        "import struct, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    z.writestr('note.txt', bytes(range(256)) * 4)\n"
        "data = bytearray(open(sys.argv[1], 'rb').read())\n"
        "struct.pack_into('<I', data, 22, 0xFFFFFFF0)\n"
        "struct.pack_into('<I', data, data.find(b'PK\\\\x01\\\\x02') + 24, 0xFFFFFFF0)\n"
        "open(sys.argv[1], 'wb').write(data)\n"));
    return path;
}

bool runQuietly(std::vector<QByteArray> arguments)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = 0;
    const bool ran = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0
        && waitpid(child, &status, 0) == child && status == 0;
    posix_spawn_file_actions_destroy(&actions);
    return ran;
}

// Every entry's whole data, as the archive's own reader gives it.
void readEveryEntry(benchmark::State& state, const QString& path, const QString& password)
{
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const auto entries = ZPArchive(path).entries();
        for (const auto& entry : *entries) {
            const auto data = entry->newData(password);
            if (!data) {
                state.SkipWithError("entry did not read");
                return;
            }
            bytes += data->size();
        }
    }
    state.SetBytesProcessed(bytes);
    state.counters["archive_MB"] = double(QFileInfo(path).size()) / 1e6;
}

void peerEveryEntry(benchmark::State& state, const QString& path, std::vector<QByteArray> command)
{
    command.push_back(path.toUtf8());
    for (auto _ : state) {
        if (!runQuietly(command))
            state.SkipWithError("peer failed");
    }
    // The same bytes as our side, for a comparable rate.
    std::int64_t bytes = 0;
    const auto entries = ZPArchive(path).entries();
    for (const auto& entry : *entries)
        bytes += std::int64_t(entry->uncompressedSize());
    state.SetBytesProcessed(bytes * state.iterations());
}

long peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void declaredFourGiB(benchmark::State& state)
{
    const QString path = declaresFourGiB();
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5"); // restarts the peak at the present size
    clear.close();
    for (auto _ : state) {
        ZPArchive archive(path);
        Error error;
        benchmark::DoNotOptimize(archive.entries()->at(0)->newData({}, &error));
        if (error.code != 11)
            state.SkipWithError("the entry was not refused as corrupt");
    }
    state.counters["peak_RSS_MB"] = double(peakResidentKiB()) / 1024;
}

void loadDirectory(benchmark::State& state)
{
    const QString path = manyEntries();
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
    const QByteArray path = manyEntries().toUtf8();
    for (auto _ : state) {
        if (!runQuietly({"unzip", "-Z1", path}))
            state.SkipWithError("unzip failed");
    }
}

void inflateEveryEntry(benchmark::State& state) { readEveryEntry(state, deflatedArchive(), {}); }
void unzipToNull(benchmark::State& state) { peerEveryEntry(state, deflatedArchive(), {"unzip", "-p"}); }
void aesEveryEntry(benchmark::State& state) { readEveryEntry(state, aesArchive(), QStringLiteral("secret")); }
void sevenZipToNull(benchmark::State& state)
{
    peerEveryEntry(state, aesArchive(), {"7zz", "x", "-so", "-psecret"});
}

std::vector<std::byte> keystreamBuffer() { return std::vector<std::byte>(1 << 20, std::byte{0x5A}); }

void aesKeystream(benchmark::State& state)
{
    std::vector<std::byte> buffer = keystreamBuffer();
    const std::array<std::byte, 32> key{};
    ZPAESKeystream keystream(key);
    for (auto _ : state) {
        keystream.apply(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(std::int64_t(buffer.size()) * state.iterations());
}

void opensslCTR(benchmark::State& state)
{
    std::vector<std::byte> buffer = keystreamBuffer();
    const unsigned char key[32] = {};
    const unsigned char iv[16] = {};
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_ctr(), nullptr, key, iv);
    for (auto _ : state) {
        int written = 0;
        auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
        EVP_EncryptUpdate(context, bytes, &written, bytes, int(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
    }
    EVP_CIPHER_CTX_free(context);
    state.SetBytesProcessed(std::int64_t(buffer.size()) * state.iterations());
}

// Times ours as the iteration and the peer's same work beside it.
void againstPeer(benchmark::State& state, const std::string& peer, const std::function<void()>& ours,
                 const std::function<void()>& theirs)
{
    double oursTotal = 0, theirsTotal = 0;
    for (auto _ : state) {
        const double taken = seconds(ours);
        theirsTotal += seconds(theirs);
        oursTotal += taken;
        state.SetIterationTime(taken);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = oursTotal * 1000 / n;
    state.counters[peer + "_ms"] = theirsTotal * 1000 / n;
    state.counters["ratio"] = oursTotal / theirsTotal;
}

// The files of a seeded folder of mixed text and random runs.
const QStringList& sourceFiles()
{
    static const QStringList files = [] {
        const QString folder = QFileInfo(makeMixed(QStringLiteral("sources"), 12, QStringLiteral("true"))).path()
            + QStringLiteral("/src-sources");
        QStringList paths;
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
            paths << folder + u'/' + name;
        return paths;
    }();
    return files;
}

ZPMutableArchive::NewEntries fileEntries(const QStringList& files, std::int64_t level)
{
    ZPMutableArchive::NewEntries entries;
    for (const QString& path : files) {
        entries.append(ZPArchiveEntry::archiveEntryWithFileName(
            path.mid(1), 0100644, QDateTime::currentDateTime(), level,
            [path](Error*) -> std::optional<QByteArray> {
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly))
                    return std::nullopt;
                return file.readAll();
            },
            {}, {}));
    }
    return entries;
}

void writeArchive(const QString& path, const ZPMutableArchive::NewEntries& entries)
{
    QFile::remove(path);
    if (!ZPMutableArchive(path).updateEntries(entries))
        std::abort();
}

void peerZip(const QString& path, const char* option, const QStringList& files)
{
    QFile::remove(path);
    std::vector<QByteArray> command = {"zip", "-q", option, path.toUtf8()};
    for (const QString& file : files)
        command.push_back(file.toUtf8());
    if (!runQuietly(command))
        std::abort();
}

void deflateLevel(benchmark::State& state, std::int64_t level, const char* option)
{
    const QStringList& files = sourceFiles();
    const QString ours = workDirectory().filePath(QStringLiteral("ours.zip"));
    const QString theirs = workDirectory().filePath(QStringLiteral("theirs.zip"));
    againstPeer(state, "zip", [&] { writeArchive(ours, fileEntries(files, level)); },
                [&] { peerZip(theirs, option, files); });
    state.counters["ours_MB"] = double(QFileInfo(ours).size()) / 1e6;
    state.counters["zip_MB"] = double(QFileInfo(theirs).size()) / 1e6;
}

void writeLevel6(benchmark::State& state) { deflateLevel(state, 6, "-6"); }
void writeLevel1(benchmark::State& state) { deflateLevel(state, 1, "-1"); }

// 1 GB in four entries of 256 MB of seeded random bytes.
constexpr int storedParts = 4;
const QByteArray& storedPart()
{
    static const QByteArray part = [] {
        QByteArray bytes(256 << 20, '\0');
        std::uint64_t state = 42;
        for (qsizetype i = 0; i + 8 <= bytes.size(); i += 8) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            std::memcpy(bytes.data() + i, &state, 8);
        }
        return bytes;
    }();
    return part;
}

ZPMutableArchive::NewEntries storedEntries()
{
    ZPMutableArchive::NewEntries entries;
    for (int i = 0; i < storedParts; ++i) {
        entries.append(ZPArchiveEntry::archiveEntryWithFileName(
            QStringLiteral("part-%1.bin").arg(i), false, [](Error*) { return std::optional(storedPart()); }));
    }
    return entries;
}

void storeToTmpfs(benchmark::State& state)
{
    const QTemporaryDir tmpfs(QStringLiteral("/dev/shm/bench-zip-XXXXXX"));
    QStringList files;
    for (int i = 0; i < storedParts; ++i) {
        files << tmpfs.filePath(QStringLiteral("part-%1.bin").arg(i));
        QFile file(files.last());
        if (!file.open(QIODevice::WriteOnly) || file.write(storedPart()) != storedPart().size())
            std::abort();
    }
    const QString ours = tmpfs.filePath(QStringLiteral("ours.zip"));
    const QString theirs = tmpfs.filePath(QStringLiteral("theirs.zip"));
    againstPeer(state, "zip", [&] { writeArchive(ours, storedEntries()); },
                [&] { peerZip(theirs, "-0", files); });
    state.SetBytesProcessed(std::int64_t(storedPart().size()) * storedParts * state.iterations());
}

const QString& gigabyteArchive()
{
    static const QString path = [] {
        const QString archive = workDirectory().filePath(QStringLiteral("gigabyte.zip"));
        writeArchive(archive, storedEntries());
        return archive;
    }();
    return path;
}

void appendToGigabyte(benchmark::State& state)
{
    const QString path = gigabyteArchive();
    const QString note = workDirectory().filePath(QStringLiteral("note.txt"));
    QFile file(note);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, 'n')) != 4096)
        std::abort();
    file.close();
    for (auto _ : state) {
        ZPMutableArchive archive(path);
        const auto loaded = *archive.entries();
        ZPMutableArchive::NewEntries entries(loaded.begin(), loaded.end());
        entries += fileEntries({note}, 6);
        if (!archive.updateEntries(entries))
            state.SkipWithError("append failed");
        state.PauseTiming();
        entries.removeLast();
        ZPMutableArchive again(path);
        const auto appended = *again.entries();
        if (!again.updateEntries(ZPMutableArchive::NewEntries(appended.begin(), appended.end() - 1)))
            state.SkipWithError("cut failed");
        state.ResumeTiming();
    }
    state.counters["archive_MB"] = double(QFileInfo(path).size()) / 1e6;
}

void zipUpdateGigabyte(benchmark::State& state)
{
    const QString copy = workDirectory().filePath(QStringLiteral("gigabyte-zip.zip"));
    QFile::remove(copy);
    QFile::copy(gigabyteArchive(), copy);
    const QString note = workDirectory().filePath(QStringLiteral("note.txt"));
    for (auto _ : state) {
        if (!runQuietly({"zip", "-q", "-u", copy.toUtf8(), note.toUtf8()}))
            state.SkipWithError("zip -u failed");
        state.PauseTiming();
        runQuietly({"zip", "-q", "-d", copy.toUtf8(), note.mid(1).toUtf8()});
        state.ResumeTiming();
    }
}

} // namespace

// First, before large archives are mapped and resident.
BENCHMARK(declaredFourGiB)->Iterations(3);
BENCHMARK(loadDirectory)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(unzipListing)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(aesKeystream)->MinTime(0.3);
BENCHMARK(opensslCTR)->MinTime(0.3);
BENCHMARK(inflateEveryEntry)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(unzipToNull)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(aesEveryEntry)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(sevenZipToNull)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(writeLevel6)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
BENCHMARK(writeLevel1)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
BENCHMARK(storeToTmpfs)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(appendToGigabyte)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(zipUpdateGigabyte)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK_MAIN();
