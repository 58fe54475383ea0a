#include "TestSupport.h"
#include "ZPError.h"
#include "ZipTestArchive.h"
#include "files/Posix.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using namespace ZipTest;

namespace {

// The original's bytes from the whole-data path, from streams read in small
// pieces, and from a provider read, rewound, skipped into and read again.
void expectEveryPathGives(const ZPOldArchiveEntry& entry, const QString& sha256)
{
    const QString password = QStringLiteral("secret");
    Error error;
    const auto whole = entry.newData(password, &error);
    ASSERT_TRUE(whole) << error.code;
    EXPECT_EQ(QCryptographicHash::hash(*whole, QCryptographicHash::Sha256).toHex(), sha256);
    for (const std::size_t piece : {1, 7, 100}) {
        const auto stream = entry.newStream(password);
        ASSERT_TRUE(stream);
        const StreamRead read = readStream(*stream, piece);
        EXPECT_EQ(read.bytes, *whole) << piece;
        EXPECT_EQ(read.status, InputStream::AtEnd) << piece;
    }
    const auto provider = entry.newDataProvider(password);
    ASSERT_TRUE(provider);
    EXPECT_EQ(readProvider(*provider, whole->size() + 1), *whole);
    provider->rewind();
    EXPECT_EQ(provider->skipForward(7), std::min<qsizetype>(7, whole->size()));
    EXPECT_EQ(readProvider(*provider, whole->size()), whole->mid(7));
}

// What the manifest implies: the real method, the support check's code (or -1),
// and the bytes that encryption puts around the data (salt, verifier and code
// for AES; none for strong encryption, which is left whole; else a 12-byte header).
struct Expected {
    int method, support, framing;
};

Expected expected(const QJsonObject& manifest)
{
    const int flags = manifest["flags"].toInt();
    const int strength = manifest["aesStrength"].toInt();
    const int method = strength ? manifest["aesMethod"].toInt() : manifest["method"].toInt();
    const int support = (flags & 0x41) == 0x41 ? ZPError::UnsupportedEncryption
        : method == 0 || method == 8           ? -1
                                               : ZPError::UnsupportedCompression;
    const int framing = !(flags & 1) ? 0 : strength ? 4 + 4 * strength + 12 : flags & 0x40 ? 0 : 12;
    return {method, support, framing};
}

void expectMatches(const ZPOldArchiveEntry& entry, const QJsonObject& manifest)
{
    const Expected expect = expected(manifest);
    const QJsonArray when = manifest["dateTime"].toArray();
    EXPECT_EQ(entry.fileName(), manifest["name"].toString());
    EXPECT_EQ(entry.crc32(), manifest["crc"].toInteger());
    EXPECT_EQ(entry.compressedSize(), manifest["compressedSize"].toInteger());
    EXPECT_EQ(entry.uncompressedSize(), manifest["size"].toInteger());
    EXPECT_EQ(entry.encrypted(), bool(manifest["flags"].toInt() & 1));
    EXPECT_EQ(entry.compressed(), expect.method != 0);
    EXPECT_EQ(entry.lastModified(), QDateTime(QDate(when[0].toInt(), when[1].toInt(), when[2].toInt()),
                                              QTime(when[3].toInt(), when[4].toInt(), when[5].toInt())));
    if (manifest["host"].toInt() == 3) {
        EXPECT_EQ(entry.fileMode(), manifest["externalAttributes"].toInteger() >> 16);
    }
    Error error;
    EXPECT_TRUE(entry.check(&error)) << error.code;
    EXPECT_EQ(entry.checkEncryptionAndCompression(&error) ? -1 : error.code, expect.support);
    const auto data = entry.fileData(&error);
    ASSERT_TRUE(data) << error.code;
    EXPECT_EQ(qsizetype(data->bytes.size()), manifest["compressedSize"].toInteger() - expect.framing);
    if (expect.support == -1 && !manifest["sha256"].isNull())
        expectEveryPathGives(entry, manifest["sha256"].toString());
}

Entry aesEntry(std::uint8_t strength, int dataLength)
{
    Entry entry{.data = QByteArray(dataLength, 'x'), .flags = 1, .method = 99};
    entry.centralExtra = entry.localExtra = aesField(strength, 8);
    return entry;
}

} // namespace

