#pragma once

#include <QString>

// A fuzzy match of the tag and storage searches, before it becomes a list row.
struct MatchEntry {
    QString key;
    double score = 0;
    int storage = 0;
};
