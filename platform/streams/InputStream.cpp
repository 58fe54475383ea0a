#include "InputStream.h"

void InputStream::open()
{
    if (m_status != Failed)
        m_status = Open;
}

void InputStream::close()
{
    if (m_status != Failed)
        m_status = Closed;
}

std::int64_t InputStream::read(std::span<std::byte> buffer)
{
    if (m_status == AtEnd)
        return 0;
    if (m_status != Open)
        return -1;
    return buffer.empty() ? 0 : readBytes(buffer);
}

std::int64_t InputStream::finish()
{
    m_status = AtEnd;
    return 0;
}

std::int64_t InputStream::fail(const Error& error)
{
    m_status = Failed;
    m_error = error;
    return -1;
}
