#include "ZPDosDate.h"
#include "ZPError.h"
#include "ZipTestArchive.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

using namespace ZipTest;

namespace {

QByteArray endRecord(std::uint16_t commentLength)
{
    return build({}, QByteArray(commentLength, 'c')).bytes;
}

// The archive with a ZIP64 end record and its locator before its end record,
// as writers add them; the end record's own fields are left as they are.
QByteArray withZip64Records(QByteArray bytes)
{
    const qsizetype end = bytes.size() - 22;
    const auto field = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + end + at); };
    const quint64 count = field(10) & 0xFFFF;
    QByteArray records;
    QDataStream out(&records, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(0x06064b50) << quint64(44) << quint16(45) << quint16(45) << quint32(0) << quint32(0) << count
        << count << quint64(field(12)) << quint64(field(16));
    out << quint32(0x07064b50) << quint32(0) << quint64(end) << quint32(1);
    bytes.insert(end, records);
    return bytes;
}

} // namespace

TEST(ZipRecords, EndRecordIsTheLastSignatureThatEndsTheArchive)
{
    const QByteArray empty = endRecord(0);
    QByteArray fakeInComment = endRecord(22);
    fakeInComment.replace(22, 4, "PK\x05\x06");
    QByteArray otherDisk = empty;
    put16(otherDisk, 4, 1);
    QByteArray countsDiffer = empty;
    put16(countsDiffer, 8, 1);
    QByteArray directoryPastRecord = build({Entry{}}).bytes;
    put32(directoryPastRecord, directoryPastRecord.size() - 6, directoryPastRecord.size() - 22 - 45);

    const struct {
        const char* name;
        QByteArray bytes;
        int entries; // -1: refused with code 1
    } cases[] = {
        {"empty record", empty, 0},
        {"one stray byte", empty + 'x', -1},
        {"shorter than a record", empty.left(21), -1},
        {"longest comment", endRecord(0xFFFF), 0},
        {"signature one byte before the window", endRecord(0xFFFF) + 'c', -1},
        {"nearer signature inside the comment", fakeInComment, -1},
        {"second disk", otherDisk, -1},
        {"entry counts differ", countsDiffer, -1},
        {"directory runs into the record", directoryPastRecord, -1},
        {"one entry", build({Entry{}}, "note").bytes, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = load(c.bytes);
        if (c.entries < 0) {
            EXPECT_FALSE(loaded.entries);
            EXPECT_EQ(loaded.error.domain, ZPError::domain);
            EXPECT_EQ(loaded.error.code, ZPError::EndOfCentralDirectoryInvalid);
        } else {
            ASSERT_TRUE(loaded.entries) << loaded.error.code;
            EXPECT_EQ(loaded.entries->size(), c.entries);
        }
    }
}

TEST(ZipRecords, ArchivesWhoseEntriesTheEndRecordCannotCountAreRefusedWhole)
{
    const QByteArray three = build({Entry{.name = "a"}, Entry{.name = "b"}, Entry{.name = "c"}}).bytes;
    const int end = int(withZip64Records(three).size()) - 22;
    QByteArray countInZip64 = withZip64Records(three);
    put16(countInZip64, end + 8, 0xFFFF);
    put16(countInZip64, end + 10, 0xFFFF);
    QByteArray offsetInZip64 = withZip64Records(three);
    put32(offsetInZip64, end + 16, 0xFFFFFFFF);
    QByteArray countCut = three;
    put16(countCut, int(three.size()) - 22 + 8, 2);
    put16(countCut, int(three.size()) - 22 + 10, 2);

    const struct {
        const char* name;
        QByteArray bytes;
        int entries; // -1: refused as needing ZIP64 records
    } cases[] = {
        {"ZIP64 records beside an end record that holds the values", withZip64Records(three), 3},
        {"count kept in the ZIP64 record", countInZip64, -1},
        {"directory offset kept in the ZIP64 record", offsetInZip64, -1},
        {"count cut to fewer than the central records", countCut, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = load(c.bytes);
        if (c.entries >= 0) {
            ASSERT_TRUE(loaded.entries) << loaded.error.code;
            EXPECT_EQ(loaded.entries->size(), c.entries);
            continue;
        }
        EXPECT_FALSE(loaded.entries);
        EXPECT_EQ(loaded.error.code, ZPError::EndOfCentralDirectoryInvalid);
        EXPECT_TRUE(loaded.error.userInfo.value(UnderlyingErrorKey).value<Error>().localizedDescription().contains(
            QStringLiteral("ZIP64")));
    }
}

TEST(ZipRecords, CentralHeaderThatLeavesItsBoundsIsRefusedWithItsIndex)
{
    const Archive good = build({Entry{}, Entry{}, Entry{}});
    const int second = good.centralOffsets[1];
    const struct {
        const char* name;
        std::function<void(QByteArray&)> bend;
    } cases[] = {
        {"disk start", [&](QByteArray& b) { put16(b, second + 34, 1); }},
        {"name past the end record", [&](QByteArray& b) { put16(b, second + 28, 200); }},
        {"extra past the end record", [&](QByteArray& b) { put16(b, second + 30, 200); }},
        {"comment past the end record", [&](QByteArray& b) { put16(b, second + 32, 0xFFFF); }},
        {"ZIP64 compressed size", [&](QByteArray& b) { put32(b, second + 20, 0xFFFFFFFF); }},
        {"ZIP64 size", [&](QByteArray& b) { put32(b, second + 24, 0xFFFFFFFF); }},
        {"ZIP64 local offset", [&](QByteArray& b) { put32(b, second + 42, 0xFFFFFFFF); }},
        {"local header inside the directory",
         [&](QByteArray& b) { put32(b, second + 42, good.centralOffsets[0] - 29); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = good.bytes;
        c.bend(bytes);
        const Loaded loaded = load(bytes);
        EXPECT_FALSE(loaded.entries);
        EXPECT_EQ(loaded.error.code, ZPError::CentralFileHeaderInvalid);
        EXPECT_EQ(loaded.error.userInfo.value(ZPError::entryIndexKey).toUInt(), 1u);
    }
}

TEST(ZipRecords, ExtraFieldsAreWalkedWithinTheirArea)
{
    Entry aesSecond{.flags = 1, .method = 99};
    aesSecond.centralExtra = extraField(0x5455, "\x01\x02\x03\x04\x05") + aesField(3, 8);
    Entry othersOnly{.flags = 1};
    othersOnly.centralExtra = extraField(0x5455, "abcde") + extraField(0x7875, "x");
    Entry overrun = othersOnly;
    overrun.centralExtra = extraField(0x5455, "abcde").left(7);
    Entry shortAES = othersOnly;
    shortAES.centralExtra = aesField(3, 8).left(8);
    put16(shortAES.centralExtra, 2, 4);

    const struct {
        const char* name;
        Entry entry;
        int mode; // -1: refused with code 2
    } cases[] = {
        {"AES field second", aesSecond, ZPOldArchiveEntry::WinZipAES},
        {"other fields only", othersOnly, ZPOldArchiveEntry::Traditional},
        {"field runs past the area", overrun, -1},
        {"AES field too short", shortAES, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = load(build({c.entry}).bytes);
        if (c.mode < 0) {
            EXPECT_EQ(loaded.error.code, ZPError::CentralFileHeaderInvalid);
            continue;
        }
        ASSERT_TRUE(loaded.entries);
        EXPECT_EQ(loaded.entries->at(0)->encryptionMode(), c.mode);
    }
}

TEST(ZipRecords, DosStampsRoundDownAndClampToTheirRange)
{
    const struct {
        QDateTime dateTime;
        std::uint16_t time, date;
    } cases[] = {
        {QDateTime(QDate(2026, 12, 5), QTime(13, 45, 31)), 0x6DAF, 0x5D85},
        {QDateTime(QDate(1979, 12, 31), QTime(23, 59, 59)), 0x0000, 0x0021},
        {QDateTime(QDate(2200, 1, 1), QTime(0, 0)), 0xBF7D, 0xFF9F},
        {QDateTime(), 0x0000, 0x0021},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dateTime.toString(Qt::ISODate).toStdString());
        const ZPDosDate::Stamp stamp = ZPDosDate::fromDateTime(c.dateTime);
        EXPECT_EQ(stamp.time, c.time);
        EXPECT_EQ(stamp.date, c.date);
    }
    EXPECT_EQ(ZPDosDate::toDateTime(0x6DAF, 0x5D85), QDateTime(QDate(2026, 12, 5), QTime(13, 45, 30)));
}

TEST(ZipRecords, DosStampsOutOfRangeRollOver)
{
    const auto stamp = [](int year, int month, int day, int hour, int minute, int twoSeconds) {
        return ZPDosDate::toDateTime(std::uint16_t(hour << 11 | minute << 5 | twoSeconds),
                                     std::uint16_t((year - 1980) << 9 | month << 5 | day));
    };
    EXPECT_EQ(stamp(2024, 0, 10, 8, 0, 0), QDateTime(QDate(2023, 12, 10), QTime(8, 0)));
    EXPECT_EQ(stamp(2024, 3, 0, 8, 0, 0), QDateTime(QDate(2024, 2, 29), QTime(8, 0)));
    EXPECT_EQ(stamp(2024, 13, 1, 0, 0, 0), QDateTime(QDate(2025, 1, 1), QTime(0, 0)));
    EXPECT_EQ(stamp(2024, 5, 31, 23, 59, 30), QDateTime(QDate(2024, 6, 1), QTime(0, 0)));
    EXPECT_EQ(stamp(2024, 2, 30, 0, 60, 0), QDateTime(QDate(2024, 3, 1), QTime(1, 0)));
}

TEST(ZipRecords, FileModeFollowsTheHostSystem)
{
    const struct {
        std::uint8_t host;
        std::uint32_t attributes;
        std::uint16_t mode;
    } cases[] = {
        {0, 0x21, 0100444},         {0, 0x10, 040755},  {0, 0x00, 0100644},
        {10, 0x11, 040555},         {0, 0x08, 040755},  {3, 0120777u << 16, 0120777},
        {11, 0100644u << 16, 0},    {19, 0x10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.host) << " " << c.attributes);
        const Loaded loaded = load(build({Entry{.host = c.host, .externalAttributes = c.attributes}}).bytes);
        ASSERT_TRUE(loaded.entries);
        EXPECT_EQ(loaded.entries->at(0)->fileMode(), c.mode);
    }
}
