#include "ZPDataChannelOutput.h"

bool ZPDataChannelOutput::seekToOffset(std::uint32_t offset, Error*)
{
    m_offset = offset;
    return true;
}

void ZPDataChannelOutput::resize(qsizetype length)
{
    if (length > m_data->size())
        m_data->append(QByteArray(length - m_data->size(), '\0'));
    else
        m_data->truncate(length);
}

bool ZPDataChannelOutput::writeData(std::span<const std::byte> data, Error* error)
{
    if (!fitsBelowLimit(m_offset, data.size(), error))
        return false;
    const auto length = static_cast<qsizetype>(data.size());
    const char* bytes = reinterpret_cast<const char*>(data.data());
    if (m_offset == m_data->size()) {
        m_data->append(bytes, length);
    } else {
        resize(std::max<qsizetype>(m_data->size(), qsizetype(m_offset) + length));
        m_data->replace(m_offset, length, bytes, length);
    }
    m_offset += static_cast<std::uint32_t>(length);
    return true;
}

bool ZPDataChannelOutput::truncateAtOffset(std::uint32_t length, Error*)
{
    resize(length);
    return true;
}

bool ZPDataChannelOutput::close(Error*)
{
    return true;
}
