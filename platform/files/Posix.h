#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

// Small pieces shared by the file services.

// The error of a failed system call, in the platform's POSIX error domain:
// the errno value as code, "<what> <path>: <system text>" as description.
inline const char* const PosixErrorDomain = "NSPOSIXErrorDomain";

Error posixError(int code, const QString& what, const QString& path);

// Writes all of data to the descriptor, across short writes and interrupts;
// false with errno set on failure.
bool writeAll(int fd, const QByteArray& data);
