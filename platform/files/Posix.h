#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Small pieces shared by the file services.

// The error of a failed system call, in the platform's POSIX error domain:
// the errno value as code, "<what> <path>: <system text>" as description.
inline const char* const PosixErrorDomain = "NSPOSIXErrorDomain";

Error posixError(int code, const QString& what, const QString& path);

// Writes all of data to the descriptor, across short writes and interrupts;
// false with errno set on failure.
bool writeAll(int fd, const QByteArray& data);

// Makes something under a fresh hidden name, ".save-<16 hex>.tmp": short, so
// it fits beside any name, and drawn again whenever make answers -1 with
// EEXIST, so it never takes or removes an entry that is there. make's last
// answer; *name holds the name it was given, or is empty when nothing was made.
int underFreshName(const std::function<int(const QByteArray& name)>& make, QByteArray* name);
