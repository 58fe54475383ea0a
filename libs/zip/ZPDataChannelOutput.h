#pragma once

#include "ZPChannelOutput.h"

#include <QByteArray>

#include <memory>

// Writes into a byte array shared with its channel; a write past the end grows
// the array with zero bytes.
class ZPDataChannelOutput : public ZPChannelOutput {
public:
    explicit ZPDataChannelOutput(std::shared_ptr<QByteArray> data) : m_data(std::move(data)) {}

    std::uint32_t offset() override { return m_offset; }
    bool seekToOffset(std::uint32_t offset, Error* error = nullptr) override;
    bool writeData(std::span<const std::byte> data, Error* error = nullptr) override;
    bool truncateAtOffset(std::uint32_t length, Error* error = nullptr) override;
    bool close(Error* error = nullptr) override;

private:
    void resize(qsizetype length);

    std::shared_ptr<QByteArray> m_data;
    std::uint32_t m_offset = 0;
};
