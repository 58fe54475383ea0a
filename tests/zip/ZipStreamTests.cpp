#include "TestSupport.h"
#include "ZPError.h"
#include "ZPInflateInputStream.h"
#include "ZipTestArchive.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

using namespace ZipTest;

namespace {

const QString password = QStringLiteral("secret");

QByteArray fixture(const QString& name)
{
    return TestSupport::readFile(QDir(QStringLiteral(TEST_DATA_DIR)).filePath(name));
}

std::uint32_t crcOf(const QByteArray& data)
{
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

// Where the named entry's file data starts and ends inside the archive.
std::pair<int, int> dataRange(const QByteArray& archive, const QString& name)
{
    ZPArchive loaded(std::make_shared<const QByteArray>(archive));
    const auto entries = loaded.entries();
    for (const auto& entry : *entries) {
        if (entry->fileName() != name)
            continue;
        const auto view = entry->fileData();
        const auto start = int(view->bytes.data() - loaded.contents()->bytes().data());
        return {start, start + int(view->bytes.size())};
    }
    return {-1, -1};
}

// The fixture with one byte flipped, counted from the start or the end of the
// entry's file data.
enum class From { Start, End };
QByteArray flipped(const QString& archiveName, const QString& entryName, From from, int at)
{
    QByteArray archive = fixture(archiveName);
    const auto [start, end] = dataRange(archive, entryName);
    archive[(from == From::Start ? start : end) + at] ^= 0x01;
    return archive;
}

// The whole-data and stream paths refuse the entry with the code.
void expectRefused(const ZPOldArchiveEntry& entry, const QString& password, int code)
{
    Error error;
    EXPECT_FALSE(entry.newData(password, &error));
    EXPECT_EQ(error.code, code);
    Error streamError;
    const auto stream = entry.newStream(password, &streamError);
    if (!stream) {
        EXPECT_EQ(streamError.code, code);
        return;
    }
    const StreamRead read = readStream(*stream, 100);
    EXPECT_EQ(read.last, -1);
    EXPECT_EQ(read.status, InputStream::Failed);
    EXPECT_EQ(read.code, code);
}

} // namespace

TEST(ZipStream, WrongPasswordsAreRefusedOnEveryPath)
{
    const QDir data(QStringLiteral(TEST_DATA_DIR));
    int refused = 0;
    for (const QString& name : data.entryList({QStringLiteral("*.zip")})) {
        const auto entries = ZPArchive(data.filePath(name)).entries();
        for (const auto& entry : *entries) {
            if (!entry->encrypted() || !entry->checkEncryptionAndCompression())
                continue;
            for (const QString& wrong : {QStringLiteral("Secret"), QString()}) {
                SCOPED_TRACE((name + u' ' + *entry->fileName() + u' ' + wrong).toStdString());
                expectRefused(*entry, wrong, ZPError::WrongPassword);
                EXPECT_EQ(readProvider(*entry->newDataProvider(wrong), 1), QByteArray());
                ++refused;
            }
            // Nothing of the wrong attempts sticks to the entry or its keys.
            EXPECT_TRUE(entry->newData(password));
        }
    }
    EXPECT_GE(refused, 80);
}

TEST(ZipStream, BadDataFailsWithItsCode)
{
    const QByteArray text = QByteArray("A line of a note that repeats.\n").repeated(2000);
    const QByteArray packed = deflated(text);
    const std::uint32_t crc = crcOf(text);
    const Entry deflate{.data = packed, .method = 8, .crc = crc, .size = text.size()};
    Entry cut = deflate, garbage = deflate, longer = deflate, huge = deflate, noLocalKey = deflate;
    cut.data.chop(4);
    garbage.data = QByteArray(64, '\xFF');
    // The CRC of what the declared size covers, so only the excess can tell.
    longer.size = text.size() - 1;
    longer.crc = crcOf(text.chopped(1));
    huge.size = 0xFFFFFFF0;
    noLocalKey.flags = 1;
    noLocalKey.method = 99;
    noLocalKey.centralExtra = aesField(3, 8);

    const struct {
        const char* name;
        QByteArray archive;
        QString entry;
        int code;
    } cases[] = {
        {"stored CRC", build({Entry{.crc = 1}}).bytes, "note.txt", ZPError::EntryDataCorrupt},
        {"stored short of its size", build({Entry{.size = 6}}).bytes, "note.txt", ZPError::EntryDataCorrupt},
        {"stored past its size", build({Entry{.crc = crcOf("hell"), .size = 4}}).bytes, "note.txt",
         ZPError::EntryDataCorrupt},
        {"deflate cut short", build({cut}).bytes, "note.txt", ZPError::EntryDataCorrupt},
        {"not deflate data", build({garbage}).bytes, "note.txt", ZPError::EntryDataCorrupt},
        {"inflates past its size", build({longer}).bytes, "note.txt", ZPError::EntryDataCorrupt},
        {"declares 4 GiB", build({huge}).bytes, "note.txt", ZPError::EntryDataCorrupt},
        {"AES field only in the central header", build({noLocalKey}).bytes, "note.txt",
         ZPError::UnsupportedEncryption},
        {"AES ciphertext", flipped("7z-aes256-stored.zip", "large.bin", From::Start, 30000), "large.bin",
         ZPError::EntryDataCorrupt},
        {"AES deflated ciphertext", flipped("bsdtar-aes256.zip", "notes.txt", From::Start, 5), "notes.txt",
         ZPError::EntryDataCorrupt},
        {"AES authentication code", flipped("7z-aes128-deflated.zip", "large.bin", From::End, 0), "large.bin",
         ZPError::EntryDataCorrupt},
        {"traditional check byte", flipped("zip-traditional.zip", "empty.txt", From::Start, -1), "empty.txt",
         ZPError::WrongPassword},
        {"traditional ciphertext", flipped("7z-zipcrypto.zip", "random.bin", From::Start, 100), "random.bin",
         ZPError::EntryDataCorrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZPArchive archive(std::make_shared<const QByteArray>(c.archive));
        const auto entries = archive.entries();
        ASSERT_TRUE(entries);
        const auto entry = std::ranges::find_if(*entries, [&](const auto& e) { return e->fileName() == c.entry; });
        ASSERT_NE(entry, entries->end());
        expectRefused(**entry, password, c.code);
    }
}

namespace {

QString zipcli() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/zipcli"); }

} // namespace

TEST(ZipStream, CommandLineCatsAndExtractsOnlyInsideTheTarget)
{
    ASSERT_TRUE(QFile::exists(zipcli())) << "build zipcli first";
    QProcess cat;
    cat.start(zipcli(), {QStringLiteral("cat"), QDir(QStringLiteral(TEST_DATA_DIR)).filePath(QStringLiteral("7z-aes256-deflated.zip")),
                         QStringLiteral("notes.txt"), QStringLiteral("--password"), password});
    ASSERT_TRUE(cat.waitForFinished());
    EXPECT_EQ(cat.exitCode(), 0);
    QString expected;
    for (const QJsonValue entry : QJsonDocument::fromJson(fixture(QStringLiteral("7z-aes256-deflated.json")))["entries"].toArray()) {
        if (entry["name"].toString() == u"notes.txt")
            expected = entry["sha256"].toString();
    }
    EXPECT_EQ(QCryptographicHash::hash(cat.readAllStandardOutput(), QCryptographicHash::Sha256).toHex(), expected);

    const QDir home = QDir::home();
    const QString target = home.filePath(QStringLiteral("target"));
    const QString outside = home.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(home.mkpath(QStringLiteral("target")) && home.mkpath(QStringLiteral("outside")));
    ASSERT_TRUE(QFile::link(outside, target + QStringLiteral("/link")));
    TestSupport::writeFile(target + QStringLiteral("/corrupt.txt"), "kept");
    const QList<QByteArray> unsafe = {"../escaped", "/escaped", "a/../../escaped", "link/escaped",
                                      QByteArray("nul\0name", 8)};
    QList<Entry> entries = {Entry{.name = "kept/./note.txt", .externalAttributes = 0100640u << 16},
                            Entry{.name = "corrupt.txt", .crc = 1}};
    for (const QByteArray& name : unsafe)
        entries.append(Entry{.name = name});
    const QString archive = home.filePath(QStringLiteral("unsafe.zip"));
    TestSupport::writeFile(archive, build(entries).bytes);

    QProcess extract;
    extract.start(zipcli(), {QStringLiteral("extract"), archive, target});
    ASSERT_TRUE(extract.waitForFinished());
    EXPECT_EQ(extract.exitCode(), 1);
    const QString report = QString::fromUtf8(extract.readAllStandardError());
    for (const QByteArray& name : unsafe + QList<QByteArray>{"corrupt.txt"})
        EXPECT_TRUE(report.contains(QString::fromUtf8(name) + u':')) << name.constData();
    EXPECT_EQ(TestSupport::readFile(target + QStringLiteral("/corrupt.txt")), "kept");
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("corrupt.txt")});
    EXPECT_FALSE(QFile::exists(target + QStringLiteral("/nul")));
    EXPECT_EQ(TestSupport::readFile(target + QStringLiteral("/kept/note.txt")), "hello");
    EXPECT_EQ(QFileInfo(target + QStringLiteral("/kept/note.txt")).permissions(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_TRUE(QDir(outside).isEmpty());
    EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("escaped"))));
    EXPECT_FALSE(QFile::exists(QStringLiteral("/escaped")));
}

TEST(ZipStream, OneShotInflationGivesExactlyTheDeclaredSize)
{
    const QByteArray text = QByteArray("A line of a note that repeats.\n").repeated(2000);
    // Zeros compress about as far as deflate goes, so the size bound must let them through.
    const QByteArray zeros(16 << 20, '\0');
    const QByteArray packed = deflated(text);
    const struct {
        const char* name;
        QByteArray data;
        std::uint64_t size;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"exact", packed, std::uint64_t(text.size()), text},
        {"empty", deflated({}), 0, QByteArray()},
        {"zeros at deflate's best", deflated(zeros), std::uint64_t(zeros.size()), zeros},
        {"size one short", packed, std::uint64_t(text.size() - 1), std::nullopt},
        {"size one over", packed, std::uint64_t(text.size() + 1), std::nullopt},
        {"size the data cannot back", packed.left(10), 0xFFFFFFFF, std::nullopt},
        {"cut short", packed.chopped(8), std::uint64_t(text.size()), std::nullopt},
        {"not deflate data", QByteArray(64, '\xFF'), 64, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ZPInflateInputStream::decompressData(bytesOf(c.data), c.size), c.expected);
    }
}
