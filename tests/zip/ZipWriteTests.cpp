#include "TestSupport.h"
#include "ZPError.h"
#include "ZPMutableArchive.h"
#include "ZPNewArchiveEntry.h"
#include "ZipTestArchive.h"
#include "ZipWriting.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace ZipTest;
using namespace ZipWriting;

namespace {

using NewEntries = ZPMutableArchive::NewEntries;

std::uint16_t u16At(const QByteArray& b, qsizetype at) { return std::uint16_t(u32At(b, at)); }

// The archive the entries make in memory.
QByteArray written(const NewEntries& entries)
{
    auto bytes = std::make_shared<QByteArray>();
    ZPMutableArchive archive(bytes);
    Error error;
    EXPECT_TRUE(archive.updateEntries(entries, &error)) << error.code;
    return *bytes;
}

// The one entry's local header, data, descriptor and central header.
struct Written {
    QByteArray local, data, descriptor, central;
};

Written single(const std::shared_ptr<ZPArchiveEntry>& newEntry)
{
    const QByteArray bytes = written({newEntry});
    const qsizetype dataAt = 30 + u16At(bytes, 26);
    const std::uint32_t directory = u32At(bytes, bytes.size() - 6);
    return {bytes.first(dataAt), bytes.mid(dataAt, directory - 16 - dataAt), bytes.mid(directory - 16, 16),
            bytes.mid(directory, bytes.size() - 22 - directory)};
}

QString homeFile(const QString& name) { return QDir::home().filePath(name); }

// A file archive of three stored entries a, b, c, as this library writes it.
QString threeEntryArchive(const QString& name)
{
    const QString path = homeFile(name);
    QFile::remove(path);
    ZPMutableArchive archive(path);
    EXPECT_TRUE(archive.updateEntries({entry("a", 0, QByteArray("first")), entry("b", 6, pattern(5000)),
                                       entry("c", 0, pattern(20000))}));
    return path;
}

QStringList namesIn(const QString& path)
{
    QStringList names;
    for (const auto& loaded : ZPArchive(path).entries().value_or(ZPArchive::Entries()))
        names << loaded->fileName().value_or(QString()) + u'=' + QString::number(loaded->newData()->size());
    return names;
}

} // namespace

