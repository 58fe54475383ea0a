#include "Store/BinaryReader.h"
#include "Store/BinaryWriter.h"

#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

const QByteArray& sample()
{
    static const QByteArray bytes = TestSupport::readFile(QStringLiteral(TEST_DATA_DIR "/record-29.bin"));
    return bytes;
}

BinaryWriter writeSample()
{
    BinaryWriter writer;
    writer.writeDoubleWord(6);
    writer.writeInt(-1);
    writer.writeFloat(0.5f);
    writer.writeWord(0);
    writer.writeLong(1);
    writer.writeText(QStringLiteral("abc"));
    return writer;
}

} // namespace

TEST(NoteStoreBinary, SampleRecordIsByteExactAndReadsBack)
{
    ASSERT_EQ(sample().size(), 29);
    EXPECT_EQ(writeSample().data(), sample());

    BinaryReader reader(sample());
    EXPECT_EQ(reader.readDoubleWord(), 6u);
    EXPECT_EQ(reader.readInt(), -1);
    EXPECT_EQ(reader.readFloat(), 0.5f);
    EXPECT_EQ(reader.readWord(), 0u);
    EXPECT_EQ(reader.readLong(), 1u);
    EXPECT_EQ(reader.readText(), QStringLiteral("abc"));
    EXPECT_EQ(reader.cursor(), 29);

    BinaryWriter extremes;
    extremes.writeByte(0xFE);
    extremes.writeWord(0xBEEF);
    extremes.writeLong(0x0102030405060708ull);
    const int64_t before1970 = -86400;
    extremes.writeBytes(&before1970, 8);
    EXPECT_EQ(extremes.data().toHex(), QByteArray("feefbe" "0807060504030201" "80aefeffffffffff"));
    BinaryReader back(extremes.data());
    EXPECT_EQ(back.readByte(), 0xFE);
    EXPECT_EQ(back.readWord(), 0xBEEF);
    EXPECT_EQ(back.readLong(), 0x0102030405060708ull);
    EXPECT_EQ(int64_t(back.readLong()), before1970);
}

TEST(NoteStoreBinary, TextsAndStrings)
{
    BinaryWriter writer;
    writer.writeText(QString());
    writer.writeText(QStringLiteral(""));
    writer.writeText(QStringLiteral("é")); // a count of bytes, not of characters
    writer.writeString(QStringLiteral("abc"), 0);
    writer.writeString(QStringLiteral("abc"), -5);
    writer.writeString(QStringLiteral("abcdef"), 2);
    EXPECT_EQ(writer.data().toHex(), QByteArray("00000000" "00000000" "02000000c3a9" "6162"));

    BinaryReader reader(writer.data());
    EXPECT_TRUE(reader.readText().isNull());
    EXPECT_EQ(reader.cursor(), 4);
    EXPECT_TRUE(reader.readText().isNull()); // never an empty string
    EXPECT_EQ(reader.readText(), QStringLiteral("é"));
    EXPECT_TRUE(reader.readString(0).isNull());
    EXPECT_TRUE(reader.readString(-3).isNull());
    EXPECT_EQ(reader.cursor(), 14);
    EXPECT_EQ(reader.readString(2), QStringLiteral("ab"));

    // A leading byte-order mark and a NUL are text like any other.
    const QString unusual = QStringLiteral("\uFEFFa") + QChar(0) + QStringLiteral("東京😀");
    BinaryWriter unusualWriter;
    unusualWriter.writeText(unusual);
    EXPECT_EQ(BinaryReader(unusualWriter.data()).readText(), unusual);

    BinaryReader huge(QByteArray::fromHex("00000080") + "tail");
    EXPECT_TRUE(huge.readText().isNull());
    EXPECT_EQ(huge.cursor(), 4);
    BinaryReader invalid(QByteArray::fromHex("02000000c328") + "x");
    EXPECT_TRUE(invalid.readText().isNull());
    EXPECT_EQ(invalid.readByte(), 'x'); // the bad bytes were passed over
}

TEST(NoteStoreBinary, TruncatedRecordsReadZerosWithoutOverrun)
{
    for (int size = 0; size < sample().size(); ++size) {
        SCOPED_TRACE(size);
        // A detached copy, so the sanitizer sees a read past its end.
        BinaryReader reader(QByteArray(sample().constData(), size));
        EXPECT_EQ(reader.readDoubleWord(), size >= 4 ? 6u : 0u);
        EXPECT_EQ(reader.readInt(), size >= 8 ? -1 : 0);
        EXPECT_EQ(reader.readFloat(), size >= 12 ? 0.5f : 0.0f);
        EXPECT_EQ(reader.readWord(), 0u);
        EXPECT_EQ(reader.readLong(), size >= 22 ? 1u : 0u);
        EXPECT_TRUE(reader.readText().isNull());
        EXPECT_EQ(reader.readLong(), 0u);
        EXPECT_EQ(reader.cursor(), size);
    }
    BinaryReader outside(sample());
    outside.setCursor(-4);
    EXPECT_EQ(outside.readDoubleWord(), 0u);
    outside.setCursor(1000);
    EXPECT_TRUE(outside.readString(3).isNull());
    EXPECT_EQ(outside.cursor(), sample().size());
}

TEST(NoteStoreBinary, SharedBufferAndFiles)
{
    auto buffer = std::make_shared<QByteArray>("head");
    BinaryWriter appender(buffer);
    appender.writeByte('!');
    EXPECT_EQ(*buffer, QByteArray("head!"));

    const QString folder = TestSupport::home() + QStringLiteral("/binary");
    const QString path = folder + QStringLiteral("/record");
    TestSupport::writeFile(path, QByteArray("an older, longer record"));
    EXPECT_TRUE(writeSample().writeToFile(path, true));
    EXPECT_EQ(BinaryReader::readerWithContentsOfFile(path).data(), sample());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"record"}); // no leftovers
    EXPECT_TRUE(BinaryReader::readerWithContentsOfFile(folder + QStringLiteral("/none")).data().isEmpty());

    EXPECT_FALSE(appender.writeToFile(QString(), true));
    EXPECT_FALSE(appender.writeToFile(QString(), false));
    EXPECT_FALSE(appender.writeToFile(folder + QStringLiteral("/no/such/folder/file"), true));
}
