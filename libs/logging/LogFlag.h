#pragma once

#include <cstdint>

// A flag has one bit set; a level is a mask of flags. A message reaches a logger
// when (message flag & logger level) != 0.
enum LogFlag : int32_t {
    LogFlagError = 1,
    LogFlagWarning = 2,
    LogFlagInfo = 4,
    LogFlagDebug = 8,
    LogFlagVerbose = 16,
};

// The five flags together: the level every application message carries.
constexpr int32_t LogLevelAll = 31;
// The level of a logger added without one: every bit.
constexpr int32_t LogLevelEverything = -1;
