#pragma once

#include "ZPChannelOutput.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Writes to an open file descriptor through a 256 KiB buffer, flushed before
// every seek, truncation, offset query and on close.
class ZPFileChannelOutput : public ZPChannelOutput {
public:
    static constexpr qsizetype bufferSize = 256 * 1024;

    // Owns the descriptor; the path only names it in errors.
    ZPFileChannelOutput(int fileDescriptor, QString path);
    ~ZPFileChannelOutput() override;

    // A failure of the flush it makes is reported by the next write or close.
    std::uint32_t offset() override;
    bool seekToOffset(std::uint32_t offset, Error* error = nullptr) override;
    bool writeData(std::span<const std::byte> data, Error* error = nullptr) override;
    bool truncateAtOffset(std::uint32_t length, Error* error = nullptr) override;
    bool close(Error* error = nullptr) override;
    // Allocates the file's blocks up to the length; a shorter file grows.
    bool reserve(std::uint32_t length, Error* error = nullptr) override;

private:
    bool flush(Error* error);
    bool fail(const QString& what, Error* error);

    int m_fileDescriptor = -1;
    QString m_path;
    QByteArray m_buffer;
    std::uint64_t m_position = 0;
    std::optional<Error> m_failure;
};
