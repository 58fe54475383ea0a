#include "ZPArchive.h"

#include "ZPByteReader.h"
#include "ZPDataChannel.h"
#include "ZPEndOfCentralDirectory.h"
#include "ZPError.h"
#include "ZPFileChannel.h"

namespace {

// Tests of a central record beyond lying inside the directory: one disk, no
// ZIP64 markers, a local header before the directory, a sound AES field.
bool centralFileHeaderValid(const ZPCentralFileHeader& header, std::uint32_t centralDirectoryOffset)
{
    constexpr std::uint32_t zip64Marker = 0xFFFFFFFF;
    bool aesMalformed = false;
    ZPWinZipAESExtraField::in(header.extraField(), &aesMalformed);
    return header.diskNumberStart() == 0 && header.compressedSize() != zip64Marker
        && header.uncompressedSize() != zip64Marker && header.localHeaderOffset() != zip64Marker
        && std::uint64_t(header.localHeaderOffset()) + ZPLocalFileHeader::fixedSize <= centralDirectoryOffset
        && !aesMalformed;
}

// Entries past 65,535 and offsets past 4 GiB live only in ZIP64 records,
// which are not read: such an archive is refused whole, never listed in part.
Error tooLargeForEndRecord()
{
    return ZPError::make(ZPError::EndOfCentralDirectoryInvalid,
                         Error::make(QString::fromLatin1(ZPError::domain), ZPError::EndOfCentralDirectoryInvalid,
                                     QStringLiteral("it needs ZIP64 records (more than 65,535 entries or "
                                                    "4 GiB), which are not read")));
}

bool fail(Error* error, const Error& failure)
{
    setError(error, failure);
    return false;
}

} // namespace

ZPArchive::ZPArchive(const QString& path, ZPStringEncoding encoding)
    : m_channel(std::make_shared<ZPFileChannel>(path)), m_encoding(encoding)
{
}

ZPArchive::ZPArchive(std::shared_ptr<QByteArray> data, ZPStringEncoding encoding)
    : m_channel(std::make_shared<ZPDataChannel>(std::move(data), true)), m_encoding(encoding)
{
}

ZPArchive::ZPArchive(std::shared_ptr<const QByteArray> data, ZPStringEncoding encoding)
    : m_channel(std::make_shared<ZPDataChannel>(std::const_pointer_cast<QByteArray>(data), false)),
      m_encoding(encoding)
{
}

std::shared_ptr<const ZPContents> ZPArchive::contents()
{
    if (!m_entries)
        load();
    return m_contents;
}

std::optional<ZPArchive::Entries> ZPArchive::entries()
{
    if (!m_entries)
        load();
    return m_entries;
}

bool ZPArchive::load(Error* error)
{
    Error channelError;
    const auto contents = m_channel->newInput(&channelError);
    if (!contents)
        return fail(error, ZPError::make(ZPError::ReadFailed, channelError));
    const auto bytes = contents->bytes();
    const auto end = bytes.size() <= ZPChannelOutput::sizeLimit ? ZPEndOfCentralDirectory::find(bytes) : std::nullopt;
    if (!end)
        return fail(error, ZPError::make(ZPError::EndOfCentralDirectoryInvalid));
    if (end->deferredToZip64)
        return fail(error, tooLargeForEndRecord());
    Entries entries;
    entries.reserve(end->entryCount);
    std::uint64_t offset = end->centralDirectoryOffset;
    for (std::uint32_t index = 0; index < end->entryCount; ++index) {
        const auto header = ZPCentralFileHeader::at(bytes, offset, end->position);
        if (!header || !centralFileHeaderValid(*header, end->centralDirectoryOffset))
            return fail(error, ZPError::make(ZPError::CentralFileHeaderInvalid, std::nullopt, index));
        entries.append(std::make_shared<ZPOldArchiveEntry>(contents, *header, m_encoding));
        offset += header->record().size();
    }
    // A count cut to 16 bits leaves central records past the last one read.
    if (offset + ZPCentralFileHeader::fixedSize <= end->position
        && ZPByteReader(bytes).u32(offset) == ZPCentralFileHeader::signature)
        return fail(error, tooLargeForEndRecord());
    m_contents = contents;
    m_entries = std::move(entries);
    return true;
}
