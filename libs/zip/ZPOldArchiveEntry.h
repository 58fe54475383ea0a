#pragma once

#include "ZPArchiveEntry.h"
#include "ZPCentralFileHeader.h"
#include "ZPContents.h"
#include "ZPExtraField.h"
#include "ZPLocalFileHeader.h"
#include "ZPStringEncoding.h"

#include <memory>

// An entry of a loaded archive: its metadata comes from its central record, its
// data is a view of the loaded bytes, which the entry keeps alive.
class ZPOldArchiveEntry : public ZPArchiveEntry {
public:
    enum EncryptionMode : std::int64_t { None = 0, Traditional = 1, Strong = 2, WinZipAES = 3 };

    // The central record must lie inside the contents; the local header is only
    // located, and tested when its bytes are needed.
    ZPOldArchiveEntry(std::shared_ptr<const ZPContents> contents, ZPCentralFileHeader centralFileHeader,
                      ZPStringEncoding encoding);

    bool compressed() const override;
    bool encrypted() const override;
    QDateTime lastModified() const override;
    std::uint64_t crc32() const override;
    std::uint64_t compressedSize() const override;
    std::uint64_t uncompressedSize() const override;
    std::uint16_t fileMode() const override;
    std::optional<QString> fileName() const override;
    // The local header against the central one (code 3).
    bool check(Error* error = nullptr) const override;

    // Decrypted, inflated, and checked against the declared size, the CRC-32
    // and the AES authentication code (code 11); a wrong password gives code 12,
    // from a stream as -1 with status Failed.
    std::unique_ptr<InputStream> newStream(const QString& password = {}, Error* error = nullptr) const override;
    std::optional<QByteArray> newData(const QString& password = {}, Error* error = nullptr) const override;
    // A stored entry without encryption gives a provider over a copy of its data.
    std::unique_ptr<SequentialDataProvider> newDataProvider(const QString& password = {},
                                                            Error* error = nullptr) const override;

    // The real method: for WinZip AES the one in its extra field.
    std::uint16_t compressionMethod() const;
    EncryptionMode encryptionMode() const { return m_encryptionMode; }
    // Stored or deflated, not strongly encrypted (codes 9 and 10).
    bool checkEncryptionAndCompression(Error* error = nullptr) const;
    // The file data without encryption header, salt, verifier or authentication
    // code; code 3 when the local header or the data lie outside the archive or
    // the data is shorter than what encryption puts around it.
    std::optional<ZPByteView> fileData(Error* error = nullptr) const;

    const ZPCentralFileHeader& centralFileHeader() const { return m_central; }
    // The whole local record: header, name, extra field, data and the data
    // descriptor (with or without its signature, with 4- or 8-byte sizes);
    // nothing when it does not lie inside the archive.
    std::optional<std::span<const std::byte>> localRecord() const;
    // A writer copying this entry's bytes unchanged.
    std::unique_ptr<ZPArchiveEntryWriter> newWriter(bool canSkipLocalFile) const override;

private:
    // The file data and what encryption puts before and after it.
    struct Framing {
        std::span<const std::byte> header; // traditional header, or AES salt and verifier
        std::span<const std::byte> data;
        std::span<const std::byte> trailer; // AES authentication code
        std::optional<ZPWinZipAESExtraField> localAES;
    };
    std::optional<Framing> framing(Error* error) const;
    // The unopened stack over the data: decryption, inflation, verification.
    std::unique_ptr<InputStream> streamForData(const Framing& framing, const QString& password, Error* error) const;

    std::optional<ZPLocalFileHeader> localFileHeader(Error* error) const;
    std::optional<QString> stringWithBytes(std::span<const std::byte> bytes) const;

    std::shared_ptr<const ZPContents> m_contents;
    ZPCentralFileHeader m_central;
    ZPStringEncoding m_encoding;
    std::optional<ZPWinZipAESExtraField> m_aesField;
    EncryptionMode m_encryptionMode = None;
};
