#pragma once

#include "ZPArchiveEntry.h"

// An entry made by the caller for writing: name, mode, date, level and the
// block that makes its data. It reports no CRC or sizes until written.
class ZPNewArchiveEntry : public ZPArchiveEntry {
public:
    ZPNewArchiveEntry(QString fileName, std::uint16_t fileMode, QDateTime lastModified, std::int64_t compressionLevel,
                      DataBlock dataBlock, StreamBlock streamBlock, DataConsumerBlock dataConsumerBlock);

    bool compressed() const override { return m_compressionLevel != 0; }
    bool encrypted() const override { return false; }
    QDateTime lastModified() const override { return m_lastModified; }
    std::uint64_t crc32() const override { return 0; }
    std::uint64_t compressedSize() const override { return 0; }
    std::uint64_t uncompressedSize() const override { return 0; }
    std::uint16_t fileMode() const override { return m_fileMode; }
    std::optional<QString> fileName() const override { return m_fileName; }
    bool check(Error*) const override { return true; }
    // Always writes the entry: the flag is ignored.
    std::unique_ptr<ZPArchiveEntryWriter> newWriter(bool canSkipLocalFile) const override;

private:
    QString m_fileName;
    std::uint16_t m_fileMode;
    QDateTime m_lastModified;
    std::int64_t m_compressionLevel;
    DataBlock m_dataBlock;
    StreamBlock m_streamBlock;
    DataConsumerBlock m_dataConsumerBlock;
};
