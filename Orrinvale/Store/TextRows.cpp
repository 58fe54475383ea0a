#include "TextRows.h"

#include "SLDatabase.h"

std::optional<std::vector<TextRow>> readTextRows(SLDatabase& db, const QString& sql, const QVariantList& arguments,
                                                 int limit, int columns)
{
    std::vector<TextRow> read;
    Error error;
    SLResultSet rows = db.executeQueryWithArgumentsInArray(sql, arguments);
    while (int(read.size()) < limit && rows.nextWithError(&error)) {
        TextRow row;
        for (int c = 0; c < columns; ++c)
            row.columns[size_t(c)] = rows.stringForColumnIndex(c);
        read.push_back(std::move(row));
    }
    rows.close();
    if (!error.isNull())
        return std::nullopt;
    return read;
}
