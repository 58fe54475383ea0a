#pragma once

#include "TextRows.h"

#include <QVariantList>

#include <functional>
#include <optional>
#include <vector>

class SLDatabase;

// The content scan reads every note's text, a row at a time: at tens of
// thousands of notes that alone takes longer than a keystroke may. Two cores
// halve it: the lower half of the table is read on the connection, the upper
// half at the same time on a second, read-only connection to the same file,
// on a thread of its own.
class SplitScan {
public:
    // Up to limit rows (key, folder) of "SELECT c0key, c3folder FROM
    // notes_content WHERE " + condition, in table order; null when the table
    // cannot be split (a database in memory, an open transaction, a small
    // table) or a statement failed, and the caller scans it whole.
    static std::optional<std::vector<TextRow>> rows(SLDatabase& db, const QString& condition,
                                                    const QVariantList& arguments, int limit,
                                                    const std::function<bool()>& cancelled);
};
