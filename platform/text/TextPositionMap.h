#pragma once

#include "text/TextRange.h"

#include <QList>
#include <QString>

// Where the positions of a text stand once another text has replaced it. The two are compared line by
// line (the fewest lines removed and added, within a bound on the work; past it the span from the first
// to the last differing unit is one change), and each changed run of lines down to the units that
// differ. A position in unchanged text stays with that text; one inside a change keeps its distance
// from the change's start, within the change's new text.
class TextPositionMap {
public:
    TextPositionMap(const QString& before, const QString& after);

    qsizetype map(qsizetype position) const;
    TextRange map(TextRange range) const;
    // The span of the old text that holds every change, and the same span in the new one; empty at 0
    // when the texts are equal.
    TextRange changedBefore() const;
    TextRange changedAfter() const;

private:
    struct Change {
        TextRange before;
        TextRange after;
    };
    // Adds the spans less what they have in common at either end; nothing when that is all of them.
    void addChange(const QString& before, const QString& after, TextRange inBefore, TextRange inAfter);
    bool addLineChanges(const QString& before, const QString& after, TextRange inBefore, TextRange inAfter);

    QList<Change> changes_;
};
