#pragma once

#include <QString>
#include <QVariantList>

#include <array>
#include <optional>
#include <vector>

class SLDatabase;

// A row read once and handed out again, answering as a result set does.
struct TextRow {
    std::array<QString, 4> columns;
    const QString& stringForColumnIndex(int index) const { return columns[size_t(index)]; }
};

// Up to limit rows of the statement, the first columns of each; null when it
// failed or was interrupted.
std::optional<std::vector<TextRow>> readTextRows(SLDatabase& db, const QString& sql, const QVariantList& arguments,
                                                 int limit, int columns);

// The title passes for a prefix of one or two letters ("pl*", and the loose
// "*p*") without the index: the index answers a prefix by merging the lists of
// every word of every column that starts with it, tens of milliseconds for a
// common letter in a large store. Walking the titles in table order with the
// table's own tokenizer finds a common prefix's first rows in the first few
// hundred notes; for the title pass they are checked and given their snippets
// by the same query on a small table of their own. A prefix too rare to fill
// the list early in a bounded walk is left to the index from where it stopped,
// and so is a table small enough for the index to merge quickly.
class TitleScan {
public:
    // Up to wanted rows of "key, title, folder[, title snippet] FROM notes
    // WHERE title MATCH expression" in the table's order, as the index gives
    // them; null when the expression is not such a prefix with its star, the
    // table is small or the walk cannot run, and the caller asks the index.
    static std::optional<std::vector<TextRow>> rows(SLDatabase& db, const QString& expression, int wanted,
                                                    bool withSnippet);
};
