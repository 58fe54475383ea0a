#include "ZPFileChannelOutput.h"

#include "files/Posix.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

ZPFileChannelOutput::ZPFileChannelOutput(int fileDescriptor, QString path)
    : m_fileDescriptor(fileDescriptor), m_path(std::move(path))
{
    m_buffer.reserve(bufferSize);
}

ZPFileChannelOutput::~ZPFileChannelOutput()
{
    close();
}

bool ZPFileChannelOutput::fail(const QString& what, Error* error)
{
    setError(error, posixError(errno, what, m_path));
    return false;
}

bool ZPFileChannelOutput::flush(Error* error)
{
    if (!m_buffer.isEmpty() && !m_failure) {
        if (!writeAll(m_fileDescriptor, m_buffer))
            m_failure = posixError(errno, QStringLiteral("write"), m_path);
        m_buffer.clear();
    }
    if (m_failure)
        setError(error, *m_failure);
    return !m_failure;
}

std::uint32_t ZPFileChannelOutput::offset()
{
    flush(nullptr);
    return static_cast<std::uint32_t>(m_position);
}

bool ZPFileChannelOutput::seekToOffset(std::uint32_t offset, Error* error)
{
    if (!flush(error))
        return false;
    if (::lseek(m_fileDescriptor, offset, SEEK_SET) < 0)
        return fail(QStringLiteral("seek in"), error);
    m_position = offset;
    return true;
}

bool ZPFileChannelOutput::writeData(std::span<const std::byte> data, Error* error)
{
    if (!fitsBelowLimit(m_position, data.size(), error))
        return false;
    if (m_failure)
        return flush(error);
    const char* bytes = reinterpret_cast<const char*>(data.data());
    const auto length = static_cast<qsizetype>(data.size());
    if (m_buffer.size() + length > bufferSize && !flush(error))
        return false;
    if (length >= bufferSize) {
        if (!writeAll(m_fileDescriptor, QByteArray::fromRawData(bytes, length)))
            return fail(QStringLiteral("write"), error);
    } else {
        m_buffer.append(bytes, length);
    }
    m_position += data.size();
    return true;
}

bool ZPFileChannelOutput::truncateAtOffset(std::uint32_t length, Error* error)
{
    if (!flush(error))
        return false;
    if (::ftruncate(m_fileDescriptor, length) != 0)
        return fail(QStringLiteral("truncate"), error);
    return true;
}

bool ZPFileChannelOutput::close(Error* error)
{
    if (m_fileDescriptor < 0)
        return true;
    const bool flushed = flush(error);
    ::close(m_fileDescriptor);
    m_fileDescriptor = -1;
    return flushed;
}

bool ZPFileChannelOutput::reserve(std::uint32_t length, Error* error)
{
    if (!flush(error))
        return false;
    if (length == 0)
        return true;
    errno = ::posix_fallocate(m_fileDescriptor, 0, off_t(length));
    return errno == 0 || fail(QStringLiteral("allocate space for"), error);
}
