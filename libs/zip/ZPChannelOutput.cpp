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