TEST(ZipWrite, HeadersCarryFlagsMethodModeAndSizes)
{
    const struct {
        const char* name;
        std::shared_ptr<ZPArchiveEntry> entry;
        std::uint16_t flags, method;
        std::uint32_t crc, compressed, size, attributes;
    } cases[] = {
        {"stored abc", entry("abc", 0, QByteArray("abc")), 0x0808, 0, 0x352441C2, 3, 3, 0100644u << 16},
        {"level 9", entry("n", 9, QByteArray("abc")), 0x080A, 8, 0x352441C2, 5, 3, 0100644u << 16},
        {"level 1", entry("n", 1, QByteArray("abc")), 0x080E, 8, 0x352441C2, 5, 3, 0100644u << 16},
        {"default level", entry("n", -1, QByteArray("abc")), 0x0808, 8, 0x352441C2, 5, 3, 0100644u << 16},
        {"compressed without block", entry("n", 6), 0x0808, 8, 0, 2, 0, 0100644u << 16},
        {"stored empty", entry("n", 0, QByteArray()), 0x0808, 0, 0, 0, 0, 0100644u << 16},
        {"directory", ZPArchiveEntry::archiveEntryWithDirectoryName("docs/"), 0x0808, 0, 0, 0, 0, 0x41ED0000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Written w = single(c.entry);
        for (const auto& [header, at] : {std::pair(w.local, 4), std::pair(w.central, 6)}) {
            EXPECT_EQ(u16At(header, at), 10);
            EXPECT_EQ(u16At(header, at + 2), c.flags);
            EXPECT_EQ(u16At(header, at + 4), c.method);
        }
        EXPECT_EQ(w.local.mid(14, 12), QByteArray(12, '\0'));
        EXPECT_EQ(u32At(w.descriptor, 0), 0x08074b50u);
        for (const auto& [record, at] : {std::pair(w.descriptor, 4), std::pair(w.central, 16)}) {
            EXPECT_EQ(u32At(record, at), c.crc);
            EXPECT_EQ(u32At(record, at + 4), c.compressed);
            EXPECT_EQ(u32At(record, at + 8), c.size);
        }
        EXPECT_EQ(u32At(w.central, 38), c.attributes);
        EXPECT_EQ(u16At(w.central, 4), 3 << 8 | 30);
    }
}

TEST(ZipWrite, EveryBlockKindGivesTheSameBytesAsOneDataBlock)
{
    const QByteArray data = pattern(1 << 20);
    for (const std::int64_t level : {0, 1, 6}) {
        SCOPED_TRACE(level);
        const Written whole = single(entry("n", level, data));
        const std::shared_ptr<ZPArchiveEntry> consumer = ZPArchiveEntry::archiveEntryWithFileName(
            "n", 0100644, QDateTime(QDate(2026, 12, 5), QTime(13, 45, 31)), level, {}, {},
            [&](DataConsumer& sink, Error*) {
                return inPieces(data, 1000, [&](auto part) { return sink.putBytes(part); });
            });
        for (const auto& other : {entry("n", level, {}, piecesOf(data, 1000)),
                                  entry("n", level, {}, piecesOf(data, data.size())), consumer}) {
            const Written w = single(other);
            EXPECT_EQ(w.data, whole.data);
            EXPECT_EQ(w.descriptor, whole.descriptor);
            EXPECT_EQ(w.central, whole.central);
        }
        EXPECT_EQ(load(written({entry("n", level, data)})).entries->at(0)->newData(), data);
    }
}

TEST(ZipWrite, FailingEntryEndsWithCodeFiveAndLeavesTheArchive)
{
    const Error blockError = Error::make("test", 42, "no data");
    const ZPArchiveEntry::DataBlock nothing = [&](Error* e) {
        setError(e, blockError);
        return std::nullopt;
    };
    const ZPArchiveEntry::StreamBlock failing = [&](OutputStream&, Error* e) {
        setError(e, blockError);
        return false;
    };
    const struct {
        const char* name;
        std::shared_ptr<ZPArchiveEntry> entry;
        int underlying;
    } cases[] = {
        {"data block gives nothing", ZPArchiveEntry::archiveEntryWithFileName("x", true, nothing), 42},
        {"stored data block gives nothing", ZPArchiveEntry::archiveEntryWithFileName("x", false, nothing), 42},
        {"stream block fails", ZPArchiveEntry::archiveEntryWithFileName("x", false, failing), 42},
        {"name over 65,535 bytes", entry(QString(65536, u'n'), 0, QByteArray("x")), EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = threeEntryArchive(QStringLiteral("failing.zip"));
        const QByteArray before = TestSupport::readFile(path);
        ZPMutableArchive archive(path);
        const auto loaded = *archive.entries();
        NewEntries entries(loaded.begin(), loaded.end());
        entries.append(c.entry);
        Error error;
        EXPECT_FALSE(archive.updateEntries(entries, &error));
        EXPECT_EQ(error.code, ZPError::LocalFileWriteFailed);
        EXPECT_EQ(error.userInfo.value(ZPError::entryIndexKey).toUInt(), 3u);
        EXPECT_EQ(error.userInfo.value(UnderlyingErrorKey).value<Error>().code, c.underlying);
        EXPECT_EQ(TestSupport::readFile(path), before);
        EXPECT_EQ(QDir(QDir::homePath()).entryList({QStringLiteral(".failing.zip.*")}, QDir::AllEntries | QDir::Hidden), QStringList());
    }
}

TEST(ZipWrite, UpdatePatchesInPlaceOnlyBehindAnUnchangedRun)
{
    using List = std::function<NewEntries(const ZPArchive::Entries&)>;
    const struct {
        const char* name;
        List list;
        int keptUpTo; // old entry whose local record the tail starts at (3: the old directory); -1: replaced
        QStringList names;
    } cases[] = {
        {"append", [](const auto& e) { return NewEntries{e[0], e[1], e[2], entry("d", 9, QByteArray("new"))}; }, 3,
         {"a=5", "b=5000", "c=20000", "d=3"}},
        {"drop the last", [](const auto& e) { return NewEntries{e[0], e[1]}; }, 2, {"a=5", "b=5000"}},
        {"drop the middle", [](const auto& e) { return NewEntries{e[0], e[2]}; }, 1, {"a=5", "c=20000"}},
        {"reorder", [](const auto& e) { return NewEntries{e[1], e[0], e[2]}; }, -1, {"b=5000", "a=5", "c=20000"}},
        {"equal but new", [](const auto&) { return NewEntries{entry("a", 0, QByteArray("first"))}; }, -1, {"a=5"}},
        {"empty list", [](const auto&) { return NewEntries{}; }, -1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = threeEntryArchive(QStringLiteral("update.zip"));
        const QByteArray before = TestSupport::readFile(path);
        const ino_t inode = inodeOf(path);
        ZPMutableArchive archive(path);
        const ZPArchive::Entries loaded = *archive.entries();
        QByteArrayList held;
        for (const auto& old : loaded)
            held << *old->newData();
        Error error;
        ASSERT_TRUE(archive.updateEntries(c.list(loaded), &error)) << error.code;
        EXPECT_EQ(inodeOf(path) == inode, c.keptUpTo >= 0);
        EXPECT_EQ(namesIn(path), c.names);
        // Entries held from before still read their old bytes, though the file was cut.
        for (qsizetype i = 0; i < loaded.size(); ++i)
            EXPECT_EQ(loaded[i]->newData(), held[i]);
        EXPECT_NE(archive.entries()->value(0), loaded[0]);
        const QByteArray after = TestSupport::readFile(path);
        if (c.names.isEmpty()) {
            EXPECT_EQ(after, build({}).bytes);
        }
        if (c.keptUpTo < 0)
            continue;
        const std::uint32_t kept = c.keptUpTo == 3 ? u32At(before, before.size() - 6)
                                                   : loaded[c.keptUpTo]->centralFileHeader().localHeaderOffset();
        EXPECT_EQ(after.first(kept), before.first(kept));
        const auto reloaded = *archive.entries();
        const std::uint32_t next = c.keptUpTo == 3 ? reloaded[3]->centralFileHeader().localHeaderOffset()
            : c.keptUpTo == 2                      ? u32At(after, after.size() - 6)
                                                   : reloaded[1]->centralFileHeader().localHeaderOffset();
        EXPECT_EQ(next, kept);
    }
}

TEST(ZipWrite, OnlyLocalRecordsBackToBackArePatchedInPlace)
{
    Archive gap = build({Entry{.name = "a"}, Entry{.name = "b"}});
    gap.bytes.insert(gap.localOffsets[1], QByteArray(10, 'J'));
    put32(gap.bytes, gap.centralOffsets[1] + 10 + 42, gap.localOffsets[1] + 10);
    put32(gap.bytes, gap.bytes.size() - 6, gap.centralOffsets[0] + 10);
    Entry wide{.name = "b", .flags = 0x0008, .localExtra = extraField(0x0001, QByteArray(16, '\0')),
               .wideDescriptor = true};
    const struct {
        const char* name;
        QByteArray bytes;
        bool inPlace;
    } cases[] = {
        {"back to back", build({Entry{.name = "a"}, Entry{.name = "b", .flags = 0x0008}}).bytes, true},
        {"8-byte descriptor sizes", build({Entry{.name = "a"}, wide}).bytes, true},
        {"a gap between", gap.bytes, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = homeFile(QStringLiteral("layout.zip"));
        TestSupport::writeFile(path, c.bytes);
        const ino_t inode = inodeOf(path);
        ZPMutableArchive archive(path);
        const auto loaded = *archive.entries();
        ASSERT_TRUE(archive.updateEntries({loaded[0], loaded[1], entry("c", 0, QByteArray("x"))}));
        EXPECT_EQ(inodeOf(path) == inode, c.inPlace);
        EXPECT_EQ(namesIn(path), QStringList({"a=5", "b=5", "c=1"}));
        const auto reloaded = archive.entries(); // the loop must not range over a temporary's inside
        ASSERT_TRUE(reloaded);
        for (const auto& entry : *reloaded)
            EXPECT_TRUE(entry->check());
    }
}

TEST(ZipWrite, FileSizeLimitInPlaceRestoresTheArchive)
{
    const QString path = threeEntryArchive(QStringLiteral("limit.zip"));
    const QByteArray before = TestSupport::readFile(path);
    ZPMutableArchive archive(path);
    const auto loaded = *archive.entries();
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    // Room for the new tail on its own, not behind the old entries.
    limited.rlim_cur = rlim_t(before.size() + before.size() / 2);
    setrlimit(RLIMIT_FSIZE, &limited);
    Error error;
    const bool updated = archive.updateEntries({loaded[0], loaded[1], loaded[2], entry("d", 0, pattern(before.size()))}, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(updated);
    EXPECT_EQ(error.code, ZPError::ReplaceFailed);
    EXPECT_EQ(error.userInfo.value(UnderlyingErrorKey).value<Error>().code, EFBIG);
    EXPECT_EQ(TestSupport::readFile(path), before);
    EXPECT_EQ(archive.entries()->at(2)->newData(), pattern(20000));
}

TEST(ZipWrite, ReplacementKeepsLinkAndMode)
{
    const QString target = threeEntryArchive(QStringLiteral("target.zip"));
    ::chmod(QFile::encodeName(target).constData(), 0600);
    const QString link = homeFile(QStringLiteral("link.zip"));
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(target, link));
    ZPMutableArchive archive(link);
    const auto loaded = *archive.entries();
    ASSERT_TRUE(archive.updateEntries({loaded[2], loaded[0]}));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), QFileInfo(target).absoluteFilePath());
    EXPECT_EQ(namesIn(target), QStringList({"c=20000", "a=5"}));
    struct stat info {};
    ::stat(QFile::encodeName(target).constData(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(ZipWrite, MoreThan65535EntriesAreRefused)
{
    auto bytes = std::make_shared<QByteArray>(build({}).bytes);
    NewEntries entries(65536, ZPArchiveEntry::archiveEntryWithDirectoryName("d/"));
    Error error;
    EXPECT_FALSE(ZPMutableArchive(bytes).updateEntries(entries, &error));
    EXPECT_EQ(error.code, ZPError::EndOfCentralDirectoryWriteFailed);
    EXPECT_EQ(*bytes, build({}).bytes);
}
