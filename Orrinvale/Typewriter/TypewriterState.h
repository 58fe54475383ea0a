#pragma once

#include <cstdint>

// What the last keystroke left for the next one to act on.
enum TypewriterState : int64_t {
    TypewriterStateIdle = 0,
    TypewriterStateListPrefix = 1,   // Return inserted a list prefix, or "]" typed " ] "
    TypewriterStateQuotePrefix = 2,  // Return inserted quote markers
    TypewriterStateAsteriskWrap = 3, // a selection was just wrapped in "*"
    TypewriterStateOpenBracket = 4,  // "[" was just typed
};
