#include "VGLogIO.h"

#include <cerrno>

#include <unistd.h>

bool VGLogIO::writeAll(int fd, iovec* pieces, int count)
{
    while (count > 0 && pieces->iov_len == 0) {
        ++pieces;
        --count;
    }
    while (count > 0) {
        const ssize_t written = ::writev(fd, pieces, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto left = static_cast<size_t>(written);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
        while (count > 0 && pieces->iov_len == 0) {
            ++pieces;
            --count;
        }
    }
    return true;
}

bool VGLogIO::writeAll(int fd, const char* data, size_t size)
{
    iovec piece {const_cast<char*>(data), size};
    return writeAll(fd, &piece, 1);
}
