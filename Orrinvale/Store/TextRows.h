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
