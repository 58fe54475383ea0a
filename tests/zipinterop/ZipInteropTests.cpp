// Archives this library writes and updates, checked by the system's own zip
// tools: every tester accepts them and the extractors give the bytes back.
#include "TestSupport.h"
#include "ZPMutableArchive.h"
#include "ZPNewArchiveEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using NewEntries = ZPMutableArchive::NewEntries;

struct Run {
    int status = -1;
    QByteArray out;
};

Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput()};
}

// The four testers; a password sends 7zz alone.
void expectTestersAccept(const QString& path, const QString& password = {})
{
    if (!password.isEmpty()) {
        EXPECT_EQ(run("7zz", {"t", "-p" + password, path}).status, 0);
        return;
    }
    EXPECT_EQ(run("unzip", {"-tqq", path}).status, 0);
    EXPECT_EQ(run("7zz", {"t", path}).status, 0);
    EXPECT_EQ(run("python3", {"-m", "zipfile", "-t", path}).status, 0);
    EXPECT_EQ(run("bsdtar", {"-tf", path}).status, 0);
}

void expectExtractorsGive(const QString& path, const QString& name, const QByteArray& bytes)
{
    SCOPED_TRACE(name.toStdString());
    const Run unzipped = run("unzip", {"-p", path, name});
    EXPECT_EQ(unzipped.status, 0);
    EXPECT_EQ(unzipped.out, bytes);
    const Run sevenZip = run("7zz", {"x", "-so", path, name});
    EXPECT_EQ(sevenZip.status, 0);
    EXPECT_EQ(sevenZip.out, bytes);
}

// Name to bytes of every file entry, in archive order; directories map to nothing.
using Contents = QList<std::pair<QString, std::optional<QByteArray>>>;

void expectToolsRead(const QString& path, const Contents& contents)
{
    expectTestersAccept(path);
    for (const auto& [name, bytes] : contents) {
        if (bytes)
            expectExtractorsGive(path, name, *bytes);
    }
    const QByteArray details = run("unzip", {"-Z", "-v", path}).out;
    EXPECT_EQ(details.count("extended local header:                          yes"), contents.size());
    EXPECT_EQ(details.count("minimum software version required to extract:   1.0"), contents.size());
}

QByteArray pattern(qsizetype size)
{
    QByteArray data(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 7919) % 251 + (i / 4096) % 3);
    return data;
}

std::shared_ptr<ZPArchiveEntry> dataEntry(const QString& name, std::int64_t level, const QByteArray& data)
{
    return ZPArchiveEntry::archiveEntryWithFileName(
        name, 0100644, QDateTime::currentDateTime(), level, [data](Error*) { return std::optional(data); }, {}, {});
}

ino_t inodeOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_ino;
}

} // namespace

TEST(ZipInterop, WrittenAndUpdatedArchivesPassTheSystemTools)
{
    const QByteArray text = QByteArray("The quick brown fox jumps over the lazy dog.\n").repeated(400);
    const QByteArray streamed = pattern(1 << 20);
    Contents contents = {
        {"stored.txt", text},         {"default.txt", text}, {"fast.txt", text}, {"best.txt", text},
        {"docs/", std::nullopt},      {QStringLiteral("notes/café ünïcode ☕.md"), QByteArray("# Café\n")},
        {"empty.txt", QByteArray()}, {"stream.bin", streamed},
    };
    NewEntries entries = {dataEntry("stored.txt", 0, text), dataEntry("default.txt", -1, text),
                          dataEntry("fast.txt", 1, text), dataEntry("best.txt", 9, text),
                          ZPArchiveEntry::archiveEntryWithDirectoryName("docs/"),
                          dataEntry(contents[5].first, 6, *contents[5].second), dataEntry("empty.txt", 0, {}),
                          ZPArchiveEntry::archiveEntryWithFileName(
                              "stream.bin", true, [&streamed](OutputStream& stream, Error*) {
                                  for (qsizetype at = 0; at < streamed.size(); at += 1000) {
                                      const auto piece = std::as_bytes(std::span(
                                          streamed.constData() + at, std::size_t(std::min<qsizetype>(1000, streamed.size() - at))));
                                      if (stream.write(piece) != std::int64_t(piece.size()))
                                          return false;
                                  }
                                  return true;
                              })};
    const QString path = QDir::home().filePath(QStringLiteral("written.zip"));
    ZPMutableArchive archive(path);
    Error error;
    ASSERT_TRUE(archive.updateEntries(entries, &error)) << error.code;
    {
        SCOPED_TRACE("written");
        expectToolsRead(path, contents);
    }
    const ino_t inode = inodeOf(path);
    const auto steps = std::initializer_list<std::pair<const char*, std::function<void(NewEntries&, Contents&)>>>{
        {"appended", [](NewEntries& e, Contents& c) {
             e.append(dataEntry("appended.txt", 9, "appended"));
             c.append({"appended.txt", QByteArray("appended")});
         }},
        {"tail dropped", [](NewEntries& e, Contents& c) {
             e.removeLast();
             c.removeLast();
         }},
        {"reordered", [](NewEntries& e, Contents& c) {
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
        EXPECT_EQ(inodeOf(path) == inode, std::string(name) != "reordered");
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
        entries.append(dataEntry("added.txt", 6, "added to the fixture"));
        Error error;
        ASSERT_TRUE(archive.updateEntries(entries, &error)) << error.code;
        const bool encrypted = std::ranges::any_of(*loaded, [](const auto& entry) { return entry->encrypted(); });
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
    const QByteArray text = QByteArray("A line of a note.\n").repeated(300);
    for (const char* name : {"one.md", "two.md", "three.md"})
        TestSupport::writeFile(home.filePath(name), name + text);
    const struct {
        QStringList arguments;
        QStringList names;
    } steps[] = {
        {{"add", archive, "one.md", "two.md", "--level", "9"}, {"one.md", "two.md"}},
        {{"add", archive, "three.md", "--level", "0"}, {"one.md", "two.md", "three.md"}},
        {{"remove", archive, "one.md"}, {"two.md", "three.md"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments.join(u' ').toStdString());
        QProcess process;
        process.setWorkingDirectory(home.path());
        process.start(zipcli, step.arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        expectTestersAccept(archive);
        QStringList names;
        const auto entries = ZPArchive(archive).entries();
        ASSERT_TRUE(entries);
        for (const auto& entry : *entries)
            names << *entry->fileName();
        EXPECT_EQ(names, step.names);
        for (const QString& name : step.names)
            expectExtractorsGive(archive, name, name.toUtf8() + text);
    }
}
