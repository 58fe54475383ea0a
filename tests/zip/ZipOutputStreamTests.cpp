#include "ZPDeflateOutputStream.h"
#include "ZPNewArchiveEntry.h"
#include "ZipTestArchive.h"
#include "files/Posix.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

// An output in memory that fails every write once it holds the given count.
class FailingOutput : public ZPChannelOutput {
public:
    explicit FailingOutput(std::uint32_t limit) : m_limit(limit) {}

    std::uint32_t offset() override { return std::uint32_t(bytes.size()); }
    bool seekToOffset(std::uint32_t, Error*) override { return true; }
    bool writeData(std::span<const std::byte> data, Error* error) override
    {
        if (bytes.size() + qsizetype(data.size()) > m_limit) {
            setError(error, posixError(EIO, QStringLiteral("write"), QStringLiteral("test output")));
            return false;
        }
        bytes.append(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
        return true;
    }
    bool truncateAtOffset(std::uint32_t, Error*) override { return true; }
    bool close(Error*) override { return true; }

    QByteArray bytes;

private:
    std::uint32_t m_limit;
};

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, '\0');
    QRandomGenerator generator(43);
    for (char& byte : data)
        byte = char(generator.bounded(256));
    return data;
}

} // namespace

using namespace ZipTest;

TEST(ZipOutputStream, EntryWriterFailsOnEveryFailedOutputWrite)
{
    const QByteArray data = randomBytes(200000);
    // A stream block that pays no heed to what write answers.
    const ZPArchiveEntry::StreamBlock careless = [&data](OutputStream& stream, Error*) {
        stream.write(bytesOf(data));
        return true;
    };
    // Where the descriptor begins; the deflater writes its last bytes only when finishing.
    const auto descriptorAt = std::uint32_t(30 + 1 + deflated(data).size());
    const ZPArchiveEntry::DataBlock whole = [&data](Error*) { return std::optional(data); };
    const ZPArchiveEntry::DataConsumerBlock consumer = [&data](DataConsumer& sink, Error*) {
        sink.putBytes(bytesOf(data));
        return true;
    };
    const struct {
        const char* name;
        std::int64_t level;
        std::uint32_t limit;
        ZPArchiveEntry::DataBlock dataBlock;
        ZPArchiveEntry::StreamBlock streamBlock;
        ZPArchiveEntry::DataConsumerBlock consumerBlock;
    } cases[] = {
        {"deflated data block, local header", 6, 20, whole, {}, {}},
        {"deflated data block, data", 6, 100000, whole, {}, {}},
        {"deflated data block, finish", 6, descriptorAt - 10, whole, {}, {}},
        {"deflated data block, descriptor", 6, descriptorAt + 8, whole, {}, {}},
        {"careless deflated stream block", 6, 100000, {}, careless, {}},
        {"careless stored consumer", 0, 100000, {}, {}, consumer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entry = ZPArchiveEntry::archiveEntryWithFileName("n", 0100644, QDateTime::currentDateTime(), c.level,
                                                                   c.dataBlock, c.streamBlock, c.consumerBlock);
        FailingOutput output(c.limit);
        Error error;
        EXPECT_FALSE(entry->newWriter(false)->writeLocalFile(output, 0, &error));
        EXPECT_EQ(error.code, EIO);
    }
}
