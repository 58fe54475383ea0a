#pragma once

#include <QString>

#include <optional>

// Option bits of the fuzzy score. The plain value 1 (the default) selects neither.
enum ScoreOption : int {
    ScoreOptionDivideByStringLength = 2, // summed character score over the text's length; bit 4 is then ignored
    ScoreOptionIntegerLengthRatio = 4,   // truncated integer length ratio in the default formula
};

// How well a short typed abbreviation matches a longer text, as a double: 10.0 when the two are equal,
// 0.0 when the abbreviation is empty or (without fuzziness) one of its characters cannot be found in
// order. Lengths and positions are UTF-16 units; each unit of the abbreviation, in either case, must
// be found after the previous hit, and earns more in the same case, at the start of the remaining
// text or just after a space. A surrogate pair of the abbreviation is found only as a whole.
namespace Score {

double scoreAgainst(const QString& text, const QString& abbreviation,
                    std::optional<float> fuzziness = std::nullopt, int options = 1);

} // namespace Score
