#include "Cloud/NoteRecord.h"

#include "Record.h"
#include "Store/Note.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>


namespace {

QByteArray hex(const char* digits)
{
    return QByteArray::fromHex(digits);
}

} // namespace

TEST(NoteRecord, TextsSurviveTheCodecAsUtf16WithALittleEndianMark)
{
    EXPECT_TRUE(NoteRecord::dataFromString(QString()).isEmpty());
    EXPECT_EQ(NoteRecord::gzipDeflate(QByteArray()), QByteArray());
    EXPECT_EQ(NoteRecord::gzipInflate(QByteArray()), QByteArray());
    EXPECT_EQ(NoteRecord::gzipInflate(NoteRecord::dataFromString(QStringLiteral("a"))), hex("fffe6100"));
    for (const QString& text : {QStringLiteral("Plan\n- [ ] ä €\r\n"), QString::fromUtf8("\xEF\xBB\xBF\xF0\x9F\x93\x9D"),
                                QString(40000, QLatin1Char('x'))})
        EXPECT_EQ(NoteRecord::stringFromData(NoteRecord::dataFromString(text), NoteRecord::Version), text);

    // Streams past the first 16,384 bytes, expanding many times over, and zlib-wrapped.
    QByteArray bytes(50000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    const QByteArray stream = NoteRecord::gzipDeflate(bytes);
    EXPECT_GT(stream.size(), 3 * 16384);
    EXPECT_EQ(NoteRecord::gzipInflate(stream), bytes);
    const QByteArray repeated(3 * 1024 * 1024, 'n');
    EXPECT_EQ(NoteRecord::gzipInflate(NoteRecord::gzipDeflate(repeated)), repeated);
    EXPECT_EQ(NoteRecord::gzipInflate(qCompress(bytes).mid(4)), bytes); // without Qt's length prefix
}

TEST(NoteRecord, DamagedOrOverlongStreamsGiveNoText)
{
    const QByteArray stream = NoteRecord::dataFromString(QStringLiteral("a text long enough to cut"));
    QByteArray flipped = stream;
    flipped[12] = char(flipped[12] ^ 0x55);
    for (const QByteArray& bytes : {QByteArray("never compressed"), QByteArray("x"), stream.left(stream.size() - 9),
                                    flipped}) {
        EXPECT_FALSE(NoteRecord::gzipInflate(bytes)) << bytes.toHex().toStdString();
        EXPECT_FALSE(NoteRecord::stringFromData(bytes, NoteRecord::Version));
    }

    // A record small enough to be taken in that would inflate past what a note can hold.
    const QByteArray atCap(qsizetype(NoteRecord::MaximumInflatedSize), '\0');
    const QByteArray bomb = NoteRecord::gzipDeflate(atCap + QByteArray(800 * 1024, '\0'));
    EXPECT_LT(bomb.size(), NoteRecord::MaximumFileSize);
    EXPECT_FALSE(NoteRecord::stringFromData(bomb, NoteRecord::Version));
    EXPECT_EQ(NoteRecord::gzipInflate(NoteRecord::gzipDeflate(atCap)).value_or(QByteArray()).size(), atCap.size());
}

TEST(NoteRecord, OldVersionsHoldPlainUtf16)
{
    // Either mark, or none: big-endian.
    for (const char* bytes : {"fffe61006200", "feff00610062", "00610062"})
        EXPECT_EQ(NoteRecord::stringFromData(hex(bytes), 9), QStringLiteral("ab")) << bytes;
    EXPECT_FALSE(NoteRecord::stringFromData(hex("006100"), 9));
    EXPECT_FALSE(NoteRecord::stringFromData(hex("fffe61006200"), 10));
}

TEST(NoteRecord, NamesJoinStorageAndKeyAndSplitBackOrAreGarbage)
{
    EXPECT_EQ(NoteRecord::recordName(NoteStorageArchive, QStringLiteral("Plan.txt")), QStringLiteral("Archive/Plan.txt"));
    EXPECT_TRUE(NoteRecord::recordName(3, QStringLiteral("Plan.txt")).isEmpty());
    EXPECT_TRUE(NoteRecord::recordName(NoteStorageInbox, QStringLiteral(".hidden")).isEmpty());

    const std::pair<QString, int> cases[] = {
        {QStringLiteral("Inbox/Plan.txt"), NoteStorageInbox},
        {QStringLiteral("Home/Plan.txt"), NoteStorageInbox},
        {QStringLiteral("Archive/Plan.txt"), NoteStorageArchive},
        {QStringLiteral("Inbox/") + QString(255, QLatin1Char('k')), NoteStorageInbox},
        {QStringLiteral("Plan.txt"), 0},
        {QStringLiteral("inbox/Plan.txt"), 0},
        {QStringLiteral("Inbox/"), 0},
        {QStringLiteral("Inbox/.Plan.txt"), 0},
        {QStringLiteral("Inbox/a") + QChar(0), 0},
        {QStringLiteral("Inbox/") + QString(128, QChar(0xE9)), 0}, // 256 bytes of UTF-8
    };
    for (const auto& [name, storage] : cases)
        EXPECT_EQ(NoteRecord::splitName(name).storage, storage) << name.toStdString();
    EXPECT_EQ(NoteRecord::splitName(QStringLiteral("Trash/Plan.txt")).storageName, QStringLiteral("Trash"));
}

TEST(NoteRecord, ReadersAdmitByVersionSizeAndNameThenByStateAndSize)
{
    const auto record = [](FieldValue version, FieldValue size, int64_t state, const char* name = "Inbox/Plan.txt") {
        Record r(NoteRecord::RecordType, RecordID{QString::fromLatin1(name)});
        r.setValue(NoteRecord::VersionKey, version);
        r.setValue(NoteRecord::FileSizeKey, size);
        r.setValue(NoteRecord::StateKey, state);
        return r;
    };
    using A = NoteRecord::Admission;
    using C = NoteRecord::Change;
    const struct {
        Record record;
        A admission;
        C change;
    } cases[] = {
        {record(int64_t(49), int64_t(899999), 0), A::Accepted, C::Write},
        {record(int64_t(50), int64_t(1), 0), A::TooNew, C::Write},
        {record(int64_t(39), int64_t(1), 0), A::TooOld, C::Write},
        {record(QStringLiteral("40"), int64_t(1), 0), A::TooOld, C::Write}, // the wrong type reads as absent
        {record(int64_t(40), int64_t(900000), 0), A::TooBig, C::Write},
        {record(int64_t(40), int64_t(1), 0, "Plan.txt"), A::GarbagePath, C::Write},
        {record(int64_t(40), 5.0, 0), A::Accepted, C::RefusedEmpty},
        {record(int64_t(40), int64_t(0), 10), A::Accepted, C::Delete},
        {record(int64_t(40), int64_t(3), 10), A::Accepted, C::RefusedDeleteWithText},
        {record(int64_t(40), int64_t(3), 5), A::Accepted, C::UnknownState},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NoteRecord::admit(c.record).admission, c.admission) << &c - cases;
        EXPECT_EQ(NoteRecord::change(c.record), c.change) << &c - cases;
    }
}

