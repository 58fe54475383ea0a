#pragma once

#include "text/TextRange.h"

#include <QString>

#include <vector>

// The edits of one grouped command, held until the command ends and then made as one replacement.
// Edits join only from the end of the text towards its start, each wholly before those held, so the
// text before the lowest held edit reads the same with or without them.
class EditBatch {
public:
    bool isEmpty() const { return edits_.empty(); }
    // Where the held edits begin; the text's end when none is held.
    qsizetype lowest(qsizetype textLength) const { return edits_.empty() ? textLength : edits_.back().range.location; }
    void add(TextRange range, const QString& text)
    {
        Q_ASSERT(edits_.empty() || range.end() <= edits_.back().range.location);
        edits_.push_back({range, text});
    }
    void clear() { edits_.clear(); }

    // The stretch of the unedited text that the edits touch, and what it reads once they are made,
    // given what it reads now.
    TextRange span() const;
    QString replacement(const QString& spanText) const;

private:
    struct Edit {
        TextRange range;
        QString text;
    };
    std::vector<Edit> edits_;  // last in the text first
};
