#pragma once

#include "Predicate.h"

#include <QStringList>

#include <optional>

// The records of one type that a predicate takes, in the order of their
// modification dates, then zone and name.
struct Query {
    QString recordType;
    Predicate predicate;
};

// Where a query that stopped at its limit goes on: after the last record it gave.
struct QueryCursor {
    Query query;
    int64_t modifiedMSecs = 0;
    RecordID after;
};

// The fields a query fills in; nothing means all of them.
using DesiredKeys = std::optional<QStringList>;
