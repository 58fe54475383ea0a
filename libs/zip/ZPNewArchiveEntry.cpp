#include "ZPNewArchiveEntry.h"

#include "ZPNewArchiveEntryWriter.h"

namespace {

constexpr std::uint16_t regularFileMode = 0100644;
constexpr std::uint16_t directoryMode = 040755;

std::int64_t levelFor(bool compress)
{
    return compress ? -1 : 0;
}

} // namespace

ZPNewArchiveEntry::ZPNewArchiveEntry(QString fileName, std::uint16_t fileMode, QDateTime lastModified,
                                     std::int64_t compressionLevel, DataBlock dataBlock, StreamBlock streamBlock,
                                     DataConsumerBlock dataConsumerBlock)
    : m_fileName(std::move(fileName)), m_fileMode(fileMode), m_lastModified(std::move(lastModified)),
      m_compressionLevel(compressionLevel), m_dataBlock(std::move(dataBlock)), m_streamBlock(std::move(streamBlock)),
      m_dataConsumerBlock(std::move(dataConsumerBlock))
{
}

std::unique_ptr<ZPArchiveEntryWriter> ZPNewArchiveEntry::newWriter(bool) const
{
    return std::make_unique<ZPNewArchiveEntryWriter>(m_fileName, m_fileMode, m_lastModified, m_compressionLevel,
                                                     m_dataBlock, m_streamBlock, m_dataConsumerBlock);
}

std::shared_ptr<ZPNewArchiveEntry> ZPArchiveEntry::archiveEntryWithFileName(const QString& fileName, bool compress,
                                                                            DataBlock dataBlock)
{
    return archiveEntryWithFileName(fileName, regularFileMode, QDateTime::currentDateTime(), levelFor(compress),
                                    std::move(dataBlock), {}, {});
}

std::shared_ptr<ZPNewArchiveEntry> ZPArchiveEntry::archiveEntryWithFileName(const QString& fileName, bool compress,
                                                                            StreamBlock streamBlock)
{
    return archiveEntryWithFileName(fileName, regularFileMode, QDateTime::currentDateTime(), levelFor(compress), {},
                                    std::move(streamBlock), {});
}

std::shared_ptr<ZPNewArchiveEntry> ZPArchiveEntry::archiveEntryWithFileName(const QString& fileName, bool compress,
                                                                            DataConsumerBlock dataConsumerBlock)
{
    return archiveEntryWithFileName(fileName, regularFileMode, QDateTime::currentDateTime(), levelFor(compress), {},
                                    {}, std::move(dataConsumerBlock));
}

std::shared_ptr<ZPNewArchiveEntry> ZPArchiveEntry::archiveEntryWithDirectoryName(const QString& directoryName)
{
    return archiveEntryWithFileName(directoryName, directoryMode, QDateTime::currentDateTime(), 0, {}, {}, {});
}

std::shared_ptr<ZPNewArchiveEntry> ZPArchiveEntry::archiveEntryWithFileName(
    const QString& fileName, std::uint16_t fileMode, const QDateTime& lastModified, std::int64_t compressionLevel,
    DataBlock dataBlock, StreamBlock streamBlock, DataConsumerBlock dataConsumerBlock)
{
    return std::make_shared<ZPNewArchiveEntry>(fileName, fileMode, lastModified, compressionLevel,
                                               std::move(dataBlock), std::move(streamBlock),
                                               std::move(dataConsumerBlock));
}
