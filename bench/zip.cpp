// Zip reading beside real peers in the same run:
// - loading the central directory of a 65,535-entry archive against `unzip -Z1`;
// - inflating every entry of a ~300 MB archive (zip -6 of text and random runs)
//   to memory against `unzip -p` into /dev/null;
// - AES-256 deflated entries (made by 7zz) against `7zz x -so` into /dev/null;
// - the AES key stream alone against OpenSSL's own AES-256-CTR;
// - peak resident memory reading an entry that declares 4 GiB for 1 KB.
// The archives are made once per run by a seeded script; the peers' figures
// include their process start.
#include "ZPArchive.h"

#include "ZPAESKeystream.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <cstdlib>
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
BENCHMARK_MAIN();
