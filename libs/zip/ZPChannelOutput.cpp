#include "ZPChannelOutput.h"

#include "files/Posix.h"

#include <cerrno>

bool ZPChannelOutput::fitsBelowLimit(std::uint64_t position, std::size_t length, Error* error)
{
    if (position + length <= sizeLimit)
        return true;
    setError(error, posixError(EFBIG, QStringLiteral("write archive past 4 GiB at"), QString::number(position)));
    return false;
}

bool ZPChannelOutput::reserve(std::uint32_t, Error*)
{
    return true;
}

std::optional<std::uint32_t> ZPChannelOutput::landingOffset(std::uint32_t initialSkip, Error* error)
{
    const std::uint64_t position = std::uint64_t(offset()) + initialSkip;
    if (!fitsBelowLimit(position, 0, error))
        return std::nullopt;
    return std::uint32_t(position);
}
