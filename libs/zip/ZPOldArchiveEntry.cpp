#include "ZPOldArchiveEntry.h"

#include "ZPAESDecryptInputStream.h"
#include "ZPByteReader.h"
#include "ZPDataProvider.h"
#include "ZPDosDate.h"
#include "ZPError.h"
#include "ZPInflateInputStream.h"
#include "ZPOldArchiveEntryWriter.h"
#include "ZPStandardDecryptInputStream.h"
#include "ZPVerifyingInputStream.h"
#include "streams/MemoryInputStream.h"

#include <algorithm>

namespace {

enum Flag : std::uint16_t { Encrypted = 0x0001, DataDescriptor = 0x0008, StrongEncryption = 0x0040, UTF8Name = 0x0800 };
enum Method : std::uint16_t { Stored = 0, Deflated = 8 };

ZPOldArchiveEntry::EncryptionMode encryptionModeOf(std::uint16_t flags, bool hasAESField)
{
    if (!(flags & Encrypted))
        return ZPOldArchiveEntry::None;
    if (hasAESField)
        return ZPOldArchiveEntry::WinZipAES;
    return flags & StrongEncryption ? ZPOldArchiveEntry::Strong : ZPOldArchiveEntry::Traditional;
}

struct Sizes {
    std::uint64_t crc32 = 0;
    std::uint64_t compressed = 0;
    std::uint64_t uncompressed = 0;
    bool operator==(const Sizes&) const = default;
};

// The CRC and sizes a local record states: in its header, or in the data
// descriptor after the data, whose sizes are 8 bytes wide when the header
// carries a ZIP64 field (as streaming writers leave it).
bool hasZip64Field(const ZPLocalFileHeader& local)
{
    return ZPExtraField::find(local.extraField(), ZPExtraField::zip64ID).scan == ZPExtraField::Scan::Found;
}

std::optional<Sizes> localSizes(const ZPLocalFileHeader& local, std::span<const std::byte> archive,
                                std::uint32_t compressedSize)
{
    if (!(local.flags() & DataDescriptor))
        return Sizes{local.crc32(), local.compressedSize(), local.uncompressedSize()};
    const ZPByteReader reader(archive);
    const std::uint64_t at = local.dataOffset() + compressedSize;
    if (reader.u32(at) != ZPLocalFileHeader::dataDescriptorSignature)
        return std::nullopt;
    const bool wide = hasZip64Field(local);
    const auto crc = reader.u32(at + 4);
    const auto size = [&](std::uint64_t narrowAt, std::uint64_t wideAt) -> std::optional<std::uint64_t> {
        if (wide)
            return reader.u64(wideAt);
        return reader.u32(narrowAt);
    };
    const auto compressed = size(at + 8, at + 8);
    const auto uncompressed = size(at + 12, at + 16);
    if (!crc || !compressed || !uncompressed)
        return std::nullopt;
    return Sizes{*crc, *compressed, *uncompressed};
}

std::span<const std::byte> bytesOf(const QByteArray& bytes)
{
    return std::as_bytes(std::span(bytes.constData(), std::size_t(bytes.size())));
}

// Reads a stream whose top verifies the size into a buffer that grows as data
// comes, so a size the data does not back costs little. The first guess is a
// few times the stored size, which most entries stay under.
std::optional<QByteArray> readAll(InputStream& stream, std::uint64_t size, std::uint64_t storedSize, Error* error)
{
    const std::uint64_t firstCapacity = std::max<std::uint64_t>(64 * 1024, 4 * storedSize);
    stream.open();
    QByteArray data;
    std::uint64_t filled = 0;
    std::byte endProbe;
    for (;;) {
        if (filled == std::uint64_t(data.size()) && filled < size)
            data.resize(qsizetype(std::min(size, std::max(firstCapacity, 2 * filled))));
        const auto room = filled < std::uint64_t(data.size())
            ? std::as_writable_bytes(std::span(data.data(), std::size_t(data.size()))).subspan(std::size_t(filled))
            : std::span(&endProbe, 1);
        const std::int64_t count = stream.read(room);
        if (count < 0) {
            setError(error, stream.streamError().value_or(ZPError::make(ZPError::EntryDataCorrupt)));
            stream.close();
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += std::uint64_t(count);
    }
    stream.close();
    data.truncate(qsizetype(filled));
    return data;
}

std::nullopt_t failLocal(Error* error)
{
    setError(error, ZPError::make(ZPError::LocalFileHeaderInvalid));
    return std::nullopt;
}

} // namespace

ZPOldArchiveEntry::ZPOldArchiveEntry(std::shared_ptr<const ZPContents> contents,
                                     ZPCentralFileHeader centralFileHeader, ZPStringEncoding encoding)
    : m_contents(std::move(contents)), m_central(centralFileHeader), m_encoding(encoding),
      m_aesField(ZPWinZipAESExtraField::in(m_central.extraField())),
      m_encryptionMode(encryptionModeOf(m_central.flags(), m_aesField.has_value()))
{
}

std::uint16_t ZPOldArchiveEntry::compressionMethod() const
{
    if (m_encryptionMode == WinZipAES)
        return m_aesField->compressionMethod;
    return m_central.compressionMethod();
}

bool ZPOldArchiveEntry::compressed() const { return compressionMethod() != Stored; }
bool ZPOldArchiveEntry::encrypted() const { return m_central.flags() & Encrypted; }
QDateTime ZPOldArchiveEntry::lastModified() const { return ZPDosDate::toDateTime(m_central.dosTime(), m_central.dosDate()); }
std::uint64_t ZPOldArchiveEntry::crc32() const { return m_central.crc32(); }
std::uint64_t ZPOldArchiveEntry::compressedSize() const { return m_central.compressedSize(); }
std::uint64_t ZPOldArchiveEntry::uncompressedSize() const { return m_central.uncompressedSize(); }
std::uint16_t ZPOldArchiveEntry::fileMode() const { return m_central.fileMode(); }
std::optional<QString> ZPOldArchiveEntry::fileName() const { return stringWithBytes(m_central.name()); }

std::optional<QString> ZPOldArchiveEntry::stringWithBytes(std::span<const std::byte> bytes) const
{
    return ZPStrings::decode(bytes, m_central.flags() & UTF8Name ? ZPStringEncoding::UTF8 : m_encoding);
}

std::optional<ZPLocalFileHeader> ZPOldArchiveEntry::localFileHeader(Error* error) const
{
    const auto local = ZPLocalFileHeader::at(m_contents->bytes(), m_central.localHeaderOffset());
    if (!local)
        return failLocal(error);
    return local;
}

bool ZPOldArchiveEntry::check(Error* error) const
{
    const auto local = localFileHeader(error);
    if (!local)
        return false;
    bool aesMalformed = false;
    const auto localAES = ZPWinZipAESExtraField::in(local->extraField(), &aesMalformed);
    const auto sizes = localSizes(*local, m_contents->bytes(), m_central.compressedSize());
    const bool agrees = local->signatureField() == ZPLocalFileHeader::signature
        && local->versionNeeded() == m_central.versionNeeded() && local->flags() == m_central.flags()
        && local->compressionMethod() == m_central.compressionMethod() && local->dosTime() == m_central.dosTime()
        && local->dosDate() == m_central.dosDate() && std::ranges::equal(local->name(), m_central.name())
        && sizes == Sizes{m_central.crc32(), m_central.compressedSize(), m_central.uncompressedSize()}
        && !aesMalformed && encryptionModeOf(local->flags(), localAES.has_value()) == m_encryptionMode;
    if (!agrees)
        failLocal(error);
    return agrees;
}

bool ZPOldArchiveEntry::checkEncryptionAndCompression(Error* error) const
{
    const bool strengthKnown = m_encryptionMode != WinZipAES || m_aesField->saltLength() > 0;
    if (m_encryptionMode == Strong || !strengthKnown) {
        setError(error, ZPError::make(ZPError::UnsupportedEncryption));
        return false;
    }
    if (compressionMethod() != Stored && compressionMethod() != Deflated) {
        setError(error, ZPError::make(ZPError::UnsupportedCompression));
        return false;
    }
    return true;
}

std::optional<ZPOldArchiveEntry::Framing> ZPOldArchiveEntry::framing(Error* error) const
{
    const auto local = localFileHeader(error);
    if (!local)
        return std::nullopt;
    std::uint64_t header = 0;
    std::uint64_t trailer = 0;
    std::optional<ZPWinZipAESExtraField> localAES;
    if (m_encryptionMode == Traditional) {
        header = ZPStandardDecryptInputStream::headerSize;
    } else if (m_encryptionMode == WinZipAES) {
        bool malformed = false;
        localAES = ZPWinZipAESExtraField::in(local->extraField(), &malformed);
        if (malformed || (localAES && localAES->saltLength() == 0))
            return failLocal(error);
        if (localAES) {
            header = localAES->saltLength() + ZPAESDecryptInputStream::verifierSize;
            trailer = ZPAESDecryptInputStream::authenticationCodeSize;
        }
    }
    const std::uint64_t length = m_central.compressedSize();
    const auto data = ZPByteReader(m_contents->bytes()).bytes(local->dataOffset(), length);
    if (!data || length < header + trailer)
        return failLocal(error);
    return Framing{data->first(header), data->subspan(header, length - header - trailer), data->last(trailer),
                   localAES};
}

std::optional<ZPByteView> ZPOldArchiveEntry::fileData(Error* error) const
{
    const auto framed = framing(error);
    if (!framed)
        return std::nullopt;
    return ZPByteView{m_contents, framed->data};
}

std::unique_ptr<InputStream> ZPOldArchiveEntry::streamForData(const Framing& framing, const QString& password,
                                                              Error* error) const
{
    std::unique_ptr<InputStream> stream = std::make_unique<MemoryInputStream>(framing.data, m_contents);
    const QByteArray key = password.toUtf8();
    if (m_encryptionMode == Traditional) {
        // The check byte is the CRC's high byte, or the time's when the CRC came after the data.
        const auto checkByte = std::uint8_t(m_central.flags() & DataDescriptor ? m_central.dosTime() >> 8
                                                                               : m_central.crc32() >> 24);
        stream = std::make_unique<ZPStandardDecryptInputStream>(
            std::move(stream), bytesOf(key), framing.header.first<ZPStandardDecryptInputStream::headerSize>(),
            checkByte);
    } else if (m_encryptionMode == WinZipAES) {
        if (!framing.localAES) {
            setError(error, ZPError::make(ZPError::UnsupportedEncryption));
            return nullptr;
        }
        stream = std::make_unique<ZPAESDecryptInputStream>(
            std::move(stream), bytesOf(key), framing.header, framing.localAES->strength,
            framing.trailer.first<ZPAESDecryptInputStream::authenticationCodeSize>());
    }
    if (compressionMethod() == Deflated)
        stream = std::make_unique<ZPInflateInputStream>(std::move(stream));
    // Vendor version 2 of the AES field leaves the CRC 0; the authentication code stands for it.
    const bool crcKept = m_encryptionMode != WinZipAES || m_aesField->vendorVersion != 2;
    return std::make_unique<ZPVerifyingInputStream>(std::move(stream), uncompressedSize(),
                                                    crcKept ? std::optional(m_central.crc32()) : std::nullopt);
}

std::unique_ptr<InputStream> ZPOldArchiveEntry::newStream(const QString& password, Error* error) const
{
    if (!checkEncryptionAndCompression(error))
        return nullptr;
    const auto framed = framing(error);
    return framed ? streamForData(*framed, password, error) : nullptr;
}

std::optional<QByteArray> ZPOldArchiveEntry::newData(const QString& password, Error* error) const
{
    if (m_encryptionMode == None) {
        if (!checkEncryptionAndCompression(error))
            return std::nullopt;
        const auto framed = framing(error);
        if (!framed)
            return std::nullopt;
        auto data = compressionMethod() == Stored
            ? std::optional(QByteArray(reinterpret_cast<const char*>(framed->data.data()), qsizetype(framed->data.size())))
            : ZPInflateInputStream::decompressData(framed->data, uncompressedSize());
        // The stream path checks the same: exactly the declared size, and its CRC.
        if (!data || std::uint64_t(data->size()) != uncompressedSize()
            || ::crc32_z(0, reinterpret_cast<const Bytef*>(data->constData()), std::size_t(data->size())) != crc32()) {
            setError(error, ZPError::make(ZPError::EntryDataCorrupt));
            return std::nullopt;
        }
        return data;
    }
    const auto stream = newStream(password, error);
    if (!stream)
        return std::nullopt;
    return readAll(*stream, uncompressedSize(), compressedSize(), error);
}

std::unique_ptr<SequentialDataProvider> ZPOldArchiveEntry::newDataProvider(const QString& password,
                                                                           Error* error) const
{
    if (!checkEncryptionAndCompression(error))
        return nullptr;
    const auto framed = framing(error);
    if (!framed)
        return nullptr;
    if (m_encryptionMode == None && compressionMethod() == Stored)
        return SequentialDataProvider::withData(QByteArray(reinterpret_cast<const char*>(framed->data.data()),
                                                           qsizetype(framed->data.size())));
    // The entry is copied into the maker so the provider may outlive the caller's handle.
    return ZPDataProvider::create([entry = *this, framing = *framed, password] {
        return entry.streamForData(framing, password, nullptr);
    });
}

std::optional<std::span<const std::byte>> ZPOldArchiveEntry::localRecord() const
{
    const auto local = ZPLocalFileHeader::at(m_contents->bytes(), m_central.localHeaderOffset());
    if (!local)
        return std::nullopt;
    std::uint64_t length = local->record().size() + std::uint64_t(m_central.compressedSize());
    if (local->flags() & DataDescriptor) {
        const bool hasSignature = ZPByteReader(m_contents->bytes()).u32(local->dataOffset() + m_central.compressedSize())
            == ZPLocalFileHeader::dataDescriptorSignature;
        length += (hasZip64Field(*local) ? 20 : 12) + (hasSignature ? 4 : 0);
    }
    return ZPByteReader(m_contents->bytes()).bytes(m_central.localHeaderOffset(), length);
}

std::unique_ptr<ZPArchiveEntryWriter> ZPOldArchiveEntry::newWriter(bool canSkipLocalFile) const
{
    return std::make_unique<ZPOldArchiveEntryWriter>(m_contents, m_central.record(), localRecord(),
                                                     m_central.localHeaderOffset(), canSkipLocalFile);
}
