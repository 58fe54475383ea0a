#pragma once

#include "VGLog.h"

// The one logging call of the application. The text is a "component:event"
// line; %1, %2 … are replaced by the arguments in a single pass:
//
//     LogInfo("note:open %1 failed.", key);      // flag 4, returns at once
//     LogError("core:open db");                  // flag 1, returns once every logger wrote it
//
// Both log with level 31, context 0 and no tag, and take file, function and line
// from the call site. Arguments may be QString, C or std strings, QByteArray (UTF-8),
// numbers (bool as 1 or 0) or QChar. The format must be a string literal.
#define LogInfo(format, ...)                                                                        \
    VGLog::log(true, LogLevelAll, LogFlagInfo, 0, __FILE__, __func__, __LINE__, QVariant(),         \
               QStringLiteral(format) __VA_OPT__(, ) __VA_ARGS__)

#define LogError(format, ...)                                                                       \
    VGLog::log(false, LogLevelAll, LogFlagError, 0, __FILE__, __func__, __LINE__, QVariant(),       \
               QStringLiteral(format) __VA_OPT__(, ) __VA_ARGS__)
