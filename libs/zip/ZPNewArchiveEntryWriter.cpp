#include "ZPNewArchiveEntryWriter.h"

#include "ZPByteWriter.h"
#include "ZPCentralFileHeader.h"
#include "ZPDeflateOutputStream.h"
#include "ZPDosDate.h"
#include "ZPLocalFileHeader.h"
#include "ZPStoreOutputStream.h"
#include "files/Posix.h"

#include <algorithm>
#include <cerrno>

namespace {

using ZPByteWriter::put16;
using ZPByteWriter::put32;

constexpr std::uint16_t versionMadeByUnix = 3 << 8 | 30;
// 1.0 even for deflated entries: every reader tried accepts it.
constexpr std::uint16_t versionNeeded = 10;
constexpr std::uint16_t dataDescriptorAndUTF8 = 0x0808;
constexpr std::uint32_t fieldLimit = 0xFFFF;
constexpr std::size_t dataPiece = 1 << 20;

std::uint16_t deflateOption(std::int64_t level)
{
    if (level == 1 || level == 2)
        return 0x0006;
    if (level == 3 || level == 4)
        return 0x0004;
    if (level == 8 || level == 9)
        return 0x0002;
    return 0;
}

// The fields both headers share, from the version needed on: 26 bytes at
// offset 6 of the central header and 4 of the local one.
void putSharedFields(QByteArray& header, qsizetype at, std::int64_t level, ZPDosDate::Stamp stamp, qsizetype nameLength)
{
    put16(header, at, versionNeeded);
    put16(header, at + 2, dataDescriptorAndUTF8 | deflateOption(level));
    put16(header, at + 4, level == 0 ? 0 : 8);
    put16(header, at + 6, stamp.time);
    put16(header, at + 8, stamp.date);
    put16(header, at + 22, std::uint16_t(nameLength));
}

bool failWith(Error* error, const Error& failure)
{
    setError(error, failure);
    return false;
}

Error tooLarge(const QString& what)
{
    return posixError(EFBIG, QStringLiteral("write"), what);
}

} // namespace

ZPNewArchiveEntryWriter::ZPNewArchiveEntryWriter(const QString& fileName, std::uint16_t fileMode,
                                                 const QDateTime& lastModified, std::int64_t compressionLevel,
                                                 ZPArchiveEntry::DataBlock dataBlock,
                                                 ZPArchiveEntry::StreamBlock streamBlock,
                                                 ZPArchiveEntry::DataConsumerBlock dataConsumerBlock)
    : m_compressionLevel(compressionLevel), m_dataBlock(std::move(dataBlock)), m_streamBlock(std::move(streamBlock)),
      m_dataConsumerBlock(std::move(dataConsumerBlock))
{
    const QByteArray name = fileName.toUtf8();
    const ZPDosDate::Stamp stamp = ZPDosDate::fromDateTime(lastModified);
    m_centralFileHeader = QByteArray(ZPCentralFileHeader::fixedSize, '\0') + name;
    put32(m_centralFileHeader, 0, ZPCentralFileHeader::signature);
    put16(m_centralFileHeader, 4, versionMadeByUnix);
    putSharedFields(m_centralFileHeader, 6, compressionLevel, stamp, name.size());
    put32(m_centralFileHeader, 38, std::uint32_t(fileMode) << 16);
    m_localFileHeader = QByteArray(ZPLocalFileHeader::fixedSize, '\0') + name;
    put32(m_localFileHeader, 0, ZPLocalFileHeader::signature);
    putSharedFields(m_localFileHeader, 4, compressionLevel, stamp, name.size());
}

bool ZPNewArchiveEntryWriter::writeLocalFile(ZPChannelOutput& output, std::uint32_t initialSkip, Error* error)
{
    if (m_localFileHeader.size() - ZPLocalFileHeader::fixedSize > fieldLimit)
        return failWith(error, tooLarge(QStringLiteral("an entry name over 65,535 bytes")));
    const auto offset = output.landingOffset(initialSkip, error);
    if (!offset)
        return false;
    put32(m_centralFileHeader, 42, *offset);
    if (!output.writeData(ZPByteWriter::bytesOf(m_localFileHeader), error))
        return false;
    const auto written = writeData(output, error);
    if (!written)
        return false;
    if (written->compressedSize > ZPChannelOutput::sizeLimit || written->uncompressedSize > ZPChannelOutput::sizeLimit)
        return failWith(error, tooLarge(QStringLiteral("an entry of 4 GiB or more")));
    QByteArray descriptor(16, '\0');
    put32(descriptor, 0, ZPLocalFileHeader::dataDescriptorSignature);
    put32(descriptor, 4, written->crc32);
    put32(descriptor, 8, std::uint32_t(written->compressedSize));
    put32(descriptor, 12, std::uint32_t(written->uncompressedSize));
    m_centralFileHeader.replace(16, 12, descriptor.constData() + 4, 12);
    return output.writeData(ZPByteWriter::bytesOf(descriptor), error);
}

bool ZPNewArchiveEntryWriter::writeCentralFileHeader(ZPChannelOutput& output, Error* error)
{
    return output.writeData(ZPByteWriter::bytesOf(m_centralFileHeader), error);
}

std::optional<ZPNewArchiveEntryWriter::Written> ZPNewArchiveEntryWriter::writeData(ZPChannelOutput& output,
                                                                                   Error* error)
{
    if (m_compressionLevel == 0) {
        ZPStoreOutputStream stream(output);
        if (!produce(stream, error))
            return std::nullopt;
        return Written{stream.crc32(), stream.size(), stream.size()};
    }
    ZPDeflateOutputStream stream(output, m_compressionLevel);
    if (!produce(stream, error))
        return std::nullopt;
    return Written{stream.crc32(), stream.compressedSize(), stream.uncompressedSize()};
}

bool ZPNewArchiveEntryWriter::produce(OutputStream& stream, Error* error)
{
    stream.open();
    const bool produced = stream.streamStatus() == OutputStream::Open && runBlock(stream, error);
    stream.close();
    // A failed write or final flush shows in the status even when the block
    // went on as if nothing happened.
    if (stream.streamStatus() == OutputStream::Failed)
        return failWith(error, *stream.streamError());
    return produced;
}

bool ZPNewArchiveEntryWriter::runBlock(OutputStream& stream, Error* error)
{
    if (m_dataBlock) {
        // The buffer lives only until it is written, in pieces that the CRC
        // reads while they are still in the cache.
        const std::optional<QByteArray> data = m_dataBlock(error);
        if (!data)
            return false;
        const auto bytes = ZPByteWriter::bytesOf(*data);
        for (std::size_t at = 0; at < bytes.size(); at += dataPiece) {
            if (stream.write(bytes.subspan(at, std::min(dataPiece, bytes.size() - at))) < 0)
                return false;
        }
        return true;
    }
    if (m_streamBlock)
        return m_streamBlock(stream, error);
    if (m_dataConsumerBlock) {
        DataConsumer consumer([&stream](std::span<const std::byte> bytes) { return stream.write(bytes); });
        return m_dataConsumerBlock(consumer, error);
    }
    return true;
}
