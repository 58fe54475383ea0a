#pragma once

#include <QHashFunctions>

// How the lines of a paragraph are placed: indents in points, the line-height
// limits in points (0: no limit) and the factor applied to the natural height.
struct ParagraphStyle {
    double firstLineHeadIndent = 0;
    double headIndent = 0;
    double minimumLineHeight = 0;
    double maximumLineHeight = 0;
    double lineHeightMultiple = 0; // 0: the natural height

    bool operator==(const ParagraphStyle&) const = default;
};

inline size_t qHash(const ParagraphStyle& style, size_t seed = 0)
{
    return qHashMulti(seed, style.firstLineHeadIndent, style.headIndent, style.minimumLineHeight,
                      style.maximumLineHeight, style.lineHeightMultiple);
}
