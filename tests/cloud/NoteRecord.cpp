#include "Cloud/NoteRecord.h"

#include "Record.h"
#include "Store/Note.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <gtest/gtest.h>

#include <zlib.h>

namespace {

QByteArray hex(const char* digits)
{
    return QByteArray::fromHex(digits);
}

// A zlib-wrapped stream, as older writers may have sent.
QByteArray zlibStream(const QByteArray& bytes)
{
    uLongf size = compressBound(uLong(bytes.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                        reinterpret_cast<const Bytef*>(bytes.constData()), uLong(bytes.size()), 9),
              Z_OK);
    out.truncate(qsizetype(size));
    return out;
}

// Bytes that compress poorly, so the stream outgrows its first buffer.
QByteArray noise(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char& c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

} // namespace

TEST(NoteRecord, TextsSurviveTheCodecAsUtf16WithALittleEndianMark)
{
    EXPECT_TRUE(NoteRecord::dataFromString(QString()).isEmpty());
    EXPECT_TRUE(NoteRecord::dataFromString(QStringLiteral("")).isEmpty());
    EXPECT_EQ(NoteRecord::gzipDeflate(QByteArray()), QByteArray());
    EXPECT_EQ(NoteRecord::gzipInflate(QByteArray()), QByteArray());

    const QByteArray a = NoteRecord::dataFromString(QStringLiteral("a"));
    EXPECT_TRUE(a.startsWith(hex("1f8b08"))) << a.toHex().toStdString(); // a gzip header
    EXPECT_EQ(NoteRecord::gzipInflate(a), hex("fffe6100"));

    for (const QString& text : {QStringLiteral("a"), QStringLiteral("Plan\n- [ ] ä €\r\n"),
                                QString::fromUtf8("\xF0\x9F\x93\x9D notes"), QString(40000, QLatin1Char('x'))}) {
        EXPECT_EQ(NoteRecord::stringFromData(NoteRecord::dataFromString(text), NoteRecord::Version), text)
            << text.left(10).toStdString();
    }
}

TEST(NoteRecord, AStreamLongerThanTheFirstBufferComesOutWhole)
{
    const QByteArray bytes = noise(50000);
    const QByteArray stream = NoteRecord::gzipDeflate(bytes);
    EXPECT_GT(stream.size(), 16384 * 3);
    EXPECT_EQ(NoteRecord::gzipInflate(stream), bytes);
    // A stream that inflates to many times its length, and the zlib wrapper.
    const QByteArray repeated(3 * 1024 * 1024, 'n');
    EXPECT_EQ(NoteRecord::gzipInflate(NoteRecord::gzipDeflate(repeated)), repeated);
    EXPECT_EQ(NoteRecord::gzipInflate(zlibStream(bytes)), bytes);
}

TEST(NoteRecord, DamagedOrOverlongStreamsGiveNoText)
{
    const QByteArray stream = NoteRecord::dataFromString(QStringLiteral("a text long enough to cut"));
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"not a stream", "plain text, never compressed"},
        {"one byte", "x"},
        {"cut short", stream.left(stream.size() - 9)},
        {"header only", stream.left(10)},
        {"flipped body", [&] {
             QByteArray b = stream;
             b[12] = char(b[12] ^ 0x55);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(NoteRecord::gzipInflate(c.bytes)) << c.name;
        EXPECT_FALSE(NoteRecord::stringFromData(c.bytes, NoteRecord::Version)) << c.name;
    }

    // A small record that would inflate past what a note can hold.
    const QByteArray atCap(qsizetype(NoteRecord::MaximumInflatedSize), '\0');
    const QByteArray bomb = NoteRecord::gzipDeflate(atCap + QByteArray(800 * 1024, '\0'));
    EXPECT_LT(bomb.size(), 900000);
    EXPECT_FALSE(NoteRecord::gzipInflate(bomb));
    EXPECT_FALSE(NoteRecord::stringFromData(bomb, NoteRecord::Version));
    const auto whole = NoteRecord::gzipInflate(NoteRecord::gzipDeflate(atCap));
    ASSERT_TRUE(whole);
    EXPECT_EQ(size_t(whole->size()), NoteRecord::MaximumInflatedSize);
}

TEST(NoteRecord, OldVersionsHoldPlainUtf16)
{
    const struct {
        const char* name;
        QByteArray bytes;
        std::optional<QString> text;
    } cases[] = {
        {"little-endian mark", hex("fffe61006200"), QStringLiteral("ab")},
        {"big-endian mark", hex("feff00610062"), QStringLiteral("ab")},
        {"no mark: big-endian", hex("00610062"), QStringLiteral("ab")},
        {"odd length", hex("006100"), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoteRecord::stringFromData(c.bytes, 9), c.text) << c.name;
    // From version 10 on the same bytes must be a stream.
    EXPECT_FALSE(NoteRecord::stringFromData(hex("fffe61006200"), 10));
}

TEST(NoteRecord, NamesJoinStorageAndKeyAndSplitBack)
{
    EXPECT_EQ(NoteRecord::recordName(NoteStorageInbox, QStringLiteral("Plan.txt")), QStringLiteral("Inbox/Plan.txt"));
    EXPECT_EQ(NoteRecord::recordName(NoteStorageArchive, QStringLiteral("Plan.txt")), QStringLiteral("Archive/Plan.txt"));
    EXPECT_TRUE(NoteRecord::recordName(3, QStringLiteral("Plan.txt")).isEmpty());
    EXPECT_TRUE(NoteRecord::recordName(NoteStorageInbox, QStringLiteral(".hidden")).isEmpty());

    const struct {
        QString name;
        int storage;
        QString key;
        QString storageName;
    } cases[] = {
        {QStringLiteral("Inbox/Plan.txt"), NoteStorageInbox, QStringLiteral("Plan.txt"), QStringLiteral("Inbox")},
        {QStringLiteral("Home/Plan.txt"), NoteStorageInbox, QStringLiteral("Plan.txt"), QStringLiteral("Home")},
        {QStringLiteral("Archive/Plan.txt"), NoteStorageArchive, QStringLiteral("Plan.txt"), QStringLiteral("Archive")},
        {QStringLiteral("Plan.txt"), 0, QStringLiteral("Plan.txt"), QString()},
        {QStringLiteral("Trash/Plan.txt"), 0, QStringLiteral("Plan.txt"), QStringLiteral("Trash")},
        {QStringLiteral("inbox/Plan.txt"), 0, QStringLiteral("Plan.txt"), QStringLiteral("inbox")},
        {QStringLiteral("Inbox/"), 0, QString(), QStringLiteral("Inbox")},
        {QStringLiteral("Inbox/."), 0, QStringLiteral("."), QStringLiteral("Inbox")},
        {QStringLiteral("Inbox/.."), 0, QStringLiteral(".."), QStringLiteral("Inbox")},
        {QStringLiteral("Inbox/.Plan.txt"), 0, QStringLiteral(".Plan.txt"), QStringLiteral("Inbox")},
        {QStringLiteral("Inbox/a") + QChar(0) + QStringLiteral("b"), 0, QStringLiteral("a") + QChar(0) + QStringLiteral("b"), QStringLiteral("Inbox")},
        {QStringLiteral("Inbox/") + QString(128, QChar(0xE9)), 0, QString(128, QChar(0xE9)), QStringLiteral("Inbox")},
    };
    for (const auto& c : cases) {
        const auto split = NoteRecord::splitName(c.name);
        EXPECT_EQ(split.storage, c.storage) << c.name.toStdString();
        EXPECT_EQ(split.key, c.key) << c.name.toStdString();
        EXPECT_EQ(split.storageName, c.storageName) << c.name.toStdString();
    }
    // 255 bytes of key are still a name.
    EXPECT_EQ(NoteRecord::splitName(QStringLiteral("Inbox/") + QString(255, QLatin1Char('k'))).storage, NoteStorageInbox);
}

TEST(NoteRecord, ReadersAdmitByVersionSizeAndNameThenByStateAndSize)
{
    const auto record = [](std::optional<FieldValue> version, std::optional<FieldValue> size, int64_t state,
                           const QString& name = QStringLiteral("Inbox/Plan.txt")) {
        Record r(NoteRecord::RecordType, RecordID{name});
        if (version)
            r.setValue(NoteRecord::VersionKey, *version);
        if (size)
            r.setValue(NoteRecord::FileSizeKey, *size);
        r.setValue(NoteRecord::StateKey, state);
        return r;
    };
    using A = NoteRecord::Admission;
    using C = NoteRecord::Change;
    const struct {
        const char* name;
        Record record;
        A admission;
        C change;
    } cases[] = {
        {"live", record(int64_t(40), int64_t(1), 0), A::Accepted, C::Write},
        {"newest understood", record(int64_t(49), int64_t(899999), 0), A::Accepted, C::Write},
        {"too new", record(int64_t(50), int64_t(1), 0), A::TooNew, C::Write},
        {"too old", record(int64_t(39), int64_t(1), 0), A::TooOld, C::Write},
        {"no version", record(std::nullopt, int64_t(1), 0), A::TooOld, C::Write},
        {"version as text", record(QStringLiteral("40"), int64_t(1), 0), A::TooOld, C::Write},
        {"too big", record(int64_t(40), int64_t(900000), 0), A::TooBig, C::Write},
        {"garbage path", record(int64_t(40), int64_t(1), 0, QStringLiteral("Plan.txt")), A::GarbagePath, C::Write},
        {"empty live", record(int64_t(40), int64_t(0), 0), A::Accepted, C::RefusedEmpty},
        {"size as real", record(int64_t(40), 5.0, 0), A::Accepted, C::RefusedEmpty},
        {"tombstone", record(int64_t(40), int64_t(0), 10), A::Accepted, C::Delete},
        {"tombstone with text", record(int64_t(40), int64_t(3), 10), A::Accepted, C::RefusedDeleteWithText},
        {"unknown state", record(int64_t(40), int64_t(3), 5), A::Accepted, C::UnknownState},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NoteRecord::admit(c.record).admission, c.admission) << c.name;
        EXPECT_EQ(NoteRecord::change(c.record), c.change) << c.name;
    }
    EXPECT_EQ(NoteRecord::admit(record(int64_t(40), int64_t(1), 0, QStringLiteral("Home/Plan.txt"))).name.storage,
              NoteStorageInbox);
}

TEST(NoteRecord, DatesCompareWithAMissingDateNewerOrEqualButNeverNewer)
{
    const FileTime t{1700000000, 0};
    const FileTime later{1700000000, 1000000};
    EXPECT_TRUE(NoteRecord::dateIsNewerOrEqualTo(t, t));
    EXPECT_FALSE(NoteRecord::dateIsNewerThan(t, t));
    EXPECT_TRUE(NoteRecord::dateIsNewerOrEqualTo(later, t));
    EXPECT_TRUE(NoteRecord::dateIsNewerThan(later, t));
    EXPECT_FALSE(NoteRecord::dateIsNewerOrEqualTo(t, later));
    EXPECT_TRUE(NoteRecord::dateIsNewerOrEqualTo(std::nullopt, t));
    EXPECT_FALSE(NoteRecord::dateIsNewerThan(std::nullopt, t));

    // A record date keeps milliseconds; read back it equals what was written.
    Record record(NoteRecord::RecordType, RecordID{QStringLiteral("Inbox/a")});
    NoteRecord::setTombstone(record, later);
    EXPECT_EQ(NoteRecord::commitDate(record), later);
    record.setValue(NoteRecord::CommitDateKey, QStringLiteral("yesterday"));
    EXPECT_FALSE(NoteRecord::commitDate(record));
}