TEST(ZipArchive, EveryFixtureEntryMatchesItsManifest)
{
    const QDir data(QStringLiteral(TEST_DATA_DIR));
    const QStringList archives = data.entryList({QStringLiteral("*.zip")});
    ASSERT_GE(archives.size(), 20);
    for (const QString& name : archives) {
        SCOPED_TRACE(name.toStdString());
        QFile manifestFile(data.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".json")));
        ASSERT_TRUE(manifestFile.open(QIODevice::ReadOnly));
        const QJsonArray manifest = QJsonDocument::fromJson(manifestFile.readAll())["entries"].toArray();
        // Names without the UTF-8 flag are code page 437, as the manifest reads them.
        ZPArchive archive(data.filePath(name), ZPStringEncoding::CP437);
        Error error;
        ASSERT_TRUE(archive.load(&error)) << error.code;
        const auto entries = archive.entries();
        ASSERT_TRUE(entries);
        ASSERT_EQ(entries->size(), manifest.size());
        for (int i = 0; i < manifest.size(); ++i) {
            SCOPED_TRACE(manifest[i]["name"].toString().toStdString());
            expectMatches(*entries->at(i), manifest[i].toObject());
        }
    }
}

TEST(ZipArchive, UnreadableFileFailsOverTheSystemError)
{
    const struct {
        QString path;
        int code;
    } cases[] = {{QDir::home().filePath(QStringLiteral("missing.zip")), ENOENT}, {QDir::homePath(), EISDIR}};
    for (const auto& c : cases) {
        ZPArchive archive(c.path);
        EXPECT_FALSE(archive.entries());
        EXPECT_FALSE(archive.contents());
        Error error;
        EXPECT_FALSE(archive.load(&error));
        EXPECT_EQ(error.code, ZPError::ReadFailed);
        const Error underlying = error.userInfo.value(UnderlyingErrorKey).value<Error>();
        EXPECT_EQ(underlying.domain, PosixErrorDomain);
        EXPECT_EQ(underlying.code, c.code);
    }
}

TEST(ZipArchive, NamesDecodeByFlagOrArchiveEncoding)
{
    const struct {
        QByteArray name;
        std::uint16_t flags;
        ZPStringEncoding encoding;
        std::optional<QString> expected;
    } cases[] = {
        {"caf\xC3\xA9", 0x0800, ZPStringEncoding::Latin1, QStringLiteral("café")},
        {"caf\xE9", 0x0800, ZPStringEncoding::Latin1, std::nullopt},
        {"caf\xE9", 0, ZPStringEncoding::Latin1, QStringLiteral("café")},
        {"caf\xE9", 0, ZPStringEncoding::UTF8, std::nullopt},
        {"caf\x82\xB0", 0, ZPStringEncoding::CP437, QStringLiteral("café░")},
        {"", 0, ZPStringEncoding::UTF8, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toHex().toStdString());
        const Loaded loaded = load(build({Entry{.name = c.name, .flags = c.flags}}).bytes, c.encoding);
        ASSERT_TRUE(loaded.entries);
        EXPECT_EQ(loaded.entries->at(0)->fileName(), c.expected);
    }
}

