#pragma once

#include <cstdint>

// How a suggested word is fitted to the text around it; flags to combine.
enum TypewriterSuggestOption : int64_t {
    TypewriterSuggestBareSymbol = 2,   // "- " or "* " just before the word goes back to a bare "-" or "*"
    TypewriterSuggestUnbracket = 4,    // a pair of brackets right around the word goes
    TypewriterSuggestSingleBlank = 8,  // two blanks meeting where the word joins the text become one
    TypewriterSuggestMatchStart = 16,  // the part of the word already typed before it is taken over, not repeated
};
