#pragma once

#include "ZPArchiveEntryWriter.h"
#include "ZPContents.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <span>

// Copies an entry of a loaded archive unchanged: its local record as raw bytes,
// its central record with only the local header offset renewed. A skipped
// local record stays where it is in the old archive.
class ZPOldArchiveEntryWriter : public ZPArchiveEntryWriter {
public:
    // The local record is missing when it does not lie inside the archive.
    ZPOldArchiveEntryWriter(std::shared_ptr<const ZPContents> contents, std::span<const std::byte> centralRecord,
                            std::optional<std::span<const std::byte>> localRecord, std::uint32_t localHeaderOffset,
                            bool skipLocalFile);

    std::uint32_t offsetToLocalFileEnd() const override;
    // Code 3 when the local record is missing.
    bool writeLocalFile(ZPChannelOutput& output, std::uint32_t initialSkip, Error* error = nullptr) override;
    bool writeCentralFileHeader(ZPChannelOutput& output, Error* error = nullptr) override;

private:
    std::shared_ptr<const ZPContents> m_contents;
    QByteArray m_centralFileHeader;
    std::optional<std::span<const std::byte>> m_localFile;
    std::uint32_t m_localHeaderOffset = 0;
    bool m_skipLocalFile = false;
};
