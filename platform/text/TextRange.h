#pragma once

#include <QString>
#include <QtGlobal>

// A span of UTF-16 units: where it starts and how many units it covers.
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;

    qsizetype end() const { return location + length; }
    bool contains(qsizetype index) const { return index >= location && index < end(); }
    bool operator==(const TextRange&) const = default;
};

// The smallest range of whole paragraphs that covers the range, each with its
// terminator (LF, CR, CR LF or U+2029). The range is clipped to the text.
TextRange paragraphRangeForRange(const QString& text, TextRange range);