TEST(NoteRecord, AMissingDateIsNewerOrEqualButNeverNewer)
{
    const FileTime t{1700000000, 0};
    EXPECT_TRUE(NoteRecord::dateIsNewerOrEqualTo(t, t));
    EXPECT_FALSE(NoteRecord::dateIsNewerThan(t, t));
    EXPECT_TRUE(NoteRecord::dateIsNewerThan(FileTime{1700000000, 1000000}, t));
    EXPECT_TRUE(NoteRecord::dateIsNewerOrEqualTo(std::nullopt, t));
    EXPECT_FALSE(NoteRecord::dateIsNewerThan(std::nullopt, t));
}

TEST(NoteRecord, RecordDatesInWholeSecondsAreCutTowardZero)
{
    const struct {
        FileTime date;
        int64_t seconds;
    } cases[] = {{{-1, 500'000'000}, 0}, {{-2, 500'000'000}, -1}, {{-3, 0}, -3}, {{0, 0}, 0}, {{1, 999'999'999}, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(NoteRecord::wholeSeconds(c.date), c.seconds) << c.date.seconds << "." << c.date.nanoseconds;
}

// A key of 255 bytes (another program's) has no room beside "Archive/": its
// record name holds it cut, and the record the whole key, which a reader
// takes only for the record of that name.
TEST(NoteRecord, ALongKeyIsCutInTheRecordNameAndCarriedWhole)
{
    const QString key = QString(83, QChar(0x6771)) + QStringLiteral(".txt");
    const QString other = QString(83, QChar(0x6772)) + QStringLiteral(".txt");
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        const RecordID id = NoteRecord::recordID(storage, key);
        Record record(NoteRecord::RecordType, id);
        NoteRecord::setFileName(record, key);
        record.setValue(NoteRecord::VersionKey, NoteRecord::Version);
        EXPECT_FALSE(record.validate().has_value()) << id.recordName.toStdString();
        EXPECT_NE(id, NoteRecord::recordID(storage, other));
        const NoteRecord::Admitted admitted = NoteRecord::admit(record);
        EXPECT_EQ(admitted.admission, NoteRecord::Admission::Accepted);
        EXPECT_EQ(admitted.name.key, key);
        EXPECT_EQ(admitted.name.storage, storage);

        record.setValue(NoteRecord::FileNameKey, other);
        EXPECT_EQ(NoteRecord::admit(record).name.key, Note::fittedKey(key));
    }
    Record plain(NoteRecord::RecordType, NoteRecord::recordID(NoteStorageInbox, QStringLiteral("Plan.txt")));
    NoteRecord::setFileName(plain, QStringLiteral("Plan.txt"));
    EXPECT_FALSE(plain.value(NoteRecord::FileNameKey).has_value());
}