TEST(ZipArchive, CheckComparesLocalWithCentralHeader)
{
    Entry described{.flags = 0x0008};
    Entry wide = described;
    wide.wideDescriptor = true;
    wide.localExtra = extraField(0x0001, QByteArray(16, '\0'));
    const Archive archive = build({Entry{}, described, wide, aesEntry(1, 30)});
    const int local = archive.localOffsets[0];
    const int descriptor = archive.localOffsets[2] - 16;
    const struct {
        const char* name;
        int entry;
        std::function<void(QByteArray&)> bend; // none: check passes
    } cases[] = {
        {"plain", 0, nullptr},
        {"16-byte descriptor", 1, nullptr},
        {"ZIP64 descriptor", 2, nullptr},
        {"AES in both headers", 3, nullptr},
        {"signature", 0, [&](QByteArray& b) { b[local] = 'X'; }},
        {"version", 0, [&](QByteArray& b) { put16(b, local + 4, 10); }},
        {"time", 0, [&](QByteArray& b) { put16(b, local + 10, 0); }},
        {"size", 0, [&](QByteArray& b) { put32(b, local + 22, 6); }},
        {"one name byte", 0, [&](QByteArray& b) { b[local + 30] = 'N'; }},
        {"name past the archive", 0, [&](QByteArray& b) { put16(b, local + 26, 0xFFFF); }},
        {"descriptor signature", 1, [&](QByteArray& b) { b[descriptor] = 'X'; }},
        {"descriptor CRC", 1, [&](QByteArray& b) { b[descriptor + 4] = 'X'; }},
        {"local AES field missing", 3, [&](QByteArray& b) { put16(b, archive.localOffsets[3] + 30 + 8, 0x9902); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = archive.bytes;
        if (c.bend)
            c.bend(bytes);
        const Loaded loaded = load(bytes);
        ASSERT_TRUE(loaded.entries);
        Error error;
        EXPECT_EQ(loaded.entries->at(c.entry)->check(&error), !c.bend);
        if (c.bend) {
            EXPECT_EQ(error.code, ZPError::LocalFileHeaderInvalid);
        }
    }
}

TEST(ZipArchive, DataViewAndSupportFollowEncryptionAndRealMethod)
{
    const struct {
        const char* name;
        Entry entry;
        int support;       // code, or -1 when supported
        qsizetype length;  // of the data view; -1: refused with code 3
    } cases[] = {
        {"stored", Entry{}, -1, 5},
        {"strong encryption left whole", Entry{.flags = 0x41}, ZPError::UnsupportedEncryption, 5},
        {"method 12", Entry{.method = 12}, ZPError::UnsupportedCompression, 5},
        {"traditional header alone", Entry{.data = QByteArray(12, 'x'), .flags = 1, .method = 8}, -1, 0},
        {"traditional header cut", Entry{.data = QByteArray(11, 'x'), .flags = 1}, -1, -1},
        {"AES-128 framing alone", aesEntry(1, 8 + 12), -1, 0},
        {"AES-256 framing cut", aesEntry(3, 16 + 11), -1, -1},
        {"AES strength 4", aesEntry(4, 40), ZPError::UnsupportedEncryption, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = load(build({c.entry}).bytes);
        ASSERT_TRUE(loaded.entries);
        const auto& entry = *loaded.entries->at(0);
        Error error;
        EXPECT_EQ(entry.checkEncryptionAndCompression(&error) ? -1 : error.code, c.support);
        const auto data = entry.fileData(&error);
        EXPECT_EQ(data ? qsizetype(data->bytes.size()) : -1, c.length);
        EXPECT_EQ(data ? ZPError::LocalFileHeaderInvalid : error.code, ZPError::LocalFileHeaderInvalid);
    }
    const auto aes = load(build({aesEntry(3, 40)}).bytes).entries->at(0);
    EXPECT_TRUE(aes->compressed() && aes->encrypted());
    EXPECT_EQ(aes->compressedSize(), 40u);

    Archive outside = build({Entry{}});
    put32(outside.bytes, outside.centralOffsets[0] + 20, outside.bytes.size());
    EXPECT_FALSE(load(outside.bytes).entries->at(0)->fileData());
}

TEST(ZipArchive, EntriesKeepTheirBytesAfterArchiveAndBufferChange)
{
    const QString path = QDir::home().filePath(QStringLiteral("kept.zip"));
    const Archive built = build({Entry{}});
    auto buffer = std::make_shared<QByteArray>(built.bytes);
    TestSupport::writeFile(path, built.bytes);

    std::optional<ZPArchive::Entries> fromFile = ZPArchive(path).entries();
    std::optional<ZPArchive::Entries> fromData = ZPArchive(buffer).entries();
    ASSERT_TRUE(fromFile && fromData);
    buffer->fill('\0');
    for (const auto& entries : {fromFile, fromData}) {
        EXPECT_EQ(entries->at(0)->newData(), "hello");
        EXPECT_EQ(entries->at(0)->fileName(), QStringLiteral("note.txt"));
    }
}

TEST(ZipArchive, ArchivesOfFourGiBAreRefused)
{
    const QString path = QDir::home().filePath(QStringLiteral("huge.zip"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(qint64(1) << 32)); // sparse: no disk space used
    file.seek(file.size() - 22);
    file.write(build({}).bytes);
    file.close();
    Error error;
    EXPECT_FALSE(ZPArchive(path).load(&error));
    EXPECT_EQ(error.code, ZPError::EndOfCentralDirectoryInvalid);
    QFile::remove(path);
}
