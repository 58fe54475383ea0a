#include "ZPOldArchiveEntryWriter.h"

#include "ZPByteWriter.h"
#include "ZPError.h"

namespace {

constexpr qsizetype localHeaderOffsetField = 42;

} // namespace

ZPOldArchiveEntryWriter::ZPOldArchiveEntryWriter(std::shared_ptr<const ZPContents> contents,
                                                 std::span<const std::byte> centralRecord,
                                                 std::optional<std::span<const std::byte>> localRecord,
                                                 std::uint32_t localHeaderOffset, bool skipLocalFile)
    : m_contents(std::move(contents)),
      // A skipped entry's central record goes out unchanged, so it stays a view.
      m_centralFileHeader(skipLocalFile ? QByteArray::fromRawData(reinterpret_cast<const char*>(centralRecord.data()),
                                                                  qsizetype(centralRecord.size()))
                                        : QByteArray(reinterpret_cast<const char*>(centralRecord.data()),
                                                     qsizetype(centralRecord.size()))),
      m_localFile(localRecord), m_localHeaderOffset(localHeaderOffset), m_skipLocalFile(skipLocalFile)
{
}

std::uint32_t ZPOldArchiveEntryWriter::offsetToLocalFileEnd() const
{
    if (!m_skipLocalFile || !m_localFile)
        return 0;
    return std::uint32_t(m_localHeaderOffset + m_localFile->size());
}

bool ZPOldArchiveEntryWriter::writeLocalFile(ZPChannelOutput& output, std::uint32_t initialSkip, Error* error)
{
    if (m_skipLocalFile)
        return true;
    if (!m_localFile) {
        setError(error, ZPError::make(ZPError::LocalFileHeaderInvalid));
        return false;
    }
    const auto offset = output.landingOffset(initialSkip, error);
    if (!offset)
        return false;
    ZPByteWriter::put32(m_centralFileHeader, localHeaderOffsetField, *offset);
    return output.writeData(*m_localFile, error);
}

bool ZPOldArchiveEntryWriter::writeCentralFileHeader(ZPChannelOutput& output, Error* error)
{
    return output.writeData(ZPByteWriter::bytesOf(m_centralFileHeader), error);
}
