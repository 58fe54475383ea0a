#pragma once

#include "ZPArchiveEntry.h"

// Writes a new entry: local header with zero CRC and sizes, the data from the
// entry's block, stored or deflated, then a data descriptor; the central header
// gets the CRC and sizes. Flags always carry UTF-8 names and the descriptor.
class ZPNewArchiveEntryWriter : public ZPArchiveEntryWriter {
public:
    ZPNewArchiveEntryWriter(const QString& fileName, std::uint16_t fileMode, const QDateTime& lastModified,
                            std::int64_t compressionLevel, ZPArchiveEntry::DataBlock dataBlock,
                            ZPArchiveEntry::StreamBlock streamBlock,
                            ZPArchiveEntry::DataConsumerBlock dataConsumerBlock);

    std::uint32_t offsetToLocalFileEnd() const override { return 0; }
    // Fails with the block's or the output's error, or a file-too-large error
    // for a name over 65,535 bytes or data reaching 4 GiB.
    bool writeLocalFile(ZPChannelOutput& output, std::uint32_t initialSkip, Error* error = nullptr) override;
    bool writeCentralFileHeader(ZPChannelOutput& output, Error* error = nullptr) override;

private:
    struct Written {
        std::uint32_t crc32 = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
    };
    // The data through the entry's block, stored or deflated.
    std::optional<Written> writeData(ZPChannelOutput& output, Error* error);
    // Opens the stream, runs the block into it and closes it; false when the
    // block or any write failed.
    bool produce(OutputStream& stream, Error* error);
    bool runBlock(OutputStream& stream, Error* error);

    QByteArray m_centralFileHeader;
    QByteArray m_localFileHeader;
    std::int64_t m_compressionLevel;
    ZPArchiveEntry::DataBlock m_dataBlock;
    ZPArchiveEntry::StreamBlock m_streamBlock;
    ZPArchiveEntry::DataConsumerBlock m_dataConsumerBlock;
};
