#pragma once

#include <sys/uio.h>

// Writes every byte of the pieces in one gathered write where the descriptor
// takes them, going on after short writes and interruptions. False on an error.
namespace VGLogIO {
bool writeAll(int fd, iovec* pieces, int count);
bool writeAll(int fd, const char* data, size_t size);
} // namespace VGLogIO
