// Archives this library writes and updates, checked by the system's own zip
// tools: every tester accepts them and the extractors give the bytes back.
#include "../zip/ZipWriting.h"
#include "TestSupport.h"
#include "ZPMutableArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

using namespace ZipWriting;

namespace {

using NewEntries = ZPMutableArchive::NewEntries;
// Name and bytes of every entry in archive order; none for a directory.
using Contents = QList<std::pair<QString, std::optional<QByteArray>>>;

// The program's standard output, or none when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ran = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    return ran ? std::optional(process.readAllStandardOutput()) : std::nullopt;
}

// The four testers; with a password 7zz alone.
void expectTestersAccept(const QString& path, const QString& password = {})
{
    if (!password.isEmpty()) {
        EXPECT_TRUE(run("7zz", {"t", "-p" + password, path}));
        return;
    }
    EXPECT_TRUE(run("unzip", {"-tqq", path}));
    EXPECT_TRUE(run("7zz", {"t", path}));
    EXPECT_TRUE(run("python3", {"-m", "zipfile", "-t", path}));
    EXPECT_TRUE(run("bsdtar", {"-tf", path}));
}

void expectExtractorsGive(const QString& path, const QString& name, const QByteArray& bytes)
{
    SCOPED_TRACE(name.toStdString());
    EXPECT_EQ(run("unzip", {"-p", path, name}), bytes);
    EXPECT_EQ(run("7zz", {"x", "-so", path, name}), bytes);
}

void expectToolsRead(const QString& path, const Contents& contents)
{
    expectTestersAccept(path);
    for (const auto& [name, bytes] : contents) {
        if (bytes)
            expectExtractorsGive(path, name, *bytes);
    }
    const QByteArray details = run("unzip", {"-Z", "-v", path}).value_or(QByteArray());
    EXPECT_EQ(details.count("extended local header:                          yes"), contents.size());
    EXPECT_EQ(details.count("minimum software version required to extract:   1.0"), contents.size());
}

} // namespace

TEST(ZipInterop, WrittenAndUpdatedArchivesPassTheSystemTools)
{
    const QByteArray text = QByteArray("The quick brown fox jumps over the lazy dog.\n").repeated(400);
    const QString utf8Name = QStringLiteral("notes/café ünïcode ☕.md");
    Contents contents = {{"stored.txt", text},      {"default.txt", text},         {"fast.txt", text},
                         {"best.txt", text},        {"docs/", std::nullopt},       {utf8Name, "# Café\n"},
                         {"empty.txt", ""},         {"stream.bin", pattern(1 << 20)}};
    NewEntries entries = {entry("stored.txt", 0, text), entry("default.txt", -1, text), entry("fast.txt", 1, text),
                          entry("best.txt", 9, text),   ZPArchiveEntry::archiveEntryWithDirectoryName("docs/"),
                          entry(utf8Name, 6, "# Café\n"), entry("empty.txt", 0, ""),
                          entry("stream.bin", -1, {}, piecesOf(pattern(1 << 20), 1000))};
    const QString path = QDir::home().filePath(QStringLiteral("written.zip"));
    ZPMutableArchive archive(path);
    Error error;
    ASSERT_TRUE(archive.updateEntries(entries, &error)) << error.code;
    expectToolsRead(path, contents);
    const ino_t inode = inodeOf(path);
    using Step = std::function<void(NewEntries&, Contents&)>;
    const std::pair<const char*, Step> steps[] = {
        {"append", [](NewEntries& e, Contents& c) {
             e.append(entry("appended.txt", 9, "appended"));
             c.append(std::pair(QStringLiteral("appended.txt"), std::optional<QByteArray>("appended")));
         }},
        {"drop the tail", [](NewEntries& e, Contents& c) { e.removeLast(), c.removeLast(); }},
        {"reorder", [](NewEntries& e, Contents& c) {
             std::reverse(e.begin(), e.end());
             std::reverse(c.begin(), c.end());
         }},
    };
    for (const auto& [name, change] : steps) {
        SCOPED_TRACE(name);
        const auto loaded = *archive.entries();
        entries = NewEntries(loaded.begin(), loaded.end());
        change(entries, contents);
        ASSERT_TRUE(archive.updateEntries(entries, &error)) << error.code;
        expectToolsRead(path, contents);
        EXPECT_EQ(inodeOf(path) == inode, std::string(name) != "reorder");
    }
}

TEST(ZipInterop, AppendingToEveryFixtureKeepsItReadable)
{
    const QDir fixtures(QDir::cleanPath(QStringLiteral(TEST_DATA_DIR "/../../zip/data")));
    const QStringList names = fixtures.entryList({QStringLiteral("*.zip")});
    ASSERT_GE(names.size(), 20);
    for (const QString& name : names) {
        // Strong encryption is only marked there: no tool reads it before or after.
        if (name == u"zip-strong-flag.zip")
            continue;
        SCOPED_TRACE(name.toStdString());
        const QString path = QDir::home().filePath(name);
        QFile::remove(path);
        ASSERT_TRUE(QFile::copy(fixtures.filePath(name), path));
        ZPMutableArchive archive(path);
        const auto loaded = archive.entries();
        ASSERT_TRUE(loaded);
        NewEntries entries(loaded->begin(), loaded->end());
        entries.append(entry("added.txt", 6, "added to the fixture"));
        Error error;
        ASSERT_TRUE(archive.updateEntries(entries, &error)) << error.code;
        const bool encrypted = std::ranges::any_of(*loaded, [](const auto& old) { return old->encrypted(); });
        expectTestersAccept(path, encrypted ? QStringLiteral("secret") : QString());
        expectExtractorsGive(path, "added.txt", "added to the fixture");
    }
}

TEST(ZipInterop, ZipcliAddAndRemoveWriteArchivesTheToolsRead)
{
    const QString zipcli = QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/zipcli");
    ASSERT_TRUE(QFileInfo(zipcli).isExecutable()) << "build zipcli first";
    const QDir home = QDir::home();
    const QString archive = home.filePath(QStringLiteral("cli.zip"));
    QFile::remove(archive);
    for (const char* name : {"one.md", "two.md"})
        TestSupport::writeFile(home.filePath(name), name + pattern(3000));
    QDir::setCurrent(home.path());
    ASSERT_TRUE(run(zipcli, {"add", archive, "one.md", "two.md", "--level", "9"}));
    expectTestersAccept(archive);
    expectExtractorsGive(archive, "two.md", "two.md" + pattern(3000));
    ASSERT_TRUE(run(zipcli, {"remove", archive, "one.md"}));
    expectTestersAccept(archive);
    EXPECT_EQ(run("unzip", {"-Z1", archive}), "two.md\n");
}
