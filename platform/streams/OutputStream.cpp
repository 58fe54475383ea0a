#include "OutputStream.h"

void OutputStream::open()
{
    if (m_status != Failed)
        m_status = Open;
}

void OutputStream::close()
{
    if (m_status != Failed)
        m_status = Closed;
}

std::int64_t OutputStream::write(std::span<const std::byte> bytes)
{
    if (m_status != Open)
        return -1;
    return writeBytes(bytes);
}

std::int64_t OutputStream::fail(const Error& error)
{
    m_status = Failed;
    m_error = error;
    return -1;
}
